#include "app/MainForm.h"
#include "app/AboutFrame.h"
#include "common/FileIo.h"
#include "common/Prompts.h"
#include "editors/CfgFrame.h"
#include "editors/MapcycleFrame.h"
#include "editors/UserFrame.h"
#include "live/LiveFrame.h"
#include "loganalysis/ChatFrame.h"
#include "loganalysis/LocalFileList.h"
#include "profiles/SettingsFrame.h"
#include "skin/CoolButton.h"
#include "skin/TBNArea.h"
#include "support/ScriptedPrompts.h"
#include "support/ShownText.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDesktopServices>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

using namespace velth;
using velth::test::ProgramFolder;
using velth::test::ScriptedPrompts;

namespace {

QStringList itemsOf(const QComboBox* box)
{
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    return items;
}

QStringList itemsOf(const QListWidget* list)
{
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items << list->item(i)->text();
    return items;
}

// Receives the addresses the program hands to the desktop.
class UrlRecorder final : public QObject
{
    Q_OBJECT

public:
    UrlRecorder()
    {
        for (const char* scheme : { "https", "http", "mailto" })
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "openUrl");
    }
    ~UrlRecorder() override
    {
        for (const char* scheme : { "https", "http", "mailto" })
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }
    QStringList opened;

public Q_SLOTS:
    void openUrl(const QUrl& url) { opened << url.toString(); }
};

// A notification area that the test makes appear and go away; it notes the
// requests it gets.
class SwitchableArea final : public NotificationArea
{
public:
    SwitchableArea(const bool& present, std::vector<NotifyIconRequest::Operation>& log)
        : m_present(present)
        , m_log(log)
    { }
    bool available() const override { return m_present; }
    void request(const NotifyIconRequest& r) override { m_log.push_back(r.operation); }

private:
    const bool& m_present;
    std::vector<NotifyIconRequest::Operation>& m_log;
};

struct MainFormTest : ::testing::Test
{
    ProgramFolder folder;
    ScriptedPrompts prompts;

    std::unique_ptr<TMainForm> start() { return std::make_unique<TMainForm>(folder.path(), prompts); }

    static std::vector<QWidget*> pages(TMainForm& w)
    {
        return { w.chatFrame, w.cfgFrame, w.userFrame, w.mapcycleFrame, w.settingsFrame, w.aboutFrame, w.liveFrame };
    }
};

} // namespace

