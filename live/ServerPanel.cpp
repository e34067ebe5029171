#include "live/ServerPanel.h"

#include "common/AppContext.h"
#include "common/Error.h"
#include "common/ErrorReport.h"
#include "common/FileIo.h"
#include "common/ProfileSelector.h"
#include "common/Prompts.h"
#include "common/TextCodec.h"
#include "common/TextLines.h"
#include "common/ToolTip.h"
#include "editors/MapcycleFile.h"
#include "live/FleetList.h"
#include "live/LiveItems.h"
#include "profiles/ServerProfile.h"
#include "skin/PageTabs.h"

#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace velth {
namespace {

constexpr std::size_t kMaxPlayerRows = 256;
constexpr std::size_t kMaxRuleRows = 2000;
constexpr std::size_t kMaxShownOutput = 256 * 1024;

const char* const kMapcycleFile = "mapcycle.txt";

// The host part of a player's "address:port".
std::string hostOf(const std::string& address)
{
    const std::size_t colon = address.rfind(':');
    return colon == std::string::npos ? address : address.substr(0, colon);
}

// Map names in the output of `maps *`: the first word of each line, without
// its ".bsp"; lines that name no map are skipped.
std::vector<std::string> mapsFromListing(const std::string& output)
{
    std::vector<std::string> maps;
    for (const std::string& line : splitLines(output)) {
        const std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos)
            continue;
        std::string word = line.substr(start, line.find_first_of(" \t", start) - start);
        if (word.size() > 4 && word.compare(word.size() - 4, 4, ".bsp") == 0)
            word.resize(word.size() - 4);
        else
            continue;
        if (!consoleArgumentProblem(word) && std::find(maps.begin(), maps.end(), word) == maps.end())
            maps.push_back(word);
    }
    return maps;
}

} // namespace

