#include "editors/MapcycleFile.h"

#include "common/FileIo.h"
#include "common/TextLines.h"

namespace velth {

std::vector<std::string> readMapcycle(std::string_view bytes)
{
    const std::size_t zero = bytes.find('\0');
    if (zero != std::string_view::npos)
        bytes = bytes.substr(0, zero);
    return splitLines(bytes);
}

std::string writeMapcycle(const std::vector<std::string>& entries)
{
    return joinLinesCrLf(entries);
}

std::vector<std::string> loadMapcycleFile(const std::string& path)
{
    return readMapcycle(readFile(path));
}

void saveMapcycleFile(const std::string& path, const std::vector<std::string>& entries)
{
    writeFileAtomic(path, writeMapcycle(entries));
}

} // namespace velth
