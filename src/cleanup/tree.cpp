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

// A folder being emptied: held open from before its listing until its own removal.
struct Level {
    HANDLE folder;
    // gPath's length for this folder, its trailing backslash included.
    int pathLength;
    // Where its listing calls write; the subfolders still to enter end at pendingEnd.
    BYTE* chunk;
    BYTE* pendingEnd;
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

static void* SystemCall(const wchar_t* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(module), name));
}

// The file system's own calls work on an open handle: listing through it, reading what it is
// and deleting it. Every system that has the wide calls has them.
static bool LoadHandleCalls() {
    gQueryDirectory =
        reinterpret_cast<QueryDirectoryCall>(SystemCall(L"ntdll.dll", "NtQueryDirectoryFile"));
    gQueryInformation =
        reinterpret_cast<FileInformationCall>(SystemCall(L"ntdll.dll", "NtQueryInformationFile"));
    gSetInformation =
        reinterpret_cast<FileInformationCall>(SystemCall(L"ntdll.dll", "NtSetInformationFile"));
    gErrorOf =
        reinterpret_cast<StatusToErrorCall>(SystemCall(L"ntdll.dll", "RtlNtStatusToDosError"));
    return gQueryDirectory != NULL && gQueryInformation != NULL && gSetInformation != NULL &&
           gErrorOf != NULL;
}

