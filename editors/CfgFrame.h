#pragma once

#include "common/TextCodec.h"

#include <QFrame>

#include <string>
#include <vector>

class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTreeWidget;

namespace velth {

class AppContext;
class FtpClient;
class GroupUpload;

// The CFG updater page: the profile's local configuration files, an editor for
// them, and the upload of one of them as the server's server.cfg behind a
// block that sets the rcon and server passwords; also to many servers at
// once, each with its own profile's passwords, and then "Apply it now" on
// those that took it.
class TcfgFrame final : public QFrame
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TcfgFrame)

public:
    explicit TcfgFrame(AppContext& context, QWidget* parent = nullptr);
    // Fills the server selector, as the main window does once at start-up.
    void setProfileNames(const std::vector<std::string>& names);
    ~TcfgFrame() override;

    // Handlers.
    void FTPServerChange();
    void BEditConfigClick();
    // Edit tab menu: saves the editor's text as a config file the user names.
    void Saveconfig1Click();
    // Config list menu: deletes the selected config file after asking.
    void Deleteconfig1Click();
    void BUploadClick();
    // The selected config to every server checked in GroupServers.
    void BUploadManyClick();
    // exec server.cfg on the servers of the last group upload that took it.
    void BApplyManyClick();

    FtpClient& ftpClient() { return *m_client; }
    GroupUpload& groupUpload() { return *m_group; }

    // Controls, by the names the program's layout gives them.
    QTabWidget* MainControl = nullptr;
    QWidget* UploadTab = nullptr;
    QWidget* cfgTab = nullptr;
    QGroupBox* SelectConfig = nullptr;
    QListWidget* ConfigList = nullptr;
    QFrame* Panel1 = nullptr;
    QLabel* FTPServerLabel = nullptr;
    QComboBox* FTPServer = nullptr;
    QLabel* RconLabel = nullptr;
    QLineEdit* rcon_password = nullptr;
    QLabel* ServerPasswordLabel = nullptr;
    QLineEdit* sv_password = nullptr;
    QPushButton* BUpload = nullptr;
    QGroupBox* GroupBox = nullptr;
    QListWidget* GroupServers = nullptr;
    QPushButton* BUploadMany = nullptr;
    QPushButton* BApplyMany = nullptr;
    QTreeWidget* GroupResults = nullptr;
    QGroupBox* ConfigBox = nullptr;
    QPlainTextEdit* Config = nullptr;
    QAction* Saveconfig1 = nullptr;
    QAction* Deleteconfig1 = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // A password as read from the profile store, so that an untouched edit
    // writes back exactly the bytes it was given.
    struct StoredText
    {
        std::string bytes;
        QString text;
    };
    static std::string editBytes(const QLineEdit* edit, const StoredText& stored);
    std::string selectedConfig() const;
    void buildUploadTab();
    void buildEditTab();
    void buildGroupBox(QWidget* parent);
    void showGroupRow(int row);
    void groupFinished();

    AppContext& m_context;
    FtpClient* m_client = nullptr;
    GroupUpload* m_group = nullptr;
    // The loaded config's path as bytes (the ConfigBox caption shows it) and
    // the encoding its text was decoded with, used again when saving.
    std::string m_configPath;
    TextEncoding m_configEncoding = TextEncoding::Utf8;
    StoredText m_rcon;
    StoredText m_server;
};

} // namespace velth
