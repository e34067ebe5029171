#include "loganalysis/ChatModel.h"

#include "common/TextCodec.h"

#include <QApplication>
#include <QBrush>
#include <QClipboard>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>

#include <algorithm>
#include <climits>
#include <utility>

namespace velth {
namespace {

bool breaksLine(char16_t c)
{
    switch (c) {
    case u'\n':
    case u'\v':
    case u'\f':
    case u'\r':
    case u'\x1C':
    case u'\x1D':
    case u'\x1E':
    case u'\x85':
    case u'\u2028':
    case u'\u2029':
    case u'\uFDD0':
    case u'\uFDD1':
        return true;
    default:
        return false;
    }
}

QColor chatColor(ChatColor color)
{
    return color == ChatColor::Blue ? QColor(0, 0, 255) : QColor(255, 0, 0);
}

} // namespace

void replaceLineBreaks(QString& text)
{
    // Most lines hold none: look before detaching the string.
    const auto first = std::find_if(text.cbegin(), text.cend(), [](QChar c) { return breaksLine(c.unicode()); });
    if (first == text.cend())
        return;
    for (qsizetype i = first - text.cbegin(); i < text.size(); ++i)
        if (breaksLine(text[i].unicode()))
            text[i] = QChar::ReplacementCharacter;
}

QString oneLineDisplay(std::string_view bytes)
{
    QString text = toDisplay(bytes);
    replaceLineBreaks(text);
    return text;
}

ChatModel::ChatModel(QObject* parent)
    : QAbstractListModel(parent)
{ }

void ChatModel::setLog(std::shared_ptr<const ScanResult> owner, const ChatLog* log)
{
    beginResetModel();
    m_owner = std::move(owner);
    m_log = log;
    m_rows = log ? static_cast<int>(std::min<std::size_t>(log->size(), INT_MAX)) : 0;
    m_widest = -1;
    std::size_t widest = 0;
    for (int row = 0; row < m_rows; ++row) {
        const std::size_t size = (*m_log)[static_cast<std::size_t>(row)].text.size();
        if (m_widest < 0 || size > widest) {
            m_widest = row;
            widest = size;
        }
    }
    endResetModel();
}

void ChatModel::grow()
{
    if (!m_log)
        return;
    const int rows = static_cast<int>(std::min<std::size_t>(m_log->size(), INT_MAX));
    if (rows <= m_rows)
        return;
    beginInsertRows(QModelIndex(), m_rows, rows - 1);
    std::size_t widest = m_widest >= 0 ? (*m_log)[static_cast<std::size_t>(m_widest)].text.size() : 0;
    for (int row = m_rows; row < rows; ++row) {
        const std::size_t size = (*m_log)[static_cast<std::size_t>(row)].text.size();
        if (m_widest < 0 || size > widest) {
            m_widest = row;
            widest = size;
        }
    }
    m_rows = rows;
    endInsertRows();
}

int ChatModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

QString ChatModel::text(int row) const
{
    return oneLineDisplay((*m_log)[static_cast<std::size_t>(row)].text);
}

QColor ChatModel::color(int row) const
{
    return chatColor((*m_log)[static_cast<std::size_t>(row)].color);
}

QVariant ChatModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return text(index.row());
    case Qt::ForegroundRole:
        return QBrush(color(index.row()));
    default:
        return {};
    }
}

namespace {

RtfColor rtfColor(const QColor& color)
{
    return { static_cast<std::uint8_t>(color.red()), static_cast<std::uint8_t>(color.green()),
        static_cast<std::uint8_t>(color.blue()) };
}

} // namespace

void ChatModel::writeRtf(const RtfOutput& out) const
{
    std::vector<RtfColor> colors;
    for (int row = 0; row < m_rows; ++row) {
        const RtfColor c = rtfColor(color(row));
        if (std::find(colors.begin(), colors.end(), c) == colors.end())
            colors.push_back(c);
    }
    const auto paragraph = [this](std::size_t index) {
        const int row = static_cast<int>(index);
        const QByteArray utf8 = text(row).toUtf8();
        return RtfParagraph{ { std::string(utf8.constData(), static_cast<std::size_t>(utf8.size())),
            rtfColor(color(row)) } };
    };
    velth::writeRtf(colors, static_cast<std::size_t>(m_rows), paragraph, out);
}

