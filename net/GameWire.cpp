#include "net/GameWire.h"

#include <algorithm>
#include <cstring>

namespace velth::gamewire {

std::optional<std::uint8_t> Reader::byte()
{
    if (remaining() < 1)
        return std::nullopt;
    return static_cast<std::uint8_t>(m_data[m_pos++]);
}

std::optional<std::int16_t> Reader::int16()
{
    if (remaining() < 2)
        return std::nullopt;
    const auto lo = static_cast<std::uint8_t>(m_data[m_pos]);
    const auto hi = static_cast<std::uint8_t>(m_data[m_pos + 1]);
    m_pos += 2;
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(lo | (hi << 8)));
}

std::optional<std::int32_t> Reader::int32()
{
    if (remaining() < 4)
        return std::nullopt;
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<std::uint8_t>(m_data[m_pos + static_cast<std::size_t>(i)]);
    m_pos += 4;
    return static_cast<std::int32_t>(value);
}

std::optional<float> Reader::float32()
{
    const auto bits = int32();
    if (!bits)
        return std::nullopt;
    float value = 0;
    static_assert(sizeof(value) == sizeof(*bits));
    std::memcpy(&value, &*bits, sizeof(value));
    return value;
}

std::optional<std::string> Reader::string()
{
    const std::size_t nul = m_data.find('\0', m_pos);
    if (nul == std::string_view::npos) {
        m_pos = m_data.size();
        return std::nullopt;
    }
    std::string text(m_data.substr(m_pos, nul - m_pos));
    m_pos = nul + 1;
    return text;
}

std::string Reader::lenientString()
{
    const std::size_t nul = m_data.find('\0', m_pos);
    const std::size_t end = nul == std::string_view::npos ? m_data.size() : nul;
    std::string text(m_data.substr(m_pos, end - m_pos));
    m_pos = nul == std::string_view::npos ? m_data.size() : nul + 1;
    return text;
}

QByteArray infoRequest(const std::optional<QByteArray>& challenge)
{
    static const char kQuery[] = "Source Engine Query";
    QByteArray request(kPrefix.data(), static_cast<qsizetype>(kPrefix.size()));
    request.append('T');
    request.append(kQuery, static_cast<qsizetype>(sizeof(kQuery))); // with its zero byte
    if (challenge)
        request.append(*challenge);
    return request;
}

QByteArray challengedRequest(char type, const QByteArray& challenge)
{
    QByteArray request(kPrefix.data(), static_cast<qsizetype>(kPrefix.size()));
    request.append(type);
    request.append(challenge);
    return request;
}

namespace {

char lowerType(std::uint8_t c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : static_cast<char>(c);
}

char environmentOf(std::uint8_t c)
{
    const char lower = lowerType(c);
    return lower == 'o' ? 'm' : lower; // 'o' and 'm' both mean macOS
}

// The name, map, folder and game that both info forms start with; false
// when the reply ends before the game's zero byte.
bool readNames(Reader& reader, GameServerInfo& info)
{
    for (std::string* field : { &info.name, &info.map, &info.folder, &info.game }) {
        std::optional<std::string> text = reader.string();
        if (!text)
            return false;
        *field = std::move(*text);
    }
    return true;
}

} // namespace

std::optional<GameServerInfo> parseSourceInfo(std::string_view body)
{
    Reader reader(body);
    GameServerInfo info;
    const auto protocol = reader.byte();
    if (!protocol)
        return std::nullopt;
    info.protocol = *protocol;
    if (!readNames(reader, info))
        return std::nullopt;
    const auto appId = reader.int16();
    const auto players = reader.byte();
    const auto maxPlayers = reader.byte();
    if (!appId || !players || !maxPlayers)
        return std::nullopt;
    info.players = *players;
    info.maxPlayers = *maxPlayers;
    const auto bots = reader.byte();
    const auto type = reader.byte();
    const auto environment = reader.byte();
    const auto visibility = reader.byte();
    const auto vac = reader.byte();
    if (!bots || !type || !environment || !visibility || !vac)
        return info;
    info.bots = *bots;
    info.serverType = lowerType(*type);
    info.environment = environmentOf(*environment);
    info.passworded = *visibility != 0;
    info.secure = *vac != 0;
    // The Ship (app 2400) puts three more bytes before the version.
    if (*appId == 2400) {
        reader.byte();
        reader.byte();
        reader.byte();
    }
    if (auto version = reader.string())
        info.version = std::move(*version);
    return info;
}

