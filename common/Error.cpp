#include "common/Error.h"

#include <cstring>

namespace velth {

void throwFileError(const std::string& what, const std::string& path, int errnum)
{
    throw Error(what + " " + path + ": " + std::strerror(errnum));
}

} // namespace velth
