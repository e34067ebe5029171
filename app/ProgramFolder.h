#pragma once

#include <string>

namespace velth {

// The name of the program's own folder under the user's data folder and under
// the installed data folder (<prefix>/share).
inline constexpr const char* kDataFolderName = "velth-control-center";

// The user's data folder for the program, without a trailing '/':
// $XDG_DATA_HOME/velth-control-center when XDG_DATA_HOME is an absolute path,
// else $HOME/.local/share/velth-control-center. Empty when neither gives an
// absolute path. Either argument may be null (variable not set).
std::string userDataFolder(const char* xdgDataHome, const char* home);

// The installed data folder beside an installed executable's folder
// (<prefix>/bin/ -> <prefix>/share/velth-control-center), without a trailing
// '/'. It holds the default map list.
std::string installedDataFolder(const std::string& exeFolder);

// Picks the folder every local path is built from, with a trailing '/'.
// The executable's folder (portable use) when it holds an ftpserver.ini this
// user may write, or when the user may write to the folder itself and it is
// not an installed copy (one with its installed data folder beside it).
// Otherwise the user's data folder, which is created when missing (readable
// by this user alone) and given a
// copy of the default map list (the installed one, else the one beside the
// executable) when it has none. Creation and copy
// failures are not raised here: the first use of the folder reports them.
// An empty userFolder keeps the executable's folder.
std::string chooseProgramFolder(const std::string& exeFolder, const std::string& userFolder);

} // namespace velth
