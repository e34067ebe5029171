#pragma once

#include "net/ServerIdentity.h"
#include "profiles/ServerProfile.h"

#include <curl/curl.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace velth {

struct EasyDeleter
{
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
// A libcurl handle, cleaned up when it goes.
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;

// Where one connection goes and how: the profile's kind, its login, and the
// server identity the user accepted for it, if any.
struct ConnectionTarget : FtpServerData
{
    std::optional<ServerIdentity> trusted;
};

// What the SSH host key check of one handle saw. libcurl calls the check from
// inside its handshake, before the login is sent.
struct HostKeyCheck
{
    std::string expected; // empty: no key accepted yet, so every key is refused
    std::string seen;
    // Set when the check runs: the server has answered.
    std::atomic<bool>* answered = nullptr;
};

// The URL of a path on the server. FTP kinds: "/" + path is taken relative
// to the folder the connection changed to (libcurl sends no CWD of its own).
// SFTP has no current folder: sftpPath() builds the whole path.
// Nothing when the host or path cannot be put into a URL.
std::optional<std::string> connectionUrl(const ConnectionTarget& target, const std::string& path);

// The SFTP path of a name inside a folder given as an FTP client would change
// to it: an absolute folder as it stands, any other folder relative to the
// login (home) folder. An empty name gives the folder itself, for a listing.
std::string sftpPath(const std::string& folder, const std::string& name);

// Sets on a handle what the connection kind decides: login, TLS and its
// checks, the data connection mode, the SSH host key check. check must live
// as long as the handle's transfers (SFTP only; may be null for other kinds).
//
// TLS: without an accepted identity the certificate must pass the system's
// trust store and name the host; with one, the handshake accepts only the
// accepted public key (and the certificate is compared after the connect).
void applyConnectionKind(CURL* easy, const ConnectionTarget& target, HostKeyCheck* check);

// The identity the TLS server presented on this handle's last connection
// (libcurl's certificate information), if it was asked for.
std::optional<ServerIdentity> presentedCertificate(CURL* easy);

// Connects to a TLS server only to read its certificate: no name or password
// is sent (the handshake ends at a public key pin that cannot match).
// prepare runs on the probe's handle before it connects (time-outs, sockets).
std::optional<ServerIdentity> probeCertificate(
    const ConnectionTarget& target, const std::function<void(CURL*)>& prepare);

// Whether a failed (or, for TLS, a finished) connect met an identity the user
// has not accepted. For TLS it probes the server's certificate when libcurl
// refused it; prepare as for probeCertificate.
std::optional<IdentityProblem> identityProblem(CURLcode code, CURL* easy, const ConnectionTarget& target,
    const HostKeyCheck& check, const std::function<void(CURL*)>& prepare);

} // namespace velth
