#include "walk.h"

#include <string.h>
#include <wchar.h>
#include <winternl.h>

#include "../common/common.h"
#include "../deletion/deletion.h"

// Every level of a tree adds at least a name and a backslash to the longest path.
const int kMaxDepth = kPathSize / 2;

// A folder is listed a chunk at a time into one buffer shared by every level of the walk. A
// level keeps the subfolders of its chunk that it has still to enter at the chunk's start, and
// the level below lists after them. When what is left could not take a full chunk and still
// leave a small one for the levels below, a level lists one entry at a time, which keeps
// nothing.
const ULONG kListingChunk = 16384;
// Holds one entry of the longest name (255 characters).
const ULONG kSingleEntryChunk = 1024;
const ULONG kListingSize = 8 * kListingChunk;

typedef NTSTATUS(WINAPI* QueryDirectoryCall)(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK, PVOID,
                                             ULONG, FILE_INFORMATION_CLASS, BOOLEAN,
                                             PUNICODE_STRING, BOOLEAN);
typedef BOOL(WINAPI* SetMitigationPolicyCall)(PROCESS_MITIGATION_POLICY, PVOID, SIZE_T);

// A subfolder still to enter, kept in its level's chunk over the entries already handled.
struct Pending {
    LONGLONG id;
    Pending* previous;
    DWORD nameBytes;
    WCHAR name[1];
};

// A folder being emptied: held open from before its listing until its own removal.
struct Level {
    HANDLE folder;
    // gPath's length for this folder, its trailing backslash included.
    int pathLength;
    // Where its listing calls write; the subfolders still to enter lie at its start.
    BYTE* chunk;
    Pending* pending;
    // The folder's identity on its volume, to know it again when it is opened anew.
    LONGLONG id;
    // Opened with delete access: false when another handle denies it.
    bool removable;
    // Something in it stays for good (a link, an entry that cannot be deleted), so that it will
    // never be empty: waiting for it to empty would be in vain.
    bool keepsEntries;
    // Listed again from its start on the next listing call: it was not yet empty.
    bool revisit;
    // The wait before it is listed again, growing with every visit.
    DWORD revisitWait;
};

void (*gBeforeEnteringFolder)(const wchar_t* folder) = NULL;

static WCHAR gPath[kPathSize];
// The root in the system's own form (\??\C:\a\), by which it is opened: no held folder holds it.
static WCHAR gRootName[kPathSize];
static int gRootLength;
static BYTE gListing[kListingSize] __attribute__((aligned(8)));
// A root path has at least 7 characters (\\?\C:\), so a path within kPathSize
// never needs all of these levels.
static Level gLevels[kMaxDepth];
// How many of gLevels hold an open folder: every one of them is still open when an exception
// abandons the walk.
static int gDepth;
// Whether the root's removal was reported done.
static bool gRootRemoved;

// The file system's own listing through an open handle, one entry at a time when asked. Every
// system that has the wide calls has it.
static QueryDirectoryCall gQueryDirectory;

void EnforceRedirectionTrust() {
    SetMitigationPolicyCall setPolicy = reinterpret_cast<SetMitigationPolicyCall>(
        SystemProcedure(L"kernel32.dll", "SetProcessMitigationPolicy"));
    if (setPolicy != NULL) {
        PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY policy;
        policy.Flags = 0;
        policy.EnforceRedirectionTrust = 1;
        setPolicy(ProcessRedirectionTrustPolicy, &policy, sizeof(policy));
    }
}

// Writes name after the first pathLength characters of gPath, with a backslash for a folder;
// false, with nothing written, when the path would pass the file system's limit.
static bool AppendName(int pathLength, const WCHAR* name, int nameLength, bool folder) {
    int length = pathLength + nameLength + (folder ? 1 : 0);
    if (length >= kPathSize) {
        Trace("Entry skipped: its path is too long\r\n");
        return false;
    }
    memcpy(gPath + pathLength, name, nameLength * sizeof(WCHAR));
    if (folder) {
        gPath[length - 1] = L'\\';
    }
    gPath[length] = L'\0';
    return true;
}

// The root as it is opened: by its full path, since no held folder holds it.
static EntryName RootEntry() {
    EntryName root;
    root.folder = NULL;
    root.name = gRootName;
    root.nameLength = gRootLength;
    root.path = gPath;
    return root;
}

// The entry whose name, nameLength characters, follows parent's path in gPath.
static EntryName EntryIn(const Level& parent, int nameLength) {
    EntryName entry;
    entry.folder = parent.folder;
    entry.name = gPath + parent.pathLength;
    entry.nameLength = nameLength;
    entry.path = gPath;
    return entry;
}

// The folder of the level at depth, as the level above names it.
static EntryName LevelEntry(int depth) {
    if (depth == 0) {
        return RootEntry();
    }
    const Level& parent = gLevels[depth - 1];
    return EntryIn(parent, gLevels[depth].pathLength - parent.pathLength - 1);
}

