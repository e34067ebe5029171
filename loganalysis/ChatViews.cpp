#include "loganalysis/ChatViews.h"

#include "common/AppContext.h"
#include "common/TextCodec.h"
#include "loganalysis/LogParser.h"
#include "skin/PageTabs.h"

#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QTabWidget>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace velth {
namespace {

const QString kHint = QStringLiteral("Click right mousebutton for more options");

QColor chatColor(ChatColor color)
{
    return color == ChatColor::Blue ? QColor(0, 0, 255) : QColor(255, 0, 0);
}

QTreeWidget* makeList(QWidget* parent, const char* name, const QStringList& columns, const QList<int>& widths)
{
    auto* list = new QTreeWidget(parent);
    list->setObjectName(QLatin1String(name));
    list->setColumnCount(static_cast<int>(columns.size()));
    list->setHeaderLabels(columns);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->header()->setSectionsClickable(false);
    list->header()->setStretchLastSection(true);
    for (int i = 0; i < widths.size(); ++i)
        list->setColumnWidth(i, widths[i]);
    return list;
}

QLabel* makeScore(QWidget* parent, const char* name, const QColor& color)
{
    auto* score = new QLabel(QStringLiteral("0 wins"), parent);
    score->setObjectName(QLatin1String(name));
    score->setFixedHeight(19);
    score->setAlignment(Qt::AlignCenter);
    score->setFrameShape(QFrame::Panel);
    score->setFrameShadow(QFrame::Raised);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSize(8);
    font.setBold(true);
    score->setFont(font);
    QPalette palette = score->palette();
    palette.setColor(QPalette::WindowText, color);
    score->setPalette(palette);
    return score;
}

QWidget* makeTeamGroup(QWidget* parent, const QString& title, QTreeWidget* list, QLabel* score)
{
    auto* group = new QGroupBox(title, parent);
    group->setFixedHeight(130);
    auto* layout = new QVBoxLayout(group);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(0);
    layout->addWidget(list);
    layout->addWidget(score);
    return group;
}

QTextEdit* makeChat(QWidget* tab, const char* name)
{
    auto* chat = new QTextEdit(tab);
    chat->setObjectName(QLatin1String(name));
    chat->setReadOnly(true);
    chat->setAcceptRichText(false);
    chat->setUndoRedoEnabled(false);
    chat->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    chat->setToolTip(kHint);
    auto* layout = new QVBoxLayout(tab);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(chat);
    return chat;
}

QWidget* addTab(QTabWidget* tabs, const char* name, const QString& caption, int icon)
{
    auto* tab = new QWidget;
    tab->setObjectName(QLatin1String(name));
    tabs->addTab(tab, tabIcon(icon), caption);
    return tab;
}

// One paragraph per entry in its colour, through one cursor in one edit
// block: plain text insertion never reads a line as markup.
void fillChat(QTextEdit* view, const ChatLog& entries)
{
    QTextDocument* document = view->document();
    QTextCursor cursor(document);
    cursor.beginEditBlock();
    QTextCharFormat red;
    red.setForeground(chatColor(ChatColor::Red));
    QTextCharFormat blue;
    blue.setForeground(chatColor(ChatColor::Blue));
    bool first = true;
    for (const ChatEntry entry : entries) {
        const QTextCharFormat& format = entry.color == ChatColor::Blue ? blue : red;
        if (first)
            cursor.setBlockCharFormat(format);
        else
            cursor.insertBlock(QTextBlockFormat(), format);
        first = false;
        QString text = toDisplay(entry.text);
        // A decoded paragraph separator would split the entry in two.
        text.replace(QChar::ParagraphSeparator, QChar::LineSeparator);
        cursor.insertText(text, format);
    }
    cursor.endEditBlock();
}

void fillList(QTreeWidget* list, const std::vector<TeamRow>& rows)
{
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(rows.size()));
    for (const TeamRow& row : rows)
        items.append(
            new QTreeWidgetItem(QStringList{ toDisplay(row.name), toDisplay(row.wonId), QString::number(row.tks) }));
    list->addTopLevelItems(items);
}

} // namespace

