// velth-server exporter: the game servers' state for Prometheus.
//
//   velth-server exporter --listen ADDRESS:PORT --targets FILE
//                         [--player-series --passwords FILE] [--timeout SECONDS]
//
// Serves GET /metrics over HTTP. Every scrape asks all the servers at once and
// answers within the time-out Prometheus sends with it
// (X-Prometheus-Scrape-Timeout-Seconds), or within --timeout when it sends
// none. It runs until SIGINT or SIGTERM.
#include "net/ServerTool.h"

#include "common/Error.h"
#include "common/FileIo.h"
#include "net/GameExporter.h"
#include "net/MetricsText.h"
#include "net/ServerListFile.h"

#include <QAbstractHttpServer>
#include <QCoreApplication>
#include <QHostAddress>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QPointer>
#include <QSocketNotifier>
#include <QTcpSocket>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <iostream>
#include <memory>

#include <sys/socket.h>
#include <unistd.h>

namespace velth::servertool {

namespace {

using namespace std::chrono_literals;

// Scrapes answered at once; more are told to come back (503), so a client
// that asks in a loop cannot make the exporter flood the servers.
constexpr int kMaxScrapes = 4;
// The longest scrape, whatever a client asks for.
constexpr std::chrono::milliseconds kMaxScrapeTimeout = 120s;
constexpr std::chrono::milliseconds kDefaultScrapeTimeout = 10s;

struct ExporterOptions
{
    QHostAddress listenAddress;
    quint16 listenPort = 0;
    std::string targetsFile;
    std::optional<std::string> passwordsFile;
    bool playerSeries = false;
    std::chrono::milliseconds timeout = kDefaultScrapeTimeout;
};

// "127.0.0.1:9137", "[::1]:9137", ":9137" (every address); a port of 0 takes a free one.
void parseListen(const std::string& text, ExporterOptions& options)
{
    const std::size_t colon = text.rfind(':');
    const std::string problem = "--listen takes ADDRESS:PORT (a numeric address, [IPV6] or none for every "
                                "address, and a port), not \""
        + shown(text) + "\"";
    if (colon == std::string::npos)
        throw UsageError{ problem };
    std::string host = text.substr(0, colon);
    const std::string port = text.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    int value = -1;
    if (!port.empty() && port.size() <= 5 && port.find_first_not_of("0123456789") == std::string::npos)
        value = std::stoi(port);
    if (value < 0 || value > 65535)
        throw UsageError{ problem };
    options.listenPort = static_cast<quint16>(value);
    if (host.empty() || host == "*") {
        options.listenAddress = QHostAddress(QHostAddress::Any);
        return;
    }
    if (!options.listenAddress.setAddress(QString::fromStdString(host)))
        throw UsageError{ problem };
}

ExporterOptions parseExporterArguments(int argc, char** argv)
{
    ExporterOptions options;
    bool listen = false;
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help")
            throw HelpRequest{};
        if (isPasswordOption(arg))
            throw UsageError{ "passwords are never taken from the command line, where other users of the machine "
                              "can read them: give --passwords FILE" };
        if (arg == "--player-series") {
            options.playerSeries = true;
        } else if (const auto value = optionValue(argc, argv, i, "--listen")) {
            parseListen(*value, options);
            listen = true;
        } else if (const auto targets = optionValue(argc, argv, i, "--targets")) {
            options.targetsFile = *targets;
        } else if (const auto passwords = optionValue(argc, argv, i, "--passwords")) {
            options.passwordsFile = *passwords;
        } else if (const auto timeout = optionValue(argc, argv, i, "--timeout")) {
            options.timeout = std::min(parseTimeout(*timeout), kMaxScrapeTimeout);
        } else {
            throw UsageError{ "unknown argument " + shown(arg) };
        }
    }
    if (!listen)
        throw UsageError{ "exporter needs --listen ADDRESS:PORT" };
    if (options.targetsFile.empty())
        throw UsageError{ "exporter needs --targets FILE, a server address a line" };
    if (options.playerSeries && !options.passwordsFile)
        throw UsageError{ "--player-series reads each server's players with its rcon password: give --passwords "
                          "FILE (a line each: ADDRESS PASSWORD)" };
    return options;
}

// How long a scrape may take: what Prometheus says it waits, less a tenth
// for the way back, or the exporter's own time-out.
std::chrono::milliseconds scrapeTimeout(const QHttpServerRequest& request, std::chrono::milliseconds fallback)
{
    const QByteArray header = request.value("X-Prometheus-Scrape-Timeout-Seconds").trimmed();
    bool ok = false;
    const double seconds = header.toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds <= 0)
        return fallback;
    const auto wanted = std::chrono::milliseconds(static_cast<long long>(std::llround(seconds * 900)));
    return std::clamp(wanted, std::chrono::milliseconds(1), kMaxScrapeTimeout);
}

