#pragma once

#include <QLabel>
#include <QString>
#include <QTextDocument>

namespace velth::test {

// What a label puts on the screen: its text when Qt shows it as plain text;
// text that Qt would render as markup comes back marked, so that comparing
// it with the literal text fails.
inline QString shownText(const QLabel* label)
{
    const Qt::TextFormat format = label->textFormat();
    if (format == Qt::PlainText || (format == Qt::AutoText && !Qt::mightBeRichText(label->text())))
        return label->text();
    return QStringLiteral("(rendered as markup) ") + label->text();
}

} // namespace velth::test
