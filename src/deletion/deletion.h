// How one entry of a staged tree goes: opened as itself and taken only while it is still the
// entry listed, deleted at once where the system can and the classic way where it cannot, on
// any file system, and tried again while another handle holds it for a moment, within one
// budget of waits for the whole removal. Nothing outside the entry is changed.
#pragma once

#include "../common/common.h"

// Starts a removal: a new budget of waits, and the system asked anew for the deletion at once
// and the attributes with the reparse tag. False when the system lacks the handle calls.
bool BeginRemoval();
// Waits before something held is tried again; false, without waiting, once the removal's budget
// is spent. wait starts at kFirstRetryWait and grows with every call.
bool WaitToRetry(DWORD* wait);

// Opens the folder path names, without entering it: as itself if it is a link, and held so that
// nobody can rename or delete it while it is emptied. *removable is false where another handle
// denies deletion: the folder is then opened without delete access, and tried again once empty.
HANDLE OpenFolderToEmpty(const wchar_t* path, bool* removable);
// Reads the attributes and the identity on its volume that an open handle shows.
bool ReadEntry(HANDLE entry, DWORD* attributes, LONGLONG* id);
// Clears the read-only bit of the attributes an open handle showed.
void ClearReadOnlyOf(HANDLE entry, DWORD attributes);
// Whether the call that just failed met an entry already deleted, which goes once the handles
// others hold on it close: it counts as deleted.
bool IsDeletePending();

// Deletes the file or link path names, with the identity and attributes its listing showed; a
// link goes only where a handle shows the link itself. False when it stays.
bool DeleteFileOrLink(const wchar_t* path, LONGLONG listedId, DWORD listedAttributes);
// Deletes the emptied folder that *folder holds, path with identity id. Where it was held without
// delete access, *folder is closed and the folder opened anew, and taken only when it is still
// that folder (*removable then true; *folder INVALID_HANDLE_VALUE when it cannot be had).
// Returns the system's status.
LONG DeleteEmptiedFolder(HANDLE* folder, bool* removable, const wchar_t* path, LONGLONG id);
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
