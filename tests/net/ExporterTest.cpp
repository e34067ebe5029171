// velth-server exporter as Prometheus uses it: Debian's prometheus scrapes it
// over a fleet of emulated servers, and what Prometheus stored, read back
// through its HTTP API, is the fleet's state, hostile names included.
#include "common/TextCodec.h"
#include "net/MetricsText.h"

#include "support/GameServerEmulator.h"
#include "support/TempDir.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <QProcess>
#include <QTcpServer>
#include <QThread>

#include <curl/curl.h>

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <map>
#include <string>
#include <vector>

using nlohmann::json;
using velth::test::GameServerEmulator;
using velth::test::TempDir;

namespace {

using namespace std::chrono_literals;

// --- the exposition text ----------------------------------------------------

struct EscapeCase
{
    const char* name;
    std::string value;
    std::string escaped;
};

class LabelEscape : public ::testing::TestWithParam<EscapeCase>
{ };

TEST_P(LabelEscape, KeepsTheValueInsideItsQuotes)
{
    EXPECT_EQ(velth::metrics::escapeLabelValue(GetParam().value), GetParam().escaped);
}

INSTANTIATE_TEST_SUITE_P(Metrics, LabelEscape,
    ::testing::Values(EscapeCase{ "plain", "de_dust2", "de_dust2" },
        EscapeCase{ "quote_ends_no_label", "a\"} 1\nfake 2", "a\\\"} 1\\nfake 2" },
        EscapeCase{ "backslash_before_quote", "x\\\"", "x\\\\\\\"" },
        EscapeCase{ "line_feed_starts_no_sample", "one\ntwo", "one\\ntwo" },
        // Everything else of valid UTF-8 stands as it is.
        EscapeCase{ "utf8_and_controls", "\xc3\xa9\t\x1b[0m\r", "\xc3\xa9\t\x1b[0m\r" }),
    [](const auto& row) { return std::string(row.param.name); });

TEST(Metrics, ValuesReadBackAsTheSameNumber)
{
    using velth::metrics::formatValue;
    EXPECT_EQ(formatValue(1), "1");
    EXPECT_EQ(formatValue(-2), "-2");
    EXPECT_EQ(formatValue(0.045), "0.045");
    EXPECT_EQ(formatValue(std::nan("")), "NaN");
    EXPECT_EQ(formatValue(HUGE_VAL), "+Inf");
    EXPECT_EQ(formatValue(-HUGE_VAL), "-Inf");
    EXPECT_EQ(std::stod(formatValue(1.0 / 3)), 1.0 / 3);
}

// --- against Prometheus -----------------------------------------------------

std::string displayed(std::string_view bytes)
{
    return velth::toDisplay(bytes).toUtf8().toStdString();
}

int freeTcpPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

size_t collect(char* data, size_t size, size_t count, void* out)
{
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

// A GET on loopback; nothing when it fails.
std::optional<std::string> httpGet(const std::string& url)
{
    CURL* curl = curl_easy_init();
    std::string body;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    const CURLcode code = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    if (code != CURLE_OK)
        return std::nullopt;
    return body;
}

std::string urlEncoded(const std::string& text)
{
    CURL* curl = curl_easy_init();
    char* encoded = curl_easy_escape(curl, text.c_str(), static_cast<int>(text.size()));
    std::string out(encoded);
    curl_free(encoded);
    curl_easy_cleanup(curl);
    return out;
}

// A process stopped (SIGTERM, then SIGKILL) when it goes.
struct Child
{
    QProcess process;
    ~Child()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(10000)) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
};

class ExporterPrometheus : public ::testing::Test
{
protected:
    static constexpr const char* kPrometheus = "/usr/bin/prometheus";

    // Starts velth-server exporter on the targets (and passwords, for player
    // series) and returns the port it serves on.
    int startExporter(const std::vector<std::string>& targets, const std::string& passwords)
    {
        std::string list = "# the fleet\n";
        for (const std::string& target : targets)
            list += target + "\n";
        m_dir.write("targets", list);
        QStringList args{ QStringLiteral("exporter"), QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
            QStringLiteral("--targets"), QString::fromStdString(m_dir.file("targets")) };
        if (!passwords.empty()) {
            m_dir.write("passwords", passwords);
            args << QStringLiteral("--player-series") << QStringLiteral("--passwords")
                 << QString::fromStdString(m_dir.file("passwords"));
        }
        m_exporter.process.start(QStringLiteral(VELTH_SERVER_TOOL), args);
        if (!m_exporter.process.waitForStarted(10000) || !m_exporter.process.waitForReadyRead(30000))
            return 0;
        // "velth-server: metrics at http://127.0.0.1:PORT/metrics"
        const QByteArray line = m_exporter.process.readLine();
        const qsizetype colon = line.lastIndexOf(':');
        return line.mid(colon + 1, line.indexOf('/', colon) - colon - 1).toInt();
    }

    // Starts Prometheus scraping the exporter; false when it did not start.
    bool startPrometheus(int exporterPort)
    {
        m_prometheusPort = freeTcpPort();
        m_dir.write("prometheus.yml",
            "global:\n  scrape_interval: 5s\n  scrape_timeout: 5s\n"
            "scrape_configs:\n  - job_name: hlds\n    static_configs:\n      - targets: ['127.0.0.1:"
                + std::to_string(exporterPort) + "']\n");
        m_prometheus.process.setProcessChannelMode(QProcess::MergedChannels);
        m_prometheus.process.start(QString::fromLatin1(kPrometheus),
            { QStringLiteral("--config.file=") + QString::fromStdString(m_dir.file("prometheus.yml")),
                QStringLiteral("--storage.tsdb.path=") + QString::fromStdString(m_dir.file("data")),
                QStringLiteral("--web.listen-address=127.0.0.1:") + QString::number(m_prometheusPort) });
        return m_prometheus.process.waitForStarted(10000);
    }

