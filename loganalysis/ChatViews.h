#pragma once

// TEMPORARY stand-in until the parser's views land on main; replaced on merge.
#include <QObject>

class QLabel;
class QTabWidget;
class QTextEdit;
class QTreeWidget;

namespace velth {

class AppContext;

class ChatViews final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ChatViews)

public:
    ChatViews(AppContext& context, QTabWidget* tabs, QObject* parent = nullptr);
    void ScanLog(const QString& fileName);

    QLabel* MapLabel = nullptr;
    QLabel* TimeLabel = nullptr;
    QTextEdit* PublicChat = nullptr;
    QTextEdit* TChat = nullptr;
    QTextEdit* CTChat = nullptr;
    QTreeWidget* ServerSettings = nullptr;
    QTreeWidget* CTView = nullptr;
    QTreeWidget* TView = nullptr;
    QLabel* CTScore = nullptr;
    QLabel* TScore = nullptr;

private:
    AppContext& m_context;
    QTabWidget* m_tabs;
};

} // namespace velth
