#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QLabel;
class QTabWidget;
class QTreeView;
class QWidget;

namespace velth {

class AppContext;
class ChatView;
class ResultTable;
struct ScanResult;

// The result views of the Chat parser page ("Global info", "Public Chat",
// "T Chat", "CT Chat") and the scan that fills them.
class ChatViews final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ChatViews)

public:
    // Appends the four tabs to `tabs`, in this order: GlobalTab "Global info",
    // PublicChatTab "Public Chat", TChatTab "T Chat", CTChatTab "CT Chat".
    ChatViews(AppContext& context, QTabWidget* tabs, QObject* parent = nullptr);

    // Scans the log `fileName` (a bare name; ".log" is appended unless its
    // extension is ".log" in any case) from the logs folder into the views and
    // brings "Global info" to the front. A file that cannot be opened or read
    // throws velth::Error naming it; the views then show what was read before.
    void ScanLog(const QString& fileName);

    // Shows a fold that keeps growing (the live log): the views reset to
    // `result` as it stands; liveGrew() shows what was added to it since.
    // `started`: whether the fold has its first line (the time is shown then).
    void showLive(std::shared_ptr<const ScanResult> result, bool started);
    void liveGrew();
    bool showsLive() const { return m_live; }

Q_SIGNALS:
    // A scan has replaced the live view.
    void liveReplaced();

public:
    QWidget* GlobalTab = nullptr;
    QWidget* PublicChatTab = nullptr;
    QWidget* TChatTab = nullptr;
    QWidget* CTChatTab = nullptr;

    QLabel* MapLabel = nullptr;
    QLabel* TimeLabel = nullptr;
    ChatView* PublicChat = nullptr;
    ChatView* TChat = nullptr;
    ChatView* CTChat = nullptr;
    QTreeView* ServerSettings = nullptr;
    QTreeView* CTView = nullptr;
    QTreeView* TView = nullptr;
    QLabel* CTScore = nullptr;
    QLabel* TScore = nullptr;

private:
    void resetViews();
    // firstLineRead: whether the scan got past reading the first line (the
    // time is shown then, also for an empty file).
    void showResult(ScanResult&& result, bool firstLineRead);
    void show(std::shared_ptr<const ScanResult> result, bool firstLineRead);
    // Map, time and win captions from the result shown.
    void showLabels(bool firstLineRead);

    AppContext& m_context;
    QTabWidget* m_tabs;
    // What the chat views and the lists show.
    std::shared_ptr<const ScanResult> m_result;
    ResultTable* m_cvars = nullptr;
    ResultTable* m_ctRows = nullptr;
    ResultTable* m_tRows = nullptr;
    bool m_live = false;
};

} // namespace velth