class MetricsServer final : public QAbstractHttpServer
{
public:
    MetricsServer(GameExporter& exporter, std::chrono::milliseconds timeout)
        : m_exporter(exporter)
        , m_timeout(timeout)
    { }

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override
    {
        const QString path = request.url().path();
        const bool get = request.method() == QHttpServerRequest::Method::Get;
        if (path == QLatin1String("/") && get) {
            makeResponder(request, socket)
                .write(QByteArrayLiteral("velth-server exporter: the game servers' metrics are at /metrics\n"),
                    QByteArrayLiteral("text/plain; charset=utf-8"));
            return true;
        }
        if (path != QLatin1String("/metrics"))
            return false;
        if (!get) {
            makeResponder(request, socket).write(QHttpServerResponder::StatusCode::MethodNotAllowed);
            return true;
        }
        if (m_exporter.running() >= kMaxScrapes) {
            makeResponder(request, socket).write(QHttpServerResponder::StatusCode::ServiceUnavailable);
            return true;
        }
        // The answer comes once the servers have; the client may be gone by then.
        auto responder = std::make_shared<QHttpServerResponder>(makeResponder(request, socket));
        QPointer<QTcpSocket> client(socket);
        const std::uint64_t id
            = m_exporter.scrape(scrapeTimeout(request, m_timeout), [responder, client](std::string text) {
                  if (!client || client->state() != QAbstractSocket::ConnectedState)
                      return;
                  responder->write(QByteArray(text.data(), static_cast<qsizetype>(text.size())),
                      { { QByteArrayLiteral("Content-Type"), QByteArray(metrics::kContentType.data()) } });
              });
        QObject::connect(socket, &QTcpSocket::disconnected, &m_exporter, [this, id] { m_exporter.cancel(id); });
        return true;
    }

    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override
    {
        makeResponder(request, socket).write(QHttpServerResponder::StatusCode::NotFound);
    }

private:
    GameExporter& m_exporter;
    const std::chrono::milliseconds m_timeout;
};

// SIGINT and SIGTERM end the event loop through a pipe, the one thing a
// signal handler may safely do.
int g_signalPipe[2] = { -1, -1 };

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_signalPipe[1], &byte, 1);
}

} // namespace

int runExporter(int argc, char** argv)
{
    const ExporterOptions options = parseExporterArguments(argc, argv);
    std::vector<ExporterTarget> targets;
    try {
        for (const GameAddress& address : readServerList(readFile(options.targetsFile)))
            targets.push_back(ExporterTarget{ address, {} });
        if (options.passwordsFile) {
            for (auto& [address, password] : readServerPasswords(readFile(*options.passwordsFile))) {
                auto it = std::find_if(
                    targets.begin(), targets.end(), [&](const ExporterTarget& t) { return t.address == address; });
                if (it != targets.end())
                    it->rconPassword = std::move(password);
            }
        }
    } catch (const Error& e) {
        std::cerr << "velth-server: " << shown(e.message()) << '\n';
        return kExitUsage;
    }

    GameExporter exporter(std::move(targets), GameExporter::Options{ options.playerSeries });
    MetricsServer server(exporter, options.timeout);
    const quint16 port = server.listen(options.listenAddress, options.listenPort);
    if (port == 0) {
        std::cerr << "velth-server: cannot listen on " << options.listenAddress.toString().toStdString() << ':'
                  << options.listenPort << '\n';
        return kExitNoAnswer;
    }

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0) {
        std::cerr << "velth-server: cannot set up the signal handling\n";
        return kExitNoAnswer;
    }
    QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [] { QCoreApplication::exit(0); });
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    QString where = options.listenAddress.protocol() == QAbstractSocket::IPv6Protocol
        ? QLatin1Char('[') + options.listenAddress.toString() + QLatin1Char(']')
        : options.listenAddress.toString();
    // Scripts and tests that asked for port 0 read the port taken here.
    std::cout << "velth-server: metrics at http://" << where.toStdString() << ':' << port << "/metrics" << std::endl;
    return QCoreApplication::exec() == 0 ? kExitOk : kExitNoAnswer;
}

} // namespace velth::servertool
