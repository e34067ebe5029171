#include "editors/FtpClient.h"

#include "common/Error.h"
#include "common/FileIo.h"
#include "common/TextLines.h"

#include <QSocketNotifier>
#include <QTimer>

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <map>
#include <stdexcept>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velth {
namespace {

using Clock = std::chrono::steady_clock;

// Large buffers keep the number of event-loop rounds per megabyte low.
constexpr long kReceiveBuffer = 512 * 1024;
constexpr long kSendBuffer = 512 * 1024;

struct CurlGlobal
{
    CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
};

void initCurl()
{
    static CurlGlobal global;
}

bool holdsLineBreak(const std::string& text)
{
    return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

std::string secondsText(std::chrono::milliseconds ms)
{
    const long long count = ms.count();
    if (count % 1000 == 0)
        return std::to_string(count / 1000) + (count == 1000 ? " second" : " seconds");
    return std::to_string(count / 1000) + "." + std::to_string(count % 1000 / 100) + " seconds";
}

// The reply code of a server reply line, or 0.
int replyCode(const std::string& reply)
{
    if (reply.size() < 3 || !std::isdigit(static_cast<unsigned char>(reply[0]))
        || !std::isdigit(static_cast<unsigned char>(reply[1])) || !std::isdigit(static_cast<unsigned char>(reply[2])))
        return 0;
    return std::stoi(reply.substr(0, 3));
}

} // namespace

class FtpClient::Private
{
public:
    enum class Op { None, Connect, Cwd, Store, Retrieve, List };
    enum class TimedOut { No, Connect, Idle };

    struct Watch
    {
        QSocketNotifier* read = nullptr;
        QSocketNotifier* write = nullptr;
    };

    explicit Private(FtpClient* client)
        : q(client)
    {
        initCurl();
        curlTimer.setSingleShot(true);
        watchdog.setSingleShot(true);
        QObject::connect(&curlTimer, &QTimer::timeout, q, [this] { drive(CURL_SOCKET_TIMEOUT, 0); });
        QObject::connect(&watchdog, &QTimer::timeout, q, [this] { onWatchdog(); });
    }

    ~Private() { closeSession(); }

    // --- libcurl callbacks: they record and schedule, never call libcurl ---

    static int onSocket(CURL*, curl_socket_t fd, int what, void* userp, void*)
    {
        static_cast<Private*>(userp)->watch(fd, what);
        return 0;
    }

    static int onTimer(CURLM*, long timeoutMs, void* userp)
    {
        auto* d = static_cast<Private*>(userp);
        if (timeoutMs < 0)
            d->curlTimer.stop();
        else
            d->curlTimer.start(static_cast<int>(std::min<long>(timeoutMs, INT_MAX)));
        return 0;
    }

    static size_t onHeader(char* data, size_t size, size_t count, void* userp)
    {
        auto* d = static_cast<Private*>(userp);
        std::string line(data, size * count);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        // The last line of a reply is "ddd text"; "ddd-text" continues it.
        if ((line.size() >= 4 && replyCode(line) != 0 && line[3] == ' ') || (line.size() == 3 && replyCode(line) != 0))
            d->reply = line;
        // Once the server has greeted, a connection exists: from then on the
        // connect waits under the limit for replies.
        d->greeted = true;
        return size * count;
    }

    static size_t onWrite(char* data, size_t size, size_t count, void* userp)
    {
        auto* d = static_cast<Private*>(userp);
        const size_t bytes = size * count;
        if (d->op == Op::List) {
            d->listData.append(data, bytes);
            return bytes;
        }
        size_t written = 0;
        while (written < bytes) {
            const ssize_t n = ::write(d->fileFd, data + written, bytes - written);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                d->fileErrno = errno;
                return 0;
            }
            written += static_cast<size_t>(n);
        }
        return bytes;
    }

    static size_t onRead(char* buffer, size_t size, size_t count, void* userp)
    {
        auto* d = static_cast<Private*>(userp);
        for (;;) {
            const ssize_t n = ::read(d->fileFd, buffer, size * count);
            if (n >= 0)
                return static_cast<size_t>(n);
            if (errno != EINTR) {
                d->fileErrno = errno;
                return CURL_READFUNC_ABORT;
            }
        }
    }

