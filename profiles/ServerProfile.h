#pragma once

#include "profiles/ConnectionKind.h"

#include <string>
#include <string_view>

namespace velth {

class ProfileSection;
class ProfileStore;

// Where and how a profile's file server is reached: what the FTP client
// needs for a connect, all of it from one read of the profile.
struct FtpServerData
{
    ConnectionKind kind = ConnectionKind::FtpActive;
    std::string host;
    int port = 21;
    std::string user;
    std::string password;

    bool operator==(const FtpServerData&) const = default;
};

// The keys of a profile beyond its FTP login. Readers that know only the
// older keys ignore them, and a profile without them keeps its defaults.
inline constexpr std::string_view kGameHostKey = "GAMEHOST";
inline constexpr std::string_view kGamePortKey = "GAMEPORT";
inline constexpr std::string_view kLogAddressKey = "LOGADDRESS";
inline constexpr std::string_view kLogPortKey = "LOGPORT";
inline constexpr std::string_view kStunServerKey = "STUNSERVER";

// The game server's UDP port, and the one the program listens on for the
// server's live log, unless the profile says otherwise.
inline constexpr int kDefaultGamePort = 27015;
inline constexpr int kDefaultLogPort = 27500;
// The STUN server that tells the live log its address behind a router, when
// the profile has no STUNSERVER key (a key with no value turns STUN off).
inline constexpr std::string_view kDefaultStunServer = "stun.l.google.com:19302";

// One profile as the file held it at one moment. An action reads it once
// and uses only this value, so a profile saved or edited in the file while
// the action runs cannot mix old and new keys into it.
struct ServerProfile
{
    std::string name;
    FtpServerData ftp;
    // HLDS: the game server's installation path on the FTP account.
    std::string hlds;
    // rconpass and serverpass, as the CFG updater page last uploaded them.
    std::string rconPass;
    std::string serverPass;
    // GAMEHOST as stored: empty means the game server runs on the FTP host.
    std::string storedGameHost;
    int gamePort = kDefaultGamePort;
    // LOGADDRESS: where the game server sends its live log; empty means the
    // program picks its own address on the route to the server.
    std::string logAddress;
    int logPort = kDefaultLogPort;
    // STUNSERVER: "host" or "host:port" of the STUN server asked for this
    // computer's address as the internet sees it; empty: none is asked.
    std::string stunServer{ kDefaultStunServer };

    // The game server's address: GAMEHOST, or HOST when that is empty.
    const std::string& gameHost() const { return storedGameHost.empty() ? ftp.host : storedGameHost; }
};

// Reads the profile with one access to the file. Missing keys give their
// defaults: PORT the kind's usual port (21 for plain FTP and explicit TLS),
// GAMEPORT 27015, LOGPORT 27500, STUNSERVER kDefaultStunServer, every other
// text empty. A CONNECTION value the
// program does not know raises velth::Error naming it, so a connection never
// falls back to clear text on its own.
ServerProfile readServerProfile(const ProfileStore& store, std::string_view name);
ServerProfile readServerProfile(const ProfileSection& profile);

// A UDP port key (GAMEPORT, LOGPORT): read by the rules of PORT, and a value
// outside 1 to 65535 reads as the default too, so every port given out can
// be used as it stands.
int readUdpPort(const ProfileSection& profile, std::string_view key, int defaultValue);

} // namespace velth
