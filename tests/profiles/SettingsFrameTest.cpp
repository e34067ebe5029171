#include "profiles/SettingsFrame.h"

#include "app/MainForm.h"
#include "common/AppContext.h"
#include "common/ErrorReport.h"
#include "common/FileIo.h"
#include "common/ProfileSelector.h"
#include "common/TextCodec.h"
#include "editors/CfgFrame.h"
#include "editors/MapcycleFrame.h"
#include "editors/UserFrame.h"
#include "loganalysis/ChatFrame.h"
#include "profiles/ProfileStore.h"
#include "support/RecordingStatus.h"
#include "support/ScriptedPrompts.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace velth {
namespace {

using test::ProgramFolder;
using test::ScriptedPrompts;

const QString kRestart = QStringLiteral("Your changes will take effect after a restart of Velth Control Center.");
const QString kSaved = QStringLiteral("Settings successfully saved.");
const QString kSelect = QStringLiteral("Please select a server!");
const QString kExists = QStringLiteral("This servername already exists!");
const QString kInvalid = QStringLiteral("Please enter a valid servername!");
const QString kCaption = QStringLiteral("Add new Server");

// Limits the size of files this process may write, so that a write fails even
// for root; restores the limit when it goes.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &m_saved); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_saved{};
};

class SettingsFrameTest : public ::testing::Test
{
protected:
    // The page as the main window sets it up: names read from the store.
    void open(const std::string& programFolder)
    {
        page.reset();
        store = std::make_unique<ProfileStore>(programFolder + "/ftpserver.ini");
        context = std::make_unique<AppContext>(programFolder, *store, prompts, status);
        page = std::make_unique<TsettingsFrame>(*context);
        page->resize(515, 425);
        page->show();
        page->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(page.get()));
        setProfileNames(page->ServerList, context->store().profileNames());
    }
    void open() { open(folder.path()); }

    std::string ini() const { return folder.exists("ftpserver.ini") ? folder.read("ftpserver.ini") : "<none>"; }

    QStringList listed() const
    {
        QStringList names;
        for (int i = 0; i < page->ServerList->count(); ++i)
            names << page->ServerList->item(i)->text();
        return names;
    }

    void click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

    void select(const QString& shown)
    {
        const auto items = page->ServerList->findItems(shown, Qt::MatchExactly);
        ASSERT_EQ(items.size(), 1) << shown.toStdString();
        const QRect rect = page->ServerList->visualItemRect(items.front());
        QTest::mouseClick(page->ServerList->viewport(), Qt::LeftButton, {}, rect.center());
        ASSERT_EQ(page->ServerList->currentItem(), items.front());
    }

    void type(QWidget* field, const QString& text)
    {
        field->setFocus();
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_Delete);
        for (const QChar ch : text) {
            if (ch.unicode() < 0x80) {
                QTest::keyClick(field, static_cast<char>(ch.unicode()));
            } else {
                QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(ch));
                QApplication::sendEvent(field, &press);
            }
        }
    }

    // Types into the port field and leaves it, as a user tabbing on would.
    void typePort(const QString& text)
    {
        type(page->Port, text);
        page->User->setFocus();
    }

    void add(const QString& name)
    {
        prompts.expectInput(kCaption, name);
        click(page->BAdd);
        prompts.verify();
    }

    ProgramFolder folder;
    ScriptedPrompts prompts;
    test::RecordingStatus status;
    std::unique_ptr<ProfileStore> store;
    std::unique_ptr<AppContext> context;
    std::unique_ptr<TsettingsFrame> page;
};

