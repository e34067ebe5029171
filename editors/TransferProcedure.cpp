#include "editors/TransferProcedure.h"

#include "common/AppContext.h"
#include "common/ErrorReport.h"
#include "common/ProfileName.h"
#include "common/ProfileSelector.h"
#include "common/Prompts.h"
#include "common/TextCodec.h"
#include "profiles/ProfileStore.h"

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
    TransferVariant variant;
    std::string profile;
};

// An error after the connection is up ends the action: the connection is
// closed first, so the page is not left busy, and the error goes on to the
// general error report (every step runs under the error guard).
[[noreturn]] void endWith(FtpClient& client, std::exception_ptr error)
{
    client.disconnect();
    std::rethrow_exception(error);
}

using Step = void (*)(const std::shared_ptr<Action>&, std::exception_ptr);

// A step as the client's callback: it runs under the error guard, so an
// error it raises or passes on ends in the general error report right there
// instead of unwinding through the event delivery.
FtpClient::Done stepCallback(const std::shared_ptr<Action>& action, Step step)
{
    return [action, step](std::exception_ptr error) { runGuarded([&] { step(action, error); }); };
}

void finished(const std::shared_ptr<Action>& action, std::exception_ptr error)
{
    if (error)
        endWith(action->client, error);
    action->client.disconnect();
    action->context.setStatus(action->variant.finalText);
    if (action->variant.after)
        action->variant.after(action->profile);
}

void inServerFolder(const std::shared_ptr<Action>& action, std::exception_ptr error)
{
    if (error)
        endWith(action->client, error);
    try {
        action->variant.transfer(action->client, action->profile, stepCallback(action, &finished));
    } catch (...) {
        endWith(action->client, std::current_exception());
    }
}

void connected(const std::shared_ptr<Action>& action, std::exception_ptr error)
{
    // A failed connect or login has closed its connection already.
    if (error)
        std::rethrow_exception(error);
    if (!action->client.isConnected()) {
        action->context.setStatus(QStringLiteral("Connection failed!"));
        if (action->variant.after)
            action->variant.after(action->profile);
        return;
    }
    action->context.setStatus(action->variant.progressText);
    try {
        const std::string folder = action->context.store().readString(action->profile, "HLDS", "") + "/cstrike";
        action->client.changeDirectory(folder, stepCallback(action, &inServerFolder));
    } catch (...) {
        endWith(action->client, std::current_exception());
    }
}

} // namespace

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

    const ProfileStore& store = context.store();
    const std::string host = store.readString(profile, "HOST", "");
    const int port = store.readInt(profile, "PORT", 21);
    client.setHost(host);
    client.setPort(port);
    client.setUser(store.readString(profile, "USER", ""));
    client.setPassword(store.readString(profile, "PASS", ""));
    if (variant.beforeConnect)
        variant.beforeConnect(profile);

    context.setStatus(QStringLiteral("Connecting to ") + toDisplay(host) + QStringLiteral(" on Port ")
        + QString::number(port) + QStringLiteral("."));
    auto action = std::make_shared<Action>(Action{ context, client, std::move(variant), profile });
    client.connectToHost(stepCallback(action, &connected));
}

} // namespace velth
