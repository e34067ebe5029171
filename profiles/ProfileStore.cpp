#include "profiles/ProfileStore.h"

#include "common/Error.h"
#include "common/FileIo.h"
#include "profiles/IniFile.h"

#include <charconv>

namespace velth {
namespace {

bool hasLineBreakOrNul(std::string_view s)
{
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

void checkWritable(std::string_view profile, std::string_view key, std::string_view value)
{
    if (profile.empty())
        throw Error("A server profile needs a name");
    if (hasLineBreakOrNul(profile) || profile.find_first_of("[]") != std::string_view::npos)
        throw Error("The server name \"" + std::string(profile)
            + "\" holds a line break or a square bracket and cannot be stored");
    if (key.empty() || hasLineBreakOrNul(key) || key.find('=') != std::string_view::npos)
        throw Error("Invalid settings key \"" + std::string(key) + "\"");
    if (hasLineBreakOrNul(value))
        throw Error("The value for " + std::string(key) + " holds a line break and cannot be stored");
}

} // namespace

std::optional<int> parseProfileInt(std::string_view text)
{
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    if (base == 10 && !text.empty() && text.front() == '+')
        text.remove_prefix(1);
    if (text.empty() || (base == 16 && text.front() == '-'))
        return std::nullopt;
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

ProfileStore::ProfileStore(std::string path)
    : m_path(std::move(path))
{ }

std::string ProfileStore::load() const
{
    // Reading never fails: an unreadable file reads like a missing one.
    try {
        return readFileIfExists(m_path).value_or(std::string());
    } catch (const Error&) {
        return {};
    }
}

void ProfileStore::save(const std::string& bytes)
{
    // The file holds passwords: only its owner may read a new one.
    writeFileAtomic(m_path, bytes, 0600);
}

std::vector<std::string> ProfileStore::profileNames() const
{
    std::vector<std::string> names = IniDocument(load()).sectionNames();
    // Zero-separated block of kNameListBytes bytes with a double zero at its end.
    std::size_t used = 0;
    const std::size_t room = kNameListBytes - 2;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (used + names[i].size() + 1 > room + 1) {
            const std::size_t keep = room > used ? room - used : 0;
            names[i].resize(keep);
            names.resize(keep > 0 ? i + 1 : i);
            break;
        }
        used += names[i].size() + 1;
    }
    return names;
}

std::vector<std::string> ProfileStore::allProfileNames() const
{
    return IniDocument(load()).sectionNames();
}

ProfileSection::ProfileSection(std::string name, IniDocument document)
    : m_name(std::move(name))
    , m_document(std::move(document))
{ }

std::string ProfileSection::readString(std::string_view key, std::string_view defaultValue) const
{
    auto value = m_document.value(m_name, key);
    std::string out = value ? std::move(*value) : std::string(defaultValue);
    if (out.size() > ProfileStore::kMaxValueLength)
        out.resize(ProfileStore::kMaxValueLength);
    return out;
}

int ProfileSection::readInt(std::string_view key, int defaultValue) const
{
    const auto value = m_document.value(m_name, key);
    if (!value)
        return defaultValue;
    return parseProfileInt(std::string_view(*value).substr(0, ProfileStore::kMaxValueLength)).value_or(defaultValue);
}

ProfileSection ProfileStore::readProfile(std::string_view profile) const
{
    return ProfileSection(std::string(profile), IniDocument(load()));
}

std::string ProfileStore::readString(
    std::string_view profile, std::string_view key, std::string_view defaultValue) const
{
    return readProfile(profile).readString(key, defaultValue);
}

int ProfileStore::readInt(std::string_view profile, std::string_view key, int defaultValue) const
{
    return readProfile(profile).readInt(key, defaultValue);
}

void ProfileStore::writeString(std::string_view profile, std::string_view key, std::string_view value)
{
    checkWritable(profile, key, value);
    auto current = readFileIfExists(m_path);
    IniDocument doc(current.value_or(std::string()));
    doc.setValue(profile, key, value);
    save(doc.bytes());
}

void ProfileStore::writeInt(std::string_view profile, std::string_view key, int value)
{
    writeString(profile, key, std::to_string(value));
}

void ProfileStore::eraseProfile(std::string_view profile)
{
    auto current = readFileIfExists(m_path);
    if (!current)
        return;
    IniDocument doc(*current);
    if (doc.eraseSection(profile))
        save(doc.bytes());
}

} // namespace velth
