#pragma once

#include "net/GameServer.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

// What velth-server's commands share: reading their arguments and showing a
// server's bytes.

namespace velth::servertool {

inline constexpr int kExitOk = 0;
inline constexpr int kExitNoAnswer = 1;
inline constexpr int kExitRefusedPassword = 2;
// The command ran, but its output was cut at its bound.
inline constexpr int kExitOutputCut = 3;
// log: the server took the log address, but its log never came.
inline constexpr int kExitLogNotArrived = 4;
inline constexpr int kExitUsage = 64; // EX_USAGE of sysexits.h

// A usage problem found while reading the arguments.
struct UsageError
{
    std::string problem;
};

// --help anywhere among the options: the usage text on standard output.
struct HelpRequest
{ };

// Texts from a server shown to a person: decoded by the program's text rule,
// control characters made visible so that no byte can drive the terminal.
std::string shown(std::string_view bytes);

// Texts from a server in JSON: decoded by the program's text rule (UTF-8
// where the text is valid UTF-8, Windows-1252 otherwise), so every string is
// valid UTF-8 and every byte value keeps a character of its own; the JSON
// writer escapes the control characters.
std::string jsonText(std::string_view bytes);

// "--name VALUE" or "--name=VALUE"; advances i past what it took. Raises
// UsageError when the value is missing.
std::optional<std::string> optionValue(int argc, char** argv, int& i, std::string_view name);

// Seconds as typed ("5", "0.5"): more than nothing, at most an hour; raises
// UsageError for anything else.
std::chrono::milliseconds parseTimeout(const std::string& text);

// The options a password could be given with, which are never taken.
bool isPasswordOption(std::string_view arg);

// HOST[:PORT]; raises UsageError for anything else.
GameAddress parseAddress(const std::string& text);

} // namespace velth::servertool

namespace velth::servertool {

// velth-server exporter: serves the servers' state as Prometheus metrics
// until it is stopped. Raises UsageError or HelpRequest for its arguments.
int runExporter(int argc, char** argv);

} // namespace velth::servertool