TEST_F(SettingsFrameTest, LayoutAndKeyboardOrder)
{
    open();
    ASSERT_EQ(page->MainControl->count(), 1);
    EXPECT_EQ(page->MainControl->tabText(0), QStringLiteral("Settings"));
    EXPECT_EQ(page->MainControl->widget(0), page->SettingsTab);
    EXPECT_EQ(page->MainControl->geometry(), page->rect());
    EXPECT_EQ(page->GroupBox1->title(), QStringLiteral("FTP Server"));
    EXPECT_EQ(page->GroupBox1->geometry(), QRect(0, 0, 141, page->SettingsTab->height()));
    EXPECT_EQ(page->Panel1->geometry(), QRect(145, 5, 206, 408));

    struct Place
    {
        QWidget* widget;
        QRect rect;
    };
    for (const Place& p : { Place{ page->BAdd, { 5, 5, 61, 21 } }, Place{ page->BDelete, { 70, 5, 66, 21 } },
             Place{ page->BSave, { 140, 5, 61, 21 } }, Place{ page->ServerName, { 5, 45, 196, 21 } },
             Place{ page->Host, { 5, 85, 131, 21 } }, Place{ page->Port, { 140, 85, 61, 21 } },
             Place{ page->User, { 5, 125, 96, 21 } }, Place{ page->Password, { 105, 125, 96, 21 } },
             Place{ page->hldsPath, { 5, 165, 196, 21 } }, Place{ page->Connection, { 5, 205, 196, 21 } },
             Place{ page->GameHost, { 5, 245, 131, 21 } }, Place{ page->GamePort, { 140, 245, 61, 21 } },
             Place{ page->LogAddress, { 5, 285, 131, 21 } }, Place{ page->LogPort, { 140, 285, 61, 21 } },
             Place{ page->StunServer, { 5, 325, 196, 21 } } })
        EXPECT_EQ(p.widget->geometry(), p.rect) << p.widget->objectName().toStdString();
    struct Caption
    {
        QLabel* label;
        QString text;
        QPoint pos;
    };
    for (const Caption& c : { Caption{ page->GameHostLabel, QStringLiteral("Game server address"), { 5, 230 } },
             Caption{ page->GamePortLabel, QStringLiteral("Game port"), { 140, 230 } },
             Caption{ page->LogAddressLabel, QStringLiteral("Live log address"), { 5, 270 } },
             Caption{ page->LogPortLabel, QStringLiteral("Log port"), { 140, 270 } },
             Caption{ page->StunServerLabel, QStringLiteral("STUN server (empty: none)"), { 5, 310 } } }) {
        EXPECT_EQ(c.label->text(), c.text);
        EXPECT_EQ(c.label->pos(), c.pos) << c.text.toStdString();
    }
    EXPECT_TRUE(page->LogPortNote->text().contains(QStringLiteral("the router forwards the log port")));
    EXPECT_EQ(page->GameHost->placeholderText(), QStringLiteral("same as Host"));
    EXPECT_EQ(page->LogAddress->placeholderText(), QStringLiteral("automatic"));
    EXPECT_EQ(page->GamePort->value(), 27015);
    EXPECT_EQ(page->LogPort->value(), 27500);

    // Every control of the panel lies inside it, shows its whole text and
    // covers no other: a label wider or taller than its place, or one field
    // over another, fails here before anyone sees it.
    const QList<QWidget*> controls = page->Panel1->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    for (QWidget* a : controls) {
        const std::string name = a->objectName().toStdString();
        EXPECT_TRUE(page->Panel1->contentsRect().contains(a->geometry())) << name;
        if (auto* label = qobject_cast<QLabel*>(a)) {
            const QSize needed
                = label->wordWrap() ? QSize(label->width(), label->heightForWidth(label->width())) : label->sizeHint();
            EXPECT_GE(label->width(), needed.width()) << name;
            EXPECT_GE(label->height(), needed.height()) << name;
        }
        for (QWidget* b : controls) {
            if (a != b) {
                EXPECT_FALSE(a->geometry().intersects(b->geometry())) << name << " / " << b->objectName().toStdString();
            }
        }
    }
    EXPECT_TRUE(page->ServerName->isReadOnly());
    EXPECT_EQ(page->Password->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(page->Port->value(), 21);
    EXPECT_EQ(page->Label6->text(), QStringLiteral("HLDS Path (e.g. hlds)"));
    EXPECT_EQ(page->Label6->pos(), QPoint(5, 150));
    EXPECT_EQ(page->Label7->text(), QStringLiteral("Connection"));
    EXPECT_EQ(page->Label7->pos(), QPoint(5, 190));
    EXPECT_FALSE(page->Connection->isEditable());
    QStringList kinds;
    for (int i = 0; i < page->Connection->count(); ++i)
        kinds << page->Connection->itemText(i);
    EXPECT_EQ(kinds,
        (QStringList{ QStringLiteral("FTP, active mode"), QStringLiteral("FTP, passive mode"),
            QStringLiteral("FTPS, explicit TLS"), QStringLiteral("FTPS, implicit TLS"),
            QStringLiteral("SFTP (SSH)") }));
    EXPECT_EQ(page->Connection->currentIndex(), 0);

    // The order Tab walks through the panel.
    QStringList order;
    const QStringList wanted = { QStringLiteral("BAdd"), QStringLiteral("BDelete"), QStringLiteral("BSave"),
        QStringLiteral("ServerName"), QStringLiteral("Host"), QStringLiteral("Port"), QStringLiteral("User"),
        QStringLiteral("Password"), QStringLiteral("hldsPath"), QStringLiteral("Connection"),
        QStringLiteral("GameHost"), QStringLiteral("GamePort"), QStringLiteral("LogAddress"), QStringLiteral("LogPort"),
        QStringLiteral("StunServer") };
    QWidget* w = page->BAdd;
    for (int steps = 0; steps < 100 && order.size() < wanted.size(); ++steps, w = w->nextInFocusChain()) {
        if (wanted.contains(w->objectName()) && !order.contains(w->objectName()))
            order << w->objectName();
    }
    EXPECT_EQ(order, wanted);
}

TEST_F(SettingsFrameTest, AddCreatesProfileFolderAndListEntry)
{
    folder.write("ftpserver.ini", "[Beta]\r\nHOST=b\r\n");
    open();
    select(QStringLiteral("Beta"));
    add(QStringLiteral("Alpha One"));

    EXPECT_EQ(prompts.lastInputMaxLength(), 255);
    EXPECT_EQ(ini(), "[Beta]\r\nHOST=b\r\n[Alpha One]\r\nHOST=\r\n");
    EXPECT_EQ(listed(), (QStringList{ QStringLiteral("Beta"), QStringLiteral("Alpha One") }));
    EXPECT_EQ(currentProfile(page->ServerList), std::nullopt);
    EXPECT_TRUE(isDirectory(folder.file("cfgs/Alpha One")));
    EXPECT_EQ(status.status(), kRestart);
    // The fields keep showing what was selected before.
    EXPECT_EQ(page->ServerName->text(), QStringLiteral("Beta"));
    EXPECT_EQ(page->Host->text(), QStringLiteral("b"));

    // Add leaves nothing selected, so Save right after it is refused.
    status.setStatus(QString());
    prompts.expectErrorBox(kSelect);
    click(page->BSave);
    EXPECT_EQ(ini(), "[Beta]\r\nHOST=b\r\n[Alpha One]\r\nHOST=\r\n");
    EXPECT_EQ(status.status(), QString());
}

TEST_F(SettingsFrameTest, FirstAddCreatesTheFile)
{
    open();
    add(QStringLiteral("Solo"));
    EXPECT_EQ(ini(), "[Solo]\r\nHOST=\r\n");
    EXPECT_EQ(listed(), QStringList{ QStringLiteral("Solo") });
}

TEST_F(SettingsFrameTest, AddRefusesDuplicatesInAnyLetterCase)
{
    // "Müller" as the file's own Windows-1252 bytes, shown as the user sees it.
    const std::string file = "[Alpha]\r\nHOST=a\r\n[M\xfcller]\r\nHOST=m\r\n";
    folder.write("ftpserver.ini", file);
    open();
    for (const QString& typed : { QStringLiteral("alpha"), QStringLiteral("ALPHA"), QStringLiteral("Alpha"),
             QStringLiteral("MÜLLER"), QStringLiteral("müller") }) {
        prompts.expectInput(kCaption, typed).expectErrorBox(kExists);
        click(page->BAdd);
        prompts.verify();
        EXPECT_EQ(ini(), file) << typed.toStdString();
    }
    EXPECT_EQ(listed(), (QStringList{ QStringLiteral("Alpha"), QStringLiteral("Müller") }));
    EXPECT_EQ(status.status(), QString());
    EXPECT_FALSE(folder.exists("cfgs"));
}

// The list stops at 16,384 bytes of names; a name that exists beyond it passed
// the check, and the write that followed cleared that profile's host.
TEST_F(SettingsFrameTest, AddRefusesNamesBeyondTheListedOnes)
{
    std::string file;
    for (int i = 0; i < 1600; ++i)
        file += "[Server " + std::to_string(i) + "]\r\nHOST=host" + std::to_string(i) + "\r\n";
    folder.write("ftpserver.ini", file);
    open();
    ASSERT_LT(page->ServerList->count(), 1600);
    for (const QString& typed : { QStringLiteral("Server 1599"), QStringLiteral("server 1500") }) {
        prompts.expectInput(kCaption, typed).expectErrorBox(kExists);
        click(page->BAdd);
        prompts.verify();
    }
    EXPECT_EQ(ini(), file);
}

// Under Turkish rules "admin" does not upper-case to "ADMIN", but the store
// would still write into that section and clear its host.
TEST_F(SettingsFrameTest, AddRefusesNamesTheStoreWouldMatch)
{
    const std::string file = "[ADMIN]\r\nHOST=keep.example.org\r\n";
    folder.write("ftpserver.ini", file);
    open();
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::Turkish, QLocale::Turkey));
    prompts.expectInput(kCaption, QStringLiteral("admin")).expectErrorBox(kExists);
    click(page->BAdd);
    QLocale::setDefault(saved);
    prompts.verify();
    EXPECT_EQ(ini(), file);
}

