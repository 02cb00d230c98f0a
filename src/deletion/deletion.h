// How one entry of a staged tree goes: opened as itself, by its name in the folder the walk
// holds, and taken only while it is still the entry listed, deleted at once where the system can
// and the classic way where it cannot, on any file system, and tried again while another handle
// holds it for a moment, within one budget of waits for the whole removal. Nothing outside the
// entry is changed.
#pragma once

#include "../common/common.h"

// An entry as it is opened: by its name in the folder that holds it, whose open handle keeps any
// path above from leading elsewhere; the root, which no held folder holds, by its full path in the
// system's own form (\??\C:\a\, with no folder). path is the entry's full path in literal form,
// for the calls that take nothing but paths.
struct EntryName {
    HANDLE folder;
    const wchar_t* name;
    int nameLength;
    const wchar_t* path;
};

// Starts a removal: a new budget of waits, and the system asked anew for the deletion at once
// and the attributes with the reparse tag. False when the system lacks the handle calls.
bool BeginRemoval();
// Waits before something held is tried again; false, without waiting, once the removal's budget
// is spent. wait starts at kFirstRetryWait and grows with every call.
bool WaitToRetry(DWORD* wait);

// Opens the folder entry names, without entering it: as itself if it is a link, and held so that
// nobody can rename or delete it while it is emptied. *removable is false where another handle
// denies deletion: the folder is then opened without delete access, and tried again once empty.
// Where its permissions refuse the change of its attributes, it is opened without that right.
HANDLE OpenFolderToEmpty(const EntryName& entry, bool* removable);
// The attributes as the walk reads them: the reparse bit marks a link (a name surrogate such as a
// symbolic link, a junction or a mount point) and nothing else. A reparse point of another kind
// (a sync client's placeholder, a deduplicated or compressed file) is the folder or file it is;
// where no tag is known (a tag of 0, which Wine's listings give), every reparse point is taken for
// a link.
DWORD LinkAttributes(DWORD attributes, DWORD reparseTag);
// Reads the attributes, as LinkAttributes gives them, and the identity on its volume that an open
// handle shows.
bool ReadEntry(HANDLE entry, DWORD* attributes, LONGLONG* id);
// Clears the read-only bit of the attributes an open handle showed.
void ClearReadOnlyOf(HANDLE entry, DWORD attributes);
// Whether the call that just failed met an entry already deleted, which goes once the handles
// others hold on it close: it counts as deleted.
bool IsDeletePending();

// Deletes the file or link entry names, with the identity and attributes (as LinkAttributes gives
// them) its listing showed; a link goes only where a handle shows the link itself. An entry whose
// permissions grant its deletion but refuse the change of its attributes goes where no bit needs
// clearing. False when it stays.
bool DeleteFileOrLink(const EntryName& entry, LONGLONG listedId, DWORD listedAttributes);
// Deletes the emptied folder that *folder holds, entry with identity id. Where it was held without
// delete access, *folder is closed and the folder opened anew, and taken only when it is still
// that folder (*removable then true; *folder INVALID_HANDLE_VALUE when it cannot be had).
// Returns the system's status.
LONG DeleteEmptiedFolder(HANDLE* folder, bool* removable, const EntryName& entry, LONGLONG id);
// Whether a folder's deletion failed because something is still listed in it.
bool IsNotYetEmpty(LONG status);
// Traces the system's text for a status that is not a success.
void TraceFailure(LONG status);

// Clears the read-only attribute of path, keeping every other attribute.
void ClearReadOnly(const wchar_t* path);

// Called, when set, with the path of a folder emptied while another handle denied its deletion,
// just before it is opened again to delete it. Only tests set it.
extern void (*gBeforeReopeningFolder)(const wchar_t* folder);

// Stands in, when set, for the system's call that changes and deletes entries through their
// handles (ntdll's NtSetInformationFile: handle, status block, information, its length, its
// class), from the next removal on. Only tests set it.
typedef LONG(WINAPI* SetInformationCall)(HANDLE, void*, void*, ULONG, int);
extern SetInformationCall gSetInformationStandIn;
// Stands in, when set, for the system's call that reads what an entry is through its handle
// (ntdll's NtQueryInformationFile, of the same shape), from the next removal on. Only tests set
// it.
extern SetInformationCall gQueryInformationStandIn;
