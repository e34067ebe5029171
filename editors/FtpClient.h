#pragma once

#include <QObject>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velth {

// An FTP client on libcurl, driven by the Qt event loop of the calling thread:
// every operation returns at once and reports its end through its callback,
// while the window goes on handling events. Active mode (PORT/EPRT from the
// control connection's local address), binary type, automatic login.
//
// Callbacks receive nullptr on success, or an exception pointer to a
// velth::Error whose message names what failed and carries the server's reply
// text where there is one ("530 Login incorrect."). Callbacks run from the
// event loop, never from inside the call that started the operation.
//
// One operation runs at a time; starting another while one runs is a
// programming error (the pages' busy checks prevent it).
//
// libcurl reads the server's confirmation after an upload's data with a
// blocking wait; it lasts as long as the server takes to confirm (one round
// trip for the small files of the pages) and never longer than the idle limit.
class FtpClient final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FtpClient)

public:
    using Done = std::function<void(std::exception_ptr error)>;
    using Listed = std::function<void(std::exception_ptr error, std::vector<std::string> lines)>;

    explicit FtpClient(QObject* parent = nullptr);
    ~FtpClient() override;

    void setHost(const std::string& host);
    void setPort(int port);
    void setUser(const std::string& user);
    void setPassword(const std::string& password);

    // Give up after this long without a connection, and after this long
    // without any reply or data (defaults: 30 s and 60 s).
    void setTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds idle);

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
    // Ends the running transfer; its callback gets an error "Transfer cancelled".
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
