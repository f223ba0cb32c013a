// Where the program finds and keeps its files on Linux.
#pragma once

#include <string>

namespace gm {

// $XDG_DATA_HOME/GMK (default ~/.local/share/GMK); the folder is not created here.
std::wstring DataFolder();
// The user's configuration: DataFolder() + "/gmk.cfg".
std::wstring UserConfigPath();
// The folder of the running executable.
std::wstring ProgramFolder();
// Read-only resources: ../share/gleanmark beside an installed program, else the program folder.
std::wstring ResourceFolder();
// The default configuration shipped with the program.
std::wstring DefaultConfigPath();
// Creates a folder and its parents; true when it exists afterwards.
bool MakeFolders(const std::wstring& path);

}  // namespace gm