TEST_F(SettingsFrameTest, CancelledAddChangesNothing)
{
    folder.write("ftpserver.ini", "[Alpha]\r\n");
    open();
    prompts.expectInput(kCaption, std::nullopt);
    click(page->BAdd);
    EXPECT_EQ(ini(), "[Alpha]\r\n");
    EXPECT_EQ(listed(), QStringList{ QStringLiteral("Alpha") });
    EXPECT_EQ(status.status(), QString());
    EXPECT_FALSE(folder.exists("cfgs"));
}

// A name that is not a plain folder name or section header would write outside
// cfgs or break and inject sections of the file.
TEST_F(SettingsFrameTest, AddRefusesNamesThatCannotBeSectionOrFolder)
{
    folder.write("ftpserver.ini", "[Alpha]\r\nHOST=a\r\n");
    open();
    const QStringList refused = { QString(), QStringLiteral("."), QStringLiteral(".."), QStringLiteral("../x"),
        QStringLiteral("a/b"), QStringLiteral("a\\b"), QStringLiteral("x]\r\n[Alpha"), QStringLiteral("[x"),
        QStringLiteral("x]"), QStringLiteral("line\nbreak"), QStringLiteral("cr\rname"), QStringLiteral("tab\tname"),
        QStringLiteral("del\x7f"), QString(QStringLiteral("c1")) + QChar(0x85), QString(QChar(0)) + u'z',
        QStringLiteral(" lead"), QStringLiteral("trail ") };
    for (const QString& name : refused) {
        prompts.expectInput(kCaption, name).expectErrorBox(kInvalid);
        click(page->BAdd);
        prompts.verify();
        EXPECT_EQ(ini(), "[Alpha]\r\nHOST=a\r\n") << name.toStdString();
    }
    EXPECT_EQ(listed(), QStringList{ QStringLiteral("Alpha") });
    EXPECT_EQ(status.status(), QString());
    EXPECT_FALSE(folder.exists("cfgs"));
    EXPECT_FALSE(folder.exists("x"));
}

