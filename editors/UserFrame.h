#pragma once

#include <QFrame>

class QComboBox;
namespace velth {

class AppContext;

// The User edit page.
class TuserFrame final : public QFrame
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TuserFrame)

public:
    explicit TuserFrame(AppContext& context, QWidget* parent = nullptr);

    QComboBox* FTPServer = nullptr;

private:
    AppContext& m_context;
};

} // namespace velth
