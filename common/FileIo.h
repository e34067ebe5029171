#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace velth {

// Reads a whole file. Throws velth::Error naming the file when it cannot be
// opened or read.
std::string readFile(const std::string& path);

// Reads a whole file, or nothing when it does not exist. Other failures throw.
std::optional<std::string> readFileIfExists(const std::string& path);

// Replaces (or creates) a file as a whole: the bytes go to a temporary file in
// the same folder, which is flushed to disk and then renamed over the target.
// A symbolic link is written through: the file it leads to is replaced and the
// link stays. A replaced file keeps its permissions; a new one gets newFileMode
// less the umask. A write-protected target (no write permission for this
// process, or none for anybody) is refused. On failure the previous file is
// untouched, no temporary file is left, and velth::Error names the target file.
// An existing file the user may write in a folder the user may not is
// rewritten in place instead (not atomic).
void writeFileAtomic(const std::string& path, std::string_view bytes, unsigned newFileMode = 0666);

// Where a whole-or-nothing write puts its bytes, piece by piece.
class FileSink
{
public:
    // Throws velth::Error naming the file.
    virtual void write(std::string_view bytes) = 0;

protected:
    ~FileSink() = default;
};

// writeFileAtomic for content made while it is written: produce gets the
// sink and writes the content to it in as many pieces as it likes, so the
// whole content is never held in memory. Everything else as above; an
// exception from produce leaves the previous file untouched too.
void writeFileAtomic(
    const std::string& path, const std::function<void(FileSink&)>& produce, unsigned newFileMode = 0666);

// One replacement of a file as a whole, written through a file descriptor:
// the temporary file beside the file (beside the file a symbolic link leads
// to, so that the link stays) is created at once; commit() flushes it to
// disk, gives it the replaced file's permissions (or newFileMode less the
// umask) and renames it over the file. Until then the file is untouched, and
// an AtomicFile that goes without commit() removes its temporary file.
// Errors throw velth::Error naming the file.
class AtomicFile final : public FileSink
{
public:
    explicit AtomicFile(const std::string& path, unsigned newFileMode = 0666);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // The temporary file, open for writing.
    int fd() const { return m_fd; }
    // The file that commit() replaces.
    const std::string& target() const { return m_target; }
    void write(std::string_view bytes) override;
    void commit();

private:
    std::string m_path;
    std::string m_target;
    int m_fd = -1;
    std::string m_temp;
    unsigned m_newFileMode;
};

// A temporary file name beside the target ("<target>.partXXXXXX"), created
// empty with exclusive access. The caller renames or removes it. When the
// target's name leaves no room for the suffix under the folder's name limit,
// the name is cut (never inside a UTF-8 character) so the temporary fits.
std::string makeTempFileBeside(const std::string& target);

// Whether a file name (no folder) is one of makeTempFileBeside's names:
// something, ".part", six letters or digits.
bool isTempFileName(std::string_view name);

// Removes the regular files of one folder (not of its subfolders, never
// through a symbolic link) that isTempFileName picks: leftovers of a run that
// ended before it could rename or remove them. Returns how many went.
int removeLeftoverTempFiles(const std::string& folder);

// A lock on the program folder that every running copy of the program holds,
// so that a copy can tell whether it is the only one (and may then remove
// leftover temporaries no other copy is still writing). Held until destroyed.
class ProgramFolderLock
{
public:
    // Takes the lock exclusively when no other copy holds it, shared otherwise.
    explicit ProgramFolderLock(const std::string& folder);
    ~ProgramFolderLock();
    ProgramFolderLock(const ProgramFolderLock&) = delete;
    ProgramFolderLock& operator=(const ProgramFolderLock&) = delete;

    // True while no other copy holds the lock (it is held exclusively).
    bool alone() const { return m_alone; }
    // Lets other copies start: from now on the lock is shared.
    void share();

private:
    int m_fd = -1;
    bool m_alone = false;
};

// The permissions a file written over target gets: the target's own when it
// exists, otherwise newFileMode less the process's umask (read without
// changing it, which would affect files other threads create meanwhile).
unsigned replacementMode(const std::string& target, unsigned newFileMode = 0666);

// Renames a finished temporary file over the target; throws naming the target.
void commitTempFile(const std::string& temp, const std::string& target);

bool pathExists(const std::string& path);
bool isDirectory(const std::string& path);

// Creates a folder with any missing parents. Returns false on failure.
bool makeFolders(const std::string& path);

} // namespace velth
