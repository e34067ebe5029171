#include "loganalysis/LocalFileList.h"

#include <QFileSystemModel>

namespace velth {

LocalFileList::LocalFileList(QWidget* parent)
    : QListView(parent)
    , m_model(new QFileSystemModel(this))
{
    m_model->setFilter(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    m_model->setReadOnly(false);
    setModel(m_model);
}

void LocalFileList::setRootFolder(const QString& folder)
{
    setRootIndex(m_model->setRootPath(folder));
}

QString LocalFileList::rootFolder() const
{
    return m_model->rootPath();
}

} // namespace velth