TEST_F(MainFormTest, StartsOnTheAboutPageWithEverythingEmpty)
{
    auto w = start();
    w->show();
    EXPECT_EQ(w->size(), QSize(590, 500));
    EXPECT_TRUE(w->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Velth Control Center"));
    for (QWidget* page : pages(*w))
        EXPECT_EQ(page->isVisible(), page == w->aboutFrame) << page->objectName().toStdString();
    EXPECT_EQ(w->TopBarLabel->text(), QString());
    EXPECT_EQ(w->StatusLabel->text(), QString());
    for (TCoolButton* b : { w->BChat, w->BCfg, w->BUser, w->BMapCycle, w->BSettings, w->BAbout, w->BExit, w->BLive })
        EXPECT_TRUE(b->isEnabled()) << b->objectName().toStdString();
    // The Live button sits on the left bar above the specified buttons,
    // overlapping none of them.
    EXPECT_EQ(w->BLive->geometry(), QRect(8, 50, 50, 20));
    EXPECT_LT(w->BLive->geometry().bottom(), w->BChat->geometry().top());
    EXPECT_GE(w->BLive->geometry().top(), w->LeftBar->geometry().top());
    // Pages fill the page area, which ends where the dark strip begins.
    for (QWidget* page : pages(*w))
        EXPECT_EQ(page->geometry(), QRect(63, 47, 522, 425)) << page->objectName().toStdString();
    EXPECT_EQ(w->Shape1->geometry(), QRect(585, 47, 5, 425));
    EXPECT_EQ(w->aboutFrame->Logo->geometry(), QRect(522 / 2 - 104, 425 / 2 - 104, 208, 208));

    EXPECT_TRUE(folder.exists("logs"));
    EXPECT_TRUE(folder.exists("cfgs"));
    EXPECT_TRUE(itemsOf(w->settingsFrame->ServerList).isEmpty());
    for (QComboBox* box :
        { w->chatFrame->FTPServer, w->cfgFrame->FTPServer, w->userFrame->FTPServer, w->mapcycleFrame->FTPServer })
        EXPECT_EQ(box->count(), 0);
    const QString logs = QString::fromStdString(folder.path()) + QStringLiteral("logs");
    EXPECT_EQ(w->chatFrame->LocalBox->title(), QStringLiteral("Local Files: ") + logs);
    EXPECT_EQ(w->chatFrame->LocalFiles->rootFolder(), logs);
    EXPECT_EQ(itemsOf(w->mapcycleFrame->MapList),
        (QStringList{ QStringLiteral("de_dust2"), QStringLiteral("cs_office"), QStringLiteral("de_aztec") }));

    // The About page names the folder in use, below the logo and within the
    // page even for a path far wider than the page.
    QLabel* shown = w->aboutFrame->FolderLabel;
    const QString path = QString::fromStdString(folder.path());
    EXPECT_EQ(shown->text(), QStringLiteral("Your files are kept in: ") + path);
    EXPECT_EQ(shown->toolTip(), path);
    EXPECT_GE(shown->y(), w->aboutFrame->Logo->geometry().bottom());
    const QString deep = QStringLiteral("/home/") + QString(300, QLatin1Char('x')) + QStringLiteral("/velth");
    w->aboutFrame->setProgramFolder(deep);
    EXPECT_LE(shown->fontMetrics().horizontalAdvance(shown->text()), w->aboutFrame->width());
    EXPECT_TRUE(shown->text().endsWith(QStringLiteral("/velth"))) << shown->text().toStdString();
    EXPECT_EQ(shown->toolTip(), deep);
}

TEST_F(MainFormTest, ProfileNamesReachEverySelectorAsCopies)
{
    folder.write("ftpserver.ini", "[Zeta]\r\nHOST=z\r\n[alpha]\r\nHOST=a\r\n[J\xf6rg's]\r\nHOST=\r\n");
    auto w = start();
    const QStringList expected{ QStringLiteral("Zeta"), QStringLiteral("alpha"), QStringLiteral("J\u00f6rg's") };
    EXPECT_EQ(itemsOf(w->settingsFrame->ServerList), expected);
    for (QComboBox* box : { w->chatFrame->FTPServer, w->cfgFrame->FTPServer, w->userFrame->FTPServer,
             w->mapcycleFrame->FTPServer, w->liveFrame->Server }) {
        EXPECT_EQ(itemsOf(box), expected);
        EXPECT_EQ(box->currentIndex(), -1);
    }
    // The Live page has a row for each, sorted by name until the user sorts
    // by another column.
    QStringList rows;
    for (int i = 0; i < w->liveFrame->ServerList->topLevelItemCount(); ++i)
        rows << w->liveFrame->ServerList->topLevelItem(i)->text(TliveFrame::ProfileColumn);
    EXPECT_EQ(rows, (QStringList{ QStringLiteral("alpha"), QStringLiteral("J\u00f6rg's"), QStringLiteral("Zeta") }));
    // Later changes of the Settings list stay there until the next start.
    w->settingsFrame->ServerList->clear();
    EXPECT_EQ(itemsOf(w->userFrame->FTPServer), expected);
}

TEST_F(MainFormTest, MissingMapListIsReportedAndTheProgramRunsOn)
{
    ProgramFolder bare(false);
    prompts.expectErrorReport(QString::fromStdString(bare.path() + "mapcycle.txt"));
    TMainForm w(bare.path(), prompts);
    prompts.verify();
    EXPECT_EQ(w.mapcycleFrame->MapList->count(), 0);
    ASSERT_FALSE(prompts.shown().isEmpty());
    // The report ends in a period, as the general error report adds one.
    EXPECT_TRUE(prompts.shown().back().endsWith(u'.')) << prompts.shown().back().toStdString();
    w.show();
    QTest::mouseClick(w.BSettings, Qt::LeftButton);
    EXPECT_TRUE(w.settingsFrame->isVisible());
}

TEST_F(MainFormTest, NavigationShowsExactlyOnePage)
{
    auto w = start();
    w->show();
    struct Step
    {
        TCoolButton* button;
        QWidget* page;
        QString caption;
    };
    const Step steps[] = {
        { w->BChat, w->chatFrame, QStringLiteral("Chat parser") },
        { w->BCfg, w->cfgFrame, QStringLiteral("CFG updater") },
        { w->BUser, w->userFrame, QStringLiteral("User edit") },
        { w->BMapCycle, w->mapcycleFrame, QStringLiteral("Mapcycle edit") },
        { w->BSettings, w->settingsFrame, QStringLiteral("Velth Control Center Settings") },
        { w->BAbout, w->aboutFrame, QStringLiteral("About us ...") },
        { w->BLive, w->liveFrame, QStringLiteral("Live servers") },
        { w->BChat, w->chatFrame, QStringLiteral("Chat parser") },
    };
    const std::vector<TCoolButton*> buttons{ w->BChat, w->BCfg, w->BUser, w->BMapCycle, w->BSettings, w->BAbout,
        w->BLive };
    for (const Step& step : steps) {
        QTest::mouseClick(step.button, Qt::LeftButton, {}, step.button->rect().center());
        for (QWidget* page : pages(*w))
            EXPECT_EQ(page->isVisible(), page == step.page) << step.caption.toStdString();
        for (TCoolButton* b : buttons)
            EXPECT_EQ(b->isEnabled(), b != step.button) << step.caption.toStdString();
        EXPECT_TRUE(w->BExit->isEnabled());
        EXPECT_EQ(w->TopBarLabel->text(), step.caption);
    }
    // The button of the page on show ignores clicks.
    QTest::mouseClick(w->BChat, Qt::LeftButton);
    EXPECT_TRUE(w->chatFrame->isVisible());
    EXPECT_FALSE(w->BChat->isEnabled());
}

TEST_F(MainFormTest, StatusLineGrowsToTheLeftFromAFixedRightEdge)
{
    auto w = start();
    w->show();
    w->setStatus(QStringLiteral("Ready."));
    const QRect shortText = w->StatusLabel->geometry();
    w->setStatus(QStringLiteral("Your changes will take effect after a restart of Velth Control Center."));
    const QRect longText = w->StatusLabel->geometry();
    EXPECT_EQ(shortText.x() + shortText.width(), TMainForm::kStatusRight);
    EXPECT_EQ(longText.x() + longText.width(), TMainForm::kStatusRight);
    EXPECT_LT(longText.x(), shortText.x());
    EXPECT_EQ(longText.y(), TMainForm::kStatusTop);
    EXPECT_EQ(w->status(), QStringLiteral("Your changes will take effect after a restart of Velth Control Center."));
    EXPECT_EQ(w->StatusLabel->textFormat(), Qt::PlainText);

    // Longer than the bar: the end gives way (a message reads from its
    // start), the mark at the bar's left stays as painted, and the whole text
    // is in the tooltip.
    const QString endless = QStringLiteral("Connecting to ") + QString(300, u'h') + QStringLiteral(" on Port 21.");
    w->setStatus(endless);
    EXPECT_EQ(w->status(), endless);
    EXPECT_EQ(w->StatusLabel->toolTip(), endless);
    EXPECT_TRUE(w->StatusLabel->text().startsWith(QStringLiteral("Connecting to hhh")))
        << w->StatusLabel->text().toStdString();
    EXPECT_TRUE(w->StatusLabel->text().endsWith(QChar(0x2026))) << w->StatusLabel->text().toStdString();
    EXPECT_EQ(w->StatusLabel->x() + w->StatusLabel->width(), TMainForm::kStatusRight);
    EXPECT_GE(w->StatusLabel->x(), TMainForm::kStatusLeft);
    const QImage shown
        = w->grab(QRect(0, 472, TMainForm::kStatusLeft, 28)).toImage().convertToFormat(QImage::Format_RGB32);
    const QImage bar
        = w->StatusBar->pixmap().toImage().copy(0, 0, TMainForm::kStatusLeft, 28).convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(shown, bar);
    w->setStatus(QStringLiteral("Ready."));
    EXPECT_EQ(w->StatusLabel->toolTip(), QString());
}

// The status line quotes hosts and file names from the store and the server:
// markup stays text and control characters show.
TEST_F(MainFormTest, StatusLineShowsQuotedTextLiterally)
{
    auto w = start();
    w->show();
    w->setStatus(QStringLiteral("Connecting to <img src=x><h1>host</h1> on Port 21."));
    EXPECT_EQ(test::shownText(w->StatusLabel), QStringLiteral("Connecting to <img src=x><h1>host</h1> on Port 21."));
    w->setStatus(QStringLiteral("Downloading a") + QChar(0) + QStringLiteral("\nb.log."));
    EXPECT_EQ(test::shownText(w->StatusLabel), QStringLiteral("Downloading a\u2400\u240Ab.log."));
}

// A crash mid-download or mid-save left "<name>.partXXXXXX" files beside the
// real ones (one showed in the Local Files list); the next start removes them
// from the program's folders, and nothing else.
TEST_F(MainFormTest, StartRemovesLeftoverTemporariesOfThePrograms)
{
    for (const char* sub : { "logs", "cfgs/Alpha", "cfgs/Alpha/sub" })
        ASSERT_TRUE(makeFolders(folder.file(sub)));
    std::vector<std::string> leftovers;
    for (const char* target : { "ftpserver.ini", "logs/L1020000.log", "cfgs/Alpha/server.cfg", "cfgs/x" }) {
        leftovers.push_back(makeTempFileBeside(folder.file(target)));
        folder.write(leftovers.back().substr(folder.path().size()), "partial");
    }
    const std::vector<std::string> kept
        = { "logs/L1020000.log", "logs/a.part12345", "cfgs/Alpha/sub/users.ini.partAbC123" };
    for (const std::string& name : kept)
        folder.write(name, "keep");

    {
        // Another copy of the program runs and may be writing them.
        ProgramFolderLock running(folder.path());
        running.share();
        start();
        for (const std::string& path : leftovers)
            EXPECT_TRUE(pathExists(path)) << path;
    }
    auto w = start();
    for (const std::string& path : leftovers)
        EXPECT_FALSE(pathExists(path)) << path;
    for (const std::string& name : kept)
        EXPECT_TRUE(folder.exists(name)) << name;
}

// Whatever sans the desktop substitutes, no link runs into the separator
// (or the window edge) after it.
TEST_F(MainFormTest, TopBarLinksFitBetweenTheirSeparators)
{
    auto w = start();
    const auto separator = [&](const char* name) { return w->findChild<QLabel*>(QLatin1String(name))->x(); };
    const std::pair<QLabel*, int> links[] = { { w->HPLabel, separator("Label1") },
        { w->UpdateLabel, separator("Label2") }, { w->FeedbackLabel, separator("Label3") }, { w->HelpLabel, 590 } };
    for (const auto& [label, end] : links) {
        SCOPED_TRACE(label->text().toStdString());
        EXPECT_LE(label->x() + label->width(), end);
        EXPECT_GE(label->font().pixelSize(), 9);
    }
    EXPECT_EQ(w->HPLabel->x(), 365);
    EXPECT_EQ(w->HelpLabel->x(), 556);
}

TEST_F(MainFormTest, LinksTurnYellowUnderThePointerAndOpenTheirAddress)
{
    auto w = start();
    w->show();
    UrlRecorder urls;
    for (QLabel* label : { w->HPLabel, w->UpdateLabel, w->FeedbackLabel, w->HelpLabel }) {
        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(label, &enter);
        EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(0xFF, 0xFF, 0x00));
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(label, &leave);
        EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(0xFF, 0xFF, 0xFF));
        QTest::mouseClick(label, Qt::LeftButton);
    }
    QTest::mouseClick(w->aboutFrame->projectVelthLink, Qt::LeftButton);
    ASSERT_EQ(urls.opened.size(), 5);
    // Pressing on a link and releasing off it (dragged away) opens nothing.
    w->BAboutClick();
    for (const auto& [label, off] :
        { std::pair{ w->HPLabel, QPoint(0, 60) }, std::pair{ w->aboutFrame->VelthLink, QPoint(0, -60) } }) {
        QTest::mousePress(label, Qt::LeftButton, {}, label->rect().center());
        QTest::mouseRelease(label, Qt::LeftButton, {}, label->rect().center() + off);
    }
    EXPECT_EQ(urls.opened.size(), 5);
    EXPECT_TRUE(urls.opened[0].endsWith(QStringLiteral("/index.html")));
    EXPECT_TRUE(urls.opened[1].endsWith(QStringLiteral("/updates.html")));
    EXPECT_TRUE(urls.opened[2].startsWith(QStringLiteral("mailto:")));
    EXPECT_TRUE(urls.opened[3].endsWith(QStringLiteral("/help.html")));
    EXPECT_EQ(urls.opened[4], w->aboutFrame->projectVelthLink->text());
}

