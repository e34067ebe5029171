#include "net/FtpClient.h"

#include "common/Error.h"
#include "common/FileIo.h"
#include "common/TextLines.h"
#include "net/CurlConnection.h"

#include <QMetaObject>
#include <QTimer>

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <future>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

// Threads. The client object, its callbacks and its signals belong to the
// thread that created it (the window's). Every libcurl call runs on one worker
// thread per client, which takes jobs from a queue: an operation, or the
// release of a closed connection. The window's thread never waits for the
// worker, except for at most a second when the client is destroyed. To end an
// operation at once, even while libcurl sits in a blocking read, the window's
// thread shuts down the connection's sockets (libcurl opens them through us,
// so we know them); libcurl then fails at once and the worker reports why.

namespace velth {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Large buffers keep the number of system calls per megabyte low.
constexpr long kReceiveBuffer = 512 * 1024;
// An FTP upload goes fastest in libcurl's default 64 KiB pieces: the file is
// read while the previous piece drains. SFTP sends each piece as pipelined
// write requests, so a larger piece keeps more of them in flight.
constexpr long kSendBuffer = 64 * 1024;
constexpr long kSftpSendBuffer = 512 * 1024;
// How long a transfer waits before it asks libcurl again when libcurl has
// no socket to wait on (see performTransfer()).
constexpr milliseconds kNothingToWatchWait{ 10 };
// The longest wait for a socket before libcurl's timers are looked at again.
constexpr milliseconds kLongestSocketWait{ 1000 };
// The longest reply text kept for a message.
constexpr std::size_t kMaxReplyText = 8 * 1024;
// Progress goes to the window's thread at most this often.
constexpr milliseconds kProgressInterval{ 50 };
// How long destroying a client waits for its worker thread.
constexpr milliseconds kWorkerExitWait{ 1500 };

// --- owners of libcurl and system resources ---

struct ListDeleter
{
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CommandList = std::unique_ptr<curl_slist, ListDeleter>;

struct MultiDeleter
{
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
// The multi handle that runs one connection's transfers and keeps the open
// connection between them.
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;

CommandList commandList(std::initializer_list<std::string> commands)
{
    curl_slist* list = nullptr;
    for (const std::string& command : commands)
        list = curl_slist_append(list, command.c_str());
    return CommandList(list);
}

class UniqueFd
{
public:
    explicit UniqueFd(int fd = -1)
        : m_fd(fd)
    { }
    UniqueFd(UniqueFd&& other) noexcept
        : m_fd(std::exchange(other.m_fd, -1))
    { }
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        reset(std::exchange(other.m_fd, -1));
        return *this;
    }
    ~UniqueFd() { reset(); }
    int get() const { return m_fd; }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }
    // Closes now and reports the error of close().
    int close()
    {
        const int fd = std::exchange(m_fd, -1);
        return fd >= 0 && ::close(fd) != 0 ? errno : 0;
    }

private:
    int m_fd;
};

// The sockets libcurl opened for one connection. The window's thread shuts
// them down to end a blocked wait; after that no new socket is opened.
class SocketSet
{
public:
    curl_socket_t open(const curl_sockaddr& address)
    {
        std::lock_guard lock(m_mutex);
        if (m_shut)
            return CURL_SOCKET_BAD;
        const int fd = ::socket(address.family, address.socktype | SOCK_CLOEXEC, address.protocol);
        if (fd >= 0)
            m_fds.insert(fd);
        return fd;
    }

    int close(curl_socket_t fd)
    {
        std::lock_guard lock(m_mutex);
        m_fds.erase(fd);
        return ::close(fd);
    }

    void shutDownAll()
    {
        std::lock_guard lock(m_mutex);
        m_shut = true;
        for (const int fd : m_fds)
            ::shutdown(fd, SHUT_RDWR);
    }

    static int onClose(void* userp, curl_socket_t fd) { return static_cast<SocketSet*>(userp)->close(fd); }

private:
    std::mutex m_mutex;
    std::set<int> m_fds;
    bool m_shut = false;
};

// Runs jobs one after another on a thread of its own.
class Worker : public std::enable_shared_from_this<Worker>
{
public:
    ~Worker()
    {
        if (m_thread.joinable())
            m_thread.detach();
    }

    void post(std::function<void()> job)
    {
        std::lock_guard lock(m_mutex);
        if (!m_thread.joinable() && !m_stopping) {
            m_exited = m_exit.get_future();
            m_thread = std::thread([self = shared_from_this()] { self->run(); });
        }
        m_jobs.push_back(std::move(job));
        m_wake.notify_one();
    }

    // Lets the queued jobs finish and waits for the thread for up to the
    // given time; a thread still busy then finishes on its own.
    void stop(milliseconds wait)
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
            m_wake.notify_one();
        }
        if (!m_thread.joinable())
            return;
        if (m_exited.wait_for(wait) == std::future_status::ready)
            m_thread.join();
        else
            m_thread.detach();
    }

private:
    void run()
    {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
                if (m_jobs.empty())
                    break;
                job = std::move(m_jobs.front());
                m_jobs.pop_front();
            }
            job();
        }
        m_exit.set_value();
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    bool m_stopping = false;
    std::thread m_thread;
    std::promise<void> m_exit;
    std::future<void> m_exited;
};

// Hands results from the worker to the client on its own thread; closed when
// the client goes, so nothing reaches a client that is gone.
class Mailbox
{
public:
    explicit Mailbox(FtpClient* client)
        : m_client(client)
    { }

    template <class Function>
    void post(Function function)
    {
        std::lock_guard lock(m_mutex);
        if (m_client)
            QMetaObject::invokeMethod(m_client, std::move(function), Qt::QueuedConnection);
    }