    static int onProgress(void* userp, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t ulTotal, curl_off_t ulNow)
    {
        auto* d = static_cast<Private*>(userp);
        qint64 done = -1;
        qint64 total = -1;
        if (d->op == Op::Store) {
            done = ulNow;
            total = ulTotal > 0 ? ulTotal : -1;
        } else if (d->op == Op::Retrieve || d->op == Op::List) {
            done = dlNow;
            total = dlTotal > 0 ? dlTotal : -1;
        }
        const auto now = Clock::now();
        if (done != d->progressDone || total != d->progressTotal) {
            d->progressDone = done;
            d->progressTotal = total;
            d->progressChanged = done >= 0;
            d->lastActivity = now;
        }
        // libcurl waits for the reply after a transfer without returning to
        // the event loop; this is where that wait learns of the time-out.
        if (now >= d->deadline()) {
            d->timedOut = d->op == Op::Connect && !d->greeted ? TimedOut::Connect : TimedOut::Idle;
            return 1;
        }
        return 0;
    }

    static curl_socket_t onOpenSocket(void* userp, curlsocktype, curl_sockaddr* address)
    {
        auto* d = static_cast<Private*>(userp);
        int port = 0;
        if (address->family == AF_INET)
            port = ntohs(reinterpret_cast<const sockaddr_in*>(&address->addr)->sin_port);
        else if (address->family == AF_INET6)
            port = ntohs(reinterpret_cast<const sockaddr_in6*>(&address->addr)->sin6_port);
        // Port 0 is the listening socket of an active-mode data connection.
        // A new control connection after the connect would mean libcurl
        // replacing a connection the server closed: the folder changed to
        // would be lost, so the operation must fail instead.
        if (port != 0 && d->op != Op::Connect) {
            d->newConnectionRefused = true;
            return CURL_SOCKET_BAD;
        }
        return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    }

    static int onCloseSocket(void* userp, curl_socket_t fd)
    {
        auto* d = static_cast<Private*>(userp);
        if (fd == d->controlFd)
            d->controlFd = -1;
        return ::close(fd);
    }

    // --- event loop side ---

    void watch(curl_socket_t fd, int what)
    {
        if (what == CURL_POLL_REMOVE) {
            const auto it = watches.find(fd);
            if (it != watches.end()) {
                retire(it->second.read);
                retire(it->second.write);
                watches.erase(it);
            }
            return;
        }
        Watch& w = watches[fd];
        const bool wantRead = what & CURL_POLL_IN;
        const bool wantWrite = what & CURL_POLL_OUT;
        if (wantRead && !w.read) {
            w.read = new QSocketNotifier(fd, QSocketNotifier::Read, q);
            QObject::connect(w.read, &QSocketNotifier::activated, q, [this, fd] { drive(fd, CURL_CSELECT_IN); });
        }
        if (wantWrite && !w.write) {
            w.write = new QSocketNotifier(fd, QSocketNotifier::Write, q);
            QObject::connect(w.write, &QSocketNotifier::activated, q, [this, fd] { drive(fd, CURL_CSELECT_OUT); });
        }
        if (w.read)
            w.read->setEnabled(wantRead);
        if (w.write)
            w.write->setEnabled(wantWrite);
    }

    static void retire(QSocketNotifier* notifier)
    {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
    }

    void drive(curl_socket_t fd, int events)
    {
        if (!multi)
            return;
        if (fd != CURL_SOCKET_TIMEOUT)
            noteActivity();
        int running = 0;
        curl_multi_socket_action(multi, fd, events, &running);
        if (fd != CURL_SOCKET_TIMEOUT)
            noteActivity();
        finishIfDone();
        // Last: a slot connected to the signal may disconnect the client.
        if (progressChanged) {
            progressChanged = false;
            Q_EMIT q->progress(progressDone, progressTotal);
        }
    }

    void noteActivity()
    {
        lastActivity = Clock::now();
        if (op != Op::None && (op != Op::Connect || greeted))
            watchdog.start(idleTimeout);
    }

    Clock::time_point deadline() const
    {
        if (op == Op::Connect && !greeted)
            return opStart + connectTimeout;
        return lastActivity + idleTimeout;
    }

