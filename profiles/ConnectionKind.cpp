#include "profiles/ConnectionKind.h"

#include "common/Error.h"
#include "profiles/ProfileStore.h"

#include <algorithm>
#include <cctype>

namespace velth {

std::string_view connectionKindValue(ConnectionKind kind)
{
    switch (kind) {
    case ConnectionKind::FtpActive:
        return "ftp-active";
    case ConnectionKind::FtpPassive:
        return "ftp-passive";
    case ConnectionKind::FtpsExplicit:
        return "ftps-explicit";
    case ConnectionKind::FtpsImplicit:
        return "ftps-implicit";
    case ConnectionKind::Sftp:
        return "sftp";
    }
    return "ftp-active";
}

std::optional<ConnectionKind> parseConnectionKind(std::string_view value)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!value.empty() && blank(value.front()))
        value.remove_prefix(1);
    while (!value.empty() && blank(value.back()))
        value.remove_suffix(1);
    if (value.empty())
        return ConnectionKind::FtpActive;
    std::string lower(value);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    for (const ConnectionKind kind : kConnectionKinds) {
        if (lower == connectionKindValue(kind))
            return kind;
    }
    return std::nullopt;
}

int defaultPort(ConnectionKind kind)
{
    switch (kind) {
    case ConnectionKind::FtpsImplicit:
        return 990;
    case ConnectionKind::Sftp:
        return 22;
    case ConnectionKind::FtpActive:
    case ConnectionKind::FtpPassive:
    case ConnectionKind::FtpsExplicit:
        break;
    }
    return 21;
}

bool usesTls(ConnectionKind kind)
{
    return kind == ConnectionKind::FtpsExplicit || kind == ConnectionKind::FtpsImplicit;
}

ConnectionKind readConnectionKind(const ProfileStore& store, std::string_view profile)
{
    return readConnectionKind(store.readProfile(profile));
}

ConnectionKind readConnectionKind(const ProfileSection& profile)
{
    const std::string value = profile.readString(kConnectionKey, "");
    if (const std::optional<ConnectionKind> kind = parseConnectionKind(value))
        return *kind;
    throw Error("The profile " + profile.name() + " names an unknown connection \"" + value
        + "\" (choose one under Connection on the Settings page)");
}

} // namespace velth
