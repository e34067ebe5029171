#include "net/CurlConnection.h"

#include <memory>

namespace velth {
namespace {

// A pin no key hashes to: the probe's handshake stops at it, after the
// certificate was read and before anything else is sent.
constexpr const char* kUnmatchablePin = "sha256//AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=";

int onHostKey(void* userp, int, const char* key, size_t length)
{
    auto* check = static_cast<HostKeyCheck*>(userp);
    check->seen = hostKeyFingerprint(std::string_view(key, length));
    if (check->answered)
        *check->answered = true;
    return !check->expected.empty() && check->seen == check->expected ? CURLKHMATCH_OK : CURLKHMATCH_MISMATCH;
}

} // namespace

std::string sftpPath(const std::string& folder, const std::string& name)
{
    std::string path = !folder.empty() && folder.front() == '/' ? folder : "/~/" + folder;
    if (!folder.empty() && path.back() != '/')
        path += '/';
    return path + name;
}

std::optional<std::string> connectionUrl(const ConnectionTarget& target, const std::string& path)
{
    std::string host = target.host;
    if (host.find(':') != std::string::npos && host.front() != '[')
        host = "[" + host + "]";
    const char* scheme = "ftp";
    if (target.kind == ConnectionKind::FtpsImplicit)
        scheme = "ftps";
    else if (target.kind == ConnectionKind::Sftp)
        scheme = "sftp";
    const std::string fullPath = target.kind == ConnectionKind::Sftp ? path : "/" + path;
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> url(curl_url(), &curl_url_cleanup);
    char* text = nullptr;
    const bool ok = url && curl_url_set(url.get(), CURLUPART_SCHEME, scheme, 0) == CURLUE_OK
        && curl_url_set(url.get(), CURLUPART_HOST, host.c_str(), 0) == CURLUE_OK
        && curl_url_set(url.get(), CURLUPART_PORT, std::to_string(target.port).c_str(), 0) == CURLUE_OK
        && curl_url_set(url.get(), CURLUPART_PATH, fullPath.c_str(), CURLU_URLENCODE) == CURLUE_OK
        && curl_url_get(url.get(), CURLUPART_URL, &text, 0) == CURLUE_OK;
    std::optional<std::string> result;
    if (ok)
        result = text;
    curl_free(text);
    return result;
}

void applyConnectionKind(CURL* easy, const ConnectionTarget& target, HostKeyCheck* check)
{
    curl_easy_setopt(easy, CURLOPT_USERNAME, target.user.c_str());
    curl_easy_setopt(easy, CURLOPT_PASSWORD, target.password.c_str());
    switch (target.kind) {
    case ConnectionKind::FtpActive:
        // Active mode from the control connection's local address, with PORT
        // (libcurl still uses EPRT where the address is IPv6).
        curl_easy_setopt(easy, CURLOPT_FTPPORT, "-");
        curl_easy_setopt(easy, CURLOPT_FTP_USE_EPRT, 0L);
        break;
    case ConnectionKind::FtpPassive:
    case ConnectionKind::FtpsExplicit:
    case ConnectionKind::FtpsImplicit:
        // Passive: the client opens every connection, which works through
        // NAT and with TLS. The address in a PASV reply is ignored in favour
        // of the control connection's (servers behind NAT name a private one).
        curl_easy_setopt(easy, CURLOPT_FTPPORT, nullptr);
        curl_easy_setopt(easy, CURLOPT_FTP_SKIP_PASV_IP, 1L);
        break;
    case ConnectionKind::Sftp:
        break;
    }
    if (usesTls(target.kind)) {
        curl_easy_setopt(easy, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
        // FTP servers take a TLS data connection only when it resumes the
        // control connection's session (proftpd's and vsftpd's default). Over
        // TLS 1.3 libcurl resumes it for the first data connection only, so
        // every later transfer on a kept connection was refused: TLS 1.2,
        // whose resumed sessions keep the control connection's, it is.
        curl_easy_setopt(easy, CURLOPT_SSLVERSION,
            static_cast<long>(CURL_SSLVERSION_TLSv1_2) | static_cast<long>(CURL_SSLVERSION_MAX_TLSv1_2));
        if (target.trusted) {
            // The user accepted this server's certificate although nothing
            // vouches for it: only its public key may answer.
            curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
            curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
            curl_easy_setopt(easy, CURLOPT_PINNEDPUBLICKEY, target.trusted->pin.c_str());
            curl_easy_setopt(easy, CURLOPT_CERTINFO, 1L);
        } else {
            curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
            curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
        }
    }
    if (target.kind == ConnectionKind::Sftp && check) {
        check->expected = target.trusted ? target.trusted->fingerprint : std::string();
        check->seen.clear();
        curl_easy_setopt(
            easy, CURLOPT_SSH_AUTH_TYPES, static_cast<long>(CURLSSH_AUTH_PASSWORD | CURLSSH_AUTH_KEYBOARD));
        // With a host key function set libcurl consults no known-hosts file
        // and accepts no key the function does not.
        curl_easy_setopt(easy, CURLOPT_SSH_HOSTKEYFUNCTION, &onHostKey);
        curl_easy_setopt(easy, CURLOPT_SSH_HOSTKEYDATA, check);
    }
}

std::optional<ServerIdentity> presentedCertificate(CURL* easy)
{
    curl_certinfo* info = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_CERTINFO, &info) != CURLE_OK || !info || info->num_of_certs < 1)
        return std::nullopt;
    constexpr std::string_view prefix = "Cert:";
    for (curl_slist* item = info->certinfo[0]; item; item = item->next) {
        const std::string_view entry(item->data);
        if (entry.substr(0, prefix.size()) != prefix)
            continue;
        if (const std::optional<std::string> der = certificateFromPem(entry.substr(prefix.size())))
            return certificateIdentity(*der);
    }
    return std::nullopt;
}