    void onWatchdog()
    {
        if (op == Op::None)
            return;
        if (Clock::now() < deadline()) {
            watchdog.start(std::chrono::duration_cast<std::chrono::milliseconds>(deadline() - Clock::now())
                + std::chrono::milliseconds(1));
            return;
        }
        timedOut = op == Op::Connect && !greeted ? TimedOut::Connect : TimedOut::Idle;
        std::exception_ptr error = makeError(CURLE_OPERATION_TIMEDOUT);
        Finished finished = takeFinished();
        closeSession(true);
        deliver(std::move(finished), error);
    }

    // --- operations ---

    struct Finished
    {
        Done done;
        Listed listed;
        std::vector<std::string> lines;
    };

    Finished takeFinished()
    {
        Finished f{ std::move(done), std::move(listed), {} };
        done = nullptr;
        listed = nullptr;
        return f;
    }

    void deliver(Finished finished, std::exception_ptr error)
    {
        const quint64 gen = generation;
        QMetaObject::invokeMethod(
            q,
            [this, gen, error, f = std::move(finished)]() mutable {
                if (gen != generation)
                    return;
                if (disconnectOnDelivery) {
                    disconnectOnDelivery = false;
                    connected = false;
                }
                if (f.listed)
                    f.listed(error, std::move(f.lines));
                else if (f.done)
                    f.done(error);
            },
            Qt::QueuedConnection);
    }

    void fail(Finished finished, const std::string& message)
    {
        deliver(std::move(finished), std::make_exception_ptr(Error(message)));
    }

    std::string subjectPrefix() const
    {
        switch (op) {
        case Op::Connect:
            return "Cannot connect to " + sessionHost + " on port " + std::to_string(sessionPort);
        case Op::Cwd:
            return "Cannot change to the folder " + subject;
        case Op::Store:
            return "Cannot upload " + subject;
        case Op::Retrieve:
            return "Cannot download " + subject;
        case Op::List:
            return subject.empty() ? std::string("Cannot list the folder") : "Cannot list " + subject;
        case Op::None:
            break;
        }
        return "FTP";
    }

    std::exception_ptr makeError(CURLcode code)
    {
        const int replyNumber = replyCode(reply);
        const bool errorReply = replyNumber >= 400;
        std::string detail;
        if (timedOut == TimedOut::Connect)
            detail = "no connection within " + secondsText(connectTimeout);
        else if (timedOut == TimedOut::Idle)
            detail = "no answer from the server for " + secondsText(idleTimeout);
        else if (!fileError.empty())
            detail = fileError;
        else if (fileErrno != 0)
            detail = (op == Op::Store ? "cannot read " : "cannot write ") + localPath + ": " + std::strerror(fileErrno);
        else if (code == CURLE_LOGIN_DENIED && op == Op::Connect)
            return std::make_exception_ptr(Error("Login to " + sessionHost + " refused: "
                + (errorReply ? reply : std::string(errorText[0] ? errorText : curl_easy_strerror(code)))));
        else if (errorReply)
            detail = reply;
        else if (newConnectionRefused)
            detail = "the server closed the connection";
        else if (code == CURLE_RECV_ERROR || code == CURLE_SEND_ERROR || code == CURLE_GOT_NOTHING
            || code == CURLE_PARTIAL_FILE || code == CURLE_FTP_ACCEPT_FAILED)
            detail = "the server closed the connection";
        else if (code == CURLE_COULDNT_CONNECT && osErrno != 0)
            detail = std::strerror(osErrno);
        else
            detail = errorText[0] ? errorText : curl_easy_strerror(code);
        return std::make_exception_ptr(Error(subjectPrefix() + ": " + detail));
    }