std::optional<GameServerInfo> parseGoldSrcInfo(std::string_view body)
{
    Reader reader(body);
    GameServerInfo info;
    info.goldSrcReply = true;
    const auto address = reader.string();
    if (!address)
        return std::nullopt;
    if (!readNames(reader, info))
        return std::nullopt;
    const auto players = reader.byte();
    const auto maxPlayers = reader.byte();
    if (!players || !maxPlayers)
        return std::nullopt;
    info.players = *players;
    info.maxPlayers = *maxPlayers;
    const auto protocol = reader.byte();
    const auto type = reader.byte();
    const auto environment = reader.byte();
    const auto visibility = reader.byte();
    const auto mod = reader.byte();
    if (!protocol)
        return info;
    info.protocol = *protocol;
    if (!type || !environment || !visibility || !mod)
        return info;
    info.serverType = lowerType(*type);
    info.environment = environmentOf(*environment);
    info.passworded = *visibility != 0;
    if (*mod != 0) {
        // link, download link, an empty string, version, size, server-only, own client DLL
        if (!reader.string() || !reader.string() || !reader.string() || !reader.int32() || !reader.int32()
            || !reader.byte() || !reader.byte())
            return info;
    }
    const auto vac = reader.byte();
    const auto bots = reader.byte();
    if (vac)
        info.secure = *vac != 0;
    if (bots)
        info.bots = *bots;
    return info;
}

std::vector<GamePlayer> parsePlayers(std::string_view body)
{
    Reader reader(body);
    std::vector<GamePlayer> players;
    // The count comes first, but the entries that are there are the list.
    if (!reader.byte())
        return players;
    while (!reader.atEnd() && players.size() < kMaxPlayers) {
        const auto index = reader.byte();
        auto name = reader.string();
        const auto score = reader.int32();
        const auto duration = reader.float32();
        if (!index || !name || !score || !duration)
            break;
        GamePlayer player;
        player.name = std::move(*name);
        player.score = *score;
        // NaN, infinities and negative times become 0.
        player.duration = *duration >= 0 && *duration < 1e9f ? *duration : 0.0f;
        players.push_back(std::move(player));
    }
    return players;
}

GameRules parseRules(std::string_view body)
{
    Reader reader(body);
    GameRules rules;
    if (!reader.int16())
        return rules;
    while (!reader.atEnd() && rules.size() < kMaxRules) {
        auto name = reader.string();
        auto value = reader.string();
        if (!name || !value)
            break;
        rules.emplace_back(std::move(*name), std::move(*value));
    }
    return rules;
}

std::string printText(std::string_view body)
{
    Reader reader(body);
    return reader.lenientString();
}

bool isBanNotice(std::string_view text)
{
    constexpr std::string_view kBanned = "You have been banned";
    return text.substr(0, kBanned.size()) == kBanned;
}

std::string noticeLine(std::string_view text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.remove_suffix(1);
    std::string line(text.substr(0, 200));
    for (char& c : line) {
        if (c == '\n' || c == '\r')
            c = ' ';
    }
    return line;
}

void SplitAssembler::forget(std::int32_t id)
{
    std::erase_if(m_answers, [id](const Answer& a) { return a.id == id; });
    m_ended.push_back(id);
    // Enough to know the ids of the answers kept, and a few more.
    if (m_ended.size() > 4 * kMaxAnswers)
        m_ended.erase(m_ended.begin());
}

