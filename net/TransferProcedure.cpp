#include "net/TransferProcedure.h"

#include "common/AppContext.h"
#include "common/Error.h"
#include "common/ErrorReport.h"
#include "common/ProfileName.h"
#include "common/ProfileSelector.h"
#include "common/Prompts.h"
#include "common/TextCodec.h"
#include "net/TrustPrompt.h"
#include "profiles/ServerProfile.h"

#include <memory>

namespace velth {

const QString kBusyMessage
    = QStringLiteral("You are connected to another FTP Server! Please wait until the upload is finished.");

namespace {

// One running action: what its steps after the connect need.
struct Action
{
    AppContext& context;
    FtpClient& client;
    ConnectSteps steps;
    // The profile as it was read once at the start: every later step uses
    // this, never the file.
    ServerProfile profile;
    ConnectionTarget target; // what the fingerprint question names
};

// A step as the client's callback: it runs under the error guard, so an
// error it raises ends in the general error report right there instead of
// unwinding through the event delivery. A failed result, or an error the step
// raises, closes the connection first, so the page is never left busy.
FtpClient::Done stepCallback(const std::shared_ptr<Action>& action, void (*step)(const std::shared_ptr<Action>&))
{
    return [action, step](const FtpResult& result) {
        runGuarded([&] {
            try {
                if (!result.ok()) {
                    action->client.disconnect();
                    if (action->steps.failed)
                        return action->steps.failed(result);
                    throwFtpError(result);
                }
                step(action);
            } catch (...) {
                action->client.disconnect();
                throw;
            }
        });
    };
}

void inFolder(const std::shared_ptr<Action>& action)
{
    if (action->steps.inFolder)
        action->steps.inFolder();
}

void connected(const std::shared_ptr<Action>& action)
{
    if (!action->client.isConnected()) {
        action->context.setStatus(QStringLiteral("Connection failed!"));
        if (action->steps.connectionFailed)
            action->steps.connectionFailed();
        return;
    }
    action->context.setStatus(action->steps.progressText);
    if (action->steps.connected)
        action->steps.connected();
    const std::string folder = action->profile.hlds + action->steps.folder;
    action->client.changeDirectory(folder, stepCallback(action, &inFolder));
}

// The connect's callback. A certificate or host key the profile has not
// accepted ends the connect before the login: the user is asked, and after
// Yes the connect is made again with the accepted identity. The client is
// disconnected while the question is open.
FtpClient::Done connectCallback(const std::shared_ptr<Action>& action)
{
    return [action](const FtpResult& result) {
        if (result.kind != FtpResult::Kind::Untrusted || !result.identity)
            return stepCallback(action, &connected)(result);
        runGuarded([&] {
            action->client.disconnect();
            ServerIdentity accepted;
            try {
                accepted
                    = confirmServerIdentity(action->context, action->profile.name, action->target, *result.identity);
            } catch (const Error& e) {
                // Not accepted, or changed: an action that takes its
                // failures itself hears of it as one.
                if (!action->steps.failed)
                    throw;
                FtpResult refused = result;
                refused.message = e.message();
                return action->steps.failed(refused);
            }
            action->target.trusted = accepted;
            action->client.setServer(action->target, accepted);
            action->client.connectToHost(connectCallback(action));
        });
    };
}

} // namespace

void throwFtpError(const FtpResult& result)
{
    throw Error(result.message);
}

void openConnection(AppContext& context, FtpClient& client, const std::string& profile, ConnectSteps steps)
{
    openConnection(context, client, readServerProfile(context.store(), profile), std::move(steps));
}

void openConnection(AppContext& context, FtpClient& client, ServerProfile profile, ConnectSteps steps)
{
    ConnectionTarget target;
    static_cast<FtpServerData&>(target) = profile.ftp;
    if (target.kind == ConnectionKind::Sftp || usesTls(target.kind))
        target.trusted = knownFingerprints(context).find(profile.name, target.kind, target.host, target.port);
    client.setServer(target, target.trusted);
    if (steps.beforeConnect)
        steps.beforeConnect(profile.name);

    context.setStatus(QStringLiteral("Connecting to ") + toDisplay(target.host) + QStringLiteral(" on Port ")
        + QString::number(target.port) + QStringLiteral("."));
    auto action
        = std::make_shared<Action>(Action{ context, client, std::move(steps), std::move(profile), std::move(target) });
    client.connectToHost(connectCallback(action));
}

void runTransfer(AppContext& context, FtpClient& client, const QComboBox* selector, TransferVariant variant)
{
    if (variant.checks && !variant.checks())
        return;
    const std::string profile = currentProfile(selector).value_or(std::string());
    // Every action keeps its local copies in the profile's folder: a name
    // from a hand-edited store that would lead outside cfgs ends it here,
    // before anything is written or sent.
    requireFolderName(profile);
    if (variant.prepare)
        variant.prepare(profile);
    // The client counts as connected from the start of its connect, so a
    // second press during the connect is refused too.
    if (client.isConnected() || client.isBusy()) {
        context.prompts().errorBox(kBusyMessage);
        return;
    }

    auto shared = std::make_shared<TransferVariant>(std::move(variant));
    ConnectSteps steps;
    steps.progressText = shared->progressText;
    steps.folder = "/cstrike";
    steps.beforeConnect = shared->beforeConnect;
    steps.connectionFailed = [shared, profile] {
        if (shared->after)
            shared->after(profile);
    };
    steps.inFolder = [context = &context, client = &client, shared, profile] {
        shared->transfer(*client, profile, [context, client, shared, profile](const FtpResult& result) {
            runGuarded([&] {
                client->disconnect();
                if (!result.ok())
                    throwFtpError(result);
                context->setStatus(shared->finalText);
                if (shared->after)
                    shared->after(profile);
            });
        });
    };
    openConnection(context, client, profile, std::move(steps));
}

} // namespace velth