    // The series of one metric once Prometheus has them, by their target
    // label; empty when it never did within a minute.
    std::vector<json> series(const std::string& query, std::size_t atLeast)
    {
        const auto until = std::chrono::steady_clock::now() + 90s;
        while (std::chrono::steady_clock::now() < until) {
            const auto body = httpGet(
                "http://127.0.0.1:" + std::to_string(m_prometheusPort) + "/api/v1/query?query=" + urlEncoded(query));
            if (body) {
                const json answer = json::parse(*body, nullptr, false);
                if (!answer.is_discarded() && answer["status"] == "success"
                    && answer["data"]["result"].size() >= atLeast)
                    return answer["data"]["result"].get<std::vector<json>>();
            }
            QThread::msleep(500);
        }
        return {};
    }

    std::string log() { return m_prometheus.process.readAll().toStdString(); }

    TempDir m_dir;
    Child m_exporter;
    Child m_prometheus;
    int m_prometheusPort = 0;
};

double valueOf(const json& sample)
{
    return std::stod(sample["value"][1].get<std::string>());
}

// Ten servers (one with markup, control characters and invalid UTF-8 in every
// text), one that never answers; every value Prometheus stored is the
// server's, and every name reads back as the program shows it.
TEST_F(ExporterPrometheus, StoresTheFleetsStateHostileNamesIncluded)
{
    if (access(kPrometheus, X_OK) != 0)
        GTEST_SKIP() << "no " << kPrometheus << " (Debian's prometheus) to scrape the exporter";
    GameServerEmulator::Options fleetOptions;
    fleetOptions.count = 9;
    fleetOptions.rconPassword = "pw";
    GameServerEmulator fleet(fleetOptions);
    GameServerEmulator::Options hostileOptions;
    hostileOptions.rconPassword = "other pw";
    hostileOptions.hostile = { GameServerEmulator::Hostile::Markup };
    GameServerEmulator hostile(hostileOptions);
    GameServerEmulator gone;
    const std::string silent = "127.0.0.1:" + std::to_string(gone.port());
    gone.stop();

    std::vector<std::string> targets;
    std::string passwords;
    for (const int port : fleet.ports()) {
        targets.push_back("127.0.0.1:" + std::to_string(port));
        passwords += targets.back() + " pw\n";
    }
    const std::string strange = "127.0.0.1:" + std::to_string(hostile.port());
    targets.push_back(strange);
    passwords += strange + "\tother pw\n";
    targets.push_back(silent);

    const int port = startExporter(targets, passwords);
    ASSERT_GT(port, 0) << m_exporter.process.readAllStandardError().toStdString();
    ASSERT_TRUE(startPrometheus(port));

    const std::vector<json> up = series("hlds_up", targets.size());
    ASSERT_EQ(up.size(), targets.size()) << log();
    for (const json& sample : up)
        EXPECT_EQ(valueOf(sample), sample["metric"]["target"] == silent ? 0 : 1) << sample.dump();

    for (const auto& [metric, expected] :
        std::map<std::string, double>{ { "hlds_players", 4 }, { "hlds_max_players", 16 }, { "hlds_bots", 1 } }) {
        const std::vector<json> values = series(metric, targets.size() - 1);
        ASSERT_EQ(values.size(), targets.size() - 1) << metric;
        for (const json& sample : values)
            EXPECT_EQ(valueOf(sample), expected) << sample.dump();
    }

    const std::vector<json> info = series("hlds_info", targets.size() - 1);
    ASSERT_EQ(info.size(), targets.size() - 1);
    for (const json& sample : info) {
        const json& labels = sample["metric"];
        if (labels["target"] == strange) {
            EXPECT_EQ(labels["name"], displayed("<b>Velth</b> <a href='x'>Server</a>\x07\x1b[31m\xff\xfe&amp;"));
            EXPECT_EQ(labels["map"], displayed("<i>de_dust2</i>\x01"));
        } else {
            EXPECT_EQ(labels["map"], "de_dust2");
            EXPECT_EQ(labels["name"].get<std::string>().rfind("Velth Test Server", 0), 0u) << labels.dump();
        }
    }

    // Four players on each of the ten servers that answer, by the console.
    const std::vector<json> frags = series("hlds_player_frags", 40);
    ASSERT_EQ(frags.size(), 40u);
    std::map<std::string, double> hostileFrags;
    for (const json& sample : frags) {
        if (sample["metric"]["target"] == strange)
            hostileFrags[sample["metric"]["name"].get<std::string>()] = valueOf(sample);
    }
    const std::map<std::string, double> expectedFrags{
        { displayed("<img src=x onerror=alert(1)>Player One"), 10 },
        { displayed("\x01\x02\x7f\x1b[0mThe \"Quoted\" One"), -2 },
        { displayed("\xc3\x28\xa0\xa1 bad utf-8[VLT] Sniper"), 25 },
        { displayed("<script>alert('x')</script>Bot Zeta"), 3 },
    };
    EXPECT_EQ(hostileFrags, expectedFrags);
    const std::vector<json> rcon = series("hlds_rcon_up", targets.size() - 1);
    ASSERT_EQ(rcon.size(), targets.size() - 1);
    for (const json& sample : rcon)
        EXPECT_EQ(valueOf(sample), 1) << sample.dump();
}

} // namespace
