#include "net/GameServer.h"

#include "net/GameWire.h"

#include <QHostInfo>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>
#include <map>

// One query is one Job: its own socket bound to an ephemeral port, its own
// timer, and three stages run one after another (info, then players, then
// rules, each only when asked). Players and rules are not asked at once: both
// may come split, and the parts of a split reply do not say which reply they
// belong to before the first part has come.

namespace velth {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// Challenge replies taken per stage, so that a server answering every request
// with a new challenge cannot keep a query going.
constexpr int kMaxChallengeReplies = 3;

enum class Stage { Resolving, Info, Players, Rules, Finished };

} // namespace

class QueryJob final : public QObject
{
    Q_DISABLE_COPY_MOVE(QueryJob)

public:
    using Finished = std::function<void(QueryJob* job)>;

    QueryJob(GameAddress address, unsigned parts, GameQuery::Limits limits, Finished finished, QObject* parent)
        : QObject(parent)
        , m_address(std::move(address))
        , m_parts(parts | QueryInfo)
        , m_limits(limits)
        , m_finished(std::move(finished))
    {
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, [this] { onTimeout(); });
    }

    // Ends the query where it is, without calling back.
    ~QueryJob() override
    {
        if (m_lookupId >= 0)
            QHostInfo::abortHostLookup(m_lookupId);
    }

    void start()
    {
        if (auto numeric = gamewire::numericAddress(m_address.host)) {
            useAddress(*numeric);
            return;
        }
        m_lookupId = QHostInfo::lookupHost(
            QString::fromStdString(m_address.host), this, [this](const QHostInfo& info) { onLookedUp(info); });
    }

    GameQueryResult& result() { return m_result; }
    bool finished() const { return m_stage == Stage::Finished; }

private:
    void onLookedUp(const QHostInfo& info)
    {
        m_lookupId = -1;
        const QList<QHostAddress> addresses = info.addresses();
        if (info.error() != QHostInfo::NoError || addresses.isEmpty()) {
            fail("Cannot find the host " + m_address.host + ".");
            return;
        }
        // IPv4 first: a game server that listens on both answers there.
        for (const QHostAddress& address : addresses) {
            if (address.protocol() == QAbstractSocket::IPv4Protocol) {
                useAddress(address);
                return;
            }
        }
        useAddress(addresses.front());
    }

    void useAddress(const QHostAddress& address)
    {
        m_target = address;
        m_socket = new QUdpSocket(this);
        const bool v6 = address.protocol() == QAbstractSocket::IPv6Protocol;
        if (!m_socket->bind(v6 ? QHostAddress(QHostAddress::AnyIPv6) : QHostAddress(QHostAddress::AnyIPv4), 0)) {
            fail("Cannot open a UDP socket for " + toString(m_address) + ": " + m_socket->errorString().toStdString());
            return;
        }
        connect(m_socket, &QUdpSocket::readyRead, this, [this] { onReadyRead(); });
        enter(Stage::Info);
    }

    void enter(Stage stage)
    {
        if (stage == Stage::Players && !(m_parts & QueryPlayers))
            stage = Stage::Rules;
        if (stage == Stage::Rules && !(m_parts & QueryRules))
            stage = Stage::Finished;
        if (stage == Stage::Finished) {
            finish();
            return;
        }
        m_stage = stage;
        m_attempts = 0;
        m_challengeReplies = 0;
        send();
    }

    void send()
    {
        QByteArray request;
        switch (m_stage) {
        case Stage::Info:
            request = gamewire::infoRequest(m_infoChallenge);
            break;
        case Stage::Players:
            request = gamewire::challengedRequest('U', m_challenge);
            break;
        case Stage::Rules:
            request = gamewire::challengedRequest('V', m_challenge);
            break;
        default:
            return;
        }
        m_sentAt = Clock::now();
        // A datagram that cannot leave counts as lost: the retries and the
        // time-out decide, as for one lost on the way.
        m_socket->writeDatagram(request, m_target, static_cast<quint16>(m_address.port));
        m_timer.start(m_limits.timeout);
    }

    void onTimeout()
    {
        if (++m_attempts <= m_limits.retries) {
            send();
            return;
        }
        switch (m_stage) {
        case Stage::Info:
            m_result.status = GameQueryResult::Status::Offline;
            finish();
            break;
        case Stage::Players:
            enter(Stage::Rules);
            break;
        default:
            finish();
            break;
        }
    }

    void onReadyRead()
    {
        QByteArray buffer;
        while (!finished() && m_socket->hasPendingDatagrams()) {
            const qint64 size = m_socket->pendingDatagramSize();
            buffer.resize(
                static_cast<qsizetype>(std::clamp<qint64>(size, 1, static_cast<qint64>(gamewire::kMaxDatagram))));
            QHostAddress sender;
            quint16 senderPort = 0;
            const qint64 got = m_socket->readDatagram(buffer.data(), buffer.size(), &sender, &senderPort);
            if (got < 0)
                break;
            if (!gamewire::sameEndpoint(sender, senderPort, m_target, static_cast<quint16>(m_address.port)))
                continue;
            onDatagram(std::string_view(buffer.constData(), static_cast<std::size_t>(got)));
        }
    }

    void onDatagram(std::string_view datagram)
    {
        if (datagram.substr(0, 4) == gamewire::kSplitPrefix) {
            // Only the players and rules replies are long enough to be split.
            if (m_stage != Stage::Players && m_stage != Stage::Rules)
                return;
            if (auto joined = m_split.add(datagram)) {
                if (std::string_view(*joined).substr(0, 4) == gamewire::kPrefix && joined->size() > 4)
                    onReply(std::string_view(*joined).substr(4));
            }
            return;
        }
        if (datagram.size() < 5 || datagram.substr(0, 4) != gamewire::kPrefix)
            return;
        onReply(datagram.substr(4));
    }

    void onReply(std::string_view reply)
    {
        const char type = reply.front();
        const std::string_view body = reply.substr(1);
        if (type == static_cast<char>(gamewire::ReplyType::Print)) {
            const std::string text = gamewire::printText(body);
            if (gamewire::isBanNotice(text))
                fail("The server has banned this computer: " + gamewire::noticeLine(text));
            return;
        }
        if (type == static_cast<char>(gamewire::ReplyType::Challenge)) {
            if (body.size() < 4 || ++m_challengeReplies > kMaxChallengeReplies)
                return;
            const QByteArray challenge(body.data(), 4);
            if (m_stage == Stage::Info)
                m_infoChallenge = challenge;
            else
                m_challenge = challenge;
            // Asked again at once, with a fresh time-out; not a retry.
            send();
            return;
        }
        switch (m_stage) {
        case Stage::Info: {
            std::optional<GameServerInfo> info;
            if (type == static_cast<char>(gamewire::ReplyType::InfoSource))
                info = gamewire::parseSourceInfo(body);
            else if (type == static_cast<char>(gamewire::ReplyType::InfoGoldSrc))
                info = gamewire::parseGoldSrcInfo(body);
            if (!info)
                return;
            m_result.status = GameQueryResult::Status::Online;
            m_result.info = std::move(*info);
            m_result.ping = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_sentAt);
            enter(Stage::Players);
            break;
        }
        case Stage::Players:
            if (type != static_cast<char>(gamewire::ReplyType::Players))
                return;
            m_result.players = gamewire::parsePlayers(body);
            enter(Stage::Rules);
            break;
        case Stage::Rules:
            if (type != static_cast<char>(gamewire::ReplyType::Rules))
                return;
            m_result.rules = gamewire::parseRules(body);
            finish();
            break;
        default:
            break;
        }
    }

    void fail(std::string error)
    {
        m_result = GameQueryResult{};
        m_result.status = GameQueryResult::Status::Failed;
        m_result.error = std::move(error);
        finish();
    }

    void finish()
    {
        if (m_stage == Stage::Finished)
            return;
        m_stage = Stage::Finished;
        m_timer.stop();
        if (m_socket)
            m_socket->close();
        m_finished(this);
    }

    const GameAddress m_address;
    const unsigned m_parts;
    const GameQuery::Limits m_limits;
    const Finished m_finished;

    Stage m_stage = Stage::Resolving;
    int m_lookupId = -1;
    QHostAddress m_target;
    QUdpSocket* m_socket = nullptr;
    QTimer m_timer;
    int m_attempts = 0;
    int m_challengeReplies = 0;
    std::optional<QByteArray> m_infoChallenge;
    QByteArray m_challenge = QByteArray(4, '\xff');
    Clock::time_point m_sentAt;
    gamewire::SplitAssembler m_split;
    GameQueryResult m_result;
};

