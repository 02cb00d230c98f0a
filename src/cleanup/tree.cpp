#include "cleanup.h"

#include <string.h>
#include <wchar.h>
#include <winternl.h>

#include "../common/common.h"

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
typedef NTSTATUS(WINAPI* FileInformationCall)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG,
                                              FILE_INFORMATION_CLASS);
typedef ULONG(WINAPI* StatusToErrorCall)(NTSTATUS);
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
    // Opened with delete access: false when another handle denies it.
    bool removable;
};

void (*gBeforeEnteringFolder)(const wchar_t* folder) = NULL;

static WCHAR gPath[kPathSize];
static BYTE gListing[kListingSize] __attribute__((aligned(8)));
// A root path has at least 7 characters (\\?\C:\), so a path within kPathSize
// never needs all of these levels.
static Level gLevels[kMaxDepth];

static QueryDirectoryCall gQueryDirectory;
static FileInformationCall gQueryInformation;
static FileInformationCall gSetInformation;
static StatusToErrorCall gErrorOf;

// The file system's own calls work on an open handle: listing through it, reading what it is
// and deleting it. Every system that has the wide calls has them.
static bool LoadHandleCalls() {
    static const char* const kNames[] = {"NtQueryDirectoryFile", "NtQueryInformationFile",
                                         "NtSetInformationFile", "RtlNtStatusToDosError"};
    static void** const kCalls[] = {
        reinterpret_cast<void**>(&gQueryDirectory), reinterpret_cast<void**>(&gQueryInformation),
        reinterpret_cast<void**>(&gSetInformation), reinterpret_cast<void**>(&gErrorOf)};
    for (int i = 0; i < 4; ++i) {
        *kCalls[i] = SystemProcedure(L"ntdll.dll", kNames[i]);
        if (*kCalls[i] == NULL) {
            return false;
        }
    }
    return true;
}

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

void ClearReadOnly(const wchar_t* path) {
    DWORD attributes = GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        SetFileAttributesW(path, attributes & ~FILE_ATTRIBUTE_READONLY);
    }
}

