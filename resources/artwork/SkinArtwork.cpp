// Draws the program's skin artwork into resources/skin/.
//
// Run scripts/make-skin.sh after changing anything here; it builds this tool,
// writes every picture and leaves them for review and commit. The pictures are
// drawn at their final size with QPainter, so every change stays a code change.
// Every skin picture is drawn twice: at its layout size ("name.png") and at
// twice that size ("name@2x.png") for screens with more than one device pixel
// per logical pixel; the drawing code works in logical pixels for both.
// The same run draws the program's desktop icon in the hicolor sizes and as
// an SVG picture.
//
// Layout facts the pictures follow (positions in the main window):
//   title picture 590 x 25 at (0, 0); hide and exit buttons 22 x 22 at (540, 3), (564, 3)
//   top bar 590 x 22 at (0, 25); page caption label at (10, 30), drawn opaque on the
//   window colour; link labels white bold from x = 365 at y = 30
//   left bar 63 x 425 at (0, 47); navigation buttons 50 x 50 at x = 8,
//   y = 74, 127, 180, 233, 286, 338, 391
//   status bar 590 x 28 at (0, 472); status text white bold, right edge 578, top 480
//   page area 522 x 425 at (63, 47), a black strip 5 px wide at its right edge
//
// Button strips hold four cells: normal, greyed, pressed, lit. Pixels of the
// key colour (the strip's bottom-left pixel) are not drawn by the button, so
// the bar behind shows through; edges are blended against that bar here.

#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QSvgGenerator>
#include <QtMath>

#include <cstdio>
#include <functional>

namespace {

// The colour scheme.
const QColor kInk(0x14, 0x17, 0x1b); // darkest chrome
const QColor kChrome(0x22, 0x26, 0x2d); // bars
const QColor kChromeLight(0x33, 0x39, 0x42);
const QColor kEdge(0x47, 0x4f, 0x5a);
const QColor kAccent(0xf2, 0x8c, 0x28); // amber
const QColor kAccentLit(0xff, 0xbe, 0x5c);
const QColor kAccentDeep(0xc4, 0x65, 0x0e);
const QColor kDanger(0xe5, 0x48, 0x4d);
const QColor kDangerLit(0xff, 0x6b, 0x70);
const QColor kText(0xe8, 0xea, 0xed);
const QColor kTextDim(0x8c, 0x93, 0x9c);
// The window's own background (the palette's window colour) shows around the
// page caption, so the caption plate of the top bar uses it too.
const QColor kWindow(0xef, 0xef, 0xef);

const QColor kNavKey(0x4c, 0x4c, 0x4c);
const QColor kTitleKey(0x00, 0x00, 0x00);

QString g_outDir;
// Device pixels per logical pixel of the pictures being drawn: 1 or 2.
int g_scale = 1;

// A transparent picture of w x h logical pixels; a painter on it draws in
// logical pixels.
QImage blank(int w, int h)
{
    QImage image(w * g_scale, h * g_scale, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(g_scale);
    image.fill(Qt::transparent);
    return image;
}

void savePng(const QImage& image, const QString& path)
{
    QImage plain = image;
    plain.setDevicePixelRatio(1);
    if (!plain.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
    std::printf("%s %dx%d\n", qPrintable(path), image.width(), image.height());
}

// Saves a skin picture under its name, with "@2x" before the extension at
// double size.
void save(const QImage& image, const char* name)
{
    QString file = QLatin1String(name);
    if (g_scale != 1)
        file.insert(file.lastIndexOf(QLatin1Char('.')), QStringLiteral("@%1x").arg(g_scale));
    savePng(image, g_outDir + QLatin1Char('/') + file);
}

QFont uiFont(int pixels, bool bold)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixels);
    font.setBold(bold);
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

// A straight-edged piece of artwork over a known background: pixels that the
// artwork does not touch become the key colour, touched pixels are the artwork
// blended over the background (so anti-aliased edges fit the bar behind), and
// no touched pixel may equal the key colour.
QImage keyed(const QImage& art, const QImage& behind, const QColor& key)
{
    QImage out(art.size(), QImage::Format_RGB32);
    for (int y = 0; y < art.height(); ++y) {
        for (int x = 0; x < art.width(); ++x) {
            const QRgb a = art.pixel(x, y);
            const int alpha = qAlpha(a);
            if (alpha == 0) {
                out.setPixel(x, y, key.rgb());
                continue;
            }
            const QColor b = behind.pixelColor(x, y);
            const QColor f = QColor::fromRgba(a); // unpremultiplied by pixel()
            auto mix = [&](int fc, int bc) { return (fc * alpha + bc * (255 - alpha) + 127) / 255; };
            QColor c(mix(f.red(), b.red()), mix(f.green(), b.green()), mix(f.blue(), b.blue()));
            if (c.rgb() == key.rgb())
                c.setRed(c.red() < 255 ? c.red() + 1 : 254);
            out.setPixel(x, y, c.rgb());
        }
    }
    return out;
}

// Keeps the two colours the button recolours in its greyed cell out of it, so
// the greyed look is exactly what is drawn here.
void avoidSystemColours(QImage& cell)
{
    for (int y = 0; y < cell.height(); ++y) {
        for (int x = 0; x < cell.width(); ++x) {
            const QRgb p = cell.pixel(x, y) & 0xffffff;
            if (p == 0xffffff)
                cell.setPixel(x, y, qRgb(0xfe, 0xfe, 0xfe));
            else if (p == 0x808080)
                cell.setPixel(x, y, qRgb(0x81, 0x81, 0x81));
        }
    }
}

QImage strip(const QList<QImage>& cells)
{
    const int w = cells.first().width();
    QImage out(w * int(cells.size()), cells.first().height(), QImage::Format_RGB32);
    QPainter p(&out);
    for (int i = 0; i < cells.size(); ++i)
        p.drawImage(i * w, 0, cells[i]);
    p.end();
    return out.convertToFormat(QImage::Format_RGB888);
}

void fillNoise(QImage& image, int strength, quint32 seed)
{
    // A faint, fixed brushed texture: keeps large dark areas from looking flat.
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int d = int((seed >> 24) % unsigned(2 * strength + 1)) - strength;
            QColor c = image.pixelColor(x, y);
            if (c.alpha() == 0)
                continue;
            c.setRgb(
                qBound(0, c.red() + d, 255), qBound(0, c.green() + d, 255), qBound(0, c.blue() + d, 255), c.alpha());
            image.setPixelColor(x, y, c);
        }
    }
}

