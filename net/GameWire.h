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

// The bodies after the type byte. An info reply needs everything up to its
// player counts (the name, map, folder and game each with its zero byte): one
// that ends before them was cut on the way and is nothing. The fields after
// the counts are read as far as they go.
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

// The GoldSrc split replies to one server's requests. The parts of one
// request id (one answer) are joined once all have come. A part whose header
// is impossible (no parts, an index past the count, a count that changes) or
// that would join past kMaxJoinedReply is dropped; so is a duplicate, and a
// part of an answer already joined or given up.
//
// The parts of a few earlier answers are kept (kMaxAnswers, the oldest goes
// first): a request asked again after a lost part gets a new answer with a
// new id, and an answer missing a part is completed from the parts of another
// only where the two have the same part count, share at least one part, and
// every part they share is byte-identical. Answers that disagree in a part,
// or that share none, are never mixed.
class SplitAssembler
{
public:
    static constexpr std::size_t kMaxAnswers = 4;

    // Takes one split datagram (with its FE FF FF FF prefix); returns the
    // joined reply once complete.
    std::optional<std::string> add(std::string_view datagram);

private:
    struct Answer
    {
        std::int32_t id = 0;
        std::vector<std::optional<std::string>> parts;
        std::size_t bytes = 0;
    };

    // The parts of the answer, completed from those that agree with it.
    std::optional<std::vector<std::string>> complete(const Answer& answer) const;
    void forget(std::int32_t id);

    std::vector<Answer> m_answers; // oldest first
    std::vector<std::int32_t> m_ended; // ids joined or given up, newest last
};

// A numeric address in the text, without a name lookup.
std::optional<QHostAddress> numericAddress(const std::string& host);

// The sender is exactly the address and port asked.
bool sameEndpoint(const QHostAddress& sender, quint16 senderPort, const QHostAddress& target, quint16 targetPort);

} // namespace velth::gamewire
