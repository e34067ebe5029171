#include "live/GroupActions.h"

#include "common/AppContext.h"
#include "common/Error.h"
#include "common/ErrorReport.h"
#include "common/Prompts.h"
#include "common/TextCodec.h"
#include "live/FleetList.h"
#include "live/LiveItems.h"

#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace velth {

namespace {

// The first line of a server's answer with something in it.
std::string firstLine(std::string_view text)
{
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.remove_suffix(1);
        while (!line.empty() && line.front() == ' ')
            line.remove_prefix(1);
        if (!line.empty())
            return std::string(line);
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
    return {};
}

// What a console's result was, in a word or two.
QString refusalWord(RconResult::Kind kind)
{
    switch (kind) {
    case RconResult::Kind::Ok:
        return QStringLiteral("done");
    case RconResult::Kind::BadPassword:
        return QStringLiteral("password refused");
    case RconResult::Kind::NoPassword:
        return QStringLiteral("no password set");
    case RconResult::Kind::Banned:
        return QStringLiteral("banned");
    case RconResult::Kind::TimedOut:
    case RconResult::Kind::BadChallenge:
        return QStringLiteral("no answer");
    case RconResult::Kind::Refused:
        return QStringLiteral("not sent");
    case RconResult::Kind::Failed:
    case RconResult::Kind::Cancelled:
        break;
    }
    return QStringLiteral("failed");
}

} // namespace

GroupActions::GroupActions(AppContext& context, FleetList& fleet, QObject* parent)
    : QObject(parent)
    , m_context(context)
    , m_fleet(fleet)
{
    QWidget* tab = fleet.ServersTab;
    auto* layout = qobject_cast<QVBoxLayout*>(tab->layout());

    auto* bar = new QFrame(tab);
    bar->setObjectName(QStringLiteral("GroupBar"));
    bar->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    bar->setFixedHeight(30);
    auto* barLayout = new QHBoxLayout(bar);
    barLayout->setContentsMargins(4, 0, 4, 0);
    barLayout->setSpacing(4);
    GroupAction = new QComboBox(bar);
    GroupAction->setObjectName(QStringLiteral("GroupAction"));
    GroupAction->addItems({ QStringLiteral("Console command"), QStringLiteral("Say"), QStringLiteral("Change map"),
        QStringLiteral("Apply config now") });
    GroupArgument = new QLineEdit(bar);
    GroupArgument->setObjectName(QStringLiteral("GroupArgument"));
    BGroupRun = makeButton("BGroupRun", QStringLiteral("Run on selected"), bar);
    barLayout->addWidget(GroupAction);
    barLayout->addWidget(GroupArgument, 1);
    barLayout->addWidget(BGroupRun);
    layout->addWidget(bar);

    GroupResults = makeList(
        "GroupResults", { QStringLiteral("Profile"), QStringLiteral("Outcome"), QStringLiteral("Answer") }, tab);
    GroupResults->setColumnWidth(ResultProfileColumn, 100);
    GroupResults->setColumnWidth(ResultOutcomeColumn, 110);
    GroupResults->setFixedHeight(110);
    GroupResults->sortByColumn(ResultProfileColumn, Qt::AscendingOrder);
    GroupResults->hide();
    layout->addWidget(GroupResults);

    actionChanged();
    connect(GroupAction, &QComboBox::currentIndexChanged, this, [this] { actionChanged(); });
    connect(BGroupRun, &QPushButton::clicked, this, guarded(this, &GroupActions::BGroupRunClick));
    connect(GroupArgument, &QLineEdit::returnPressed, this, guarded(this, &GroupActions::BGroupRunClick));
}

GroupActions::~GroupActions()
{
    m_console.cancel();
}

void GroupActions::actionChanged()
{
    static const char* const kPlaceholders[] = { "console command", "message to everybody", "map", "" };
    const int action = GroupAction->currentIndex();
    GroupArgument->setPlaceholderText(QString::fromLatin1(kPlaceholders[std::clamp(action, 0, 3)]));
    GroupArgument->setEnabled(action != ApplyConfigAction);
}

std::optional<std::string> GroupActions::commandLine()
{
    const QString typed = GroupArgument->text().trimmed();
    try {
        switch (GroupAction->currentIndex()) {
        case ConsoleAction:
            if (typed.isEmpty()) {
                m_context.prompts().errorBox(QStringLiteral("Please enter a command!"));
                return std::nullopt;
            }
            return fromDisplay(typed);
        case SayAction:
            if (typed.isEmpty()) {
                m_context.prompts().errorBox(QStringLiteral("Please enter a message!"));
                return std::nullopt;
            }
            return sayCommand(fromDisplay(GroupArgument->text()));
        case ChangeMapAction:
            if (typed.isEmpty()) {
                m_context.prompts().errorBox(QStringLiteral("Please select a map!"));
                return std::nullopt;
            }
            return changeLevelCommand(fromDisplay(typed));
        default:
            return execConfigCommand();
        }
    } catch (const Error& e) {
        m_context.prompts().errorBox(visibleText(toDisplay(e.message())));
        return std::nullopt;
    }
}

