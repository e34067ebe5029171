#include "editors/CfgFrame.h"

#include <QComboBox>

namespace velth {

TcfgFrame::TcfgFrame(AppContext& context, QWidget* parent)
    : QFrame(parent)
    , m_context(context)
{
    FTPServer = new QComboBox(this);
    FTPServer->setObjectName(QStringLiteral("FTPServer"));
}

} // namespace velth