TEST_F(SettingsFrameTest, AddTakesOtherNamesVerbatim)
{
    open();
    const QStringList names = { QStringLiteral("My Server #1"), QStringLiteral("Müller's Zockerbude"),
        QStringLiteral("..."), QStringLiteral("a.b=c;d"), QStringLiteral("サーバー") };
    for (const QString& name : names)
        add(name);
    EXPECT_EQ(listed(), names);
    std::string expected;
    for (const QString& name : names) {
        expected += "[" + fromDisplay(name) + "]\r\nHOST=\r\n";
        EXPECT_TRUE(isDirectory(context->profileFolder(fromDisplay(name)))) << name.toStdString();
    }
    EXPECT_EQ(ini(), expected);
}

TEST_F(SettingsFrameTest, SelectShowsStoredFieldsAndDefaults)
{
    folder.write("ftpserver.ini",
        "[Full]\r\nHOST=ftp.example.org\r\nPORT=2121\r\nUSER=admin\r\nPASS=s3cret\r\nHLDS=games/hlds\r\n"
        "CONNECTION=ftps-implicit\r\nGAMEHOST=game.example.org\r\nGAMEPORT=27016\r\nLOGADDRESS=203.0.113.9\r\n"
        "LOGPORT=28000\r\nSTUNSERVER=198.51.100.20:3478\r\n"
        "[Bare]\r\nHOST=\r\nSTUNSERVER=\r\n[Hex]\r\nPORT=0x15\r\nGAMEPORT=0x6988\r\n[Junk]\r\nPORT=abc\r\nGAMEPORT="
        "abc\r\n"
        "LOGPORT=x\r\n[High]\r\nPORT=99999\r\nGAMEPORT=99999\r\nLOGPORT=65536\r\n[Low]\r\nPORT=-4\r\nGAMEPORT=0\r\n"
        "[Ssh]\r\nCONNECTION=sftp\r\n");
    open();
    select(QStringLiteral("Full"));
    EXPECT_EQ(page->ServerName->text(), QStringLiteral("Full"));
    EXPECT_EQ(page->Host->text(), QStringLiteral("ftp.example.org"));
    EXPECT_EQ(page->Port->text(), QStringLiteral("2121"));
    EXPECT_EQ(page->User->text(), QStringLiteral("admin"));
    EXPECT_EQ(page->Password->text(), QStringLiteral("s3cret"));
    EXPECT_EQ(page->hldsPath->text(), QStringLiteral("games/hlds"));
    EXPECT_EQ(page->Connection->currentText(), QStringLiteral("FTPS, implicit TLS"));
    EXPECT_EQ(page->GameHost->text(), QStringLiteral("game.example.org"));
    EXPECT_EQ(page->GamePort->text(), QStringLiteral("27016"));
    EXPECT_EQ(page->LogAddress->text(), QStringLiteral("203.0.113.9"));
    EXPECT_EQ(page->LogPort->text(), QStringLiteral("28000"));
    EXPECT_EQ(page->StunServer->text(), QStringLiteral("198.51.100.20:3478"));

    // A stored FTP port outside the range shows the nearer bound; a game or
    // log port outside it shows the default, the port the program uses then.
    struct Ports
    {
        const char* name;
        const char* port;
        const char* gamePort;
        const char* logPort;
        const char* connection;
    };
    const Ports ports[] = {
        { "Bare", "21", "27015", "27500", "FTP, active mode" }, { "Hex", "21", "27016", "27500", "FTP, active mode" },
        { "Junk", "21", "27015", "27500", "FTP, active mode" },
        { "High", "65535", "27015", "27500", "FTP, active mode" }, { "Low", "1", "27015", "27500", "FTP, active mode" },
        { "Ssh", "22", "27015", "27500", "SFTP (SSH)" }, // without PORT: the kind's usual port
    };
    for (const Ports& p : ports) {
        select(QString::fromLatin1(p.name));
        EXPECT_EQ(page->ServerName->text(), QString::fromLatin1(p.name));
        EXPECT_EQ(page->Port->text(), QString::fromLatin1(p.port)) << p.name;
        EXPECT_EQ(page->GamePort->text(), QString::fromLatin1(p.gamePort)) << p.name;
        EXPECT_EQ(page->LogPort->text(), QString::fromLatin1(p.logPort)) << p.name;
        for (QLineEdit* field :
            { page->Host, page->User, page->Password, page->hldsPath, page->GameHost, page->LogAddress })
            EXPECT_EQ(field->text(), QString()) << p.name << " " << field->objectName().toStdString();
        EXPECT_EQ(page->Connection->currentText(), QString::fromLatin1(p.connection)) << p.name;
        // An empty key turns STUN off; without the key the default is shown (and saved).
        EXPECT_EQ(page->StunServer->text(),
            std::string_view(p.name) == "Bare" ? QString() : QStringLiteral("stun.l.google.com:19302"))
            << p.name;
    }

    // The keyboard selects too.
    page->ServerList->setFocus();
    QTest::keyClick(page->ServerList, Qt::Key_Home);
    EXPECT_EQ(page->ServerName->text(), QStringLiteral("Full"));
    EXPECT_EQ(page->Port->text(), QStringLiteral("2121"));
    EXPECT_EQ(status.status(), QString());
}

