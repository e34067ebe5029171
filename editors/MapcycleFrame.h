#pragma once

#include <QFrame>

class QComboBox;
class QListWidget;
namespace velth {

class AppContext;

// The Mapcycle edit page.
class TmapcycleFrame final : public QFrame
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TmapcycleFrame)

public:
    explicit TmapcycleFrame(AppContext& context, QWidget* parent = nullptr);

    QComboBox* FTPServer = nullptr;
    QListWidget* MapList = nullptr;

private:
    AppContext& m_context;
};

} // namespace velth
