#pragma once

#include "net/GameServer.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The files that name many game servers for velth-server: a list of
// addresses, and the rcon passwords of many servers. Both are text, a line
// each; blank lines and lines starting with '#' are skipped, and CR LF line
// ends read like LF.

namespace velth {

// One HOST[:PORT] a line (PORT defaults to 27015). An address given twice is
// kept once, where it first stood. Raises velth::Error naming the line
// ("line 3: not a server address") for anything else.
std::vector<GameAddress> readServerList(std::string_view text);

// "ADDRESS PASSWORD" a line: the address, blanks, then the password, the rest
// of the line (it may hold blanks; trailing blanks are kept). Raises
// velth::Error naming the line for a line without a password, an address
// that cannot be read, or an address given twice. The error never quotes a
// password.
std::vector<std::pair<GameAddress, std::string>> readServerPasswords(std::string_view text);

} // namespace velth
