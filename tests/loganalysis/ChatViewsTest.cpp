#include "loganalysis/ChatViews.h"

#include "common/AppContext.h"
#include "common/ErrorReport.h"
#include "common/TextCodec.h"
#include "loganalysis/ChatModel.h"
#include "loganalysis/LogParser.h"
#include "loganalysis/RtfWriter.h"
#include "loganalysis/WorkedExampleLog.h"
#include "profiles/ProfileStore.h"
#include "support/RecordingStatus.h"
#include "support/ScriptedPrompts.h"
#include "support/ShownText.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTreeView>

#include <cstdlib>
#include <filesystem>

// Readable failures for texts.
void PrintTo(const QString& text, std::ostream* os)
{
    *os << text.toStdString();
}

namespace velth {
namespace {

struct Line
{
    QString text;
    QColor color;
    bool operator==(const Line&) const = default;
};

void PrintTo(const Line& line, std::ostream* os)
{
    *os << line.text.toStdString() << " in " << line.color.name().toStdString();
}

const QColor kRed(255, 0, 0);
const QColor kBlue(0, 0, 255);

// What a chat view shows: its rows with their colours.
std::vector<Line> chatLines(const ChatView* view)
{
    std::vector<Line> out;
    const QAbstractItemModel* model = view->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        const QModelIndex index = model->index(row, 0);
        out.push_back(
            { index.data(Qt::DisplayRole).toString(), index.data(Qt::ForegroundRole).value<QBrush>().color() });
    }
    return out;
}

// The document "Save Chat as ..." writes, put together from its pieces.
std::string savedRtf(const ChatModel& model)
{
    std::string document;
    model.writeRtf([&](std::string_view piece) { document += piece; });
    return document;
}

// The saved RTF as the rich-text views of earlier versions wrote it: each
// entry a paragraph of a text document in its colour, written from the
// document's fragments.
std::string documentRtf(const ChatLog& chat)
{
    QTextDocument document;
    QTextCursor cursor(&document);
    bool first = true;
    for (const ChatEntry entry : chat) {
        QTextCharFormat format;
        format.setForeground(entry.color == ChatColor::Blue ? QColor(0, 0, 255) : QColor(255, 0, 0));
        if (first)
            cursor.setBlockCharFormat(format);
        else
            cursor.insertBlock(QTextBlockFormat(), format);
        first = false;
        QString text = toDisplay(entry.text);
        text.replace(QChar::ParagraphSeparator, QChar::LineSeparator);
        cursor.insertText(text, format);
    }
    std::vector<RtfParagraph> paragraphs;
    for (QTextBlock block = document.begin(); !document.isEmpty() && block.isValid(); block = block.next()) {
        RtfParagraph paragraph;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QColor color = it.fragment().charFormat().foreground().color();
            paragraph.push_back({ it.fragment().text().toUtf8().toStdString(),
                { static_cast<std::uint8_t>(color.red()), static_cast<std::uint8_t>(color.green()),
                    static_cast<std::uint8_t>(color.blue()) } });
        }
        paragraphs.push_back(std::move(paragraph));
    }
    return writeRtf(paragraphs);
}

QList<QStringList> rows(const QTreeView* list)
{
    QList<QStringList> out;
    const QAbstractItemModel* model = list->model();
    for (int i = 0; i < model->rowCount(); ++i) {
        QStringList row;
        for (int c = 0; c < model->columnCount(); ++c)
            row.append(model->index(i, c).data().toString());
        out.append(row);
    }
    return out;
}

class ChatViewsTest : public ::testing::Test
{
protected:
    ChatViewsTest()
        : store(folder.path() + "/ftpserver.ini")
        , context(folder.path(), store, prompts, status)
    {
        std::filesystem::create_directories(context.logsFolder());
    }

    // The page's own tabs stand before the views' ones.
    static QTabWidget* withPageTabs(QTabWidget* tabs)
    {
        tabs->addTab(new QWidget, QStringLiteral("Download"));
        tabs->addTab(new QWidget, QStringLiteral("Local Files"));
        return tabs;
    }

    void writeLog(const std::string& name, const std::string& bytes) { folder.write("logs/" + name, bytes); }

