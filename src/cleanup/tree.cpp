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

// Scanners, indexers and sync tools open files just written for a moment. An entry that such a
// hold keeps is tried again after a wait; the waits grow and all of them together, for the whole
// removal, stay within the budget.
const DWORD kRetryBudget = 2000;
const DWORD kFirstRetryWait = 10;
const DWORD kLongestRetryWait = 250;

// The deletion that takes a name out of its folder at once, even while others still hold the
// entry, and that ignores the read-only bit. Not every system and file system has it.
const FILE_INFORMATION_CLASS kFileDispositionInformationEx =
    static_cast<FILE_INFORMATION_CLASS>(64);
const ULONG kPosixDeletion = FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS |
                             FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE;
const NTSTATUS kStatusAccessDenied = static_cast<NTSTATUS>(0xC0000022);
const NTSTATUS kStatusCannotDelete = static_cast<NTSTATUS>(0xC0000121);
const NTSTATUS kStatusDirectoryNotEmpty = static_cast<NTSTATUS>(0xC0000101);
const NTSTATUS kStatusSharingViolation = static_cast<NTSTATUS>(0xC0000043);
const NTSTATUS kStatusDeletePending = static_cast<NTSTATUS>(0xC0000056);

typedef NTSTATUS(WINAPI* QueryDirectoryCall)(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK, PVOID,
                                             ULONG, FILE_INFORMATION_CLASS, BOOLEAN,
                                             PUNICODE_STRING, BOOLEAN);
typedef NTSTATUS(WINAPI* FileInformationCall)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG,
                                              FILE_INFORMATION_CLASS);
typedef ULONG(WINAPI* StatusToErrorCall)(NTSTATUS);
typedef NTSTATUS(WINAPI* LastStatusCall)();
typedef BOOL(WINAPI* SetMitigationPolicyCall)(PROCESS_MITIGATION_POLICY, PVOID, SIZE_T);
typedef HANDLE(WINAPI* FindFirstNameCall)(LPCWSTR, DWORD, LPDWORD, PWSTR);
typedef BOOL(WINAPI* FindNextNameCall)(HANDLE, LPDWORD, PWSTR);

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
void (*gBeforeReopeningFolder)(const wchar_t* folder) = NULL;
SetInformationCall gSetInformationStandIn = NULL;
SetInformationCall gQueryInformationStandIn = NULL;

static WCHAR gPath[kPathSize];
static BYTE gListing[kListingSize] __attribute__((aligned(8)));
// A root path has at least 7 characters (\\?\C:\), so a path within kPathSize
// never needs all of these levels.
static Level gLevels[kMaxDepth];
// How many of gLevels hold an open folder: every one of them is still open when an exception
// abandons the walk.
static int gDepth;
// What is left of kRetryBudget for this removal.
static DWORD gRetryTimeLeft;
// Set once the system has refused the deletion at once: the rest of the removal deletes the
// classic way, without asking again.
static bool gClassicDeletion;
// Set once the file system has refused to tell attributes and reparse tag together (FAT and
// exFAT have no such query): the rest of the removal reads the attributes alone.
static bool gBasicAttributes;
// Another name of a file with several, volume root included: where the read-only bit that the
// classic deletion had to clear cannot be given back through the handle, it is given back
// through this name once the handle is closed. Empty when there is nothing to give back.
static WCHAR gOtherName[kPathSize];
// Whether the root's removal was reported done.
static bool gRootRemoved;

static QueryDirectoryCall gQueryDirectory;
static FileInformationCall gQueryInformation;
static FileInformationCall gSetInformation;
static StatusToErrorCall gErrorOf;
static LastStatusCall gLastStatus;

