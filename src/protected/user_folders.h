// The folders of every user of the machine, as the system's profile list, the users' loaded
// registry hives and the machine's shared shell folders name them, and the system's own Windows
// directory: a staging root must never be, hold or lie directly in one of them.
#pragma once

#include "../common/common.h"

// Receives one folder, an absolute path that may not exist; owner is a short text naming it
// ("a user's profile"). levels tells how far below it folders are that user's too: 1, a folder
// directly in it; 2, also a folder directly in such a folder. Returning true stops the visit.
typedef bool (*UserFolderVisitor)(const wchar_t* path, const char* owner, int levels,
                                  void* context);

// Calls visit for each folder of every user until it returns true; true when one did. Values
// that are missing, empty, of another type than a text or too long for kPathSize are
// skipped: a folder that cannot be found is not visited.
bool VisitUserFolders(UserFolderVisitor visit, void* context);