class GameQuery::Private
{
public:
    struct Entry
    {
        QueryJob* job = nullptr;
        Done done;
    };

    GameQuery::Limits limits;
    std::uint64_t nextId = 1;
    std::map<std::uint64_t, Entry> entries;
};

GameQuery::GameQuery(QObject* parent)
    : QObject(parent)
    , d(std::make_unique<Private>())
{ }

GameQuery::~GameQuery()
{
    cancelAll();
}

void GameQuery::setLimits(Limits limits)
{
    limits.timeout = std::max(limits.timeout, std::chrono::milliseconds(1));
    limits.retries = std::clamp(limits.retries, 0, 100);
    d->limits = limits;
}

std::uint64_t GameQuery::query(const GameAddress& address, unsigned parts, Done done)
{
    const std::uint64_t id = d->nextId++;
    auto finished = [this, id](QueryJob*) {
        // Called from inside the job (its socket's or timer's signal): the
        // job ends, and the caller hears of it, from the event loop.
        QMetaObject::invokeMethod(
            this,
            [this, id] {
                auto it = d->entries.find(id);
                if (it == d->entries.end())
                    return;
                Private::Entry entry = std::move(it->second);
                d->entries.erase(it);
                const GameQueryResult result = entry.job->result();
                delete entry.job;
                entry.done(result);
            },
            Qt::QueuedConnection);
    };
    auto* job = new QueryJob(address, parts, d->limits, std::move(finished), this);
    d->entries.emplace(id, Private::Entry{ job, std::move(done) });
    // Started from the event loop too, so that even a failure at once (a
    // socket that cannot be opened) is never reported from inside query().
    QMetaObject::invokeMethod(
        this,
        [this, id] {
            auto it = d->entries.find(id);
            if (it != d->entries.end())
                it->second.job->start();
        },
        Qt::QueuedConnection);
    return id;
}

void GameQuery::cancel(std::uint64_t id)
{
    auto it = d->entries.find(id);
    if (it == d->entries.end())
        return;
    // Callers run only from the event loop (never inside a job's own signal),
    // so the job can go at once.
    QueryJob* job = it->second.job;
    d->entries.erase(it);
    delete job;
}

void GameQuery::cancelAll()
{
    while (!d->entries.empty())
        cancel(d->entries.begin()->first);
}

int GameQuery::running() const
{
    int count = 0;
    for (const auto& [id, entry] : d->entries) {
        if (!entry.job->finished())
            ++count;
    }
    return count;
}

} // namespace velth
