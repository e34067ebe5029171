#pragma once

#include <QFrame>

class QListWidget;
namespace velth {

class AppContext;

// The Settings page: the server profiles.
class TsettingsFrame final : public QFrame
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TsettingsFrame)

public:
    explicit TsettingsFrame(AppContext& context, QWidget* parent = nullptr);

    QListWidget* ServerList = nullptr;

private:
    AppContext& m_context;
};

} // namespace velth
