#pragma once

#include "common/AppContext.h"
#include "common/FileIo.h"
#include "profiles/ProfileStore.h"

#include <QWidget>

#include <array>
#include <memory>
#include <string>

class QLabel;

namespace velth {

class Prompts;
class TaboutFrame;
class TCoolButton;
class TCoolForm;
class TTBNArea;
class TcfgFrame;
class TchatFrame;
class TliveFrame;
class TmapcycleFrame;
class TsettingsFrame;
class TuserFrame;

// The program's one window: skinned title, navigation bar, page area, status
// line. It owns the six pages and the Live page, and is the status line every
// page writes.
class TMainForm final : public QWidget, public StatusLine
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TMainForm)

public:
    // programFolder: the folder every local path is built from.
    TMainForm(const std::string& programFolder, Prompts& prompts, QWidget* parent = nullptr);
    ~TMainForm() override;

    AppContext& context() { return m_context; }

    void setStatus(const QString& text) override;
    QString status() const override;

    // Navigation and window commands.
    void BChatClick();
    void BCfgClick();
    void BUserClick();
    void BMapCycleClick();
    void BSettingsClick();
    void BAboutClick();
    void BLiveClick();
    void BHideClick();
    void BExitClick();
    // A left click on the tray icon: shows the window again.
    void TBNArea1LeftClick();
    void TBNArea1AvailableChanged(bool available);
    void HPLabelClick();
    void UpdateLabelClick();
    void FeedbackLabelClick();
    void HelpLabelClick();
    void HPLabelMouseEnter(QLabel* label);
    void HPLabelMouseLeave(QLabel* label);

    // Controls, by the names the program's layout gives them.
    TTBNArea* TBNArea1 = nullptr;
    TCoolForm* TitleBar = nullptr;
    QLabel* LeftBar = nullptr;
    QLabel* StatusBar = nullptr;
    QLabel* TopBar = nullptr;
    QLabel* HPLabel = nullptr;
    QLabel* UpdateLabel = nullptr;
    QLabel* FeedbackLabel = nullptr;
    QLabel* HelpLabel = nullptr;
    QLabel* TopBarLabel = nullptr;
    TCoolButton* BExit2 = nullptr;
    TCoolButton* BHide = nullptr;
    QLabel* StatusLabel = nullptr;
    QWidget* Shape1 = nullptr;
    TCoolButton* BChat = nullptr;
    TCoolButton* BCfg = nullptr;
    TCoolButton* BUser = nullptr;
    TCoolButton* BMapCycle = nullptr;
    TCoolButton* BSettings = nullptr;
    TCoolButton* BAbout = nullptr;
    TCoolButton* BExit = nullptr;
    // The Live page's button: a low one above the others.
    TCoolButton* BLive = nullptr;

    TchatFrame* chatFrame = nullptr;
    TcfgFrame* cfgFrame = nullptr;
    TmapcycleFrame* mapcycleFrame = nullptr;
    TuserFrame* userFrame = nullptr;
    TaboutFrame* aboutFrame = nullptr;
    TsettingsFrame* settingsFrame = nullptr;
    TliveFrame* liveFrame = nullptr;

    static constexpr int kStatusRight = 578;
    static constexpr int kStatusTop = 480;
    // The status text never reaches left of this: the status bar's mark lies there.
    static constexpr int kStatusLeft = 150;
    static const QRect kPageArea;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void FormDestroy();
    void loadMapList();
    void showPage(TCoolButton* button, QWidget* page, const QString& caption);
    void dockPage(QWidget* page);
    QLabel* makeTopLabel(const char* name, const QString& text, int x, int room, bool link);
    TCoolButton* makeNavButton(const char* name, const char* picture, const QString& tip, int y);

    void removeLeftoverTempFiles();

    // The context refers to the store, which is built from the context's path.
    AppContext m_context;
    ProfileStore m_store;
    QString m_status;
    std::unique_ptr<ProgramFolderLock> m_folderLock;
    std::array<TCoolButton*, 7> m_pageButtons{};
};

} // namespace velth
