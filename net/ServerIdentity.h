#pragma once

#include "profiles/ConnectionKind.h"
#include "profiles/ProfileStore.h"

#include <optional>
#include <string>
#include <string_view>

namespace velth {

// What identifies a server that the user accepted: the SHA-256 fingerprint of
// its TLS certificate or SSH host key, as the user was shown it, and for TLS
// libcurl's pin of the certificate's public key ("sha256//<base64>"), which
// lets the handshake refuse any other key before the login is sent.
struct ServerIdentity
{
    std::string fingerprint;
    std::string pin;

    bool operator==(const ServerIdentity&) const = default;
};

// A connect that met a server identity the profile has not accepted: the
// identity the server showed, and whether it differs from one accepted
// earlier (then it is never offered for acceptance).
struct IdentityProblem
{
    ServerIdentity presented;
    bool changed = false;
};

// SHA-256 of the bytes as upper-case hex pairs joined by ':', the way
// certificate viewers and "openssl x509 -fingerprint -sha256" show it.
std::string certificateFingerprint(std::string_view der);

// "SHA256:" and the unpadded base64 of SHA-256 of an SSH host key blob, the way
// OpenSSH shows host keys.
std::string hostKeyFingerprint(std::string_view keyBlob);

// The DER bytes of the first certificate of PEM text; nothing when there is
// none or its base64 is broken.
std::optional<std::string> certificateFromPem(std::string_view pem);

// The subjectPublicKeyInfo (DER, tag and length included) of an X.509
// certificate in DER; nothing when the bytes are not one. Reads only as far
// as that field, never past the given bytes.
std::optional<std::string> subjectPublicKeyInfo(std::string_view certificateDer);

// The identity of a certificate in DER: its fingerprint and its key's pin.
std::optional<ServerIdentity> certificateIdentity(std::string_view certificateDer);

// The servers whose certificate or host key the user accepted, per profile:
// an INI file in the program folder (one section per profile, one key per
// kind of identity, host and port: "tls://host:port" or "ssh://host:port").
// A profile's entry holds only for the host and port it was accepted for.
class KnownFingerprints
{
public:
    explicit KnownFingerprints(std::string path);

    const std::string& path() const { return m_store.path(); }

    std::optional<ServerIdentity> find(
        std::string_view profile, ConnectionKind kind, const std::string& host, int port) const;

    // Stores (or replaces) the accepted identity. Raises velth::Error naming
    // the file when it cannot be written, or for a host name the file cannot
    // hold ('=' or a line break).
    void remember(std::string_view profile, ConnectionKind kind, const std::string& host, int port,
        const ServerIdentity& identity);

    static constexpr std::string_view kFileName = "fingerprints.ini";

private:
    ProfileStore m_store;
};

// The message for a plain FTP failure whose active-mode data connection could
// not be made: the original text and where to choose passive mode.
std::string withPassiveModeHint(const std::string& message);

} // namespace velth
