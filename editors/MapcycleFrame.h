#pragma once

#include <QFrame>

#include <string>
#include <vector>

class QAction;
class QComboBox;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QTabWidget;

namespace velth {

class AppContext;
class FtpClient;

// The Mapcycle edit page: composes a server's map cycle from the available
// maps and typed names, keeps it as the profile's local mapcycle.txt and moves
// that file to and from the server.
class TmapcycleFrame final : public QFrame
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TmapcycleFrame)

public:
    explicit TmapcycleFrame(AppContext& context, QWidget* parent = nullptr);
    // Fills the server selector, as the main window does once at start-up.
    void setProfileNames(const std::vector<std::string>& names);
    // The list of available maps, one name per entry.
    void setAvailableMaps(const std::vector<std::string>& maps);
    ~TmapcycleFrame() override;

    // Handlers.
    void FTPServerClick();
    void BAddClick();
    void BRemoveClick();
    // Cycle menu: adds a map name the user types to the cycle, unless it is there.
    void Addcustommap1Click();
    void BUploadClick();
    void BDownloadClick();

    // The cycle list's entries as the bytes they are written with.
    std::vector<std::string> cycleEntries() const;

    FtpClient& ftpClient() { return *m_client; }

    // Controls, by the names the program's layout gives them.
    QTabWidget* MainControl = nullptr;
    QWidget* MapCycleTab = nullptr;
    QFrame* MapListPanel = nullptr;
    QListWidget* MapList = nullptr;
    QListWidget* Maps = nullptr;
    QAction* Addcustommap1 = nullptr;
    QFrame* BottomBar = nullptr;
    QLabel* FTPServerLabel = nullptr;
    QComboBox* FTPServer = nullptr;
    QPushButton* BUpload = nullptr;
    QPushButton* BDownload = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildTab();
    void placeBottomBar();
    void appendEntry(const QString& text, const std::string& bytes);
    bool holdsEntry(const QString& text) const;
    // Replaces the cycle list with the local copy. The list is emptied first,
    // so a copy that cannot be read leaves no other server's maps behind.
    void loadLocalCopy(const std::string& profile);

    AppContext& m_context;
    FtpClient* m_client = nullptr;
};

} // namespace velth