TEST_F(SettingsFrameTest, SaveWritesFieldsInOrderAndKeepsOtherKeys)
{
    folder.write(
        "ftpserver.ini", "; kept by hand\r\n[Alpha]\r\nHOST=old\r\nrconpass=rc\r\nCustom=1\r\n[Beta]\r\nHOST=b\r\n");
    open();
    select(QStringLiteral("Alpha"));
    type(page->Host, QStringLiteral("ftp.example.org"));
    typePort(QStringLiteral("2121"));
    type(page->User, QStringLiteral("admin"));
    type(page->Password, QStringLiteral("pä ss"));
    type(page->hldsPath, QStringLiteral("hlds"));
    type(page->GameHost, QStringLiteral("game.example.org"));
    type(page->GamePort, QStringLiteral("27016"));
    type(page->LogAddress, QStringLiteral("203.0.113.9"));
    type(page->LogPort, QStringLiteral("70000"));
    page->Host->setFocus();
    EXPECT_EQ(page->LogPort->text(), QStringLiteral("65535"));
    click(page->BSave);

    // The new keys after the ones the page always wrote, in the order of the page.
    EXPECT_EQ(ini(),
        "; kept by hand\r\n[Alpha]\r\nHOST=ftp.example.org\r\nrconpass=rc\r\nCustom=1\r\nPORT=2121\r\nUSER=admin\r\n"
        "PASS=p\xc3\xa4 ss\r\nHLDS=hlds\r\nCONNECTION=ftp-active\r\nGAMEHOST=game.example.org\r\nGAMEPORT=27016\r\n"
        "LOGADDRESS=203.0.113.9\r\nLOGPORT=65535\r\nSTUNSERVER=stun.l.google.com:19302\r\n[Beta]\r\nHOST=b\r\n");
    EXPECT_EQ(status.status(), kSaved);
    EXPECT_EQ(listed(), (QStringList{ QStringLiteral("Alpha"), QStringLiteral("Beta") }));
    EXPECT_EQ(page->ServerList->currentRow(), 0);
}

// Save writes into the selected entry's section, not the one ServerName names,
// and keeps stored bytes of another encoding that were not edited.
TEST_F(SettingsFrameTest, SaveAddressesTheSectionByItsOwnBytes)
{
    folder.write("ftpserver.ini", "[M\xfcller]\r\nHOST=h\r\nPASS=p\xe4ss\r\nGAMEHOST=m\xfcller.example\r\n");
    open();
    select(QStringLiteral("Müller"));
    EXPECT_EQ(page->Password->text(), QStringLiteral("päss"));
    EXPECT_EQ(page->GameHost->text(), QStringLiteral("müller.example"));
    typePort(QStringLiteral("27"));
    click(page->BSave);
    EXPECT_EQ(ini(),
        "[M\xfcller]\r\nHOST=h\r\nPASS=p\xe4ss\r\nGAMEHOST=m\xfcller.example\r\nPORT=27\r\nUSER=\r\nHLDS=\r\n"
        "CONNECTION=ftp-active\r\nGAMEPORT=27015\r\nLOGADDRESS=\r\nLOGPORT=27500\r\nSTUNSERVER=stun.l.google.com:"
        "19302\r\n");
}

