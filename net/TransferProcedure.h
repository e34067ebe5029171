#pragma once

#include "net/FtpClient.h"

#include <QString>

#include <functional>
#include <string>

class QComboBox;

namespace velth {

class AppContext;

// One FTP action of a page: checks, local preparation, busy check, profile,
// connect, progress text, one CWD to <HLDS>/cstrike, one transfer, disconnect,
// final text, and what follows. Every step that can fail raises velth::Error;
// an error ends the action in the general error report with the status line
// left at the text set last (an error after the connection is up also closes
// the connection, so the page is never left busy).
struct TransferVariant
{
    // Step 1: the variant's checks; show the refusal through the prompts and
    // return false to end the action.
    std::function<bool()> checks;
    // Step 2: local preparation (runs before the busy check). May throw.
    std::function<void(const std::string& profile)> prepare;
    // Step 5: after the profile's connection data are read, before connecting.
    std::function<void(const std::string& profile)> beforeConnect;
    QString progressText;
    // Step 8.3: the transfer on the connected client, in the server folder.
    std::function<void(FtpClient& client, const std::string& profile, FtpClient::Done done)> transfer;
    QString finalText;
    // Step 10: runs after both the success path and "Connection failed!".
    std::function<void(const std::string& profile)> after;
};

// The connect steps every page shares: give the client the profile's
// connection data, set the connect message, connect, set the progress text
// and change to <HLDS> + folder. Returns at once; the steps go on from the
// event loop, each under the error guard.
struct ConnectSteps
{
    QString progressText;
    // Appended to the profile's HLDS ("/cstrike").
    std::string folder;
    // After the profile's connection data are read, before connecting.
    std::function<void(const std::string& profile)> beforeConnect;
    // The client is connected and logged in; the progress text is shown.
    std::function<void()> connected;
    // The client is in the folder.
    std::function<void()> inFolder;
    // The connect returned without a connection ("Connection failed!" is shown).
    std::function<void()> connectionFailed;
    // A step failed; the client has been disconnected. Default: the error
    // goes to the general error report. Set, it also hears of a server
    // identity the user did not accept (an Untrusted result with the reason).
    std::function<void(const FtpResult& result)> failed;
};
// The profile is read once, at the start: the connect, the fingerprint
// question and the folder all use that one reading. A profile the program
// cannot use (an unknown connection kind) raises velth::Error before anything
// is sent.
void openConnection(AppContext& context, FtpClient& client, const std::string& profile, ConnectSteps steps);
// The same with a profile the caller has read already (to use other keys of
// the same reading).
void openConnection(AppContext& context, FtpClient& client, ServerProfile profile, ConnectSteps steps);

// Ends an action with the result's message in the general error report.
[[noreturn]] void throwFtpError(const FtpResult& result);

// Runs the action on the page's own client for the profile picked in the
// page's selector. Returns at once; the action goes on from the event loop.
// A page counts as busy from the start of the connect to the end of the
// action; a second action of the same page meanwhile gets the busy message.
void runTransfer(AppContext& context, FtpClient& client, const QComboBox* selector, TransferVariant variant);

// "You are connected to another FTP Server! Please wait until the upload is finished."
extern const QString kBusyMessage;

} // namespace velth
