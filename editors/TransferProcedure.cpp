#include "editors/TransferProcedure.h"

#include "app/AppContext.h"
#include "app/Error.h"
#include "app/ErrorReport.h"
#include "app/ProfileSelector.h"
#include "app/Prompts.h"
#include "app/TextCodec.h"

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
    std::string profile;
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
    const std::string folder = action->context.store().readString(action->profile, "HLDS", "") + action->steps.folder;
    action->client.changeDirectory(folder, stepCallback(action, &inFolder));
}

} // namespace

void throwFtpError(const FtpResult& result)
{
    throw Error(result.message);
}

void openConnection(AppContext& context, FtpClient& client, const std::string& profile, ConnectSteps steps)
{
    const ProfileStore& store = context.store();
    const std::string host = store.readString(profile, "HOST", "");
    const int port = store.readInt(profile, "PORT", 21);
    client.setHost(host);
    client.setPort(port);
    client.setUser(store.readString(profile, "USER", ""));
    client.setPassword(store.readString(profile, "PASS", ""));
    if (steps.beforeConnect)
        steps.beforeConnect(profile);

    context.setStatus(QStringLiteral("Connecting to ") + toDisplay(host) + QStringLiteral(" on Port ")
        + QString::number(port) + QStringLiteral("."));
    auto action = std::make_shared<Action>(Action{ context, client, std::move(steps), profile });
    client.connectToHost(stepCallback(action, &connected));
}

void runTransfer(AppContext& context, FtpClient& client, const QComboBox* selector, TransferVariant variant)
{
    if (variant.checks && !variant.checks())
        return;
    const std::string profile = currentProfile(selector).value_or(std::string());
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