std::optional<ServerIdentity> probeCertificate(
    const ConnectionTarget& target, const std::function<void(CURL*)>& prepare)
{
    EasyHandle easy(curl_easy_init());
    const std::optional<std::string> url = connectionUrl(target, {});
    if (!easy || !url)
        return std::nullopt;
    ConnectionTarget probe = target;
    probe.user.clear();
    probe.password.clear();
    probe.trusted = ServerIdentity{ {}, kUnmatchablePin };
    curl_easy_setopt(easy.get(), CURLOPT_URL, url->c_str());
    applyConnectionKind(easy.get(), probe, nullptr);
    curl_easy_setopt(easy.get(), CURLOPT_NOBODY, 1L);
    if (prepare)
        prepare(easy.get());
    curl_easy_perform(easy.get());
    return presentedCertificate(easy.get());
}

std::optional<IdentityProblem> identityProblem(CURLcode code, CURL* easy, const ConnectionTarget& target,
    const HostKeyCheck& check, const std::function<void(CURL*)>& prepare)
{
    if (target.kind == ConnectionKind::Sftp) {
        if (code == CURLE_PEER_FAILED_VERIFICATION && !check.seen.empty() && check.seen != check.expected)
            return IdentityProblem{ ServerIdentity{ check.seen, {} }, !check.expected.empty() };
        return std::nullopt;
    }
    if (!usesTls(target.kind))
        return std::nullopt;
    if (!target.trusted) {
        if (code != CURLE_PEER_FAILED_VERIFICATION)
            return std::nullopt;
        if (std::optional<ServerIdentity> presented = probeCertificate(target, prepare))
            return IdentityProblem{ std::move(*presented), false };
        return std::nullopt;
    }
    if (code == CURLE_SSL_PINNEDPUBKEYNOTMATCH) {
        if (std::optional<ServerIdentity> presented = probeCertificate(target, prepare))
            return IdentityProblem{ std::move(*presented), true };
        return IdentityProblem{ ServerIdentity{}, true };
    }
    // The same key in another certificate is another certificate too.
    if (code == CURLE_OK) {
        std::optional<ServerIdentity> presented = presentedCertificate(easy);
        if (!presented)
            return IdentityProblem{ ServerIdentity{}, true };
        if (presented->fingerprint != target.trusted->fingerprint)
            return IdentityProblem{ std::move(*presented), true };
    }
    return std::nullopt;
}

} // namespace velth
