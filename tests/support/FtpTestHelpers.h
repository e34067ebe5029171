#pragma once

// Shared helpers of the FTP tests: waiting in the event loop for a client's
// callback and reading the error it got.

#include "common/AppContext.h"
#include "net/FtpClient.h"
#include "profiles/ProfileStore.h"
#include "support/FtpServer.h"
#include "support/PerKind.h"
#include "support/RecordingStatus.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>

#include <algorithm>

#include <filesystem>
#include <string>
#include <vector>

namespace velth::test {

// Runs the event loop until the condition holds; false after a generous
// limit (a hang is a failure, not a measurement).
template <class Condition>
bool waitUntil(Condition condition, int limitMs = 60000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > limitMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

// One callback's outcome.
struct Outcome
{
    bool called = false;
    FtpResult result;
    std::vector<std::string> lines;

    FtpClient::Done done()
    {
        return [this](const FtpResult& r) {
            called = true;
            result = r;
        };
    }
    FtpClient::Listed listed()
    {
        return [this](const FtpResult& r, std::vector<std::string> l) {
            called = true;
            result = r;
            lines = std::move(l);
        };
    }
    // Waits for the callback: "" on success, else the error's message.
    std::string wait()
    {
        EXPECT_TRUE(waitUntil([this] { return called; })) << "the callback never came";
        return result.ok() ? std::string() : result.message;
    }
};

// Points the client at the server, with the server's kind of connection and
// its certificate or host key accepted.
inline void pointAt(FtpClient& client, const FtpServer& server)
{
    const ConnectionKind kind = server.kind();
    client.setServer({ kind, server.host(), server.port(), server.user(), server.password() },
        kind == ConnectionKind::Sftp || usesTls(kind) ? std::optional(server.accepted()) : std::nullopt);
}

// Every byte value, some lines with CR LF, LF and CR ends, no end at the end.
inline std::string allBytes()
{
    std::string bytes = "admin1 \"STEAM_0:1\"\r\nlf only\nlone cr\r";
    for (int i = 0; i < 256; ++i)
        bytes += static_cast<char>(i);
    bytes += "\r\nlast line";
    return bytes;
}

// Files in a folder whose name starts with the prefix (left-over temporaries).
inline std::vector<std::string> filesStartingWith(const std::string& folder, const std::string& prefix)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) == 0)
            names.push_back(name);
    }
    return names;
}

// Writes a profile pointing at the server into the program folder's store.
inline void addProfile(AppContext& context, const std::string& name, const FtpServer& server, const std::string& hlds)
{
    ProfileStore& store = context.store();
    store.writeString(name, "HOST", server.host());
    store.writeInt(name, "PORT", server.port());
    store.writeString(name, "USER", server.user());
    store.writeString(name, "PASS", server.password());
    store.writeString(name, "HLDS", server.hlds(hlds));
    const ConnectionKind kind = server.kind();
    store.writeString(name, "CONNECTION", std::string(connectionKindValue(kind)));
    // As if the user had accepted the server's certificate or host key.
    if (kind == ConnectionKind::Sftp || usesTls(kind))
        KnownFingerprints(context.programFolder() + std::string(KnownFingerprints::kFileName))
            .remember(name, kind, server.host(), server.port(), server.accepted());
}

} // namespace velth::test