ChatViews::ChatViews(AppContext& context, QTabWidget* tabs, QObject* parent)
    : QObject(parent)
    , m_context(context)
    , m_tabs(tabs)
{
    GlobalTab = addTab(tabs, "GlobalTab", QStringLiteral("Global info"), 2);
    auto* topBar = new QWidget(GlobalTab);
    topBar->setFixedHeight(21);
    MapLabel = new QLabel(QStringLiteral("Map:"), topBar);
    MapLabel->setObjectName(QStringLiteral("MapLabel"));
    MapLabel->setGeometry(4, 0, 190, 21);
    TimeLabel = new QLabel(QStringLiteral("Time:"), topBar);
    TimeLabel->setObjectName(QStringLiteral("TimeLabel"));
    TimeLabel->setGeometry(195, 0, 320, 21);

    CTView = makeList(
        GlobalTab, "CTView", { QStringLiteral("Name"), QStringLiteral("WonID"), QStringLiteral("TKs") }, { 300, 100 });
    CTScore = makeScore(GlobalTab, "CTScore", QColor(0, 0, 255));
    TView = makeList(
        GlobalTab, "TView", { QStringLiteral("Name"), QStringLiteral("WonID"), QStringLiteral("TKs") }, { 300, 100 });
    TScore = makeScore(GlobalTab, "TScore", QColor(255, 0, 0));
    ServerSettings
        = makeList(GlobalTab, "ServerSettings", { QStringLiteral("CVar"), QStringLiteral("Setting") }, { 120, 120 });
    ServerSettings->headerItem()->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);

    auto* layout = new QVBoxLayout(GlobalTab);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(topBar);
    layout->addWidget(makeTeamGroup(GlobalTab, QStringLiteral("Counter Terrorists"), CTView, CTScore));
    layout->addWidget(makeTeamGroup(GlobalTab, QStringLiteral("Terrorists"), TView, TScore));
    layout->addWidget(ServerSettings, 1);

    PublicChatTab = addTab(tabs, "PublicChatTab", QStringLiteral("Public Chat"), 3);
    PublicChat = makeChat(PublicChatTab, "PublicChat");
    TChatTab = addTab(tabs, "TChatTab", QStringLiteral("T Chat"), 4);
    TChat = makeChat(TChatTab, "TChat");
    CTChatTab = addTab(tabs, "CTChatTab", QStringLiteral("CT Chat"), 5);
    CTChat = makeChat(CTChatTab, "CTChat");
}

void ChatViews::resetViews()
{
    MapLabel->setText(QStringLiteral("Map:"));
    TimeLabel->setText(QStringLiteral("Time:"));
    CTScore->setText(QStringLiteral("0 wins"));
    TScore->setText(QStringLiteral("0 wins"));
    ServerSettings->clear();
    CTView->clear();
    TView->clear();
    PublicChat->clear();
    CTChat->clear();
    TChat->clear();
}

void ChatViews::showResult(const ScanResult& result, bool firstLineRead)
{
    if (firstLineRead)
        TimeLabel->setText(QStringLiteral("Time: ") + toDisplay(result.time));
    if (result.map)
        MapLabel->setText(QStringLiteral("Map: ") + toDisplay(*result.map));
    fillChat(PublicChat, result.publicChat);
    fillChat(TChat, result.tChat);
    fillChat(CTChat, result.ctChat);
    QList<QTreeWidgetItem*> cvars;
    cvars.reserve(static_cast<qsizetype>(result.cvars.size()));
    for (const auto& [name, value] : result.cvars) {
        auto* item = new QTreeWidgetItem(QStringList{ toDisplay(name), toDisplay(value) });
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        cvars.append(item);
    }
    ServerSettings->addTopLevelItems(cvars);
    fillList(CTView, result.ctRows);
    fillList(TView, result.tRows);
    if (result.ctWins)
        CTScore->setText(toDisplay(*result.ctWins) + QStringLiteral(" wins"));
    if (result.tWins)
        TScore->setText(toDisplay(*result.tWins) + QStringLiteral(" wins"));
}

void ChatViews::ScanLog(const QString& fileName)
{
    m_context.setStatus(QStringLiteral("Scanning: ") + fileName + QStringLiteral("."));
    resetViews();
    QString name = fileName;
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot < 0 || name.mid(dot).toUpper() != QStringLiteral(".LOG"))
        name += QStringLiteral(".log");
    const QByteArray file = QFile::encodeName(name);
    const std::string path = m_context.logsFolder() + "/" + std::string(file.constData(), file.size());

    LogParser parser;
    {
        LogFileReader reader(path);
        std::string_view line;
        try {
            while (reader.nextLine(line))
                parser.addLine(line);
        } catch (...) {
            // Show what was read before the failure, then report it.
            showResult(parser.result(), parser.lineCount() > 0);
            throw;
        }
    }
    showResult(parser.result(), true);
    m_context.setStatus(QStringLiteral("Finished scanning ") + fileName + QStringLiteral("."));
    m_tabs->setCurrentWidget(GlobalTab);
}

} // namespace velth
