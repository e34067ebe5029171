#pragma once

#include "loganalysis/LogParser.h"
#include "loganalysis/RtfWriter.h"

#include <QAbstractListModel>
#include <QString>
#include <QStringList>
#include <QTableView>

#include <functional>
#include <memory>
#include <string_view>
#include <vector>

namespace velth {

// Display text for one line of a log's text (a chat entry, a name, a server
// variable): the bytes by the display rule, with every character that would
// start a new line or paragraph (CR, LF, VT, FF, the separators U+001C to
// U+001E, U+0085, U+2028, U+2029, and U+FDD0 and U+FDD1, which the rich-text
// engine reads as frame boundaries) shown as U+FFFD, so that one entry can
// never look like two.
QString oneLineDisplay(std::string_view bytes);
// The same replacement on text already decoded.
void replaceLineBreaks(QString& text);

// The lines of one chat of a scan, in file order, each in its colour: red
// RGB (255, 0, 0) or blue RGB (0, 0, 255). Rows are decoded only when asked
// for, so a chat of a million lines costs nothing until it is shown.
class ChatModel final : public QAbstractListModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ChatModel)

public:
    explicit ChatModel(QObject* parent = nullptr);

    // Shows `log`, which `owner` keeps alive; nothing for a null log.
    void setLog(std::shared_ptr<const ScanResult> owner, const ChatLog* log);
    // The log shown has grown at its end: its new lines become rows.
    void grow();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    QString text(int row) const;
    QColor color(int row) const;
    // The row with the most bytes (-1 when there is none): the width that
    // the view gives every row.
    int widestRow() const { return m_widest; }

    // The document that "Save Chat as ..." writes, one paragraph per row in
    // its colour with the text the view shows, handed to out in pieces as it
    // is made (velth::writeRtf), so a chat of any length is never held whole.
    void writeRtf(const RtfOutput& out) const;

private:
    std::shared_ptr<const ScanResult> m_owner;
    const ChatLog* m_log = nullptr;
    int m_rows = 0;
    int m_widest = -1;
};

// A list of the scan result in columns (the server variables, a team's
// players): cells are made only when a row is shown, so a list of any length
// is filled in one step.
class ResultTable final : public QAbstractTableModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ResultTable)

public:
    using Cell = std::function<QString(std::size_t row, int column)>;

    ResultTable(const QStringList& headers, QObject* parent = nullptr);

    // Shows `rows` rows whose texts `cell` gives, from data that `owner`
    // keeps alive; no rows for a null owner.
    void setRows(std::shared_ptr<const ScanResult> owner, std::size_t rows, Cell cell);
    // The data has grown to `rows` rows at its end, and the rows shown
    // before may have changed (a team row's name and team kills).
    void grow(std::size_t rows);
    // Cells and header of `column` stand at the right.
    void alignRight(int column) { m_rightColumn = column; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QStringList m_headers;
    int m_rightColumn = -1;
    std::shared_ptr<const ScanResult> m_owner;
    int m_rows = 0;
    Cell m_cell;
};

// A read-only chat view: one row per line in its colour, all rows of one
// height and as wide as the widest line, so nothing is laid out but the rows
// on screen. Lines can be selected; Ctrl+C copies the selected ones as text,
// one per line.
class ChatView final : public QTableView
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ChatView)

public:
    explicit ChatView(QWidget* parent = nullptr);

    ChatModel* chatModel() const { return m_model; }
    // The selected rows in order, joined by '\n'.
    QString selectedText() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Row height and line width for the chat shown.
    void measure();
    void fitColumn();
    // A live chat follows its new lines while the user looks at its end.
    void rowsComing();
    void rowsCame();

    ChatModel* m_model;
    int m_lineWidth = 0;
    int m_measuredRow = -1;
    bool m_following = false;
};

} // namespace velth
