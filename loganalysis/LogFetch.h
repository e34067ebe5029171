#pragma once

#include <QObject>

#include <cstdint>
#include <string>
#include <vector>

namespace velth {

class AppContext;
class FtpClient;
struct FtpResult;

// "Fetch new logs" of the Chat parser page: for each profile, lists the
// server's logs folder (<HLDS>/cstrike/logs) and downloads every log that is
// not kept yet in the profile's own folder under the logs folder, judged by
// name and size: a log the server is still writing has grown since, and is
// fetched again. Each server has a client of its own, a bounded number at a
// time; the logs of one server come one after another, each whole or not at
// all (the client's download renames a complete file into place). Everything
// runs from the event loop; cancel() ends every connection at once.
class LogFetch final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LogFetch)

public:
    static constexpr int kDefaultMaxConnections = 4;

    enum class State { Waiting, Listing, Fetching, Done, Failed, Cancelled };
    struct Row
    {
        std::string profile;
        State state = State::Waiting;
        int listed = 0; // logs the server listed
        int toFetch = 0; // of those, new or changed
        int fetched = 0;
        std::uint64_t bytes = 0; // downloaded so far
        std::string text; // why it failed
    };

    explicit LogFetch(AppContext& context, QObject* parent = nullptr);
    ~LogFetch() override;

    void setMaxConnections(int connections);
    // Fetches for each profile (each once, in this order) into
    // <logsRoot>/<profile>/. False when a fetch is running.
    bool start(const std::vector<std::string>& profiles, const std::string& logsRoot);
    // Ends every connection; the rows not done read Cancelled.
    void cancel();
    bool isRunning() const { return m_running > 0 || m_next < m_rows.size(); }

    const std::vector<Row>& rows() const { return m_rows; }
    int peakConnections() const { return m_peak; }

    // The folder a profile's logs are kept in.
    static std::string profileLogs(const std::string& logsRoot, const std::string& profile);

Q_SIGNALS:
    void rowChanged(int row);
    void finished();

private:
    struct Job;
    void startNext();
    void begin(std::size_t row);
    void list(std::size_t row, bool withPattern);
    void listed(std::size_t row, const std::vector<std::string>& lines);
    void fetchNext(std::size_t row);
    void end(std::size_t row, State state, std::string text = {});

    AppContext& m_context;
    int m_maxConnections = kDefaultMaxConnections;
    std::string m_root;
    std::vector<Row> m_rows;
    std::vector<Job> m_jobs;
    std::size_t m_next = 0;
    int m_running = 0;
    int m_peak = 0;
    bool m_cancelled = false;
};

// A row's progress as the list shows it: "3 of 7 new logs", "up to date".
QString fetchText(const LogFetch::Row& row);

} // namespace velth
