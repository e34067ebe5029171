#pragma once

#include "profiles/ServerProfile.h"

#include <QObject>

#include <optional>
#include <string>
#include <vector>

namespace velth {

class AppContext;
class FtpClient;
class RconClient;
struct FtpResult;
struct RconResult;

// One config to many servers: composes server.cfg for each profile from one
// config file with that profile's own rcon and server passwords, uploads it
// over that profile's own connection kind (a client of its own per server, a
// bounded number at a time, the whole-file upload of the single upload), and
// then, on the servers that took it, runs "exec server.cfg" through each
// server's remote console with the profile's rcon password. Every outcome is
// read from the server's answer. Everything runs from the event loop; the
// window's thread never waits.
class GroupUpload final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(GroupUpload)

public:
    static constexpr int kDefaultMaxConnections = 4;

    enum class Outcome {
        None, // not asked for (yet)
        Waiting, // for a free connection
        Running,
        Done, // uploaded, or applied
        Refused, // the server (or the profile) said no
        Failed, // it did not get through
    };
    struct Row
    {
        std::string profile;
        // The profile as read once at the start of its upload.
        std::optional<ServerProfile> read;
        Outcome upload = Outcome::None;
        std::string uploadText; // why, or the server's answer
        Outcome apply = Outcome::None;
        std::string applyText;
    };

    explicit GroupUpload(AppContext& context, QObject* parent = nullptr);
    ~GroupUpload() override;

    void setMaxConnections(int connections);
    int maxConnections() const { return m_maxConnections; }

    // Uploads the config file at `configPath` to each profile (listed in
    // this order, each once). False when a run is going on.
    bool startUpload(const std::vector<std::string>& profiles, const std::string& configPath);
    // "Apply it now" on the rows that took the config and were not applied
    // since. False when a run is going on or no row can be applied.
    bool startApply();
    bool isRunning() const { return m_running > 0 || m_next < m_queue.size(); }
    // The rows the next startApply() would apply.
    int applicable() const;

    const std::vector<Row>& rows() const { return m_rows; }
    // The most connections that were open at once in this object's life.
    int peakConnections() const { return m_peak; }

Q_SIGNALS:
    void rowChanged(int row);
    // The run (upload or apply) ended: every row has its outcome.
    void finished();

private:
    void startNext();
    void upload(std::size_t row);
    void apply(std::size_t row);
    void uploaded(std::size_t row, const FtpResult& result);
    void applied(std::size_t row, const RconResult& result);
    void finish(std::size_t row, bool isUpload, Outcome outcome, std::string text);

    AppContext& m_context;
    int m_maxConnections = kDefaultMaxConnections;
    std::vector<Row> m_rows;
    std::string m_configPath;
    bool m_applying = false;
    std::vector<std::size_t> m_queue; // rows of the running run
    std::size_t m_next = 0;
    int m_running = 0;
    int m_peak = 0;
};

// The outcome as the result table shows it: "uploaded", "refused: ...".
QString outcomeText(GroupUpload::Outcome outcome, bool isUpload, const std::string& text);

} // namespace velth
