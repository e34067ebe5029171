#include "app/ProfileSelector.h"

#include "app/TextCodec.h"

#include <QComboBox>
#include <QListWidget>

namespace velth {
namespace {

QByteArray toBytes(const std::string& s)
{
    return QByteArray(s.data(), static_cast<qsizetype>(s.size()));
}

std::string fromBytes(const QVariant& v)
{
    const QByteArray b = v.toByteArray();
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

} // namespace

void setProfileNames(QComboBox* box, const std::vector<std::string>& names)
{
    box->clear();
    for (const auto& name : names)
        box->addItem(toDisplay(name), toBytes(name));
    box->setCurrentIndex(-1);
}

void setProfileNames(QListWidget* list, const std::vector<std::string>& names)
{
    list->clear();
    for (const auto& name : names) {
        auto* item = new QListWidgetItem(toDisplay(name), list);
        item->setData(Qt::UserRole, toBytes(name));
    }
    list->setCurrentRow(-1);
}

std::vector<std::string> profileNames(const QListWidget* list)
{
    std::vector<std::string> names;
    for (int i = 0; i < list->count(); ++i)
        names.push_back(fromBytes(list->item(i)->data(Qt::UserRole)));
    return names;
}

std::optional<std::string> currentProfile(const QComboBox* box)
{
    if (box->currentIndex() < 0)
        return std::nullopt;
    return fromBytes(box->currentData());
}

std::optional<std::string> currentProfile(const QListWidget* list)
{
    const QListWidgetItem* item = list->currentItem();
    if (!item || !item->isSelected())
        return std::nullopt;
    return fromBytes(item->data(Qt::UserRole));
}

} // namespace velth
