#pragma once

#include <QObject>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The game server's own UDP protocols, on the game port: the public server
// query (info, players, rules) and the remote console (rcon). Everything the
// server sends is an 8-bit byte string exactly as it arrived; pages decode it
// for display through the text codec and show it as plain text.
//
// Sockets belong to the thread that created the objects (the window's) and
// never block it: name lookups are asynchronous, datagrams are read when the
// event loop says they are there, and every wait is a timer.

namespace velth {

// Where a game server listens.
struct GameAddress
{
    std::string host;
    int port = 27015;

    bool operator==(const GameAddress&) const = default;
};

// "host:port", with an IPv6 address in brackets ("[::1]:27015").
std::string toString(const GameAddress& address);

// Reads "HOST", "HOST:PORT", "[V6]" or "[V6]:PORT"; nothing for an empty host,
// a port that is not 1..65535, or anything else malformed.
std::optional<GameAddress> parseGameAddress(std::string_view text, int defaultPort = 27015);

// --- queries ----------------------------------------------------------------

struct GameServerInfo
{
    std::string name;
    std::string map;
    std::string folder; // "cstrike"
    std::string game; // "Counter-Strike"
    std::string version;
    int protocol = 0;
    int players = 0; // as the server counts them (bots included)
    int maxPlayers = 0;
    int bots = 0;
    bool passworded = false;
    bool secure = false; // VAC
    char serverType = 0; // 'd' dedicated, 'l' listen, 'p' proxy
    char environment = 0; // 'l' Linux, 'w' Windows, 'm' macOS
    bool goldSrcReply = false; // the server answered in the old 'm' form
};

struct GamePlayer
{
    std::string name;
    int score = 0;
    float duration = 0; // seconds on the server
};

// Every cvar the server publishes, in the order it sent them.
using GameRules = std::vector<std::pair<std::string, std::string>>;

// What a query asks for.
enum GameQueryPart : unsigned { QueryInfo = 1, QueryPlayers = 2, QueryRules = 4 };

struct GameQueryResult
{
    enum class Status {
        Online, // the server answered the info request
        Offline, // no answer to the info request within the time-out, after the retries
        Failed, // the address could not be used, or the server refuses us (in error)
    };
    Status status = Status::Offline;
    // Failed: what went wrong, for the user ("Cannot find the host example.org.",
    // "The server has banned this computer: You have been banned from this server.").
    std::string error;
    GameServerInfo info;
    // Present when asked for and answered. A server that answered the info
    // request is online with what it sent, whatever came of the others and
    // whenever the query's time ran out: the players and rules that arrived
    // stay, the rest is missing here.
    std::optional<std::vector<GamePlayer>> players;
    std::optional<GameRules> rules;
    // Round trip to the server, from an answer that could only belong to one
    // request (the info request's when it has one); -1 when unknown.
    std::chrono::milliseconds ping{ -1 };

    bool online() const { return status == Status::Online; }
    // Online with every part asked for.
    bool complete(unsigned parts) const
    {
        return online() && (!(parts & QueryPlayers) || players) && (!(parts & QueryRules) || rules);
    }
};

// Queries any number of servers, over one UDP socket for each address family
// whatever their number; a reply is taken only from the address and port
// asked. Sends are paced: at most Limits::inFlight queries run at once (the
// others wait their turn, in order) and at most Limits::sendRate datagrams
// leave a second, so a large fleet does not flood the link and lose its own
// replies.
//
// A request is sent again when no answer came within a small multiple of the
// round trip measured on that server (bounded, growing with each retry), or,
// before the server has answered anything, after a short wait that backs off.
// The replies to every attempt count, and the parts of split replies of
// earlier attempts are kept to complete a later one.
class GameQuery final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(GameQuery)

public:
    using Done = std::function<void(const GameQueryResult& result)>;

    struct Limits
    {
        // The longest wait for one answer before the request is sent again;
        // the last attempt waits this long.
        std::chrono::milliseconds timeout{ 1500 };
        // How often each request is sent again before it counts as unanswered.
        int retries = 2;
        // The whole time one query may take from its first request (0: no
        // bound but the retries); when it ends, the query reports what it has.
        std::chrono::milliseconds total{ 0 };
        // Queries running at once, and datagrams sent a second (bursts of a
        // few dozen are let through at once).
        int inFlight = 256;
        int sendRate = 1000;
    };

    explicit GameQuery(QObject* parent = nullptr);
    // Ends every running query without calling back.
    ~GameQuery() override;

    // For the queries started after it.
    void setLimits(Limits limits);

    // Starts a query for the parts (QueryInfo is always included) and returns
    // its id. done runs once, later, from the event loop.
    std::uint64_t query(const GameAddress& address, unsigned parts, Done done);
    // Ends a running query without calling back; an unknown id is ignored.
    void cancel(std::uint64_t id);
    void cancelAll();
    // Queries not ended yet, those waiting their turn included.
    int running() const;

private:
    class Private;
    std::unique_ptr<Private> d;
};

// --- remote console ---------------------------------------------------------

