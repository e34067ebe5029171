#include "loganalysis/LiveLog.h"

#include "common/AppContext.h"
#include "common/Error.h"
#include "common/ErrorReport.h"
#include "common/FileIo.h"
#include "common/ProfileSelector.h"
#include "common/Prompts.h"
#include "common/TextCodec.h"
#include "loganalysis/ChatViews.h"
#include "loganalysis/LiveFold.h"
#include "net/GameServer.h"
#include "net/LogReceiver.h"
#include "profiles/ProfileStore.h"
#include "profiles/ServerProfile.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QHBoxLayout>
#include <QHostInfo>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

namespace velth {
namespace {

const QString kHowTo = QStringLiteral(
    "The server sends its log from its game port to the profile's log address and UDP port (LOGADDRESS, "
    "LOGPORT). Without LOGADDRESS the program keeps a home router's way in open from the log port and asks "
    "the profile's STUN server (STUNSERVER) how the internet sees this computer; with no STUN server, or "
    "one that does not answer, a router in between must forward the log port to this computer. The program "
    "says whether the log arrives once its own console request comes back over it. A server that sets "
    "sv_logsecret signs its log with it: give the profile the same value as LOGSECRET.");

QString number(std::uint64_t n)
{
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(static_cast<qulonglong>(n));
}

// A host name or address the console can take as one argument.
bool plainHost(const std::string& host)
{
    return !host.empty() && host.size() <= 253 && std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-'
            || c == ':';
    });
}

QPushButton* makeButton(const char* name, const QString& caption, QWidget* parent)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setFixedSize(75, 21);
    return button;
}

} // namespace

LiveLogSettings readLiveLogSettings(AppContext& context, const std::string& profile)
{
    const ServerProfile server = readServerProfile(context.store(), profile);
    LiveLogSettings settings;
    settings.gameHost = server.gameHost();
    settings.gamePort = server.gamePort;
    settings.rconPassword = server.rconPass;
    settings.logAddress = server.logAddress;
    settings.logPort = server.logPort;
    settings.logSecret = context.store().readString(profile, kLogSecretKey);
    settings.stunServer = server.stunServer;
    return settings;
}