ServerPanel::ServerPanel(AppContext& context, GameQuery& query, FleetList& fleet, QTabWidget* tabs, QObject* parent)
    : QObject(parent)
    , m_context(context)
    , m_query(query)
    , m_fleet(fleet)
    , m_rcon(std::make_unique<RconClient>())
{
    ServerTab = new QWidget;
    ServerTab->setObjectName(QStringLiteral("ServerTab"));
    auto* layout = new QVBoxLayout(ServerTab);
    layout->setContentsMargins(3, 3, 3, 3);
    layout->setSpacing(3);

    auto* top = new QHBoxLayout;
    top->setSpacing(4);
    auto* serverLabel = new QLabel(QStringLiteral("Server"), ServerTab);
    Server = new QComboBox(ServerTab);
    Server->setObjectName(QStringLiteral("Server"));
    Server->setFixedWidth(135);
    auto* passwordLabel = new QLabel(QStringLiteral("Rcon password"), ServerTab);
    RconPassword = new QLineEdit(ServerTab);
    RconPassword->setObjectName(QStringLiteral("RconPassword"));
    RconPassword->setEchoMode(QLineEdit::Password);
    RconPassword->setPlaceholderText(QStringLiteral("the profile's own"));
    RconPassword->setToolTip(QStringLiteral("Empty: the password the CFG updater page uploaded last. "
                                            "A password typed here holds for this session and this server."));
    BUpdate = makeButton("BUpdate", QStringLiteral("Update"), ServerTab);
    BUpdate->setFixedWidth(60);
    top->addWidget(serverLabel);
    top->addWidget(Server);
    top->addSpacing(6);
    top->addWidget(passwordLabel);
    top->addWidget(RconPassword, 1);
    top->addWidget(BUpdate);
    layout->addLayout(top);

    InfoLabel = makeTextLabel("InfoLabel", ServerTab);
    layout->addWidget(InfoLabel);

    Players = makeList("Players",
        { QStringLiteral("#"), QStringLiteral("Name"), QStringLiteral("Steam ID"), QStringLiteral("Score"),
            QStringLiteral("Time"), QStringLiteral("Ping"), QStringLiteral("Loss"), QStringLiteral("Address") },
        ServerTab);
    const int widths[] = { 22, 100, 120, 46, 52, 34, 30, 90 };
    for (int column = 0; column < PlayerColumnCount; ++column)
        Players->setColumnWidth(column, widths[column]);
    // User ids past 99 are common on a server that has run a while: three
    // digits and the cell's margins.
    Players->setColumnWidth(UserIdColumn,
        std::max(widths[UserIdColumn], Players->fontMetrics().horizontalAdvance(QStringLiteral("999")) + 14));
    Players->sortByColumn(ScoreColumn, Qt::DescendingOrder);
    layout->addWidget(Players, 3);

    auto* actions = new QHBoxLayout;
    actions->setSpacing(4);
    BKick = makeButton("BKick", QStringLiteral("Kick"), ServerTab);
    BanMinutes = new QSpinBox(ServerTab);
    BanMinutes->setObjectName(QStringLiteral("BanMinutes"));
    BanMinutes->setRange(0, 525600);
    BanMinutes->setValue(30);
    BanMinutes->setSuffix(QStringLiteral(" min"));
    BanMinutes->setSpecialValueText(QStringLiteral("for good"));
    BanMinutes->setToolTip(QStringLiteral("How long a ban lasts; 0 bans for good."));
    BBan = makeButton("BBan", QStringLiteral("Ban Steam ID"), ServerTab);
    BBanAddress = makeButton("BBanAddress", QStringLiteral("Ban address"), ServerTab);
    BApplyConfig = makeButton("BApplyConfig", QStringLiteral("Apply config now"), ServerTab);
    BApplyConfig->setToolTip(QStringLiteral("Runs exec server.cfg: the config last uploaded works at once."));
    actions->addWidget(BKick);
    actions->addWidget(BanMinutes);
    actions->addWidget(BBan);
    actions->addWidget(BBanAddress);
    actions->addStretch(1);
    actions->addWidget(BApplyConfig);
    layout->addLayout(actions);

    auto* mapAndSay = new QHBoxLayout;
    mapAndSay->setSpacing(4);
    Maps = new QComboBox(ServerTab);
    Maps->setObjectName(QStringLiteral("Maps"));
    Maps->setEditable(true);
    Maps->setInsertPolicy(QComboBox::NoInsert);
    Maps->setFixedWidth(110);
    Maps->lineEdit()->setPlaceholderText(QStringLiteral("map"));
    BChangeMap = makeButton("BChangeMap", QStringLiteral("Change map"), ServerTab);
    Message = new QLineEdit(ServerTab);
    Message->setObjectName(QStringLiteral("Message"));
    Message->setPlaceholderText(QStringLiteral("message to everybody"));
    Message->setMaxLength(190);
    BSay = makeButton("BSay", QStringLiteral("Say"), ServerTab);
    mapAndSay->addWidget(Maps);
    mapAndSay->addWidget(BChangeMap);
    mapAndSay->addSpacing(6);
    mapAndSay->addWidget(Message, 1);
    mapAndSay->addWidget(BSay);
    layout->addLayout(mapAndSay);

    DetailTabs = new QTabWidget(ServerTab);
    DetailTabs->setObjectName(QStringLiteral("DetailTabs"));
    auto* consoleTab = new QWidget;
    consoleTab->setObjectName(QStringLiteral("ConsoleTab"));
    auto* consoleLayout = new QVBoxLayout(consoleTab);
    consoleLayout->setContentsMargins(2, 2, 2, 2);
    consoleLayout->setSpacing(2);
    ConsoleOutput = new QPlainTextEdit(consoleTab);
    ConsoleOutput->setObjectName(QStringLiteral("ConsoleOutput"));
    ConsoleOutput->setReadOnly(true);
    ConsoleOutput->setMaximumBlockCount(kConsoleLines);
    ConsoleOutput->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont fixed(QStringLiteral("Monospace"));
    fixed.setStyleHint(QFont::TypeWriter);
    fixed.setPixelSize(11);
    ConsoleOutput->setFont(fixed);
    Command = new QLineEdit(consoleTab);
    Command->setObjectName(QStringLiteral("Command"));
    Command->setPlaceholderText(QStringLiteral("console command, Enter runs it"));
    Command->installEventFilter(this);
    consoleLayout->addWidget(ConsoleOutput, 1);
    consoleLayout->addWidget(Command);
    DetailTabs->addTab(consoleTab, QStringLiteral("Console"));
    Rules = makeList("Rules", { QStringLiteral("Cvar"), QStringLiteral("Value") }, nullptr);
    Rules->setColumnWidth(0, 200);
    Rules->sortByColumn(0, Qt::AscendingOrder);
    DetailTabs->addTab(Rules, QStringLiteral("Rules"));
    layout->addWidget(DetailTabs, 4);

    tabs->addTab(ServerTab, tabIcon(7), QStringLiteral("Server"));

    connect(Server, &QComboBox::activated, this, guarded(this, &ServerPanel::ServerChange));
    connect(BUpdate, &QPushButton::clicked, this, guarded(this, &ServerPanel::BUpdateClick));
    connect(Command, &QLineEdit::returnPressed, this, guarded(this, &ServerPanel::CommandReturn));
    connect(BKick, &QPushButton::clicked, this, guarded(this, &ServerPanel::BKickClick));
    connect(BBan, &QPushButton::clicked, this, guarded(this, &ServerPanel::BBanClick));
    connect(BBanAddress, &QPushButton::clicked, this, guarded(this, &ServerPanel::BBanAddressClick));
    connect(BChangeMap, &QPushButton::clicked, this, guarded(this, &ServerPanel::BChangeMapClick));
    connect(BSay, &QPushButton::clicked, this, guarded(this, &ServerPanel::BSayClick));
    connect(Message, &QLineEdit::returnPressed, this, guarded(this, &ServerPanel::BSayClick));
    connect(BApplyConfig, &QPushButton::clicked, this, guarded(this, &ServerPanel::BApplyConfigClick));
    // A password typed for one server is never sent to another, and a new
    // one may be tried once.
    connect(RconPassword, &QLineEdit::textEdited, this, [this] { m_refused.reset(); });
    connect(Players, &QTreeWidget::itemSelectionChanged, this, [this] { playerSelectionChanged(); });
}

