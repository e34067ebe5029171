#pragma once

#include <QImage>
#include <QPixmap>
#include <QString>

namespace velth {

// A picture of the program's skin by file name ("titlebar.png"). Each one
// also exists at twice the size ("titlebar@2x.png").

// The picture at its layout size (scale 1) or at twice that size (scale 2).
// Null when there is none.
QImage skinImage(const QString& name, int scale);

// The picture to show: the double-size one, carrying device pixel ratio 2,
// when a screen of the application has more than one device pixel per
// logical pixel; otherwise the plain one. Its logical size is the same.
QPixmap skinPixmap(const QString& name);

} // namespace velth