TEST_F(MainFormTest, HideRestoreAndExit)
{
    const bool present = true;
    std::vector<NotifyIconRequest::Operation> log;
    TTBNArea::setAreaFactory([&](TTBNArea&) { return std::make_unique<SwitchableArea>(present, log); });
    auto w = start();
    TTBNArea::setAreaFactory({});
    w->show();
    w->BChatClick();
    QTest::mouseClick(w->BHide, Qt::LeftButton);
    EXPECT_FALSE(w->isVisible());
    w->TBNArea1LeftClick();
    EXPECT_TRUE(w->isVisible());
    // Restoring keeps the page that was on show.
    EXPECT_TRUE(w->chatFrame->isVisible());
    w->TBNArea1LeftClick();
    EXPECT_TRUE(w->isVisible());

    QPointer<QWidget> chat = w->chatFrame;
    QTest::mouseClick(w->BExit, Qt::LeftButton);
    EXPECT_FALSE(w->isVisible());
    w.reset();
    EXPECT_TRUE(chat.isNull());
}

// Qt's offscreen platform has no notification area, like many desktops:
// hiding would lose the window for good, so it goes to the task bar.
TEST_F(MainFormTest, HideWithoutANotificationAreaMinimises)
{
    auto w = start();
    w->show();
    ASSERT_FALSE(w->TBNArea1->Available());
    QTest::mouseClick(w->BHide, Qt::LeftButton);
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(w->isMinimized());
    w->TBNArea1LeftClick();
    EXPECT_TRUE(w->isVisible());
    EXPECT_FALSE(w->isMinimized());
}

