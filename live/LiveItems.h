#pragma once

#include "net/GameServer.h"

#include <QString>
#include <QStringList>
#include <QTreeWidgetItem>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

class QLabel;
class QPushButton;

class QTreeWidget;
class QWidget;

// What the Live page's two tabs share: how a server's bytes become a cell,
// the rows that sort numbers as numbers, the page's controls, and where a
// profile's game server is.

namespace velth {

class AppContext;

// Item data: the bytes a row stands for (a profile name, a player's name);
// the number a column sorts by; the user id, Steam id and address of a player.
constexpr int kBytesRole = Qt::UserRole;
constexpr int kSortRole = Qt::UserRole + 1;
constexpr int kUserIdRole = Qt::UserRole + 2;
constexpr int kSteamIdRole = Qt::UserRole + 3;
constexpr int kAddressRole = Qt::UserRole + 4;

// Bounds on what a server can put on show.
constexpr qsizetype kMaxFieldChars = 200;

// A row whose numeric columns sort as numbers (their kSortRole data); rows
// without a number there (an offline server's ping) come after those with one.
class SortedItem final : public QTreeWidgetItem
{
public:
    using QTreeWidgetItem::QTreeWidgetItem;

    bool operator<(const QTreeWidgetItem& other) const override;
};

// A server's bytes as one line of plain text in which nothing hides or acts,
// cut to a length a list can show.
QString field(std::string_view bytes);

// A cell of a server's bytes: field() as its text, and the whole text (up to
// kMaxTipChars) as its tooltip, shown literally, for a cell the column cuts.
void setTextCell(QTreeWidgetItem* item, int column, std::string_view bytes);
// The cell's text as its tooltip too.
void setTipFromText(QTreeWidgetItem* item, int column);
constexpr qsizetype kMaxTipChars = 2000;

// "12:34", "1:02:05"
QString duration(int seconds);

void setNumber(QTreeWidgetItem* item, int column, const QString& text, double key);

QTreeWidget* makeList(const char* name, const QStringList& headers, QWidget* parent);
QPushButton* makeButton(const char* name, const QString& caption, QWidget* parent);
// A label for a server's words: plain text that never widens the page.
QLabel* makeTextLabel(const char* name, QWidget* parent);

// Where a profile's game server is, and its console password.
struct LiveTarget
{
    std::string profile;
    GameAddress address;
    std::string rconPass;
};

// The profile's game server, read from the store now; nothing when it names
// none (why says so; tell: in an error box too).
std::optional<LiveTarget> liveTarget(
    AppContext& context, const std::string& profile, bool tell, std::string* why = nullptr);

} // namespace velth