    void expectWorkedExample()
    {
        EXPECT_EQ(views.TimeLabel->text(), QStringLiteral("Time: 10/20/2003 - 20:13:52"));
        EXPECT_EQ(views.MapLabel->text(), QStringLiteral("Map: de_dust2"));
        EXPECT_EQ(rows(views.ServerSettings),
            (QList<QStringList>{ { QStringLiteral("mp_friendlyfire"), QStringLiteral("1") } }));
        EXPECT_EQ(chatLines(views.PublicChat),
            (std::vector<Line>{
                { QStringLiteral("Alice: \"hello all\""), kBlue }, { QStringLiteral("Bob: \"hi\" (dead)"), kRed } }));
        EXPECT_EQ(chatLines(views.CTChat), (std::vector<Line>{ { QStringLiteral("Alice: \"go B\""), kBlue } }));
        EXPECT_EQ(chatLines(views.TChat), (std::vector<Line>{ { QStringLiteral("Bob: \"rush\""), kRed } }));
        EXPECT_EQ(rows(views.CTView),
            (QList<QStringList>{ { QStringLiteral("Alice"), QStringLiteral("111111"), QStringLiteral("0") },
                { QStringLiteral("Carl"), QStringLiteral("333333"), QStringLiteral("1") } }));
        EXPECT_EQ(views.TView->model()->rowCount(), 0);
        EXPECT_EQ(views.CTScore->text(), QStringLiteral("1 wins"));
        EXPECT_EQ(views.TScore->text(), QStringLiteral("0 wins"));
    }

    void expectEmptyViews(const QString& time)
    {
        EXPECT_EQ(views.TimeLabel->text(), time);
        EXPECT_EQ(views.MapLabel->text(), QStringLiteral("Map:"));
        EXPECT_EQ(views.CTScore->text(), QStringLiteral("0 wins"));
        EXPECT_EQ(views.TScore->text(), QStringLiteral("0 wins"));
        EXPECT_EQ(views.PublicChat->model()->rowCount(), 0);
        EXPECT_EQ(views.TChat->model()->rowCount(), 0);
        EXPECT_EQ(views.CTChat->model()->rowCount(), 0);
        EXPECT_EQ(views.ServerSettings->model()->rowCount(), 0);
        EXPECT_EQ(views.CTView->model()->rowCount(), 0);
        EXPECT_EQ(views.TView->model()->rowCount(), 0);
    }

    test::ProgramFolder folder;
    test::ScriptedPrompts prompts;
    test::RecordingStatus status;
    ProfileStore store;
    AppContext context;
    QTabWidget tabs;
    ChatViews views{ context, withPageTabs(&tabs) };
};

TEST_F(ChatViewsTest, TabsAndColumns)
{
    ASSERT_EQ(tabs.count(), 6);
    const QStringList captions = { QStringLiteral("Global info"), QStringLiteral("Public Chat"),
        QStringLiteral("T Chat"), QStringLiteral("CT Chat") };
    const QStringList names = { QStringLiteral("GlobalTab"), QStringLiteral("PublicChatTab"),
        QStringLiteral("TChatTab"), QStringLiteral("CTChatTab") };
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(tabs.tabText(i + 2), captions[i]);
        EXPECT_EQ(tabs.widget(i + 2)->objectName(), names[i]);
        EXPECT_FALSE(tabs.tabIcon(i + 2).isNull());
    }
    EXPECT_EQ(tabs.widget(2)->findChild<QTreeView*>(QStringLiteral("CTView")), views.CTView);
    EXPECT_EQ(tabs.widget(3)->findChild<ChatView*>(QStringLiteral("PublicChat")), views.PublicChat);
    const auto header
        = [](QTreeView* list, int column) { return list->model()->headerData(column, Qt::Horizontal).toString(); };
    EXPECT_EQ(header(views.CTView, 1), QStringLiteral("WonID"));
    EXPECT_EQ(header(views.ServerSettings, 0), QStringLiteral("CVar"));
    EXPECT_EQ(header(views.ServerSettings, 1), QStringLiteral("Setting"));
    EXPECT_EQ(views.CTView->columnWidth(0), 300);
    EXPECT_EQ(views.ServerSettings->columnWidth(1), 120);
    EXPECT_EQ(views.PublicChat->editTriggers(), QAbstractItemView::NoEditTriggers);
    expectEmptyViews(QStringLiteral("Time:"));
}