    // Whether the control connection is still open. A closed connection, or
    // one with a reply nobody asked for ("421 Timeout."), cannot be used.
    bool controlAlive(std::string* unsolicited)
    {
        if (controlFd < 0)
            return false;
        pollfd p{ controlFd, POLLIN, 0 };
        if (::poll(&p, 1, 0) == 0)
            return true;
        char buffer[512];
        const ssize_t n = ::recv(controlFd, buffer, sizeof buffer, MSG_PEEK | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        if (n > 0) {
            std::string text(buffer, static_cast<size_t>(n));
            text = text.substr(0, text.find_first_of("\r\n"));
            *unsolicited = text;
        }
        return false;
    }

    CURL* makeEasy(const std::string& name)
    {
        CURL* handle = curl_easy_init();
        if (!handle)
            return nullptr;
        CURLU* url = curl_url();
        std::string urlHost = sessionHost;
        if (urlHost.find(':') != std::string::npos && urlHost.front() != '[')
            urlHost = "[" + urlHost + "]";
        char* text = nullptr;
        const bool ok = url && curl_url_set(url, CURLUPART_SCHEME, "ftp", 0) == CURLUE_OK
            && curl_url_set(url, CURLUPART_HOST, urlHost.c_str(), 0) == CURLUE_OK
            && curl_url_set(url, CURLUPART_PORT, std::to_string(sessionPort).c_str(), 0) == CURLUE_OK
            && curl_url_set(url, CURLUPART_PATH, ("/" + name).c_str(), CURLU_URLENCODE) == CURLUE_OK
            && curl_url_get(url, CURLUPART_URL, &text, 0) == CURLUE_OK;
        if (ok)
            curl_easy_setopt(handle, CURLOPT_URL, text);
        curl_free(text);
        curl_url_cleanup(url);
        if (!ok) {
            curl_easy_cleanup(handle);
            return nullptr;
        }
        curl_easy_setopt(handle, CURLOPT_USERNAME, sessionUser.c_str());
        curl_easy_setopt(handle, CURLOPT_PASSWORD, sessionPassword.c_str());
        // Active mode from the control connection's local address.
        curl_easy_setopt(handle, CURLOPT_FTPPORT, "-");
        // No CWD of libcurl's own: the one CWD is changeDirectory's.
        curl_easy_setopt(handle, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
        curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);
        curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &Private::onHeader);
        curl_easy_setopt(handle, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &Private::onWrite);
        curl_easy_setopt(handle, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(handle, CURLOPT_READFUNCTION, &Private::onRead);
        curl_easy_setopt(handle, CURLOPT_READDATA, this);
        curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &Private::onProgress);
        curl_easy_setopt(handle, CURLOPT_XFERINFODATA, this);
        curl_easy_setopt(handle, CURLOPT_OPENSOCKETFUNCTION, &Private::onOpenSocket);
        curl_easy_setopt(handle, CURLOPT_OPENSOCKETDATA, this);
        curl_easy_setopt(handle, CURLOPT_CLOSESOCKETFUNCTION, &Private::onCloseSocket);
        curl_easy_setopt(handle, CURLOPT_CLOSESOCKETDATA, this);
        // Our own watchdog gives up first; libcurl's limits only back it up.
        const long idleMs = static_cast<long>(idleTimeout.count());
        curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connectTimeout.count()) + 1000L);
        curl_easy_setopt(handle, CURLOPT_ACCEPTTIMEOUT_MS, idleMs + 1000L);
        curl_easy_setopt(handle, CURLOPT_SERVER_RESPONSE_TIMEOUT, (idleMs + 999L) / 1000L + 1L);
        // Keep an idle connection for as long as the page keeps it open.
        curl_easy_setopt(handle, CURLOPT_MAXAGE_CONN, static_cast<long>(INT_MAX));
        curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, kReceiveBuffer);
        curl_easy_setopt(handle, CURLOPT_UPLOAD_BUFFERSIZE, kSendBuffer);
        return handle;
    }

    // Starts an operation; on a problem found before any network activity the
    // callback gets the error from the event loop.
    void begin(Op newOp, std::string newSubject, Done newDone, Listed newListed)
    {
        if (op != Op::None)
            throw std::logic_error("FtpClient: an operation is already running");
        op = newOp;
        subject = std::move(newSubject);
        done = std::move(newDone);
        listed = std::move(newListed);
        reply.clear();
        errorText[0] = '\0';
        fileError.clear();
        fileErrno = 0;
        osErrno = 0;
        listData.clear();
        timedOut = TimedOut::No;
        greeted = false;
        newConnectionRefused = false;
        progressDone = -1;
        progressTotal = -1;
        progressChanged = false;
        opStart = Clock::now();
        lastActivity = opStart;
    }

    // Ends an operation that never reached libcurl.
    void refuse(const std::string& detail, bool dropConnection)
    {
        const std::string message = subjectPrefix() + ": " + detail;
        Finished finished = takeFinished();
        abandonFiles();
        op = Op::None;
        if (dropConnection)
            closeSession(true);
        fail(std::move(finished), message);
    }

    // Hands a prepared easy handle to the multi handle.
    void launch(CURL* newEasy)
    {
        easy = newEasy;
        if (curl_multi_add_handle(multi, easy) != CURLM_OK) {
            curl_easy_cleanup(easy);
            easy = nullptr;
            refuse("cannot start the transfer", true);
            return;
        }
        watchdog.start(op == Op::Connect ? connectTimeout : idleTimeout);
    }

    // Checks before an operation on an open connection.
    bool readyForOperation()
    {
        if (!multi || !connected) {
            refuse("not connected", false);
            return false;
        }
        std::string unsolicited;
        if (!controlAlive(&unsolicited)) {
            refuse(unsolicited.empty() ? std::string("the server closed the connection")
                                       : "the server closed the connection (" + unsolicited + ")",
                true);
            return false;
        }
        return true;
    }

    void finishIfDone()
    {
        if (!multi || !easy)
            return;
        int left = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
            if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy) {
                complete(msg->data.result);
                return;
            }
        }
    }

    void complete(CURLcode code)
    {
        watchdog.stop();
        curl_socket_t active = CURL_SOCKET_BAD;
        curl_easy_getinfo(easy, CURLINFO_ACTIVESOCKET, &active);
        long os = 0;
        curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &os);
        osErrno = static_cast<int>(os);
        curl_multi_remove_handle(multi, easy);
        curl_easy_cleanup(easy);
        easy = nullptr;
        curl_slist_free_all(quote);
        quote = nullptr;

        if (op == Op::Connect && code == CURLE_OK)
            controlFd = active;
        // After a failure the connection is kept only when the server
        // refused the request with a reply and is still there; anything else
        // (time-out, lost connection, aborted transfer) leaves it unusable.
        bool alive = controlFd >= 0 && active == controlFd;
        if (code != CURLE_OK) {
            std::string unsolicited;
            alive = alive && replyCode(reply) >= 400 && timedOut == TimedOut::No && controlAlive(&unsolicited);
        }

        std::exception_ptr error;
        if (code != CURLE_OK || newConnectionRefused)
            error = makeError(code);
        else if (op == Op::Retrieve)
            error = commitDownload();
        abandonFiles();

        Finished finished = takeFinished();
        if (op == Op::List && !error) {
            for (auto& line : splitLines(listData))
                finished.lines.push_back(std::move(line));
        }
        listData.clear();
        const Op ended = op;
        op = Op::None;
        // A failed connect closes what it opened; any operation that finds
        // the connection gone leaves the client disconnected.
        if (!alive || (ended == Op::Connect && error))
            closeSession(true);
        deliver(std::move(finished), error);
    }

    std::exception_ptr commitDownload()
    {
        int err = 0;
        if (::fsync(fileFd) != 0)
            err = errno;
        struct stat st
        { };
        if (::stat(localPath.c_str(), &st) == 0) {
            ::fchmod(fileFd, st.st_mode & 07777);
        } else {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            ::fchmod(fileFd, 0666 & ~mask);
        }
        const int fd = fileFd;
        fileFd = -1;
        if (::close(fd) != 0 && err == 0)
            err = errno;
        if (err != 0) {
            fileErrno = err;
            return makeError(CURLE_WRITE_ERROR);
        }
        try {
            commitTempFile(tempPath, localPath);
            tempPath.clear();
        } catch (const Error& e) {
            fileError = e.what();
            return makeError(CURLE_WRITE_ERROR);
        }
        return nullptr;
    }

    // Closes the local file of an operation and removes an unfinished download.
    void abandonFiles()
    {
        if (fileFd >= 0) {
            ::close(fileFd);
            fileFd = -1;
        }
        if (!tempPath.empty()) {
            ::unlink(tempPath.c_str());
            tempPath.clear();
        }
    }

    // Drops the connection without QUIT and ends a running operation without
    // its callback. untilDelivery: the client goes on reporting itself
    // connected until the callback about the failure has run, so a page stays
    // busy until its action has heard how it ended.
    void closeSession(bool untilDelivery = false)
    {
        watchdog.stop();
        curlTimer.stop();
        // Shut down first: libcurl then cannot send QUIT or wait for a reply.
        if (controlFd >= 0)
            ::shutdown(controlFd, SHUT_RDWR);
        if (easy) {
            curl_multi_remove_handle(multi, easy);
            curl_easy_cleanup(easy);
            easy = nullptr;
        }
        if (multi) {
            curl_multi_cleanup(multi);
            multi = nullptr;
        }
        curl_slist_free_all(quote);
        quote = nullptr;
        abandonFiles();
        for (auto& [fd, w] : watches) {
            retire(w.read);
            retire(w.write);
        }
        watches.clear();
        controlFd = -1;
        if (!untilDelivery)
            connected = false;
        disconnectOnDelivery = untilDelivery && connected;
        op = Op::None;
        done = nullptr;
        listed = nullptr;
    }

    FtpClient* q;
    std::string host;
    int port = 21;
    std::string user;
    std::string password;
    std::chrono::milliseconds connectTimeout{ 30000 };
    std::chrono::milliseconds idleTimeout{ 60000 };

    // The connection's own copy of what it was opened with.
    std::string sessionHost;
    int sessionPort = 21;
    std::string sessionUser;
    std::string sessionPassword;

    CURLM* multi = nullptr;
    CURL* easy = nullptr;
    curl_slist* quote = nullptr;
    bool connected = false;
    bool disconnectOnDelivery = false;
    curl_socket_t controlFd = -1;
    std::map<curl_socket_t, Watch> watches;
    QTimer curlTimer;
    QTimer watchdog;
    quint64 generation = 0;

    Op op = Op::None;
    std::string subject;
    Done done;
    Listed listed;
    std::string reply;
    char errorText[CURL_ERROR_SIZE] = {};
    int osErrno = 0;
    std::string localPath;
    std::string tempPath;
    int fileFd = -1;
    int fileErrno = 0;
    std::string fileError;
    std::string listData;
    TimedOut timedOut = TimedOut::No;
    bool greeted = false;
    bool newConnectionRefused = false;
    qint64 progressDone = -1;
    qint64 progressTotal = -1;
    bool progressChanged = false;
    Clock::time_point opStart;
    Clock::time_point lastActivity;
};

