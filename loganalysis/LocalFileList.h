#pragma once

#include <QListView>

class QFileSystemModel;

namespace velth {

// The plain files of one folder, sorted by name, following the folder's
// changes by itself.
class LocalFileList final : public QListView
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LocalFileList)

public:
    explicit LocalFileList(QWidget* parent = nullptr);

    void setRootFolder(const QString& folder);
    QString rootFolder() const;

private:
    QFileSystemModel* m_model;
};

} // namespace velth
