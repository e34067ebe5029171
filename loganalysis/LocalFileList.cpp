#include "loganalysis/LocalFileList.h"

#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPainter>
#include <QTimer>

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

    setShowGrid(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    setWordWrap(false);
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(true);

    // The selection stays visible while another control has the focus.
    QPalette colors = palette();
    colors.setColor(QPalette::Inactive, QPalette::Highlight, colors.color(QPalette::Active, QPalette::Highlight));
    colors.setColor(
        QPalette::Inactive, QPalette::HighlightedText, colors.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(colors);

    connect(m_model, &QFileSystemModel::directoryLoaded, this, &LocalFileList::folderLoaded);
    connect(m_model, &QFileSystemModel::rowsInserted, this, &LocalFileList::folderLoaded);
    connect(m_model, &QFileSystemModel::rowsRemoved, this, &LocalFileList::folderLoaded);

    auto* poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, &LocalFileList::checkFolder);
    poll->start(1000);
}

void LocalFileList::setRootFolder(const QString& folder)
{
    m_folder = folder;
    if (showsFolder()) {
        QItemSelectionModel* oldSelection = selectionModel();
        setModel(nullptr);
        delete oldSelection;
    }
    checkFolder();
}

QString LocalFileList::rootFolder() const
{
    return m_folder;
}

bool LocalFileList::showsFolder() const
{
    return model() == static_cast<const QAbstractItemModel*>(m_model);
}

QString LocalFileList::missingText() const
{
    if (showsFolder() || m_folder.isEmpty())
        return {};
    return QStringLiteral("The folder %1 does not exist.").arg(m_folder);
}

void LocalFileList::checkFolder()
{
    // Never fall back on another folder: the model's own root (the file
    // system, or the current directory for a path it cannot resolve) must not
    // be shown, or a rename or delete would act there.
    const bool exists = !m_folder.isEmpty() && QFileInfo(m_folder).isDir();
    if (exists == showsFolder())
        return;
    QItemSelectionModel* oldSelection = selectionModel();
    if (exists) {
        setModel(m_model);
        setRootIndex(m_model->setRootPath(m_folder));
        setSortingEnabled(true);
        sortByColumn(NameColumn, Qt::AscendingOrder);
        setColumnHidden(TypeColumn, true);
        setColumnWidth(NameColumn, 220);
        setColumnWidth(SizeColumn, 90);
    } else {
        setModel(nullptr);
        Q_EMIT folderLoaded();
    }
    delete oldSelection;
    viewport()->update();
}

void LocalFileList::paintEvent(QPaintEvent* event)
{
    QTableView::paintEvent(event);
    const QString text = missingText();
    if (text.isEmpty())
        return;
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::PlaceholderText));
    painter.drawText(
        viewport()->rect().adjusted(8, 8, -8, -8), Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, text);
}

QStringList LocalFileList::names() const
{
    QStringList result;
    const QModelIndex root = rootIndex();
    if (!showsFolder() || !root.isValid())
        return result;
    for (int row = 0; row < m_model->rowCount(root); ++row)
        result << m_model->index(row, NameColumn, root).data().toString();
    return result;
}

QModelIndex LocalFileList::selectedIndex() const
{
    if (!showsFolder() || !rootIndex().isValid() || m_model->rowCount(rootIndex()) == 0)
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
    if (!showsFolder())
        return false;
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
