#include "loganalysis/PlayerSearch.h"

#include "common/AppContext.h"
#include "common/Error.h"
#include "common/ErrorReport.h"
#include "common/TextCodec.h"
#include "common/ToolTip.h"
#include "loganalysis/ChatModel.h"
#include "loganalysis/ChatViews.h"
#include "loganalysis/LogParser.h"

#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTabWidget>
#include <QTextBlock>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <system_error>

namespace velth {
namespace {

// Lines shown before and after the one found.
constexpr std::uint64_t kExcerptContext = 10;
// A batch goes to the window at least this often while a search finds rows.
constexpr auto kBatchInterval = std::chrono::milliseconds(100);

QString eventText(const PlayerAppearance& a)
{
    const QString detail = oneLineDisplay(a.detail);
    switch (a.event) {
    case PlayerEvent::Said:
        return QStringLiteral("said ") + detail;
    case PlayerEvent::SaidToTeam:
        return QStringLiteral("said to team ") + detail;
    case PlayerEvent::Killed:
        return QStringLiteral("killed ") + detail;
    case PlayerEvent::TeamKilled:
        return QStringLiteral("team-killed ") + detail;
    case PlayerEvent::WasKilled:
        return QStringLiteral("was killed by ") + detail;
    case PlayerEvent::WasTeamKilled:
        return QStringLiteral("was team-killed by ") + detail;
    case PlayerEvent::Connected:
        return QStringLiteral("connected from ") + detail;
    case PlayerEvent::Entered:
        return QStringLiteral("entered the game");
    case PlayerEvent::JoinedTeam:
        return QStringLiteral("joined team ") + detail;
    case PlayerEvent::Disconnected:
        return QStringLiteral("disconnected");
    case PlayerEvent::ChangedName:
        return QStringLiteral("changed name to ") + detail;
    }
    return {};
}

struct LogFile
{
    QString name; // as the list shows it
    std::string path;
    std::uint64_t size = 0;
    std::filesystem::file_time_type modified;
};

// The logs of the folder, newest first: the files whose extension is ".log"
// in any case.
std::vector<LogFile> listLogs(const std::string& folder)
{
    std::vector<LogFile> logs;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::filesystem::path& path = it->path();
        const std::string extension = path.extension().string();
        if (extension.size() != 4 || !it->is_regular_file(error))
            continue;
        if (QString::fromUtf8(extension.data(), 4).toUpper() != QStringLiteral(".LOG"))
            continue;
        const std::string name = path.filename().string();
        const std::uintmax_t size = it->file_size(error);
        const auto modified = it->last_write_time(error);
        if (error) {
            // Gone since it was listed: nothing to search.
            error.clear();
            continue;
        }
        logs.push_back(LogFile{ QFile::decodeName(QByteArray(name.data(), static_cast<qsizetype>(name.size()))),
            path.string(), static_cast<std::uint64_t>(size), modified });
    }
    std::sort(logs.begin(), logs.end(), [](const LogFile& a, const LogFile& b) {
        return a.modified != b.modified ? a.modified > b.modified : a.name < b.name;
    });
    return logs;
}

} // namespace

AppearanceModel::AppearanceModel(QObject* parent)
    : QAbstractTableModel(parent)
{ }

void AppearanceModel::reset(std::vector<QString> files)
{
    beginResetModel();
    m_files = std::move(files);
    m_rows.clear();
    m_order.clear();
    endResetModel();
}

bool AppearanceModel::olderThan(std::uint32_t a, std::uint32_t b) const
{
    const PlayerAppearance& x = m_rows[a];
    const PlayerAppearance& y = m_rows[b];
    // A higher log index is a newer log.
    const std::uint64_t tx = timeKey(x.time);
    const std::uint64_t ty = timeKey(y.time);
    if (tx != ty)
        return tx < ty;
    if (x.file != y.file)
        return x.file < y.file;
    return x.line < y.line;
}

bool AppearanceModel::before(std::uint32_t a, std::uint32_t b) const
{
    const PlayerAppearance& x = m_rows[a];
    const PlayerAppearance& y = m_rows[b];
    int order = 0;
    switch (m_column) {
    case TimeColumn:
        order = olderThan(a, b) ? -1 : olderThan(b, a) ? 1 : 0;
        break;
    case LineColumn:
        order = x.line < y.line ? -1 : x.line > y.line ? 1 : 0;
        break;
    default:
        order = cell(x, m_column).compare(cell(y, m_column), Qt::CaseInsensitive);
        break;
    }
    if (order != 0)
        return m_sortOrder == Qt::AscendingOrder ? order < 0 : order > 0;
    return olderThan(b, a); // ties newest first, in either direction
}