// ---------------------------------------------------------------- emblem

// The program's emblem: a crosshair ring around a "V", on a dark shield.
void drawEmblem(QPainter& p, const QRectF& r, bool detailed)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = r.width();
    const QPointF c = r.center();

    QPainterPath shield;
    shield.moveTo(c.x(), r.top());
    shield.lineTo(r.right(), r.top() + s * 0.22);
    shield.lineTo(r.right(), r.top() + s * 0.55);
    shield.cubicTo(r.right(), r.top() + s * 0.78, c.x() + s * 0.2, r.bottom() - s * 0.06, c.x(), r.bottom());
    shield.cubicTo(c.x() - s * 0.2, r.bottom() - s * 0.06, r.left(), r.top() + s * 0.78, r.left(), r.top() + s * 0.55);
    shield.lineTo(r.left(), r.top() + s * 0.22);
    shield.closeSubpath();

    QLinearGradient face(r.topLeft(), r.bottomLeft());
    face.setColorAt(0, QColor(0x3d, 0x44, 0x4e));
    face.setColorAt(1, QColor(0x16, 0x19, 0x1e));
    p.setPen(QPen(detailed ? kAccent : kAccentLit, qMax(1.0, s / 26.0)));
    p.setBrush(face);
    p.drawPath(shield);

    if (detailed) {
        // Crosshair ring and ticks.
        const qreal ring = s * 0.27;
        const QPointF rc(c.x(), r.top() + s * 0.47);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(0xaa, 0xb2, 0xbc, 160), s / 70.0));
        p.drawEllipse(rc, ring, ring);
        for (int i = 0; i < 4; ++i) {
            const qreal a = i * M_PI / 2;
            const QPointF dir(qCos(a), qSin(a));
            p.drawLine(rc + dir * ring * 0.78, rc + dir * ring * 1.25);
        }
    }

    // The "V".
    const qreal top = r.top() + s * 0.26;
    const qreal bottom = r.top() + s * 0.74;
    const qreal half = s * 0.25;
    const qreal stroke = s * 0.11;
    QPainterPath v;
    v.moveTo(c.x() - half, top);
    v.lineTo(c.x() - half + stroke * 1.15, top);
    v.lineTo(c.x(), bottom - stroke * 1.6);
    v.lineTo(c.x() + half - stroke * 1.15, top);
    v.lineTo(c.x() + half, top);
    v.lineTo(c.x() + stroke * 0.45, bottom);
    v.lineTo(c.x() - stroke * 0.45, bottom);
    v.closeSubpath();
    QLinearGradient vg(QPointF(0, top), QPointF(0, bottom));
    vg.setColorAt(0, kAccentLit);
    vg.setColorAt(1, kAccentDeep);
    p.setPen(Qt::NoPen);
    p.setBrush(vg);
    p.drawPath(v);
    p.restore();
}

// ---------------------------------------------------------------- glyphs

// Button symbols, drawn into a box of 26 x 26 centred on the cell.
using Glyph = std::function<QPainterPath()>;

QPainterPath chatGlyph()
{
    QPainterPath bubble;
    bubble.addRoundedRect(QRectF(1, 3, 24, 16), 5, 5);
    QPainterPath tail;
    tail.moveTo(6, 17);
    tail.lineTo(5, 24);
    tail.lineTo(13, 18);
    tail.closeSubpath();
    QPainterPath dots;
    for (int i = 0; i < 3; ++i)
        dots.addEllipse(QPointF(7.5 + i * 5.5, 11), 1.9, 1.9);
    return bubble.united(tail).subtracted(dots);
}

