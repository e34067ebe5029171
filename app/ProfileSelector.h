#pragma once

#include <QString>

#include <optional>
#include <string>
#include <vector>

class QComboBox;
class QListWidget;

namespace velth {

// Profile names are kept as the bytes of their section in the profile store
// (item data), and shown through the display rule; so a name is always
// addressed exactly as the file spells it, whatever its encoding.
void setProfileNames(QComboBox* box, const std::vector<std::string>& names);
void setProfileNames(QListWidget* list, const std::vector<std::string>& names);
std::vector<std::string> profileNames(const QListWidget* list);

// The picked profile of a selector or list, if any.
std::optional<std::string> currentProfile(const QComboBox* box);
std::optional<std::string> currentProfile(const QListWidget* list);

} // namespace velth
