#pragma once

#include <QFrame>

#include <functional>
#include <string>
#include <vector>

class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace velth {

class AppContext;
class ChatView;
class ChatViews;
class FtpClient;
struct FtpResult;
class LiveLog;
class LogFetch;
class LocalFileList;
class PlayerSearch;

// The Chat parser page: lists a server's logs over a connection kept open from
// Connect to Disconnect, downloads them into the logs folder and scans them;
// scans and deletes local logs; saves the chats as RTF documents.
class TchatFrame final : public QFrame
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TchatFrame)

public:
    explicit TchatFrame(AppContext& context, QWidget* parent = nullptr);
    // Fills the server selector, as the main window does once at start-up.
    void setProfileNames(const std::vector<std::string>& names);
    // The folder of the downloaded logs: the Local Files list and its caption.
    void setLogsFolder(const std::string& folder);
    ~TchatFrame() override;

    // The handlers of the page.
    void BConnectClick();
    void FTPFilesDblClick();
    void BDisconnectClick();
    void LocalFilesDblClick();
    // Local Files menu: deletes the selected log after asking.
    void DeleteFile1Click();
    // Public Chat menu: saves the public chat as RTF.
    void SaveChatas1Click();
    // T Chat menu: saves the Terrorist team chat as RTF.
    void MenuItem1Click();
    // CT Chat menu: saves the Counter-Terrorist team chat as RTF.
    void MenuItem2Click();
    // Ends the running listing or download.
    void BCancelClick();
    // The new and changed logs of the servers checked in FetchResults (of
    // all when none is checked), each into the profile's own folder under
    // the logs folder; the player search then spans them.
    void BFetchNewClick();
    void BFetchCancelClick();

    // Scans a log of the logs folder into the views (a bare file name).
    void ScanLog(const QString& fileName);

    // Where the page's connection stands. Connecting: from the connect to
    // the end of the first listing; Transferring: a listing, download or
    // liveness check on the open connection.
    enum class State { Idle, Connecting, Transferring, Connected };
    State state() const { return m_state; }
    // True while a connect, listing or download of this page runs.
    bool isTransferring() const { return m_state == State::Connecting || m_state == State::Transferring; }

    QTabWidget* MainControl = nullptr;
    QWidget* DownloadTab = nullptr;
    QWidget* LocalFileTab = nullptr;
    QTreeWidget* FTPFiles = nullptr;
    QLabel* ServerLabel = nullptr;
    QComboBox* FTPServer = nullptr;
    QPushButton* BConnect = nullptr;
    QPushButton* BDownload = nullptr;
    QPushButton* BDisconnect = nullptr;
    QGroupBox* LocalBox = nullptr;
    LocalFileList* LocalFiles = nullptr;
    QMenu* LocalFileMenu = nullptr;
    QAction* DeleteFile1 = nullptr;
    QMenu* PublicMenu = nullptr;
    QAction* SaveChatas1 = nullptr;
    QMenu* TMenu = nullptr;
    QAction* MenuItem1 = nullptr;
    QMenu* CTMenu = nullptr;
    QAction* MenuItem2 = nullptr;
    // What a running download shows: its progress and a way to cancel it.
    QWidget* TransferBar = nullptr;
    QLabel* TransferLabel = nullptr;
    QProgressBar* TransferProgress = nullptr;
    QPushButton* BCancel = nullptr;

    ChatViews* Views = nullptr;
    // The server's log as it happens (on the Download tab).
    LiveLog* Live = nullptr;
    // Finds a player in the local logs, below LocalFiles.
    PlayerSearch* Search = nullptr;
    FtpClient* IdFTP1 = nullptr;
    QPushButton* BFetchNew = nullptr;
    QPushButton* BFetchCancel = nullptr;
    QWidget* FetchBar = nullptr;
    QTreeWidget* FetchResults = nullptr;
    LogFetch& logFetch() { return *m_fetch; }

private:
    void buildDownloadTab();
    void buildLocalFileTab();
    void attachChatMenu(ChatView* view, QMenu* menu);
    void saveChat(const ChatView* view);

    void startConnect(const std::string& profile);
    void listLogs(bool withPattern);
    void showListing(const std::vector<std::string>& lines);

    void beginTransfer(const QString& what, qint64 knownSize);
    void endTransfer();
    void showProgress(qint64 done, qint64 total);
    // After a failed operation: the page follows the client's connection,
    // and the error goes to the general error report (a cancelled transfer
    // only sets its status text).
    void failed(const FtpResult& result);
    void showFetchRow(int row);
    void fetchFinished();

    AppContext& m_context;
    LogFetch* m_fetch = nullptr;
    std::vector<std::string> m_profiles;
    // The FetchResults row of each row of the running fetch.
    std::vector<QTreeWidgetItem*> m_fetchItems;
    State m_state = State::Idle;
    qint64 m_knownSize = -1;
    QString m_transferName;
    std::string m_remoteFolder;
    QString m_lastChatFile;
};

} // namespace velth
