#include "loganalysis/ChatViews.h"

#include "common/AppContext.h"
#include "common/TextCodec.h"
#include "loganalysis/ChatModel.h"
#include "loganalysis/LogParser.h"
#include "skin/PageTabs.h"

#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QTabWidget>
#include <QTreeView>
#include <QVBoxLayout>

#include <utility>

namespace velth {
namespace {

const QString kHint = QStringLiteral("Click right mousebutton for more options");

QTreeView* makeList(QWidget* parent, const char* name, ResultTable* table, const QList<int>& widths)
{
    auto* list = new QTreeView(parent);
    list->setObjectName(QLatin1String(name));
    table->setParent(list);
    list->setModel(table);
    list->setRootIsDecorated(false);
    list->setItemsExpandable(false);
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
    score->setTextFormat(Qt::PlainText);
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

QWidget* makeTeamGroup(QWidget* parent, const QString& title, QTreeView* list, QLabel* score)
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

ChatView* makeChat(QWidget* tab, const char* name)
{
    auto* chat = new ChatView(tab);
    chat->setObjectName(QLatin1String(name));
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

ResultTable::Cell teamCell(const std::vector<TeamRow>& rows)
{
    return [&rows](std::size_t row, int column) {
        const TeamRow& r = rows[row];
        return column == 0 ? oneLineDisplay(r.name) : column == 1 ? oneLineDisplay(r.wonId) : QString::number(r.tks);
    };
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
    // These labels quote the log: never markup.
    MapLabel->setTextFormat(Qt::PlainText);
    MapLabel->setGeometry(4, 0, 190, 21);
    TimeLabel = new QLabel(QStringLiteral("Time:"), topBar);
    TimeLabel->setObjectName(QStringLiteral("TimeLabel"));
    TimeLabel->setTextFormat(Qt::PlainText);
    TimeLabel->setGeometry(195, 0, 320, 21);

    const QStringList teamColumns = { QStringLiteral("Name"), QStringLiteral("WonID"), QStringLiteral("TKs") };
    m_ctRows = new ResultTable(teamColumns, this);
    CTView = makeList(GlobalTab, "CTView", m_ctRows, { 300, 100 });
    CTScore = makeScore(GlobalTab, "CTScore", QColor(0, 0, 255));
    m_tRows = new ResultTable(teamColumns, this);
    TView = makeList(GlobalTab, "TView", m_tRows, { 300, 100 });
    TScore = makeScore(GlobalTab, "TScore", QColor(255, 0, 0));
    m_cvars = new ResultTable({ QStringLiteral("CVar"), QStringLiteral("Setting") }, this);
    m_cvars->alignRight(1);
    ServerSettings = makeList(GlobalTab, "ServerSettings", m_cvars, { 120, 120 });

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
    for (ResultTable* list : { m_cvars, m_ctRows, m_tRows })
        list->setRows(nullptr, 0, {});
    for (ChatView* chat : { PublicChat, CTChat, TChat })
        chat->chatModel()->setLog(nullptr, nullptr);
    m_result.reset();
}

void ChatViews::showResult(ScanResult&& scan, bool firstLineRead)
{
    show(std::make_shared<const ScanResult>(std::move(scan)), firstLineRead);
}

void ChatViews::show(std::shared_ptr<const ScanResult> shown, bool firstLineRead)
{
    m_result = std::move(shown);
    const ScanResult& result = *m_result;
    showLabels(firstLineRead);
    PublicChat->chatModel()->setLog(m_result, &result.publicChat);
    TChat->chatModel()->setLog(m_result, &result.tChat);
    CTChat->chatModel()->setLog(m_result, &result.ctChat);
    m_cvars->setRows(m_result, result.cvars.size(), [&cvars = result.cvars](std::size_t row, int column) {
        return oneLineDisplay(column == 0 ? cvars[row].first : cvars[row].second);
    });
    m_ctRows->setRows(m_result, result.ctRows.size(), teamCell(result.ctRows));
    m_tRows->setRows(m_result, result.tRows.size(), teamCell(result.tRows));
}

void ChatViews::showLabels(bool firstLineRead)
{
    const ScanResult& result = *m_result;
    if (firstLineRead)
        TimeLabel->setText(QStringLiteral("Time: ") + visibleText(toDisplay(result.time)));
    if (result.map)
        MapLabel->setText(QStringLiteral("Map: ") + visibleText(toDisplay(*result.map)));
    if (result.ctWins)
        CTScore->setText(visibleText(toDisplay(*result.ctWins)) + QStringLiteral(" wins"));
    if (result.tWins)
        TScore->setText(visibleText(toDisplay(*result.tWins)) + QStringLiteral(" wins"));
}

void ChatViews::showLive(std::shared_ptr<const ScanResult> result, bool started)
{
    resetViews();
    m_live = true;
    show(std::move(result), started);
}

void ChatViews::liveGrew()
{
    if (!m_live || !m_result)
        return;
    const ScanResult& result = *m_result;
    showLabels(true);
    for (ChatView* chat : { PublicChat, TChat, CTChat })
        chat->chatModel()->grow();
    m_cvars->grow(result.cvars.size());
    m_ctRows->grow(result.ctRows.size());
    m_tRows->grow(result.tRows.size());
}

void ChatViews::ScanLog(const QString& fileName)
{
    m_context.setStatus(QStringLiteral("Scanning: ") + fileName + QStringLiteral("."));
    if (std::exchange(m_live, false))
        Q_EMIT liveReplaced();
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
            const bool firstLineRead = parser.lineCount() > 0;
            showResult(parser.takeResult(), firstLineRead);
            throw;
        }
    }
    showResult(parser.takeResult(), true);
    m_context.setStatus(QStringLiteral("Finished scanning ") + fileName + QStringLiteral("."));
    m_tabs->setCurrentWidget(GlobalTab);
}

} // namespace velth
