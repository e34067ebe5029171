#include "loganalysis/LogFetch.h"

#include "common/AppContext.h"
#include "common/Error.h"
#include "common/ProfileName.h"
#include "common/TextCodec.h"
#include "loganalysis/ListingLine.h"
#include "net/FtpClient.h"
#include "net/TransferProcedure.h"
#include "profiles/ServerProfile.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <system_error>
#include <utility>

namespace velth {

struct LogFetch::Job
{
    FtpClient* client = nullptr;
    // Remote name and local path of each log to fetch.
    std::vector<std::pair<std::string, std::string>> logs;
    std::size_t next = 0;
    std::uint64_t before = 0; // bytes of the logs done
};

LogFetch::LogFetch(AppContext& context, QObject* parent)
    : QObject(parent)
    , m_context(context)
{ }

// The clients are children: they go with this object and call nothing back.
LogFetch::~LogFetch() = default;

void LogFetch::setMaxConnections(int connections)
{
    m_maxConnections = std::max(1, connections);
}

std::string LogFetch::profileLogs(const std::string& logsRoot, const std::string& profile)
{
    return logsRoot + "/" + profile;
}

bool LogFetch::start(const std::vector<std::string>& profiles, const std::string& logsRoot)
{
    if (isRunning())
        return false;
    m_rows.clear();
    m_jobs.clear();
    for (const std::string& profile : profiles) {
        if (std::any_of(m_rows.begin(), m_rows.end(), [&](const Row& row) { return row.profile == profile; }))
            continue;
        Row row;
        row.profile = profile;
        m_rows.push_back(std::move(row));
    }
    m_jobs.resize(m_rows.size());
    m_root = logsRoot;
    m_next = 0;
    m_cancelled = false;
    for (std::size_t i = 0; i < m_rows.size(); ++i)
        Q_EMIT rowChanged(static_cast<int>(i));
    QMetaObject::invokeMethod(this, &LogFetch::startNext, Qt::QueuedConnection);
    return true;
}

void LogFetch::cancel()
{
    if (!isRunning())
        return;
    m_cancelled = true;
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        if (m_rows[i].state == State::Waiting) {
            m_rows[i].state = State::Cancelled;
            Q_EMIT rowChanged(static_cast<int>(i));
        }
        // A running operation ends with Cancelled, which ends its row.
        if (FtpClient* client = m_jobs[i].client; client && client->isBusy())
            client->cancel();
    }
    m_next = m_rows.size();
    QMetaObject::invokeMethod(this, &LogFetch::startNext, Qt::QueuedConnection);
}

void LogFetch::startNext()
{
    while (m_running < m_maxConnections && m_next < m_rows.size()) {
        const std::size_t row = m_next++;
        if (m_rows[row].state != State::Waiting)
            continue;
        ++m_running;
        m_peak = std::max(m_peak, m_running);
        begin(row);
    }
    if (m_running == 0 && m_next >= m_rows.size() && !m_rows.empty() && !m_jobs.empty()) {
        m_next = m_rows.size();
        m_jobs.clear();
        Q_EMIT finished();
    }
}

void LogFetch::begin(std::size_t index)
{
    Row& row = m_rows[index];
    row.state = State::Listing;
    Q_EMIT rowChanged(static_cast<int>(index));
    Job& job = m_jobs[index];
    try {
        // The logs go into the profile's own folder: a name that would lead
        // elsewhere ends it here.
        requireFolderName(row.profile);
        job.client = new FtpClient(this);
        connect(job.client, &FtpClient::progress, this, [this, index](qint64 done, qint64) {
            if (index >= m_jobs.size() || m_rows[index].state != State::Fetching)
                return;
            m_rows[index].bytes = m_jobs[index].before + static_cast<std::uint64_t>(std::max<qint64>(done, 0));
            Q_EMIT rowChanged(static_cast<int>(index));
        });
        ConnectSteps steps;
        steps.progressText = QStringLiteral("Fetching new logs.");
        steps.folder = "/cstrike/logs";
        steps.failed = [this, index](const FtpResult& result) {
            end(index, result.kind == FtpResult::Kind::Cancelled ? State::Cancelled : State::Failed, result.message);
        };
        steps.connectionFailed = [this, index] { end(index, State::Failed, "Connection failed!"); };
        steps.inFolder = [this, index] { list(index, true); };
        openConnection(m_context, *job.client, row.profile, std::move(steps));
    } catch (const Error& e) {
        end(index, State::Failed, e.message());
    }
}

