#pragma once

#include <QElapsedTimer>
#include <QHostAddress>
#include <QWidget>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class QComboBox;
class QHostInfo;
class QLabel;
class QPushButton;
class QTimer;

namespace velth {

class AppContext;
class ChatViews;
class LiveFold;
class LogReceiver;
class RconClient;
struct RconResult;
struct ScanResult;

// The profile key of the server's sv_logsecret (empty: the server has none).
inline constexpr std::string_view kLogSecretKey = "LOGSECRET";

// What the live log of a profile needs: where its game server is, how to
// reach its console, and where the server is to send its log.
struct LiveLogSettings
{
    std::string gameHost; // GAMEHOST, or HOST when that is empty
    int gamePort = 27015; // GAMEPORT
    std::string rconPassword; // rconpass
    std::string logAddress; // LOGADDRESS; empty: this computer's address on the route to the server
    int logPort = 27500; // LOGPORT
    std::string logSecret; // LOGSECRET: the server's sv_logsecret, empty when it has none
    std::string stunServer; // STUNSERVER: "host[:port]"; empty: no STUN server is asked
};

// Reads the profile's keys for the live log.
LiveLogSettings readLiveLogSettings(AppContext& context, const std::string& profile);

// The live log of the Chat parser page: a bar with "Live", "Stop" and "Save
// log". Live listens on the profile's log port, keeps a router's way in open
// (the receiver's keep-alive to the game port), finds the address to give
// the server (LOGADDRESS; else the STUN server's view of the receiver's
// socket; else this computer's address toward the server), asks the server
// over its console to send its log there (`log on`, `logaddress_add`), and
// checks that its own next request comes back over the log before it says
// the log arrives. Lines are folded into the page's views as they come, a
// batch per timer turn; Stop, another profile, a scan of a log and closing
// the page take the address back (`logaddress_del`) and stop listening.
class LiveLog final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LiveLog)

public:
    // `selector`: the page's server selector; `views`: the views the lines go to.
    LiveLog(AppContext& context, const QComboBox* selector, ChatViews* views, QWidget* parent = nullptr);
    ~LiveLog() override;

    void BLiveClick();
    void BStopClick();
    // Writes the lines received into the logs folder as a log file.
    void BSaveLiveClick();
    // Another profile was picked in the server selector.
    void FTPServerChange();

    // Idle; Starting: listening, finding the server and asking it for its
    // log; Live: the server has taken the address.
    enum class State { Idle, Starting, Live };
    State state() const { return m_state; }
    // Live, and the program's own request came back over the log.
    bool arrived() const { return m_state == State::Live && !m_checking; }
    const LiveFold& fold() const { return *m_fold; }
    const LogReceiver& receiver() const { return *m_receiver; }
    // The address and port the server was asked to send to ("" when none).
    std::string logTarget() const;

    // The bounds of the lines kept, from the next Live on.
    void setFoldLimits(std::size_t maxLines, std::size_t maxBytes);
    // After this long without a line the status line says the stream stopped.
    void setSilenceLimit(std::chrono::milliseconds limit);
    // How long the check request may take to come back over the log before
    // the bar says the log does not reach this computer (default 10 s).
    void setCheckLimit(std::chrono::milliseconds limit);
    // The check request goes again after this long without its return.
    static constexpr int kCheckRepeatMs = 2500;
    static constexpr int kFlushIntervalMs = 50;
    // Lines a trim folds anew per turn (a few milliseconds' work).
    static constexpr std::size_t kTrimLinesPerTurn = 10000;

    QLabel* LiveStatus = nullptr;
    QPushButton* BLive = nullptr;
    QPushButton* BStop = nullptr;
    QPushButton* BSaveLive = nullptr;

private:
    // Looks `host` up (an address as it stands at once), then calls `found`
    // from the event loop.
    void lookUp(const std::string& host, void (LiveLog::*found)(const QHostInfo&));
    void hostFound(const QHostInfo& info);
    void stunHostFound(const QHostInfo& info);
    void stunDone();
    // Without LOGADDRESS and STUN: this computer's address toward the server.
    void useLocalAddress();
    void askServer();
    void sendCheck();
    void checkArrived();
    void checkTimedOut();
    // Ends a session that failed: the message goes to the status line and
    // the bar (no stale "Asking ..." stays), then to an error box.
    [[noreturn]] void fail(bool tellServer, const std::string& message);
    void consoleDone(std::uint64_t session, const std::string& command, const RconResult& result);
    void flush();
    void checkSilence();
    // Ends the session; with tellServer the server is asked to stop sending.
    void stop(bool tellServer);
    void showCounts();
    void enableButtons();

    AppContext& m_context;
    const QComboBox* m_selector;
    ChatViews* m_views;
    LogReceiver* m_receiver;
    RconClient* m_console;
    QTimer* m_flushTimer;
    QTimer* m_silenceTimer;
    QTimer* m_checkTimer;
    std::unique_ptr<LiveFold> m_fold;
    // The result the views show.
    const ScanResult* m_shown = nullptr;

    State m_state = State::Idle;
    // Replies of an ended session are ignored.
    std::uint64_t m_session = 0;
    LiveLogSettings m_settings;
    QString m_serverName;
    int m_lookup = -1;
    QHostAddress m_server;
    std::string m_logHost;
    // The port given to the server: LOGPORT, or the one a STUN server saw.
    int m_targetPort = 0;
    std::string m_checkCommand;
    bool m_checking = false;
    quint16 m_stunPort = 0;
    // Why the STUN server's address was not used, for the texts that follow.
    std::string m_stunNote;
    QElapsedTimer m_sinceCheck;
    std::chrono::milliseconds m_checkLimit{ 10000 };
    bool m_asked = false; // logaddress_add was sent
    QElapsedTimer m_sinceLine;
    bool m_silent = false;
    bool m_closing = false;
    std::chrono::milliseconds m_silenceLimit{ 60000 };
    std::size_t m_maxLines;
    std::size_t m_maxBytes;
};

} // namespace velth