// The file system's own calls work on an open handle: listing through it, reading what it is
// and deleting it. Every system that has the wide calls has them.
static bool LoadHandleCalls() {
    static const char* const kNames[] = {"NtQueryDirectoryFile", "NtQueryInformationFile",
                                         "NtSetInformationFile", "RtlNtStatusToDosError",
                                         "RtlGetLastNtStatus"};
    static void** const kCalls[] = {
        reinterpret_cast<void**>(&gQueryDirectory), reinterpret_cast<void**>(&gQueryInformation),
        reinterpret_cast<void**>(&gSetInformation), reinterpret_cast<void**>(&gErrorOf),
        reinterpret_cast<void**>(&gLastStatus)};
    for (int i = 0; i < 5; ++i) {
        *kCalls[i] = SystemProcedure(L"ntdll.dll", kNames[i]);
        if (*kCalls[i] == NULL) {
            return false;
        }
    }
    if (gSetInformationStandIn != NULL) {
        gSetInformation = reinterpret_cast<FileInformationCall>(gSetInformationStandIn);
    }
    if (gQueryInformationStandIn != NULL) {
        gQueryInformation = reinterpret_cast<FileInformationCall>(gQueryInformationStandIn);
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

// Waits before an entry that another handle holds is tried again; false, without waiting, once
// the removal's budget is spent. wait starts at kFirstRetryWait and grows with every call.
static bool WaitToRetry(DWORD* wait) {
    if (gRetryTimeLeft == 0) {
        return false;
    }
    DWORD pause = *wait < gRetryTimeLeft ? *wait : gRetryTimeLeft;
    Sleep(pause);
    gRetryTimeLeft -= pause;
    *wait = *wait * 2 < kLongestRetryWait ? *wait * 2 : kLongestRetryWait;
    return true;
}

// Whether a failure is another handle's hold, which ends: the one kind that is waited out.
static bool WaitOutHold(DWORD error, DWORD* wait) {
    return error == ERROR_SHARING_VIOLATION && WaitToRetry(wait);
}

// Whether the call that just failed met an entry already deleted, which goes once the handles
// others hold on it close: it counts as deleted.
static bool IsDeletePending() {
    return gLastStatus() == kStatusDeletePending;
}

// Reads the attributes an open handle shows, the reparse bit included.
static bool ReadAttributes(HANDLE file, DWORD* attributes) {
    IO_STATUS_BLOCK io;
    if (!gBasicAttributes) {
        FILE_ATTRIBUTE_TAG_INFO tag;
        if (NT_SUCCESS(
                gQueryInformation(file, &io, &tag, sizeof(tag), FileAttributeTagInformation))) {
            *attributes = tag.FileAttributes;
            return true;
        }
    }
    FILE_BASIC_INFO basic;
    if (!NT_SUCCESS(gQueryInformation(file, &io, &basic, sizeof(basic), FileBasicInformation))) {
        return false;
    }
    gBasicAttributes = true;
    *attributes = basic.FileAttributes;
    return true;
}

// Reads the attributes and the identity on its volume that an open handle shows.
static bool ReadEntry(HANDLE file, DWORD* attributes, LONGLONG* id) {
    IO_STATUS_BLOCK io;
    LARGE_INTEGER internal;
    if (!ReadAttributes(file, attributes) ||
        !NT_SUCCESS(
            gQueryInformation(file, &io, &internal, sizeof(internal), FileInternalInformation))) {
        return false;
    }
    *id = internal.QuadPart;
    return true;
}

// Reads the attributes an open handle shows, and whether it is the entry the listing showed:
// its identity on the volume matches, which a handle to a link's target does not share. An
// identity of 0 (the root, which no listing showed, or a file system that lists none) matches.
static bool IsListedEntry(HANDLE file, LONGLONG listedId, DWORD* attributes) {
    LONGLONG id;
    return ReadEntry(file, attributes, &id) && (listedId == 0 || id == listedId);
}

static NTSTATUS WriteAttributes(HANDLE file, DWORD attributes) {
    // Times of zero are left as they are; attributes of zero would be too.
    FILE_BASIC_INFO basic;
    memset(&basic, 0, sizeof(basic));
    basic.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
    IO_STATUS_BLOCK io;
    return gSetInformation(file, &io, &basic, sizeof(basic), FileBasicInformation);
}

static void ClearReadOnlyOf(HANDLE file, DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        WriteAttributes(file, attributes & ~FILE_ATTRIBUTE_READONLY);
    }
}

// The answers to the deletion at once that tell how the entry itself stands. Any other answer
// comes from a system, file system or redirector that does not know that deletion, in whatever
// words it has for that.
static bool IsFinalAnswer(NTSTATUS status) {
    return NT_SUCCESS(status) || status == kStatusSharingViolation ||
           status == kStatusAccessDenied || status == kStatusCannotDelete ||
           status == kStatusDirectoryNotEmpty || status == kStatusDeletePending;
}

static bool HasOtherNames(HANDLE file) {
    FILE_STANDARD_INFO standard;
    IO_STATUS_BLOCK io;
    return NT_SUCCESS(gQueryInformation(file, &io, &standard, sizeof(standard),
                                        FileStandardInformation)) &&
           standard.NumberOfLinks > 1;
}

// Finds a name of the file gPath names, other than gPath, into gOtherName: the system gives the
// names without their volume's root, which gPath begins with. Empty when none can be had.
static void FindOtherName() {
    gOtherName[0] = L'\0';
    FindFirstNameCall findFirst =
        reinterpret_cast<FindFirstNameCall>(SystemProcedure(L"kernel32.dll", "FindFirstFileNameW"));
    FindNextNameCall findNext =
        reinterpret_cast<FindNextNameCall>(SystemProcedure(L"kernel32.dll", "FindNextFileNameW"));
    if (findFirst == NULL || findNext == NULL ||
        !GetVolumePathNameW(gPath, gOtherName, kPathSize)) {
        gOtherName[0] = L'\0';
        return;
    }
    // The root may come without the literal prefix that gPath has; it is taken as gPath spells
    // it, without its trailing backslash.
    int skipped = wcsncmp(gOtherName, L"\\\\?\\", 4) == 0 ? 0 : 4;
    int root = static_cast<int>(wcslen(gOtherName)) - 1;
    bool found = root > 0 && _wcsnicmp(gPath + skipped, gOtherName, root) == 0;
    root += skipped;
    memcpy(gOtherName, gPath, root * sizeof(WCHAR));
    const WCHAR* own = gPath + root;
    DWORD capacity = kPathSize - root;
    HANDLE names = found ? findFirst(gPath, 0, &capacity, gOtherName + root) : INVALID_HANDLE_VALUE;
    found = names != INVALID_HANDLE_VALUE;
    while (found && _wcsicmp(gOtherName + root, own) == 0) {
        capacity = kPathSize - root;
        found = findNext(names, &capacity, gOtherName + root) != FALSE;
    }
    if (names != INVALID_HANDLE_VALUE) {
        FindClose(names);
    }
    if (!found) {
        gOtherName[0] = L'\0';
    }
}

// The classic deletion refuses a read-only entry. The bit belongs to the file, not to the name:
// a file that keeps other names gets it back, through the handle where the system allows that,
// else through another name once the handle is closed (GiveBackReadOnly).
static NTSTATUS DisposeClassic(HANDLE file, DWORD attributes) {
    bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    bool otherNames = readOnly && HasOtherNames(file);
    if (otherNames) {
        FindOtherName();
    }
    ClearReadOnlyOf(file, attributes);
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = TRUE;
    IO_STATUS_BLOCK io;
    NTSTATUS status =
        gSetInformation(file, &io, &disposition, sizeof(disposition), FileDispositionInformation);
    if (otherNames && NT_SUCCESS(WriteAttributes(file, attributes))) {
        gOtherName[0] = L'\0';
    }
    return status;
}

static void GiveBackReadOnly() {
    if (gOtherName[0] == L'\0') {
        return;
    }
    DWORD attributes = GetFileAttributesW(gOtherName);
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        !SetFileAttributesW(gOtherName, attributes | FILE_ATTRIBUTE_READONLY)) {
        Trace("Read-only bit not given back to the file's other name\r\n");
    }
    gOtherName[0] = L'\0';
}