FtpClient::FtpClient(QObject* parent)
    : QObject(parent)
    , d(std::make_unique<Private>(this))
{ }

FtpClient::~FtpClient()
{
    ++d->generation;
    d->closeSession();
}

void FtpClient::setHost(const std::string& host)
{
    d->host = host;
}

void FtpClient::setPort(int port)
{
    d->port = port;
}

void FtpClient::setUser(const std::string& user)
{
    d->user = user;
}

void FtpClient::setPassword(const std::string& password)
{
    d->password = password;
}

void FtpClient::setTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds idle)
{
    d->connectTimeout = std::max(connect, std::chrono::milliseconds(1));
    d->idleTimeout = std::max(idle, std::chrono::milliseconds(1));
}

bool FtpClient::isConnected() const
{
    return d->connected;
}

bool FtpClient::isBusy() const
{
    return d->op != Private::Op::None;
}

void FtpClient::connectToHost(Done done)
{
    if (d->connected)
        throw std::logic_error("FtpClient: already connected");
    d->sessionHost = d->host;
    d->sessionPort = d->port;
    d->sessionUser = d->user;
    d->sessionPassword = d->password;
    d->begin(Private::Op::Connect, {}, std::move(done), nullptr);
    d->connected = true;
    if (d->sessionHost.empty())
        return d->refuse("no host name given", true);
    if (holdsLineBreak(d->sessionHost) || holdsLineBreak(d->sessionUser) || holdsLineBreak(d->sessionPassword))
        return d->refuse("the host name, user name or password holds a line break", true);
    if (d->sessionPort <= 0 || d->sessionPort > 65535)
        return d->refuse("not a port number", true);

    d->multi = curl_multi_init();
    CURL* easy = d->multi ? d->makeEasy({}) : nullptr;
    if (!easy)
        return d->refuse("not a valid host name", true);
    curl_multi_setopt(d->multi, CURLMOPT_SOCKETFUNCTION, &Private::onSocket);
    curl_multi_setopt(d->multi, CURLMOPT_SOCKETDATA, d.get());
    curl_multi_setopt(d->multi, CURLMOPT_TIMERFUNCTION, &Private::onTimer);
    curl_multi_setopt(d->multi, CURLMOPT_TIMERDATA, d.get());
    // Log in only: binary type and the system type are asked for at once.
    d->quote = curl_slist_append(nullptr, "TYPE I");
    d->quote = curl_slist_append(d->quote, "*SYST");
    curl_easy_setopt(easy, CURLOPT_QUOTE, d->quote);
    curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    d->launch(easy);
}

