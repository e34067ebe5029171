#pragma once

#include <QString>

#include <optional>
#include <string>
#include <vector>

class QComboBox;
class QListWidget;
class QVariant;

namespace velth {

class Prompts;

// Profile names are kept as the bytes of their section in the profile store
// (item data), and shown through the display rule; so a name is always
// addressed exactly as the file spells it, whatever its encoding.
void setProfileNames(QComboBox* box, const std::vector<std::string>& names);
void setProfileNames(QListWidget* list, const std::vector<std::string>& names);
std::vector<std::string> profileNames(const QListWidget* list);

// Byte strings kept as item data, exactly as they came.
QVariant bytesToItemData(const std::string& bytes);
std::string itemDataToBytes(const QVariant& data);

// The picked profile of a selector or list, if any.
std::optional<std::string> currentProfile(const QComboBox* box);
std::optional<std::string> currentProfile(const QListWidget* list);

// The picked profile of a page's server selector; when none is picked, the
// user is told "Please select a FTP Server!" and nothing is returned.
std::optional<std::string> requireProfile(Prompts& prompts, const QComboBox* selector);

} // namespace velth
