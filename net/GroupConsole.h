#pragma once

#include "net/GameServer.h"

#include <QObject>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The same console command lines on many game servers at once, each with its
// own password: for the Live page's actions on several servers and for
// velth-server's rcon on many addresses.

namespace velth {

struct GroupTarget
{
    GameAddress address;
    std::string password;
};

// What one server made of the command lines: a result per line that ran, in
// order. The lines stop at the first that was not Ok (a refused password, no
// answer), so a refusal is sent once and stops that server only.
struct GroupResult
{
    std::vector<RconResult> commands;

    bool ok() const { return !commands.empty() && commands.back().ok() && commands.size() == lines; }
    // The result that ends this server's run (the first failure, or the last line).
    const RconResult& last() const { return commands.back(); }

    std::size_t lines = 0;
};

class GroupConsole final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(GroupConsole)

public:
    // Servers whose commands run at once; the rest wait their turn.
    static constexpr int kDefaultParallel = 256;

    using Progress = std::function<void(std::size_t index, const GroupResult& result)>;
    using Done = std::function<void(const std::vector<GroupResult>& results)>;

    explicit GroupConsole(QObject* parent = nullptr);
    // Ends the run without calling back.
    ~GroupConsole() override;

    // The time each command may take (RconClient's, 10 s by default).
    void setTimeout(std::chrono::milliseconds timeout);
    void setParallel(int servers);

    // Runs the lines on every target; progress gets each server's result as
    // it ends, done all of them in the targets' order, later, from the event
    // loop (also for no targets). A run already going is cancelled first.
    void run(std::vector<GroupTarget> targets, std::vector<std::string> lines, Progress progress, Done done);
    // Ends the run without calling back.
    void cancel();
    bool isBusy() const;

private:
    class Private;
    std::unique_ptr<Private> d;
};

} // namespace velth
