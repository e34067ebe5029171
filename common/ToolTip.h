#pragma once

#include <QString>

namespace velth {

// A tooltip that shows `text` literally: Qt shows a tooltip that looks like
// markup as rich text, so such a text is escaped (and keeps its blanks).
QString plainToolTip(const QString& text);

} // namespace velth