    void close()
    {
        std::lock_guard lock(m_mutex);
        m_client = nullptr;
    }

private:
    std::mutex m_mutex;
    FtpClient* m_client;
};

struct CurlGlobal
{
    CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
};

bool holdsLineBreak(const std::string& text)
{
    return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

std::string secondsText(milliseconds ms)
{
    const long long count = ms.count();
    if (count % 1000 == 0)
        return std::to_string(count / 1000) + (count == 1000 ? " second" : " seconds");
    return std::to_string(count / 1000) + "." + std::to_string(count % 1000 / 100) + " seconds";
}

std::string rateText(long bytesPerSecond)
{
    if (bytesPerSecond % 1024 == 0)
        return std::to_string(bytesPerSecond / 1024) + " KB/s";
    return std::to_string(bytesPerSecond) + " bytes/s";
}

// The reply code of a server reply line, or 0.
int replyCode(const std::string& reply)
{
    if (reply.size() < 3 || !std::isdigit(static_cast<unsigned char>(reply[0]))
        || !std::isdigit(static_cast<unsigned char>(reply[1])) || !std::isdigit(static_cast<unsigned char>(reply[2])))
        return 0;
    return std::stoi(reply.substr(0, 3));
}

// Collects the lines of the server's replies; keeps the last whole reply,
// every line of a multi-line one, joined by line breaks.
class ReplyReader
{
public:
    void feed(std::string line)
    {
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        const int code = replyCode(line);
        if (!m_open) {
            if (code == 0)
                return;
            m_code = code;
            m_text.clear();
        }
        if (m_text.size() < kMaxReplyText) {
            if (!m_text.empty())
                m_text += '\n';
            m_text += line.substr(0, kMaxReplyText - std::min(m_text.size(), kMaxReplyText));
        }
        // "ddd text" ends a reply; "ddd-text" and lines between continue it.
        m_open = !(code == m_code && (line.size() == 3 || line[3] == ' '));
        if (!m_open)
            m_last = m_text;
    }

    const std::string& last() const { return m_last; }

private:
    bool m_open = false;
    int m_code = 0;
    std::string m_text;
    std::string m_last;
};

// Whether a control connection is still open. A closed connection, or one
// with a reply nobody asked for ("421 Timeout."), cannot be used. An SSH
// connection may carry messages of its own at any time (keep-alives): only
// its end counts.
bool controlAlive(int fd, std::string* unsolicited, bool ssh = false)
{
    if (fd < 0)
        return false;
    pollfd p{ fd, POLLIN, 0 };
    if (::poll(&p, 1, 0) == 0)
        return true;
    char buffer[512];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_PEEK | MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return true;
    if (ssh && n > 0)
        return true;
    if (n > 0) {
        std::string text(buffer, static_cast<size_t>(n));
        *unsolicited = text.substr(0, text.find_first_of("\r\n"));
    }
    return false;
}

bool sameAddress(const sockaddr_storage& a, const sockaddr_storage& b)
{
    if (a.ss_family != b.ss_family)
        return false;
    if (a.ss_family == AF_INET)
        return reinterpret_cast<const sockaddr_in&>(a).sin_addr.s_addr
            == reinterpret_cast<const sockaddr_in&>(b).sin_addr.s_addr;
    if (a.ss_family == AF_INET6)
        return std::memcmp(&reinterpret_cast<const sockaddr_in6&>(a).sin6_addr,
                   &reinterpret_cast<const sockaddr_in6&>(b).sin6_addr, sizeof(in6_addr))
            == 0;
    return false;
}

std::string addressText(const sockaddr_storage& address)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(address).sin_addr, text, sizeof text);
    else if (address.ss_family == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(address).sin6_addr, text, sizeof text);
    return text;
}

// --- what one connection is made of ---

// Where a connection goes and how (kind, login, accepted identity).
using Login = ConnectionTarget;

struct Limits
{
    milliseconds connect{ 30000 };
    milliseconds idle{ 60000 };
    long lowSpeedBytes = 1024;
    std::chrono::seconds lowSpeedTime{ 60 };
};