void EnforceRedirectionTrust() {
    SetMitigationPolicyCall setPolicy = reinterpret_cast<SetMitigationPolicyCall>(
        SystemCall(L"kernel32.dll", "SetProcessMitigationPolicy"));
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

static void TraceStatus(NTSTATUS status) {
    TraceSystemError(gErrorOf(status));
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

// What an open handle shows itself to be: its attributes and its identity on the volume.
static bool QueryIdentity(HANDLE file, DWORD* attributes, LONGLONG* id) {
    IO_STATUS_BLOCK io;
    FILE_ATTRIBUTE_TAG_INFO tag;
    LARGE_INTEGER internal;
    if (!NT_SUCCESS(gQueryInformation(file, &io, &tag, sizeof(tag), FileAttributeTagInformation)) ||
        !NT_SUCCESS(
            gQueryInformation(file, &io, &internal, sizeof(internal), FileInternalInformation))) {
        return false;
    }
    *attributes = tag.FileAttributes;
    *id = internal.QuadPart;
    return true;
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

// A read-only file is opened as itself (a link, not its target), checked to be the entry that
// was listed, cleared and deleted through that one handle.
static void DeleteReadOnlyFile(LONGLONG listedId) {
    HANDLE file = CreateFileW(gPath, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD attributes;
    LONGLONG id;
    if (QueryIdentity(file, &attributes, &id) && (listedId == 0 || id == listedId)) {
        ClearReadOnlyOf(file, attributes);
        Dispose(file);
    }
    CloseHandle(file);
}

// A link's target lies outside the staged tree: only the link goes, through a handle that shows
// the link itself. A handle that does not (some emulations open the target whatever is asked)
// would delete the target, so then the link stays.
static void RemoveLink() {
    HANDLE link =
        CreateFileW(gPath, DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (link == INVALID_HANDLE_VALUE) {
        TraceSystemError(GetLastError());
        return;
    }
    DWORD attributes;
    LONGLONG id;
    if (QueryIdentity(link, &attributes, &id) && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        NTSTATUS status = Dispose(link);
        if (!NT_SUCCESS(status)) {
            TraceStatus(status);
        }
    } else {
        Trace("Link kept: it cannot be told from its target\r\n");
    }
    CloseHandle(link);
}

// Opens the folder gPath names, without entering it: as itself if it is a link, and held so
// that nobody can rename or delete it while it is emptied.
static HANDLE OpenFolder(bool* removable) {
    const DWORD access =
        FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
    const DWORD sharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
    HANDLE folder = CreateFileW(gPath, access | DELETE, sharing, NULL, OPEN_EXISTING, flags, NULL);
    *removable = folder != INVALID_HANDLE_VALUE;
    if (!*removable && GetLastError() == ERROR_SHARING_VIOLATION) {
        // Another handle denies deletion (a process's current folder, for one): the folder
        // cannot go, but what it holds still can.
        folder = CreateFileW(gPath, access, sharing, NULL, OPEN_EXISTING, flags, NULL);
    }
    return folder;
}

// Opens and checks the folder gPath names and makes it the level at depth. It is entered only
// when its handle shows a plain folder and, below the root, the very folder the listing showed
// (its identity, which a handle to a link's target does not share; a file system that lists no
// identities gives 0).
static bool Enter(int depth, int pathLength, BYTE* chunk, const LONGLONG* listedId) {
    bool removable;
    HANDLE folder = OpenFolder(&removable);
    if (folder == INVALID_HANDLE_VALUE) {
        TraceSystemError(GetLastError());
        return false;
    }
    DWORD attributes;
    LONGLONG id;
    if (!QueryIdentity(folder, &attributes, &id) ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) !=
            FILE_ATTRIBUTE_DIRECTORY ||
        (listedId != NULL && *listedId != 0 && id != *listedId)) {
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
    level.pendingEnd = chunk;
    level.removable = removable;
    return true;
}

static void Leave(const Level& level) {
    if (!level.removable) {
        TraceSystemError(ERROR_SHARING_VIOLATION);
    } else {
        NTSTATUS status = Dispose(level.folder);
        if (!NT_SUCCESS(status)) {
            TraceStatus(status);
        }
    }
    CloseHandle(level.folder);
}

// Lists the level's next entries into its chunk; the number of bytes, 0 when there are none.
// The call never writes past the listing buffer: an entry that does not fit ends the listing.
static ULONG ListNext(const Level& level) {
    ULONG left = static_cast<ULONG>(gListing + kListingSize - level.chunk);
    bool single = left < kListingChunk + kSingleEntryChunk;
    ULONG size = !single ? kListingChunk : left < kSingleEntryChunk ? left : kSingleEntryChunk;
    IO_STATUS_BLOCK io;
    NTSTATUS status = gQueryDirectory(level.folder, NULL, NULL, NULL, &io, level.chunk, size,
                                      FileIdBothDirectoryInformation, single, NULL, FALSE);
    return NT_SUCCESS(status) ? static_cast<ULONG>(io.Information) : 0;
}

static bool IsDotEntry(const WCHAR* name, int length) {
    return name[0] == L'.' && (length == 1 || (length == 2 && name[1] == L'.'));
}

// A subfolder to enter is kept as its name, its identity and the name's size in bytes, at
// records, which never passes the entry it comes from. Returns the end of the record.
static BYTE* KeepSubfolder(BYTE* records, const WCHAR* name, WORD nameBytes, LONGLONG id) {
    memmove(records, name, nameBytes);
    memcpy(records + nameBytes, &id, sizeof(id));
    memcpy(records + nameBytes + sizeof(id), &nameBytes, sizeof(nameBytes));
    return records + nameBytes + sizeof(id) + sizeof(nameBytes);
}

static void RemoveFileOrLink(DWORD attributes, LONGLONG id) {
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        RemoveLink();
    } else if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        DeleteReadOnlyFile(id);
    } else {
        DeleteFileW(gPath);
    }
}

// Removes the files and links of the level's chunk and keeps its subfolders, for the walk to
// enter once the chunk is done. ".." is never touched; the folder's own read-only bit, which
// "." shows, was cleared through its handle.
static void SortChunk(Level& level) {
    BYTE* records = level.chunk;
    for (BYTE* entry = level.chunk;;) {
        const FILE_ID_BOTH_DIR_INFO* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(entry);
        DWORD next = info->NextEntryOffset;
        DWORD attributes = info->FileAttributes;
        LONGLONG id = info->FileId.QuadPart;
        int nameLength = static_cast<int>(info->FileNameLength / sizeof(WCHAR));
        bool plainFolder =
            (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
            FILE_ATTRIBUTE_DIRECTORY;
        if (IsDotEntry(info->FileName, nameLength)) {
            // Neither the folder itself nor the one above it.
        } else if (plainFolder) {
            records =
                KeepSubfolder(records, info->FileName, static_cast<WORD>(info->FileNameLength), id);
        } else if (AppendName(level.pathLength, info->FileName, nameLength, false)) {
            RemoveFileOrLink(attributes, id);
        }
        if (next == 0) {
            level.pendingEnd = records;
            return;
        }
        entry += next;
    }
}

// Takes the level's last kept subfolder into gPath and frees its record; false when its path
// would be too long. The record's place starts the next level's chunk.
static bool TakeSubfolder(Level& level, int* pathLength, LONGLONG* id) {
    BYTE* end = level.pendingEnd;
    WORD nameBytes;
    memcpy(&nameBytes, end - sizeof(nameBytes), sizeof(nameBytes));
    BYTE* idStart = end - sizeof(nameBytes) - sizeof(*id);
    memcpy(id, idStart, sizeof(*id));
    BYTE* name = idStart - nameBytes;
    level.pendingEnd = name;
    int nameLength = nameBytes / sizeof(WCHAR);
    *pathLength = level.pathLength + nameLength + 1;
    return AppendName(level.pathLength, reinterpret_cast<const WCHAR*>(name), nameLength, true);
}

static BYTE* Aligned(BYTE* place) {
    return reinterpret_cast<BYTE*>((reinterpret_cast<UINT_PTR>(place) + 7) & ~UINT_PTR(7));
}

void DeleteTree(const wchar_t* folder) {
    int length = static_cast<int>(wcslen(folder));
    if (!LoadHandleCalls() || length >= kPathSize) {
        Trace("Folder not removed: it cannot be opened for the walk\r\n");
        return;
    }
    memcpy(gPath, folder, (length + 1) * sizeof(WCHAR));
    int depth = Enter(0, length, gListing, NULL) ? 1 : 0;
    while (depth > 0) {
        Level& level = gLevels[depth - 1];
        if (level.pendingEnd != level.chunk) {
            int pathLength;
            LONGLONG id;
            if (TakeSubfolder(level, &pathLength, &id)) {
                if (gBeforeEnteringFolder != NULL) {
                    gBeforeEnteringFolder(gPath);
                }
                depth += Enter(depth, pathLength, Aligned(level.pendingEnd), &id) ? 1 : 0;
            }
        } else if (ListNext(level) > 0) {
            SortChunk(level);
        } else {
            Leave(level);
            --depth;
        }
    }
}
