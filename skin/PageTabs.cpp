#include "skin/PageTabs.h"

#include <QIcon>
#include <QTabWidget>
#include <QVBoxLayout>

namespace velth {

QTabWidget* addPageTabs(QWidget* page)
{
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* tabs = new QTabWidget(page);
    tabs->setObjectName(QStringLiteral("MainControl"));
    layout->addWidget(tabs);
    return tabs;
}

QIcon tabIcon(int index)
{
    return QIcon(QStringLiteral(":/skin/tab%1.png").arg(index));
}

} // namespace velth
