#include "net/GroupConsole.h"

#include <algorithm>
#include <deque>

namespace velth {

class GroupConsole::Private
{
public:
    std::chrono::milliseconds timeout{ 10000 };
    int parallel = kDefaultParallel;

    std::vector<GroupTarget> targets;
    std::vector<std::string> lines;
    Progress progress;
    Done done;
    std::vector<GroupResult> results;
    std::vector<std::unique_ptr<RconClient>> consoles;
    std::deque<std::size_t> waiting;
    std::size_t left = 0;
    bool busy = false;
    // A run that was cancelled drops what its consoles still report.
    std::uint64_t generation = 0;

    void startNext()
    {
        while (!waiting.empty() && running() < parallel) {
            const std::size_t index = waiting.front();
            waiting.pop_front();
            auto console = std::make_unique<RconClient>();
            console->setAddress(targets[index].address);
            console->setPassword(targets[index].password);
            console->setTimeout(timeout);
            consoles[index] = std::move(console);
            runLine(index);
        }
    }

    int running() const
    {
        return static_cast<int>(
            std::count_if(consoles.begin(), consoles.end(), [](const auto& c) { return c != nullptr; }));
    }

    void runLine(std::size_t index)
    {
        const std::size_t line = results[index].commands.size();
        const std::uint64_t run = generation;
        consoles[index]->execute(lines[line], [this, index, run](const RconResult& r) {
            if (run != generation)
                return;
            GroupResult& result = results[index];
            result.commands.push_back(r);
            if (r.ok() && result.commands.size() < lines.size()) {
                runLine(index);
                return;
            }
            // Called from inside the console: it goes once the call has returned.
            consoles[index].release()->deleteLater();
            if (progress)
                progress(index, result);
            if (run != generation)
                return;
            if (--left == 0) {
                finish();
                return;
            }
            startNext();
        });
    }

    void finish()
    {
        busy = false;
        Done callback = std::move(done);
        std::vector<GroupResult> all = std::move(results);
        clear();
        if (callback)
            callback(all);
    }

    void clear()
    {
        ++generation;
        consoles.clear();
        waiting.clear();
        targets.clear();
        results.clear();
        progress = nullptr;
        done = nullptr;
        left = 0;
        busy = false;
    }
};

GroupConsole::GroupConsole(QObject* parent)
    : QObject(parent)
    , d(std::make_unique<Private>())
{ }

GroupConsole::~GroupConsole()
{
    d->clear();
}

void GroupConsole::setTimeout(std::chrono::milliseconds timeout)
{
    d->timeout = timeout;
}

void GroupConsole::setParallel(int servers)
{
    d->parallel = std::max(servers, 1);
}

void GroupConsole::run(std::vector<GroupTarget> targets, std::vector<std::string> lines, Progress progress, Done done)
{
    cancel();
    d->targets = std::move(targets);
    d->lines = std::move(lines);
    d->progress = std::move(progress);
    d->done = std::move(done);
    d->results.assign(d->targets.size(), GroupResult{});
    for (GroupResult& result : d->results)
        result.lines = d->lines.size();
    d->consoles.resize(d->targets.size());
    d->left = d->targets.size();
    d->busy = true;
    if (d->targets.empty() || d->lines.empty()) {
        const std::uint64_t run = d->generation;
        QMetaObject::invokeMethod(
            this,
            [this, run] {
                if (run == d->generation)
                    d->finish();
            },
            Qt::QueuedConnection);
        return;
    }
    for (std::size_t i = 0; i < d->targets.size(); ++i)
        d->waiting.push_back(i);
    d->startNext();
}

void GroupConsole::cancel()
{
    d->clear();
}

bool GroupConsole::isBusy() const
{
    return d->busy;
}

} // namespace velth