// A notification area that comes or goes while the program runs takes the
// icon and the meaning of BHide with it.
TEST_F(MainFormTest, IconAndHideFollowTheNotificationArea)
{
    using Op = NotifyIconRequest::Operation;
    bool present = false;
    std::vector<Op> log;
    TTBNArea::setAreaFactory([&](TTBNArea&) { return std::make_unique<SwitchableArea>(present, log); });
    auto w = start();
    TTBNArea::setAreaFactory({});
    w->show();
    w->BHideClick();
    EXPECT_TRUE(w->isMinimized());
    w->showNormal();

    present = true;
    w->TBNArea1->checkAvailable();
    EXPECT_TRUE(w->TBNArea1->Available());
    EXPECT_EQ(log.back(), Op::Add);
    w->BHideClick();
    EXPECT_FALSE(w->isVisible());

    // The area goes while the window is hidden: it must not stay out of reach.
    present = false;
    w->TBNArea1->checkAvailable();
    EXPECT_EQ(log.back(), Op::Delete);
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(w->isMinimized());
    const std::size_t requests = log.size();
    w->TBNArea1->checkAvailable();
    EXPECT_EQ(log.size(), requests);
}

// Closing an error report that came up while the window was hidden ended the
// program: the box had no owner, so it counted as the last window.
TEST_F(MainFormTest, PromptWhileHiddenBelongsToTheWindowAndTheProgramRunsOn)
{
    bool present = true;
    std::vector<NotifyIconRequest::Operation> log;
    TTBNArea::setAreaFactory([&](TTBNArea&) { return std::make_unique<SwitchableArea>(present, log); });
    auto w = start();
    TTBNArea::setAreaFactory({});
    QtPrompts real;
    real.setOwner(w.get());
    w->show();
    w->BHideClick();
    ASSERT_FALSE(w->isVisible());

    QWidget* owner = nullptr;
    bool ranOn = false;
    QTimer::singleShot(0, [&] {
        QTimer::singleShot(0, [&] {
            owner = QApplication::activeModalWidget()->parentWidget();
            QApplication::activeModalWidget()->close();
        });
        real.errorReport(QStringLiteral("Login incorrect."));
        QTimer::singleShot(0, [&] { ranOn = true; });
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    });
    QCoreApplication::exec();
    EXPECT_EQ(owner, w.get());
    EXPECT_TRUE(ranOn) << "the program ended with the box";

    // Closing the main window itself ends the program at once.
    QTimer late;
    QObject::connect(&late, &QTimer::timeout, [&] {
        ranOn = true;
        QCoreApplication::quit();
    });
    ranOn = false;
    late.start(5000);
    QTimer::singleShot(0, [&] { w->BExitClick(); });
    QCoreApplication::exec();
    EXPECT_FALSE(ranOn);
}

#include "MainFormTest.moc"
