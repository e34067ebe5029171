#include "net/StunBinding.h"

#include <QRandomGenerator>

#include <cstring>

namespace velth {
namespace {

constexpr std::uint16_t kBindingRequest = 0x0001;
constexpr std::uint16_t kBindingSuccess = 0x0101;
constexpr std::uint32_t kMagicCookie = 0x2112A442;
constexpr std::uint16_t kMappedAddress = 0x0001;
constexpr std::uint16_t kXorMappedAddress = 0x0020;
constexpr std::size_t kHeaderSize = 20;

std::uint16_t read16(std::string_view s, std::size_t at)
{
    return static_cast<std::uint16_t>((static_cast<unsigned char>(s[at]) << 8) | static_cast<unsigned char>(s[at + 1]));
}

std::uint32_t read32(std::string_view s, std::size_t at)
{
    return (std::uint32_t{ read16(s, at) } << 16) | read16(s, at + 2);
}

void put16(std::string& out, std::uint16_t v)
{
    out += static_cast<char>(v >> 8);
    out += static_cast<char>(v & 0xFF);
}

// MAPPED-ADDRESS and XOR-MAPPED-ADDRESS share their layout: a zero byte, the
// family (1 IPv4, 2 IPv6), the port, the address.
std::optional<StunMapped> readAddress(std::string_view value, bool xored, std::string_view header)
{
    if (value.size() < 8)
        return std::nullopt;
    const unsigned family = static_cast<unsigned char>(value[1]);
    quint16 port = read16(value, 2);
    if (xored)
        port ^= static_cast<quint16>(kMagicCookie >> 16);
    StunMapped out;
    out.port = port;
    if (family == 1 && value.size() == 8) {
        std::uint32_t ip = read32(value, 4);
        if (xored)
            ip ^= kMagicCookie;
        out.address = QHostAddress(ip);
    } else if (family == 2 && value.size() == 20) {
        Q_IPV6ADDR ip;
        for (int i = 0; i < 16; ++i) {
            // The cookie and the transaction id: the header's bytes 4 to 19.
            const auto mask = xored ? static_cast<unsigned char>(header[4 + static_cast<std::size_t>(i)]) : 0;
            ip.c[i] = static_cast<quint8>(static_cast<unsigned char>(value[4 + static_cast<std::size_t>(i)]) ^ mask);
        }
        out.address = QHostAddress(ip);
    } else {
        return std::nullopt;
    }
    if (out.port == 0 || out.address.isNull())
        return std::nullopt;
    return out;
}

} // namespace

std::string stunBindingRequest(const StunTransactionId& id)
{
    std::string out;
    out.reserve(kHeaderSize);
    put16(out, kBindingRequest);
    put16(out, 0);
    put16(out, static_cast<std::uint16_t>(kMagicCookie >> 16));
    put16(out, static_cast<std::uint16_t>(kMagicCookie & 0xFFFF));
    out.append(reinterpret_cast<const char*>(id.data()), id.size());
    return out;
}

std::optional<StunMapped> readStunBindingResponse(std::string_view datagram, const StunTransactionId& id)
{
    if (datagram.size() < kHeaderSize || read16(datagram, 0) != kBindingSuccess || read32(datagram, 4) != kMagicCookie
        || std::memcmp(datagram.data() + 8, id.data(), id.size()) != 0)
        return std::nullopt;
    const std::size_t length = read16(datagram, 2);
    if (length % 4 != 0 || kHeaderSize + length != datagram.size())
        return std::nullopt;
    const std::string_view header = datagram.substr(0, kHeaderSize);
    std::optional<StunMapped> plain;
    std::size_t at = kHeaderSize;
    while (at + 4 <= datagram.size()) {
        const std::uint16_t type = read16(datagram, at);
        const std::size_t size = read16(datagram, at + 2);
        if (at + 4 + size > datagram.size())
            return std::nullopt;
        const std::string_view value = datagram.substr(at + 4, size);
        if (type == kXorMappedAddress)
            return readAddress(value, true, header);
        if (type == kMappedAddress && !plain)
            plain = readAddress(value, false, header);
        // Values are padded to four bytes.
        at += 4 + (size + 3) / 4 * 4;
    }
    return plain;
}

StunTransactionId newStunTransactionId()
{
    StunTransactionId id;
    QRandomGenerator* random = QRandomGenerator::system();
    for (unsigned char& byte : id)
        byte = static_cast<unsigned char>(random->bounded(256));
    return id;
}

} // namespace velth
