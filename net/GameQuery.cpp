#include "net/GameServer.h"

#include "net/GameWire.h"

#include <QHostInfo>
#include <QTimer>
#include <QUdpSocket>
#include <QVariant>

#include <algorithm>
#include <array>
#include <cmath>
#include <deque>
#include <set>
#include <unordered_map>

// One engine serves every query of a GameQuery: one UDP socket per address
// family, one precise timer, a queue of datagrams waiting for their turn to
// leave, and a table that routes each reply to the queries of the address and
// port it came from (anything else is dropped).
//
// A query asks for the info first; once the server answers, it fetches the
// players' and rules' challenge with one request and then asks for players
// and rules at once. Their split replies cannot be mixed up: the parts of
// each answer carry its request id, the joined payload says which reply it is,
// and parts of two answers are only combined where they agree.

namespace velth {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// Challenge replies taken per request, so that a server answering every
// request with a new challenge cannot keep a query going.
constexpr int kMaxChallengeReplies = 3;
// Before the server has answered anything the first wait is this short, and
// grows on each retry; once a round trip is known, a request is sent again
// after kRoundTrips of them, never sooner than kMinWait.
constexpr auto kFirstWait = 250ms;
constexpr auto kMinWait = 50ms;
constexpr int kRoundTrips = 3;
constexpr double kGrowth = 1.5;
// Datagrams let through at once before the send rate holds them back.
constexpr double kBurst = 48;
constexpr int kMaxDatagramsAtOnce = 512;

enum Request : std::size_t { InfoRequest, ChallengeRequest, PlayersRequest, RulesRequest, kRequests };

struct RequestState
{
    bool wanted = false; // asked and neither answered nor given up
    bool queued = false; // waiting for its turn to be sent
    bool free = false; // the next send answers a challenge: not a retry
    int attempts = 0;
    int sinceReply = 0; // sends since the last reply to it: one makes a round trip certain
    int challengeReplies = 0;
    Clock::time_point firstSent{};
    Clock::time_point lastSent{};
    Clock::time_point due = Clock::time_point::max(); // when it is sent again
};

enum class JobState { Waiting, Resolving, Running, Finished };

struct Job
{
    GameAddress address;
    unsigned parts = QueryInfo;
    GameQuery::Limits limits;
    GameQuery::Done done;
    JobState state = JobState::Waiting;
    int lookupId = -1;
    QHostAddress target;
    std::string route;
    Clock::time_point deadline = Clock::time_point::max();
    Clock::time_point wake = Clock::time_point::max();
    std::array<RequestState, kRequests> requests;
    std::optional<QByteArray> infoChallenge;
    QByteArray challenge = QByteArray(4, '\xff');
    std::optional<Clock::duration> roundTrip;
    bool pingCertain = false;
    std::optional<Clock::duration> pingBound;
    gamewire::SplitAssembler split;
    GameQueryResult result;
};

// The same address in one spelling: an IPv4 address written as IPv6 is IPv4.
QHostAddress plain(const QHostAddress& address)
{
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    return ok ? QHostAddress(v4) : address;
}

std::string routeOf(const QHostAddress& address, quint16 port)
{
    return plain(address).toString().toStdString() + '#' + std::to_string(port);
}

std::chrono::milliseconds millis(Clock::duration d)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(d);
}

} // namespace

