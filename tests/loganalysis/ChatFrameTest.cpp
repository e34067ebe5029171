// The Chat parser page without a server: its layout, the local logs, the
// refusals of a disconnected page and saving the chats.
#include "loganalysis/ChatFrame.h"

#include "common/AppContext.h"
#include "common/ErrorReport.h"
#include "common/FileIo.h"
#include "common/ProfileSelector.h"
#include "common/Prompts.h"
#include "loganalysis/ChatModel.h"
#include "loganalysis/ChatViews.h"
#include "loganalysis/LocalFileList.h"
#include "loganalysis/RtfWriter.h"
#include "loganalysis/WorkedExampleLog.h"
#include "profiles/ProfileStore.h"
#include "support/RecordingStatus.h"
#include "support/ScriptedPrompts.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <filesystem>

using namespace velth;
using velth::test::ProgramFolder;
using velth::test::ScriptedPrompts;

namespace {

// Prompts that run something when the confirmation is asked, as another
// program would between the question and the answer.
class ConfirmHook final : public Prompts
{
public:
    explicit ConfirmHook(ScriptedPrompts& script)
        : m_script(script)
    { }
    std::function<void()> onConfirm;

    void errorBox(const QString& text) override { m_script.errorBox(text); }
    bool confirm(const QString& question) override
    {
        if (onConfirm)
            onConfirm();
        return m_script.confirm(question);
    }
    std::optional<QString> inputText(const QString& caption, const QString& label, int maxLength) override
    {
        return m_script.inputText(caption, label, maxLength);
    }
    std::optional<QString> saveFileName(const QString& filter, const QString& suffix, const QString& folder) override
    {
        return m_script.saveFileName(filter, suffix, folder);
    }
    void errorReport(const QString& message) override { m_script.errorReport(message); }

private:
    ScriptedPrompts& m_script;
};

struct ChatFrameTest : ::testing::Test
{
    ProgramFolder folder;
    ScriptedPrompts script;
    ConfirmHook prompts{ script };
    test::RecordingStatus status;
    ProfileStore store{ folder.path() + "/ftpserver.ini" };
    AppContext context{ folder.path(), store, prompts, status };
    std::unique_ptr<TchatFrame> page;

    void SetUp() override
    {
        setErrorReportPrompts(&prompts);
        std::filesystem::create_directory(folder.file("logs"));
        page = std::make_unique<TchatFrame>(context);
        page->LocalBox->setTitle(QStringLiteral("Local Files: ") + logs());
        page->LocalFiles->setRootFolder(logs());
        page->show();
    }
    void TearDown() override
    {
        page.reset();
        script.verify();
        setErrorReportPrompts(nullptr);
    }

    QString logs() const { return QString::fromStdString(folder.file("logs")); }
    std::string logFile(const std::string& name) const { return folder.file("logs/" + name); }
    void writeLog(const std::string& name, const std::string& bytes) const { folder.write("logs/" + name, bytes); }

    // Waits for the local list to show these names and selects one of them.
    void selectLocal(const QString& name, int count)
    {
        ASSERT_TRUE(QTest::qWaitFor([&] { return page->LocalFiles->names().size() == count; }, 10000))
            << page->LocalFiles->names().join(u',').toStdString();
        ASSERT_TRUE(page->LocalFiles->selectName(name));
    }
};

TEST_F(ChatFrameTest, SixTabsOpeningOnLocalFiles)
{
    QTabWidget* tabs = page->MainControl;
    ASSERT_EQ(tabs->count(), 6);
    const QStringList captions
        = { QStringLiteral("Download"), QStringLiteral("Local Files"), QStringLiteral("Global info"),
              QStringLiteral("Public Chat"), QStringLiteral("T Chat"), QStringLiteral("CT Chat") };
    const QStringList names
        = { QStringLiteral("DownloadTab"), QStringLiteral("LocalFileTab"), QStringLiteral("GlobalTab"),
              QStringLiteral("PublicChatTab"), QStringLiteral("TChatTab"), QStringLiteral("CTChatTab") };
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(tabs->tabText(i), captions[i]);
        EXPECT_EQ(tabs->widget(i)->objectName(), names[i]);
    }
    EXPECT_FALSE(tabs->tabIcon(0).isNull());
    EXPECT_FALSE(tabs->tabIcon(1).isNull());
    EXPECT_EQ(tabs->currentIndex(), 1);
    // All six tabs stand side by side in the page's width, without scrolling,
    // in the main window's font.
    QFont font = page->font();
    font.setPixelSize(11);
    page->setFont(font);
    page->resize(520, 407);
    EXPECT_LE(tabs->tabBar()->sizeHint().width(), 520);
    tabs->setCurrentIndex(0);
    page->DownloadTab->layout()->activate();
    page->ServerLabel->parentWidget()->layout()->activate();

