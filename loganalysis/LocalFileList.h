#pragma once

#include <QTableView>

#include <optional>

class QFileSystemModel;

namespace velth {

// The plain files of one folder in report style with grid lines, sorted by
// name, following the folder's changes by itself. Names can be edited in place
// (F2 or a click on the selected entry), which renames the file; there is no
// way into other folders. While the folder does not exist the list is empty,
// says so, and offers nothing to select, rename or delete; it fills once the
// folder appears (it is looked for every second).
class LocalFileList final : public QTableView
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LocalFileList)

public:
    explicit LocalFileList(QWidget* parent = nullptr);

    void setRootFolder(const QString& folder);
    QString rootFolder() const;
    // Why the list is empty when its folder is missing; empty otherwise.
    QString missingText() const;

    // The displayed names, in the order shown.
    QStringList names() const;
    // The displayed name and the full path of the selected entry, if any.
    std::optional<QString> selectedName() const;
    std::optional<QString> selectedPath() const;
    // Selects the entry with this displayed name; false when there is none.
    bool selectName(const QString& name);

Q_SIGNALS:
    // The folder's listing was (re)read.
    void folderLoaded();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QModelIndex selectedIndex() const;
    // Shows the folder when it exists and nothing when it does not.
    void checkFolder();
    bool showsFolder() const;

    QFileSystemModel* m_model;
    QString m_folder;
};

} // namespace velth
