#include "editors/MapcycleFrame.h"

#include <QComboBox>
#include <QListWidget>

namespace velth {

TmapcycleFrame::TmapcycleFrame(AppContext& context, QWidget* parent)
    : QFrame(parent)
    , m_context(context)
{
    FTPServer = new QComboBox(this);
    FTPServer->setObjectName(QStringLiteral("FTPServer"));
    MapList = new QListWidget(this);
    MapList->setObjectName(QStringLiteral("MapList"));
    MapList->setGeometry(5, 40, 150, 300);
}

} // namespace velth