QPainterPath cfgGlyph()
{
    // A sheet with a folded corner and the lines of a config file.
    QPainterPath sheet;
    sheet.moveTo(4, 1);
    sheet.lineTo(16, 1);
    sheet.lineTo(22, 7);
    sheet.lineTo(22, 25);
    sheet.lineTo(4, 25);
    sheet.closeSubpath();
    QPainterPath cut;
    cut.moveTo(15, 1);
    cut.lineTo(22, 8);
    cut.lineTo(15, 8);
    cut.closeSubpath();
    QPainterPath lines;
    lines.addRect(QRectF(7.5, 11, 11, 2));
    lines.addRect(QRectF(7.5, 15.5, 11, 2));
    lines.addRect(QRectF(7.5, 20, 7, 2));
    QPainterPath fold;
    fold.moveTo(16.5, 2.5);
    fold.lineTo(20.5, 6.5);
    fold.lineTo(16.5, 6.5);
    fold.closeSubpath();
    return sheet.subtracted(cut).subtracted(lines).united(fold);
}

QPainterPath userGlyph()
{
    QPainterPath back;
    back.addEllipse(QPointF(17.5, 7.5), 4.2, 4.2);
    QPainterPath backBody;
    backBody.moveTo(10.5, 22);
    backBody.cubicTo(11, 15, 14, 13.2, 17.5, 13.2);
    backBody.cubicTo(21, 13.2, 25, 15, 25.5, 22);
    backBody.closeSubpath();
    back = back.united(backBody);

    QPainterPath front;
    front.addEllipse(QPointF(9.5, 10), 5, 5);
    QPainterPath body;
    body.moveTo(0.5, 25.5);
    body.cubicTo(1, 18, 5, 16, 9.5, 16);
    body.cubicTo(14, 16, 18, 18, 18.5, 25.5);
    body.closeSubpath();
    front = front.united(body);

    // A gap between the two figures keeps them apart at this size.
    QPainterPathStroker gap;
    gap.setWidth(3);
    return back.subtracted(gap.createStroke(front).united(front)).united(front);
}

QPainterPath arrowArc(const QPointF& c, qreal radius, qreal startDeg, qreal spanDeg, qreal width)
{
    QPainterPath arc;
    const QRectF box(c.x() - radius, c.y() - radius, radius * 2, radius * 2);
    arc.arcMoveTo(box, startDeg);
    arc.arcTo(box, startDeg, spanDeg);
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setCapStyle(Qt::FlatCap);
    QPainterPath band = stroker.createStroke(arc);
    // Arrow head at the end of the arc, pointing along it.
    const qreal end = qDegreesToRadians(startDeg + spanDeg);
    const QPointF tip(c.x() + radius * qCos(end), c.y() - radius * qSin(end));
    const qreal dir = spanDeg > 0 ? 1 : -1;
    const QPointF tangent(-qSin(end) * dir, -qCos(end) * dir);
    const QPointF normal(qCos(end), -qSin(end));
    QPainterPath head;
    head.moveTo(tip + tangent * width * 1.5);
    head.lineTo(tip + normal * width * 1.45 - tangent * 0.5);
    head.lineTo(tip - normal * width * 1.45 - tangent * 0.5);
    head.closeSubpath();
    return band.united(head);
}

QPainterPath mapcycleGlyph()
{
    const QPointF c(13, 13);
    QPainterPath p = arrowArc(c, 9.5, 100, 130, 3.6).united(arrowArc(c, 9.5, 280, 130, 3.6));
    // A map marker in the middle.
    QPainterPath pin;
    pin.addEllipse(QPointF(13, 11.2), 3.6, 3.6);
    QPainterPath point;
    point.moveTo(9.8, 12.6);
    point.lineTo(13, 18);
    point.lineTo(16.2, 12.6);
    point.closeSubpath();
    pin = pin.united(point);
    QPainterPath hole;
    hole.addEllipse(QPointF(13, 11.2), 1.4, 1.4);
    return p.united(pin.subtracted(hole));
}

QPainterPath gearPath(const QPointF& c, qreal outer, qreal inner, qreal hole, int teeth)
{
    QPainterPath gear;
    const int steps = teeth * 4;
    for (int i = 0; i < steps; ++i) {
        const qreal a = 2 * M_PI * i / steps - M_PI / 2;
        const qreal r = (i % 4 == 0 || i % 4 == 1) ? outer : inner;
        const QPointF pt(c.x() + r * qCos(a), c.y() + r * qSin(a));
        if (i == 0)
            gear.moveTo(pt);
        else
            gear.lineTo(pt);
    }
    gear.closeSubpath();
    QPainterPath core;
    core.addEllipse(c, inner, inner);
    gear = gear.united(core);
    QPainterPath h;
    h.addEllipse(c, hole, hole);
    return gear.subtracted(h);
}

QPainterPath settingsGlyph()
{
    return gearPath(QPointF(13, 13), 12.5, 9.3, 4.2, 8);
}

QPainterPath aboutGlyph()
{
    QPainterPath disc;
    disc.addEllipse(QPointF(13, 13), 12, 12);
    QPainterPath i;
    i.addEllipse(QPointF(13, 7.6), 2.3, 2.3);
    i.addRoundedRect(QRectF(11, 11.5, 4, 9.5), 1.2, 1.2);
    return disc.subtracted(i.simplified());
}