// Sets where and how a connection goes: the one place that knows the kind of
// connection (URL scheme, login, TLS, data connection mode, host key check).
// path is what an operation works on: for FTP the bare file name (empty for
// none), taken in the folder the connection changed to; for SFTP the whole
// path (sftpPath()).
bool configureConnection(CURL* easy, const Login& login, const std::string& path, HostKeyCheck* hostKey)
{
    const std::optional<std::string> url = connectionUrl(login, path);
    if (!url)
        return false;
    curl_easy_setopt(easy, CURLOPT_URL, url->c_str());
    applyConnectionKind(easy, login, hostKey);
    // No CWD of libcurl's own: the one CWD is changeDirectory's.
    curl_easy_setopt(easy, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
    return true;
}

// The name in a long listing line: what follows the eight fields before it
// (permissions, links, owner, group, size and the three date fields).
std::string_view listedName(std::string_view line)
{
    std::size_t pos = 0;
    for (int field = 0; field < 8; ++field) {
        pos = line.find_first_not_of(' ', pos);
        if (pos == std::string_view::npos)
            return {};
        pos = line.find(' ', pos);
        if (pos == std::string_view::npos)
            return {};
    }
    return line.substr(pos + 1);
}

enum class Op { Connect, Cwd, Noop, Store, Retrieve, List };

// Why the window's thread ended a connection.
enum class Ending { None, Cancelled, TimedOut, Closed };

// One connection: libcurl's handle (which keeps the open connection between
// operations) and what both threads know of it.
class Session
{
public:
    Session(Login connectWith, Limits limitsToKeep)
        : login(std::move(connectWith))
        , limits(limitsToKeep)
    { }

    // Window's thread: ends whatever runs; the first reason given holds.
    // The wake-up reaches a transfer that waits with no socket to watch.
    void end(Ending why)
    {
        Ending none = Ending::None;
        ending.compare_exchange_strong(none, why);
        sockets.shutDownAll();
        if (multi)
            curl_multi_wakeup(multi.get());
    }

    void operationStarted()
    {
        std::lock_guard lock(m_mutex);
        m_running = true;
    }
    void operationEnded()
    {
        std::lock_guard lock(m_mutex);
        m_running = false;
        m_ended.notify_all();
    }
    void waitForOperation(milliseconds limit)
    {
        std::unique_lock lock(m_mutex);
        m_ended.wait_for(lock, limit, [this] { return !m_running; });
    }

    void touch() { lastActivity = Clock::now().time_since_epoch().count(); }
    Clock::time_point lastActive() const { return Clock::time_point(Clock::duration(lastActivity.load())); }

    const Login login;
    const Limits limits;
    std::atomic<Ending> ending{ Ending::None };
    std::atomic<Clock::rep> lastActivity{ 0 };
    std::atomic<bool> greeted{ false };
    SocketSet sockets; // declared before easy: libcurl closes its sockets through it

private:
    std::mutex m_mutex;
    std::condition_variable m_ended;
    bool m_running = false;

public:
    // Worker only.
    HostKeyCheck hostKey; // before easy: libcurl's handshake writes to it
    // Before easy, which leaves it when it goes; the connection it keeps is
    // closed through sockets.
    MultiHandle multi{ curl_multi_init() };
    EasyHandle easy;
    std::string folder; // SFTP: the folder changeDirectory() went to
    curl_socket_t controlFd = CURL_SOCKET_BAD;
    sockaddr_storage peer{};
};

// What an operation hands back to the window's thread.
struct Outcome
{
    FtpResult result;
    bool connectionKept = false;
    std::vector<std::string> lines;
};

using ProgressSink = std::function<void(qint64 done, qint64 total)>;

// One operation on the worker thread: its parameters, its local file and what
// it heard from the server. Lives exactly as long as the operation.
class Operation
{
public:
    Operation(Op op, std::string subject, std::string localPath, ProgressSink progress)
        : m_op(op)
        , m_subject(std::move(subject))
        , m_localPath(std::move(localPath))
        , m_progress(std::move(progress))
    { }

    Outcome run(Session& session)
    {
        m_session = &session;
        if (m_op != Op::Connect) {
            std::string unsolicited;
            if (!session.easy || !controlAlive(session.controlFd, &unsolicited, sftp()))
                return fail(FtpResult::Kind::Lost,
                    unsolicited.empty() ? std::string("the server closed the connection")
                                        : "the server closed the connection (" + unsolicited + ")");
        }
        if (std::optional<Outcome> refused = openLocalFile())
            return std::move(*refused);

        if (m_op == Op::Connect)
            session.easy.reset(curl_easy_init());
        else {
            curl_multi_remove_handle(session.multi.get(), session.easy.get());
            curl_easy_reset(session.easy.get());
        }
        CURL* easy = session.easy.get();
        const bool named = m_op == Op::Store || m_op == Op::Retrieve;
        // The SSH handshake is SFTP's greeting: the connect waits under the
        // reply limit from there on.
        session.hostKey.answered = &session.greeted;
        if (!easy || !session.multi || !configureConnection(easy, session.login, remotePath(), &session.hostKey))
            return fail(FtpResult::Kind::NotSent, named ? "not a valid file name" : "not a valid host name");
        configureOperation(easy);
        const CURLcode code = ending() != Ending::None ? CURLE_ABORTED_BY_CALLBACK : performTransfer();
        return finish(code);
    }

private:
    Ending ending() const { return m_session->ending.load(); }

    // What curl_easy_perform() does, with one difference. libcurl 7.88 (and
    // every version before 8.4) can sit in a state with no socket and no
    // timer to wait on: when the reply to EPSV or PASV has already arrived
    // by the time libcurl first looks for it, libcurl takes it at once and
    // then waits before it opens the data connection, and curl_easy_perform()
    // waits a whole second for that. Here a wait with nothing to watch is
    // short. The handle stays in the session's multi handle until the next
    // operation, so that what the transfer left (the kept connection, its
    // socket) can still be asked for.
    CURLcode performTransfer()
    {
        CURLM* multi = m_session->multi.get();
        CURL* easy = m_session->easy.get();
        if (curl_multi_add_handle(multi, easy) != CURLM_OK)
            return CURLE_FAILED_INIT;
        for (;;) {
            int running = 0;
            if (curl_multi_perform(multi, &running) != CURLM_OK)
                return CURLE_FAILED_INIT;
            if (running == 0)
                break;
            // A name lookup has no socket to shut down, and libcurl asks no
            // callback while it waits for one: the window's thread wakes
            // this wait, and the transfer is given up here.
            if (ending() != Ending::None) {
                curl_multi_remove_handle(multi, easy);
                return CURLE_ABORTED_BY_CALLBACK;
            }
            fd_set readable;
            fd_set writable;
            fd_set other;
            FD_ZERO(&readable);
            FD_ZERO(&writable);
            FD_ZERO(&other);
            int highest = -1;
            curl_multi_fdset(multi, &readable, &writable, &other, &highest);
            const milliseconds wait = highest < 0 ? kNothingToWatchWait : kLongestSocketWait;
            if (curl_multi_poll(multi, nullptr, 0, static_cast<int>(wait.count()), nullptr) != CURLM_OK)
                return CURLE_FAILED_INIT;
        }
        CURLcode code = CURLE_FAILED_INIT;
        int queued = 0;
        while (const CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == easy)
                code = message->data.result;
        }
        return code;
    }

    bool sftp() const { return m_session->login.kind == ConnectionKind::Sftp; }
    // An SFTP request the server refused; the connection goes on.
    static bool sftpRefusal(CURLcode code)
    {
        return code == CURLE_REMOTE_FILE_NOT_FOUND || code == CURLE_REMOTE_ACCESS_DENIED
            || code == CURLE_REMOTE_DISK_FULL || code == CURLE_QUOTE_ERROR || code == CURLE_UPLOAD_FAILED;
    }

    // What the operation's URL names. SFTP: a change of folder and the
    // liveness check read a folder (its entries are dropped), a listing reads
    // the current one.
    std::string remotePath() const
    {
        const bool named = m_op == Op::Store || m_op == Op::Retrieve;
        if (!sftp())
            return named ? m_subject : std::string();
        switch (m_op) {
        case Op::Connect:
            return sftpPath({}, {});
        case Op::Cwd:
            return sftpPath(m_subject, {});
        case Op::Noop:
        case Op::List:
            return sftpPath(m_session->folder, {});
        case Op::Store:
        case Op::Retrieve:
            return sftpPath(m_session->folder, m_subject);
        }
        return {};
    }

    // The settings every handle of this operation gets, the certificate
    // probe's included: time limits and libcurl's sockets opened through us.
    void configureSockets(CURL* easy)
    {
        const Limits& limits = m_session->limits;
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        // A name lookup that is given up is left to end on libcurl's own
        // thread (getaddrinfo() cannot be stopped); without this libcurl
        // waits for it, however long the name server stays silent.
        curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L);
        curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, &Operation::onOpenSocket);
        curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, this);
        curl_easy_setopt(easy, CURLOPT_CLOSESOCKETFUNCTION, &SocketSet::onClose);
        curl_easy_setopt(easy, CURLOPT_CLOSESOCKETDATA, &m_session->sockets);
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connect.count()) + 1000L);
        curl_easy_setopt(
            easy, CURLOPT_SERVER_RESPONSE_TIMEOUT, (static_cast<long>(limits.idle.count()) + 999L) / 1000L + 1L);
    }

    Outcome fail(FtpResult::Kind kind, const std::string& detail, bool kept = false)
    {
        Outcome outcome;
        outcome.result.kind = kind;
        outcome.result.message = subjectPrefix() + ": " + detail;
        outcome.connectionKept = kept && m_op != Op::Connect;
        return outcome;
    }

    std::optional<Outcome> openLocalFile()
    {
        if (m_op == Op::Store) {
            m_source.reset(::open(m_localPath.c_str(), O_RDONLY | O_CLOEXEC));
            struct stat st
            { };
            if (m_source.get() < 0 || ::fstat(m_source.get(), &st) != 0)
                return fail(
                    FtpResult::Kind::LocalFile, "cannot read " + m_localPath + ": " + std::strerror(errno), true);
            m_size = st.st_size;
        } else if (m_op == Op::Retrieve) {
            try {
                m_part.emplace(m_localPath);
            } catch (const Error& e) {
                return fail(FtpResult::Kind::LocalFile, e.what(), true);
            }
        }
        return std::nullopt;
    }

    void configureOperation(CURL* easy)
    {
        const Limits& limits = m_session->limits;
        configureSockets(easy);
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, m_errorText);
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Operation::onHeader);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Operation::onWrite);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(easy, CURLOPT_READFUNCTION, &Operation::onRead);
        curl_easy_setopt(easy, CURLOPT_READDATA, this);
        curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Operation::onProgress);
        curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
        curl_easy_setopt(easy, CURLOPT_SOCKOPTFUNCTION, &Operation::onSocketOption);
        curl_easy_setopt(easy, CURLOPT_SOCKOPTDATA, this);
        // The client's watchdog gives up first; libcurl's limits only back it up.
        const long idleMs = static_cast<long>(limits.idle.count());
        curl_easy_setopt(easy, CURLOPT_ACCEPTTIMEOUT_MS, idleMs + 1000L);
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, limits.lowSpeedBytes);
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, static_cast<long>(limits.lowSpeedTime.count()));
        // Keep an idle connection for as long as the page keeps it open.
        curl_easy_setopt(easy, CURLOPT_MAXAGE_CONN, static_cast<long>(INT_MAX));
        curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBuffer);
        curl_easy_setopt(easy, CURLOPT_UPLOAD_BUFFERSIZE, sftp() ? kSftpSendBuffer : kSendBuffer);

        if (sftp()) {
            // Connect: log in only. A change of folder, the liveness check and
            // a listing read a folder; a file moves by its path.
            if (m_op == Op::Connect)
                curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
            else if (m_op == Op::Store) {
                curl_easy_setopt(easy, CURLOPT_UPLOAD, 1L);
                curl_easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(m_size));
            }
            return;
        }
        switch (m_op) {
        case Op::Connect:
            // Log in only: binary type and the system type are asked for at once.
            m_commands = commandList({ "TYPE I", "*SYST" });
            break;
        case Op::Cwd:
            m_commands = commandList({ "CWD " + m_subject });
            break;
        case Op::Noop:
            m_commands = commandList({ "NOOP" });
            break;
        case Op::Store:
            curl_easy_setopt(easy, CURLOPT_UPLOAD, 1L);
            curl_easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(m_size));
            break;
        case Op::Retrieve:
            // Straight to RETR: a SIZE refusal would hide the RETR reply, and
            // some servers refuse SIZE for files they would send.
            curl_easy_setopt(easy, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
            break;
        case Op::List:
            m_listCommand = m_subject.empty() ? std::string("LIST") : "LIST " + m_subject;
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, m_listCommand.c_str());
            break;
        }
        if (m_commands) {
            curl_easy_setopt(easy, CURLOPT_QUOTE, m_commands.get());
            curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
        }
    }

    Outcome finish(CURLcode code)
    {
        Session& session = *m_session;
        CURL* easy = session.easy.get();
        curl_socket_t active = CURL_SOCKET_BAD;
        curl_easy_getinfo(easy, CURLINFO_ACTIVESOCKET, &active);
        long osErrno = 0;
        curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &osErrno);
        if (m_op == Op::Connect && code == CURLE_OK && active != CURL_SOCKET_BAD) {
            session.controlFd = active;
            socklen_t length = sizeof session.peer;
            ::getpeername(active, reinterpret_cast<sockaddr*>(&session.peer), &length);
        }
        postProgress(true);

        // After a failure the connection is kept only when the server refused
        // the request with a reply and is still there; anything else (time-out,
        // lost connection, aborted transfer) leaves it unusable.
        bool kept = session.controlFd != CURL_SOCKET_BAD && active == session.controlFd && ending() == Ending::None;
        if (m_op == Op::Connect && ending() == Ending::None) {
            const auto prepare = [this](CURL* probe) { configureSockets(probe); };
            if (std::optional<IdentityProblem> problem
                = identityProblem(code, easy, session.login, session.hostKey, prepare)) {
                const std::string what = sftp() ? "host key" : "certificate";
                Outcome outcome = fail(FtpResult::Kind::Untrusted,
                    problem->changed ? "the server's " + what + " has changed"
                                     : "the server's " + what + " is not trusted");
                outcome.result.identity = std::move(problem);
                return outcome;
            }
        }
        if (code != CURLE_OK || m_newConnectionRefused) {
            std::string unsolicited;
            // SFTP has no replies: a refused file or folder is a status of
            // the SFTP channel, after which the connection goes on.
            const bool refused = sftp() ? sftpRefusal(code) : replyCode(m_replies.last()) >= 400;
            kept = kept && refused && controlAlive(session.controlFd, &unsolicited, sftp());
            Outcome outcome = describe(code, static_cast<int>(osErrno));
            outcome.connectionKept = kept && m_op != Op::Connect;
            return outcome;
        }
        if (sftp() && m_op == Op::Cwd)
            session.folder = m_subject;
        if (m_part) {
            try {
                m_part->commit();
            } catch (const Error& e) {
                return fail(FtpResult::Kind::LocalFile, e.what(), kept);
            }
        }
        Outcome outcome;
        outcome.connectionKept = kept;
        if (m_op == Op::List)
            outcome.lines = listedLines();
        return outcome;
    }

    // The listing's lines. SFTP reads the whole folder: the lines whose name
    // matches the argument's pattern are what LIST with it would give.
    std::vector<std::string> listedLines() const
    {
        std::vector<std::string> lines = splitLines(m_listData);
        if (!sftp() || m_subject.empty())
            return lines;
        std::vector<std::string> matching;
        for (std::string& line : lines) {
            const std::string name(listedName(line));
            if (!name.empty() && ::fnmatch(m_subject.c_str(), name.c_str(), FNM_PERIOD) == 0)
                matching.push_back(std::move(line));
        }
        return matching;
    }

    Outcome describe(CURLcode code, int osErrno)
    {
        Outcome outcome = describeFailure(code, osErrno);
        // The server could not reach us for a data connection: behind a home
        // router passive mode is the cure, which is the user's choice.
        const bool activeDataFailed
            = code == CURLE_FTP_PORT_FAILED || code == CURLE_FTP_ACCEPT_TIMEOUT || replyCode(m_replies.last()) == 425;
        if (m_session->login.kind == ConnectionKind::FtpActive && activeDataFailed && ending() == Ending::None)
            outcome.result.message = withPassiveModeHint(outcome.result.message);
        return outcome;
    }

    Outcome describeFailure(CURLcode code, int osErrno)
    {
        using Kind = FtpResult::Kind;
        const Limits& limits = m_session->limits;
        const std::string& reply = m_replies.last();
        const bool errorReply = replyCode(reply) >= 400;
        const std::string curlText = m_errorText[0] ? m_errorText : curl_easy_strerror(code);
        Outcome outcome;
        switch (ending()) {
        case Ending::Cancelled:
            outcome.result.kind = Kind::Cancelled;
            outcome.result.message = "Transfer cancelled";
            return outcome;
        case Ending::TimedOut:
            if (m_op == Op::Connect && !m_session->greeted)
                return fail(Kind::TimedOut, "no connection within " + secondsText(limits.connect));
            return fail(Kind::TimedOut, "no answer from the server for " + secondsText(limits.idle));
        case Ending::Closed:
            return fail(Kind::Cancelled, "the connection was closed");
        case Ending::None:
            break;
        }
        if (m_listTooLong)
            return fail(Kind::Lost,
                "the listing is longer than " + std::to_string(FtpClient::kMaxListingLines) + " lines or "
                    + std::to_string(FtpClient::kMaxListingBytes / (1024 * 1024)) + " MB; it was not read to its end");
        if (!m_foreignPeer.empty())
            return fail(
                Kind::Lost, "a data connection came from " + m_foreignPeer + ", not from the server; it was refused");
        if (m_fileErrno != 0)
            return fail(Kind::LocalFile,
                (m_op == Op::Store ? "cannot read " : "cannot write ") + m_localPath + ": "
                    + std::strerror(m_fileErrno));
        if (code == CURLE_LOGIN_DENIED && m_op == Op::Connect) {
            outcome.result.kind = Kind::Refused;
            outcome.result.reply = reply;
            outcome.result.message
                = "Login to " + m_session->login.host + " refused: " + (errorReply ? reply : curlText);
            return outcome;
        }
        // libssh2 reports a connection the server closed as an error of its
        // layer.
        std::string unsolicited;
        if (sftp() && code == CURLE_SSH && !controlAlive(m_session->controlFd, &unsolicited, true))
            return fail(Kind::Lost, "the server closed the connection");
        if (sftp() && sftpRefusal(code)) {
            // libcurl's "Could not open remote file for reading: No such
            // file or directory": the operation's own prefix says the first part.
            const std::size_t colon = curlText.rfind(": ");
            return fail(Kind::Refused, colon == std::string::npos ? curlText : curlText.substr(colon + 2));
        }
        if (errorReply) {
            outcome = fail(Kind::Refused, reply);
            outcome.result.reply = reply;
            return outcome;
        }
        // The client's own watchdog ends waits for replies; a time-out of
        // libcurl's while data moves is its low-speed limit. (Its error text
        // may be that of an earlier, harmless complaint.)
        const bool movesData = m_op == Op::Store || m_op == Op::Retrieve || m_op == Op::List;
        if (code == CURLE_OPERATION_TIMEDOUT && movesData && m_progressDone > 0)
            return fail(Kind::TimedOut,
                "the transfer was slower than " + rateText(limits.lowSpeedBytes) + " for "
                    + secondsText(std::chrono::duration_cast<milliseconds>(limits.lowSpeedTime)));
        // A reply libcurl would not read is no closed connection: say what it was.
        std::string lowered = curlText;
        std::transform(lowered.begin(), lowered.end(), lowered.begin(),
            [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (lowered.find("too large") != std::string::npos || lowered.find("too big") != std::string::npos)
            return fail(Kind::Lost, "the server's reply is too long (" + curlText + ")");
        if (m_newConnectionRefused || code == CURLE_RECV_ERROR || code == CURLE_SEND_ERROR || code == CURLE_GOT_NOTHING
            || code == CURLE_PARTIAL_FILE || code == CURLE_FTP_ACCEPT_FAILED)
            return fail(Kind::Lost, "the server closed the connection");
        if (code == CURLE_COULDNT_CONNECT && osErrno != 0)
            return fail(Kind::Lost, std::strerror(osErrno));
        return fail(code == CURLE_OPERATION_TIMEDOUT ? Kind::TimedOut : Kind::Lost, curlText);
    }

    std::string subjectPrefix() const
    {
        switch (m_op) {
        case Op::Connect:
            return "Cannot connect to " + m_session->login.host + " on port " + std::to_string(m_session->login.port);
        case Op::Cwd:
            return "Cannot change to the folder " + m_subject;
        case Op::Noop:
            return "Cannot reach the server";
        case Op::Store:
            return "Cannot upload " + m_subject;
        case Op::Retrieve:
            return "Cannot download " + m_subject;
        case Op::List:
            return m_subject.empty() ? std::string("Cannot list the folder") : "Cannot list " + m_subject;
        }
        return "FTP";
    }

    void postProgress(bool last)
    {
        if (!m_progressChanged || !m_progress)
            return;
        const auto now = Clock::now();
        if (!last && now - m_lastPosted < kProgressInterval && m_progressDone != m_progressTotal)
            return;
        m_progressChanged = false;
        m_lastPosted = now;
        m_progress(m_progressDone, m_progressTotal);
    }

    // --- libcurl's callbacks, on the worker thread ---

    static size_t onHeader(char* data, size_t size, size_t count, void* userp)
    {
        auto* self = static_cast<Operation*>(userp);
        self->m_replies.feed(std::string(data, size * count));
        self->m_session->greeted = true;
        self->m_session->touch();
        return size * count;
    }

    static size_t onWrite(char* data, size_t size, size_t count, void* userp)
    {
        auto* self = static_cast<Operation*>(userp);
        const size_t bytes = size * count;
        // SFTP reads a folder to change to it or to see the server answer.
        if (self->m_op == Op::Cwd || self->m_op == Op::Noop)
            return bytes;
        if (self->m_op == Op::List) {
            self->m_listLines += static_cast<std::size_t>(std::count(data, data + bytes, '\n'));
            if (self->m_listLines > FtpClient::kMaxListingLines
                || self->m_listData.size() + bytes > FtpClient::kMaxListingBytes) {
                self->m_listTooLong = true;
                return 0;
            }
            self->m_listData.append(data, bytes);
            return bytes;
        }
        const int fd = self->m_part ? self->m_part->fd() : -1;
        size_t written = 0;
        while (written < bytes) {
            const ssize_t n = ::write(fd, data + written, bytes - written);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                self->m_fileErrno = errno;
                return 0;
            }
            written += static_cast<size_t>(n);
        }
        return bytes;
    }

    static size_t onRead(char* buffer, size_t size, size_t count, void* userp)
    {
        auto* self = static_cast<Operation*>(userp);
        for (;;) {
            const ssize_t n = ::read(self->m_source.get(), buffer, size * count);
            if (n >= 0)
                return static_cast<size_t>(n);
            if (errno != EINTR) {
                self->m_fileErrno = errno;
                return CURL_READFUNC_ABORT;
            }
        }
    }

    static int onProgress(void* userp, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t ulTotal, curl_off_t ulNow)
    {
        auto* self = static_cast<Operation*>(userp);
        qint64 done = -1;
        qint64 total = -1;
        if (self->m_op == Op::Store) {
            done = ulNow;
            total = ulTotal > 0 ? ulTotal : -1;
        } else if (self->m_op == Op::Retrieve || self->m_op == Op::List) {
            done = dlNow;
            total = dlTotal > 0 ? dlTotal : -1;
        }
        if (done >= 0 && (done != self->m_progressDone || total != self->m_progressTotal)) {
            self->m_progressDone = done;
            self->m_progressTotal = total;
            self->m_progressChanged = true;
            self->m_session->touch();
        }
        self->postProgress(false);
        return self->ending() != Ending::None ? 1 : 0;
    }

    static curl_socket_t onOpenSocket(void* userp, curlsocktype, curl_sockaddr* address)
    {
        auto* self = static_cast<Operation*>(userp);
        int port = 0;
        if (address->family == AF_INET)
            port = ntohs(reinterpret_cast<const sockaddr_in*>(&address->addr)->sin_port);
        else if (address->family == AF_INET6)
            port = ntohs(reinterpret_cast<const sockaddr_in6*>(&address->addr)->sin6_port);
        // Port 0 is the listening socket of an active-mode data connection.
        // A new control connection after the connect would mean libcurl
        // replacing a connection the server closed: the folder changed to
        // would be lost, so the operation must fail instead.
        // Passive-mode data connections go to other ports of the server.
        if (port != 0 && port == self->m_session->login.port && self->m_op != Op::Connect) {
            self->m_newConnectionRefused = true;
            return CURL_SOCKET_BAD;
        }
        return self->m_session->sockets.open(*address);
    }

    // A data connection is taken only from the address the control
    // connection goes to: anyone else on the path could inject a listing or
    // receive an upload.
    static int onSocketOption(void* userp, curl_socket_t fd, curlsocktype purpose)
    {
        auto* self = static_cast<Operation*>(userp);
        if (purpose != CURLSOCKTYPE_ACCEPT)
            return CURL_SOCKOPT_OK;
        sockaddr_storage from{};
        socklen_t length = sizeof from;
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&from), &length) == 0
            && sameAddress(from, self->m_session->peer))
            return CURL_SOCKOPT_OK;
        self->m_foreignPeer = addressText(from);
        if (self->m_foreignPeer.empty())
            self->m_foreignPeer = "an unknown address";
        return CURL_SOCKOPT_ERROR;
    }

    const Op m_op;
    const std::string m_subject;
    const std::string m_localPath;
    const ProgressSink m_progress;
    Session* m_session = nullptr;

    UniqueFd m_source;
    off_t m_size = 0;
    // A download's temporary file beside its target (beside the file a
    // symbolic link leads to): renamed over it only when complete.
    std::optional<AtomicFile> m_part;
    CommandList m_commands;
    std::string m_listCommand;
    std::string m_listData;
    std::size_t m_listLines = 0;
    bool m_listTooLong = false;
    ReplyReader m_replies;
    char m_errorText[CURL_ERROR_SIZE] = {};
    int m_fileErrno = 0;
    bool m_newConnectionRefused = false;
    std::string m_foreignPeer;
    qint64 m_progressDone = -1;
    qint64 m_progressTotal = -1;
    bool m_progressChanged = false;
    Clock::time_point m_lastPosted;
};

} // namespace