// Checks the open folder and makes it the level at gDepth. It is entered only when its handle
// shows a plain folder, the very folder the listing showed. False, with the folder closed, when
// it stays and is not entered.
static bool Push(HANDLE folder, bool removable, int pathLength, BYTE* chunk, LONGLONG listedId) {
    DWORD attributes;
    LONGLONG id;
    if (!ReadEntry(folder, &attributes, &id) || (listedId != 0 && id != listedId) ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) !=
            FILE_ATTRIBUTE_DIRECTORY) {
        CloseHandle(folder);
        Trace("Folder not entered: it is a link or not the folder listed\r\n");
        return false;
    }
    Level& level = gLevels[gDepth];
    level.folder = folder;
    level.pathLength = pathLength;
    level.chunk = chunk;
    level.pending = NULL;
    level.id = id;
    level.removable = removable;
    level.keepsEntries = false;
    level.revisit = false;
    level.revisitWait = kFirstRetryWait;
    ++gDepth;
    // Cleared before its entries go: where the bit is a Unix write permission, it keeps them too.
    ClearReadOnlyOf(folder, attributes);
    return true;
}

// Opens and checks the folder entry names, and makes it the level at gDepth. False when it stays
// and is not entered; a folder already deleted, which goes once others close it, is neither.
static bool Enter(const EntryName& entry, int pathLength, BYTE* chunk, LONGLONG listedId) {
    bool removable;
    HANDLE folder = OpenFolderToEmpty(entry, &removable);
    if (folder == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (IsDeletePending()) {
            return true;
        }
        TraceSystemError(error);
        return false;
    }
    return Push(folder, removable, pathLength, chunk, listedId);
}

// Deletes the emptied folder of the deepest level and leaves it. Entries deleted while others
// held them may still be listed until those handles close, and a folder that held them may not
// have gone: while nothing in it stays for good, the folder is listed again after a wait, and
// what is still there is taken again.
static void Leave() {
    Level& level = gLevels[gDepth - 1];
    gPath[level.pathLength] = L'\0';
    NTSTATUS status =
        DeleteEmptiedFolder(&level.folder, &level.removable, LevelEntry(gDepth - 1), level.id);
    if (IsNotYetEmpty(status) && !level.keepsEntries && WaitToRetry(&level.revisitWait)) {
        level.revisit = true;
        return;
    }
    CloseHandle(level.folder);
    --gDepth;
    TraceFailure(status);
    bool removed = NT_SUCCESS(status);
    if (gDepth == 0) {
        gRootRemoved = removed;
    } else if (!removed) {
        gLevels[gDepth - 1].keepsEntries = true;
    }
}

// Lists the level's next entries into its chunk; the number of bytes, 0 when there are none.
static ULONG ListNext(Level& level) {
    bool single = level.chunk + kListingChunk + kSingleEntryChunk > gListing + kListingSize;
    IO_STATUS_BLOCK io;
    NTSTATUS status = gQueryDirectory(level.folder, NULL, NULL, NULL, &io, level.chunk,
                                      single ? kSingleEntryChunk : kListingChunk,
                                      FileIdBothDirectoryInformation, single, NULL, level.revisit);
    level.revisit = false;
    return NT_SUCCESS(status) ? static_cast<ULONG>(io.Information) : 0;
}

static bool IsDotEntry(const WCHAR* name, int length) {
    return name[0] == L'.' && (length == 1 || (length == 2 && name[1] == L'.'));
}

static BYTE* Aligned(BYTE* place) {
    return reinterpret_cast<BYTE*>((reinterpret_cast<UINT_PTR>(place) + 7) & ~UINT_PTR(7));
}

// Keeps a subfolder to enter at place, on the level's entries already handled: the record is
// smaller than the entry it comes from, and the entries are aligned as it must be.
static Pending* KeepSubfolder(BYTE* place, Pending* previous, const FILE_ID_BOTH_DIR_INFO* info) {
    LONGLONG id = info->FileId.QuadPart;
    DWORD nameBytes = info->FileNameLength;
    Pending* pending = reinterpret_cast<Pending*>(place);
    memmove(pending->name, info->FileName, nameBytes);
    pending->id = id;
    pending->previous = previous;
    pending->nameBytes = nameBytes;
    return pending;
}

// Deletes a file or link of the level's listing, with its attributes as LinkAttributes gives
// them; false when it stays.
static bool DeleteEntry(const Level& level, const FILE_ID_BOTH_DIR_INFO* info, DWORD attributes) {
    int nameLength = static_cast<int>(info->FileNameLength / sizeof(WCHAR));
    return AppendName(level.pathLength, info->FileName, nameLength, false) &&
           DeleteFileOrLink(EntryIn(level, nameLength), info->FileId.QuadPart, attributes);
}