void AppearanceModel::append(std::vector<PlayerAppearance> rows)
{
    if (rows.empty())
        return;
    const auto first = static_cast<std::uint32_t>(m_rows.size());
    m_rows.insert(m_rows.end(), std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
    std::vector<std::uint32_t> added(rows.size());
    for (std::uint32_t i = 0; i < added.size(); ++i)
        added[i] = first + i;
    const auto less = [this](std::uint32_t a, std::uint32_t b) { return before(a, b); };
    std::stable_sort(added.begin(), added.end(), less);
    // Where the new rows go: the runs of them that stand together in the
    // merged order. Each run is one insertion, so a batch costs a walk over
    // the rows, not a search and a move per row; when the batch scatters
    // over many places, the list is shown anew in one step.
    std::vector<std::uint32_t> merged(m_order.size() + added.size());
    std::merge(m_order.begin(), m_order.end(), added.begin(), added.end(), merged.begin(), less);
    std::vector<std::pair<std::size_t, std::size_t>> runs; // first position, length
    for (std::size_t i = 0; i < merged.size(); ++i) {
        if (merged[i] < first)
            continue;
        if (!runs.empty() && runs.back().first + runs.back().second == i)
            ++runs.back().second;
        else
            runs.emplace_back(i, 1);
    }
    constexpr std::size_t kMostRuns = 16;
    if (runs.size() > kMostRuns) {
        beginResetModel();
        m_order = std::move(merged);
        endResetModel();
        return;
    }
    for (const auto& [at, length] : runs) {
        beginInsertRows(QModelIndex(), static_cast<int>(at), static_cast<int>(at + length) - 1);
        m_order.insert(m_order.begin() + static_cast<std::ptrdiff_t>(at),
            merged.begin() + static_cast<std::ptrdiff_t>(at),
            merged.begin() + static_cast<std::ptrdiff_t>(at + length));
        endInsertRows();
    }
}

void AppearanceModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= ColumnCount)
        return;
    Q_EMIT layoutAboutToBeChanged();
    const QModelIndexList kept = persistentIndexList();
    std::vector<std::uint32_t> ids;
    for (const QModelIndex& index : kept)
        ids.push_back(m_order[static_cast<std::size_t>(index.row())]);
    m_column = column;
    m_sortOrder = order;
    std::stable_sort(m_order.begin(), m_order.end(), [this](std::uint32_t a, std::uint32_t b) { return before(a, b); });
    QModelIndexList moved;
    for (std::size_t k = 0; k < ids.size(); ++k) {
        const auto row = std::find(m_order.begin(), m_order.end(), ids[k]) - m_order.begin();
        moved.push_back(index(static_cast<int>(row), kept[static_cast<int>(k)].column()));
    }
    changePersistentIndexList(kept, moved);
    Q_EMIT layoutChanged();
}

int AppearanceModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int AppearanceModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString AppearanceModel::cell(const PlayerAppearance& a, int column) const
{
    switch (column) {
    case FileColumn:
        return m_files[a.file];
    case LineColumn:
        return QString::number(a.line);
    case TimeColumn:
        return oneLineDisplay(a.time);
    case NameColumn:
        return oneLineDisplay(a.name);
    case SteamIdColumn:
        return oneLineDisplay(a.steamId);
    case TeamColumn:
        return oneLineDisplay(a.team);
    case EventColumn:
        return eventText(a);
    default:
        return {};
    }
}

QVariant AppearanceModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    // The event, cut by its column as often as not, is whole in its tooltip,
    // shown literally: a chat line or a name may look like markup.
    if (role == Qt::ToolTipRole && index.column() == EventColumn)
        return plainToolTip(visibleText(cell(appearance(index.row()), index.column())));
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return visibleText(cell(appearance(index.row()), index.column()));
    if (role == Qt::TextAlignmentRole && index.column() == LineColumn)
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QVariant AppearanceModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const QStringList headers = { QStringLiteral("Log file"), QStringLiteral("Line"), QStringLiteral("Time"),
        QStringLiteral("Name"), QStringLiteral("Steam id"), QStringLiteral("Team"), QStringLiteral("Event") };
    return headers.value(section);
}