std::optional<std::vector<std::string>> SplitAssembler::complete(const Answer& answer) const
{
    std::vector<const std::string*> joined(answer.parts.size(), nullptr);
    for (std::size_t i = 0; i < answer.parts.size(); ++i)
        joined[i] = answer.parts[i] ? &*answer.parts[i] : nullptr;
    auto whole = [&joined] { return std::all_of(joined.begin(), joined.end(), [](auto* p) { return p; }); };
    // The newest other answers first: they are the likeliest to agree.
    for (auto other = m_answers.rbegin(); other != m_answers.rend() && !whole(); ++other) {
        if (other->id == answer.id || other->parts.size() != joined.size())
            continue;
        bool shared = false;
        bool agree = true;
        for (std::size_t i = 0; i < joined.size() && agree; ++i) {
            if (joined[i] && other->parts[i]) {
                shared = true;
                agree = *joined[i] == *other->parts[i];
            }
        }
        if (!shared || !agree)
            continue;
        for (std::size_t i = 0; i < joined.size(); ++i) {
            if (!joined[i] && other->parts[i])
                joined[i] = &*other->parts[i];
        }
    }
    if (!whole())
        return std::nullopt;
    std::vector<std::string> parts;
    for (const std::string* p : joined)
        parts.push_back(*p);
    return parts;
}

std::optional<std::string> SplitAssembler::add(std::string_view datagram)
{
    if (datagram.size() < kSplitPrefix.size() + 5 || datagram.substr(0, kSplitPrefix.size()) != kSplitPrefix)
        return std::nullopt;
    Reader reader(datagram.substr(kSplitPrefix.size()));
    const std::int32_t id = *reader.int32();
    const std::uint8_t header = *reader.byte();
    const int count = header & 0x0f;
    const int index = header >> 4;
    const std::string_view payload = datagram.substr(kSplitPrefix.size() + 5);
    if (count == 0 || index >= count)
        return std::nullopt;
    if (std::find(m_ended.begin(), m_ended.end(), id) != m_ended.end())
        return std::nullopt;
    auto answer = std::find_if(m_answers.begin(), m_answers.end(), [id](const Answer& a) { return a.id == id; });
    if (answer == m_answers.end()) {
        if (m_answers.size() >= kMaxAnswers)
            m_answers.erase(m_answers.begin());
        m_answers.push_back(Answer{ id, std::vector<std::optional<std::string>>(static_cast<std::size_t>(count)), 0 });
        answer = m_answers.end() - 1;
    }
    if (answer->parts.size() != static_cast<std::size_t>(count))
        return std::nullopt;
    auto& part = answer->parts[static_cast<std::size_t>(index)];
    if (part)
        return std::nullopt;
    if (answer->bytes + payload.size() > kMaxJoinedReply) {
        // Too big to be a reply: this answer is given up; the query asks again.
        forget(id);
        return std::nullopt;
    }
    part = std::string(payload);
    answer->bytes += payload.size();
    const std::optional<std::vector<std::string>> parts = complete(*answer);
    if (!parts)
        return std::nullopt;
    std::string joined;
    for (const std::string& p : *parts)
        joined += p;
    if (joined.size() > kMaxJoinedReply)
        return std::nullopt;
    // The answers that agree with it are the same reply: none of them joins again.
    std::vector<std::int32_t> same;
    for (const Answer& other : m_answers) {
        bool agree = other.parts.size() == parts->size();
        for (std::size_t i = 0; agree && i < other.parts.size(); ++i)
            agree = !other.parts[i] || *other.parts[i] == (*parts)[i];
        if (agree)
            same.push_back(other.id);
    }
    for (const std::int32_t done : same)
        forget(done);
    return joined;
}

std::optional<QHostAddress> numericAddress(const std::string& host)
{
    QHostAddress address;
    if (address.setAddress(QString::fromStdString(host)))
        return address;
    return std::nullopt;
}

bool sameEndpoint(const QHostAddress& sender, quint16 senderPort, const QHostAddress& target, quint16 targetPort)
{
    return senderPort == targetPort && sender.isEqual(target, QHostAddress::TolerantConversion);
}

} // namespace velth::gamewire