void FtpClient::changeDirectory(const std::string& folder, Done done)
{
    d->begin(Private::Op::Cwd, folder, std::move(done), nullptr);
    if (holdsLineBreak(folder))
        return d->refuse("the name holds a line break", false);
    if (!d->readyForOperation())
        return;
    CURL* easy = d->makeEasy({});
    if (!easy)
        return d->refuse("cannot start the transfer", true);
    d->quote = curl_slist_append(nullptr, ("CWD " + folder).c_str());
    curl_easy_setopt(easy, CURLOPT_QUOTE, d->quote);
    curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    d->launch(easy);
}

void FtpClient::store(const std::string& localPath, const std::string& remoteName, Done done)
{
    d->begin(Private::Op::Store, remoteName, std::move(done), nullptr);
    d->localPath = localPath;
    if (remoteName.empty() || holdsLineBreak(remoteName))
        return d->refuse("not a valid file name", false);
    d->fileFd = ::open(localPath.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st
    { };
    if (d->fileFd < 0 || ::fstat(d->fileFd, &st) != 0)
        return d->refuse("cannot read " + localPath + ": " + std::strerror(errno), false);
    if (!d->readyForOperation())
        return;
    CURL* easy = d->makeEasy(remoteName);
    if (!easy)
        return d->refuse("not a valid file name", false);
    curl_easy_setopt(easy, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(st.st_size));
    d->launch(easy);
}

void FtpClient::retrieve(const std::string& remoteName, const std::string& localPath, Done done)
{
    d->begin(Private::Op::Retrieve, remoteName, std::move(done), nullptr);
    d->localPath = localPath;
    if (remoteName.empty() || holdsLineBreak(remoteName))
        return d->refuse("not a valid file name", false);
    if (!d->readyForOperation())
        return;
    try {
        d->tempPath = makeTempFileBeside(localPath);
    } catch (const Error& e) {
        return d->refuse(e.what(), false);
    }
    d->fileFd = ::open(d->tempPath.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (d->fileFd < 0)
        return d->refuse("cannot write " + d->tempPath + ": " + std::strerror(errno), false);
    CURL* easy = d->makeEasy(remoteName);
    if (!easy)
        return d->refuse("not a valid file name", false);
    // Straight to RETR: a SIZE refusal would hide the RETR reply, and some
    // servers refuse SIZE for files they would send.
    curl_easy_setopt(easy, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
    d->launch(easy);
}

void FtpClient::list(const std::string& argument, Listed done)
{
    d->begin(Private::Op::List, argument, nullptr, std::move(done));
    if (holdsLineBreak(argument))
        return d->refuse("the argument holds a line break", false);
    if (!d->readyForOperation())
        return;
    CURL* easy = d->makeEasy({});
    if (!easy)
        return d->refuse("cannot start the transfer", true);
    const std::string command = argument.empty() ? std::string("LIST") : "LIST " + argument;
    curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, command.c_str());
    d->launch(easy);
}

void FtpClient::disconnect()
{
    ++d->generation;
    d->closeSession();
}

void FtpClient::cancel()
{
    if (d->op == Private::Op::None)
        return;
    Private::Finished finished = d->takeFinished();
    d->closeSession(true);
    d->fail(std::move(finished), "Transfer cancelled");
}

} // namespace velth
