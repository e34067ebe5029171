#include "app/MainForm.h"

#include "app/AboutFrame.h"
#include "app/LinkClick.h"
#include "app/Links.h"
#include "common/ErrorReport.h"
#include "common/FileIo.h"
#include "common/ProfileSelector.h"
#include "common/TextCodec.h"
#include "common/TextLines.h"
#include "common/ToolTip.h"
#include "editors/CfgFrame.h"
#include "editors/MapcycleFrame.h"
#include "editors/UserFrame.h"
#include "live/LiveFrame.h"
#include "loganalysis/ChatFrame.h"
#include "loganalysis/LocalFileList.h"
#include "profiles/SettingsFrame.h"
#include "skin/CoolButton.h"
#include "skin/CoolForm.h"
#include "skin/SkinPicture.h"
#include "skin/TBNArea.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QScreen>
#include <QTabWidget>
#include <QVBoxLayout>

#include <filesystem>

namespace velth {

const QRect TMainForm::kPageArea(63, 47, 522, 425);

namespace {

QPixmap skinPicture(const char* name)
{
    return skinPixmap(QLatin1String(name));
}

void setButtonPicture(TCoolButton* button, const char* name)
{
    button->setGlyph(skinImage(QLatin1String(name), 1));
    button->setGlyph2x(skinImage(QLatin1String(name), 2));
}

QLabel* makeBar(QWidget* parent, const char* name, const char* picture, const QRect& geometry)
{
    auto* bar = new QLabel(parent);
    bar->setObjectName(QLatin1String(name));
    bar->setGeometry(geometry);
    bar->setPixmap(skinPicture(picture));
    return bar;
}

void setTextColor(QWidget* widget, const QColor& color)
{
    QPalette pal = widget->palette();
    pal.setColor(QPalette::WindowText, color);
    widget->setPalette(pal);
}

} // namespace

TMainForm::TMainForm(const std::string& programFolder, Prompts& prompts, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint)
    , m_context(programFolder, m_store, prompts, *this)
    , m_store(m_context.profileStoreFile())
{
    // Only closing this window ends the program: a message box closed while
    // the window is hidden in the notification area must not.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Velth Control Center"));
    setFixedSize(590, 500);
    QFont font = this->font();
    font.setPixelSize(11);
    setFont(font);

    TBNArea1 = new TTBNArea(this);
    TBNArea1->setObjectName(QStringLiteral("TBNArea1"));
    // QIcon picks up the double-size picture beside the plain one.
    TBNArea1->loadIcon(QIcon(QStringLiteral(":/skin/tray.png")));
    TBNArea1->setTip(QStringLiteral("Velth Control Center v1.0"));
    connect(TBNArea1, &TTBNArea::OnLeftClick, this, &TMainForm::TBNArea1LeftClick);
    connect(TBNArea1, &TTBNArea::AvailableChanged, this, &TMainForm::TBNArea1AvailableChanged);

    TitleBar = new TCoolForm(this);
    TitleBar->setObjectName(QStringLiteral("TitleBar"));
    TitleBar->setGeometry(0, 0, 590, 25);
    TitleBar->setPicture(skinPicture("titlebar.png"));
    // The title picture carries no outline: the window stays rectangular.
    TitleBar->loadMask2(QByteArray(4, '\0'));
    LeftBar = makeBar(this, "LeftBar", "leftbar.png", QRect(0, 47, 63, 425));
    StatusBar = makeBar(this, "StatusBar", "statusbar.png", QRect(0, 472, 590, 28));
    TopBar = makeBar(this, "TopBar", "topbar.png", QRect(0, 25, 590, 22));

    // Each link has the room up to the next separator (the last one up to
    // the window's edge).
    HPLabel = makeTopLabel("HPLabel", QStringLiteral("Project HP"), 365, 429 - 365, true);
    UpdateLabel = makeTopLabel("UpdateLabel", QStringLiteral("Updates"), 435, 485 - 435, true);
    FeedbackLabel = makeTopLabel("FeedbackLabel", QStringLiteral("Feedback"), 491, 550 - 491, true);
    HelpLabel = makeTopLabel("HelpLabel", QStringLiteral("Help"), 556, 590 - 556, true);
    new LinkClick(HPLabel, [this] { HPLabelClick(); });
    new LinkClick(UpdateLabel, [this] { UpdateLabelClick(); });
    new LinkClick(FeedbackLabel, [this] { FeedbackLabelClick(); });
    new LinkClick(HelpLabel, [this] { HelpLabelClick(); });
    makeTopLabel("Label1", QStringLiteral("|"), 429, 6, false);
    makeTopLabel("Label2", QStringLiteral("|"), 485, 6, false);
    makeTopLabel("Label3", QStringLiteral("|"), 550, 6, false);

    TopBarLabel = new QLabel(this);
    TopBarLabel->setObjectName(QStringLiteral("TopBarLabel"));
    TopBarLabel->move(10, 30);
    TopBarLabel->setAutoFillBackground(true);
    TopBarLabel->resize(0, 13);

    BExit2 = new TCoolButton(this);
    BExit2->setObjectName(QStringLiteral("BExit2"));
    BExit2->setGeometry(564, 3, 22, 22);
    setButtonPicture(BExit2, "title_exit.png");
    connect(BExit2, &TCoolButton::clicked, this, &TMainForm::BExitClick);
    BHide = new TCoolButton(this);
    BHide->setObjectName(QStringLiteral("BHide"));
    BHide->setGeometry(540, 3, 22, 22);
    setButtonPicture(BHide, "title_hide.png");
    connect(BHide, &TCoolButton::clicked, this, &TMainForm::BHideClick);

    StatusLabel = new QLabel(this);
    StatusLabel->setObjectName(QStringLiteral("StatusLabel"));
    // The status line quotes hosts and file names: never markup.
    StatusLabel->setTextFormat(Qt::PlainText);
    QFont statusFont = font;
    statusFont.setBold(true);
    StatusLabel->setFont(statusFont);
    StatusLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Status texts carry names from servers and files: never markup.
    StatusLabel->setTextFormat(Qt::PlainText);
    setTextColor(StatusLabel, palette().color(QPalette::Base));
    setStatus(QString());

    Shape1 = new QWidget(this);
    Shape1->setObjectName(QStringLiteral("Shape1"));
    Shape1->setGeometry(585, 47, 5, 425);
    Shape1->setAutoFillBackground(true);
    QPalette black = Shape1->palette();
    black.setColor(QPalette::Window, Qt::black);
    Shape1->setPalette(black);

    BChat = makeNavButton("BChat", "btn_chat.png", QStringLiteral("Chat parser"), 74);
    BCfg = makeNavButton("BCfg", "btn_cfg.png", QStringLiteral("CFG updater"), 127);
    BUser = makeNavButton("BUser", "btn_user.png", QStringLiteral("User edit"), 180);
    BMapCycle = makeNavButton("BMapCycle", "btn_mapcycle.png", QStringLiteral("Mapcycle edit"), 233);
    BSettings = makeNavButton("BSettings", "btn_settings.png", QStringLiteral("Settings"), 286);
    BAbout = makeNavButton("BAbout", "btn_about.png", QStringLiteral("About us ..."), 338);
    BExit = makeNavButton("BExit", "btn_exit.png", QStringLiteral("Exit"), 391);
    BLive = makeNavButton("BLive", "btn_live.png", QStringLiteral("Live servers"), 50);
    BLive->resize(50, 20);
    BLive->setNumGlyphs(4);
    m_pageButtons = { BChat, BCfg, BUser, BMapCycle, BSettings, BAbout, BLive };
    connect(BChat, &TCoolButton::clicked, this, &TMainForm::BChatClick);
    connect(BCfg, &TCoolButton::clicked, this, &TMainForm::BCfgClick);
    connect(BUser, &TCoolButton::clicked, this, &TMainForm::BUserClick);
    connect(BMapCycle, &TCoolButton::clicked, this, &TMainForm::BMapCycleClick);
    connect(BSettings, &TCoolButton::clicked, this, &TMainForm::BSettingsClick);
    connect(BAbout, &TCoolButton::clicked, this, &TMainForm::BAboutClick);
    connect(BExit, &TCoolButton::clicked, this, &TMainForm::BExitClick);
    connect(BLive, &TCoolButton::clicked, this, &TMainForm::BLiveClick);

    TBNArea1->Loaded();
    FormCreate();

    // Centred on the screen when first shown.
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

TMainForm::~TMainForm()
{
    FormDestroy();
}

QLabel* TMainForm::makeTopLabel(const char* name, const QString& text, int x, int room, bool link)
{
    auto* label = new QLabel(text, this);
    label->setObjectName(QLatin1String(name));
    QFont f = font();
    f.setPixelSize(12);
    f.setBold(true);
    // Metrics of the classic sans (Arial/Helvetica widths): the links must fit
    // between their separators on the top bar. Where none of these is
    // installed, a wider fallback sans is made smaller until the text fits.
    f.setFamilies({ QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans") });
    label->setFont(f);
    while (label->sizeHint().width() > room && f.pixelSize() > 8) {
        f.setPixelSize(f.pixelSize() - 1);
        label->setFont(f);
    }
    label->setCursor(Qt::PointingHandCursor);
    // The system's window colour, which is white on the usual desktop themes.
    setTextColor(label, palette().color(QPalette::Base));
    label->adjustSize();
    label->move(x, 30);
    if (link)
        label->installEventFilter(this);
    return label;
}

TCoolButton* TMainForm::makeNavButton(const char* name, const char* picture, const QString& tip, int y)
{
    auto* button = new TCoolButton(this);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(8, y, 50, 50);
    setButtonPicture(button, picture);
    button->setToolTip(tip);
    return button;
}

void TMainForm::dockPage(QWidget* page)
{
    page->hide();
    page->setParent(this);
    // The page area already ends where the black strip begins.
    page->setGeometry(kPageArea);
}

void TMainForm::FormCreate()
{
    makeFolders(m_context.logsFolder());
    makeFolders(m_context.cfgsFolder());
    removeLeftoverTempFiles();

    chatFrame = new TchatFrame(m_context, this);
    chatFrame->setObjectName(QStringLiteral("chatFrame"));
    dockPage(chatFrame);
    chatFrame->setLogsFolder(m_context.logsFolder());

    cfgFrame = new TcfgFrame(m_context, this);
    cfgFrame->setObjectName(QStringLiteral("cfgFrame"));
    dockPage(cfgFrame);

    mapcycleFrame = new TmapcycleFrame(m_context, this);
    mapcycleFrame->setObjectName(QStringLiteral("mapcycleFrame"));
    dockPage(mapcycleFrame);
    // A missing map list is reported, and start-up goes on with an empty one.
    runGuarded([this] { loadMapList(); });

    userFrame = new TuserFrame(m_context, this);
    userFrame->setObjectName(QStringLiteral("userFrame"));
    dockPage(userFrame);

    aboutFrame = new TaboutFrame(this);
    dockPage(aboutFrame);
    aboutFrame->centreLogo();
    aboutFrame->setProgramFolder(toDisplay(m_context.programFolder()));

    settingsFrame = new TsettingsFrame(m_context, this);
    settingsFrame->setObjectName(QStringLiteral("settingsFrame"));
    dockPage(settingsFrame);

    liveFrame = new TliveFrame(m_context, this);
    liveFrame->setObjectName(QStringLiteral("liveFrame"));
    dockPage(liveFrame);

    settingsFrame->setProfileNames(m_context.store().profileNames());
    const std::vector<std::string> names = settingsFrame->profileNames();
    chatFrame->setProfileNames(names);
    cfgFrame->setProfileNames(names);
    userFrame->setProfileNames(names);
    mapcycleFrame->setProfileNames(names);
    liveFrame->setProfileNames(names);

    aboutFrame->show();
}

void TMainForm::removeLeftoverTempFiles()
{
    // A run that ended abruptly (a crash, a kill) leaves the temporary file of
    // a download or a save beside the real one. They go at the next start,
    // but only when no other copy of the program runs that may be writing one.
    m_folderLock = std::make_unique<ProgramFolderLock>(m_context.programFolder());
    if (m_folderLock->alone()) {
        std::vector<std::string> folders{ m_context.programFolder(), m_context.logsFolder(), m_context.cfgsFolder() };
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(m_context.cfgsFolder(), ec)) {
            if (entry.is_directory(ec) && !entry.is_symlink(ec))
                folders.push_back(entry.path().string());
        }
        for (const std::string& folder : folders)
            velth::removeLeftoverTempFiles(folder);
    }
    m_folderLock->share();
}

void TMainForm::loadMapList()
{
    mapcycleFrame->setAvailableMaps(splitLines(readFile(m_context.mapListFile())));
}

void TMainForm::FormDestroy()
{
    // The Live page first: its queries and commands end without calling back.
    delete liveFrame;
    liveFrame = nullptr;
    for (QWidget* page :
        std::initializer_list<QWidget*>{ cfgFrame, chatFrame, userFrame, mapcycleFrame, aboutFrame, settingsFrame })
        delete page;
    cfgFrame = nullptr;
    chatFrame = nullptr;
    userFrame = nullptr;
    mapcycleFrame = nullptr;
    aboutFrame = nullptr;
    settingsFrame = nullptr;
}

void TMainForm::setStatus(const QString& text)
{
    m_status = text;
    // A text too long for the room left of the right edge loses its end (a
    // message reads from its start; the tooltip holds it whole), so it never
    // covers the mark at the left of the status bar.
    const int room = kStatusRight - kStatusLeft;
    const QString visible = visibleText(text);
    const QString shown = StatusLabel->fontMetrics().elidedText(visible, Qt::ElideRight, room);
    StatusLabel->setText(shown);
    StatusLabel->setToolTip(shown == visible ? QString() : plainToolTip(visible));
    StatusLabel->adjustSize();
    StatusLabel->resize(std::min(StatusLabel->width(), room), StatusLabel->height());
    StatusLabel->move(kStatusRight - StatusLabel->width(), kStatusTop);
}

QString TMainForm::status() const
{
    return m_status;
}

void TMainForm::showPage(TCoolButton* button, QWidget* page, const QString& caption)
{
    for (TCoolButton* b : m_pageButtons)
        b->setEnabled(b != button);
    for (QWidget* p : std::initializer_list<QWidget*>{
             chatFrame, cfgFrame, userFrame, mapcycleFrame, settingsFrame, aboutFrame, liveFrame })
        p->setVisible(p == page);
    TopBarLabel->setText(caption);
    TopBarLabel->adjustSize();
}

void TMainForm::BChatClick()
{
    showPage(BChat, chatFrame, QStringLiteral("Chat parser"));
}
void TMainForm::BCfgClick()
{
    showPage(BCfg, cfgFrame, QStringLiteral("CFG updater"));
}
void TMainForm::BUserClick()
{
    showPage(BUser, userFrame, QStringLiteral("User edit"));
}
void TMainForm::BMapCycleClick()
{
    showPage(BMapCycle, mapcycleFrame, QStringLiteral("Mapcycle edit"));
}
void TMainForm::BSettingsClick()
{
    showPage(BSettings, settingsFrame, QStringLiteral("Velth Control Center Settings"));
}
void TMainForm::BAboutClick()
{
    showPage(BAbout, aboutFrame, QStringLiteral("About us ..."));
}

void TMainForm::BLiveClick()
{
    showPage(BLive, liveFrame, QStringLiteral("Live servers"));
}

void TMainForm::BHideClick()
{
    // Without a notification area a hidden window could never come back:
    // it goes to the task bar instead.
    if (TBNArea1->Available())
        hide();
    else
        showMinimized();
}

void TMainForm::BExitClick()
{
    close();
}

void TMainForm::TBNArea1LeftClick()
{
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

void TMainForm::TBNArea1AvailableChanged(bool available)
{
    // The icon that would bring a hidden window back has gone with the
    // notification area: the window waits in the task bar instead.
    if (!available && isHidden())
        showMinimized();
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    if (event->isAccepted())
        QCoreApplication::quit();
}

void TMainForm::HPLabelClick()
{
    links::open(links::kHomePage);
}
void TMainForm::UpdateLabelClick()
{
    links::open(links::kUpdatesPage);
}
void TMainForm::FeedbackLabelClick()
{
    links::open(links::kFeedbackMail);
}
void TMainForm::HelpLabelClick()
{
    links::open(links::kHelpPage);
}

void TMainForm::HPLabelMouseEnter(QLabel* label)
{
    setTextColor(label, QColor(0xFF, 0xFF, 0x00));
}

void TMainForm::HPLabelMouseLeave(QLabel* label)
{
    setTextColor(label, QColor(0xFF, 0xFF, 0xFF));
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event)
{
    auto* label = qobject_cast<QLabel*>(watched);
    if (!label)
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Enter:
        HPLabelMouseEnter(label);
        break;
    case QEvent::Leave:
        HPLabelMouseLeave(label);
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace velth
