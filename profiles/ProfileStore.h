#pragma once

#include "profiles/IniFile.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velth {

// One profile's keys as the file held them when the store read it: asked key
// by key with the store's own reading rules, it never reads the file again,
// so a change written meanwhile cannot mix into what it gives.
class ProfileSection
{
public:
    ProfileSection() = default;

    const std::string& name() const { return m_name; }

    // As ProfileStore::readString and readInt, from the bytes read then.
    std::string readString(std::string_view key, std::string_view defaultValue = {}) const;
    int readInt(std::string_view key, int defaultValue) const;

private:
    friend class ProfileStore;
    ProfileSection(std::string name, IniDocument document);

    std::string m_name;
    IniDocument m_document;
};

// The server profiles: one INI file, one section per profile. Every call is a
// complete access to the file; nothing is cached between calls. Names, keys
// and values are 8-bit byte strings, written and read as they stand.
class ProfileStore
{
public:
    explicit ProfileStore(std::string path);

    const std::string& path() const { return m_path; }

    // Section names in file order. The list is read as the platform reads it:
    // one block of at most 16,384 bytes, each name followed by a zero byte, the
    // last name cut short at that limit. A missing file gives an empty list.
    std::vector<std::string> profileNames() const;

    // Every section name in file order, however long the list.
    std::vector<std::string> allProfileNames() const;

    // One read of the file for all of a profile's keys (a missing file or
    // section gives a section whose every key reads as its default).
    ProfileSection readProfile(std::string_view profile) const;

    // The key's value, cut to 2,047 bytes, or the default when the file,
    // section or key is missing. Never throws for a missing file.
    std::string readString(std::string_view profile, std::string_view key, std::string_view defaultValue = {}) const;

    // Decimal, or hexadecimal after "0x"/"0X" when longer than two characters;
    // anything that is not an integer gives the default.
    int readInt(std::string_view profile, std::string_view key, int defaultValue) const;

    // Write one key. The file is replaced as a whole through a temporary file
    // (through to its target when it is a symbolic link), created with mode
    // 0600 and keeping the mode of an existing file; a write-protected file is
    // refused. On failure the previous file stays intact and velth::Error names it.
    // A name, key or value holding a line break or a zero byte, a name holding
    // '[' or ']', and an empty name or key are refused with velth::Error and
    // nothing is written.
    void writeString(std::string_view profile, std::string_view key, std::string_view value);
    void writeInt(std::string_view profile, std::string_view key, int value);

    // Removes the profile's section. A missing section or file changes nothing.
    void eraseProfile(std::string_view profile);

    static constexpr std::size_t kMaxValueLength = 2047;
    static constexpr std::size_t kNameListBytes = 16384;

private:
    std::string load() const;
    void save(const std::string& bytes);

    std::string m_path;
};

// Parses an integer value by the store's rules; nullopt when it is none.
std::optional<int> parseProfileInt(std::string_view text);

} // namespace velth