// --- the window's side ---

class FtpClient::Private
{
public:
    explicit Private(FtpClient* client)
        : q(client)
        , mailbox(std::make_shared<Mailbox>(client))
        , worker(std::make_shared<Worker>())
    {
        static CurlGlobal global;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, q, [this] { checkDeadline(); });
    }

    // The mailbox closes first: nothing the worker still sends reaches this
    // object. Posted results refer to it only from the client's own thread.
    ~Private()
    {
        mailbox->close();
        closeSession();
        worker->stop(kWorkerExitWait);
    }

    // Starts an operation on the worker thread.
    void start(Op op, std::string subject, std::string localPath, Done newDone, Listed newListed)
    {
        begin(std::move(newDone), std::move(newListed));
        runningOp = op;
        opStart = Clock::now();
        session->touch();
        const quint64 gen = generation;
        auto operation = std::make_shared<Operation>(
            op, std::move(subject), std::move(localPath), [this, gen, box = mailbox](qint64 moved, qint64 total) {
                box->post([this, gen, moved, total] {
                    if (gen == generation)
                        Q_EMIT q->progress(moved, total);
                });
            });
        session->operationStarted();
        worker->post([operation, s = session, box = mailbox, this, gen]() mutable {
            auto outcome = std::make_shared<Outcome>(operation->run(*s));
            // The operation's local files are closed or removed from here on.
            operation.reset();
            s->operationEnded();
            box->post([this, gen, outcome] { deliver(gen, std::move(*outcome)); });
        });
        armWatchdog();
    }

    // Ends an operation that never reached the worker, from the event loop.
    void refuse(const std::string& message, bool dropConnection, Done newDone, Listed newListed = nullptr)
    {
        begin(std::move(newDone), std::move(newListed));
        Outcome outcome;
        outcome.result.kind = FtpResult::Kind::NotSent;
        outcome.result.message = message;
        outcome.connectionKept = !dropConnection && connected && session;
        const quint64 gen = generation;
        QMetaObject::invokeMethod(
            q, [this, gen, outcome]() mutable { deliver(gen, std::move(outcome)); }, Qt::QueuedConnection);
    }

    void begin(Done newDone, Listed newListed)
    {
        if (busy)
            throw std::logic_error("FtpClient: an operation is already running");
        busy = true;
        done = std::move(newDone);
        listed = std::move(newListed);
    }

    void deliver(quint64 gen, Outcome outcome)
    {
        if (gen != generation)
            return;
        busy = false;
        watchdog.stop();
        Done finishedDone = std::move(done);
        Listed finishedListed = std::move(listed);
        done = nullptr;
        listed = nullptr;
        if (!outcome.connectionKept) {
            closeSession();
            connected = false;
        }
        if (finishedListed)
            finishedListed(outcome.result, std::move(outcome.lines));
        else if (finishedDone)
            finishedDone(outcome.result);
    }

    void armWatchdog()
    {
        const auto limit = runningOp == Op::Connect && !session->greeted ? limits.connect : limits.idle;
        watchdog.start(std::min(limit, milliseconds(1000)));
    }

    void checkDeadline()
    {
        if (!busy || !session)
            return;
        const auto now = Clock::now();
        const bool waitingForConnection = runningOp == Op::Connect && !session->greeted;
        const auto deadline
            = waitingForConnection ? opStart + session->limits.connect : session->lastActive() + session->limits.idle;
        if (now >= deadline) {
            session->end(Ending::TimedOut);
            return;
        }
        watchdog.start(std::chrono::duration_cast<milliseconds>(deadline - now) + milliseconds(1));
    }

    // Drops the connection without QUIT: its sockets are shut down here, at
    // once; libcurl's handle is released on the worker thread.
    void closeSession()
    {
        if (!session)
            return;
        session->end(Ending::Closed);
        // With its sockets shut down the operation ends at once; waiting for
        // it means no half-written file outlives the call.
        session->waitForOperation(kWorkerExitWait);
        worker->post([released = std::move(session)]() mutable { released.reset(); });
        session.reset();
    }

    FtpClient* q;
    std::shared_ptr<Mailbox> mailbox;
    std::shared_ptr<Worker> worker;
    Login settings;
    Limits limits;

    std::shared_ptr<Session> session;
    bool connected = false;
    bool busy = false;
    quint64 generation = 0;
    Op runningOp = Op::Connect;
    Clock::time_point opStart;
    QTimer watchdog;
    Done done;
    Listed listed;
};