struct RconResult
{
    enum class Kind {
        Ok,
        BadPassword, // "Bad rcon_password." (never retried on our own: the server bans after repeated failures)
        NoPassword, // the server has no rcon password set
        BadChallenge, // the server did not take our challenge
        Banned, // the server answers "You have been banned from this server."
        TimedOut, // no answer
        Refused, // refused before anything was sent (an argument that could start another command)
        Failed, // the address could not be used
        Cancelled,
    };
    Kind kind = Kind::Ok;
    // The console's output, the print packets joined in the order they came.
    std::string output;
    // Set when the output was cut at the size or time bound.
    bool truncated = false;
    // Set when the output was known complete by the end marker the client
    // sends after the command (an `echo` the server answers in order), not by
    // a quiet time after its last packet (the marker was lost).
    bool endMarker = false;
    // For the user, when not Ok: what failed and why.
    std::string message;
    // From sending the command to its last output.
    std::chrono::milliseconds elapsed{ 0 };

    bool ok() const { return kind == Kind::Ok; }
};

// The remote console of one server. Commands run one after another in the
// order given; the output of each is collected until it is known to be
// complete, bounded in time and size.
class RconClient final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RconClient)

public:
    using Done = std::function<void(const RconResult& result)>;

    static constexpr std::size_t kMaxOutputBytes = 1024 * 1024;

    explicit RconClient(QObject* parent = nullptr);
    // Ends the running and queued commands without calling back.
    ~RconClient() override;

    // A different address cancels the running and queued commands.
    void setAddress(const GameAddress& address);
    // A new password (or address) forgets what was known about the old one.
    // The same password set again is not new: once refused, it is not sent
    // again (the server bans after repeated wrong passwords).
    void setPassword(const std::string& password);
    // The time a command may take in all (default 10 s).
    void setTimeout(std::chrono::milliseconds timeout);

    // Runs one command line as typed by the user (passed to the console as it
    // is; a line end or a zero byte in it is refused).
    void execute(const std::string& commandLine, Done done);
    // Ends the running and queued commands; each gets Cancelled.
    void cancel();
    bool isBusy() const;

    // Sends one command line at once, before returning, and forgets its
    // output: the last word of a console that goes with no event loop left
    // to wait in (the program ends). A UDP send does not block. It sends only
    // when the server's challenge is already known, the password was taken by
    // the server and no command runs or waits (cancel() first); true when
    // the datagram left, false when nothing was sent (also for a line
    // execute() would refuse).
    bool sendNow(const std::string& commandLine);

private:
    class Private;
    std::unique_ptr<Private> d;
};

// --- console commands built from the user's input -----------------------------

// Why a text cannot be built into a console command (it could end the command
// or start another: a double quote, a semicolon, a line end, a control
// character), as a message for the user; nothing when it can.
std::optional<std::string> consoleArgumentProblem(std::string_view text);

// The commands the program builds. Each raises velth::Error with the message
// of consoleArgumentProblem() for an argument it cannot take.
std::string kickCommand(int userId, std::string_view reason = {});
// minutes 0: for good. Both also write the ban list, so it outlives a restart.
std::vector<std::string> banSteamIdCommands(std::string_view steamId, int minutes);
std::vector<std::string> banAddressCommands(std::string_view address, int minutes);
std::string changeLevelCommand(std::string_view map);
std::string sayCommand(std::string_view message);
// "exec server.cfg"
std::string execConfigCommand();

// --- what a command's output says of its outcome ------------------------------

// The engine has no error codes: a command's outcome is in what its console
// prints, and for several commands (kick, say, banid, addip) success prints
// nothing at all.
struct CommandOutcome
{
    enum class Kind {
        Done, // the engine's answer for success
        Failed, // the engine printed one of its failure texts for this command
        Unknown, // neither: a command this reading does not know, text it does not expect, or a
                 // command the engine answers alike either way (kick prints nothing both when it
                 // kicks and when nobody has that user id)
    };
    Kind kind = Kind::Unknown;
    // Failed: the engine's failure line; Done and Unknown: what the server printed
    // (both without surrounding blanks; empty when it printed nothing).
    std::string text;

    bool operator==(const CommandOutcome&) const = default;
};

// Reads the outcome of one command line (as sent to the console; its first
// word names the command, in any case) from the console's output for it
// (RconResult::output: 8-bit text, "\n" line ends, no end marker). Failure
// texts count only where they name this command's own argument, so that an
// `exec` whose config runs another command that fails is still Done.
CommandOutcome commandOutcome(std::string_view commandLine, std::string_view output);

// --- the console's `status` -------------------------------------------------

struct StatusPlayer
{
    int slot = 0;
    std::string name;
    int userId = 0;
    std::string uniqueId; // "STEAM_0:1:12345", "BOT", "VALVE_ID_LAN", ...
    int frags = 0;
    int seconds = 0;
    int ping = 0;
    int loss = 0;
    std::string address; // "1.2.3.4:27005"; empty for bots
    bool bot() const { return uniqueId == "BOT"; }
};

struct StatusReport
{
    std::string hostname;
    std::string version;
    std::string address;
    std::string map;
    int activePlayers = 0;
    int maxPlayers = 0;
    std::vector<StatusPlayer> players;
};

// Reads the output of `status` as the engine prints it; lines it does not
// know are skipped, a player row it cannot read is left out.
StatusReport parseStatus(std::string_view output);

} // namespace velth