class GameQuery::Private
{
public:
    explicit Private(GameQuery* owner)
        : q(owner)
    {
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, q, [this] { service(); });
    }

    ~Private()
    {
        for (QUdpSocket* socket : { v4, v6 })
            delete socket;
    }

    GameQuery* const q;
    GameQuery::Limits limits;
    std::uint64_t nextId = 1;
    std::unordered_map<std::uint64_t, std::unique_ptr<Job>> jobs;
    std::deque<std::uint64_t> waiting;
    int active = 0;
    std::set<std::pair<Clock::time_point, std::uint64_t>> schedule;
    std::deque<std::pair<std::uint64_t, Request>> sends;
    double tokens = kBurst;
    Clock::time_point tokensAt = Clock::now();
    std::unordered_multimap<std::string, std::uint64_t> routes;
    QUdpSocket* v4 = nullptr;
    QUdpSocket* v6 = nullptr;
    QTimer timer;

    Job* find(std::uint64_t id)
    {
        auto it = jobs.find(id);
        return it == jobs.end() ? nullptr : it->second.get();
    }

    // --- the engine's loop ----------------------------------------------------

    // Starts waiting queries, sends again what is due, lets queued datagrams
    // leave as the rate allows, and sets the timer for what comes next.
    void service()
    {
        const Clock::time_point now = Clock::now();
        admit();
        while (!schedule.empty() && schedule.begin()->first <= now) {
            const std::uint64_t id = schedule.begin()->second;
            schedule.erase(schedule.begin());
            if (Job* job = find(id)) {
                job->wake = Clock::time_point::max();
                onWake(id, *job, now);
            }
        }
        admit();
        pump(now);
        arm(now);
    }

    void admit()
    {
        while (active < std::max(1, limits.inFlight) && !waiting.empty()) {
            const std::uint64_t id = waiting.front();
            waiting.pop_front();
            Job* job = find(id);
            if (!job || job->state != JobState::Waiting)
                continue;
            ++active;
            start(id, *job);
        }
    }

    void pump(Clock::time_point now)
    {
        const double rate = std::max(1, limits.sendRate);
        tokens = std::min(kBurst, tokens + std::chrono::duration<double>(now - tokensAt).count() * rate);
        tokensAt = now;
        while (!sends.empty()) {
            const auto [id, request] = sends.front();
            Job* job = find(id);
            if (!job || job->state != JobState::Running || !job->requests[request].queued) {
                sends.pop_front();
                continue;
            }
            if (tokens < 1)
                break;
            tokens -= 1;
            sends.pop_front();
            send(id, *job, request, now);
        }
    }

    void arm(Clock::time_point now)
    {
        Clock::time_point next = Clock::time_point::max();
        if (!schedule.empty())
            next = schedule.begin()->first;
        if (!sends.empty()) {
            const double rate = std::max(1, limits.sendRate);
            const auto wait = std::chrono::duration<double>(std::max(0.0, 1 - tokens) / rate);
            next = std::min(next, now + std::chrono::duration_cast<Clock::duration>(wait));
        }
        if (!waiting.empty() && active < std::max(1, limits.inFlight))
            next = now;
        if (next == Clock::time_point::max()) {
            timer.stop();
            return;
        }
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(std::max(next - now, Clock::duration::zero()));
        timer.start(static_cast<int>(std::min<std::chrono::milliseconds::rep>(ms.count(), 24 * 3600 * 1000)));
    }

    void soon() { timer.start(0); }

    // --- one query --------------------------------------------------------------

    void start(std::uint64_t id, Job& job)
    {
        if (job.limits.total.count() > 0)
            job.deadline = Clock::now() + job.limits.total;
        if (auto numeric = gamewire::numericAddress(job.address.host)) {
            useAddress(id, job, *numeric);
            return;
        }
        job.state = JobState::Resolving;
        job.lookupId
            = QHostInfo::lookupHost(QString::fromStdString(job.address.host), q, [this, id](const QHostInfo& info) {
                  if (Job* found = find(id))
                      onLookedUp(id, *found, info);
                  service();
              });
        reschedule(id, job);
    }

    void onLookedUp(std::uint64_t id, Job& job, const QHostInfo& info)
    {
        job.lookupId = -1;
        const QList<QHostAddress> addresses = info.addresses();
        if (info.error() != QHostInfo::NoError || addresses.isEmpty()) {
            fail(id, job, "Cannot find the host " + job.address.host + ".");
            return;
        }
        // IPv4 first: a game server that listens on both answers there.
        for (const QHostAddress& address : addresses) {
            if (address.protocol() == QAbstractSocket::IPv4Protocol) {
                useAddress(id, job, address);
                return;
            }
        }
        useAddress(id, job, addresses.front());
    }

    QUdpSocket* socketFor(const QHostAddress& address, std::string& error)
    {
        const bool v6Address = address.protocol() == QAbstractSocket::IPv6Protocol;
        QUdpSocket*& socket = v6Address ? v6 : v4;
        if (socket)
            return socket;
        auto* opened = new QUdpSocket(q);
        if (!opened->bind(v6Address ? QHostAddress(QHostAddress::AnyIPv6) : QHostAddress(QHostAddress::AnyIPv4), 0)) {
            error = opened->errorString().toStdString();
            delete opened;
            return nullptr;
        }
        // Room for the replies of the queries in flight while the loop is busy.
        opened->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, QVariant(4 << 20));
        QObject::connect(opened, &QUdpSocket::readyRead, q, [this, opened] { onReadyRead(opened); });
        socket = opened;
        return socket;
    }

    void useAddress(std::uint64_t id, Job& job, const QHostAddress& address)
    {
        job.target = plain(address);
        std::string error;
        if (!socketFor(job.target, error)) {
            fail(id, job, "Cannot open a UDP socket for " + toString(job.address) + ": " + error);
            return;
        }
        job.state = JobState::Running;
        job.route = routeOf(job.target, static_cast<quint16>(job.address.port));
        routes.emplace(job.route, id);
        want(id, job, InfoRequest);
    }

    void want(std::uint64_t id, Job& job, Request request)
    {
        RequestState& r = job.requests[request];
        r.wanted = true;
        if (r.queued)
            return;
        r.queued = true;
        r.due = Clock::time_point::max();
        sends.emplace_back(id, request);
        reschedule(id, job);
    }

    // Sent again at once, and not counted as a retry: the answer to a challenge.
    void resendFree(std::uint64_t id, Job& job, Request request)
    {
        job.requests[request].free = true;
        job.requests[request].sinceReply = 0;
        want(id, job, request);
    }

    void send(std::uint64_t id, Job& job, Request request, Clock::time_point now)
    {
        QByteArray datagram;
        switch (request) {
        case InfoRequest:
            datagram = gamewire::infoRequest(job.infoChallenge);
            break;
        case ChallengeRequest:
            datagram = gamewire::challengedRequest(job.parts & QueryPlayers ? 'U' : 'V', job.challenge);
            break;
        case PlayersRequest:
            datagram = gamewire::challengedRequest('U', job.challenge);
            break;
        case RulesRequest:
            datagram = gamewire::challengedRequest('V', job.challenge);
            break;
        case kRequests:
            return;
        }
        RequestState& r = job.requests[request];
        r.queued = false;
        if (!r.free)
            ++r.attempts;
        r.free = false;
        ++r.sinceReply;
        if (r.firstSent == Clock::time_point{})
            r.firstSent = now;
        r.lastSent = now;
        r.due = now + waitFor(job, r);
        // A datagram that cannot leave counts as lost: the retries and the
        // time-out decide, as for one lost on the way.
        QUdpSocket* socket = job.target.protocol() == QAbstractSocket::IPv6Protocol ? v6 : v4;
        if (socket)
            socket->writeDatagram(datagram, job.target, static_cast<quint16>(job.address.port));
        reschedule(id, job);
    }

    Clock::duration waitFor(const Job& job, const RequestState& r) const
    {
        const Clock::duration cap = job.limits.timeout;
        if (job.limits.total.count() == 0 && r.attempts > job.limits.retries)
            return cap;
        const Clock::duration base = job.roundTrip
            ? std::clamp<Clock::duration>(*job.roundTrip * kRoundTrips, kMinWait, cap)
            : std::min<Clock::duration>(kFirstWait, cap);
        const double grown = static_cast<double>(base.count()) * std::pow(kGrowth, std::max(0, r.attempts - 1));
        return std::min(cap, Clock::duration(static_cast<Clock::rep>(std::min(grown, 1e15))));
    }

    void reschedule(std::uint64_t id, Job& job)
    {
        Clock::time_point wake = job.deadline;
        for (const RequestState& r : job.requests) {
            if (r.wanted && !r.queued)
                wake = std::min(wake, r.due);
        }
        if (wake == job.wake)
            return;
        if (job.wake != Clock::time_point::max())
            schedule.erase({ job.wake, id });
        job.wake = wake;
        if (wake != Clock::time_point::max())
            schedule.emplace(wake, id);
    }

    void onWake(std::uint64_t id, Job& job, Clock::time_point now)
    {
        if (job.state == JobState::Finished)
            return;
        if (now >= job.deadline) {
            finish(id, job);
            return;
        }
        for (std::size_t i = 0; i < kRequests && job.state == JobState::Running; ++i) {
            const auto request = static_cast<Request>(i);
            RequestState& r = job.requests[request];
            if (!r.wanted || r.queued || r.due > now)
                continue;
            if (r.attempts > job.limits.retries)
                giveUp(id, job, request);
            else
                want(id, job, request);
        }
        if (job.state != JobState::Finished)
            reschedule(id, job);
    }

    void giveUp(std::uint64_t id, Job& job, Request request)
    {
        job.requests[request].wanted = false;
        if (request == InfoRequest) {
            finish(id, job); // offline
            return;
        }
        if (request == ChallengeRequest) {
            job.requests[PlayersRequest].wanted = false;
            job.requests[RulesRequest].wanted = false;
        }
        finishWhenDone(id, job);
    }

    void finishWhenDone(std::uint64_t id, Job& job)
    {
        for (const RequestState& r : job.requests) {
            if (r.wanted)
                return;
        }
        finish(id, job);
    }

    // --- replies ----------------------------------------------------------------

    void onReadyRead(QUdpSocket* socket)
    {
        QByteArray buffer(static_cast<qsizetype>(gamewire::kMaxDatagram), '\0');
        std::vector<std::uint64_t> ids;
        // A bounded batch, so that a flood cannot hold the window's thread:
        // what is left is read from the event loop, after what waits there.
        int read = 0;
        for (; read < kMaxDatagramsAtOnce && socket->hasPendingDatagrams(); ++read) {
            QHostAddress sender;
            quint16 senderPort = 0;
            const qint64 got = socket->readDatagram(buffer.data(), buffer.size(), &sender, &senderPort);
            if (got < 0)
                break;
            ids.clear();
            const auto [first, last] = routes.equal_range(routeOf(sender, senderPort));
            for (auto it = first; it != last; ++it)
                ids.push_back(it->second);
            const std::string_view datagram(buffer.constData(), static_cast<std::size_t>(got));
            for (const std::uint64_t id : ids) {
                Job* job = find(id);
                if (job && job->state == JobState::Running
                    && gamewire::sameEndpoint(sender, senderPort, job->target, static_cast<quint16>(job->address.port)))
                    onDatagram(id, *job, datagram);
            }
        }
        if (read == kMaxDatagramsAtOnce)
            QMetaObject::invokeMethod(
                q, [this, socket] { onReadyRead(socket); }, Qt::QueuedConnection);
        service();
    }

    void onDatagram(std::uint64_t id, Job& job, std::string_view datagram)
    {
        if (datagram.substr(0, 4) == gamewire::kSplitPrefix) {
            // Only the players and rules replies are long enough to be split.
            if (job.requests[InfoRequest].wanted)
                return;
            if (auto joined = job.split.add(datagram)) {
                if (std::string_view(*joined).substr(0, 4) == gamewire::kPrefix && joined->size() > 4)
                    onReply(id, job, std::string_view(*joined).substr(4));
            }
            return;
        }
        if (datagram.size() < 5 || datagram.substr(0, 4) != gamewire::kPrefix)
            return;
        onReply(id, job, datagram.substr(4));
    }

    // A round trip measured on a request answered while only one send of it
    // was out; the others could answer any of the sends.
    void measure(Job& job, Request request, Clock::time_point now)
    {
        RequestState& r = job.requests[request];
        const bool certain = r.sinceReply == 1;
        r.sinceReply = 0;
        if (!certain)
            return;
        const Clock::duration sample = now - r.lastSent;
        job.roundTrip = job.roundTrip ? (*job.roundTrip * 7 + sample) / 8 : sample;
        // The info request's own when it has one: it is measured first.
        if (!job.pingCertain) {
            job.result.ping = millis(sample);
            job.pingCertain = true;
        }
    }

    void onReply(std::uint64_t id, Job& job, std::string_view reply)
    {
        const Clock::time_point now = Clock::now();
        const char type = reply.front();
        const std::string_view body = reply.substr(1);
        auto& requests = job.requests;
        if (type == static_cast<char>(gamewire::ReplyType::Print)) {
            const std::string text = gamewire::printText(body);
            if (gamewire::isBanNotice(text))
                fail(id, job, "The server has banned this computer: " + gamewire::noticeLine(text));
            return;
        }
        if (type == static_cast<char>(gamewire::ReplyType::Challenge)) {
            if (body.size() < 4)
                return;
            const QByteArray challenge(body.data(), 4);
            if (requests[InfoRequest].wanted) {
                if (++requests[InfoRequest].challengeReplies > kMaxChallengeReplies)
                    return;
                measure(job, InfoRequest, now);
                job.infoChallenge = challenge;
                resendFree(id, job, InfoRequest);
            } else if (requests[ChallengeRequest].wanted) {
                measure(job, ChallengeRequest, now);
                requests[ChallengeRequest].wanted = false;
                job.challenge = challenge;
                if (job.parts & QueryPlayers)
                    want(id, job, PlayersRequest);
                if (job.parts & QueryRules)
                    want(id, job, RulesRequest);
            } else if (challenge != job.challenge
                && ++requests[ChallengeRequest].challengeReplies <= kMaxChallengeReplies) {
                // The server took another challenge since (it restarted): ask again with it.
                job.challenge = challenge;
                for (const Request request : { PlayersRequest, RulesRequest }) {
                    if (requests[request].wanted)
                        resendFree(id, job, request);
                }
            }
            return;
        }
        if (type == static_cast<char>(gamewire::ReplyType::InfoSource)
            || type == static_cast<char>(gamewire::ReplyType::InfoGoldSrc)) {
            if (!requests[InfoRequest].wanted)
                return;
            std::optional<GameServerInfo> info = type == static_cast<char>(gamewire::ReplyType::InfoSource)
                ? gamewire::parseSourceInfo(body)
                : gamewire::parseGoldSrcInfo(body);
            // A reply cut on the way is no answer: the request goes again.
            if (!info)
                return;
            measure(job, InfoRequest, now);
            if (!job.pingCertain)
                job.pingBound = now - requests[InfoRequest].firstSent;
            requests[InfoRequest].wanted = false;
            job.result.status = GameQueryResult::Status::Online;
            job.result.info = std::move(*info);
            if (job.parts & (QueryPlayers | QueryRules))
                want(id, job, ChallengeRequest);
            finishWhenDone(id, job);
            return;
        }
        const bool players = type == static_cast<char>(gamewire::ReplyType::Players);
        const bool rules = type == static_cast<char>(gamewire::ReplyType::Rules);
        if (!players && !rules)
            return;
        const Request request = players ? PlayersRequest : RulesRequest;
        if (!(job.parts & (players ? QueryPlayers : QueryRules)) || !job.result.online())
            return;
        if (requests[ChallengeRequest].wanted && !requests[request].wanted) {
            // The server answered without a challenge: it needs none.
            measure(job, ChallengeRequest, now);
            requests[ChallengeRequest].wanted = false;
            const Request other = players ? RulesRequest : PlayersRequest;
            if (job.parts & (players ? QueryRules : QueryPlayers))
                want(id, job, other);
        } else if (requests[request].wanted) {
            measure(job, request, now);
        } else if (players ? job.result.players.has_value() : job.result.rules.has_value()) {
            return;
        }
        // Also a reply that comes after its request was given up, while the
        // query still waits for the other: an answer is never thrown away.
        requests[request].wanted = false;
        if (players)
            job.result.players = gamewire::parsePlayers(body);
        else
            job.result.rules = gamewire::parseRules(body);
        finishWhenDone(id, job);
    }

    // --- the end ----------------------------------------------------------------

    void fail(std::uint64_t id, Job& job, std::string error)
    {
        job.result = GameQueryResult{};
        job.result.status = GameQueryResult::Status::Failed;
        job.result.error = std::move(error);
        finish(id, job);
    }

    void release(std::uint64_t id, Job& job)
    {
        if (job.lookupId >= 0) {
            QHostInfo::abortHostLookup(job.lookupId);
            job.lookupId = -1;
        }
        if (job.wake != Clock::time_point::max())
            schedule.erase({ job.wake, id });
        job.wake = Clock::time_point::max();
        if (!job.route.empty()) {
            const auto [first, last] = routes.equal_range(job.route);
            for (auto it = first; it != last; ++it) {
                if (it->second == id) {
                    routes.erase(it);
                    break;
                }
            }
            job.route.clear();
        }
        if (job.state == JobState::Resolving || job.state == JobState::Running)
            --active;
    }

    void finish(std::uint64_t id, Job& job)
    {
        if (job.state == JobState::Finished)
            return;
        release(id, job);
        job.state = JobState::Finished;
        if (job.result.online() && !job.pingCertain) {
            if (job.roundTrip)
                job.result.ping = millis(*job.roundTrip);
            else if (job.pingBound)
                job.result.ping = millis(*job.pingBound);
        }
        // The caller hears of it from the event loop, never from inside its
        // own call into this class.
        QMetaObject::invokeMethod(
            q,
            [this, id] {
                auto it = jobs.find(id);
                if (it == jobs.end() || it->second->state != JobState::Finished)
                    return;
                std::unique_ptr<Job> ended = std::move(it->second);
                jobs.erase(it);
                ended->done(ended->result);
            },
            Qt::QueuedConnection);
        soon();
    }
};