// The Live button's mark, for its low 50 x 20 cell: a dot with two waves
// going out from it, and the word.
QPainterPath liveGlyph()
{
    QPainterPath dot;
    dot.addEllipse(QPointF(10.5, 10), 2.2, 2.2);
    QPainterPathStroker stroker;
    stroker.setWidth(1.5);
    stroker.setCapStyle(Qt::RoundCap);
    for (const qreal radius : { 4.6, 7.2 }) {
        QPainterPath wave;
        const QRectF box(10.5 - radius, 10 - radius, 2 * radius, 2 * radius);
        wave.arcMoveTo(box, 40);
        wave.arcTo(box, 40, -80);
        dot = dot.united(stroker.createStroke(wave));
    }
    QPainterPath word;
    word.addText(QPointF(20, 14.2), uiFont(10, true), QStringLiteral("LIVE"));
    return dot.united(word);
}

QPainterPath exitGlyph()
{
    QPainterPath arc;
    const QRectF box(3.5, 4.5, 19, 19);
    arc.arcMoveTo(box, 120);
    arc.arcTo(box, 120, 300);
    QPainterPathStroker stroker;
    stroker.setWidth(3.6);
    stroker.setCapStyle(Qt::RoundCap);
    QPainterPath ring = stroker.createStroke(arc);
    QPainterPath bar;
    bar.addRoundedRect(QRectF(11.2, 0.5, 3.6, 12.5), 1.8, 1.8);
    return ring.united(bar);
}

// ---------------------------------------------------------------- buttons

enum Cell { Normal, Greyed, Pressed, Lit };

struct ButtonColours
{
    QColor accent;
    QColor accentLit;
};

