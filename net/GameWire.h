#pragma once

#include "net/GameServer.h"

#include <QByteArray>
#include <QHostAddress>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The datagrams of the game server's UDP protocols, for GameQuery and
// RconClient: what they send and how they read what comes back. Every reader
// takes any bytes: a field cut short ends the reading, a count is never
// trusted over the data that is there, and nothing grows past the datagram.

namespace velth::gamewire {

// A datagram that is not split starts with these four bytes; a GoldSrc split part with FE FF FF FF.
inline constexpr std::string_view kPrefix{ "\xFF\xFF\xFF\xFF", 4 };
inline constexpr std::string_view kSplitPrefix{ "\xFE\xFF\xFF\xFF", 4 };

// The largest datagram read, and the largest reply a split may join to.
inline constexpr std::size_t kMaxDatagram = 65536;
inline constexpr std::size_t kMaxJoinedReply = 64 * 1024;
// A split header holds the number of parts in four bits.
inline constexpr int kMaxSplitParts = 15;
// Lists longer than any server holds are cut here.
inline constexpr std::size_t kMaxPlayers = 256;
inline constexpr std::size_t kMaxRules = 4096;

// Reads little-endian fields and NUL-terminated strings from a datagram.
class Reader
{
public:
    explicit Reader(std::string_view data)
        : m_data(data)
    { }

    bool atEnd() const { return m_pos >= m_data.size(); }
    std::size_t remaining() const { return m_data.size() - m_pos; }

    std::optional<std::uint8_t> byte();
    std::optional<std::int16_t> int16();
    std::optional<std::int32_t> int32();
    std::optional<float> float32();
    // Up to the next zero byte; nothing when the data ends first (the string
    // was cut short).
    std::optional<std::string> string();
    // Up to the next zero byte or the end of the data.
    std::string lenientString();

private:
    std::string_view m_data;
    std::size_t m_pos = 0;
};

// What the server sends first after the four FF bytes.
enum class ReplyType : char {
    InfoSource = 'I',
    InfoGoldSrc = 'm',
    Challenge = 'A',
    Players = 'D',
    Rules = 'E',
    Print = 'l',
};

QByteArray infoRequest(const std::optional<QByteArray>& challenge);
// 'U' (players) or 'V' (rules) with a four-byte challenge (FF FF FF FF asks for one).
QByteArray challengedRequest(char type, const QByteArray& challenge);

// The bodies after the type byte. An info reply needs its name; the rest is
// read as far as it goes.
std::optional<GameServerInfo> parseSourceInfo(std::string_view body);
std::optional<GameServerInfo> parseGoldSrcInfo(std::string_view body);
std::vector<GamePlayer> parsePlayers(std::string_view body);
GameRules parseRules(std::string_view body);

// The text of a print packet's body ('l' + text + NUL + NUL), without the zero bytes.
std::string printText(std::string_view body);
// The server's ban notice ("You have been banned from this server.").
bool isBanNotice(std::string_view text);
// The notice as one line, for messages.
std::string noticeLine(std::string_view text);

// The GoldSrc split reply of one query: parts of one request id are joined
// once all have come. A part whose header is impossible (no parts, an index
// past the count, a count that changes) or that would join past
// kMaxJoinedReply is dropped; so is a part of an older request id than the
// newest seen, and a duplicate. A newer request id replaces an unfinished
// older one, as the engine does.
class SplitAssembler
{
public:
    // Takes one split datagram (with its FE FF FF FF prefix); returns the
    // joined reply once complete.
    std::optional<std::string> add(std::string_view datagram);

private:
    std::optional<std::int32_t> m_id;
    bool m_finished = false; // the newest id was joined or given up
    std::vector<std::optional<std::string>> m_parts;
    std::size_t m_bytes = 0;
};

// A numeric address in the text, without a name lookup.
std::optional<QHostAddress> numericAddress(const std::string& host);

// The sender is exactly the address and port asked.
bool sameEndpoint(const QHostAddress& sender, quint16 senderPort, const QHostAddress& target, quint16 targetPort);

} // namespace velth::gamewire