// Picking a kind by keyboard and mouse; the port follows the kind only while
// it is the old kind's usual port; a stored value the program does not know
// shows no entry and survives a Save unchanged.
TEST_F(SettingsFrameTest, ConnectionListPicksKindAndUsualPort)
{
    folder.write("ftpserver.ini", "[Plain]\r\nHOST=h\r\n[Odd]\r\nHOST=o\r\nPORT=2200\r\nCONNECTION=ftps-tls13\r\n");
    open();
    select(QStringLiteral("Plain"));
    struct Step
    {
        int index;
        const char* port;
        const char* value;
    };
    const Step steps[] = {
        { 4, "22", "sftp" },
        { 3, "990", "ftps-implicit" },
        { 2, "21", "ftps-explicit" },
        { 1, "21", "ftp-passive" },
    };
    for (const Step& step : steps) {
        page->Connection->setFocus();
        while (page->Connection->currentIndex() > step.index)
            QTest::keyClick(page->Connection, Qt::Key_Up);
        while (page->Connection->currentIndex() < step.index)
            QTest::keyClick(page->Connection, Qt::Key_Down);
        EXPECT_EQ(page->Port->text(), QString::fromLatin1(step.port)) << step.value;
        click(page->BSave);
        EXPECT_EQ(context->store().readString("Plain", "CONNECTION"), step.value);
        EXPECT_EQ(context->store().readString("Plain", "PORT"), step.port);
    }
    // A port the user typed stays when the kind changes.
    typePort(QStringLiteral("2121"));
    page->Connection->setFocus();
    QTest::keyClick(page->Connection, Qt::Key_End);
    EXPECT_EQ(page->Port->text(), QStringLiteral("2121"));

    select(QStringLiteral("Odd"));
    EXPECT_EQ(page->Connection->currentIndex(), -1);
    EXPECT_EQ(page->Port->text(), QStringLiteral("2200"));
    click(page->BSave);
    EXPECT_EQ(context->store().readString("Odd", "CONNECTION"), "ftps-tls13");
    select(QStringLiteral("Plain"));
    EXPECT_EQ(page->Connection->currentText(), QStringLiteral("FTP, passive mode"));
}

TEST_F(SettingsFrameTest, PortFieldTypingClampingAndReading)
{
    struct Case
    {
        const char* typed;
        const char* shownAfterLeaving;
        const char* saved;
    };
    const Case cases[] = {
        { "2121", "2121", "2121" },
        { "0", "1", "1" },
        { "70000", "65535", "65535" },
        { "-5", "1", "1" },
        { "", "1", "1" }, // an empty field reads as the lower bound
        { "+80", "80", "80" },
        { "1.5", "1", "1" }, // no integer: the lower bound
        { "2a1b", "21", "21" }, // letters cannot be typed
        { "99 9", "999", "999" },
        { "99999999999", "65535", "65535" }, // beyond an int: still the upper bound
        { "+99999999999999999999", "65535", "65535" },
        { "-99999999999", "1", "1" },
        { "0000000000000080", "80", "80" },
    };
    folder.write("ftpserver.ini", "[Alpha]\r\nHOST=\r\n");
    open();
    select(QStringLiteral("Alpha"));
    for (const Case& c : cases) {
        type(page->Port, QString::fromLatin1(c.typed));
        page->User->setFocus();
        EXPECT_EQ(page->Port->text(), QString::fromLatin1(c.shownAfterLeaving)) << c.typed;
        click(page->BSave);
        EXPECT_EQ(ini(),
            "[Alpha]\r\nHOST=\r\nPORT=" + std::string(c.saved)
                + "\r\nUSER=\r\nPASS=\r\nHLDS=\r\nCONNECTION=ftp-active\r\nGAMEHOST=\r\nGAMEPORT=27015\r\nLOGADDRESS="
                  "\r\nLOGPORT=27500\r\nSTUNSERVER=stun.l.google.com:19302\r\n")
            << c.typed;
    }

    // Read while still being typed in: out of range and non-integers.
    type(page->Port, QStringLiteral("70000"));
    EXPECT_EQ(page->Port->text(), QStringLiteral("70000"));
    EXPECT_EQ(page->Port->portValue(), 65535);
    type(page->Port, QStringLiteral("-"));
    EXPECT_EQ(page->Port->portValue(), 1);
    // Setting from a number pulls it into the range.
    page->Port->setValue(0);
    EXPECT_EQ(page->Port->text(), QStringLiteral("1"));
    page->Port->setValue(123456);
    EXPECT_EQ(page->Port->text(), QStringLiteral("65535"));
}

TEST_F(SettingsFrameTest, StoredPortOutOfRangeIsSavedAsTheBound)
{
    folder.write("ftpserver.ini", "[Alpha]\r\nPORT=99999\r\n");
    open();
    select(QStringLiteral("Alpha"));
    click(page->BSave);
    EXPECT_EQ(ini(),
        "[Alpha]\r\nPORT=65535\r\nHOST=\r\nUSER=\r\nPASS=\r\nHLDS=\r\nCONNECTION=ftp-active\r\nGAMEHOST=\r\nGAMEPORT="
        "27015\r\nLOGADDRESS=\r\nLOGPORT=27500\r\nSTUNSERVER=stun.l.google.com:19302\r\n");
}

