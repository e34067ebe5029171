#include "loganalysis/ChatViews.h"

#include "common/AppContext.h"
#include "common/ErrorReport.h"
#include "loganalysis/WorkedExampleLog.h"
#include "profiles/ProfileStore.h"
#include "support/RecordingStatus.h"
#include "support/ScriptedPrompts.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTreeWidget>

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

// What a chat view shows: one paragraph per line, each in one colour.
std::vector<Line> chatLines(QTextEdit* view)
{
    std::vector<Line> out;
    const QTextDocument* doc = view->document();
    if (doc->isEmpty())
        return out;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        QColor color;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QColor fragment = it.fragment().charFormat().foreground().color();
            if (color.isValid() && fragment != color)
                ADD_FAILURE() << "two colours in one line: " << block.text().toStdString();
            color = fragment;
        }
        out.push_back({ block.text(), color });
    }
    return out;
}

QList<QStringList> rows(QTreeWidget* list)
{
    QList<QStringList> out;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QStringList row;
        for (int c = 0; c < list->columnCount(); ++c)
            row.append(list->topLevelItem(i)->text(c));
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
        EXPECT_EQ(views.TView->topLevelItemCount(), 0);
        EXPECT_EQ(views.CTScore->text(), QStringLiteral("1 wins"));
        EXPECT_EQ(views.TScore->text(), QStringLiteral("0 wins"));
    }

    void expectEmptyViews(const QString& time)
    {
        EXPECT_EQ(views.TimeLabel->text(), time);
        EXPECT_EQ(views.MapLabel->text(), QStringLiteral("Map:"));
        EXPECT_EQ(views.CTScore->text(), QStringLiteral("0 wins"));
        EXPECT_EQ(views.TScore->text(), QStringLiteral("0 wins"));
        EXPECT_TRUE(views.PublicChat->document()->isEmpty());
        EXPECT_TRUE(views.TChat->document()->isEmpty());
        EXPECT_TRUE(views.CTChat->document()->isEmpty());
        EXPECT_EQ(views.ServerSettings->topLevelItemCount(), 0);
        EXPECT_EQ(views.CTView->topLevelItemCount(), 0);
        EXPECT_EQ(views.TView->topLevelItemCount(), 0);
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
    EXPECT_EQ(tabs.widget(2)->findChild<QTreeWidget*>(QStringLiteral("CTView")), views.CTView);
    EXPECT_EQ(tabs.widget(3)->findChild<QTextEdit*>(QStringLiteral("PublicChat")), views.PublicChat);
    EXPECT_EQ(views.CTView->headerItem()->text(1), QStringLiteral("WonID"));
    EXPECT_EQ(views.ServerSettings->headerItem()->text(0), QStringLiteral("CVar"));
    EXPECT_TRUE(views.PublicChat->isReadOnly());
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

// Lines are text, never markup; bytes are shown by the display rule.
TEST_F(ChatViewsTest, ShowsTextAsItStands)
{
    writeLog("odd.Log",
        "L 10/20/2003 - 20:13:52: start\n"
        "L 1: \"<b>Tag</b><1><2><TERRORIST>\" say \"<i>not italic</i> &amp;\"\r"
        "L 2: \"J\xC3\xBCrgen<1><3><CT>\" say_team \"gr\xC3\xBC\xC3\x9F\"\n"
        "L 3: \"M\xFCller<4><5><TERRORIST>\" say_team \"caf\xE9\"\n"
        "L 4: Loading map \"de_<dust>\"\n");
    views.ScanLog(QStringLiteral("odd.Log"));
    EXPECT_EQ(chatLines(views.PublicChat),
        (std::vector<Line>{ { QStringLiteral("<b>Tag</b>: \"<i>not italic</i> &amp;\""), kRed } }));
    EXPECT_EQ(
        chatLines(views.CTChat), (std::vector<Line>{ { QStringLiteral("J\u00FCrgen: \"gr\u00FC\u00DF\""), kBlue } }));
    EXPECT_EQ(chatLines(views.TChat), (std::vector<Line>{ { QStringLiteral("M\u00FCller: \"caf\u00E9\""), kRed } }));
    EXPECT_EQ(views.MapLabel->text(), QStringLiteral("Map: de_<dust>"));
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

} // namespace
} // namespace velth
