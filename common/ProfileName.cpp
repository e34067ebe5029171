#include "common/ProfileName.h"

#include "common/Error.h"
#include "common/TextCodec.h"

#include <algorithm>
#include <string>

namespace velth {

bool isValidProfileName(const QString& name)
{
    if (name.isEmpty() || name == QStringLiteral(".") || name == QStringLiteral(".."))
        return false;
    // The store reads section names without their outer blanks, so such a
    // name would not find its own section again, nor its folder.
    if (name.front() == u' ' || name.back() == u' ')
        return false;
    return std::none_of(name.cbegin(), name.cend(), [](QChar ch) {
        return ch == u'/' || ch == u'\\' || ch == u'[' || ch == u']' || ch.category() == QChar::Other_Control;
    });
}

void requireFolderName(std::string_view profile)
{
    if (!isValidProfileName(toDisplay(profile)))
        throw Error("The server name \"" + std::string(profile) + "\" cannot be used as a folder name");
}

} // namespace velth
