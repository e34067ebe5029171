#include "live/LiveItems.h"

#include "common/AppContext.h"
#include "common/Error.h"
#include "common/Prompts.h"
#include "common/TextCodec.h"
#include "common/ToolTip.h"
#include "profiles/ServerProfile.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

#include <algorithm>

namespace velth {

bool SortedItem::operator<(const QTreeWidgetItem& other) const
{
    const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
    const QVariant a = data(column, kSortRole);
    const QVariant b = other.data(column, kSortRole);
    if (a.isValid() && b.isValid())
        return a.toDouble() < b.toDouble();
    if (a.isValid() != b.isValid())
        return a.isValid();
    return text(column).compare(other.text(column), Qt::CaseInsensitive) < 0;
}

QString field(std::string_view bytes)
{
    QString text = visibleText(toDisplay(bytes));
    if (text.size() > kMaxFieldChars)
        text = text.left(kMaxFieldChars) + QChar(0x2026);
    return text;
}

void setTextCell(QTreeWidgetItem* item, int column, std::string_view bytes)
{
    item->setText(column, field(bytes));
    QString whole = visibleText(toDisplay(bytes.substr(0, std::size_t(kMaxTipChars) * 4)));
    if (whole.size() > kMaxTipChars)
        whole = whole.left(kMaxTipChars) + QChar(0x2026);
    item->setToolTip(column, plainToolTip(whole));
}

void setTipFromText(QTreeWidgetItem* item, int column)
{
    item->setToolTip(column, plainToolTip(item->text(column)));
}

QString duration(int seconds)
{
    seconds = std::max(seconds, 0);
    const int h = seconds / 3600;
    const int m = seconds / 60 % 60;
    const int s = seconds % 60;
    if (h > 0)
        return QStringLiteral("%1:%2:%3").arg(h).arg(m, 2, 10, QLatin1Char('0')).arg(s, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(m).arg(s, 2, 10, QLatin1Char('0'));
}

void setNumber(QTreeWidgetItem* item, int column, const QString& text, double key)
{
    item->setText(column, text);
    item->setData(column, kSortRole, key);
    item->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
}

QTreeWidget* makeList(const char* name, const QStringList& headers, QWidget* parent)
{
    auto* list = new QTreeWidget(parent);
    list->setObjectName(QLatin1String(name));
    list->setColumnCount(int(headers.size()));
    list->setHeaderLabels(headers);
    list->setRootIsDecorated(false);
    list->setItemsExpandable(false);
    list->setUniformRowHeights(true);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setSortingEnabled(true);
    list->header()->setSectionsMovable(false);
    list->header()->setStretchLastSection(true);
    return list;
}

QPushButton* makeButton(const char* name, const QString& caption, QWidget* parent)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setFixedHeight(21);
    return button;
}

QLabel* makeTextLabel(const char* name, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    return label;
}

std::optional<LiveTarget> liveTarget(AppContext& context, const std::string& profile, bool tell, std::string* why)
{
    ServerProfile read;
    try {
        read = readServerProfile(context.store(), profile);
    } catch (const Error& e) {
        // A profile the program cannot read (a connection kind it does not
        // know) names no server either; a timer's refresh must not report it
        // in a box.
        if (why)
            *why = e.message();
        if (tell)
            context.prompts().errorBox(visibleText(toDisplay(e.message())));
        return std::nullopt;
    }
    if (read.gameHost().empty()) {
        if (why)
            *why = "no game server address";
        if (tell)
            context.prompts().errorBox(
                QStringLiteral("This profile names no game server: enter its host on the Settings page."));
        return std::nullopt;
    }
    return LiveTarget{ profile, GameAddress{ read.gameHost(), read.gamePort }, read.rconPass };
}

} // namespace velth
