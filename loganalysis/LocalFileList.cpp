#include "loganalysis/LocalFileList.h"

#include <QFileSystemModel>
#include <QHeaderView>
#include <QItemSelectionModel>

namespace velth {
namespace {

enum Column { NameColumn = 0, SizeColumn = 1, TypeColumn = 2, DateColumn = 3 };

} // namespace

LocalFileList::LocalFileList(QWidget* parent)
    : QTableView(parent)
    , m_model(new QFileSystemModel(this))
{
    m_model->setFilter(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    m_model->setReadOnly(false);
    m_model->setNameFilterDisables(false);
    setModel(m_model);

    setShowGrid(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    setWordWrap(false);
    setSortingEnabled(true);
    sortByColumn(NameColumn, Qt::AscendingOrder);
    setColumnHidden(TypeColumn, true);
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(true);
    setColumnWidth(NameColumn, 220);
    setColumnWidth(SizeColumn, 90);

    // The selection stays visible while another control has the focus.
    QPalette colors = palette();
    colors.setColor(QPalette::Inactive, QPalette::Highlight, colors.color(QPalette::Active, QPalette::Highlight));
    colors.setColor(
        QPalette::Inactive, QPalette::HighlightedText, colors.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(colors);

    connect(m_model, &QFileSystemModel::directoryLoaded, this, &LocalFileList::folderLoaded);
    connect(m_model, &QFileSystemModel::rowsInserted, this, &LocalFileList::folderLoaded);
    connect(m_model, &QFileSystemModel::rowsRemoved, this, &LocalFileList::folderLoaded);
}

void LocalFileList::setRootFolder(const QString& folder)
{
    setRootIndex(m_model->setRootPath(folder));
}

QString LocalFileList::rootFolder() const
{
    return m_model->rootPath();
}

QStringList LocalFileList::names() const
{
    QStringList result;
    const QModelIndex root = rootIndex();
    if (!root.isValid())
        return result;
    for (int row = 0; row < m_model->rowCount(root); ++row)
        result << m_model->index(row, NameColumn, root).data().toString();
    return result;
}

QModelIndex LocalFileList::selectedIndex() const
{
    if (!rootIndex().isValid() || m_model->rowCount(rootIndex()) == 0)
        return {};
    const QModelIndexList rows = selectionModel()->selectedRows(NameColumn);
    if (rows.isEmpty() || rows.first().parent() != rootIndex())
        return {};
    return rows.first();
}

std::optional<QString> LocalFileList::selectedName() const
{
    const QModelIndex index = selectedIndex();
    if (!index.isValid())
        return std::nullopt;
    return index.data().toString();
}

std::optional<QString> LocalFileList::selectedPath() const
{
    const QModelIndex index = selectedIndex();
    if (!index.isValid())
        return std::nullopt;
    return m_model->filePath(index);
}

bool LocalFileList::selectName(const QString& name)
{
    const QModelIndex root = rootIndex();
    for (int row = 0; root.isValid() && row < m_model->rowCount(root); ++row) {
        const QModelIndex index = m_model->index(row, NameColumn, root);
        if (index.data().toString() == name) {
            selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            return true;
        }
    }
    return false;
}

} // namespace velth
