#include "editors/GroupUpload.h"

#include "common/AppContext.h"
#include "common/Error.h"
#include "common/ProfileName.h"
#include "common/TextCodec.h"
#include "editors/ServerCfg.h"
#include "net/FtpClient.h"
#include "net/GameServer.h"
#include "net/TransferProcedure.h"

#include <algorithm>

namespace velth {
namespace {

// The first line of a console's answer, without its line end.
std::string firstLine(const std::string& output)
{
    const std::size_t end = output.find_first_of("\r\n");
    return output.substr(0, end);
}

} // namespace

GroupUpload::GroupUpload(AppContext& context, QObject* parent)
    : QObject(parent)
    , m_context(context)
{ }

// The clients are children: they go with this object, and a client that
// is gone calls nothing back.
GroupUpload::~GroupUpload() = default;

void GroupUpload::setMaxConnections(int connections)
{
    m_maxConnections = std::max(1, connections);
}

bool GroupUpload::startUpload(const std::vector<std::string>& profiles, const std::string& configPath)
{
    if (isRunning())
        return false;
    m_rows.clear();
    m_queue.clear();
    for (const std::string& profile : profiles) {
        if (std::any_of(m_rows.begin(), m_rows.end(), [&](const Row& row) { return row.profile == profile; }))
            continue;
        Row row;
        row.profile = profile;
        row.upload = Outcome::Waiting;
        m_queue.push_back(m_rows.size());
        m_rows.push_back(std::move(row));
    }
    m_configPath = configPath;
    m_applying = false;
    m_next = 0;
    for (std::size_t i = 0; i < m_rows.size(); ++i)
        Q_EMIT rowChanged(static_cast<int>(i));
    // The first connections start from the event loop, as every outcome
    // comes.
    QMetaObject::invokeMethod(this, &GroupUpload::startNext, Qt::QueuedConnection);
    return true;
}

int GroupUpload::applicable() const
{
    return static_cast<int>(std::count_if(m_rows.begin(), m_rows.end(),
        [](const Row& row) { return row.upload == Outcome::Done && row.apply != Outcome::Done; }));
}

bool GroupUpload::startApply()
{
    if (isRunning() || applicable() == 0)
        return false;
    m_queue.clear();
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        Row& row = m_rows[i];
        if (row.upload != Outcome::Done || row.apply == Outcome::Done)
            continue;
        row.apply = Outcome::Waiting;
        row.applyText.clear();
        m_queue.push_back(i);
        Q_EMIT rowChanged(static_cast<int>(i));
    }
    m_applying = true;
    m_next = 0;
    QMetaObject::invokeMethod(this, &GroupUpload::startNext, Qt::QueuedConnection);
    return true;
}

void GroupUpload::startNext()
{
    while (m_running < m_maxConnections && m_next < m_queue.size()) {
        const std::size_t row = m_queue[m_next++];
        ++m_running;
        m_peak = std::max(m_peak, m_running);
        if (m_applying)
            apply(row);
        else
            upload(row);
    }
    if (m_running == 0 && m_next >= m_queue.size() && !m_queue.empty()) {
        m_queue.clear();
        m_next = 0;
        Q_EMIT finished();
    }
}

void GroupUpload::upload(std::size_t index)
{
    Row& row = m_rows[index];
    row.upload = Outcome::Running;
    Q_EMIT rowChanged(static_cast<int>(index));
    FtpClient* client = nullptr;
    try {
        // Its local copy goes into the profile's folder: a name that would
        // lead outside cfgs ends it here, before anything is written.
        requireFolderName(row.profile);
        row.read = readServerProfile(m_context.store(), row.profile);
        if (row.read->rconPass.empty())
            return finish(index, true, Outcome::Refused,
                "the profile has no rcon password; upload to this server alone once to set it");
        const std::string serverCfg = m_context.localCopy(row.profile, "server.cfg");
        writeServerCfg(m_configPath, serverCfg, row.read->rconPass, row.read->serverPass);

        client = new FtpClient(this);
        ConnectSteps steps;
        steps.progressText = QStringLiteral("Uploading the config to many servers.");
        steps.folder = "/cstrike";
        steps.failed = [this, index, client](const FtpResult& result) {
            client->deleteLater();
            uploaded(index, result);
        };
        steps.connectionFailed = [this, index, client] {
            client->deleteLater();
            finish(index, true, Outcome::Failed, "Connection failed!");
        };
        steps.inFolder = [this, index, client, serverCfg] {
            client->store(serverCfg, "server.cfg", [this, index, client](const FtpResult& result) {
                client->disconnect();
                client->deleteLater();
                uploaded(index, result);
            });
        };
        openConnection(m_context, *client, *row.read, std::move(steps));
    } catch (const Error& e) {
        if (client)
            client->deleteLater();
        finish(index, true, Outcome::Failed, e.message());
    }
}