static void TraceFailure(NTSTATUS status) {
    if (!NT_SUCCESS(status)) {
        TraceSystemError(gErrorOf(status));
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

// Reads the attributes an open handle shows, and whether it is the entry the listing showed:
// its identity on the volume matches, which a handle to a link's target does not share. An
// identity of 0 (the root, which no listing showed, or a file system that lists none) matches.
static bool IsListedEntry(HANDLE file, LONGLONG listedId, DWORD* attributes) {
    IO_STATUS_BLOCK io;
    FILE_ATTRIBUTE_TAG_INFO tag;
    LARGE_INTEGER id;
    if (!NT_SUCCESS(gQueryInformation(file, &io, &tag, sizeof(tag), FileAttributeTagInformation)) ||
        !NT_SUCCESS(gQueryInformation(file, &io, &id, sizeof(id), FileInternalInformation))) {
        return false;
    }
    *attributes = tag.FileAttributes;
    return listedId == 0 || id.QuadPart == listedId;
}

static void ClearReadOnlyOf(HANDLE file, DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) {
        return;
    }
    // Times of zero are left as they are; attributes of zero would be too.
    FILE_BASIC_INFO basic;
    memset(&basic, 0, sizeof(basic));
    basic.FileAttributes = attributes & ~FILE_ATTRIBUTE_READONLY;
    if (basic.FileAttributes == 0) {
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    }
    IO_STATUS_BLOCK io;
    gSetInformation(file, &io, &basic, sizeof(basic), FileBasicInformation);
}

// Marks what the handle names for deletion when its last handle closes.
static NTSTATUS Dispose(HANDLE file) {
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = TRUE;
    IO_STATUS_BLOCK io;
    return gSetInformation(file, &io, &disposition, sizeof(disposition),
                           FileDispositionInformation);
}

// Opens the entry gPath names as itself, a link and not its target, with access and sharing.
static HANDLE OpenAsItself(DWORD access, DWORD sharing) {
    return CreateFileW(gPath, access | FILE_READ_ATTRIBUTES | SYNCHRONIZE, sharing, NULL,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                       NULL);
}

// A read-only file or a link goes through one handle to the entry itself, when it is still the
// entry listed, cleared first. A link goes only when the handle shows the link itself: a link's
// target lies outside the staged tree, and a handle that shows the target instead (some
// emulations open the target whatever is asked) would delete the target, so then the link stays.
static void DeleteThroughHandle(LONGLONG listedId, bool link) {
    HANDLE entry = OpenAsItself(DELETE | FILE_WRITE_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (entry == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD attributes;
    if (IsListedEntry(entry, listedId, &attributes) &&
        (!link || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)) {
        ClearReadOnlyOf(entry, attributes);
        Dispose(entry);
    } else {
        Trace("Entry kept: it cannot be told from a link's target\r\n");
    }
    CloseHandle(entry);
}

// Opens the folder gPath names, without entering it: as itself if it is a link, and held so
// that nobody can rename or delete it while it is emptied.
static HANDLE OpenFolder(bool* removable) {
    const DWORD access = FILE_LIST_DIRECTORY | FILE_WRITE_ATTRIBUTES;
    const DWORD sharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE folder = OpenAsItself(access | DELETE, sharing);
    *removable = folder != INVALID_HANDLE_VALUE;
    if (!*removable && GetLastError() == ERROR_SHARING_VIOLATION) {
        // Another handle denies deletion (a process's current folder, for one): the folder
        // cannot go, but what it holds still can.
        folder = OpenAsItself(access, sharing);
    }
    return folder;
}

// Opens and checks the folder gPath names and makes it the level at depth. It is entered only
// when its handle shows a plain folder, the very folder the listing showed.
static bool Enter(int depth, int pathLength, BYTE* chunk, LONGLONG listedId) {
    bool removable;
    HANDLE folder = OpenFolder(&removable);
    if (folder == INVALID_HANDLE_VALUE) {
        TraceSystemError(GetLastError());
        return false;
    }
    DWORD attributes;
    if (!IsListedEntry(folder, listedId, &attributes) ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) !=
            FILE_ATTRIBUTE_DIRECTORY) {
        Trace("Folder not entered: it is a link or not the folder listed\r\n");
        CloseHandle(folder);
        return false;
    }
    // Cleared before its entries go: where the bit is a Unix write permission, it keeps them too.
    ClearReadOnlyOf(folder, attributes);
    Level& level = gLevels[depth];
    level.folder = folder;
    level.pathLength = pathLength;
    level.chunk = chunk;
    level.pending = NULL;
    level.removable = removable;
    return true;
}

static void Leave(const Level& level) {
    if (!level.removable) {
        TraceSystemError(ERROR_SHARING_VIOLATION);
    } else {
        TraceFailure(Dispose(level.folder));
    }
    CloseHandle(level.folder);
}

// Lists the level's next entries into its chunk; the number of bytes, 0 when there are none.
static ULONG ListNext(const Level& level) {
    bool single = level.chunk + kListingChunk + kSingleEntryChunk > gListing + kListingSize;
    IO_STATUS_BLOCK io;
    NTSTATUS status = gQueryDirectory(level.folder, NULL, NULL, NULL, &io, level.chunk,
                                      single ? kSingleEntryChunk : kListingChunk,
                                      FileIdBothDirectoryInformation, single, NULL, FALSE);
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

// Removes the files and links of the level's chunk and keeps its subfolders, for the walk to
// enter once the chunk is done. ".." is never touched; the folder's own read-only bit, which
// "." shows, was cleared through its handle.
static void SortChunk(Level& level) {
    BYTE* place = level.chunk;
    for (BYTE* entry = level.chunk;;) {
        const FILE_ID_BOTH_DIR_INFO* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(entry);
        DWORD next = info->NextEntryOffset;
        DWORD attributes = info->FileAttributes;
        int nameLength = static_cast<int>(info->FileNameLength / sizeof(WCHAR));
        bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if (IsDotEntry(info->FileName, nameLength)) {
            // Neither the folder itself nor the one above it.
        } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !link) {
            level.pending = KeepSubfolder(place, level.pending, info);
            place =
                Aligned(reinterpret_cast<BYTE*>(level.pending->name) + level.pending->nameBytes);
        } else if (AppendName(level.pathLength, info->FileName, nameLength, false)) {
            if (link || (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
                DeleteThroughHandle(info->FileId.QuadPart, link);
            } else {
                DeleteFileW(gPath);
            }
        }
        if (next == 0) {
            return;
        }
        entry += next;
    }
}

void DeleteTree(const wchar_t* folder) {
    int length = static_cast<int>(wcslen(folder));
    if (!LoadHandleCalls() || length >= kPathSize) {
        Trace("Folder not removed: it cannot be opened for the walk\r\n");
        return;
    }
    memcpy(gPath, folder, (length + 1) * sizeof(WCHAR));
    int depth = Enter(0, length, gListing, 0) ? 1 : 0;
    while (depth > 0) {
        Level& level = gLevels[depth - 1];
        Pending* pending = level.pending;
        if (pending != NULL) {
            // The last kept subfolder: its record's place starts the next level's chunk.
            level.pending = pending->previous;
            int nameLength = static_cast<int>(pending->nameBytes / sizeof(WCHAR));
            if (AppendName(level.pathLength, pending->name, nameLength, true)) {
                if (gBeforeEnteringFolder != NULL) {
                    gBeforeEnteringFolder(gPath);
                }
                int pathLength = level.pathLength + nameLength + 1;
                LONGLONG id = pending->id;
                depth += Enter(depth, pathLength, reinterpret_cast<BYTE*>(pending), id) ? 1 : 0;
            }
        } else if (ListNext(level) > 0) {
            SortChunk(level);
        } else {
            Leave(level);
            --depth;
        }
    }
}