    QTreeWidget* files = page->FTPFiles;
    ASSERT_EQ(files->columnCount(), 3);
    EXPECT_EQ(files->headerItem()->text(0), QStringLiteral("Filename"));
    EXPECT_EQ(files->headerItem()->text(1), QStringLiteral("Date"));
    EXPECT_EQ(files->headerItem()->text(2), QStringLiteral("Size"));
    // A log's name, date and size (below 10 MB) show whole in their columns.
    const QFontMetrics metrics = files->fontMetrics();
    const QStringList widest{ QStringLiteral("L1231235.log"), QStringLiteral("Dec 31 23:59 "),
        QStringLiteral("9999999") };
    for (int column = 0; column < widest.size(); ++column)
        EXPECT_LT(metrics.horizontalAdvance(widest[column]), files->columnWidth(column)) << column;
    EXPECT_FALSE(files->header()->sectionsClickable());

    EXPECT_EQ(page->ServerLabel->text(), QStringLiteral("Select FTP Server"));
    EXPECT_EQ(page->FTPServer->width(), 145);
    for (QPushButton* button : { page->BConnect, page->BDownload, page->BDisconnect })
        EXPECT_EQ(button->size(), QSize(75, 21)) << button->objectName().toStdString();
    EXPECT_EQ(page->BConnect->text(), QStringLiteral("Connect"));
    EXPECT_EQ(page->BDownload->text(), QStringLiteral("Download"));
    EXPECT_EQ(page->BDisconnect->text(), QStringLiteral("Disconnect"));
    // The bar's controls keep their order from left to right.
    EXPECT_LT(page->ServerLabel->x(), page->FTPServer->x());
    EXPECT_LT(page->FTPServer->x(), page->BConnect->x());
    EXPECT_LT(page->BConnect->x(), page->BDownload->x());
    EXPECT_LT(page->BDownload->x(), page->BDisconnect->x());
    EXPECT_FALSE(page->TransferBar->isVisible());

    EXPECT_EQ(page->LocalBox->title(), QStringLiteral("Local Files: ") + logs());
    EXPECT_EQ(page->DeleteFile1->text(), QStringLiteral("Delete File"));
    for (QAction* item : { page->SaveChatas1, page->MenuItem1, page->MenuItem2 })
        EXPECT_EQ(item->text(), QStringLiteral("Save Chat as ...")) << item->objectName().toStdString();
    const QString hint = QStringLiteral("Click right mousebutton for more options");
    for (QWidget* view : std::initializer_list<QWidget*>{
             page->LocalFiles, page->Views->PublicChat, page->Views->TChat, page->Views->CTChat })
        EXPECT_EQ(view->toolTip(), hint) << view->objectName().toStdString();
}

// A disconnected page: Connect needs a profile; Download and Disconnect do
// nothing at all.
TEST_F(ChatFrameTest, DisconnectedPageRefusesQuietly)
{
    status.setStatus(QStringLiteral("before"));
    script.expectErrorBox(QStringLiteral("Please select a FTP Server!"));
    QTest::mouseClick(page->BConnect, Qt::LeftButton);
    script.verify();

    auto* row = new QTreeWidgetItem(page->FTPFiles, { QStringLiteral("L1.log"), QString(), QStringLiteral("1") });
    row->setSelected(true);
    QTest::mouseClick(page->BDownload, Qt::LeftButton);
    QTest::mouseClick(page->BDisconnect, Qt::LeftButton);
    EXPECT_EQ(status.history, QStringList{ QStringLiteral("before") });
    EXPECT_EQ(page->FTPFiles->topLevelItemCount(), 1);
    EXPECT_FALSE(page->isTransferring());
}

TEST_F(ChatFrameTest, DoubleClickOnALocalLogScansIt)
{
    writeLog("L1020000.log", "L 10/20/2003 - 20:13:52: Log file started\r\n");
    writeLog("L1021000.log", "L 10/21/2003 - 08:00:00: Log file started\r\n");
    selectLocal(QStringLiteral("L1021000.log"), 2);
    page->LocalFilesDblClick();
    EXPECT_EQ(status.history,
        QStringList({ QStringLiteral("Scanning: L1021000.log."), QStringLiteral("Finished scanning L1021000.log.") }));
    EXPECT_EQ(page->MainControl->currentIndex(), 2);
}

