#pragma once

#include <QFrame>

class QComboBox;
namespace velth {

class AppContext;

// The CFG updater page.
class TcfgFrame final : public QFrame
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TcfgFrame)

public:
    explicit TcfgFrame(AppContext& context, QWidget* parent = nullptr);

    QComboBox* FTPServer = nullptr;

private:
    AppContext& m_context;
};

} // namespace velth
