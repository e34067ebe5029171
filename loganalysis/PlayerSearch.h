#pragma once

#include "loganalysis/PlayerFinder.h"

#include <QAbstractTableModel>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTreeView;
class QTreeWidget;

namespace velth {

class AppContext;
class ChatViews;

// The appearances a search found, as the list shows them: one row each, cells
// decoded only when shown.
class AppearanceModel final : public QAbstractTableModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AppearanceModel)

public:
    enum Column { FileColumn, LineColumn, TimeColumn, NameColumn, SteamIdColumn, TeamColumn, EventColumn, ColumnCount };

    explicit AppearanceModel(QObject* parent = nullptr);

    // The logs of a new search (the appearances' file indexes), no rows.
    void reset(std::vector<QString> files);
    void append(std::vector<PlayerAppearance> rows);

    // The rows in the order shown.
    const PlayerAppearance& appearance(int row) const { return m_rows[m_order[static_cast<std::size_t>(row)]]; }
    const QString& fileName(int row) const { return m_files[appearance(row).file]; }

    // Sorts by a column; rows that tie stand newest first (by time, then log,
    // then line). Rows appended later go where this order puts them.
    void sort(int column, Qt::SortOrder order) override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QString cell(const PlayerAppearance& a, int column) const;
    // Whether row a (an index into m_rows) is older than row b.
    bool olderThan(std::uint32_t a, std::uint32_t b) const;
    // Whether row a stands before row b in the order shown.
    bool before(std::uint32_t a, std::uint32_t b) const;

    std::vector<QString> m_files;
    std::vector<PlayerAppearance> m_rows; // as they arrived
    std::vector<std::uint32_t> m_order; // the rows shown, as indexes into m_rows
    int m_column = TimeColumn;
    Qt::SortOrder m_sortOrder = Qt::DescendingOrder;
};

// The player search of the Chat parser page, on its Local Files tab: finds a
// player (a part of the name in any case, or the Steam id) in every log of
// the logs folder on a worker thread. Appearances stream into a sortable
// list, newest first, with the names each Steam id found used; a double click
// scans that log into the page's views and shows the line among its
// neighbours as plain text.
class PlayerSearch final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PlayerSearch)

public:
    // Scans into `views`; `tab` is the page of `tabs` that shows the search,
    // brought back to the front after a scan.
    PlayerSearch(AppContext& context, ChatViews* views, QTabWidget* tabs, QWidget* tab);
    // Ends a running search at once.
    ~PlayerSearch() override;

    void BFindClick();
    void BFindCancelClick();
    void FindResultsDblClick();

    bool isSearching() const { return m_worker.joinable(); }

    QLineEdit* FindText = nullptr;
    QPushButton* BFind = nullptr;
    QPushButton* BFindCancel = nullptr;
    QProgressBar* FindProgress = nullptr;
    QLabel* FindStatus = nullptr;
    QTreeView* FindResults = nullptr;
    QTreeWidget* OtherNames = nullptr;
    QPlainTextEdit* LogExcerpt = nullptr;

    AppearanceModel* results() const { return m_model; }

Q_SIGNALS:
    // A search ended: it finished, was cancelled or ended in an error.
    void searchEnded();

private:
    // How a search ended, as the worker saw it.
    struct SearchEnd
    {
        bool cancelled = false;
        bool truncated = false;
        std::size_t logs = 0;
        QStringList failures;
    };
    void stop();
    void received(unsigned generation, std::vector<PlayerAppearance> rows);
    void progressed(unsigned generation, int pass, int permille);
    void finished(unsigned generation, std::vector<PlayerNames> names, const SearchEnd& end);
    void showExcerpt(const QString& fileName, std::uint64_t line);

    AppContext& m_context;
    ChatViews* m_views;
    QTabWidget* m_tabs;
    QWidget* m_tab;
    AppearanceModel* m_model;
    std::shared_ptr<std::atomic<bool>> m_cancel;
    std::thread m_worker;
    unsigned m_generation = 0;
};

} // namespace velth
