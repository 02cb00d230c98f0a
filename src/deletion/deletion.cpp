#include "deletion.h"

#include <string.h>
#include <wchar.h>
#include <winternl.h>

#include "../common/common.h"

// All the waits for entries held for a moment, together, for the whole removal.
const DWORD kRetryBudget = 2000;

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
const NTSTATUS kStatusFileDeleted = static_cast<NTSTATUS>(0xC0000123);

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

typedef NTSTATUS(WINAPI* CreateFileCall)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                         PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
typedef NTSTATUS(WINAPI* FileInformationCall)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG,
                                              FILE_INFORMATION_CLASS);
typedef ULONG(WINAPI* StatusToErrorCall)(NTSTATUS);
typedef HANDLE(WINAPI* FindFirstNameCall)(LPCWSTR, DWORD, LPDWORD, PWSTR);
typedef BOOL(WINAPI* FindNextNameCall)(HANDLE, LPDWORD, PWSTR);

void (*gBeforeReopeningFolder)(const wchar_t* folder) = NULL;
SetInformationCall gSetInformationStandIn = NULL;
SetInformationCall gQueryInformationStandIn = NULL;

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

// The answer to the last open of an entry.
static NTSTATUS gOpenStatus;

static CreateFileCall gCreateFile;
static FileInformationCall gQueryInformation;
static FileInformationCall gSetInformation;
static StatusToErrorCall gErrorOf;