void GroupActions::BGroupRunClick()
{
    if (m_console.isBusy()) {
        m_context.prompts().errorBox(QStringLiteral("The servers are still answering the last action."));
        return;
    }
    const std::vector<std::string> profiles = m_fleet.selectedProfiles();
    if (profiles.empty()) {
        m_context.prompts().errorBox(QStringLiteral("Please select a server!"));
        return;
    }
    const std::optional<std::string> line = commandLine();
    if (!line)
        return;
    int players = 0;
    for (const std::string& profile : profiles)
        players += m_fleet.playersOn(profile);
    const QString servers
        = profiles.size() == 1 ? QStringLiteral("1 server") : QStringLiteral("%1 servers").arg(profiles.size());
    const QString on = players == 1 ? QStringLiteral("1 player is") : QStringLiteral("%1 players are").arg(players);
    if (!m_context.prompts().confirm(QStringLiteral("Do you want to run \"") + visibleText(toDisplay(*line))
            + QStringLiteral("\" on ") + servers + QStringLiteral("? ") + on + QStringLiteral(" on them.")))
        return;

    m_line = *line;
    m_rowOfTarget.clear();
    GroupResults->clear();
    GroupResults->show();
    // Rows keep their place while they fill; sorted once all have answered.
    GroupResults->setSortingEnabled(false);
    std::vector<GroupTarget> targets;
    for (const std::string& profile : profiles) {
        auto* row = new QTreeWidgetItem(GroupResults);
        setTextCell(row, ResultProfileColumn, profile);
        std::string why;
        const std::optional<LiveTarget> where = liveTarget(m_context, profile, false, &why);
        if (where && where->rconPass.empty())
            why = "This profile has no rcon password: enter it on the CFG updater page.";
        if (!where || where->rconPass.empty()) {
            row->setText(ResultOutcomeColumn, QStringLiteral("not sent"));
            setTextCell(row, ResultAnswerColumn, why);
            continue;
        }
        row->setText(ResultOutcomeColumn, QStringLiteral("running ..."));
        m_rowOfTarget.push_back(row);
        targets.push_back({ where->address, where->rconPass });
    }
    m_context.setStatus(QStringLiteral("Running \"") + visibleText(toDisplay(m_line)) + QStringLiteral("\" on ")
        + servers + QStringLiteral(" ..."));
    BGroupRun->setEnabled(false);
    m_console.run(
        std::move(targets), { m_line },
        [this](std::size_t index, const GroupResult& result) { runGuarded([&] { showResult(index, result); }); },
        [this](const std::vector<GroupResult>&) { runGuarded([&] { showDone(); }); });
}

void GroupActions::showResult(std::size_t index, const GroupResult& result)
{
    QTreeWidgetItem* row = m_rowOfTarget.at(index);
    const RconResult& last = result.last();
    QString outcome;
    std::string answer;
    if (!last.ok()) {
        outcome = refusalWord(last.kind);
        answer = last.message;
    } else {
        const CommandOutcome read = commandOutcome(m_line, last.output);
        outcome = read.kind == CommandOutcome::Kind::Done ? QStringLiteral("done")
            : read.kind == CommandOutcome::Kind::Failed   ? QStringLiteral("failed")
                                                          : QStringLiteral("answered");
        answer = firstLine(read.text.empty() ? last.output : read.text);
    }
    row->setText(ResultOutcomeColumn, outcome);
    row->setForeground(ResultOutcomeColumn,
        outcome == QStringLiteral("done")           ? QColor(0x1b, 0x7a, 0x2e)
            : outcome == QStringLiteral("answered") ? GroupResults->palette().color(QPalette::Text)
                                                    : QColor(0x9a, 0x1c, 0x1c));
    setTextCell(row, ResultAnswerColumn, answer);
}

void GroupActions::showDone()
{
    BGroupRun->setEnabled(true);
    GroupResults->setSortingEnabled(true);
    int done = 0;
    for (int i = 0; i < GroupResults->topLevelItemCount(); ++i)
        done += GroupResults->topLevelItem(i)->text(ResultOutcomeColumn) == QStringLiteral("done");
    const int all = GroupResults->topLevelItemCount();
    m_context.setStatus(QStringLiteral("\"") + visibleText(toDisplay(m_line))
        + QStringLiteral("\": done on %1 of %2 %3.")
              .arg(done)
              .arg(all)
              .arg(all == 1 ? QStringLiteral("server") : QStringLiteral("servers")));
}

} // namespace velth
