// What is never removed: the folders of the system and of every user that a staging root must
// never be, hold or lie directly in.
#pragma once

#include "../common/common.h"

// True, with a trace line naming the rule, when folder must be kept: its attributes or identity
// cannot be read, it is a folder link, it is or holds the Windows, system (also as Sysnative) or
// temporary folder, a folder of any user of the machine (profile, application data, programs,
// shell and cloud-sync folders, the profiles folder) or a program files folder, or it lies
// directly in one of them but the temporary folder (or directly in any folder of a cloud-sync
// folder), or it is or lies directly in a volume's root (a drive's, a share's, or a folder the
// volume is mounted in). Paths are compared absolute and canonical, ignoring case, and, where the
// file system tells, by the folders' identity, so that short names, links, substituted drives and
// shares are seen through. A folder of a rule that cannot be found guards nothing. *checked is the
// identity the rules read of folder: the folder they checked, whatever a path names later.
bool IsProtectedFolder(const wchar_t* folder, FileIdentity* checked);
