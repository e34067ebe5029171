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
};

// Reads the profile's keys for the live log.
LiveLogSettings readLiveLogSettings(AppContext& context, const std::string& profile);

// The live log of the Chat parser page: a bar with "Live", "Stop" and "Save
// log". Live listens on the profile's log port, asks the server over its
// console to send its log there (`log on`, `logaddress_add`), and folds the
// lines into the page's views as they come, a batch per timer turn; Stop,
// another profile, a scan of a log and closing the page take the address
// back (`logaddress_del`) and stop listening.
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
    const LiveFold& fold() const { return *m_fold; }
    const LogReceiver& receiver() const { return *m_receiver; }
    // The address and port the server was asked to send to ("" when none).
    std::string logTarget() const;

    // The bounds of the lines kept, from the next Live on.
    void setFoldLimits(std::size_t maxLines, std::size_t maxBytes);
    // After this long without a line the status line says the stream stopped.
    void setSilenceLimit(std::chrono::milliseconds limit);
    static constexpr int kFlushIntervalMs = 50;
    // Lines a trim folds anew per turn (a few milliseconds' work).
    static constexpr std::size_t kTrimLinesPerTurn = 10000;

    QLabel* LiveStatus = nullptr;
    QPushButton* BLive = nullptr;
    QPushButton* BStop = nullptr;
    QPushButton* BSaveLive = nullptr;

private:
    void hostFound(const QHostInfo& info);
    void askServer();
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
    std::unique_ptr<LiveFold> m_fold;
    // The result the views show.
    const ScanResult* m_shown = nullptr;

    State m_state = State::Idle;
    // Replies of an ended session are ignored.
    std::uint64_t m_session = 0;
    LiveLogSettings m_settings;
    QString m_serverName;
    int m_lookup = -1;
    std::string m_logHost;
    bool m_asked = false; // logaddress_add was sent
    QElapsedTimer m_sinceLine;
    bool m_silent = false;
    bool m_closing = false;
    std::chrono::milliseconds m_silenceLimit{ 60000 };
    std::size_t m_maxLines;
    std::size_t m_maxBytes;
};

} // namespace velth
