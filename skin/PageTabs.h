#pragma once

class QIcon;
class QTabWidget;
class QWidget;

namespace velth {

// The tab control that fills a page, named "MainControl" on every page.
QTabWidget* addPageTabs(QWidget* page);

// The icon of a page's tab, by its index in the skin's tab pictures (tab0.png ...).
QIcon tabIcon(int index);

} // namespace velth
