#include "profiles/SettingsFrame.h"

#include <QListWidget>

namespace velth {

TsettingsFrame::TsettingsFrame(AppContext& context, QWidget* parent)
    : QFrame(parent)
    , m_context(context)
{
    ServerList = new QListWidget(this);
    ServerList->setObjectName(QStringLiteral("ServerList"));
    ServerList->setGeometry(5, 5, 141, 400);
}

} // namespace velth
