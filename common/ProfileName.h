#pragma once

#include <QString>

#include <string_view>

namespace velth {

// Whether a profile name can be a section of the profile store and a folder
// under cfgs: not empty, not "." or "..", no blank at either end, and free of
// path separators, square brackets and control characters.
bool isValidProfileName(const QString& name);

// The same check on a name as the store holds it (hand-edited files included),
// before it becomes part of a path. Throws velth::Error naming the profile
// when the name cannot be a folder of its own.
void requireFolderName(std::string_view profile);

} // namespace velth
