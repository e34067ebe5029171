#include "common/ProfileSelector.h"

#include "common/Prompts.h"
#include "common/TextCodec.h"

#include <QComboBox>
#include <QListWidget>

namespace velth {

QVariant bytesToItemData(const std::string& bytes)
{
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string itemDataToBytes(const QVariant& data)
{
    const QByteArray b = data.toByteArray();
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

std::optional<std::string> requireProfile(Prompts& prompts, const QComboBox* selector)
{
    auto profile = currentProfile(selector);
    if (!profile)
        prompts.errorBox(QStringLiteral("Please select a FTP Server!"));
    return profile;
}

void setProfileNames(QComboBox* box, const std::vector<std::string>& names)
{
    box->clear();
    for (const auto& name : names)
        box->addItem(toDisplay(name), bytesToItemData(name));
    box->setCurrentIndex(-1);
}

void setProfileNames(QListWidget* list, const std::vector<std::string>& names)
{
    list->clear();
    for (const auto& name : names) {
        auto* item = new QListWidgetItem(toDisplay(name), list);
        item->setData(Qt::UserRole, bytesToItemData(name));
    }
    list->setCurrentRow(-1);
}

std::vector<std::string> profileNames(const QListWidget* list)
{
    std::vector<std::string> names;
    for (int i = 0; i < list->count(); ++i)
        names.push_back(itemDataToBytes(list->item(i)->data(Qt::UserRole)));
    return names;
}

std::optional<std::string> currentProfile(const QComboBox* box)
{
    if (box->currentIndex() < 0)
        return std::nullopt;
    return itemDataToBytes(box->currentData());
}

std::optional<std::string> currentProfile(const QListWidget* list)
{
    const QListWidgetItem* item = list->currentItem();
    if (!item || !item->isSelected())
        return std::nullopt;
    return itemDataToBytes(item->data(Qt::UserRole));
}

} // namespace velth
