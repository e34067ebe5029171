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
#include "loganalysis/PlayerSearch.h"
#include "loganalysis/RtfWriter.h"
#include "loganalysis/WorkedExampleLog.h"
#include "profiles/ProfileStore.h"
#include "support/RecordingStatus.h"
#include "support/ScriptedPrompts.h"
#include "support/ShownText.h"
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
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSplitter>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

#include <chrono>
#include <filesystem>
#include <random>
#include <tuple>

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

// The player search below Local Files: every log of the folder, newest first,
// the other names of each Steam id, everything as plain text; a double click
// scans the log and shows the line.
TEST_F(ChatFrameTest, FindsAPlayerInTheLocalLogs)
{
    PlayerSearch* search = page->Search;
    EXPECT_EQ(search->parentWidget(), page->LocalFileTab->findChild<QSplitter*>());
    QSignalSpy ended(search, &PlayerSearch::searchEnded);
    // Nothing to find: nothing happens. No logs: nothing found.
    search->FindText->setText(QStringLiteral("  "));
    search->BFindClick();
    EXPECT_FALSE(search->isSearching());
    EXPECT_TRUE(status.history.isEmpty());
    search->FindText->setText(QStringLiteral("<i>x"));
    search->BFindClick();
    ASSERT_TRUE(ended.wait(60000));
    EXPECT_EQ(status.history.last(), QStringLiteral("Found 0 appearances of <i>x in 0 logs."));
    EXPECT_EQ(test::shownText(search->FindStatus), status.history.last());

    writeLog("L1020000.log",
        test::kWorkedExampleLog
            + "L 10/20/2003 - 20:16:09: \"Alice<3><111111><CT>\" changed name to \"<b>Al</b>\u202e\"\r\n");
    writeLog("L1021000.LOG",
        "L 10/21/2003 - 08:00:00: Log file started\n"
        "L 10/21/2003 - 08:00:01: \"ALICE\xFF<2><111111><>\" connected, address \"\"\n");
    // The newer log is searched first: its names come first.
    std::filesystem::last_write_time(
        logFile("L1020000.log"), std::filesystem::last_write_time(logFile("L1021000.LOG")) - std::chrono::hours(1));
    writeLog("notes.txt", "L 10/22/2003 - 08:00:01: \"Alice<2><111111><>\" connected, address \"\"\n");
    search->FindText->setText(QStringLiteral(" alice "));
    QTest::mouseClick(search->BFind, Qt::LeftButton);
    ASSERT_TRUE(ended.wait(60000));
    EXPECT_FALSE(search->isSearching());

    QAbstractItemModel* list = search->FindResults->model();
    const QStringList expected = {
        QStringLiteral("L1021000.LOG|2|10/21/2003 - 08:00:01|ALICE\u00ff|111111||connected from "),
        QStringLiteral("L1020000.log|15|10/20/2003 - 20:16:09|Alice|111111|CT|changed name to <b>Al</b><U+202E>"),
        QStringLiteral("L1020000.log|12|10/20/2003 - 20:15:30|Alice|111111|CT|was team-killed by Carl"),
        QStringLiteral("L1020000.log|11|10/20/2003 - 20:15:01|Alice|111111|CT|killed Bob"),
        QStringLiteral("L1020000.log|9|10/20/2003 - 20:14:15|Alice|111111|CT|said to team \"go B\""),
        QStringLiteral("L1020000.log|7|10/20/2003 - 20:14:10|Alice|111111|CT|said \"hello all\""),
    };
    QStringList rows;
    for (int row = 0; row < list->rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < list->columnCount(); ++column)
            cells.push_back(list->index(row, column).data().toString());
        rows.push_back(cells.join(u'|'));
    }
    EXPECT_EQ(rows, expected);
    // The event's whole text is its tooltip; one that looks like markup
    // shows as the characters it is made of.
    for (int row = 0; row < list->rowCount(); ++row) {
        const QModelIndex event = list->index(row, AppearanceModel::EventColumn);
        const QString tip = event.data(Qt::ToolTipRole).toString();
        if (row == 1) {
            EXPECT_TRUE(tip.contains(QStringLiteral("changed name to &lt;b&gt;Al&lt;/b&gt;"))) << tip.toStdString();
        } else {
            EXPECT_EQ(tip, event.data().toString());
        }
    }
    ASSERT_EQ(search->OtherNames->topLevelItemCount(), 1);
    EXPECT_EQ(search->OtherNames->topLevelItem(0)->text(0), QStringLiteral("111111"));
    EXPECT_EQ(search->OtherNames->topLevelItem(0)->text(1), QStringLiteral("ALICE\u00ff, Alice, <b>Al</b><U+202E>"));
    EXPECT_EQ(status.history.last(), QStringLiteral("Found 6 appearances of alice in 2 logs."));
    EXPECT_EQ(test::shownText(search->FindStatus), status.history.last());
    // Sorting by name keeps ties newest first.
    search->FindResults->sortByColumn(AppearanceModel::NameColumn, Qt::AscendingOrder);
    EXPECT_EQ(list->index(0, AppearanceModel::LineColumn).data().toString(), QStringLiteral("15"));
    EXPECT_EQ(list->index(5, AppearanceModel::LineColumn).data().toString(), QStringLiteral("2"));

    // The team kill: the log is scanned, the line shown among its neighbours.
    search->FindResults->sortByColumn(AppearanceModel::TimeColumn, Qt::DescendingOrder);
    search->FindResults->setCurrentIndex(list->index(2, 0));
    status.history.clear();
    search->FindResultsDblClick();
    EXPECT_EQ(status.history,
        QStringList({ QStringLiteral("Scanning: L1020000.log."), QStringLiteral("Finished scanning L1020000.log.") }));
    EXPECT_EQ(page->MainControl->currentWidget(), page->LocalFileTab);
    EXPECT_EQ(page->Views->CTView->model()->rowCount(), 2);
    EXPECT_EQ(search->LogExcerpt->textCursor().selectedText(),
        QStringLiteral("12: L 10/20/2003 - 20:15:30: \"Carl<5><333333><CT>\" killed \"Alice<3><111111><CT>\" with "
                       "\"ak47\""));
    EXPECT_EQ(search->LogExcerpt->document()->blockCount(), 14); // lines 2 to 15, the last
    EXPECT_TRUE(search->LogExcerpt->toPlainText().startsWith(QStringLiteral("2: ")));
}

