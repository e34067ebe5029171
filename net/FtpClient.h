#pragma once

#include "net/ServerIdentity.h"
#include "profiles/ServerProfile.h"

#include <QObject>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velth {

// How one operation of the FTP client ended.
struct FtpResult
{
    enum class Kind {
        Ok,
        NotSent, // refused by the client before anything was sent (a line break in a name, not connected)
        Refused, // the server answered with an error reply (in reply)
        Lost, // the connection broke, or the server sent what the client cannot use
        TimedOut, // no connection, no answer or too little data within the limits
        Cancelled, // cancel() ended it
        LocalFile, // the local file could not be read or written
        Untrusted, // the server's certificate or host key is not accepted (in identity); nothing was sent
    };

    Kind kind = Kind::Ok;
    // What the user is told: names what failed and carries the server's reply
    // where there is one ("Cannot download users.ini: 550 No such file.").
    std::string message;
    // The server's error reply, all of its lines joined by line breaks.
    std::string reply;
    // Untrusted: what the server showed, and whether it changed.
    std::optional<IdentityProblem> identity;

    bool ok() const { return kind == Kind::Ok; }
};

// An FTP client on libcurl. Every operation returns at once; libcurl runs on a
// worker thread of the client's own, so no network wait ever holds the
// calling (window) thread. Results, progress and errors come back to the
// calling thread through its event loop, never from inside the call that
// started the operation.
//
// The profile's kind of connection decides the rest: plain FTP in active mode
// (PORT, EPRT only for IPv6, data connections accepted only from the
// server's address) or passive mode, FTPS with explicit or implicit TLS
// (passive), or SFTP; binary type and automatic login on FTP. SFTP has no
// current folder on the server: the client keeps the folder changeDirectory()
// went to (after checking that it can be read) and names files inside it.
//
// One operation runs at a time; starting another while one runs is a
// programming error (the pages' busy checks prevent it).
class FtpClient final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FtpClient)

public:
    using Done = std::function<void(const FtpResult& result)>;
    using Listed = std::function<void(const FtpResult& result, std::vector<std::string> lines)>;

    // A listing stops with an error beyond these.
    static constexpr std::size_t kMaxListingLines = 100000;
    static constexpr std::size_t kMaxListingBytes = 64u * 1024 * 1024;

    explicit FtpClient(QObject* parent = nullptr);
    // Ends a running operation without its callback; returns within about a
    // second even while libcurl waits on a silent server.
    ~FtpClient() override;

    // Where the next connect goes, how and with which login, taken whole
    // (plain active FTP unless the server data say otherwise), and the
    // certificate or host key the user accepted for the server, if any.
    // Without one a TLS certificate must pass the system's trust store, and
    // an SSH host key is never accepted: the connect then ends Untrusted
    // before the login is sent.
    void setServer(const FtpServerData& server, std::optional<ServerIdentity> trusted = std::nullopt);

    // Give up after this long without a connection, and after this long
    // without any reply or data (defaults: 30 s and 60 s).
    void setTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds idle);
    // A transfer slower than this many bytes per second for this long ends
    // with an error (default: 1024 bytes per second for 60 s).
    void setLowSpeedLimit(long bytesPerSecond, std::chrono::seconds time);

    // The connected query: true from the moment a connect starts until the
    // connection is closed (by disconnect(), by a failed connect or login, or
    // when an operation finds the server gone or times out). When an
    // operation's failure closes the connection, the client reports itself
    // disconnected from the moment that operation's callback runs.
    bool isConnected() const;
    // True while an operation runs.
    bool isBusy() const;

    // Connect and log in (greeting, USER, PASS, TYPE I, SYST). Names, the
    // folder and the LIST argument holding a line break are refused before
    // anything is sent.
    void connectToHost(Done done);
    // One CWD to the folder exactly as given; later names are relative to it.
    void changeDirectory(const std::string& folder, Done done);
    // NOOP: whether the server still answers, without changing anything.
    void checkAlive(Done done);
    // STOR of the whole local file under the bare remote name.
    void store(const std::string& localPath, const std::string& remoteName, Done done);
    // RETR of the bare remote name into a temporary file beside localPath,
    // renamed over localPath only when complete; after a failure the old local
    // file is unchanged and no temporary file is left.
    void retrieve(const std::string& remoteName, const std::string& localPath, Done done);
    // LIST with an argument such as "*.log": the server's raw lines, without
    // their line ends. (libcurl asks for TYPE A before a listing.)
    void list(const std::string& argument, Listed done);
    // Closes the connection (no QUIT); a running operation ends without
    // calling its callback.
    void disconnect();
    // Ends the running operation; its callback gets "Transfer cancelled".
    // The connection is closed too: the server may still be sending.
    void cancel();

Q_SIGNALS:
    // Bytes moved by the running transfer; total is -1 when not known.
    void progress(qint64 done, qint64 total);

private:
    class Private;
    std::unique_ptr<Private> d;
};

} // namespace velth
