#include "common/FileIo.h"

#include "common/Error.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velth {
namespace {

struct Fd
{
    int fd = -1;
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

bool writeAll(int fd, std::string_view bytes)
{
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

std::optional<std::string> readFileIfExists(const std::string& path)
{
    Fd f;
    f.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (f.fd < 0) {
        if (errno == ENOENT)
            return std::nullopt;
        throwFileError("Cannot open file", path, errno);
    }
    struct stat st
    { };
    if (::fstat(f.fd, &st) == 0 && S_ISDIR(st.st_mode))
        throwFileError("Cannot open file", path, EISDIR);
    std::string out;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(f.fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throwFileError("Cannot read file", path, errno);
        }
        if (n == 0)
            break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
}

std::string readFile(const std::string& path)
{
    auto content = readFileIfExists(path);
    if (!content)
        throwFileError("Cannot open file", path, ENOENT);
    return std::move(*content);
}

std::string makeTempFileBeside(const std::string& target)
{
    std::string pattern = target + ".partXXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    const int fd = ::mkostemp(buf.data(), O_CLOEXEC);
    if (fd < 0)
        throwFileError("Cannot create file", target, errno);
    ::close(fd);
    return std::string(buf.data());
}

void commitTempFile(const std::string& temp, const std::string& target)
{
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        throwFileError("Cannot write file", target, err);
    }
}

namespace {

void writeInPlace(const std::string& path, std::string_view bytes)
{
    int err = 0;
    Fd f;
    f.fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (f.fd < 0 || !writeAll(f.fd, bytes) || ::fsync(f.fd) != 0) {
        err = errno;
    } else {
        const int fd = f.fd;
        f.fd = -1;
        if (::close(fd) != 0)
            err = errno;
    }
    if (err != 0)
        throwFileError("Cannot write file", path, err);
}

} // namespace

void writeFileAtomic(const std::string& path, std::string_view bytes)
{
    // A portable copy in a folder the user may not write can still hold a
    // profile store the user may: no temporary file can be made beside it,
    // so its content is replaced in place.
    const std::string folder = std::filesystem::path(path).parent_path().string();
    if (!folder.empty() && ::access(folder.c_str(), W_OK) != 0 && errno == EACCES
        && ::access(path.c_str(), W_OK) == 0) {
        writeInPlace(path, bytes);
        return;
    }
    const std::string temp = makeTempFileBeside(path);
    int err = 0;
    {
        Fd f;
        f.fd = ::open(temp.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (f.fd < 0 || !writeAll(f.fd, bytes) || ::fsync(f.fd) != 0)
            err = errno;
        if (err == 0) {
            // Keep the permissions of the file being replaced.
            struct stat st
            { };
            if (::stat(path.c_str(), &st) == 0) {
                ::fchmod(f.fd, st.st_mode & 07777);
            } else {
                const mode_t mask = ::umask(0);
                ::umask(mask);
                ::fchmod(f.fd, 0666 & ~mask);
            }
            const int fd = f.fd;
            f.fd = -1;
            if (::close(fd) != 0)
                err = errno;
        }
    }
    if (err != 0) {
        ::unlink(temp.c_str());
        throwFileError("Cannot write file", path, err);
    }
    commitTempFile(temp, path);
}

bool pathExists(const std::string& path)
{
    struct stat st
    { };
    return ::stat(path.c_str(), &st) == 0;
}

bool isDirectory(const std::string& path)
{
    struct stat st
    { };
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool makeFolders(const std::string& path)
{
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    return isDirectory(path);
}

} // namespace velth
