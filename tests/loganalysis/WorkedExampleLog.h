#pragma once

// The worked example of a log as an HLDS server writes it (CR LF line ends):
// a map with its cvars, chats of both teams, a team kill and a CT win.

#include <string>

namespace velth::test {

inline const std::string kWorkedExampleLog
    = "L 10/20/2003 - 20:13:52: Log file started (file \"logs/L1020000.log\") (game \"cstrike\")\r\n"
      "L 10/20/2003 - 20:13:52: Loading map \"de_dust2\"\r\n"
      "L 10/20/2003 - 20:13:52: Server cvars start\r\n"
      "L 10/20/2003 - 20:13:52: Server cvar \"mp_friendlyfire\" = \"1\"\r\n"
      "L 10/20/2003 - 20:13:52: Server cvar \"public_slots_free\" = \"10\"\r\n"
      "L 10/20/2003 - 20:13:52: Server cvars end\r\n"
      "L 10/20/2003 - 20:14:10: \"Alice<3><111111><CT>\" say \"hello all\"\r\n"
      "L 10/20/2003 - 20:14:12: \"Bob<4><222222><TERRORIST>\" say \"hi\" (dead)\r\n"
      "L 10/20/2003 - 20:14:15: \"Alice<3><111111><CT>\" say_team \"go B\"\r\n"
      "L 10/20/2003 - 20:14:20: \"Bob<4><222222><TERRORIST>\" say_team \"rush\"\r\n"
      "L 10/20/2003 - 20:15:01: \"Alice<3><111111><CT>\" killed \"Bob<4><222222><TERRORIST>\" with \"m4a1\"\r\n"
      "L 10/20/2003 - 20:15:30: \"Carl<5><333333><CT>\" killed \"Alice<3><111111><CT>\" with \"ak47\"\r\n"
      "L 10/20/2003 - 20:16:00: \"Carl<5><333333><CT>\" killed \"Dave<6><444444><TERRORIST>\" with \"awp\"\r\n"
      "L 10/20/2003 - 20:16:05: Team \"CT\" triggered \"CTs_Win\" (CT \"1\") (T \"0\")\r\n";

} // namespace velth::test