FtpClient::FtpClient(QObject* parent)
    : QObject(parent)
    , d(std::make_unique<Private>(this))
{ }

FtpClient::~FtpClient()
{
    ++d->generation;
}

void FtpClient::setServer(const FtpServerData& server, std::optional<ServerIdentity> trusted)
{
    static_cast<FtpServerData&>(d->settings) = server;
    d->settings.trusted = std::move(trusted);
}

void FtpClient::setTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds idle)
{
    d->limits.connect = std::max(connect, std::chrono::milliseconds(1));
    d->limits.idle = std::max(idle, std::chrono::milliseconds(1));
}

void FtpClient::setLowSpeedLimit(long bytesPerSecond, std::chrono::seconds time)
{
    d->limits.lowSpeedBytes = std::max(bytesPerSecond, 1L);
    d->limits.lowSpeedTime = std::max(time, std::chrono::seconds(1));
}

bool FtpClient::isConnected() const
{
    return d->connected;
}

bool FtpClient::isBusy() const
{
    return d->busy;
}

void FtpClient::connectToHost(Done done)
{
    if (d->connected)
        throw std::logic_error("FtpClient: already connected");
    const Login& login = d->settings;
    const std::string prefix = "Cannot connect to " + login.host + " on port " + std::to_string(login.port) + ": ";
    d->connected = true;
    if (login.host.empty())
        return d->refuse(prefix + "no host name given", true, std::move(done));
    if (holdsLineBreak(login.host) || holdsLineBreak(login.user) || holdsLineBreak(login.password))
        return d->refuse(prefix + "the host name, user name or password holds a line break", true, std::move(done));
    if (login.port <= 0 || login.port > 65535)
        return d->refuse(prefix + "not a port number", true, std::move(done));
    d->session = std::make_shared<Session>(login, d->limits);
    d->start(Op::Connect, {}, {}, std::move(done), nullptr);
}