ResultTable::ResultTable(const QStringList& headers, QObject* parent)
    : QAbstractTableModel(parent)
    , m_headers(headers)
{ }

void ResultTable::setRows(std::shared_ptr<const ScanResult> owner, std::size_t rows, Cell cell)
{
    beginResetModel();
    m_owner = std::move(owner);
    m_rows = m_owner ? static_cast<int>(std::min<std::size_t>(rows, INT_MAX)) : 0;
    m_cell = m_owner ? std::move(cell) : Cell();
    endResetModel();
}

void ResultTable::grow(std::size_t rows)
{
    if (!m_owner)
        return;
    const int count = static_cast<int>(std::min<std::size_t>(rows, INT_MAX));
    if (m_rows > 0)
        Q_EMIT dataChanged(index(0, 0), index(m_rows - 1, columnCount() - 1), { Qt::DisplayRole });
    if (count <= m_rows)
        return;
    beginInsertRows(QModelIndex(), m_rows, count - 1);
    m_rows = count;
    endInsertRows();
}

int ResultTable::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int ResultTable::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_headers.size());
}

QVariant ResultTable::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows)
        return {};
    if (role == Qt::DisplayRole)
        return m_cell(static_cast<std::size_t>(index.row()), index.column());
    if (role == Qt::TextAlignmentRole && index.column() == m_rightColumn)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
    return {};
}

QVariant ResultTable::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= m_headers.size())
        return {};
    if (role == Qt::DisplayRole)
        return m_headers[section];
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(
            Qt::Alignment((section == m_rightColumn ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
    return {};
}

ChatView::ChatView(QWidget* parent)
    : QTableView(parent)
    , m_model(new ChatModel(this))
{
    setModel(m_model);
    horizontalHeader()->hide();
    verticalHeader()->hide();
    // Rows of one fixed height: the view finds any row by arithmetic and
    // never measures the rows it does not show.
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    setShowGrid(false);
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    setCornerButtonEnabled(false);
    setTabKeyNavigation(false);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragEnabled(false);
    connect(m_model, &QAbstractItemModel::modelReset, this, &ChatView::measure);
    connect(m_model, &QAbstractItemModel::rowsAboutToBeInserted, this, &ChatView::rowsComing);
    connect(m_model, &QAbstractItemModel::rowsInserted, this, &ChatView::rowsCame);
    measure();
}

void ChatView::rowsComing()
{
    const QScrollBar* bar = verticalScrollBar();
    m_following = bar->value() >= bar->maximum();
}

void ChatView::rowsCame()
{
    if (m_model->widestRow() != m_measuredRow)
        measure();
    if (m_following)
        scrollToBottom();
}

void ChatView::measure()
{
    const int widest = m_model->widestRow();
    m_measuredRow = widest;
    const QSize line = widest >= 0 ? sizeHintForIndex(m_model->index(widest, 0)) : QSize();
    // Lines as close as in a text document.
    verticalHeader()->setDefaultSectionSize(fontMetrics().lineSpacing());
    m_lineWidth = line.width();
    fitColumn();
}

void ChatView::fitColumn()
{
    setColumnWidth(0, std::max(m_lineWidth, viewport()->width()));
}

void ChatView::resizeEvent(QResizeEvent* event)
{
    QTableView::resizeEvent(event);
    fitColumn();
}

QString ChatView::selectedText() const
{
    std::vector<std::pair<int, int>> ranges;
    for (const QItemSelectionRange& range : selectionModel()->selection())
        ranges.emplace_back(range.top(), range.bottom());
    std::sort(ranges.begin(), ranges.end());
    QString out;
    int next = 0; // rows before it are taken already
    bool first = true;
    for (const auto& [top, bottom] : ranges) {
        for (int row = std::max(top, next); row <= bottom; ++row) {
            if (!std::exchange(first, false))
                out += u'\n';
            out += m_model->text(row);
            next = row + 1;
        }
    }
    return out;
}

void ChatView::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy)) {
        if (selectionModel()->hasSelection())
            QApplication::clipboard()->setText(selectedText());
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

} // namespace velth
