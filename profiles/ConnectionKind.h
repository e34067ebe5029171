#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace velth {

class ProfileSection;
class ProfileStore;

// How a profile reaches its server. Plain FTP in active mode is what a profile
// without the key uses; the secure kinds always use passive data connections.
enum class ConnectionKind {
    FtpActive,
    FtpPassive,
    FtpsExplicit, // "AUTH TLS" on the plain port, then everything encrypted
    FtpsImplicit, // TLS from the first byte
    Sftp, // SSH file transfer
};

inline constexpr std::array<ConnectionKind, 5> kConnectionKinds = { ConnectionKind::FtpActive,
    ConnectionKind::FtpPassive, ConnectionKind::FtpsExplicit, ConnectionKind::FtpsImplicit, ConnectionKind::Sftp };

// The profile key that holds the kind. Readers that know only the other keys
// ignore it, and a profile without it keeps working as plain active FTP.
inline constexpr std::string_view kConnectionKey = "CONNECTION";

// The value written for a kind ("ftp-active", "ftp-passive", "ftps-explicit",
// "ftps-implicit", "sftp").
std::string_view connectionKindValue(ConnectionKind kind);

// Reads a stored value without regard to letter case or surrounding blanks;
// an empty value is plain active FTP; anything else unknown gives nothing.
std::optional<ConnectionKind> parseConnectionKind(std::string_view value);

// The port a server of this kind listens on unless told otherwise.
int defaultPort(ConnectionKind kind);

bool usesTls(ConnectionKind kind);

// The profile's kind. A value the program does not know raises velth::Error
// naming it: a connection never falls back to clear text on its own.
ConnectionKind readConnectionKind(const ProfileStore& store, std::string_view profile);
ConnectionKind readConnectionKind(const ProfileSection& profile);

} // namespace velth