TEST_F(ChatViewsTest, ScansTheWorkedExample)
{
    writeLog("L1020000.log", test::kWorkedExampleLog);
    views.ScanLog(QStringLiteral("L1020000.log"));
    EXPECT_EQ(status.history,
        (QStringList{ QStringLiteral("Scanning: L1020000.log."), QStringLiteral("Finished scanning L1020000.log.") }));
    EXPECT_EQ(tabs.currentWidget(), views.GlobalTab);
    expectWorkedExample();

    // A name shown without its extension opens the .log file; a second scan
    // replaces everything.
    tabs.setCurrentIndex(0);
    views.ScanLog(QStringLiteral("L1020000"));
    EXPECT_EQ(status.status(), QStringLiteral("Finished scanning L1020000."));
    EXPECT_EQ(tabs.currentIndex(), 2);
    expectWorkedExample();
}

TEST_F(ChatViewsTest, EmptyFileResetsEverything)
{
    writeLog("L1020000.log", test::kWorkedExampleLog);
    views.ScanLog(QStringLiteral("L1020000.log"));
    writeLog("EMPTY.LOG", "");
    views.ScanLog(QStringLiteral("EMPTY.LOG"));
    EXPECT_EQ(status.status(), QStringLiteral("Finished scanning EMPTY.LOG."));
    expectEmptyViews(QStringLiteral("Time: "));
}

// Lines are text, never markup; bytes are shown by the display rule, control
// characters visibly. A label left to guess the format rendered a log's
// "<h1>" as a heading and "<img>" as a picture from the local disk.
TEST_F(ChatViewsTest, ShowsTextAsItStands)
{
    writeLog("odd.Log",
        "L <h1>1</h1><img src=x>2: start\n"
        "L 5: Team \"CT\" triggered \"CTs_Win\" (CT \"<h1>9</h1>\") (T \"<a href='x'>y</a>\x07\")\n"
        "L 1: \"<b>Tag</b><1><2><TERRORIST>\" say \"<i>not italic</i> &amp;\"\r"
        "L 2: \"J\xC3\xBCrgen<1><3><CT>\" say_team \"gr\xC3\xBC\xC3\x9F\"\n"
        "L 3: \"M\xFCller<4><5><TERRORIST>\" say_team \"caf\xE9\"\n"
        "L 4: Loading map \"<b>de_dust</b>\"\n");
    views.ScanLog(QStringLiteral("odd.Log"));
    EXPECT_EQ(chatLines(views.PublicChat),
        (std::vector<Line>{ { QStringLiteral("<b>Tag</b>: \"<i>not italic</i> &amp;\""), kRed } }));
    EXPECT_EQ(
        chatLines(views.CTChat), (std::vector<Line>{ { QStringLiteral("J\u00FCrgen: \"gr\u00FC\u00DF\""), kBlue } }));
    EXPECT_EQ(chatLines(views.TChat), (std::vector<Line>{ { QStringLiteral("M\u00FCller: \"caf\u00E9\""), kRed } }));
    EXPECT_EQ(test::shownText(views.MapLabel), QStringLiteral("Map: <b>de_dust</b>"));
    EXPECT_EQ(test::shownText(views.TimeLabel), QStringLiteral("Time: <h1>1</h1><img src=x>"));
    EXPECT_EQ(test::shownText(views.CTScore), QStringLiteral("<h1>9</h1> wins"));
    EXPECT_EQ(test::shownText(views.TScore), QStringLiteral("<a href='x'>y</a>\u2407 wins"));
}

TEST_F(ChatViewsTest, FileThatCannotBeOpened)
{
    writeLog("L1020000.log", test::kWorkedExampleLog);
    views.ScanLog(QStringLiteral("L1020000.log"));
    tabs.setCurrentIndex(1);
    writeLog("notes.txt", test::kWorkedExampleLog); // looked for as notes.txt.log
    prompts.expectErrorReport(QString::fromStdString(context.logsFolder()) + QStringLiteral("/notes.txt.log"));
    runGuarded([&] { views.ScanLog(QStringLiteral("notes.txt")); });
    prompts.verify();
    EXPECT_EQ(status.status(), QStringLiteral("Scanning: notes.txt."));
    EXPECT_EQ(tabs.currentIndex(), 1);
    expectEmptyViews(QStringLiteral("Time:"));
}

