#include "app/ProgramFolder.h"

#include "common/FileIo.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace velth {

#ifndef VELTH_DATA_FROM_BIN
#define VELTH_DATA_FROM_BIN "../share/velth-control-center"
#endif

namespace {

std::string withSlash(std::string folder)
{
    if (folder.empty() || folder.back() != '/')
        folder.push_back('/');
    return folder;
}

bool absolute(const char* path)
{
    return path != nullptr && path[0] == '/';
}

bool userMayWrite(const std::string& path)
{
    return ::access(path.c_str(), W_OK) == 0;
}

} // namespace

std::string userDataFolder(const char* xdgDataHome, const char* home)
{
    // A relative XDG_DATA_HOME is invalid and ignored, as the base directory
    // rules ask.
    if (absolute(xdgDataHome))
        return withSlash(xdgDataHome) + kDataFolderName;
    if (absolute(home))
        return withSlash(home) + ".local/share/" + kDataFolderName;
    return {};
}

std::string installedDataFolder(const std::string& exeFolder)
{
    const std::filesystem::path data = std::filesystem::path(withSlash(exeFolder)) / VELTH_DATA_FROM_BIN;
    std::string folder = data.lexically_normal().string();
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

std::string chooseProgramFolder(const std::string& exeFolder, const std::string& userFolder)
{
    const std::string exe = withSlash(exeFolder);
    const bool ownStore = pathExists(exe + "ftpserver.ini") && userMayWrite(exe + "ftpserver.ini");
    // An installed copy keeps its users' files out of bin/ even when the user
    // may write there (root, or a prefix in the user's home).
    const std::string installedData = installedDataFolder(exe);
    const bool installed = isDirectory(installedData);
    if (userFolder.empty() || ownStore || (!installed && userMayWrite(exe)))
        return exe;

    const std::string user = withSlash(userFolder);
    if (!isDirectory(userFolder) && makeFolders(userFolder)) {
        // It will hold the profiles with their passwords: for this user alone.
        ::chmod(userFolder.c_str(), 0700);
    }
    if (!pathExists(user + "mapcycle.txt")) {
        // A copy unpacked into a folder the user may not write brings its
        // default list beside the executable.
        const std::string source = installed ? installedData + "/mapcycle.txt" : exe + "mapcycle.txt";
        try {
            writeFileAtomic(user + "mapcycle.txt", readFile(source));
        } catch (const std::exception&) {
            // Start-up reports the missing map list by its own path.
        }
    }
    return user;
}

} // namespace velth