// Delete asks for and removes exactly the file the entry shows; nothing is
// appended to its name.
TEST_F(ChatFrameTest, DeleteRemovesExactlyTheShownFile)
{
    writeLog("notes.txt", "n");
    writeLog("notes.txt.log", "must stay");
    writeLog("L1020000.LOG", "upper");
    selectLocal(QStringLiteral("notes.txt"), 3);

    script.expectConfirm(QStringLiteral("Do you want to delete notes.txt ?"), false);
    page->DeleteFile1->trigger();
    EXPECT_TRUE(std::filesystem::exists(logFile("notes.txt")));

    script.expectConfirm(QStringLiteral("Do you want to delete notes.txt ?"), true);
    page->DeleteFile1->trigger();
    EXPECT_FALSE(std::filesystem::exists(logFile("notes.txt")));
    EXPECT_EQ(folder.read("logs/notes.txt.log"), "must stay");
    EXPECT_TRUE(QTest::qWaitFor([&] { return page->LocalFiles->names().size() == 2; }, 10000));

    ASSERT_TRUE(page->LocalFiles->selectName(QStringLiteral("L1020000.LOG")));
    script.expectConfirm(QStringLiteral("Do you want to delete L1020000.LOG ?"), true);
    page->DeleteFile1->trigger();
    EXPECT_FALSE(std::filesystem::exists(logFile("L1020000.LOG")));
    script.verify();
    EXPECT_TRUE(status.history.isEmpty());
}

// A deletion that fails is reported, no longer passed over in silence.
TEST_F(ChatFrameTest, FailedDeletionIsReported)
{
    writeLog("L1.log", "x");
    selectLocal(QStringLiteral("L1.log"), 1);
    prompts.onConfirm = [&] { std::filesystem::remove(logFile("L1.log")); };
    script.expectConfirm(QStringLiteral("Do you want to delete L1.log ?"), true);
    script.expectErrorReport(QStringLiteral("L1.log"));
    runGuarded([&] { page->DeleteFile1->trigger(); });
    script.verify();
    ASSERT_EQ(script.shown().size(), 2);
    EXPECT_TRUE(script.shown().last().contains(QStringLiteral("No such file or directory")))
        << script.shown().last().toStdString();
}

TEST_F(ChatFrameTest, NothingSelectedNothingHappens)
{
    writeLog("L1.log", "x");
    ASSERT_TRUE(QTest::qWaitFor([&] { return page->LocalFiles->names().size() == 1; }, 10000));
    page->DeleteFile1->trigger();
    page->LocalFilesDblClick();
    EXPECT_TRUE(std::filesystem::exists(logFile("L1.log")));
    EXPECT_TRUE(status.history.isEmpty());
}

// Each chat is saved as an RTF document with its colours, through one save
// dialog; a cancelled dialog writes nothing.
TEST_F(ChatFrameTest, SavesEachChatAsRtf)
{
    writeLog("L1.log",
        test::kWorkedExampleLog
            + "L 10/20/2003 - 20:16:09: \"J\xc3\xb6rg<7><555555><TERRORIST>\" say_team \"{x}\\y\"\r\n");
    page->ScanLog(QStringLiteral("L1.log"));
    status.history.clear();

    const RtfColor red{ 255, 0, 0 };
    const RtfColor blue{ 0, 0, 255 };
    struct Case
    {
        QAction* item;
        std::string file;
        std::vector<RtfParagraph> expected;
    };
    const Case cases[] = {
        { page->MenuItem1, "t.rtf", { { { "Bob: \"rush\"", red } }, { { "J\xc3\xb6rg: \"{x}\\y\"", red } } } },
        { page->SaveChatas1, "public.rtf",
            { { { "Alice: \"hello all\"", blue } }, { { "Bob: \"hi\" (dead)", red } } } },
        { page->MenuItem2, "ct.doc", { { { "Alice: \"go B\"", blue } } } },
    };
    for (const Case& c : cases) {
        script.expectSaveFile(QString::fromStdString(folder.file(c.file)));
        c.item->trigger();
        script.verify();
        EXPECT_EQ(script.lastFilter(), QStringLiteral("Chat Logs (*.rtf)"));
        EXPECT_EQ(script.lastDefaultSuffix(), QStringLiteral("rtf"));
        EXPECT_EQ(folder.read(c.file), writeRtf(c.expected)) << c.file;
    }
    EXPECT_NE(folder.read("t.rtf").find("J\\'f6rg: \"\\{x\\}\\\\y\""), std::string::npos);

    // The real save dialog asks before it replaces an existing file (see
    // RealSaveDialogAsksBeforeReplacing); the scripted one stands for a user
    // who answered yes: the file is then replaced. Cancelling writes nothing.
    script.expectSaveFile(QString::fromStdString(folder.file("t.rtf")));
    page->SaveChatas1->trigger();
    EXPECT_EQ(folder.read("t.rtf"), folder.read("public.rtf"));
    script.expectSaveFile(std::nullopt);
    page->MenuItem1->trigger();
    EXPECT_EQ(folder.read("t.rtf"), folder.read("public.rtf"));
    script.verify();
    EXPECT_TRUE(status.history.isEmpty());

    // A long chat goes to the file as it is made, whole or not at all: a
    // write that fails after its first pieces leaves the old file as it was
    // and no temporary file; with room, the file is the whole document.
    std::string log = test::kWorkedExampleLog;
    for (int i = 0; i < 20000; ++i)
        log += "L 10/20/2003 - 20:16:09: \"Bob<4><222222><TERRORIST>\" say_team \"line " + std::to_string(i) + "\"\r\n";
    writeLog("L2.log", log);
    page->ScanLog(QStringLiteral("L2.log"));
    std::vector<RtfParagraph> lines{ { { "Bob: \"rush\"", red } } };
    for (int i = 0; i < 20000; ++i)
        lines.push_back({ { "Bob: \"line " + std::to_string(i) + "\"", red } });
    const std::string whole = writeRtf(lines);
    ASSERT_GT(whole.size(), 3 * kRtfPieceSize);
    {
        test::FileSizeLimit limit(2 * kRtfPieceSize);
        script.expectSaveFile(QString::fromStdString(folder.file("t.rtf")));
        script.expectErrorReport(QStringLiteral("Cannot write file ") + QString::fromStdString(folder.file("t.rtf")));
        page->MenuItem1->trigger();
        script.verify();
    }
    EXPECT_EQ(folder.read("t.rtf"), folder.read("public.rtf"));
    for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
        EXPECT_FALSE(isTempFileName(entry.path().filename().string())) << entry.path();
    script.expectSaveFile(QString::fromStdString(folder.file("t.rtf")));
    page->MenuItem1->trigger();
    script.verify();
    EXPECT_EQ(folder.read("t.rtf"), whole);
}

