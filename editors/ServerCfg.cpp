#include "editors/ServerCfg.h"

#include "common/FileIo.h"

#include <algorithm>
#include <filesystem>

#include <unistd.h>

namespace velth {
namespace {

constexpr char kCtrlZ = '\x1a';

char asciiUpper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string asciiUpper(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](char c) { return asciiUpper(c); });
    return out;
}

bool endsWithCfg(std::string_view name)
{
    return name.size() >= 4 && asciiUpper(name.substr(name.size() - 4)) == ".CFG";
}

} // namespace

std::vector<std::string> readConfigLines(std::string_view config)
{
    std::vector<std::string> lines;
    std::size_t i = 0;
    const std::size_t n = config.size();
    while (i < n) {
        if (config[i] == kCtrlZ)
            break;
        std::string line;
        while (i < n && config[i] != '\n') {
            if (config[i] != '\r')
                line.push_back(config[i]);
            ++i;
        }
        if (i < n)
            ++i; // the LF (a CR before it was dropped with the other lone CRs)
        lines.push_back(std::move(line));
    }
    return lines;
}

std::string composeServerCfg(std::string_view rconPassword, std::string_view serverPassword, std::string_view config)
{
    static constexpr std::string_view kSlashes = "////////////////////////////////////////////";
    static constexpr std::string_view kTitle = "// Velth Control Center Password Settings //";
    static_assert(kSlashes.size() == 44 && kTitle.size() == 44);

    std::string out;
    out.reserve(config.size() + 256);
    const auto line = [&out](std::string_view text) {
        out += text;
        out += "\r\n";
    };
    line(kSlashes);
    line(kTitle);
    line(kSlashes);
    line({});
    line("rcon_password \"" + std::string(rconPassword) + '"');
    line("sv_password \"" + std::string(serverPassword) + '"');
    line({});
    line({});
    for (const std::string& l : readConfigLines(config))
        line(l);
    return out;
}

void writeServerCfg(const std::string& configPath, const std::string& serverCfgPath, std::string_view rconPassword,
    std::string_view serverPassword)
{
    const std::string config = readFile(configPath);
    writeFileAtomic(serverCfgPath, composeServerCfg(rconPassword, serverPassword, config));
}

std::vector<std::string> listConfigs(const std::string& folder)
{
    namespace fs = std::filesystem;
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(fs::path(folder), ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().native();
        std::error_code typeError;
        if (!endsWithCfg(name) || asciiUpper(name) == "SERVER.CFG" || it->is_directory(typeError))
            continue;
        names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const std::string ua = asciiUpper(a);
        const std::string ub = asciiUpper(b);
        return ua != ub ? ua < ub : a < b;
    });
    return names;
}

bool removeFileQuietly(const std::string& path)
{
    return !path.empty() && ::unlink(path.c_str()) == 0;
}

} // namespace velth