PlayerSearch::PlayerSearch(AppContext& context, ChatViews* views, QTabWidget* tabs, QWidget* tab)
    : QWidget(tab)
    , m_context(context)
    , m_views(views)
    , m_tabs(tabs)
    , m_tab(tab)
    , m_model(new AppearanceModel(this))
{
    setObjectName(QStringLiteral("PlayerSearch"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);

    auto* bar = new QHBoxLayout;
    bar->setSpacing(5);
    auto* label = new QLabel(QStringLiteral("Find player"), this);
    FindText = new QLineEdit(this);
    FindText->setObjectName(QStringLiteral("FindText"));
    FindText->setMaxLength(256);
    FindText->setPlaceholderText(QStringLiteral("a part of the name, or the Steam id"));
    BFind = new QPushButton(QStringLiteral("Find"), this);
    BFind->setObjectName(QStringLiteral("BFind"));
    BFind->setFixedSize(75, 21);
    BFindCancel = new QPushButton(QStringLiteral("Cancel"), this);
    BFindCancel->setObjectName(QStringLiteral("BFindCancel"));
    BFindCancel->setFixedSize(75, 21);
    BFindCancel->setEnabled(false);
    bar->addWidget(label);
    bar->addWidget(FindText, 1);
    bar->addWidget(BFind);
    bar->addWidget(BFindCancel);
    layout->addLayout(bar);

    auto* progressBar = new QHBoxLayout;
    FindStatus = new QLabel(this);
    FindStatus->setObjectName(QStringLiteral("FindStatus"));
    // It quotes the searched text and file names: never markup.
    FindStatus->setTextFormat(Qt::PlainText);
    FindProgress = new QProgressBar(this);
    FindProgress->setObjectName(QStringLiteral("FindProgress"));
    FindProgress->setRange(0, 1000);
    FindProgress->setValue(0);
    FindProgress->setTextVisible(false);
    FindProgress->setFixedSize(120, 15);
    progressBar->addWidget(FindStatus, 1);
    progressBar->addWidget(FindProgress);
    layout->addLayout(progressBar);

    auto* splitter = new QSplitter(Qt::Vertical, this);
    auto* below = new QSplitter(Qt::Horizontal);
    FindResults = new QTreeView(splitter);
    FindResults->setObjectName(QStringLiteral("FindResults"));
    FindResults->setModel(m_model);
    FindResults->setRootIsDecorated(false);
    FindResults->setItemsExpandable(false);
    FindResults->setUniformRowHeights(true);
    FindResults->setSelectionBehavior(QAbstractItemView::SelectRows);
    FindResults->setSelectionMode(QAbstractItemView::SingleSelection);
    FindResults->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FindResults->setSortingEnabled(true);
    FindResults->sortByColumn(AppearanceModel::TimeColumn, Qt::DescendingOrder);
    // The time and a Steam id show whole.
    const int widths[] = { 85, 40, 130, 90, 105, 60 };
    for (int column = 0; column < 6; ++column)
        FindResults->setColumnWidth(column, widths[column]);

    splitter->addWidget(below);
    OtherNames = new QTreeWidget(below);
    OtherNames->setObjectName(QStringLiteral("OtherNames"));
    OtherNames->setColumnCount(2);
    OtherNames->setHeaderLabels({ QStringLiteral("Steam id"), QStringLiteral("Names used") });
    OtherNames->setRootIsDecorated(false);
    OtherNames->setColumnWidth(0, 130);

    LogExcerpt = new QPlainTextEdit(below);
    LogExcerpt->setObjectName(QStringLiteral("LogExcerpt"));
    LogExcerpt->setReadOnly(true);
    LogExcerpt->setLineWrapMode(QPlainTextEdit::NoWrap);
    LogExcerpt->setPlaceholderText(QStringLiteral("Double-click an appearance to open its log at that line."));
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    below->setStretchFactor(0, 2);
    below->setStretchFactor(1, 3);
    layout->addWidget(splitter, 1);

    connect(BFind, &QPushButton::clicked, this, guarded(this, &PlayerSearch::BFindClick));
    connect(FindText, &QLineEdit::returnPressed, this, guarded(this, &PlayerSearch::BFindClick));
    connect(BFindCancel, &QPushButton::clicked, this, guarded(this, &PlayerSearch::BFindCancelClick));
    connect(FindResults, &QAbstractItemView::doubleClicked, this, guarded(this, &PlayerSearch::FindResultsDblClick));
}

PlayerSearch::~PlayerSearch()
{
    stop();
}

void PlayerSearch::stop()
{
    ++m_generation;
    if (m_cancel)
        m_cancel->store(true);
    // The worker looks at the flag after every block of 1 MiB.
    if (m_worker.joinable())
        m_worker.join();
    m_cancel.reset();
}

void PlayerSearch::BFindClick()
{
    const QString text = FindText->text().trimmed();
    if (text.isEmpty() || isSearching())
        return;
    std::vector<LogFile> logs = listLogs(m_context.logsFolder());
    std::vector<QString> names;
    // The newest log gets the highest index: the order of a tie in time.
    for (auto it = logs.rbegin(); it != logs.rend(); ++it)
        names.push_back(it->name);
    m_model->reset(std::move(names));
    OtherNames->clear();
    LogExcerpt->clear();
    FindResults->sortByColumn(AppearanceModel::TimeColumn, Qt::DescendingOrder);
    FindProgress->setValue(0);
    const QString shown = visibleText(text);
    FindStatus->setText(QStringLiteral("Searching %1 logs for %2 ...").arg(logs.size()).arg(shown));
    m_context.setStatus(QStringLiteral("Searching the logs for ") + shown + u'.');
    BFind->setEnabled(false);
    BFindCancel->setEnabled(true);

    const unsigned generation = ++m_generation;
    m_cancel = std::make_shared<std::atomic<bool>>(false);
    // Only the worker touches the finder; everything it reports reaches the
    // window as queued calls, which the generation check drops once the
    // search was cancelled or a new one began.
    m_worker = std::thread([this, generation, cancel = m_cancel, logs = std::move(logs), query = fromDisplay(text)] {
        PlayerFinder finder(query);
        std::uint64_t total = 0;
        for (const LogFile& log : logs)
            total += log.size;
        std::vector<PlayerAppearance> batch;
        auto last = std::chrono::steady_clock::now();
        std::uint64_t before = 0; // bytes of the logs done in this pass
        int shownPermille = -1;
        auto report = [&](int pass, std::uint64_t done, bool flush) {
            const int permille = total ? static_cast<int>(std::min<std::uint64_t>(1000, done * 1000 / total)) : 1000;
            const auto now = std::chrono::steady_clock::now();
            if (!batch.empty() && (flush || now - last >= kBatchInterval)) {
                QMetaObject::invokeMethod(
                    this,
                    [this, generation, rows = std::move(batch)]() mutable { received(generation, std::move(rows)); },
                    Qt::QueuedConnection);
                batch.clear();
                last = now;
            }
            if (permille != shownPermille) {
                shownPermille = permille;
                QMetaObject::invokeMethod(
                    this, [this, generation, pass, permille] { progressed(generation, pass, permille); },
                    Qt::QueuedConnection);
            }
        };
        QStringList failures;
        bool going = true;
        for (std::size_t i = 0; i < logs.size() && going; ++i) {
            const std::size_t index = logs.size() - 1 - i;
            try {
                going = finder.searchFile(logs[i].path, index, batch, cancel.get(),
                    [&](std::uint64_t done) { report(1, before + done, false); });
            } catch (const Error& e) {
                failures.push_back(QString::fromUtf8(e.what()));
            }
            before += logs[i].size;
            report(1, before, true);
        }
        const bool cancelled = cancel->load();
        going = !cancelled;
        if (going && finder.needsNamePass()) {
            before = 0;
            shownPermille = -1;
            for (std::size_t i = 0; i < logs.size() && going; ++i) {
                try {
                    going = finder.collectNames(
                        logs[i].path, cancel.get(), [&](std::uint64_t done) { report(2, before + done, false); });
                } catch (const Error& e) {
                    failures.push_back(QString::fromUtf8(e.what()));
                }
                before += logs[i].size;
                report(2, before, false);
            }
        }
        SearchEnd end{ cancel->load(), finder.truncated(), logs.size(), failures };
        QMetaObject::invokeMethod(
            this,
            [this, generation, names = finder.otherNames(), end = std::move(end)]() mutable {
                finished(generation, std::move(names), end);
            },
            Qt::QueuedConnection);
    });
}

void PlayerSearch::BFindCancelClick()
{
    if (!isSearching())
        return;
    stop();
    BFind->setEnabled(true);
    BFindCancel->setEnabled(false);
    FindStatus->setText(QStringLiteral("Search cancelled."));
    m_context.setStatus(QStringLiteral("Search cancelled."));
    Q_EMIT searchEnded();
}

void PlayerSearch::received(unsigned generation, std::vector<PlayerAppearance> rows)
{
    if (generation == m_generation)
        m_model->append(std::move(rows));
}

void PlayerSearch::progressed(unsigned generation, int pass, int permille)
{
    if (generation != m_generation)
        return;
    FindProgress->setValue(permille);
    if (pass == 2)
        FindStatus->setText(QStringLiteral("Looking up the other names of the Steam ids found ..."));
}

void PlayerSearch::finished(unsigned generation, std::vector<PlayerNames> names, const SearchEnd& end)
{
    if (generation != m_generation)
        return;
    if (m_worker.joinable())
        m_worker.join(); // it has nothing left to do but return
    m_cancel.reset();
    for (const PlayerNames& id : names) {
        QStringList shown;
        for (const std::string& name : id.names)
            shown.push_back(visibleText(oneLineDisplay(name)));
        auto* item = new QTreeWidgetItem(OtherNames);
        item->setText(0, visibleText(oneLineDisplay(id.steamId)));
        item->setText(1, shown.join(QStringLiteral(", ")));
    }
    QString status;
    if (end.cancelled) {
        status = QStringLiteral("Search cancelled.");
    } else {
        const QLocale locale(QLocale::English, QLocale::UnitedStates);
        status = QStringLiteral("Found %1 appearances of %2 in %3 logs.")
                     .arg(locale.toString(m_model->rowCount()), visibleText(FindText->text().trimmed()))
                     .arg(end.logs);
        if (end.truncated)
            status += QStringLiteral(" Only the first %1 are listed.")
                          .arg(locale.toString(static_cast<qulonglong>(PlayerFinder::kDefaultMaxAppearances)));
        if (!end.failures.isEmpty())
            status += QStringLiteral(" Not searched: ") + visibleText(end.failures.join(QStringLiteral("; "))) + u'.';
    }
    FindStatus->setText(status);
    m_context.setStatus(status);
    FindProgress->setValue(1000);
    BFind->setEnabled(true);
    BFindCancel->setEnabled(false);
    Q_EMIT searchEnded();
}

void PlayerSearch::FindResultsDblClick()
{
    const QModelIndex current = FindResults->currentIndex();
    if (!current.isValid())
        return;
    const int row = current.row();
    const QString name = m_model->fileName(row);
    const std::uint64_t line = m_model->appearance(row).line;
    // The page's views show that log, as a double click on it in Local Files
    // does; this tab stays in front with the line among its neighbours.
    m_views->ScanLog(name);
    m_tabs->setCurrentWidget(m_tab);
    showExcerpt(name, line);
}

void PlayerSearch::showExcerpt(const QString& fileName, std::uint64_t line)
{
    const QByteArray file = QFile::encodeName(fileName);
    const std::string path = m_context.logsFolder() + "/" + std::string(file.constData(), file.size());
    const std::uint64_t first = line > kExcerptContext ? line - kExcerptContext : 1;
    QStringList lines;
    int selected = -1;
    LogFileReader reader(path);
    std::string_view text;
    for (std::uint64_t n = 1; n <= line + kExcerptContext && reader.nextLine(text); ++n) {
        if (n < first)
            continue;
        if (n == line)
            selected = static_cast<int>(lines.size());
        lines.push_back(QString::number(n) + QStringLiteral(": ") + visibleText(oneLineDisplay(text)));
    }
    LogExcerpt->setPlainText(lines.join(u'\n'));
    if (selected < 0)
        return;
    QTextCursor cursor(LogExcerpt->document()->findBlockByNumber(selected));
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    LogExcerpt->setTextCursor(cursor);
    LogExcerpt->centerCursor();
    // The line from its start, where the time and the player stand.
    LogExcerpt->horizontalScrollBar()->setValue(0);
}

} // namespace velth
