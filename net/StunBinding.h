#pragma once

#include <QHostAddress>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velth {

// The STUN binding request and response (RFC 8489) the live log uses to learn
// the address and port a router gives the receiver's socket: nothing more of
// STUN (no authentication, no TURN).

// The port a STUN server listens on unless its address says otherwise.
inline constexpr quint16 kDefaultStunPort = 3478;

using StunTransactionId = std::array<unsigned char, 12>;

// A binding request with this transaction id: 20 bytes, no attributes.
std::string stunBindingRequest(const StunTransactionId& id);

struct StunMapped
{
    QHostAddress address;
    quint16 port = 0;
};

// Reads a datagram as the success response to the request with `id`: the
// header's type, length, magic cookie and transaction id must all fit, then
// XOR-MAPPED-ADDRESS (or, from a server that sends only that, MAPPED-ADDRESS)
// gives the address. Anything else, an error response included, gives nothing.
// Attributes are walked within the datagram's length only.
std::optional<StunMapped> readStunBindingResponse(std::string_view datagram, const StunTransactionId& id);

// A fresh, unpredictable transaction id.
StunTransactionId newStunTransactionId();

} // namespace velth
