#pragma once

#include "net/GameServer.h"
#include "net/GroupConsole.h"

#include <QObject>

#include <string>
#include <vector>

class QComboBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

namespace velth {

class AppContext;
class FleetList;

// One action on the servers selected on the Servers tab: a console command,
// a message to everybody, a map change or the config applied now. Asked once
// for the whole selection; then every server runs it at once with its own
// profile's rcon password, and GroupResults gets a row per server with the
// outcome its answer gives and the first line of that answer.
class GroupActions final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(GroupActions)

public:
    enum Action { ConsoleAction, SayAction, ChangeMapAction, ApplyConfigAction };
    enum ResultColumn { ResultProfileColumn, ResultOutcomeColumn, ResultAnswerColumn, ResultColumnCount };

    // Adds its bar and results list to the fleet list's tab.
    GroupActions(AppContext& context, FleetList& fleet, QObject* parent = nullptr);
    // A run still going ends here, without calling back.
    ~GroupActions() override;

    void BGroupRunClick();
    bool isBusy() const { return m_console.isBusy(); }
    // The consoles of a run (tests shorten their time-out).
    GroupConsole& groupConsole() { return m_console; }

    QComboBox* GroupAction = nullptr;
    QLineEdit* GroupArgument = nullptr;
    QPushButton* BGroupRun = nullptr;
    QTreeWidget* GroupResults = nullptr;

private:
    // The console line the action sends, checked; nothing (the user told why) when it cannot be built.
    std::optional<std::string> commandLine();
    void actionChanged();
    void showResult(std::size_t index, const GroupResult& result);
    void showDone();

    AppContext& m_context;
    FleetList& m_fleet;
    GroupConsole m_console;
    std::string m_line;
    // The run's rows (a profile each) of the servers the line was sent to, by their place in the run.
    std::vector<QTreeWidgetItem*> m_rowOfTarget;
};

} // namespace velth