// The file system's own calls open an entry by its name in an open folder, read what it is through
// its handle and delete it. Every system that has the wide calls has them.
static bool LoadHandleCalls() {
    static const char* const kNames[] = {"NtCreateFile", "NtQueryInformationFile",
                                         "NtSetInformationFile", "RtlNtStatusToDosError"};
    static void** const kCalls[] = {
        reinterpret_cast<void**>(&gCreateFile), reinterpret_cast<void**>(&gQueryInformation),
        reinterpret_cast<void**>(&gSetInformation), reinterpret_cast<void**>(&gErrorOf)};
    for (int i = 0; i < 4; ++i) {
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

bool BeginRemoval() {
    gRetryTimeLeft = kRetryBudget;
    gClassicDeletion = false;
    gBasicAttributes = false;
    return LoadHandleCalls();
}

void ClearReadOnly(const wchar_t* path) {
    DWORD attributes = GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        SetFileAttributesW(path, attributes & ~FILE_ATTRIBUTE_READONLY);
    }
}

void TraceFailure(NTSTATUS status) {
    if (!NT_SUCCESS(status)) {
        TraceSystemError(gErrorOf(status));
    }
}

bool WaitToRetry(DWORD* wait) {
    return WaitWithin(wait, &gRetryTimeLeft);
}

// Whether a failure is another handle's hold, which ends: the one kind that is waited out.
static bool WaitOutHold(NTSTATUS status, DWORD* wait) {
    return status == kStatusSharingViolation && WaitToRetry(wait);
}

bool IsDeletePending() {
    return gOpenStatus == kStatusDeletePending;
}

DWORD LinkAttributes(DWORD attributes, DWORD reparseTag) {
    // No reparse point has the tag 0: it says that the tag is not known.
    bool other = reparseTag != 0 && !IsReparseTagNameSurrogate(reparseTag);
    return other ? attributes & ~FILE_ATTRIBUTE_REPARSE_POINT : attributes;
}

// Reads the attributes an open handle shows, the reparse bit for links only where the file system
// tells the tag, and for every reparse point where it does not.
static bool ReadAttributes(HANDLE file, DWORD* attributes) {
    IO_STATUS_BLOCK io;
    if (!gBasicAttributes) {
        FILE_ATTRIBUTE_TAG_INFO tag;
        if (NT_SUCCESS(
                gQueryInformation(file, &io, &tag, sizeof(tag), FileAttributeTagInformation))) {
            *attributes = LinkAttributes(tag.FileAttributes, tag.ReparseTag);
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

bool ReadEntry(HANDLE file, DWORD* attributes, LONGLONG* id) {
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

void ClearReadOnlyOf(HANDLE file, DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        WriteAttributes(file, attributes & ~FILE_ATTRIBUTE_READONLY);
    }
}

// Whether the entry is gone or on its way out: deleted now, deleted already and waiting for
// others' handles to close, or deleted by another process since it was opened.
static bool IsGone(NTSTATUS status) {
    return NT_SUCCESS(status) || status == kStatusDeletePending || status == kStatusFileDeleted;
}

// The answers to the deletion at once that tell how the entry itself stands. Any other answer
// comes from a system, file system or redirector that does not know that deletion, in whatever
// words it has for that.
static bool IsFinalAnswer(NTSTATUS status) {
    return IsGone(status) || status == kStatusSharingViolation || status == kStatusAccessDenied ||
           status == kStatusCannotDelete || status == kStatusDirectoryNotEmpty;
}

// A file system that deletes at once but does not know the flag that ignores the read-only bit
// refuses a read-only entry: that entry alone goes the classic way, its bit cleared first.
static bool IsReadOnlyRefusal(NTSTATUS status, DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
           (status == kStatusCannotDelete || status == kStatusAccessDenied);
}

static bool HasOtherNames(HANDLE file) {
    FILE_STANDARD_INFO standard;
    IO_STATUS_BLOCK io;
    return NT_SUCCESS(gQueryInformation(file, &io, &standard, sizeof(standard),
                                        FileStandardInformation)) &&
           standard.NumberOfLinks > 1;
}

// Where a path goes on after the prefix of its form: a share's path (\\server\share\a, literal
// \\?\UNC\server\share\a) after its two backslashes or "UNC\", a drive's (C:\a) after the literal
// prefix, if any.
static const wchar_t* AfterPrefix(const wchar_t* path) {
    if (_wcsnicmp(path, L"\\\\?\\UNC\\", 8) == 0) {
        return path + 8;
    }
    if (wcsncmp(path, L"\\\\", 2) != 0) {
        return path;
    }
    return path + (path[2] == L'?' ? 4 : 2);
}

// Finds a name of the file path names, other than path, into gOtherName: the system gives the
// names without their volume's root, which path begins with. Empty when none can be had.
static void FindOtherName(const wchar_t* path) {
    FindFirstNameCall findFirst =
        reinterpret_cast<FindFirstNameCall>(SystemProcedure(L"kernel32.dll", "FindFirstFileNameW"));
    FindNextNameCall findNext =
        reinterpret_cast<FindNextNameCall>(SystemProcedure(L"kernel32.dll", "FindNextFileNameW"));
    if (findFirst == NULL || findNext == NULL || !VolumeRootOf(path, gOtherName)) {
        gOtherName[0] = L'\0';
        return;
    }
    // The root may come in another form than path's (\\server\share\ for \\?\UNC\server\share\a,
    // C:\ for \\?\C:\a); it is taken as path spells it, without its closing backslash.
    const wchar_t* volume = AfterPrefix(gOtherName);
    const wchar_t* afterPrefix = AfterPrefix(path);
    int volumeLength = static_cast<int>(wcslen(volume)) - 1;
    bool found = volumeLength > 0 && _wcsnicmp(afterPrefix, volume, volumeLength) == 0;
    int root = static_cast<int>(afterPrefix - path) + volumeLength;
    memcpy(gOtherName, path, root * sizeof(WCHAR));
    const WCHAR* own = path + root;
    DWORD capacity = kPathSize - root;
    HANDLE names = found ? findFirst(path, 0, &capacity, gOtherName + root) : INVALID_HANDLE_VALUE;
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
static NTSTATUS DisposeClassic(HANDLE file, const wchar_t* path, DWORD attributes) {
    bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    bool otherNames = readOnly && HasOtherNames(file);
    if (otherNames) {
        FindOtherName(path);
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
static NTSTATUS Dispose(HANDLE file, const wchar_t* path, DWORD attributes) {
    if (!gClassicDeletion) {
        ULONG flags = kPosixDeletion;
        IO_STATUS_BLOCK io;
        NTSTATUS status =
            gSetInformation(file, &io, &flags, sizeof(flags), kFileDispositionInformationEx);
        if (IsFinalAnswer(status) && !IsReadOnlyRefusal(status, attributes)) {
            return status;
        }
        gClassicDeletion = !IsFinalAnswer(status);
    }
    return DisposeClassic(file, path, attributes);
}

// Opens entry as itself, a link and not its target, with access, sharing and further options;
// the system's answer in gOpenStatus, and as the last error where the open fails.
static HANDLE OpenAsItself(const EntryName& entry, DWORD access, DWORD sharing, ULONG options) {
    UNICODE_STRING name;
    name.Buffer = const_cast<PWSTR>(entry.name);
    name.Length = static_cast<USHORT>(entry.nameLength * sizeof(WCHAR));
    name.MaximumLength = name.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, entry.folder, NULL);
    HANDLE opened;
    IO_STATUS_BLOCK io;
    gOpenStatus = gCreateFile(&opened, access | FILE_READ_ATTRIBUTES | SYNCHRONIZE, &attributes,
                              &io, NULL, 0, sharing, FILE_OPEN,
                              FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT |
                                  FILE_SYNCHRONOUS_IO_NONALERT | options,
                              NULL, 0);
    if (!NT_SUCCESS(gOpenStatus)) {
        SetLastError(gErrorOf(gOpenStatus));
        return INVALID_HANDLE_VALUE;
    }
    return opened;
}

// Whether the open that just failed asked for the change of attributes that the entry's
// permissions refuse: it may still grant the deletion.
static bool IsAttributeChangeRefused(DWORD access) {
    return gOpenStatus == kStatusAccessDenied && (access & FILE_WRITE_ATTRIBUTES) != 0;
}

// The same, for deletion: without the change of attributes where that is refused, and waiting
// out another handle's hold within the budget.
static HANDLE OpenForDeletion(const EntryName& entry, DWORD access, DWORD sharing) {
    DWORD wait = kFirstRetryWait;
    for (;;) {
        HANDLE opened = OpenAsItself(entry, DELETE | access, sharing, 0);
        if (opened != INVALID_HANDLE_VALUE) {
            return opened;
        }
        if (IsAttributeChangeRefused(access)) {
            access &= ~FILE_WRITE_ATTRIBUTES;
        } else if (!WaitOutHold(gOpenStatus, &wait)) {
            return INVALID_HANDLE_VALUE;
        }
    }
}

// A plain file goes by its name where only the classic deletion is to be had, as the system's
// own deletion by name takes it: opened to be deleted when its handle closes. False when it stays.
static bool DeleteByName(const EntryName& entry) {
    DWORD wait = kFirstRetryWait;
    for (;;) {
        HANDLE file =
            OpenAsItself(entry, DELETE, kShareAll, FILE_DELETE_ON_CLOSE | FILE_NON_DIRECTORY_FILE);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            return true;
        }
        if (IsDeletePending()) {
            return true;
        }
        if (!WaitOutHold(gOpenStatus, &wait)) {
            return false;
        }
    }
}

// An entry goes through one handle to the entry itself, when it is still the entry listed. A link
// goes only when the handle shows the link itself: a link's target lies outside the staged tree,
// and a handle that shows the target instead (some emulations open the target whatever is asked)
// would delete the target, so then the link stays. False when the entry stays.
static bool DeleteThroughHandle(const EntryName& name, LONGLONG listedId, bool link) {
    HANDLE entry = OpenForDeletion(name, FILE_WRITE_ATTRIBUTES, kShareAll);
    if (entry == INVALID_HANDLE_VALUE) {
        return IsDeletePending();
    }
    DWORD attributes;
    bool itself = IsListedEntry(entry, listedId, &attributes) &&
                  (!link || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0);
    bool deleted = itself && IsGone(Dispose(entry, name.path, attributes));
    CloseHandle(entry);
    GiveBackReadOnly();
    if (!itself) {
        Trace("Entry kept: it cannot be told from a link's target\r\n");
    }
    return deleted;
}

HANDLE OpenFolderToEmpty(const EntryName& entry, bool* removable) {
    DWORD access = FILE_LIST_DIRECTORY | FILE_WRITE_ATTRIBUTES;
    const DWORD sharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE folder = OpenAsItself(entry, access | DELETE, sharing, 0);
    if (folder == INVALID_HANDLE_VALUE && IsAttributeChangeRefused(access)) {
        access = FILE_LIST_DIRECTORY;
        folder = OpenAsItself(entry, access | DELETE, sharing, 0);
    }
    *removable = folder != INVALID_HANDLE_VALUE;
    if (!*removable && gOpenStatus == kStatusSharingViolation) {
        // Another handle denies deletion (a process's current folder, or a hold for a moment):
        // what the folder holds can go all the same, and the folder is tried again once empty.
        folder = OpenAsItself(entry, access, sharing, 0);
    }
    return folder;
}

// A folder held without delete access, now empty, opened again with it: another handle denied
// that access, and may have been closed since. Only the folder that was emptied is taken; false,
// with *folder INVALID_HANDLE_VALUE, when it cannot be had.
static bool ReopenForDeletion(HANDLE* folder, const EntryName& entry, LONGLONG id) {
    CloseHandle(*folder);
    if (gBeforeReopeningFolder != NULL) {
        gBeforeReopeningFolder(entry.path);
    }
    *folder = OpenForDeletion(entry, FILE_LIST_DIRECTORY | FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE);
    DWORD attributes;
    bool removable = *folder != INVALID_HANDLE_VALUE && IsListedEntry(*folder, id, &attributes) &&
                     (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    if (!removable) {
        CloseHandle(*folder);
        *folder = INVALID_HANDLE_VALUE;
    }
    return removable;
}

LONG DeleteEmptiedFolder(HANDLE* folder, bool* removable, const EntryName& entry, LONGLONG id) {
    if (!*removable) {
        *removable = ReopenForDeletion(folder, entry, id);
        if (!*removable) {
            return kStatusSharingViolation;
        }
    }
    return Dispose(*folder, entry.path, 0);
}

bool IsNotYetEmpty(LONG status) {
    return status == kStatusDirectoryNotEmpty;
}

// A plain file goes by its name once the system has shown that it deletes only the classic way;
// the rest goes through its handle.
bool DeleteFileOrLink(const EntryName& entry, LONGLONG listedId, DWORD listedAttributes) {
    bool link = (listedAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (gClassicDeletion && !link && (listedAttributes & FILE_ATTRIBUTE_READONLY) == 0) {
        return DeleteByName(entry);
    }
    return DeleteThroughHandle(entry, listedId, link);
}
