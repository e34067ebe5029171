#include "net/ServerIdentity.h"

#include "common/Error.h"

#include <QByteArray>
#include <QCryptographicHash>

namespace velth {
namespace {

QByteArray sha256(std::string_view bytes)
{
    return QCryptographicHash::hash(
        QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())), QCryptographicHash::Sha256);
}

// One DER element: where its contents start and how long they are.
struct Element
{
    unsigned char tag = 0;
    std::size_t start = 0; // of the tag
    std::size_t contents = 0;
    std::size_t length = 0;
    std::size_t end() const { return contents + length; }
};

// Reads the element at pos inside [pos, limit); nothing when it overruns.
std::optional<Element> readElement(std::string_view der, std::size_t pos, std::size_t limit)
{
    if (pos + 2 > limit)
        return std::nullopt;
    Element e;
    e.start = pos;
    e.tag = static_cast<unsigned char>(der[pos]);
    const auto first = static_cast<unsigned char>(der[pos + 1]);
    pos += 2;
    if ((e.tag & 0x1f) == 0x1f)
        return std::nullopt; // multi-byte tags are not used by certificates
    std::size_t length = first;
    if (first & 0x80) {
        const std::size_t count = first & 0x7f;
        if (count == 0 || count > 4 || pos + count > limit)
            return std::nullopt;
        length = 0;
        for (std::size_t i = 0; i < count; ++i)
            length = (length << 8) | static_cast<unsigned char>(der[pos + i]);
        pos += count;
    }
    if (length > limit - pos)
        return std::nullopt;
    e.contents = pos;
    e.length = length;
    return e;
}

std::string familyKey(ConnectionKind kind, const std::string& host, int port)
{
    return std::string(kind == ConnectionKind::Sftp ? "ssh://" : "tls://") + host + ":" + std::to_string(port);
}

} // namespace

std::string certificateFingerprint(std::string_view der)
{
    const QByteArray hex = sha256(der).toHex(':').toUpper();
    return std::string(hex.constData(), static_cast<std::size_t>(hex.size()));
}

std::string hostKeyFingerprint(std::string_view keyBlob)
{
    const QByteArray b64 = sha256(keyBlob).toBase64(QByteArray::OmitTrailingEquals);
    return "SHA256:" + std::string(b64.constData(), static_cast<std::size_t>(b64.size()));
}

std::optional<std::string> certificateFromPem(std::string_view pem)
{
    constexpr std::string_view begin = "-----BEGIN CERTIFICATE-----";
    constexpr std::string_view end = "-----END CERTIFICATE-----";
    const std::size_t from = pem.find(begin);
    if (from == std::string_view::npos)
        return std::nullopt;
    const std::size_t to = pem.find(end, from);
    if (to == std::string_view::npos)
        return std::nullopt;
    const std::string_view body = pem.substr(from + begin.size(), to - from - begin.size());
    QByteArray text;
    for (const char c : body) {
        if (c != '\r' && c != '\n' && c != ' ' && c != '\t')
            text.append(c);
    }
    const auto decoded = QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.isEmpty())
        return std::nullopt;
    return std::string(decoded.decoded.constData(), static_cast<std::size_t>(decoded.decoded.size()));
}

std::optional<std::string> subjectPublicKeyInfo(std::string_view der)
{
    // Certificate ::= SEQUENCE { tbsCertificate SEQUENCE { [0] version
    // (optional), serialNumber, signature, issuer, validity, subject,
    // subjectPublicKeyInfo, ... }, ... }
    const auto certificate = readElement(der, 0, der.size());
    if (!certificate || certificate->tag != 0x30)
        return std::nullopt;
    const auto tbs = readElement(der, certificate->contents, certificate->end());
    if (!tbs || tbs->tag != 0x30)
        return std::nullopt;
    std::size_t pos = tbs->contents;
    auto field = readElement(der, pos, tbs->end());
    if (field && field->tag == 0xa0) {
        pos = field->end();
        field = readElement(der, pos, tbs->end());
    }
    // serialNumber, signature, issuer, validity, subject
    const unsigned char skipped[] = { 0x02, 0x30, 0x30, 0x30, 0x30 };
    for (const unsigned char tag : skipped) {
        if (!field || field->tag != tag)
            return std::nullopt;
        pos = field->end();
        field = readElement(der, pos, tbs->end());
    }
    if (!field || field->tag != 0x30)
        return std::nullopt;
    return std::string(der.substr(field->start, field->end() - field->start));
}

std::optional<ServerIdentity> certificateIdentity(std::string_view certificateDer)
{
    const std::optional<std::string> spki = subjectPublicKeyInfo(certificateDer);
    if (!spki)
        return std::nullopt;
    const QByteArray pin = sha256(*spki).toBase64();
    return ServerIdentity{ certificateFingerprint(certificateDer),
        "sha256//" + std::string(pin.constData(), static_cast<std::size_t>(pin.size())) };
}

KnownFingerprints::KnownFingerprints(std::string path)
    : m_store(std::move(path))
{ }

std::optional<ServerIdentity> KnownFingerprints::find(
    std::string_view profile, ConnectionKind kind, const std::string& host, int port) const
{
    if (host.find('=') != std::string::npos)
        return std::nullopt;
    const std::string value = m_store.readString(profile, familyKey(kind, host, port), "");
    if (value.empty())
        return std::nullopt;
    const std::size_t space = value.find(' ');
    ServerIdentity identity{ value.substr(0, space),
        space == std::string::npos ? std::string() : value.substr(space + 1) };
    // A TLS entry without its pin cannot be checked during the handshake.
    if (kind != ConnectionKind::Sftp && identity.pin.empty())
        return std::nullopt;
    return identity;
}

void KnownFingerprints::remember(
    std::string_view profile, ConnectionKind kind, const std::string& host, int port, const ServerIdentity& identity)
{
    if (host.find('=') != std::string::npos)
        throw Error("Cannot remember the fingerprint of " + host + ": the host name holds '='");
    m_store.writeString(profile, familyKey(kind, host, port),
        identity.pin.empty() ? identity.fingerprint : identity.fingerprint + " " + identity.pin);
}

std::string withPassiveModeHint(const std::string& message)
{
    return message
        + " (the server could not open the data connection in active mode; passive mode may help: choose "
          "\"FTP, passive mode\" under Connection on the Settings page)";
}

} // namespace velth
