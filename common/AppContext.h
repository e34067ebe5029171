#pragma once

#include <QString>

#include <string>

namespace velth {

class ProfileStore;
class Prompts;

// The one-line status text of the main window. Pages replace it whole.
class StatusLine
{
public:
    virtual ~StatusLine() = default;
    virtual void setStatus(const QString& text) = 0;
    virtual QString status() const = 0;
};

// What every page is handed: the program folder and the paths built from it,
// the profile store (owned by the caller, normally the main window; it is the
// file profileStoreFile() names), the prompts and the status line.
class AppContext
{
public:
    // programFolder: the folder of the executable; a trailing '/' is added
    // when missing. Nothing is ever resolved against the current directory.
    AppContext(std::string programFolder, ProfileStore& store, Prompts& prompts, StatusLine& status);

    const std::string& programFolder() const { return m_programFolder; }
    std::string logsFolder() const { return m_programFolder + "logs"; }
    std::string cfgsFolder() const { return m_programFolder + "cfgs"; }
    std::string mapListFile() const { return m_programFolder + "mapcycle.txt"; }
    std::string profileStoreFile() const { return m_programFolder + "ftpserver.ini"; }
    // The local server copy folder of a profile, without a trailing '/'.
    std::string profileFolder(const std::string& profile) const { return cfgsFolder() + "/" + profile; }
    std::string localCopy(const std::string& profile, const std::string& fileName) const
    {
        return profileFolder(profile) + "/" + fileName;
    }

    ProfileStore& store() { return m_store; }
    Prompts& prompts() { return m_prompts; }
    void setStatus(const QString& text) { m_status.setStatus(text); }
    QString status() const { return m_status.status(); }

private:
    std::string m_programFolder;
    ProfileStore& m_store;
    Prompts& m_prompts;
    StatusLine& m_status;
};

} // namespace velth
