#include "profiles/ServerProfile.h"

#include "profiles/ProfileStore.h"

namespace velth {

int readUdpPort(const ProfileSection& profile, std::string_view key, int defaultValue)
{
    const int port = profile.readInt(key, defaultValue);
    return port >= 1 && port <= 65535 ? port : defaultValue;
}

ServerProfile readServerProfile(const ProfileSection& profile)
{
    ServerProfile out;
    out.name = profile.name();
    out.ftp.kind = readConnectionKind(profile);
    out.ftp.host = profile.readString("HOST");
    out.ftp.port = profile.readInt("PORT", defaultPort(out.ftp.kind));
    out.ftp.user = profile.readString("USER");
    out.ftp.password = profile.readString("PASS");
    out.hlds = profile.readString("HLDS");
    out.rconPass = profile.readString("rconpass");
    out.serverPass = profile.readString("serverpass");
    out.storedGameHost = profile.readString(kGameHostKey);
    out.gamePort = readUdpPort(profile, kGamePortKey, kDefaultGamePort);
    out.logAddress = profile.readString(kLogAddressKey);
    out.logPort = readUdpPort(profile, kLogPortKey, kDefaultLogPort);
    out.stunServer = profile.readString(kStunServerKey, kDefaultStunServer);
    return out;
}

ServerProfile readServerProfile(const ProfileStore& store, std::string_view name)
{
    return readServerProfile(store.readProfile(name));
}

} // namespace velth