TEST_F(SettingsFrameTest, SingleLineFieldsRefusePastedLineBreaks)
{
    folder.write("ftpserver.ini", "[Alpha]\r\n");
    open();
    select(QStringLiteral("Alpha"));
    for (QLineEdit* field :
        { page->Host, page->User, page->Password, page->hldsPath, page->GameHost, page->LogAddress }) {
        field->setText(QStringLiteral("keep"));
        field->setFocus();
        field->end(false);
        QApplication::clipboard()->setText(QStringLiteral("x\r\n[Beta]\r\nHOST=evil"));
        field->paste();
        EXPECT_EQ(field->text(), QStringLiteral("keep")) << field->objectName().toStdString();
    }
    // The two addresses become words of console commands on the game server:
    // nothing that could end the word or the command gets in.
    for (QLineEdit* field : { page->GameHost, page->LogAddress }) {
        for (const QString& pasted : { QStringLiteral(" 1.2.3.4"), QStringLiteral(";quit"), QStringLiteral("\"x"),
                 QStringLiteral("'x"), QStringLiteral("\tx"), QString(QChar(0x1b)) }) {
            field->setFocus();
            field->end(false);
            QApplication::clipboard()->setText(pasted);
            field->paste();
            EXPECT_EQ(field->text(), QStringLiteral("keep")) << field->objectName().toStdString();
        }
        type(field, QStringLiteral("[2001:db8::1]"));
        EXPECT_EQ(field->text(), QStringLiteral("[2001:db8::1]"));
        field->setText(QStringLiteral("keep"));
    }
    click(page->BSave);
    EXPECT_EQ(ini(),
        "[Alpha]\r\nHOST=keep\r\nPORT=21\r\nUSER=keep\r\nPASS=keep\r\nHLDS=keep\r\nCONNECTION=ftp-active\r\n"
        "GAMEHOST=keep\r\nGAMEPORT=27015\r\nLOGADDRESS=keep\r\nLOGPORT=27500\r\nSTUNSERVER=stun.l.google.com:"
        "19302\r\n");
}

TEST_F(SettingsFrameTest, DeleteAsksThenErasesAndKeepsFolder)
{
    const std::string file = "[Alpha]\r\nHOST=a\r\nPORT=2121\r\n[Beta Server]\r\nHOST=b\r\nUSER=u\r\n[Gamma]\r\n";
    folder.write("ftpserver.ini", file);
    open();

    prompts.expectErrorBox(kSelect);
    click(page->BDelete);
    prompts.verify();

    select(QStringLiteral("Beta Server"));
    prompts.expectConfirm(QStringLiteral("Do you want to delete Beta Server ?"), false);
    click(page->BDelete);
    prompts.verify();
    EXPECT_EQ(ini(), file);
    EXPECT_EQ(listed().size(), 3);
    EXPECT_EQ(status.status(), QString());

    ASSERT_TRUE(makeFolders(context->profileFolder("Beta Server")));
    folder.write("cfgs/Beta Server/users.ini", "kept\r\n");
    prompts.expectConfirm(QStringLiteral("Do you want to delete Beta Server ?"), true);
    click(page->BDelete);
    prompts.verify();
    EXPECT_EQ(ini(), "[Alpha]\r\nHOST=a\r\nPORT=2121\r\n[Gamma]\r\n");
    EXPECT_EQ(listed(), (QStringList{ QStringLiteral("Alpha"), QStringLiteral("Gamma") }));
    EXPECT_EQ(currentProfile(page->ServerList), std::nullopt);
    EXPECT_EQ(status.status(), kRestart);
    EXPECT_EQ(folder.read("cfgs/Beta Server/users.ini"), "kept\r\n");
    // The fields still show the deleted profile, but Save has nothing to write to.
    EXPECT_EQ(page->ServerName->text(), QStringLiteral("Beta Server"));
    EXPECT_EQ(page->User->text(), QStringLiteral("u"));
    status.setStatus(QString());
    prompts.expectErrorBox(kSelect);
    click(page->BSave);
    prompts.verify();
    EXPECT_EQ(ini(), "[Alpha]\r\nHOST=a\r\nPORT=2121\r\n[Gamma]\r\n");
    EXPECT_EQ(status.status(), QString());

    // Adding the name again reuses the old folder and what it holds.
    add(QStringLiteral("beta server"));
    EXPECT_EQ(ini(), "[Alpha]\r\nHOST=a\r\nPORT=2121\r\n[Gamma]\r\n[beta server]\r\nHOST=\r\n");
    EXPECT_EQ(listed().last(), QStringLiteral("beta server"));
    EXPECT_EQ(folder.read("cfgs/Beta Server/users.ini"), "kept\r\n");
    select(QStringLiteral("beta server"));
    EXPECT_EQ(page->Port->text(), QStringLiteral("21"));
    EXPECT_EQ(page->User->text(), QString());
}

// A write that fails stops the handler at that key: the general error report
// with the store's message, earlier keys written, the file whole, no status.
TEST_F(SettingsFrameTest, SaveStopsAtTheKeyThatCannotBeWritten)
{
    folder.write("ftpserver.ini", "[Alpha]\r\nHOST=old\r\nExtra=1\r\n");
    open();
    select(QStringLiteral("Alpha"));
    type(page->Host, QStringLiteral("h"));
    typePort(QStringLiteral("2121"));
    type(page->User, QString(400, u'u'));
    {
        // Room for HOST and PORT, not for the long USER line.
        const FileSizeLimit limit(200);
        prompts.expectErrorReport(toDisplay(context->store().path()));
        click(page->BSave);
        prompts.verify();
    }
    EXPECT_EQ(ini(), "[Alpha]\r\nHOST=h\r\nExtra=1\r\nPORT=2121\r\n");
    EXPECT_EQ(status.status(), QString());
    EXPECT_EQ(prompts.shown().last().right(1), QStringLiteral("."));
}

