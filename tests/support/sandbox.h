// Folders and files for tests, all under the sandbox drive that the test prefix maps. Texts
// and paths are UTF-8, so that names in any script can be written and compared; the helpers
// reach the file system through the wide calls.
#pragma once

#include <string>

std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);

// A new, empty folder S:\<area>\<name>\ (with the trailing backslash); what was there is gone.
std::string FreshFolder(const std::string& area, const std::string& name);
// Creates the folders of path that are missing.
void MakeFolders(const std::string& path);
void WriteFile(const std::string& path, const std::string& content = "x");
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
void SetReadOnly(const std::string& path);
bool CopyTo(const std::string& from, const std::string& to);
// The value of an environment variable, empty when it is not set.
std::string Environment(const std::string& name);
void SetEnvironment(const std::string& name, const std::string& value);
// The folder that holds the test programs and the programs under test, with a backslash.
std::string ProgramFolder();
// Removes a tree with the test's own code, for setting up.
void RemoveAll(const std::string& path);
// The Clone's temporary copies (Del*.tmp) in folder (with a trailing backslash). The system
// removes a copy a moment after the last process holding it has ended, so this waits up to five
// seconds for them to go.
int CountTemporaryCopies(const std::string& folder);
// Loads the argument vector from the given command line.
void UseCommandLine(const std::string& commandLine);