void GroupUpload::uploaded(std::size_t index, const FtpResult& result)
{
    switch (result.kind) {
    case FtpResult::Kind::Ok:
        return finish(index, true, Outcome::Done, {});
    case FtpResult::Kind::Refused:
        return finish(index, true, Outcome::Refused, result.message);
    default:
        return finish(index, true, Outcome::Failed, result.message);
    }
}

void GroupUpload::apply(std::size_t index)
{
    Row& row = m_rows[index];
    row.apply = Outcome::Running;
    Q_EMIT rowChanged(static_cast<int>(index));
    const ServerProfile& read = *row.read;
    if (read.gameHost().empty())
        return finish(index, false, Outcome::Failed, "the profile names no game server");
    auto* console = new RconClient(this);
    console->setAddress(GameAddress{ read.gameHost(), read.gamePort });
    console->setPassword(read.rconPass);
    console->execute(execConfigCommand(), [this, index, console](const RconResult& result) {
        console->deleteLater();
        applied(index, result);
    });
}

void GroupUpload::applied(std::size_t index, const RconResult& result)
{
    switch (result.kind) {
    case RconResult::Kind::Ok: {
        // The engine's own failure texts for this exec; whatever else the
        // config printed is its own doing.
        const CommandOutcome outcome = commandOutcome(execConfigCommand(), result.output);
        if (outcome.kind == CommandOutcome::Kind::Failed)
            return finish(index, false, Outcome::Failed, outcome.text);
        return finish(index, false, Outcome::Done, firstLine(result.output));
    }
    case RconResult::Kind::BadPassword:
    case RconResult::Kind::NoPassword:
    case RconResult::Kind::Banned:
    case RconResult::Kind::Refused:
        return finish(index, false, Outcome::Refused, result.message);
    default:
        return finish(index, false, Outcome::Failed, result.message);
    }
}

void GroupUpload::finish(std::size_t index, bool isUpload, Outcome outcome, std::string text)
{
    Row& row = m_rows[index];
    (isUpload ? row.upload : row.apply) = outcome;
    (isUpload ? row.uploadText : row.applyText) = std::move(text);
    if (isUpload)
        row.apply = Outcome::None;
    --m_running;
    Q_EMIT rowChanged(static_cast<int>(index));
    // The next one starts from the event loop, never inside a client's
    // callback.
    QMetaObject::invokeMethod(this, &GroupUpload::startNext, Qt::QueuedConnection);
}

QString outcomeText(GroupUpload::Outcome outcome, bool isUpload, const std::string& text)
{
    using Outcome = GroupUpload::Outcome;
    const QString why = visibleText(toDisplay(text));
    switch (outcome) {
    case Outcome::None:
        return {};
    case Outcome::Waiting:
        return QStringLiteral("waiting");
    case Outcome::Running:
        return isUpload ? QStringLiteral("uploading") : QStringLiteral("applying");
    case Outcome::Done:
        if (isUpload)
            return QStringLiteral("uploaded");
        return why.isEmpty() ? QStringLiteral("applied") : QStringLiteral("applied: ") + why;
    case Outcome::Refused:
        return QStringLiteral("refused: ") + why;
    case Outcome::Failed:
        return QStringLiteral("failed: ") + why;
    }
    return {};
}

} // namespace velth