// The program's real save dialog asks before it replaces an existing file:
// answered with No, the dialog stays open and, cancelled then, nothing is
// written.
TEST_F(ChatFrameTest, RealSaveDialogAsksBeforeReplacing)
{
    QtPrompts real;
    AppContext realContext{ folder.path(), store, real, status };
    TchatFrame realPage(realContext);
    writeLog("L1.log", test::kWorkedExampleLog);
    realPage.ScanLog(QStringLiteral("L1.log"));
    folder.write("t.rtf", "kept");
    const QString existing = QString::fromStdString(folder.file("t.rtf"));

    QString question;
    int dialogs = 0;
    bool accepting = false; // one accept at a time, however often the timer fires meanwhile
    QTimer driver;
    driver.setInterval(20);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            question = box->text();
            box->button(QMessageBox::No)->click();
        } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            ++dialogs;
            if (question.isEmpty()) {
                if (accepting)
                    return;
                accepting = true;
                // Typed into the name field: selectFile() waits for the
                // folder's model, which may not have loaded yet.
                if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                    name->setText(existing);
                else
                    dialog->selectFile(existing);
                // Out of the timer's call: the question runs an event loop
                // of its own, in which this timer must fire again.
                QTimer::singleShot(0, dialog, [dialog, &accepting] {
                    static_cast<QDialog*>(dialog)->accept();
                    accepting = false; // a dialog that was not ready yet gets another try
                });
            } else {
                dialog->reject();
            }
        }
    });
    driver.start();
    realPage.MenuItem1->trigger();
    driver.stop();
    EXPECT_NE(question.indexOf(QStringLiteral("t.rtf")), -1) << question.toStdString();
    EXPECT_GE(dialogs, 2); // the dialog was still open after the No
    EXPECT_EQ(folder.read("t.rtf"), "kept");
}

TEST_F(ChatFrameTest, UnwritableChatFileIsReported)
{
    writeLog("L1.log", test::kWorkedExampleLog);
    page->ScanLog(QStringLiteral("L1.log"));
    // A path whose parent is a regular file fails even for root.
    folder.write("plain", "x");
    script.expectSaveFile(QString::fromStdString(folder.file("plain/t.rtf")));
    script.expectErrorReport(QStringLiteral("plain/t.rtf"));
    runGuarded([&] { page->MenuItem1->trigger(); });
    script.verify();
    EXPECT_EQ(page->Views->TChat->chatModel()->text(0), QStringLiteral("Bob: \"rush\""));
}

// The views' context menus offer saving.
TEST_F(ChatFrameTest, ChatViewsHaveTheirMenus)
{
    struct Case
    {
        ChatView* view;
        QMenu* menu;
    };
    for (const Case& c : { Case{ page->Views->PublicChat, page->PublicMenu }, Case{ page->Views->TChat, page->TMenu },
             Case{ page->Views->CTChat, page->CTMenu } }) {
        page->MainControl->setCurrentWidget(c.view->parentWidget());
        bool shown = false;
        QTimer::singleShot(0, c.menu, [&] {
            shown = c.menu->isVisible();
            c.menu->close();
        });
        Q_EMIT c.view->customContextMenuRequested(QPoint(5, 5));
        EXPECT_TRUE(shown) << c.menu->objectName().toStdString();
    }
}

} // namespace