LiveLog::LiveLog(AppContext& context, const QComboBox* selector, ChatViews* views, QWidget* parent)
    : QWidget(parent)
    , m_context(context)
    , m_selector(selector)
    , m_views(views)
    , m_receiver(new LogReceiver(this))
    , m_console(new RconClient(this))
    , m_flushTimer(new QTimer(this))
    , m_silenceTimer(new QTimer(this))
    , m_checkTimer(new QTimer(this))
    , m_fold(std::make_unique<LiveFold>())
    , m_maxLines(LiveFold::Limits().maxLines)
    , m_maxBytes(LiveFold::Limits().maxBytes)
{
    setObjectName(QStringLiteral("LiveBar"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 0, 4, 0);
    layout->setSpacing(5);
    LiveStatus = new QLabel(QStringLiteral("Live log: off."), this);
    LiveStatus->setObjectName(QStringLiteral("LiveStatus"));
    // It quotes the server's name as the profile spells it: never markup.
    LiveStatus->setTextFormat(Qt::PlainText);
    LiveStatus->setToolTip(kHowTo);
    BLive = makeButton("BLive", QStringLiteral("Live"), this);
    BLive->setToolTip(kHowTo);
    BStop = makeButton("BStop", QStringLiteral("Stop"), this);
    BSaveLive = makeButton("BSaveLive", QStringLiteral("Save log"), this);
    BSaveLive->setToolTip(QStringLiteral("Saves the lines received as a log file in the logs folder"));
    layout->addWidget(LiveStatus, 1);
    layout->addWidget(BLive);
    layout->addWidget(BStop);
    layout->addWidget(BSaveLive);
    setFixedHeight(25);

    m_flushTimer->setSingleShot(true);
    m_flushTimer->setInterval(kFlushIntervalMs);
    connect(m_flushTimer, &QTimer::timeout, this, guarded(this, &LiveLog::flush));
    // A batch per timer turn however many datagrams come meanwhile.
    const auto flushSoon = [this] {
        if (!m_flushTimer->isActive())
            m_flushTimer->start();
    };
    connect(m_receiver, &LogReceiver::linesReady, this, flushSoon);
    connect(m_receiver, &LogReceiver::dropped, this, flushSoon);
    connect(m_silenceTimer, &QTimer::timeout, this, guarded(this, &LiveLog::checkSilence));
    m_checkTimer->setInterval(kCheckRepeatMs);
    connect(m_checkTimer, &QTimer::timeout, this, [this] {
        runGuarded([this] {
            if (m_sinceCheck.elapsed() >= m_checkLimit.count())
                checkTimedOut();
            else
                sendCheck();
        });
    });
    connect(m_receiver, &LogReceiver::checkArrived, this, guarded(this, &LiveLog::checkArrived));
    connect(m_receiver, &LogReceiver::stunDone, this, guarded(this, &LiveLog::stunDone));
    connect(BLive, &QPushButton::clicked, this, guarded(this, &LiveLog::BLiveClick));
    connect(BStop, &QPushButton::clicked, this, guarded(this, &LiveLog::BStopClick));
    connect(BSaveLive, &QPushButton::clicked, this, guarded(this, &LiveLog::BSaveLiveClick));
    connect(m_views, &ChatViews::liveReplaced, this, [this] {
        if (m_state != State::Idle) {
            stop(true);
            m_context.setStatus(QStringLiteral("Live log stopped."));
        }
    });
    enableButtons();
}

LiveLog::~LiveLog()
{
    // The views may be gone already: what is still queued is not shown.
    m_flushTimer->stop();
    m_receiver->close();
    m_closing = true;
    stop(true);
}

std::string LiveLog::logTarget() const
{
    if (m_logHost.empty())
        return {};
    return m_logHost + " " + std::to_string(m_targetPort);
}

void LiveLog::setFoldLimits(std::size_t maxLines, std::size_t maxBytes)
{
    m_maxLines = maxLines;
    m_maxBytes = maxBytes;
}

void LiveLog::setSilenceLimit(std::chrono::milliseconds limit)
{
    m_silenceLimit = limit;
}

void LiveLog::setCheckLimit(std::chrono::milliseconds limit)
{
    m_checkLimit = limit;
}

void LiveLog::enableButtons()
{
    BLive->setEnabled(m_state == State::Idle);
    BStop->setEnabled(m_state != State::Idle);
}

void LiveLog::BLiveClick()
{
    const auto profile = requireProfile(m_context.prompts(), m_selector);
    if (!profile || m_state != State::Idle)
        return;
    LiveLogSettings settings = readLiveLogSettings(m_context, *profile);
    if (!plainHost(settings.gameHost))
        throw Error("The profile " + *profile + " names no game server (GAMEHOST or HOST)");
    if (settings.gamePort < 1 || settings.gamePort > 65535)
        throw Error(
            "The game port of the profile " + *profile + " is not a port number: " + std::to_string(settings.gamePort));
    if (settings.logPort < 1 || settings.logPort > 65535)
        throw Error(
            "The log port of the profile " + *profile + " is not a port number: " + std::to_string(settings.logPort));
    if (!settings.logAddress.empty() && !plainHost(settings.logAddress))
        throw Error("The log address of the profile " + *profile + " is no host name or address");
    if (settings.rconPassword.empty())
        throw Error("The profile " + *profile
            + " has no rcon password: the live log asks the server over its console (set it on the CFG updater page)");

    if (auto error = m_receiver->listen(static_cast<quint16>(settings.logPort)))
        throw Error(*error);
    ++m_session;
    m_settings = std::move(settings);
    m_serverName = toDisplay(m_settings.gameHost + ":" + std::to_string(m_settings.gamePort));
    m_receiver->setSecret(m_settings.logSecret);
    m_receiver->setSource({}, 0);
    m_receiver->setOwnRequests(m_settings.rconPassword, {});
    m_receiver->setCheckCommand({});
    m_fold = std::make_unique<LiveFold>(LiveFold::Limits{ m_maxLines, m_maxBytes });
    m_shown = m_fold->result().get();
    m_views->showLive(m_fold->result(), false);
    m_state = State::Starting;
    m_asked = false;
    m_silent = false;
    m_checking = false;
    m_logHost.clear();
    m_targetPort = m_settings.logPort;
    m_server.clear();
    enableButtons();
    m_context.setStatus(QStringLiteral("Finding the game server ") + m_serverName + QStringLiteral("."));
    LiveStatus->setText(QStringLiteral("Live log: starting."));
    lookUp(m_settings.gameHost, &LiveLog::hostFound);
}

void LiveLog::lookUp(const std::string& host, void (LiveLog::*found)(const QHostInfo&))
{
    // An address as it stands is not looked up: QHostInfo would ask the name
    // servers for its name first, and wait for them.
    const QHostAddress literal(QString::fromStdString(host));
    if (literal.isNull()) {
        m_lookup = QHostInfo::lookupHost(QString::fromStdString(host), this, found);
        return;
    }
    const std::uint64_t session = m_session;
    QTimer::singleShot(0, this, [this, session, literal, found] {
        if (session != m_session)
            return;
        QHostInfo info;
        info.setAddresses({ literal });
        (this->*found)(info);
    });
}

void LiveLog::hostFound(const QHostInfo& info)
{
    m_lookup = -1;
    if (m_state != State::Starting)
        return;
    runGuarded([&] {
        QList<QHostAddress> addresses = info.addresses();
        if (info.error() != QHostInfo::NoError || addresses.isEmpty())
            fail(false, "Cannot find the host " + m_settings.gameHost);
        // The engine speaks IPv4: its address goes first.
        std::stable_partition(addresses.begin(), addresses.end(),
            [](const QHostAddress& a) { return a.protocol() == QAbstractSocket::IPv4Protocol; });
        m_server = addresses.first();
        const auto gamePort = static_cast<quint16>(m_settings.gamePort);
        // The log comes from the game socket the console is asked on, only.
        m_receiver->setSource(m_server, gamePort);
        m_receiver->startKeepAlive();
        m_console->setAddress({ m_server.toString().toStdString(), m_settings.gamePort });
        m_console->setPassword(m_settings.rconPassword);
        if (!m_settings.logAddress.empty()) {
            m_logHost = m_settings.logAddress;
            m_receiver->setOwnRequests(m_settings.rconPassword, QHostAddress(QString::fromStdString(m_logHost)));
            askServer();
            return;
        }
        if (m_settings.stunServer.empty() || !reachedThroughInternet(m_server)) {
            useLocalAddress();
            askServer();
            return;
        }
        const auto stun = parseGameAddress(m_settings.stunServer, kDefaultStunPort);
        if (!stun)
            fail(false,
                "The STUN server of the profile (STUNSERVER) is no host name or address with a port: "
                    + m_settings.stunServer);
        m_context.setStatus(QStringLiteral("Asking the STUN server ") + toDisplay(m_settings.stunServer)
            + QStringLiteral(" for this computer's address."));
        m_stunPort = static_cast<quint16>(stun->port);
        lookUp(stun->host, &LiveLog::stunHostFound);
    });
}

void LiveLog::stunHostFound(const QHostInfo& info)
{
    m_lookup = -1;
    if (m_state != State::Starting)
        return;
    runGuarded([&] {
        const QList<QHostAddress> addresses = info.addresses();
        const auto v4 = std::find_if(addresses.begin(), addresses.end(),
            [](const QHostAddress& a) { return a.protocol() == QAbstractSocket::IPv4Protocol; });
        if (info.error() != QHostInfo::NoError || v4 == addresses.end()) {
            // Without it the server may still reach this computer directly.
            useLocalAddress();
            m_stunNote = "the STUN server " + m_settings.stunServer + " was not found";
            askServer();
            return;
        }
        m_receiver->findMappedAddress(*v4, m_stunPort);
    });
}

void LiveLog::stunDone()
{
    if (m_state != State::Starting || !m_logHost.empty())
        return;
    const auto& mapped = m_receiver->mappedAddress();
    bool v4 = false;
    if (mapped)
        mapped->address.toIPv4Address(&v4);
    if (mapped && v4) {
        m_logHost = mapped->address.toString().toStdString();
        m_targetPort = mapped->port;
        m_receiver->setOwnRequests(m_settings.rconPassword, mapped->address);
    } else {
        useLocalAddress();
        m_stunNote = "the STUN server " + m_settings.stunServer + " did not answer";
    }
    askServer();
}

void LiveLog::useLocalAddress()
{
    const auto local = localAddressToward(m_server, static_cast<quint16>(m_settings.gamePort));
    if (!local)
        fail(false, "No route to the game server " + m_serverName.toStdString());
    m_logHost = local->toString().toStdString();
    m_targetPort = m_settings.logPort;
    m_receiver->setOwnRequests(m_settings.rconPassword, *local);
}

void LiveLog::fail(bool tellServer, const std::string& message)
{
    stop(tellServer);
    m_context.setStatus(QStringLiteral("Live log stopped: ") + toDisplay(message));
    LiveStatus->setText(QStringLiteral("Live log: off (failed)."));
    throw Error(message);
}

void LiveLog::askServer()
{
    m_context.setStatus(QStringLiteral("Asking ") + m_serverName + QStringLiteral(" to send its log to ")
        + QString::fromStdString(m_logHost) + u':' + QString::number(m_targetPort) + u'.');
    if (m_state != State::Starting)
        return;
    const std::uint64_t session = m_session;
    for (const std::string& command : { std::string("log on"), "logaddress_add " + logTarget() }) {
        m_console->execute(
            command, [this, session, command](const RconResult& result) { consoleDone(session, command, result); });
    }
    m_asked = true;
}

void LiveLog::consoleDone(std::uint64_t session, const std::string& command, const RconResult& result)
{
    if (session != m_session || m_state == State::Idle)
        return;
    runGuarded([&] {
        if (command == m_checkCommand)
            return;
        if (!result.ok())
            fail(false, "The server did not take \"" + command + "\": " + result.message);
        if (command.rfind("logaddress_add", 0) != 0)
            return;
        const std::string& out = result.output;
        if (!logAddressTaken(out)) {
            std::string answer = out;
            while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r'))
                answer.pop_back();
            fail(true, "The server refused to send its log to " + logTarget() + ": " + answer);
        }
        m_state = State::Live;
        enableButtons();
        // The server logs every console request: the next one of ours comes
        // back over the log when the log reaches this computer.
        m_checking = true;
        m_checkCommand = "echo velth-log-check-" + std::to_string(m_session) + "-"
            + std::to_string(QDateTime::currentMSecsSinceEpoch());
        m_receiver->setCheckCommand(m_checkCommand);
        m_sinceCheck.start();
        m_checkTimer->start();
        sendCheck();
        m_context.setStatus(QStringLiteral("Waiting for the log of ") + m_serverName
            + QStringLiteral(" to reach this computer (") + QString::fromStdString(logTarget()) + u')'
            + (m_stunNote.empty() ? QString() : QStringLiteral("; ") + toDisplay(m_stunNote)) + u'.');
        showCounts();
    });
}

void LiveLog::sendCheck()
{
    if (m_state != State::Live || !m_checking)
        return;
    // One check at a time: a slow console is not flooded.
    if (m_console->isBusy())
        return;
    const std::uint64_t session = m_session;
    const std::string command = m_checkCommand;
    m_console->execute(
        command, [this, session, command](const RconResult& result) { consoleDone(session, command, result); });
}

void LiveLog::checkArrived()
{
    if (m_state != State::Live || !m_checking)
        return;
    m_checking = false;
    m_checkTimer->stop();
    m_sinceLine.start();
    m_silenceTimer->start(static_cast<int>(std::max<std::chrono::milliseconds::rep>(m_silenceLimit.count() / 4, 100)));
    m_context.setStatus(QStringLiteral("Receiving the log of ") + m_serverName + QStringLiteral("."));
    showCounts();
}

void LiveLog::checkTimedOut()
{
    if (m_state != State::Live || !m_checking)
        return;
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(m_checkLimit).count();
    if (m_receiver->counts().wrongSecret > 0)
        fail(true,
            "The log of " + m_serverName.toStdString()
                + " arrives, but signed with a log secret the profile does not have: give the profile the server's "
                  "sv_logsecret as LOGSECRET.");
    fail(true,
        "The log of " + m_serverName.toStdString() + " does not reach this computer: the server took the address "
            + logTarget() + ", but its log of our own console request did not come back within "
            + std::to_string(seconds)
            + " seconds. Check the router (it must let the server's UDP datagrams in, or forward UDP port "
            + std::to_string(m_settings.logPort) + " to this computer), the firewall of this computer (UDP port "
            + std::to_string(m_settings.logPort) + "), and the profile's LOGADDRESS"
            + (m_stunNote.empty() ? "" : " (" + m_stunNote + ")") + ".");
}

void LiveLog::flush()
{
    if (m_state == State::Idle)
        return;
    const LogLineBatch batch = m_receiver->takeLines();
    for (std::size_t i = 0; i < batch.size(); ++i) {
        m_fold->add(batch[i]);
        if (m_fold->full())
            m_fold->startTrim();
    }
    // A trim folds the lines it keeps a slice per turn, so that no turn of
    // the event loop takes long; the views show the old fold until then.
    if (m_fold->trimming() && !m_fold->continueTrim(kTrimLinesPerTurn))
        m_flushTimer->start();
    if (batch.empty() && m_fold->result().get() == m_shown) {
        showCounts();
        return;
    }
    // After a trim the fold is another result: the views start over on it.
    std::shared_ptr<const ScanResult> result = m_fold->result();
    if (result.get() != m_shown) {
        m_shown = result.get();
        m_views->showLive(std::move(result), true);
    } else {
        m_views->liveGrew();
    }
    m_sinceLine.start();
    if (std::exchange(m_silent, false))
        m_context.setStatus(QStringLiteral("Receiving the log of ") + m_serverName + QStringLiteral(" again."));
    showCounts();
}

void LiveLog::checkSilence()
{
    if (m_state != State::Live || m_silent || !m_sinceLine.isValid())
        return;
    if (m_sinceLine.elapsed() < m_silenceLimit.count())
        return;
    m_silent = true;
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(m_silenceLimit).count();
    m_context.setStatus(QStringLiteral("No log line from ") + m_serverName + QStringLiteral(" for ")
        + QString::number(seconds) + QStringLiteral(" seconds: is the server running, and does UDP port ")
        + QString::number(m_settings.logPort) + QStringLiteral(" reach this computer?"));
}

void LiveLog::showCounts()
{
    QString text = m_checking ? QStringLiteral("Live log: waiting for the server's log to reach this computer")
                              : QStringLiteral("Live log: ") + number(m_fold->lineCount()) + QStringLiteral(" lines");
    if (m_fold->droppedLines() > 0)
        text += QStringLiteral(" (the oldest ") + number(m_fold->droppedLines())
            + QStringLiteral(" dropped to bound memory)");
    const LogReceiver::Counts& counts = m_receiver->counts();
    const std::uint64_t refused = counts.foreign + counts.malformed + counts.wrongSecret + counts.tooLong;
    if (refused > 0)
        text += QStringLiteral(", ") + number(refused) + QStringLiteral(" datagrams refused");
    if (counts.wrongSecret > 0)
        text += QStringLiteral(" (") + number(counts.wrongSecret)
            + QStringLiteral(" without the log secret: give the profile the server's sv_logsecret as LOGSECRET)");
    if (counts.overflow > 0)
        text += QStringLiteral(", ") + number(counts.overflow) + QStringLiteral(" lines lost in a flood");
    LiveStatus->setText(text + u'.');
}

void LiveLog::BStopClick()
{
    if (m_state == State::Idle)
        return;
    stop(true);
    m_context.setStatus(QStringLiteral("Live log stopped."));
}

void LiveLog::FTPServerChange()
{
    BStopClick();
}

void LiveLog::stop(bool tellServer)
{
    if (m_state == State::Idle)
        return;
    // What arrived before the stop still counts.
    m_flushTimer->stop();
    if (!m_closing) {
        if (m_receiver->queued() > 0)
            flush();
        // The views and a saved file show the same lines from now on.
        if (m_fold->trimming()) {
            m_fold->continueTrim(SIZE_MAX);
            m_shown = m_fold->result().get();
            m_views->showLive(m_fold->result(), !m_fold->empty());
        }
    }
    ++m_session;
    m_state = State::Idle;
    if (m_lookup >= 0) {
        QHostInfo::abortHostLookup(m_lookup);
        m_lookup = -1;
    }
    m_silenceTimer->stop();
    m_checkTimer->stop();
    m_checking = false;
    m_stunNote.clear();
    m_console->cancel();
    bool sentNow = false;
    if (tellServer && m_asked) {
        const std::string del = "logaddress_del " + logTarget();
        // Closing may be the program's end, with no event loop left to run a
        // command in: the datagram goes now. That needs the challenge and a
        // password the server took, as logaddress_add did (it goes only after
        // "log on" was answered); without them the server has not run
        // logaddress_add (it was still queued, or refused for a stale
        // challenge), and the command through the event loop below only
        // covers a program that goes on running.
        sentNow = m_closing && m_console->sendNow(del);
        if (!sentNow)
            m_console->execute(del, [](const RconResult&) {});
    }
    if (m_closing && !sentNow && m_console->isBusy()) {
        // The page goes; the console stays until its last command is through
        // (its own time limit bounds that), as long as the program runs.
        RconClient* console = m_console;
        console->setParent(QCoreApplication::instance());
        console->execute("echo", [console](const RconResult&) { console->deleteLater(); });
    }
    m_asked = false;
    m_receiver->close();
    enableButtons();
    QString text = QStringLiteral("Live log: off");
    if (!m_fold->empty())
        text += QStringLiteral(", ") + number(m_fold->lineCount()) + QStringLiteral(" lines received");
    LiveStatus->setText(text + u'.');
}

void LiveLog::BSaveLiveClick()
{
    if (m_fold->empty()) {
        m_context.prompts().errorBox(QStringLiteral("No log lines received yet."));
        return;
    }
    const QString name = QStringLiteral("live_")
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_HHmmss")) + QStringLiteral(".log");
    writeFileAtomic(m_context.logsFolder() + "/" + name.toStdString(), m_fold->fileBytes());
    m_context.setStatus(QStringLiteral("Saved the live log as ") + name + u'.');
}

} // namespace velth
