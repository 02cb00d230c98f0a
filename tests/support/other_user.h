// Another user of the machine, as the tests register one in the prefix's profile list, with a
// stand-in for the user's loaded registry hive.
#pragma once

#include <string>

// Lists the user with profile as its profile folder, and its Documents redirected to documents
// (both UTF-8 paths in the sandbox); whatever was registered before is replaced. Without
// documents the user's hive is not loaded, as for most users.
void RegisterOtherUser(const std::string& profile, const std::string& documents);
// Removes the user from the profile list and its hive stand-in.
void UnregisterOtherUser();
