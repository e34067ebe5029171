#include "loganalysis/ChatFrame.h"

#include "loganalysis/LocalFileList.h"

#include <QComboBox>
#include <QGroupBox>
#include <QVBoxLayout>

namespace velth {

TchatFrame::TchatFrame(AppContext& context, QWidget* parent)
    : QFrame(parent)
    , m_context(context)
{
    FTPServer = new QComboBox(this);
    FTPServer->setObjectName(QStringLiteral("FTPServer"));
    LocalBox = new QGroupBox(this);
    LocalBox->setObjectName(QStringLiteral("LocalBox"));
    LocalBox->setGeometry(5, 40, 510, 380);
    LocalFiles = new LocalFileList(LocalBox);
    LocalFiles->setObjectName(QStringLiteral("LocalFiles"));
    auto* layout = new QVBoxLayout(LocalBox);
    layout->addWidget(LocalFiles);
}

} // namespace velth