// Deletes what the handle names: at once where the system can, even while others hold it, and
// whatever its read-only bit; else when its last handle closes.
static NTSTATUS Dispose(HANDLE file, DWORD attributes) {
    if (!gClassicDeletion) {
        ULONG flags = kPosixDeletion;
        IO_STATUS_BLOCK io;
        NTSTATUS status =
            gSetInformation(file, &io, &flags, sizeof(flags), kFileDispositionInformationEx);
        if (IsFinalAnswer(status)) {
            return status;
        }
        gClassicDeletion = true;
    }
    return DisposeClassic(file, attributes);
}

// Opens the entry gPath names as itself, a link and not its target, with access and sharing.
static HANDLE OpenAsItself(DWORD access, DWORD sharing) {
    return CreateFileW(gPath, access | FILE_READ_ATTRIBUTES | SYNCHRONIZE, sharing, NULL,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                       NULL);
}

// The same, for deletion: waits out another handle's hold within the budget.
static HANDLE OpenForDeletion(DWORD access, DWORD sharing) {
    DWORD wait = kFirstRetryWait;
    HANDLE entry;
    do {
        entry = OpenAsItself(DELETE | access, sharing);
    } while (entry == INVALID_HANDLE_VALUE && WaitOutHold(GetLastError(), &wait));
    return entry;
}

