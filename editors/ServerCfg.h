#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velth {

// The lines of a configuration file as the server.cfg composer reads them: a
// line ends at LF or at CR LF, a CR not followed by LF is dropped, and reading
// stops at the end of the text or where a line would begin with byte 26
// (Ctrl-Z). A line end at the very end adds no empty line.
std::vector<std::string> readConfigLines(std::string_view config);

// The bytes of server.cfg: the eight-line password block (rcon_password and
// sv_password exactly as given, neither trimmed nor escaped), then the
// configuration's lines by readConfigLines; every line ends with CR LF.
std::string composeServerCfg(std::string_view rconPassword, std::string_view serverPassword, std::string_view config);

// Reads configPath and replaces serverCfgPath with the composition, through a
// temporary file renamed into place: a failure (config unreadable, target not
// writable) throws velth::Error and leaves any previous server.cfg untouched.
void writeServerCfg(const std::string& configPath, const std::string& serverCfgPath, std::string_view rconPassword,
    std::string_view serverPassword);

// The configuration files of a profile folder: every entry that is not a
// folder and whose name ends in ".cfg" in any letter case (hidden ones too),
// except server.cfg in any letter case. Names as found, ordered by name with
// letter case ignored. A missing or unreadable folder gives an empty list.
std::vector<std::string> listConfigs(const std::string& folder);

// Deletes a file; a failure is not reported (returns false).
bool removeFileQuietly(const std::string& path);

} // namespace velth