TEST_F(ChatViewsTest, FileThatCannotBeRead)
{
    std::filesystem::create_directories(context.logsFolder() + "/folder.log");
    prompts.expectErrorReport(QStringLiteral("Cannot read "));
    runGuarded([&] { views.ScanLog(QStringLiteral("folder.log")); });
    prompts.verify();
    EXPECT_EQ(status.status(), QStringLiteral("Scanning: folder.log."));
    expectEmptyViews(QStringLiteral("Time:"));
}

// The saved chats are byte for byte what the rich-text views wrote before,
// on the worked example and on a generated log (non-ASCII names, chat cut at
// the engine's line limit in the middle of a character).
TEST_F(ChatViewsTest, SavedChatsAsTheRichTextViewsWroteThem)
{
    writeLog("L1020000.log", test::kWorkedExampleLog);
    const std::string generated = context.logsFolder() + "/generated.log";
    ASSERT_EQ(
        std::system(("/usr/bin/python3 '" VELTH_GENLOG "' --size 3M --seed 7 --crlf -o '" + generated + "'").c_str()),
        0);
    for (const char* name : { "L1020000.log", "generated.log" }) {
        SCOPED_TRACE(name);
        LogParser parser;
        scanLogFile(context.logsFolder() + "/" + name, parser);
        const ScanResult& scan = parser.result();
        views.ScanLog(QString::fromLatin1(name));
        ASSERT_EQ(views.PublicChat->model()->rowCount(), static_cast<int>(scan.publicChat.size()));
        EXPECT_EQ(savedRtf(*views.PublicChat->chatModel()), documentRtf(scan.publicChat));
        EXPECT_EQ(savedRtf(*views.TChat->chatModel()), documentRtf(scan.tChat));
        EXPECT_EQ(savedRtf(*views.CTChat->chatModel()), documentRtf(scan.ctChat));
    }
    EXPECT_GT(views.PublicChat->model()->rowCount(), 1000);
    views.ScanLog(QStringLiteral("L1020000.log"));
    EXPECT_EQ(savedRtf(*views.PublicChat->chatModel()),
        "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\r\n"
        "{\\fonttbl{\\f0\\fswiss\\fcharset0 MS Sans Serif;}}\r\n"
        "{\\colortbl ;\\red0\\green0\\blue255;\\red255\\green0\\blue0;}\r\n"
        "\\viewkind4\\pard\\plain\\f0\\fs16\r\n"
        "\\cf1 Alice: \"hello all\"\\par\r\n"
        "\\cf2 Bob: \"hi\" (dead)\\par\r\n"
        "}\r\n");
}

// A character that starts a new line or paragraph somewhere (in the view's
// text engine, a text editor or an RTF reader) is shown as U+FFFD, so a
// player cannot forge a second line: every chat entry, name and server
// variable stays one row, and the saved chat one paragraph per entry.
TEST_F(ChatViewsTest, LineBreakingCharactersStayInTheirLine)
{
    const std::vector<std::string> breaks = { "\xE2\x80\xA8", "\xE2\x80\xA9", "\xEF\xB7\x90", "\xEF\xB7\x91",
        "\xC2\x85", "\x0B", "\x0C", "\x1C", "\x1D", "\x1E" };
    std::string log = "L 10/20/2003 - 20:13:52: start\n";
    for (const std::string& c : breaks) {
        log += "L 1: \"Eve<7><777><CT>\" say \"a" + c + "b: forged\"\n";
        log += "L 2: \"Bob<4><222><TERRORIST>\" say_team \"" + c + "\"\n";
        log += "L 3: \"N" + c + "<5><W" + c + "><CT>\" killed \"x<1><2><TERRORIST>\" with \"awp\"\n";
        log += "L 4: Server cvar \"v" + c + "\" = \"1" + c + "\"\n";
    }
    writeLog("forged.log", log);
    views.ScanLog(QStringLiteral("forged.log"));

    const QString replaced(QChar::ReplacementCharacter);
    ASSERT_EQ(views.PublicChat->model()->rowCount(), static_cast<int>(breaks.size()));
    for (int i = 0; i < static_cast<int>(breaks.size()); ++i) {
        SCOPED_TRACE(testing::PrintToString(breaks[static_cast<std::size_t>(i)]));
        EXPECT_EQ(chatLines(views.PublicChat)[static_cast<std::size_t>(i)],
            (Line{ QStringLiteral("Eve: \"a") + replaced + QStringLiteral("b: forged\""), kBlue }));
        EXPECT_EQ(
            chatLines(views.TChat)[static_cast<std::size_t>(i)].text, QStringLiteral("Bob: \"") + replaced + u'"');
        EXPECT_EQ(rows(views.ServerSettings)[i], (QStringList{ u'v' + replaced, u'1' + replaced }));
    }
    // All the players' ids differ only in the replaced character: each keeps
    // its own row.
    ASSERT_EQ(views.CTView->model()->rowCount(), static_cast<int>(breaks.size()));
    EXPECT_EQ(rows(views.CTView)[0], (QStringList{ u'N' + replaced, u'W' + replaced, QStringLiteral("0") }));

    const std::string rtf = savedRtf(*views.PublicChat->chatModel());
    std::size_t paragraphs = 0;
    for (std::size_t at = rtf.find("\\par\r\n"); at != std::string::npos; at = rtf.find("\\par\r\n", at + 1))
        ++paragraphs;
    EXPECT_EQ(paragraphs, breaks.size());
    EXPECT_NE(rtf.find("\\cf1 Eve: \"a\\u-3\\'3fb: forged\"\\par\r\n"), std::string::npos);
    views.PublicChat->selectAll();
    EXPECT_EQ(views.PublicChat->selectedText().count(u'\n'), static_cast<int>(breaks.size()) - 1);
}