// A plain file goes by its name where only the classic deletion is to be had; false when it
// stays.
static bool DeleteByName() {
    DWORD wait = kFirstRetryWait;
    while (!DeleteFileW(gPath)) {
        if (IsDeletePending()) {
            return true;
        }
        if (!WaitOutHold(GetLastError(), &wait)) {
            return false;
        }
    }
    return true;
}

// An entry goes through one handle to the entry itself, when it is still the entry listed. A link
// goes only when the handle shows the link itself: a link's target lies outside the staged tree,
// and a handle that shows the target instead (some emulations open the target whatever is asked)
// would delete the target, so then the link stays. False when the entry stays.
static bool DeleteThroughHandle(LONGLONG listedId, bool link) {
    HANDLE entry = OpenForDeletion(FILE_WRITE_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (entry == INVALID_HANDLE_VALUE) {
        return IsDeletePending();
    }
    DWORD attributes;
    bool itself = IsListedEntry(entry, listedId, &attributes) &&
                  (!link || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0);
    bool deleted = itself && NT_SUCCESS(Dispose(entry, attributes));
    CloseHandle(entry);
    GiveBackReadOnly();
    if (!itself) {
        Trace("Entry kept: it cannot be told from a link's target\r\n");
    }
    return deleted;
}

// Opens the folder gPath names, without entering it: as itself if it is a link, and held so
// that nobody can rename or delete it while it is emptied.
static HANDLE OpenFolder(bool* removable) {
    const DWORD access = FILE_LIST_DIRECTORY | FILE_WRITE_ATTRIBUTES;
    const DWORD sharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE folder = OpenAsItself(access | DELETE, sharing);
    *removable = folder != INVALID_HANDLE_VALUE;
    if (!*removable && GetLastError() == ERROR_SHARING_VIOLATION) {
        // Another handle denies deletion (a process's current folder, or a hold for a moment):
        // what the folder holds can go all the same, and the folder is tried again once empty.
        folder = OpenAsItself(access, sharing);
    }
    return folder;
}

// Opens and checks the folder gPath names and makes it the level at gDepth. It is entered only
// when its handle shows a plain folder, the very folder the listing showed. False when it stays
// and is not entered; a folder already deleted, which goes once others close it, is neither.
static bool Enter(int pathLength, BYTE* chunk, LONGLONG listedId) {
    bool removable;
    HANDLE folder = OpenFolder(&removable);
    if (folder == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (IsDeletePending()) {
            return true;
        }
        TraceSystemError(error);
        return false;
    }
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

// The folder of a level that was held without delete access, now empty, opened again with it:
// another handle denied that access, and may have been closed since. Only the folder that was
// emptied is taken. False, with the level's folder closed, when it cannot be had.
static bool ReopenForDeletion(Level& level) {
    CloseHandle(level.folder);
    gPath[level.pathLength] = L'\0';
    if (gBeforeReopeningFolder != NULL) {
        gBeforeReopeningFolder(gPath);
    }
    level.folder = OpenForDeletion(FILE_LIST_DIRECTORY | FILE_WRITE_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE);
    DWORD attributes;
    level.removable = level.folder != INVALID_HANDLE_VALUE &&
                      IsListedEntry(level.folder, level.id, &attributes) &&
                      (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    if (!level.removable) {
        CloseHandle(level.folder);
        level.folder = INVALID_HANDLE_VALUE;
    }
    return level.removable;
}

static NTSTATUS DisposeLevelFolder(Level& level) {
    if (!level.removable && !ReopenForDeletion(level)) {
        return kStatusSharingViolation;
    }
    return Dispose(level.folder, 0);
}

// Deletes the emptied folder of the deepest level and leaves it. Entries deleted while others
// held them may still be listed until those handles close, and a folder that held them may not
// have gone: while nothing in it stays for good, the folder is listed again after a wait, and
// what is still there is taken again.
static void Leave() {
    Level& level = gLevels[gDepth - 1];
    NTSTATUS status = DisposeLevelFolder(level);
    if (status == kStatusDirectoryNotEmpty && !level.keepsEntries &&
        WaitToRetry(&level.revisitWait)) {
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

// Deletes a file or link of the level's listing; false when it stays. A plain file goes by its
// name once the system has shown that it deletes only the classic way; the rest goes through
// its handle.
static bool DeleteEntry(const Level& level, const FILE_ID_BOTH_DIR_INFO* info) {
    int nameLength = static_cast<int>(info->FileNameLength / sizeof(WCHAR));
    if (!AppendName(level.pathLength, info->FileName, nameLength, false)) {
        return false;
    }
    bool link = (info->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (gClassicDeletion && !link && (info->FileAttributes & FILE_ATTRIBUTE_READONLY) == 0) {
        return DeleteByName();
    }
    return DeleteThroughHandle(info->FileId.QuadPart, link);
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
        bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if (IsDotEntry(info->FileName, static_cast<int>(info->FileNameLength / sizeof(WCHAR)))) {
            // Neither the folder itself nor the one above it.
        } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !link) {
            level.pending = KeepSubfolder(place, level.pending, info);
            place =
                Aligned(reinterpret_cast<BYTE*>(level.pending->name) + level.pending->nameBytes);
        } else if (!DeleteEntry(level, info)) {
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
        entered = Enter(pathLength, reinterpret_cast<BYTE*>(pending), pending->id);
    }
    if (!entered) {
        level.keepsEntries = true;
    }
}

// A walk that an exception abandoned leaves its folders open, held against deletion: the next
// walk could not even open the root.
static void CloseAbandonedWalk() {
    while (gDepth > 0) {
        CloseHandle(gLevels[--gDepth].folder);
    }
}

static void Walk(const wchar_t* folder, int length) {
    memcpy(gPath, folder, (length + 1) * sizeof(WCHAR));
    gRootRemoved = false;
    Enter(length, gListing, 0);
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
static bool WalkAgain(const wchar_t* folder, DWORD* wait) {
    if (!gRootRemoved || GetFileAttributesW(folder) == INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    if (WaitToRetry(wait)) {
        return true;
    }
    TraceSystemError(ERROR_DIR_NOT_EMPTY);
    return false;
}

void DeleteTree(const wchar_t* folder) {
    CloseAbandonedWalk();
    int length = static_cast<int>(wcslen(folder));
    if (!LoadHandleCalls() || length >= kPathSize) {
        Trace("Folder not removed: it cannot be opened for the walk\r\n");
        return;
    }
    gRetryTimeLeft = kRetryBudget;
    gClassicDeletion = false;
    gBasicAttributes = false;
    DWORD wait = kFirstRetryWait;
    do {
        Walk(folder, length);
    } while (WalkAgain(folder, &wait));
}