// Removes the files and links of the level's chunk and keeps its subfolders, for the walk to
// enter once the chunk is done. ".." is never touched; the folder's own read-only bit, which
// "." shows, was cleared through its handle.
static void SortChunk(Level& level) {
    BYTE* place = level.chunk;
    for (BYTE* entry = level.chunk;;) {
        const FILE_ID_BOTH_DIR_INFO* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(entry);
        DWORD next = info->NextEntryOffset;
        // A reparse point's listing gives its tag in place of the size of extended attributes.
        DWORD attributes = LinkAttributes(info->FileAttributes, info->EaSize);
        bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if (IsDotEntry(info->FileName, static_cast<int>(info->FileNameLength / sizeof(WCHAR)))) {
            // Neither the folder itself nor the one above it.
        } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !link) {
            level.pending = KeepSubfolder(place, level.pending, info);
            place =
                Aligned(reinterpret_cast<BYTE*>(level.pending->name) + level.pending->nameBytes);
        } else if (!DeleteEntry(level, info, attributes)) {
            level.keepsEntries = true;
        }
        if (next == 0) {
            return;
        }
        entry += next;
    }
}

// Enters the level's last kept subfolder; its record's place starts the next level's chunk.
static void EnterPending(Level& level) {
    Pending* pending = level.pending;
    level.pending = pending->previous;
    int nameLength = static_cast<int>(pending->nameBytes / sizeof(WCHAR));
    bool entered = false;
    if (AppendName(level.pathLength, pending->name, nameLength, true)) {
        if (gBeforeEnteringFolder != NULL) {
            gBeforeEnteringFolder(gPath);
        }
        int pathLength = level.pathLength + nameLength + 1;
        entered = Enter(EntryIn(level, nameLength), pathLength, reinterpret_cast<BYTE*>(pending),
                        pending->id);
    }
    if (!entered) {
        level.keepsEntries = true;
    }
}

// Also closes a walk that an exception abandoned: it leaves its folders open, held against
// deletion, and the next walk could not even open the root.
void LetGoOfTree() {
    while (gDepth > 0) {
        CloseHandle(gLevels[--gDepth].folder);
    }
}

// Takes folder (literal form) as the root's path, and the same in the system's own form as its
// name; false when it is too long.
static bool NameRoot(const wchar_t* folder) {
    int length = static_cast<int>(wcslen(folder));
    if (length >= kPathSize) {
        return false;
    }
    memcpy(gPath, folder, (length + 1) * sizeof(WCHAR));
    memcpy(gRootName, folder, (length + 1) * sizeof(WCHAR));
    // The literal prefix \\?\ is \??\ in the system's own form.
    gRootName[1] = L'?';
    gRootLength = length;
    return true;
}

// Opens the root by its name as the level at depth 0, not yet checked; false, traced, when it
// cannot be had.
static bool HoldRoot() {
    Level& root = gLevels[0];
    root.folder = OpenFolderToEmpty(RootEntry(), &root.removable);
    if (root.folder == INVALID_HANDLE_VALUE) {
        TraceSystemError(GetLastError());
        return false;
    }
    gDepth = 1;
    return true;
}

HANDLE HoldTree(const wchar_t* folder) {
    LetGoOfTree();
    gQueryDirectory =
        reinterpret_cast<QueryDirectoryCall>(SystemProcedure(L"ntdll.dll", "NtQueryDirectoryFile"));
    if (!BeginRemoval() || gQueryDirectory == NULL || !NameRoot(folder)) {
        Trace("Folder not removed: it cannot be opened for the walk\r\n");
        return INVALID_HANDLE_VALUE;
    }
    return HoldRoot() ? gLevels[0].folder : INVALID_HANDLE_VALUE;
}

// Enters the held root when it is the folder that checked identifies.
static void EnterRoot(const FileIdentity& checked) {
    Level& root = gLevels[0];
    gDepth = 0;
    FileIdentity held;
    if (!IdentityOf(root.folder, &held) || !IsSameFile(held, checked)) {
        CloseHandle(root.folder);
        Trace("Folder not removed: it is not the folder checked\r\n");
        return;
    }
    Push(root.folder, root.removable, gRootLength, gListing, 0);
}

static void Walk(const FileIdentity& checked) {
    gRootRemoved = false;
    EnterRoot(checked);
    while (gDepth > 0) {
        Level& level = gLevels[gDepth - 1];
        if (level.pending != NULL) {
            EnterPending(level);
        } else if (ListNext(level) > 0) {
            SortChunk(level);
        } else {
            Leave();
        }
    }
}

// Some systems report a folder's removal done while an entry deleted in it still waits for its
// holder, and find out only when the folder's handle closes: a root still there is walked again
// after a wait, and traced once the budget is spent.
static bool WalkAgain(DWORD* wait) {
    gPath[gRootLength] = L'\0';
    if (!gRootRemoved || GetFileAttributesW(gPath) == INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    if (WaitToRetry(wait)) {
        return true;
    }
    TraceSystemError(ERROR_DIR_NOT_EMPTY);
    return false;
}

void DeleteTree(const wchar_t* folder, const FileIdentity& checked) {
    // Only a folder held since before it was checked is removed.
    if (gDepth != 1 || !NameRoot(folder)) {
        LetGoOfTree();
        return;
    }
    DWORD wait = kFirstRetryWait;
    do {
        Walk(checked);
    } while (WalkAgain(&wait) && HoldRoot());
}