// Ctrl+C copies the selected lines, in order, one per line.
TEST_F(ChatViewsTest, CopiesTheSelectedLines)
{
    std::string log = "L 10/20/2003 - 20:13:52: start\n";
    for (int i = 0; i < 6; ++i)
        log += "L 1: \"P" + std::to_string(i) + "<1><2><CT>\" say \"m" + std::to_string(i) + "\"\n";
    writeLog("copy.log", log);
    views.ScanLog(QStringLiteral("copy.log"));
    ChatView* view = views.PublicChat;
    tabs.show();
    tabs.setCurrentWidget(views.PublicChatTab);
    struct Case
    {
        std::vector<std::pair<int, int>> ranges; // selected in this order
        QString copied;
    };
    const Case cases[] = {
        { { { 4, 4 }, { 1, 2 } }, QStringLiteral("P1: \"m1\"\nP2: \"m2\"\nP4: \"m4\"") },
        { { { 0, 0 } }, QStringLiteral("P0: \"m0\"") },
        { { { 3, 5 }, { 0, 0 } }, QStringLiteral("P0: \"m0\"\nP3: \"m3\"\nP4: \"m4\"\nP5: \"m5\"") },
    };
    for (const Case& c : cases) {
        view->clearSelection();
        for (const auto& [top, bottom] : c.ranges)
            view->selectionModel()->select(
                QItemSelection(view->model()->index(top, 0), view->model()->index(bottom, 0)),
                QItemSelectionModel::Select);
        QApplication::clipboard()->clear();
        QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
        EXPECT_EQ(QApplication::clipboard()->text(), c.copied);
    }
    QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text().count(u'\n'), 5);
}

// Rows are as wide as the widest line, wherever it stands, so the view
// scrolls sideways to its end instead of cutting it.
TEST_F(ChatViewsTest, WidestLineSetsTheWidth)
{
    const std::string longMessage(300, 'w');
    writeLog("wide.log",
        "L 10/20/2003 - 20:13:52: start\n"
        "L 1: \"A<1><2><CT>\" say \"short\"\n"
        "L 2: \"B<1><3><CT>\" say \""
            + longMessage
            + "\"\n"
              "L 3: \"C<1><4><CT>\" say \"end\"\n");
    views.ScanLog(QStringLiteral("wide.log"));
    tabs.resize(520, 407);
    tabs.show();
    tabs.setCurrentWidget(views.PublicChatTab);
    QApplication::processEvents();
    ChatView* view = views.PublicChat;
    const int wide = view->fontMetrics().horizontalAdvance(QString::fromStdString("B: \"" + longMessage + "\""));
    EXPECT_GE(view->visualRect(view->model()->index(1, 0)).width(), wide);
    EXPECT_GE(view->horizontalScrollBar()->maximum(), wide - view->viewport()->width());
    EXPECT_EQ(
        view->visualRect(view->model()->index(0, 0)).height(), view->visualRect(view->model()->index(2, 0)).height());
}

} // namespace
} // namespace velth
