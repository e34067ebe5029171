#pragma once

#include <string>

namespace velth::test {

// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes (write bits are restored first).
class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder, with a trailing '/'.
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + name; }

    void write(const std::string& name, const std::string& bytes) const;
    std::string read(const std::string& name) const;
    bool exists(const std::string& name) const;
    // The permission bits of a file or folder in it (0777 at most).
    unsigned mode(const std::string& name) const;

private:
    std::string m_path;
};

// A program folder for the main window: a temporary folder holding a copy of
// the default map list unless told otherwise.
class ProgramFolder : public TempDir
{
public:
    explicit ProgramFolder(bool withMapList = true);
};

// Whether this process can be kept out of a folder by its permissions (root
// ignores them, so tests of write failures are skipped for root).
bool permissionsApply();

// Limits the size of files this process may write, so that a write fails
// even for root (with EFBIG); restores the limit when it goes.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(unsigned long long bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    unsigned long long m_oldLimit = 0;
    void (*m_oldHandler)(int) = nullptr;
};

} // namespace velth::test