// One navigation cell (50 x 50, or the Live button's 50 x 20): a bevelled
// tile carrying the symbol, placed at origin.
QImage navCell(Cell cell, const QPainterPath& glyph, const ButtonColours& colours, QSize size = QSize(50, 50),
    QPointF origin = QPointF(12, 12))
{
    QImage art = blank(size.width(), size.height());
    QPainter p(&art);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF tile(3.5, size.height() < 50 ? 2.5 : 3.5, size.width() - 7, size.height() < 50 ? 15 : 43);
    const qreal radius = size.height() < 50 ? 5 : 9;

    if (cell == Lit) {
        // Soft glow around the tile.
        for (int i = 3; i >= 1; --i) {
            QColor g = colours.accent;
            g.setAlpha(38 + (3 - i) * 30);
            p.setPen(QPen(g, 1));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(tile.adjusted(-i, -i, i, i), radius + i, radius + i);
        }
    }

    QLinearGradient face(tile.topLeft(), tile.bottomLeft());
    QColor border;
    QColor glyphColour;
    QColor rim; // one-pixel inner highlight along the top
    switch (cell) {
    case Normal:
        face.setColorAt(0, QColor(0x48, 0x50, 0x5b));
        face.setColorAt(1, QColor(0x2a, 0x2f, 0x37));
        border = QColor(0x12, 0x14, 0x18);
        glyphColour = colours.accent;
        rim = QColor(255, 255, 255, 46);
        break;
    case Lit:
        face.setColorAt(0, QColor(0x5a, 0x63, 0x70));
        face.setColorAt(1, QColor(0x34, 0x3a, 0x44));
        border = colours.accent;
        glyphColour = colours.accentLit;
        rim = QColor(255, 255, 255, 70);
        break;
    case Pressed:
        face.setColorAt(0, QColor(0x1b, 0x1e, 0x23));
        face.setColorAt(1, QColor(0x2e, 0x33, 0x3b));
        border = colours.accent.darker(130);
        glyphColour = colours.accent.darker(115);
        rim = QColor(0, 0, 0, 90);
        break;
    case Greyed:
        face.setColorAt(0, QColor(0x3a, 0x3d, 0x42));
        face.setColorAt(1, QColor(0x31, 0x34, 0x39));
        border = QColor(0x1c, 0x1e, 0x21);
        glyphColour = QColor(0x8b, 0x8f, 0x95);
        rim = QColor(255, 255, 255, 18);
        break;
    }

    p.setPen(QPen(border, 1));
    p.setBrush(face);
    p.drawRoundedRect(tile, radius, radius);
    p.setPen(QPen(rim, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(tile.adjusted(1, 1, -1, -1), radius - 1, radius - 1);

    if (cell == Pressed)
        origin += QPointF(0, 1);
    const QPainterPath placed = glyph.translated(origin);
    p.setPen(Qt::NoPen);
    if (cell != Greyed) {
        // Drop shadow under the symbol.
        p.setBrush(QColor(0, 0, 0, cell == Pressed ? 60 : 130));
        p.drawPath(placed.translated(0, 1.2));
    }
    QLinearGradient shade(QPointF(0, origin.y()), QPointF(0, origin.y() + 26));
    shade.setColorAt(0, cell == Greyed ? glyphColour : glyphColour.lighter(118));
    shade.setColorAt(1, cell == Greyed ? glyphColour.darker(112) : glyphColour.darker(108));
    p.setBrush(shade);
    p.drawPath(placed);
    p.end();
    return art;
}

QImage navStrip(const QPainterPath& glyph, const ButtonColours& colours, const QImage& behind,
    QSize size = QSize(50, 50), QPointF origin = QPointF(12, 12))
{
    QList<QImage> cells;
    for (Cell c : { Normal, Greyed, Pressed, Lit }) {
        QImage k = keyed(navCell(c, glyph, colours, size, origin), behind, kNavKey);
        if (c == Greyed)
            avoidSystemColours(k);
        cells << k;
    }
    return strip(cells);
}

// One 22 x 22 title-bar cell: a round-cornered chip with a minus or a cross.
QImage titleCell(Cell cell, bool exit)
{
    QImage art = blank(22, 22);
    QPainter p(&art);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF chip(2.5, 2.5, 17, 17);
    QColor face;
    QColor border;
    QColor mark;
    const QColor hot = exit ? kDanger : kAccent;
    switch (cell) {
    case Normal:
        face = QColor(0x35, 0x3b, 0x44);
        border = QColor(0x4a, 0x52, 0x5d);
        mark = QColor(0xd5, 0xd9, 0xde);
        break;
    case Lit:
        face = hot;
        border = hot.lighter(125);
        mark = QColor(0xff, 0xfb, 0xf5);
        break;
    case Pressed:
        face = hot.darker(140);
        border = hot.darker(170);
        mark = QColor(0xf0, 0xe6, 0xdc);
        break;
    case Greyed:
        face = QColor(0x2c, 0x30, 0x35);
        border = QColor(0x38, 0x3c, 0x42);
        mark = QColor(0x6a, 0x6f, 0x76);
        break;
    }
    p.setPen(QPen(border, 1));
    p.setBrush(face);
    p.drawRoundedRect(chip, 4, 4);
    p.setPen(QPen(mark, 2, Qt::SolidLine, Qt::RoundCap));
    const qreal shift = cell == Pressed ? 0.5 : 0;
    if (exit) {
        p.drawLine(QPointF(7.5, 7.5 + shift), QPointF(14.5, 14.5 + shift));
        p.drawLine(QPointF(14.5, 7.5 + shift), QPointF(7.5, 14.5 + shift));
    } else {
        p.drawLine(QPointF(7, 14 + shift), QPointF(15, 14 + shift));
    }
    p.end();
    return art;
}

QImage titleStrip(bool exit, const QImage& behind)
{
    QList<QImage> cells;
    for (Cell c : { Normal, Greyed, Pressed, Lit }) {
        QImage k = keyed(titleCell(c, exit), behind, kTitleKey);
        if (c == Greyed)
            avoidSystemColours(k);
        cells << k;
    }
    return strip(cells);
}

// ---------------------------------------------------------------- bars

QImage titleBar()
{
    QImage image = blank(590, 25);
    QPainter p(&image);
    QLinearGradient g(0, 0, 0, 25);
    g.setColorAt(0, QColor(0x30, 0x36, 0x3f));
    g.setColorAt(1, QColor(0x1c, 0x20, 0x26));
    p.fillRect(image.rect(), g);
    p.end();
    fillNoise(image, 2, 7);
    p.begin(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // Top highlight and an amber rule at the bottom, fading out to the right.
    p.fillRect(0, 0, 590, 1, QColor(0x4b, 0x53, 0x5e));
    QLinearGradient rule(0, 0, 590, 0);
    rule.setColorAt(0, kAccent);
    rule.setColorAt(0.45, QColor(kAccent.red(), kAccent.green(), kAccent.blue(), 90));
    rule.setColorAt(1, QColor(kAccent.red(), kAccent.green(), kAccent.blue(), 0));
    p.fillRect(0, 24, 590, 1, rule);

    drawEmblem(p, QRectF(7, 3.5, 17, 17), false);

    p.setFont(uiFont(12, true));
    p.setPen(kText);
    p.drawText(QRectF(31, 0, 300, 24), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Velth Control Center"));
    const int nameEnd = 31 + p.fontMetrics().horizontalAdvance(QStringLiteral("Velth Control Center"));
    p.setFont(uiFont(10, false));
    p.setPen(kTextDim);
    p.drawText(QRectF(nameEnd + 10, 0, 300, 24), Qt::AlignLeft | Qt::AlignVCenter,
        QStringLiteral("HLDS server administration over FTP"));
    p.end();
    return image;
}

QImage topBar()
{
    QImage image = blank(590, 22);
    QPainter p(&image);
    QLinearGradient g(0, 0, 0, 22);
    g.setColorAt(0, QColor(0x1a, 0x1d, 0x22));
    g.setColorAt(1, QColor(0x24, 0x29, 0x30));
    p.fillRect(image.rect(), g);
    p.end();
    fillNoise(image, 2, 11);
    p.begin(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // The caption plate: the window's own colour, open to the page below it,
    // with a slanted end; the page caption stands on it from (10, 5).
    QPainterPath plate;
    plate.moveTo(4, 22);
    plate.lineTo(4, 6);
    plate.quadTo(4, 3, 7, 3);
    plate.lineTo(236, 3);
    plate.lineTo(254, 22);
    plate.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 90));
    p.drawPath(plate.translated(1, -1));
    p.setBrush(kWindow);
    p.drawPath(plate);
    // An amber marker before the caption.
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(QRect(4, 3, 3, 19), kAccent);
    // Bottom line that meets the page area's edge.
    p.fillRect(QRect(0, 21, 4, 1), QColor(0x10, 0x12, 0x15));
    p.fillRect(QRect(255, 21, 335, 1), QColor(0x10, 0x12, 0x15));
    // A darker inset behind the links.
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath inset;
    inset.addRoundedRect(QRectF(355.5, 2.5, 231, 17), 4, 4);
    p.setPen(QPen(QColor(0x3a, 0x41, 0x4b), 1));
    p.setBrush(QColor(0x15, 0x18, 0x1c));
    p.drawPath(inset);
    p.end();
    return image;
}

// Top of each navigation button in the left bar's own coordinates.
const int kNavTops[] = { 27, 80, 133, 186, 239, 291, 344 };
// The Live button: a low one above them, where the bar's heading was.
const QRect kLiveButton(8, 3, 50, 20);

QImage leftBar()
{
    QImage image = blank(63, 425);
    QPainter p(&image);
    QLinearGradient g(0, 0, 63, 0);
    g.setColorAt(0, QColor(0x1f, 0x23, 0x29));
    g.setColorAt(1, QColor(0x19, 0x1c, 0x21));
    p.fillRect(image.rect(), g);
    p.end();
    fillNoise(image, 2, 23);
    p.begin(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // Sockets the buttons sit in.
    for (int top : kNavTops) {
        const QRectF socket(6.5, top - 1.5, 53, 53);
        p.setPen(QPen(QColor(0x2e, 0x33, 0x3a), 1));
        p.setBrush(QColor(0x13, 0x15, 0x19));
        p.drawRoundedRect(socket, 11, 11);
    }
    // The Live button's low socket, with an amber line under it that parts
    // it from the tools.
    p.setPen(QPen(QColor(0x2e, 0x33, 0x3a), 1));
    p.setBrush(QColor(0x13, 0x15, 0x19));
    p.drawRoundedRect(QRectF(kLiveButton).adjusted(-1.5, -1.5, 1.5, 0.5), 7, 7);
    // The edge toward the page area.
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(QRect(61, 0, 1, 425), QColor(0x2f, 0x35, 0x3d));
    p.fillRect(QRect(62, 0, 1, 425), QColor(0x0d, 0x0f, 0x12));
    p.end();
    return image;
}

QImage statusBar()
{
    QImage image = blank(590, 28);
    QPainter p(&image);
    QLinearGradient g(0, 0, 0, 28);
    g.setColorAt(0, QColor(0x2a, 0x2f, 0x37));
    g.setColorAt(1, QColor(0x17, 0x1a, 0x1f));
    p.fillRect(image.rect(), g);
    p.end();
    fillNoise(image, 2, 31);
    p.begin(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(QRect(0, 0, 590, 1), QColor(0x0d, 0x0f, 0x12));
    p.fillRect(QRect(0, 1, 590, 1), QColor(0x3d, 0x44, 0x4e));
    // A status lamp and the program's short name at the left; the status
    // text itself grows leftwards from x = 578.
    QRadialGradient lamp(QPointF(14, 14.5), 5);
    lamp.setColorAt(0, kAccentLit);
    lamp.setColorAt(0.6, kAccent);
    lamp.setColorAt(1, kAccentDeep);
    p.setPen(QPen(QColor(0x0d, 0x0f, 0x12), 1));
    p.setBrush(lamp);
    p.drawEllipse(QPointF(14, 14.5), 4.5, 4.5);
    p.setFont(uiFont(10, true));
    p.setPen(kTextDim);
    p.drawText(QRectF(25, 2, 120, 26), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("VCC 1.0"));
    p.end();
    return image;
}

// ---------------------------------------------------------------- logo and icons

QImage logo()
{
    QImage image = blank(208, 208);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // Soft shadow, then the emblem.
    QRadialGradient shadow(QPointF(104, 182), 80);
    shadow.setColorAt(0, QColor(0, 0, 0, 70));
    shadow.setColorAt(1, QColor(0, 0, 0, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(shadow);
    p.drawEllipse(QPointF(104, 188), 78, 14);
    drawEmblem(p, QRectF(30, 8, 148, 170), true);
    // The name across the bottom.
    p.setFont(uiFont(17, true));
    QPainterPath text;
    const QString name = QStringLiteral("CONTROL CENTER");
    const int w = QFontMetrics(p.font()).horizontalAdvance(name);
    text.addText((208 - w) / 2.0, 203, p.font(), name);
    p.setBrush(QColor(0x22, 0x26, 0x2d));
    p.drawPath(text);
    p.end();
    return image;
}

QImage trayIcon()
{
    QImage image = blank(16, 16);
    QPainter p(&image);
    drawEmblem(p, QRectF(0.5, 0.5, 15, 15), false);
    p.end();
    return image;
}

// Tab icons: 16 x 16 on the light tabs of the pages, dark outline, coloured fill.
QImage tabIcon(const std::function<void(QPainter&)>& draw)
{
    QImage image = blank(16, 16);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p);
    p.end();
    return image;
}

const QColor kOutline(0x2a, 0x2f, 0x37);

void bubble(QPainter& p, const QColor& fill, const QString& letter)
{
    QPainterPath b;
    b.addRoundedRect(QRectF(0.5, 1.5, 15, 10), 3, 3);
    QPainterPath tail;
    tail.moveTo(3.5, 10.5);
    tail.lineTo(3, 15);
    tail.lineTo(8, 11);
    tail.closeSubpath();
    b = b.united(tail);
    p.setPen(QPen(kOutline, 1));
    p.setBrush(fill);
    p.drawPath(b);
    if (letter.isEmpty()) {
        p.setPen(Qt::NoPen);
        p.setBrush(kOutline);
        for (int i = 0; i < 3; ++i)
            p.drawEllipse(QPointF(4.5 + i * 3.5, 6.5), 1, 1);
    } else {
        QFont f = uiFont(letter.size() > 1 ? 7 : 8, true);
        p.setFont(f);
        p.setPen(QColor(0xfe, 0xfe, 0xfe));
        p.drawText(QRectF(0.5, 1.5, 15, 10), Qt::AlignCenter, letter);
    }
}

void arrow(QPainter& p, bool down, const QColor& fill)
{
    QPainterPath a;
    if (down) {
        a.moveTo(6, 0.5);
        a.lineTo(10, 0.5);
        a.lineTo(10, 6);
        a.lineTo(13.5, 6);
        a.lineTo(8, 11.5);
        a.lineTo(2.5, 6);
        a.lineTo(6, 6);
    } else {
        a.moveTo(8, 0.5);
        a.lineTo(13.5, 6);
        a.lineTo(10, 6);
        a.lineTo(10, 11.5);
        a.lineTo(6, 11.5);
        a.lineTo(6, 6);
        a.lineTo(2.5, 6);
    }
    a.closeSubpath();
    p.setPen(QPen(kOutline, 1));
    p.setBrush(fill);
    p.drawPath(a);
    // The tray the file goes to or comes from.
    p.setPen(QPen(kOutline, 1.6));
    p.setBrush(Qt::NoBrush);
    QPainterPath tray;
    tray.moveTo(1.5, 11);
    tray.lineTo(1.5, 14.5);
    tray.lineTo(14.5, 14.5);
    tray.lineTo(14.5, 11);
    p.drawPath(tray);
}

void writeTabIcons()
{
    const QColor green(0x3f, 0xb9, 0x50);
    const QColor blue(0x3d, 0x8b, 0xfd);
    const QColor red(0xe5, 0x48, 0x4d);
    const QColor paper(0xf6, 0xf7, 0xf9);

    save(tabIcon([&](QPainter& p) { arrow(p, true, green); }), "tab0.png");
    save(tabIcon([&](QPainter& p) {
        QPainterPath f;
        f.moveTo(0.5, 3.5);
        f.lineTo(6, 3.5);
        f.lineTo(7.5, 5.5);
        f.lineTo(15.5, 5.5);
        f.lineTo(15.5, 14.5);
        f.lineTo(0.5, 14.5);
        f.closeSubpath();
        p.setPen(QPen(kOutline, 1));
        p.setBrush(kAccent);
        p.drawPath(f);
        p.setPen(Qt::NoPen);
        p.setBrush(kAccentLit);
        p.drawRect(QRectF(1.5, 7.5, 13, 6.5));
    }),
        "tab1.png");
    save(tabIcon([&](QPainter& p) {
        p.setPen(QPen(kOutline, 1));
        p.setBrush(blue);
        p.drawEllipse(QRectF(0.5, 0.5, 15, 15));
        p.setPen(QPen(QColor(0xfe, 0xfe, 0xfe), 1));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRectF(5, 1, 6, 14));
        p.drawLine(QPointF(1, 8), QPointF(15, 8));
        p.drawLine(QPointF(2.5, 4.5), QPointF(13.5, 4.5));
        p.drawLine(QPointF(2.5, 11.5), QPointF(13.5, 11.5));
    }),
        "tab2.png");
    save(tabIcon([&](QPainter& p) { bubble(p, paper, QString()); }), "tab3.png");
    save(tabIcon([&](QPainter& p) { bubble(p, red, QStringLiteral("T")); }), "tab4.png");
    save(tabIcon([&](QPainter& p) { bubble(p, blue, QStringLiteral("CT")); }), "tab5.png");
    save(tabIcon([&](QPainter& p) {
        // A pencil across a sheet.
        p.setPen(QPen(kOutline, 1));
        p.setBrush(paper);
        p.drawRect(QRectF(1.5, 0.5, 10, 14));
        p.setPen(QPen(QColor(0x9a, 0xa1, 0xab), 1));
        for (int y = 4; y <= 10; y += 3)
            p.drawLine(QPointF(3.5, y + 0.5), QPointF(9.5, y + 0.5));
        p.save();
        p.translate(11, 9);
        p.rotate(45);
        p.setPen(QPen(kOutline, 1));
        p.setBrush(kAccent);
        p.drawRect(QRectF(-1.8, -7, 3.6, 9));
        QPainterPath tip;
        tip.moveTo(-1.8, 2);
        tip.lineTo(1.8, 2);
        tip.lineTo(0, 5);
        tip.closeSubpath();
        p.setBrush(QColor(0xf0, 0xd9, 0xb5));
        p.drawPath(tip);
        p.restore();
    }),
        "tab6.png");
    save(tabIcon([&](QPainter& p) {
        p.setPen(QPen(kOutline, 1));
        p.setBrush(green);
        p.drawEllipse(QPointF(8, 4.5), 3.5, 3.5);
        QPainterPath body;
        body.moveTo(1.5, 15.5);
        body.cubicTo(1.5, 10, 4.5, 8.5, 8, 8.5);
        body.cubicTo(11.5, 8.5, 14.5, 10, 14.5, 15.5);
        body.closeSubpath();
        p.drawPath(body);
    }),
        "tab7.png");
    save(tabIcon([&](QPainter& p) {
        p.setPen(Qt::NoPen);
        p.setBrush(kAccentDeep);
        p.drawPath(arrowArc(QPointF(8, 8), 5.6, 110, 120, 2.4).united(arrowArc(QPointF(8, 8), 5.6, 290, 120, 2.4)));
    }),
        "tab8.png");
    save(tabIcon([&](QPainter& p) {
        p.setPen(QPen(kOutline, 1));
        p.setBrush(QColor(0x9a, 0xa1, 0xab));
        p.drawPath(gearPath(QPointF(8, 8), 7.5, 5.5, 2.3, 8));
    }),
        "tab9.png");
    save(tabIcon([&](QPainter& p) { arrow(p, false, blue); }), "tab10.png");
}

// A part of a picture, given in logical pixels.
QImage region(const QImage& image, const QRect& r)
{
    QImage part = image.copy(QRect(r.topLeft() * g_scale, r.size() * g_scale)).convertToFormat(QImage::Format_ARGB32);
    part.setDevicePixelRatio(1);
    return part;
}

void writeSkin()
{
    const QImage title = titleBar();
    const QImage left = leftBar();
    save(title, "titlebar.png");
    save(topBar(), "topbar.png");
    save(left, "leftbar.png");
    save(statusBar(), "statusbar.png");

    const ButtonColours amber{ kAccent, kAccentLit };
    const ButtonColours danger{ kDanger, kDangerLit };
    struct Nav
    {
        const char* file;
        QPainterPath (*glyph)();
        int top;
        const ButtonColours* colours;
    };
    const Nav navs[] = {
        { "btn_chat.png", chatGlyph, kNavTops[0], &amber },
        { "btn_cfg.png", cfgGlyph, kNavTops[1], &amber },
        { "btn_user.png", userGlyph, kNavTops[2], &amber },
        { "btn_mapcycle.png", mapcycleGlyph, kNavTops[3], &amber },
        { "btn_settings.png", settingsGlyph, kNavTops[4], &amber },
        { "btn_about.png", aboutGlyph, kNavTops[5], &amber },
        { "btn_exit.png", exitGlyph, kNavTops[6], &danger },
    };
    for (const Nav& nav : navs)
        save(navStrip(nav.glyph(), *nav.colours, region(left, QRect(8, nav.top, 50, 50))), nav.file);
    save(navStrip(liveGlyph(), amber, region(left, kLiveButton), kLiveButton.size(), QPointF(0, 0)), "btn_live.png");

    save(titleStrip(false, region(title, QRect(540, 3, 22, 22))), "title_hide.png");
    save(titleStrip(true, region(title, QRect(564, 3, 22, 22))), "title_exit.png");

    save(logo(), "logo.png");
    save(trayIcon(), "tray.png");
    writeTabIcons();
}

// ---------------------------------------------------------------- desktop icon

// The desktop icon: the emblem on a square canvas of `size` logical pixels,
// with its details from 48 pixels up.
void drawAppIcon(QPainter& p, int size)
{
    const qreal margin = size * 0.06;
    const qreal side = size - 2 * margin;
    // The emblem is taller than wide by the shield's point: keep it square.
    drawEmblem(p, QRectF(margin + side * 0.06, margin, side * 0.88, side * 0.88), size >= 48);
}

void writeAppIcons(const QString& iconFolder, const QString& iconName)
{
    g_scale = 1;
    for (int size : { 16, 22, 24, 32, 48, 64, 96, 128, 256 }) {
        const QString folder = iconFolder + QStringLiteral("/hicolor/%1x%1/apps").arg(size);
        QDir().mkpath(folder);
        QImage image = blank(size, size);
        QPainter p(&image);
        drawAppIcon(p, size);
        p.end();
        savePng(image, folder + QLatin1Char('/') + iconName + QStringLiteral(".png"));
    }
    const QString folder = iconFolder + QStringLiteral("/hicolor/scalable/apps");
    QDir().mkpath(folder);
    const QString path = folder + QLatin1Char('/') + iconName + QStringLiteral(".svg");
    QSvgGenerator svg;
    svg.setFileName(path);
    svg.setSize(QSize(256, 256));
    svg.setViewBox(QRect(0, 0, 256, 256));
    svg.setTitle(QStringLiteral("Velth Control Center"));
    QPainter p(&svg);
    drawAppIcon(p, 256);
    if (!p.end()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
    std::printf("%s\n", qPrintable(path));
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <skin folder> <icon folder>\n", argv[0]);
        return 2;
    }
    g_outDir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(g_outDir);
    for (int scale : { 1, 2 }) {
        g_scale = scale;
        writeSkin();
    }
    writeAppIcons(QString::fromLocal8Bit(argv[2]), QStringLiteral("org.velth.ControlCenter"));
    return 0;
}
