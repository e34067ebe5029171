#pragma once

#include <QFrame>

class QComboBox;
class QGroupBox;
namespace velth {

class AppContext;
class LocalFileList;

// The Chat parser page.
class TchatFrame final : public QFrame
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TchatFrame)

public:
    explicit TchatFrame(AppContext& context, QWidget* parent = nullptr);

    QComboBox* FTPServer = nullptr;
    QGroupBox* LocalBox = nullptr;
    LocalFileList* LocalFiles = nullptr;

private:
    AppContext& m_context;
};

} // namespace velth
