#include "support/GameServerEmulator.h"

#include <QProcess>
#include <QStringList>

#include <algorithm>
#include <stdexcept>
#include <thread>

#ifndef VELTH_GAMESERVER_SCRIPT
#error "VELTH_GAMESERVER_SCRIPT must name tests/support/gameserver.py"
#endif

namespace velth::test {
namespace {

const char* infoFormName(GameServerEmulator::InfoForm form)
{
    switch (form) {
    case GameServerEmulator::InfoForm::Source:
        return "source";
    case GameServerEmulator::InfoForm::GoldSrc:
        return "goldsrc";
    case GameServerEmulator::InfoForm::Both:
        return "both";
    }
    return "source";
}

const char* hostileName(GameServerEmulator::Hostile mode)
{
    using H = GameServerEmulator::Hostile;
    switch (mode) {
    case H::Markup:
        return "markup";
    case H::CountMismatch:
        return "countmismatch";
    case H::SplitTruncated:
        return "split-truncated";
    case H::SplitDuplicate:
        return "split-duplicate";
    case H::SplitMissing:
        return "split-missing";
    case H::SplitReorder:
        return "split-reorder";
    case H::SplitTooMany:
        return "split-toomany";
    case H::WrongPort:
        return "wrongport";
    case H::OldReply:
        return "oldreply";
    case H::EndlessPrint:
        return "endless-print";
    case H::Huge:
        return "huge";
    case H::Garbage:
        return "garbage";
    case H::NoRules:
        return "norules";
    case H::CutInfo:
        return "cutinfo";
    }
    return "markup";
}

QString text(const std::string& value)
{
    return QString::fromStdString(value);
}

} // namespace

GameServerEmulator::GameServerEmulator()
    : GameServerEmulator(Options())
{ }

GameServerEmulator::GameServerEmulator(const Options& options)
{
    m_dir.write("received.log", {});
    QStringList args{ QStringLiteral(VELTH_GAMESERVER_SCRIPT), QStringLiteral("--port"), QString::number(options.port),
        QStringLiteral("--count"), QString::number(options.count), QStringLiteral("--log"),
        text(m_dir.file("received.log")), QStringLiteral("--latency-ms"), QString::number(options.latencyMs),
        QStringLiteral("--drop"), QString::number(options.drop), QStringLiteral("--drop-first"),
        QString::number(options.dropFirst), QStringLiteral("--info-form"),
        QString::fromLatin1(infoFormName(options.infoForm)), QStringLiteral("--minfailures"),
        QString::number(options.minFailures), QStringLiteral("--minfailuretime"),
        QString::number(options.minFailureTime), QStringLiteral("--banpenalty"), QString::number(options.banPenalty),
        QStringLiteral("--rate"), QString::number(options.replayRate) };
    if (options.loseEvery > 0)
        args << QStringLiteral("--lose-every") << QString::number(options.loseEvery);
    if (options.lossPercent > 0)
        args << QStringLiteral("--loss") << QString::number(options.lossPercent) << QStringLiteral("--loss-seed")
             << QString::number(options.lossSeed);
    if (options.stateJson) {
        m_dir.write("state.json", *options.stateJson);
        args << QStringLiteral("--state") << text(m_dir.file("state.json"));
    }
    if (options.rconPassword)
        args << QStringLiteral("--rcon-password") << text(*options.rconPassword);
    if (options.infoChallenge)
        args << QStringLiteral("--info-challenge");
    if (options.splitRules)
        args << QStringLiteral("--split-rules");
    if (options.failuresByIp)
        args << QStringLiteral("--failures-by-ip");
    for (const Hostile mode : options.hostile)
        args << QStringLiteral("--hostile") << QString::fromLatin1(hostileName(mode));
    if (!options.replayLog.empty())
        args << QStringLiteral("--replay-log") << text(options.replayLog);
    if (options.logLost)
        args << QStringLiteral("--log-lost");
    if (!options.logSecret.empty())
        args << QStringLiteral("--log-secret") << text(options.logSecret);
    if (!options.serverCfg.empty())
        args << QStringLiteral("--server-cfg") << text(options.serverCfg);

    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process->start(QStringLiteral("/usr/bin/python3"), args);
    if (!m_process->waitForStarted(10000))
        throw std::runtime_error("cannot start /usr/bin/python3 for the game server emulator");
    QByteArray out;
    while (!out.contains('\n')) {
        if (!m_process->waitForReadyRead(30000))
            throw std::runtime_error("the game server emulator did not report its ports: " + out.toStdString());
        out += m_process->readAllStandardOutput();
    }
    const QByteArray line = out.left(out.indexOf('\n')).trimmed();
    const QList<QByteArray> words = line.split(' ');
    if (words.size() != options.count + 1 || words[0] != "READY")
        throw std::runtime_error("the game server emulator printed " + line.toStdString());
    for (qsizetype i = 1; i < words.size(); ++i) {
        bool ok = false;
        const int port = words[i].toInt(&ok);
        if (!ok || port <= 0)
            throw std::runtime_error("the game server emulator printed " + line.toStdString());
        m_ports.push_back(port);
    }
}

GameServerEmulator::~GameServerEmulator()
{
    stop();
}

void GameServerEmulator::stop()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(5000)) {
            m_process->kill();
            m_process->waitForFinished(5000);
        }
    }
    m_process.reset();
}

bool GameServerEmulator::running() const
{
    return m_process && m_process->state() == QProcess::Running;
}

std::vector<std::string> GameServerEmulator::received(int server) const
{
    const std::string log = m_dir.read("received.log");
    const std::string prefix = std::to_string(server) + ' ';
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < log.size()) {
        const std::size_t end = log.find('\n', start);
        if (end == std::string::npos)
            break; // a line still being written
        if (log.compare(start, prefix.size(), prefix) == 0)
            lines.push_back(log.substr(start + prefix.size(), end - start - prefix.size()));
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> GameServerEmulator::rconCommands(int server) const
{
    std::vector<std::string> commands;
    for (const std::string& line : received(server)) {
        if (line.rfind("rcon ok ", 0) == 0)
            commands.push_back(line.substr(8));
    }
    return commands;
}

bool GameServerEmulator::waitForCommand(const std::string& command, std::chrono::milliseconds limit, int server) const
{
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const std::vector<std::string> commands = rconCommands(server);
        if (std::find(commands.begin(), commands.end(), command) != commands.end())
            return true;
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

std::vector<std::string> GameServerEmulator::logLines(int server) const
{
    std::vector<std::string> lines;
    for (const std::string& line : received(server)) {
        if (line.rfind("log ", 0) == 0)
            lines.push_back(line.substr(4));
    }
    return lines;
}

} // namespace velth::test