void FtpClient::changeDirectory(const std::string& folder, Done done)
{
    if (holdsLineBreak(folder))
        return d->refuse(
            "Cannot change to the folder " + folder + ": the name holds a line break", false, std::move(done));
    if (!d->session)
        return d->refuse("Cannot change to the folder " + folder + ": not connected", false, std::move(done));
    d->start(Op::Cwd, folder, {}, std::move(done), nullptr);
}

void FtpClient::checkAlive(Done done)
{
    if (!d->session)
        return d->refuse("Cannot reach the server: not connected", false, std::move(done));
    d->start(Op::Noop, {}, {}, std::move(done), nullptr);
}

void FtpClient::store(const std::string& localPath, const std::string& remoteName, Done done)
{
    if (remoteName.empty() || holdsLineBreak(remoteName))
        return d->refuse("Cannot upload " + remoteName + ": not a valid file name", false, std::move(done));
    if (!d->session)
        return d->refuse("Cannot upload " + remoteName + ": not connected", false, std::move(done));
    d->start(Op::Store, remoteName, localPath, std::move(done), nullptr);
}

void FtpClient::retrieve(const std::string& remoteName, const std::string& localPath, Done done)
{
    if (remoteName.empty() || holdsLineBreak(remoteName))
        return d->refuse("Cannot download " + remoteName + ": not a valid file name", false, std::move(done));
    if (!d->session)
        return d->refuse("Cannot download " + remoteName + ": not connected", false, std::move(done));
    d->start(Op::Retrieve, remoteName, localPath, std::move(done), nullptr);
}

void FtpClient::list(const std::string& argument, Listed done)
{
    const std::string prefix = argument.empty() ? std::string("Cannot list the folder") : "Cannot list " + argument;
    if (holdsLineBreak(argument))
        return d->refuse(prefix + ": the argument holds a line break", false, nullptr, std::move(done));
    if (!d->session)
        return d->refuse(prefix + ": not connected", false, nullptr, std::move(done));
    d->start(Op::List, argument, {}, nullptr, std::move(done));
}

void FtpClient::disconnect()
{
    ++d->generation;
    d->busy = false;
    d->watchdog.stop();
    d->done = nullptr;
    d->listed = nullptr;
    d->closeSession();
    d->connected = false;
}

void FtpClient::cancel()
{
    if (d->busy && d->session)
        d->session->end(Ending::Cancelled);
}

} // namespace velth