// Rows that stream in go where the order shown puts them, in every column and
// direction, whether a batch lands in one place or scatters; the selected row
// stays selected through a new order.
TEST(AppearanceModel, BatchesMergeIntoTheOrderShown)
{
    std::mt19937 rng(5);
    std::vector<PlayerAppearance> all;
    for (std::uint64_t i = 0; i < 3000; ++i) {
        PlayerAppearance a;
        a.file = rng() % 3;
        a.line = i + 1;
        a.time = "10/20/2003 - 20:1" + std::to_string(rng() % 10) + ":0" + std::to_string(rng() % 10);
        a.name = std::string(1, static_cast<char>('a' + rng() % 4));
        all.push_back(a);
    }
    struct Case
    {
        int column;
        Qt::SortOrder order;
        std::size_t batch;
    };
    for (const Case c : { Case{ AppearanceModel::TimeColumn, Qt::DescendingOrder, 7 },
             Case{ AppearanceModel::TimeColumn, Qt::DescendingOrder, 500 },
             Case{ AppearanceModel::NameColumn, Qt::AscendingOrder, 300 },
             Case{ AppearanceModel::LineColumn, Qt::DescendingOrder, 1 } }) {
        SCOPED_TRACE(c.column * 10000 + c.batch);
        AppearanceModel model;
        model.reset({ QStringLiteral("a.log"), QStringLiteral("b.log"), QStringLiteral("c.log") });
        model.sort(c.column, c.order);
        for (std::size_t at = 0; at < all.size(); at += c.batch)
            model.append(std::vector<PlayerAppearance>(all.begin() + static_cast<std::ptrdiff_t>(at),
                all.begin() + static_cast<std::ptrdiff_t>(std::min(at + c.batch, all.size()))));
        ASSERT_EQ(model.rowCount(), 3000);
        auto older = [](const PlayerAppearance& x, const PlayerAppearance& y) {
            return std::make_tuple(timeKey(x.time), x.file, x.line) < std::make_tuple(timeKey(y.time), y.file, y.line);
        };
        std::vector<PlayerAppearance> expected = all;
        std::stable_sort(expected.begin(), expected.end(), [&](const PlayerAppearance& x, const PlayerAppearance& y) {
            if (c.column == AppearanceModel::NameColumn && x.name != y.name)
                return (x.name < y.name) == (c.order == Qt::AscendingOrder);
            if (c.column == AppearanceModel::LineColumn && x.line != y.line)
                return (x.line < y.line) == (c.order == Qt::AscendingOrder);
            return older(y, x);
        });
        for (int row = 0; row < 3000; ++row)
            ASSERT_EQ(model.appearance(row).line, expected[static_cast<std::size_t>(row)].line) << row;
    }
    AppearanceModel model;
    model.reset({ QStringLiteral("a.log"), QStringLiteral("b.log"), QStringLiteral("c.log") });
    model.append(all);
    const QPersistentModelIndex kept(model.index(10, 2));
    const std::uint64_t line = model.appearance(10).line;
    model.sort(AppearanceModel::LineColumn, Qt::AscendingOrder);
    EXPECT_EQ(model.appearance(kept.row()).line, line);
    EXPECT_EQ(kept.column(), 2);
}

// Cancel ends the search at once, and nothing of it arrives later; closing
// the page in the middle of a search ends it too.
TEST_F(ChatFrameTest, PlayerSearchCancelAndClose)
{
    std::string big;
    while (big.size() < (32u << 20))
        big += "L 10/20/2003 - 20:14:10: \"Alice<3><STEAM_0:1:5><CT>\" say \"padding padding padding\"\n";
    writeLog("L1.log", big);
    PlayerSearch* search = page->Search;
    QSignalSpy ended(search, &PlayerSearch::searchEnded);
    search->FindText->setText(QStringLiteral("alice"));
    search->BFindClick();
    EXPECT_TRUE(search->isSearching());
    EXPECT_FALSE(search->BFind->isEnabled());
    search->BFindCancelClick();
    EXPECT_FALSE(search->isSearching());
    EXPECT_TRUE(search->BFind->isEnabled());
    EXPECT_EQ(status.history.last(), QStringLiteral("Search cancelled."));
    QTest::qWait(200);
    EXPECT_EQ(search->FindResults->model()->rowCount(), 0);
    EXPECT_EQ(ended.count(), 1);

    search->BFindClick();
    EXPECT_TRUE(search->isSearching());
    page.reset(); // must not wait for the 32 MB
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
