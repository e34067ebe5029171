#include "common/FileIo.h"

#include "common/Error.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
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

// The file a path leads to once symbolic links are followed; a link to a
// missing file leads to that file's path, so writing it creates the target.
std::string followLinks(std::string path)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st
        { };
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return path;
        std::vector<char> buf(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 4095) + 1);
        const ssize_t n = ::readlink(path.c_str(), buf.data(), buf.size());
        if (n < 0 || static_cast<std::size_t>(n) >= buf.size())
            throwFileError("Cannot write file", path, n < 0 ? errno : ENAMETOOLONG);
        std::string target(buf.data(), static_cast<std::size_t>(n));
        if (!target.starts_with('/')) {
            const auto slash = path.rfind('/');
            target = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + target;
        }
        path = std::move(target);
    }
    throwFileError("Cannot write file", path, ELOOP);
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

namespace {

// makeTempFileBeside's file, left open: its descriptor in *fd.
std::string createTempFileBeside(const std::string& target, int* fd)
{
    static constexpr std::string_view kSuffix = ".partXXXXXX";
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
    const long limit = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    const std::size_t room = (limit > 32 ? static_cast<std::size_t>(limit) : 255) - kSuffix.size();
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    std::string pattern = target;
    if (target.size() - nameStart > room) {
        // Cut before the UTF-8 character the limit falls inside.
        std::size_t end = nameStart + room;
        while (end > nameStart + 1 && (static_cast<unsigned char>(target[end]) & 0xC0) == 0x80)
            --end;
        pattern.resize(end);
    }
    pattern += kSuffix;
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    *fd = ::mkostemp(buf.data(), O_CLOEXEC);
    if (*fd < 0)
        throwFileError("Cannot create file", target, errno);
    return std::string(buf.data());
}

} // namespace

std::string makeTempFileBeside(const std::string& target)
{
    int fd = -1;
    std::string temp = createTempFileBeside(target, &fd);
    ::close(fd);
    return temp;
}

bool isTempFileName(std::string_view name)
{
    static constexpr std::string_view kPart = ".part";
    constexpr std::size_t kRandom = 6;
    if (name.size() <= kPart.size() + kRandom)
        return false;
    const std::string_view random = name.substr(name.size() - kRandom);
    const bool alnum = std::all_of(random.begin(), random.end(),
        [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); });
    return alnum && name.substr(name.size() - kRandom - kPart.size(), kPart.size()) == kPart;
}

int removeLeftoverTempFiles(const std::string& folder)
{
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return 0;
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (!isTempFileName(entry->d_name))
            continue;
        struct stat st
        { };
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)
            && ::unlinkat(::dirfd(dir), entry->d_name, 0) == 0)
            ++removed;
    }
    ::closedir(dir);
    return removed;
}

ProgramFolderLock::ProgramFolderLock(const std::string& folder)
    : m_fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
{
    if (m_fd < 0)
        return;
    m_alone = ::flock(m_fd, LOCK_EX | LOCK_NB) == 0;
    // Another copy holds it: shared or, for the moment of its own clean-up,
    // exclusive; waiting for that moment is short.
    if (!m_alone)
        ::flock(m_fd, LOCK_SH);
}

ProgramFolderLock::~ProgramFolderLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void ProgramFolderLock::share()
{
    if (m_fd >= 0 && m_alone)
        ::flock(m_fd, LOCK_SH | LOCK_NB);
    m_alone = false;
}

unsigned replacementMode(const std::string& target, unsigned newFileMode)
{
    struct stat st
    { };
    if (::stat(target.c_str(), &st) == 0)
        return st.st_mode & 07777;
    mode_t mask = 022;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("Umask:", 0) == 0) {
            mask = static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
            break;
        }
    }
    return newFileMode & 07777 & ~mask;
}

void commitTempFile(const std::string& temp, const std::string& target)
{
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        throwFileError("Cannot write file", target, err);
    }
}

AtomicFile::AtomicFile(const std::string& path, unsigned newFileMode)
    : m_path(path)
    , m_target(followLinks(path))
    , m_temp(createTempFileBeside(m_target, &m_fd))
    , m_newFileMode(newFileMode)
{ }

AtomicFile::~AtomicFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_temp.empty())
        ::unlink(m_temp.c_str());
}

void AtomicFile::write(std::string_view bytes)
{
    if (m_fd < 0 || !writeAll(m_fd, bytes))
        throwFileError("Cannot write file", m_path, m_fd < 0 ? EBADF : errno);
}

void AtomicFile::commit()
{
    if (m_fd < 0)
        throwFileError("Cannot write file", m_path, EBADF);
    int err = ::fsync(m_fd) != 0 ? errno : 0;
    if (err == 0)
        ::fchmod(m_fd, replacementMode(m_target, m_newFileMode));
    if (::close(std::exchange(m_fd, -1)) != 0 && err == 0)
        err = errno;
    if (err == 0 && ::rename(m_temp.c_str(), m_target.c_str()) != 0)
        err = errno;
    if (err != 0)
        throwFileError("Cannot write file", m_path, err);
    m_temp.clear();
}

namespace {

// Writes straight into the file, through its descriptor.
class InPlaceSink final : public FileSink
{
public:
    InPlaceSink(const std::string& path, int fd)
        : m_path(path)
        , m_fd(fd)
    { }
    void write(std::string_view bytes) override
    {
        if (!writeAll(m_fd, bytes))
            throwFileError("Cannot write file", m_path, errno);
    }

private:
    const std::string& m_path;
    int m_fd;
};

void writeInPlace(const std::string& path, const std::function<void(FileSink&)>& produce)
{
    Fd f;
    f.fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (f.fd < 0)
        throwFileError("Cannot write file", path, errno);
    InPlaceSink sink(path, f.fd);
    produce(sink);
    int err = ::fsync(f.fd) != 0 ? errno : 0;
    if (::close(std::exchange(f.fd, -1)) != 0 && err == 0)
        err = errno;
    if (err != 0)
        throwFileError("Cannot write file", path, err);
}

} // namespace

void writeFileAtomic(const std::string& path, const std::function<void(FileSink&)>& produce, unsigned newFileMode)
{
    const std::string target = followLinks(path);
    struct stat existing
    { };
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    // Renaming over a file needs only the folder's permission; the file's own
    // protection is honoured here.
    if (exists && (::access(target.c_str(), W_OK) != 0 || (existing.st_mode & 0222) == 0))
        throwFileError("Cannot write file", path, EACCES);
    // A portable copy in a folder the user may not write can still hold a
    // profile store the user may: no temporary file can be made beside it,
    // so its content is replaced in place.
    const std::string folder = std::filesystem::path(target).parent_path().string();
    if (exists && !folder.empty() && ::access(folder.c_str(), W_OK) != 0 && errno == EACCES) {
        writeInPlace(target, produce);
        return;
    }
    AtomicFile file(path, newFileMode);
    produce(file);
    file.commit();
}

void writeFileAtomic(const std::string& path, std::string_view bytes, unsigned newFileMode)
{
    writeFileAtomic(
        path, [bytes](FileSink& sink) { sink.write(bytes); }, newFileMode);
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