void LogFetch::list(std::size_t index, bool withPattern)
{
    FtpClient* client = m_jobs[index].client;
    client->list(withPattern ? "*.log" : "",
        [this, index, client, withPattern](const FtpResult& result, std::vector<std::string> lines) {
            // Servers that do not expand a pattern in LIST refuse it: the
            // whole folder then, of which only the logs count.
            if (result.kind == FtpResult::Kind::Refused && withPattern && client->isConnected())
                return list(index, false);
            if (!result.ok())
                return end(index, result.kind == FtpResult::Kind::Cancelled ? State::Cancelled : State::Failed,
                    result.message);
            listed(index, lines);
        });
}

void LogFetch::listed(std::size_t index, const std::vector<std::string>& lines)
{
    Row& row = m_rows[index];
    Job& job = m_jobs[index];
    const std::string folder = profileLogs(m_root, row.profile);
    for (const ListingRow& listed : readLogListing(lines)) {
        ++row.listed;
        // Kept as the list shows the name, as a single download keeps it.
        const std::string local = folder + "/" + fromDisplay(toDisplay(listed.fileName));
        std::uint64_t size = 0;
        const char* end = listed.size.data() + listed.size.size();
        const bool known = !listed.size.empty() && std::from_chars(listed.size.data(), end, size).ptr == end;
        std::error_code error;
        const std::uintmax_t kept = std::filesystem::file_size(local, error);
        if (known && !error && kept == size)
            continue;
        job.logs.emplace_back(listed.fileName, local);
    }
    row.toFetch = static_cast<int>(job.logs.size());
    if (!job.logs.empty()) {
        std::error_code error;
        std::filesystem::create_directories(folder, error);
        if (error)
            return end(index, State::Failed, "Cannot make the folder " + folder + ": " + error.message());
    }
    row.state = State::Fetching;
    Q_EMIT rowChanged(static_cast<int>(index));
    fetchNext(index);
}

void LogFetch::fetchNext(std::size_t index)
{
    Job& job = m_jobs[index];
    if (job.next >= job.logs.size()) {
        job.client->disconnect();
        return end(index, State::Done);
    }
    const auto& [remote, local] = job.logs[job.next];
    job.client->retrieve(remote, local, [this, index, local = local](const FtpResult& result) {
        if (!result.ok())
            return end(
                index, result.kind == FtpResult::Kind::Cancelled ? State::Cancelled : State::Failed, result.message);
        Job& done = m_jobs[index];
        std::error_code error;
        const std::uintmax_t size = std::filesystem::file_size(local, error);
        done.before += error ? 0 : static_cast<std::uint64_t>(size);
        ++done.next;
        Row& row = m_rows[index];
        ++row.fetched;
        row.bytes = done.before;
        Q_EMIT rowChanged(static_cast<int>(index));
        fetchNext(index);
    });
}

void LogFetch::end(std::size_t index, State state, std::string text)
{
    Row& row = m_rows[index];
    row.state = m_cancelled && state == State::Failed ? State::Cancelled : state;
    row.text = std::move(text);
    if (FtpClient* client = m_jobs[index].client) {
        client->disconnect();
        client->deleteLater();
        m_jobs[index].client = nullptr;
    }
    --m_running;
    Q_EMIT rowChanged(static_cast<int>(index));
    QMetaObject::invokeMethod(this, &LogFetch::startNext, Qt::QueuedConnection);
}

QString fetchText(const LogFetch::Row& row)
{
    const QString why = visibleText(toDisplay(row.text));
    const QString count = QStringLiteral("%1 of %2 new logs").arg(row.fetched).arg(row.toFetch);
    switch (row.state) {
    case LogFetch::State::Waiting:
        return QStringLiteral("waiting");
    case LogFetch::State::Listing:
        return QStringLiteral("listing");
    case LogFetch::State::Fetching:
        return count + QStringLiteral(", %1 KiB").arg(row.bytes / 1024);
    case LogFetch::State::Done:
        return row.toFetch == 0
            ? (row.listed == 1 ? QStringLiteral("up to date (1 log)")
                               : QStringLiteral("up to date (%1 logs)").arg(row.listed))
            : (row.listed == 1 ? QStringLiteral("fetched 1 of 1 log")
                               : QStringLiteral("fetched %1 of %2 logs").arg(row.toFetch).arg(row.listed));
    case LogFetch::State::Failed:
        return QStringLiteral("failed after ") + count + QStringLiteral(": ") + why;
    case LogFetch::State::Cancelled:
        return QStringLiteral("cancelled after ") + count;
    }
    return {};
}

} // namespace velth
