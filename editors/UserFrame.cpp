#include "editors/UserFrame.h"

#include <QComboBox>

namespace velth {

TuserFrame::TuserFrame(AppContext& context, QWidget* parent)
    : QFrame(parent)
    , m_context(context)
{
    FTPServer = new QComboBox(this);
    FTPServer->setObjectName(QStringLiteral("FTPServer"));
}

} // namespace velth