// A write-protected store stops Save with the report instead of being
// replaced behind the user's back; a portable copy in a folder the user may
// not write keeps a store the user may write.
TEST_F(SettingsFrameTest, SaveNeedsAWritableStore)
{
    folder.write("ftpserver.ini", "[Alpha]\r\nHOST=old\r\n");
    open();
    select(QStringLiteral("Alpha"));
    ::chmod(folder.file("ftpserver.ini").c_str(), 0444);
    prompts.expectErrorReport(toDisplay(context->store().path()));
    click(page->BSave);
    prompts.verify();
    EXPECT_EQ(ini(), "[Alpha]\r\nHOST=old\r\n");
    EXPECT_EQ(status.status(), QString());
    ::chmod(folder.file("ftpserver.ini").c_str(), 0644);

    if (!test::permissionsApply())
        return; // root passes through a folder's permissions
    ::chmod(folder.path().c_str(), 0555);
    ::chmod(folder.file("ftpserver.ini").c_str(), 0400);
    prompts.expectErrorReport(toDisplay(context->store().path()));
    click(page->BSave);
    prompts.verify();
    EXPECT_EQ(ini(), "[Alpha]\r\nHOST=old\r\n");
    EXPECT_EQ(status.status(), QString());

    ::chmod(folder.file("ftpserver.ini").c_str(), 0600);
    page->Host->setText(QStringLiteral("new"));
    click(page->BSave);
    prompts.verify();
    ::chmod(folder.path().c_str(), 0755);
    EXPECT_NE(ini().find("HOST=new\r\n"), std::string::npos) << ini();
    EXPECT_EQ(status.status(), QStringLiteral("Settings successfully saved."));
}

TEST_F(SettingsFrameTest, FailedAddAndDeleteLeaveListFolderAndStatus)
{
    // A program folder below a regular file can hold no store.
    folder.write("plain", "x");
    open(folder.file("plain/"));
    prompts.expectInput(kCaption, QStringLiteral("Alpha")).expectErrorReport(QStringLiteral("ftpserver.ini"));
    click(page->BAdd);
    prompts.verify();
    EXPECT_EQ(listed(), QStringList());
    EXPECT_EQ(status.status(), QString());
    EXPECT_EQ(folder.read("plain"), "x");

    const std::string file = "[Alpha]\r\nHOST=a\r\n[Beta]\r\nHOST=b\r\n";
    folder.write("ftpserver.ini", file);
    open();
    select(QStringLiteral("Alpha"));
    {
        const FileSizeLimit limit(8);
        prompts.expectConfirm(QStringLiteral("Do you want to delete Alpha ?"), true)
            .expectErrorReport(toDisplay(context->store().path()));
        click(page->BDelete);
        prompts.verify();
    }
    EXPECT_EQ(ini(), file);
    EXPECT_EQ(listed(), (QStringList{ QStringLiteral("Alpha"), QStringLiteral("Beta") }));
    EXPECT_EQ(status.status(), QString());
}

// Added and deleted profiles reach the other pages' selectors at the next start.
TEST_F(SettingsFrameTest, OtherSelectorsFollowOnlyAfterRestart)
{
    folder.write("ftpserver.ini", "[Old]\r\nHOST=o\r\n");
    const auto selectorTexts = [](TMainForm& w) {
        QList<QStringList> all;
        for (QComboBox* box :
            { w.chatFrame->FTPServer, w.cfgFrame->FTPServer, w.userFrame->FTPServer, w.mapcycleFrame->FTPServer }) {
            QStringList texts;
            for (int i = 0; i < box->count(); ++i)
                texts << box->itemText(i);
            all << texts;
        }
        return all;
    };
    {
        TMainForm w(folder.path(), prompts);
        TsettingsFrame& settings = *w.settingsFrame;
        prompts.expectInput(kCaption, QStringLiteral("New"));
        runGuarded([&] { settings.BAddClick(); });
        settings.ServerList->setCurrentRow(0);
        prompts.expectConfirm(QStringLiteral("Do you want to delete Old ?"), true);
        runGuarded([&] { settings.BDeleteClick(); });
        prompts.verify();
        EXPECT_EQ(w.status(), kRestart);
        EXPECT_EQ(settings.ServerList->count(), 1);
        EXPECT_EQ(selectorTexts(w), QList<QStringList>(4, QStringList{ QStringLiteral("Old") }));
    }
    TMainForm restarted(folder.path(), prompts);
    EXPECT_EQ(selectorTexts(restarted), QList<QStringList>(4, QStringList{ QStringLiteral("New") }));
}

} // namespace
} // namespace velth
