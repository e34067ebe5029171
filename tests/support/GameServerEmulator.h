#pragma once

#include "support/TempDir.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QProcess;

namespace velth::test {

// A Counter-Strike 1.6 game server's UDP side for tests: the engine's server
// queries, remote console and live log as tests/support/gameserver.py plays
// them (run by /usr/bin/python3) on free ports of 127.0.0.1. One process
// serves Options::count servers. Started by the constructor, stopped by
// stop() or the destructor.
//
// The default server is "Velth Test Server" on de_dust2, 16 slots, three
// players and a bot, rules long enough to come in split packets, and no rcon
// password. Latency and drops are exact counts and fixed delays, so a test
// never depends on a race; what the server received is read from its log.
class GameServerEmulator
{
public:
    enum class InfoForm {
        Source, // the 'I' reply
        GoldSrc, // the old 'm' reply (it starts with the server's address)
        Both, // 'm', then 'I', as some servers send
    };

    enum class Hostile {
        Markup, // markup, control characters and invalid UTF-8 in names, map, hostname and rules
        CountMismatch, // counts in info, players and rules that disagree with the lists
        SplitTruncated, // the last split part cut in half
        SplitDuplicate, // every split part twice
        SplitMissing, // the second split part never sent
        SplitReorder, // split parts last first
        SplitTooMany, // junk parts whose index is beyond the count in their header, before the real ones
        WrongPort, // before every reply another one ("Wrong port") from another port
        OldReply, // before a split reply a part of an older one (request id one less, values "old")
        EndlessPrint, // an accepted rcon command answers with print packets without end
        Huge, // replies and rcon output of about 65,000 bytes in one datagram
        Garbage, // every request answered with three datagrams of random bytes
        NoRules, // the rules request is never answered (info and players are)
        CutInfo, // the first info reply ends inside the name, the second before the player counts
    };

    struct Options
    {
        int count = 1;
        // 0: free ports; otherwise the first of count consecutive ports.
        int port = 0;
        // The server's state as JSON (see EMULATOR.md); nothing: the default.
        std::optional<std::string> stateJson;
        // rcon_password; nothing: none set.
        std::optional<std::string> rconPassword;
        int latencyMs = 0;
        // Drop every drop-th datagram received (0: none).
        int drop = 0;
        // Drop the first dropFirst datagrams of each kind (info, players, rcon...).
        int dropFirst = 0;
        // Loss of the datagrams the server sends in reply to queries: every
        // loseEvery-th one (0: none), and lossPercent of them at random from
        // lossSeed (the same losses on every run with the same seed).
        int loseEvery = 0;
        double lossPercent = 0;
        int lossSeed = 1;
        InfoForm infoForm = InfoForm::Source;
        bool infoChallenge = false;
        bool splitRules = false;
        int minFailures = 5;
        int minFailureTime = 30;
        int banPenalty = 0;
        // Count wrong passwords per IP address instead of per address and port.
        bool failuresByIp = false;
        std::vector<Hostile> hostile;
        // A log file whose lines are sent to the log addresses once
        // logaddress_add and "log on" were given, replayRate lines a second.
        std::string replayLog;
        double replayRate = 10;
        std::string logSecret;
        // The file "exec server.cfg" runs.
        std::string serverCfg;
        // The log datagrams never leave, as a router or firewall on the way drops them.
        bool logLost = false;
    };

    GameServerEmulator();
    explicit GameServerEmulator(const Options& options);
    ~GameServerEmulator();
    GameServerEmulator(const GameServerEmulator&) = delete;
    GameServerEmulator& operator=(const GameServerEmulator&) = delete;

    // Stops the process (idempotent); what it received stays readable.
    void stop();
    bool running() const;

    std::string host() const { return "127.0.0.1"; }
    // The first server's port, and every server's.
    int port() const { return m_ports.at(0); }
    const std::vector<int>& ports() const { return m_ports; }

    // What server number server (1 for the first) received, a line each:
    // "info", "players", "rules", "challenge", "challenge-rcon",
    // "rcon <result> <command>", "banned <kind>", "other <bytes>", each with
    // " dropped" when dropped, and "log <line>" for each line of its log.
    // Bytes outside printable ASCII, and the backslash, read "\xNN".
    std::vector<std::string> received(int server = 1) const;
    // The rcon command lines server accepted and ran, in order.
    std::vector<std::string> rconCommands(int server = 1) const;
    // Waits up to `limit` for server to have run `command`, by sleeping
    // between looks at its log: the caller's event loop does not run, as in a
    // program that has ended.
    bool waitForCommand(const std::string& command, std::chrono::milliseconds limit, int server = 1) const;
    // The lines its log got ("L 12/08/2026 - 23:40:00: Server say \"x\"").
    std::vector<std::string> logLines(int server = 1) const;

private:
    TempDir m_dir;
    std::vector<int> m_ports;
    std::unique_ptr<QProcess> m_process;
};

} // namespace velth::test
