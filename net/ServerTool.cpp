#include "net/ServerTool.h"

#include "common/TextCodec.h"

#include <cmath>
#include <cstdlib>

namespace velth::servertool {

std::string shown(std::string_view bytes)
{
    const QByteArray utf8 = visibleText(toDisplay(bytes)).toUtf8();
    return std::string(utf8.constData(), static_cast<std::size_t>(utf8.size()));
}

std::string jsonText(std::string_view bytes)
{
    const QByteArray utf8 = toDisplay(bytes).toUtf8();
    return std::string(utf8.constData(), static_cast<std::size_t>(utf8.size()));
}

std::optional<std::string> optionValue(int argc, char** argv, int& i, std::string_view name)
{
    const std::string_view arg = argv[i];
    if (arg == name) {
        if (i + 1 >= argc)
            throw UsageError{ std::string(name) + " needs a value" };
        return std::string(argv[++i]);
    }
    if (arg.size() > name.size() && arg.substr(0, name.size()) == name && arg[name.size()] == '=')
        return std::string(arg.substr(name.size() + 1));
    return std::nullopt;
}

std::chrono::milliseconds parseTimeout(const std::string& text)
{
    char* end = nullptr;
    const double seconds = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(seconds) || seconds < 0.001
        || seconds > 3600)
        throw UsageError{ "--timeout takes seconds between 0.001 and 3600, not \"" + text + "\"" };
    return std::chrono::milliseconds(static_cast<long long>(std::llround(seconds * 1000)));
}

bool isPasswordOption(std::string_view arg)
{
    return arg == "-p" || arg == "--password" || arg.rfind("--password=", 0) == 0 || arg == "--rcon-password"
        || arg.rfind("--rcon-password=", 0) == 0;
}

GameAddress parseAddress(const std::string& text)
{
    const auto address = parseGameAddress(text);
    if (!address)
        throw UsageError{ "not a server address (HOST, HOST:PORT, [IPV6] or [IPV6]:PORT): \"" + shown(text) + "\"" };
    return *address;
}

} // namespace velth::servertool