GameQuery::GameQuery(QObject* parent)
    : QObject(parent)
    , d(std::make_unique<Private>(this))
{ }

GameQuery::~GameQuery()
{
    cancelAll();
}

void GameQuery::setLimits(Limits limits)
{
    limits.timeout = std::max(limits.timeout, std::chrono::milliseconds(1));
    limits.retries = std::clamp(limits.retries, 0, 100000);
    limits.total = std::max(limits.total, std::chrono::milliseconds(0));
    limits.inFlight = std::clamp(limits.inFlight, 1, 100000);
    limits.sendRate = std::clamp(limits.sendRate, 1, 1000000);
    d->limits = limits;
}

std::uint64_t GameQuery::query(const GameAddress& address, unsigned parts, Done done)
{
    const std::uint64_t id = d->nextId++;
    auto job = std::make_unique<Job>();
    job->address = address;
    job->parts = parts | QueryInfo;
    job->limits = d->limits;
    job->done = std::move(done);
    d->jobs.emplace(id, std::move(job));
    d->waiting.push_back(id);
    // Started from the event loop, so that even a failure at once (a socket
    // that cannot be opened) is never reported from inside query().
    d->soon();
    return id;
}

void GameQuery::cancel(std::uint64_t id)
{
    auto it = d->jobs.find(id);
    if (it == d->jobs.end())
        return;
    d->release(id, *it->second);
    d->jobs.erase(it);
    d->soon();
}

void GameQuery::cancelAll()
{
    while (!d->jobs.empty())
        cancel(d->jobs.begin()->first);
    d->waiting.clear();
    d->sends.clear();
}

int GameQuery::running() const
{
    int count = 0;
    for (const auto& [id, job] : d->jobs) {
        if (job->state != JobState::Finished)
            ++count;
    }
    return count;
}

} // namespace velth