ServerPanel::~ServerPanel()
{
    // The console goes first: nothing it runs may call back into controls
    // that are being destroyed.
    m_rcon.reset();
    stopQuery();
}

void ServerPanel::setProfileNames(const std::vector<std::string>& names)
{
    velth::setProfileNames(Server, names);
}

bool ServerPanel::pick(const std::string& profile)
{
    const int index = Server->findData(bytesToItemData(profile));
    if (index < 0)
        return false;
    Server->setCurrentIndex(index);
    return true;
}

void ServerPanel::stopQuery()
{
    if (m_serverQueryId) {
        m_query.cancel(*m_serverQueryId);
        m_serverQueryId.reset();
    }
    // "Asking ..." for a query that no longer runs would stay for good.
    if (!m_askingText.isEmpty() && m_context.status() == m_askingText)
        m_context.setStatus(QString());
    m_askingText.clear();
}

bool ServerPanel::isBusy() const
{
    return m_serverQueryId.has_value() || m_runningCommands > 0;
}

bool ServerPanel::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Command && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Up || key == Qt::Key_Down) && !m_history.isEmpty()) {
            if (key == Qt::Key_Up)
                m_historyIndex = std::max(0, m_historyIndex - 1);
            else
                m_historyIndex = std::min(int(m_history.size()), m_historyIndex + 1);
            Command->setText(m_historyIndex < m_history.size() ? m_history.at(m_historyIndex) : QString());
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

// --- Server -----------------------------------------------------------------

std::optional<std::string> ServerPanel::pickedProfile() const
{
    return currentProfile(Server);
}

std::optional<std::string> ServerPanel::profileForAction()
{
    std::optional<std::string> profile = pickedProfile();
    if (!profile)
        m_context.prompts().errorBox(QStringLiteral("Please select a server!"));
    return profile;
}

void ServerPanel::ServerChange()
{
    ++m_serverGeneration;
    stopQuery();
    // Commands for the server picked before end with it.
    m_rcon->cancel();
    RconPassword->clear();
    Players->clear();
    Rules->clear();
    InfoLabel->clear();
    InfoLabel->setToolTip(QString());
    m_playersFromStatus = false;
    m_picked.reset();
    m_pickedLeft = false;
    m_playersOn = -1;
    const std::optional<std::string> profile = pickedProfile();
    switchConsole(profile);
    if (!profile)
        return;
    loadMaps(*profile);
    updateServer(false);
}

void ServerPanel::BUpdateClick()
{
    updateServer(true);
}

void ServerPanel::loadMaps(const std::string& profile)
{
    Maps->clear();
    std::vector<std::string> maps;
    try {
        const std::string path = m_context.localCopy(profile, kMapcycleFile);
        if (readFileIfExists(path))
            maps = loadMapcycleFile(path);
    } catch (const Error&) {
        // No usable map cycle (a name that is no folder name, an unreadable
        // file): the server's own list is asked for instead.
        maps.clear();
    }
    for (const std::string& map : maps) {
        if (!map.empty())
            Maps->addItem(toDisplay(map), bytesToItemData(map));
    }
    Maps->setCurrentIndex(-1);
}

void ServerPanel::updateServer(bool byUser)
{
    const std::optional<std::string> profile = pickedProfile();
    if (!profile) {
        if (byUser)
            m_context.prompts().errorBox(QStringLiteral("Please select a server!"));
        return;
    }
    const std::optional<LiveTarget> where = liveTarget(m_context, *profile, byUser);
    if (!where)
        return;
    if (m_serverQueryId)
        m_query.cancel(*m_serverQueryId);
    const std::uint64_t generation = m_serverGeneration;
    const std::string name = *profile;
    // A timer's refresh that replaces the user's Update answers in its place.
    const bool tell = byUser || !m_askingText.isEmpty();
    if (byUser) {
        m_askingText = QStringLiteral("Asking %1.").arg(field(toString(where->address)));
        m_context.setStatus(m_askingText);
    }
    m_serverQueryId = m_query.query(where->address, QueryInfo | QueryPlayers | QueryRules,
        [this, generation, name, tell](const GameQueryResult& result) {
            m_serverQueryId.reset();
            m_askingText.clear();
            if (generation != m_serverGeneration)
                return;
            runGuarded([&] {
                m_fleet.showResult(name, result);
                if (!result.online()) {
                    InfoLabel->setText(result.error.empty() ? QStringLiteral("offline: no answer from the server")
                                                            : QStringLiteral("offline: ") + field(result.error));
                    InfoLabel->setToolTip(plainToolTip(InfoLabel->text()));
                    // What an offline server had on show is no longer so.
                    Players->clear();
                    Rules->clear();
                    m_playersOn = -1;
                    if (tell)
                        m_context.setStatus(QStringLiteral("The server does not answer."));
                    return;
                }
                const GameServerInfo& info = result.info;
                QString text = field(info.name) + QStringLiteral("  \u2022  ") + field(info.map)
                    + QStringLiteral("  \u2022  %1/%2 players").arg(info.players).arg(info.maxPlayers);
                if (info.bots > 0)
                    text += info.bots == 1 ? QStringLiteral(", 1 bot") : QStringLiteral(", %1 bots").arg(info.bots);
                if (result.ping.count() >= 0)
                    text += QStringLiteral("  \u2022  %1 ms").arg(result.ping.count());
                // A server that answered is online with what it sent; what did not come is named.
                if (!result.players && !result.rules)
                    text += QStringLiteral("  \u2022  players and rules: no answer");
                else if (!result.players)
                    text += QStringLiteral("  \u2022  players: no answer");
                else if (!result.rules)
                    text += QStringLiteral("  \u2022  rules: no answer");
                InfoLabel->setText(text);
                InfoLabel->setToolTip(plainToolTip(text));
                m_playersOn = std::max(0, info.players - info.bots);
                showRules(result);
                if (!consoleReady(name, false)) {
                    showQueryPlayers(result);
                    if (tell)
                        m_context.setStatus(QStringLiteral("Ready."));
                    return;
                }
                // The console's `status` knows more of every player.
                const bool needMaps = Maps->count() == 0;
                runCommands(name, { "status" }, false,
                    [this, generation, name, result, needMaps, tell](const RconResult& status, const auto&) {
                        if (generation != m_serverGeneration)
                            return;
                        if (!status.ok()) {
                            showQueryPlayers(result);
                            return;
                        }
                        showStatusPlayers(parseStatus(status.output));
                        if (tell)
                            m_context.setStatus(QStringLiteral("Ready."));
                        if (!needMaps)
                            return;
                        runCommands(
                            name, { "maps *" }, false, [this, generation](const RconResult& listing, const auto&) {
                                if (generation != m_serverGeneration || !listing.ok() || Maps->count() > 0)
                                    return;
                                for (const std::string& map : mapsFromListing(listing.output))
                                    Maps->addItem(toDisplay(map), bytesToItemData(map));
                                Maps->setCurrentIndex(-1);
                            });
                    });
            });
        });
}

void ServerPanel::showQueryPlayers(const GameQueryResult& result)
{
    m_rebuilding = true;
    Players->setSortingEnabled(false);
    Players->clear();
    m_playersFromStatus = false;
    if (result.players) {
        std::size_t shown = 0;
        for (const GamePlayer& player : *result.players) {
            if (++shown > kMaxPlayerRows)
                break;
            auto* row = new SortedItem(Players);
            setTextCell(row, PlayerNameColumn, player.name);
            row->setData(PlayerNameColumn, kBytesRole, bytesToItemData(player.name));
            setNumber(row, ScoreColumn, QString::number(player.score), player.score);
            const int seconds = int(std::clamp(player.duration, 0.0F, 1e8F));
            setNumber(row, TimeColumn, duration(seconds), seconds);
        }
    }
    Players->setSortingEnabled(true);
    reselectPlayer();
    m_rebuilding = false;
}

void ServerPanel::showStatusPlayers(const StatusReport& report)
{
    m_rebuilding = true;
    Players->setSortingEnabled(false);
    Players->clear();
    m_playersFromStatus = true;
    std::size_t shown = 0;
    for (const StatusPlayer& player : report.players) {
        if (++shown > kMaxPlayerRows)
            break;
        auto* row = new SortedItem(Players);
        setNumber(row, UserIdColumn, QString::number(player.userId), player.userId);
        setTipFromText(row, UserIdColumn);
        row->setData(UserIdColumn, kUserIdRole, player.userId);
        setTextCell(row, PlayerNameColumn, player.name);
        row->setData(PlayerNameColumn, kBytesRole, bytesToItemData(player.name));
        setTextCell(row, SteamIdColumn, player.uniqueId);
        row->setData(SteamIdColumn, kSteamIdRole, bytesToItemData(player.uniqueId));
        setNumber(row, ScoreColumn, QString::number(player.frags), player.frags);
        setNumber(row, TimeColumn, duration(player.seconds), player.seconds);
        setNumber(row, PlayerPingColumn, QString::number(player.ping), player.ping);
        setNumber(row, LossColumn, QString::number(player.loss), player.loss);
        setTextCell(row, AddressColumn, player.address);
        row->setData(AddressColumn, kAddressRole, bytesToItemData(player.address));
    }
    Players->setSortingEnabled(true);
    m_playersOn = int(std::count_if(
        report.players.begin(), report.players.end(), [](const StatusPlayer& player) { return !player.bot(); }));
    reselectPlayer();
    m_rebuilding = false;
}

ServerPanel::PlayerKey ServerPanel::keyOf(const QTreeWidgetItem* row) const
{
    return PlayerKey{ row->data(UserIdColumn, kUserIdRole).toInt(),
        itemDataToBytes(row->data(SteamIdColumn, kSteamIdRole)),
        itemDataToBytes(row->data(PlayerNameColumn, kBytesRole)) };
}

void ServerPanel::reselectPlayer()
{
    if (!m_picked)
        return;
    // The same user id is the same connection; a player who came back has a
    // new one and the same personal Steam id; a list without user ids (from
    // the query) has only the name.
    const bool personal
        = m_picked->steamId.rfind("STEAM_", 0) == 0 && m_picked->steamId.find("ID_") == std::string::npos;
    QTreeWidgetItem* found = nullptr;
    for (int pass = 0; pass < 3 && !found; ++pass) {
        for (int i = 0; i < Players->topLevelItemCount() && !found; ++i) {
            QTreeWidgetItem* row = Players->topLevelItem(i);
            const PlayerKey key = keyOf(row);
            const bool same = pass == 0 ? m_picked->userId > 0 && key.userId == m_picked->userId
                : pass == 1             ? personal && key.steamId == m_picked->steamId
                                        : (key.userId == 0 || m_picked->userId == 0) && key.name == m_picked->name;
            if (same)
                found = row;
        }
    }
    if (!found) {
        m_pickedLeft = true;
        return;
    }
    Players->setCurrentItem(found);
    m_picked = keyOf(found);
    m_pickedLeft = false;
}

void ServerPanel::playerSelectionChanged()
{
    if (m_rebuilding)
        return;
    const QList<QTreeWidgetItem*> selected = Players->selectedItems();
    m_pickedLeft = false;
    if (selected.isEmpty())
        m_picked.reset();
    else
        m_picked = keyOf(selected.first());
}

void ServerPanel::switchConsole(const std::optional<std::string>& profile)
{
    if (m_consoleProfile)
        m_consoles[*m_consoleProfile] = ConsoleState{ ConsoleOutput->toPlainText(), m_history };
    ConsoleState shown;
    if (profile) {
        const auto it = m_consoles.find(*profile);
        if (it != m_consoles.end())
            shown = it->second;
    }
    ConsoleOutput->setPlainText(shown.text);
    ConsoleOutput->verticalScrollBar()->setValue(ConsoleOutput->verticalScrollBar()->maximum());
    m_history = shown.history;
    m_historyIndex = int(m_history.size());
    Command->clear();
    m_consoleProfile = profile;
}

void ServerPanel::showRules(const GameQueryResult& result)
{
    Rules->setSortingEnabled(false);
    Rules->clear();
    if (result.rules) {
        std::size_t shown = 0;
        for (const auto& [cvar, value] : *result.rules) {
            if (++shown > kMaxRuleRows)
                break;
            auto* row = new SortedItem(Rules);
            setTextCell(row, 0, cvar);
            setTextCell(row, 1, value);
        }
    }
    Rules->setSortingEnabled(true);
}

// --- the console --------------------------------------------------------------

std::string ServerPanel::password(const std::string& profile) const
{
    if (!RconPassword->text().isEmpty())
        return fromDisplay(RconPassword->text());
    try {
        return readServerProfile(m_context.store(), profile).rconPass;
    } catch (const Error&) {
        return {};
    }
}

bool ServerPanel::consoleReady(const std::string& profile, bool tell)
{
    const std::string pw = password(profile);
    if (pw.empty()) {
        if (tell)
            m_context.prompts().errorBox(QStringLiteral("Please enter a rcon password!"));
        return false;
    }
    if (m_refused && m_refused->first == profile && m_refused->second == pw) {
        if (tell)
            m_context.prompts().errorBox(
                QStringLiteral("The server refused this rcon password. It is not sent again: the server bans "
                               "an address after repeated wrong passwords. Enter another one."));
        return false;
    }
    return true;
}

void ServerPanel::runCommands(
    const std::string& profile, std::vector<std::string> commands, bool byUser, CommandsDone done)
{
    const std::optional<LiveTarget> where = liveTarget(m_context, profile, byUser);
    if (!where || commands.empty())
        return;
    const std::string pw = password(profile);
    m_rcon->setAddress(where->address);
    m_rcon->setPassword(pw);
    const std::uint64_t generation = m_serverGeneration;
    auto remaining = std::make_shared<std::vector<std::string>>(std::move(commands));
    auto outcomes = std::make_shared<std::vector<CommandOutcome>>();
    // Each command's callback holds the run until the next one is sent; the
    // run itself holds only a weak reference, so nothing is kept once it ends.
    auto step = std::make_shared<std::function<void()>>();
    std::weak_ptr<std::function<void()>> self = step;
    *step = [this, remaining, outcomes, self, generation, profile, pw, byUser, done]() {
        const std::shared_ptr<std::function<void()>> next = self.lock();
        const std::string command = remaining->front();
        remaining->erase(remaining->begin());
        if (byUser)
            appendConsole(QStringLiteral("] ") + visibleText(toDisplay(command)));
        ++m_runningCommands;
        m_rcon->execute(command,
            [this, command, remaining, outcomes, next, generation, profile, pw, byUser, done](
                const RconResult& result) {
                --m_runningCommands;
                if (result.kind == RconResult::Kind::Cancelled)
                    return;
                runGuarded([&] {
                    if (result.kind == RconResult::Kind::BadPassword || result.kind == RconResult::Kind::Banned) {
                        m_refused.emplace(profile, pw);
                        // Whatever waits behind it would be refused the same way,
                        // and each refusal counts toward a ban of this address.
                        m_rcon->cancel();
                    }
                    if (byUser && generation == m_serverGeneration) {
                        const QString shown = toDisplay(std::string_view(result.output).substr(0, kMaxShownOutput));
                        appendConsole(visibleText(shown, true));
                        if (result.truncated)
                            appendConsole(QStringLiteral("(output cut: too long)"));
                    }
                    if (!result.ok()) {
                        reportRconFailure(result, byUser);
                        if (done)
                            done(result, *outcomes);
                        return;
                    }
                    outcomes->push_back(commandOutcome(command, result.output));
                    // What follows a failed command counts on it (writeid after
                    // a banid the server refused).
                    if (remaining->empty() || outcomes->back().kind == CommandOutcome::Kind::Failed) {
                        if (done)
                            done(result, *outcomes);
                        return;
                    }
                    if (next && *next)
                        (*next)();
                });
            });
    };
    (*step)();
}

void ServerPanel::reportRconFailure(const RconResult& result, bool byUser)
{
    QString message = field(result.message);
    if (message.isEmpty())
        message = QStringLiteral("The server's console refused the command.");
    m_context.setStatus(message);
    if (byUser)
        m_context.prompts().errorBox(message);
}

void ServerPanel::appendConsole(const QString& text)
{
    QString shown = text;
    while (shown.endsWith(QLatin1Char('\n')))
        shown.chop(1);
    if (shown.isEmpty())
        return;
    ConsoleOutput->appendPlainText(shown);
    ConsoleOutput->verticalScrollBar()->setValue(ConsoleOutput->verticalScrollBar()->maximum());
}

void ServerPanel::CommandReturn()
{
    const QString line = Command->text().trimmed();
    if (line.isEmpty())
        return;
    const std::optional<std::string> profile = profileForAction();
    if (!profile)
        return;
    if (!consoleReady(*profile, true))
        return;
    if (m_history.isEmpty() || m_history.back() != line)
        m_history.append(line);
    while (m_history.size() > kHistory)
        m_history.removeFirst();
    m_historyIndex = int(m_history.size());
    Command->clear();
    runCommands(*profile, { fromDisplay(line) }, true, nullptr);
}

QTreeWidgetItem* ServerPanel::selectedPlayer()
{
    const QList<QTreeWidgetItem*> selected = Players->selectedItems();
    if (selected.isEmpty() && m_picked && m_pickedLeft) {
        const QString name = field(m_picked->name);
        m_picked.reset();
        m_pickedLeft = false;
        m_context.prompts().errorBox(name + QStringLiteral(" has left the server."));
        return nullptr;
    }
    if (selected.isEmpty()) {
        m_context.prompts().errorBox(QStringLiteral("Please select a player!"));
        return nullptr;
    }
    if (!selected.first()->data(UserIdColumn, kUserIdRole).isValid()) {
        m_context.prompts().errorBox(
            QStringLiteral("The player list has no user ids: enter the rcon password and press Update."));
        return nullptr;
    }
    return selected.first();
}

std::optional<ServerPanel::PlayerAction> ServerPanel::playerForAction()
{
    std::optional<std::string> profile = profileForAction();
    if (!profile || !consoleReady(*profile, true))
        return std::nullopt;
    QTreeWidgetItem* player = selectedPlayer();
    if (!player)
        return std::nullopt;
    return PlayerAction{ std::move(*profile), player };
}

QString ServerPanel::banTerm(int minutes)
{
    return minutes == 0 ? QStringLiteral("for good") : QStringLiteral("for %1 minutes").arg(minutes);
}

std::optional<std::vector<std::string>> ServerPanel::built(const std::function<std::vector<std::string>()>& build)
{
    try {
        return build();
    } catch (const Error& e) {
        m_context.prompts().errorBox(visibleText(toDisplay(e.message())));
        return std::nullopt;
    }
}

void ServerPanel::reportFailure(const QString& action, const CommandOutcome& outcome)
{
    const QString message
        = action + QStringLiteral(" failed: the server answered \"") + printed(outcome.text) + QStringLiteral("\".");
    m_context.setStatus(message);
    m_context.prompts().errorBox(message);
}

ServerPanel::CommandsDone ServerPanel::banReport(const QString& banned, const QString& term)
{
    return [this, banned, term](const RconResult& result, const std::vector<CommandOutcome>& outcomes) {
        if (!result.ok() || outcomes.empty())
            return;
        if (const CommandOutcome* failure = failureIn(outcomes))
            return reportFailure(QStringLiteral("Ban"), *failure);
        if (outcomes.front().kind == CommandOutcome::Kind::Unknown)
            reportUnread(QStringLiteral("Ban"), outcomes.front());
        else
            m_context.setStatus(QStringLiteral("Banned ") + banned + QLatin1Char(' ') + term + QStringLiteral("."));
        updateServer(false);
    };
}

void ServerPanel::reportUnread(const QString& action, const CommandOutcome& outcome)
{
    m_context.setStatus(outcome.text.empty()
            ? action + QStringLiteral(": the server printed nothing.")
            : action + QStringLiteral(": the server answered \"") + printed(outcome.text) + QStringLiteral("\"."));
}

QString ServerPanel::printed(const std::string& text)
{
    QString shown = toDisplay(std::string_view(text).substr(0, 4096));
    shown.replace(QLatin1Char('\n'), QStringLiteral(" / "));
    shown = visibleText(shown);
    if (shown.size() > kMaxFieldChars * 2)
        shown = shown.left(kMaxFieldChars * 2) + QChar(0x2026);
    return shown;
}

const CommandOutcome* ServerPanel::failureIn(const std::vector<CommandOutcome>& outcomes)
{
    for (const CommandOutcome& outcome : outcomes) {
        if (outcome.kind == CommandOutcome::Kind::Failed)
            return &outcome;
    }
    return nullptr;
}

bool ServerPanel::askWhilePlayersOn(const QString& question)
{
    if (m_playersOn <= 0)
        return true;
    const QString on = m_playersOn == 1 ? QStringLiteral("1 player is on the server.")
                                        : QStringLiteral("%1 players are on the server.").arg(m_playersOn);
    return m_context.prompts().confirm(question + QLatin1Char(' ') + on);
}

void ServerPanel::confirmGone(const std::string& profile, int userId, const QString& name, const QString& doneText)
{
    const std::uint64_t generation = m_serverGeneration;
    runCommands(profile, { "status" }, false,
        [this, generation, userId, name, doneText](const RconResult& status, const auto&) {
            if (generation != m_serverGeneration || !status.ok())
                return;
            const StatusReport report = parseStatus(status.output);
            showStatusPlayers(report);
            const bool gone = std::none_of(report.players.begin(), report.players.end(),
                [&](const StatusPlayer& player) { return player.userId == userId; });
            m_context.setStatus(gone
                    ? doneText
                    : name + QStringLiteral(" is still on the server; the server printed nothing for the kick."));
            // The counts above the list, too.
            updateServer(false);
        });
}

void ServerPanel::BKickClick()
{
    const std::optional<PlayerAction> action = playerForAction();
    if (!action)
        return;
    const std::string& profile = action->profile;
    QTreeWidgetItem* player = action->player;
    const QString name = player->text(PlayerNameColumn);
    const int userId = player->data(UserIdColumn, kUserIdRole).toInt();
    const auto commands = built([&] { return std::vector<std::string>{ kickCommand(userId) }; });
    if (!commands)
        return;
    if (!m_context.prompts().confirm(QStringLiteral("Do you want to kick ") + name + QStringLiteral(" ?")))
        return;
    runCommands(profile, *commands, true,
        [this, profile, userId, name](const RconResult& result, const std::vector<CommandOutcome>& outcomes) {
            if (!result.ok() || outcomes.empty())
                return;
            const CommandOutcome& kick = outcomes.front();
            if (kick.kind == CommandOutcome::Kind::Failed)
                return reportFailure(QStringLiteral("Kick"), kick);
            if (!kick.text.empty()) {
                reportUnread(QStringLiteral("Kick"), kick);
                return updateServer(false);
            }
            // The engine prints nothing whether it kicked the player or found
            // nobody with that user id: its player list tells.
            confirmGone(profile, userId, name, QStringLiteral("Kicked ") + name + QStringLiteral("."));
        });
}

void ServerPanel::BBanClick()
{
    const std::optional<PlayerAction> action = playerForAction();
    if (!action)
        return;
    const std::string& profile = action->profile;
    QTreeWidgetItem* player = action->player;
    const std::string steamId = itemDataToBytes(player->data(SteamIdColumn, kSteamIdRole));
    const int minutes = BanMinutes->value();
    const auto commands = built([&] { return banSteamIdCommands(steamId, minutes); });
    if (!commands)
        return;
    const QString name = player->text(PlayerNameColumn);
    const QString term = banTerm(minutes);
    if (!m_context.prompts().confirm(QStringLiteral("Do you want to ban ") + name + QStringLiteral(" (")
            + field(steamId) + QStringLiteral(") ") + term + QStringLiteral(" ?")))
        return;
    runCommands(profile, *commands, true, banReport(name, term));
}

void ServerPanel::BBanAddressClick()
{
    const std::optional<PlayerAction> action = playerForAction();
    if (!action)
        return;
    const std::string& profile = action->profile;
    QTreeWidgetItem* player = action->player;
    const std::string shownAddress = itemDataToBytes(player->data(AddressColumn, kAddressRole));
    if (shownAddress.empty()) {
        m_context.prompts().errorBox(QStringLiteral("This player has no address to ban."));
        return;
    }
    const std::string address = hostOf(shownAddress);
    const int minutes = BanMinutes->value();
    const QString name = player->text(PlayerNameColumn);
    const int userId = player->data(UserIdColumn, kUserIdRole).toInt();
    // The address filter keeps the player from coming back; the kick sends
    // the player away now.
    const auto commands = built([&] {
        std::vector<std::string> list = banAddressCommands(shownAddress, minutes);
        list.push_back(kickCommand(userId));
        return list;
    });
    if (!commands)
        return;
    const QString term = banTerm(minutes);
    if (!m_context.prompts().confirm(QStringLiteral("Do you want to ban the address ") + field(address)
            + QStringLiteral(" of ") + name + QLatin1Char(' ') + term + QStringLiteral(" ?")))
        return;
    runCommands(profile, *commands, true, banReport(field(address), term));
}

void ServerPanel::BChangeMapClick()
{
    const std::optional<std::string> profile = profileForAction();
    if (!profile)
        return;
    // A map picked from the list is addressed by its bytes as the file has
    // them; a typed one by what was typed.
    std::string map = fromDisplay(Maps->currentText().trimmed());
    const int index = Maps->currentIndex();
    if (index >= 0 && Maps->itemText(index) == Maps->currentText())
        map = itemDataToBytes(Maps->itemData(index));
    if (map.empty()) {
        m_context.prompts().errorBox(QStringLiteral("Please select a map!"));
        return;
    }
    const auto commands = built([&] { return std::vector<std::string>{ changeLevelCommand(map) }; });
    if (!commands || !consoleReady(*profile, true))
        return;
    const QString shown = field(map);
    if (!askWhilePlayersOn(QStringLiteral("Do you want to change the map to ") + shown + QStringLiteral("?")))
        return;
    runCommands(*profile, *commands, true,
        [this, shown](const RconResult& result, const std::vector<CommandOutcome>& outcomes) {
            if (!result.ok() || outcomes.empty())
                return;
            if (const CommandOutcome* failure = failureIn(outcomes))
                return reportFailure(QStringLiteral("Change map"), *failure);
            m_context.setStatus(QStringLiteral("Changing the map to ") + shown + QStringLiteral("."));
            updateServer(false);
        });
}

void ServerPanel::BSayClick()
{
    const std::optional<std::string> profile = profileForAction();
    if (!profile)
        return;
    const QString message = Message->text();
    if (message.trimmed().isEmpty()) {
        m_context.prompts().errorBox(QStringLiteral("Please enter a message!"));
        return;
    }
    const auto commands = built([&] { return std::vector<std::string>{ sayCommand(fromDisplay(message)) }; });
    if (!commands || !consoleReady(*profile, true))
        return;
    runCommands(
        *profile, *commands, true, [this](const RconResult& result, const std::vector<CommandOutcome>& outcomes) {
            if (!result.ok() || outcomes.empty())
                return;
            const CommandOutcome& say = outcomes.front();
            if (say.kind == CommandOutcome::Kind::Failed)
                return reportFailure(QStringLiteral("Say"), say);
            if (say.kind == CommandOutcome::Kind::Unknown)
                return reportUnread(QStringLiteral("Say"), say);
            Message->clear();
            m_context.setStatus(QStringLiteral("Message sent."));
        });
}

void ServerPanel::BApplyConfigClick()
{
    const std::optional<std::string> profile = profileForAction();
    if (!profile)
        return;
    if (!consoleReady(*profile, true))
        return;
    if (!askWhilePlayersOn(QStringLiteral("Do you want to apply the config now?")))
        return;
    const std::string name = *profile;
    runCommands(name, { execConfigCommand() }, true,
        [this, name](const RconResult& result, const std::vector<CommandOutcome>& outcomes) {
            if (!result.ok() || outcomes.empty())
                return;
            // A config the server could not run set no password: the one in
            // use holds on.
            if (const CommandOutcome* failure = failureIn(outcomes))
                return reportFailure(QStringLiteral("Apply config"), *failure);
            // The config sets the password the CFG updater page uploaded with it
            // (the profile's rconpass): from now on that one holds.
            const std::optional<LiveTarget> now = liveTarget(m_context, name, false);
            if (now && !now->rconPass.empty() && pickedProfile() == name)
                RconPassword->clear();
            m_refused.reset();
            m_context.setStatus(QStringLiteral("Config applied: the server runs its server.cfg now."));
            updateServer(false);
        });
}

} // namespace velth
