#include "common/ErrorReport.h"
#include "common/Error.h"
#include "common/Prompts.h"
#include "support/ScriptedPrompts.h"
#include "support/ShownText.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

using namespace velth;
using velth::test::ScriptedPrompts;

TEST(ErrorReport, AddsAPeriodOnlyAfterCharactersSortingAfterIt)
{
    EXPECT_EQ(errorReportText(QStringLiteral("Cannot open file x")), QStringLiteral("Cannot open file x."));
    EXPECT_EQ(errorReportText(QStringLiteral("530 Login incorrect.")), QStringLiteral("530 Login incorrect."));
    EXPECT_EQ(errorReportText(QStringLiteral("Connection failed!")), QStringLiteral("Connection failed!"));
    EXPECT_EQ(errorReportText(QStringLiteral("code (42)")), QStringLiteral("code (42)"));
    EXPECT_EQ(errorReportText(QStringLiteral("file /tmp/")), QStringLiteral("file /tmp/."));
    EXPECT_EQ(errorReportText(QStringLiteral("port 21")), QStringLiteral("port 21."));
    EXPECT_EQ(errorReportText(QString()), QString());
}

// Handlers throw; the guard turns that into the report, and the program goes
// on handling events. A widget's signal goes through guarded(), so the error
// never unwinds through Qt's widget event delivery (which would skip Qt's own
// clean-up there); other events meet the guard around every event.
TEST(ErrorReport, AnErrorFromAnyHandlerEndsInTheReport)
{
    ScriptedPrompts prompts;
    prompts.expectErrorReport(QStringLiteral("Cannot write file /x/users.ini: Permission denied."));
    prompts.expectErrorReport(QStringLiteral("Cannot write file /x/users.ini: Permission denied."));
    prompts.expectErrorReport(QStringLiteral("from a timer."));

    struct Handler
    {
        int clicks = 0;
        void click()
        {
            ++clicks;
            throw Error("Cannot write file /x/users.ini: Permission denied");
        }
    } handler;
    QPushButton button(QStringLiteral("go"));
    QObject::connect(&button, &QPushButton::clicked, guarded(&handler, &Handler::click));
    button.show();
    QTest::mouseClick(&button, Qt::LeftButton);
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(handler.clicks, 2);

    bool fired = false;
    QTimer::singleShot(0, [&] {
        fired = true;
        throw Error("from a timer");
    });
    QTRY_VERIFY(fired);
    prompts.verify();
    EXPECT_EQ(prompts.shown().size(), 3);
    EXPECT_EQ(prompts.shown().back(), QStringLiteral("error report: from a timer."));
}

// A server's reply is quoted in the report: it rendered as a heading, a
// picture from the local disk and a live link; a zero byte from a
// hand-edited file ended the message; a long reply made a box wider than the
// screen. Each row: the message, what the box shows, what Details holds.
TEST(ErrorReport, MessageBoxShowsAnyMessageAsPlainTextWithinTheScreen)
{
    const QString markup = QStringLiteral("550 <h1>x</h1><img src='/usr/share/pixmaps/debian-logo.png'>"
                                          "<a href='http://example.invalid/'>re-enter your password</a>.");
    const QString longWord = QString(3000, u'w');
    QString manyLines;
    for (int i = 0; i < 40; ++i)
        manyLines += QStringLiteral("550-line %1\n").arg(i);
    QString twelveLines;
    for (int i = 0; i < 12; ++i)
        twelveLines += QStringLiteral("550-line %1").arg(i) + (i < 11 ? QStringLiteral("\n") : QString());
    struct Row
    {
        QString message;
        QString shown;
        QString details;
    };
    const Row rows[] = {
        { markup, markup, QString() },
        { QStringLiteral("Could not resolve host: a") + QChar(0) + QStringLiteral("b."),
            QStringLiteral("Could not resolve host: a\u2400b."), QString() },
        { longWord, QString(400, u'w') + QChar(0x2026), longWord },
        { manyLines, twelveLines + QChar(0x2026), manyLines },
        // A character of two UTF-16 units is never split at the cut.
        { QString(399, u'a') + QStringLiteral("\U0001F600") + QStringLiteral("tail"),
            QString(399, u'a') + QChar(0x2026),
            QString(399, u'a') + QStringLiteral("\U0001F600") + QStringLiteral("tail") },
    };
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    for (const Row& row : rows) {
        const auto box = makeMessageBox(QMessageBox::Critical, row.message, QMessageBox::Ok, nullptr);
        const auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        ASSERT_NE(label, nullptr);
        // Long runs get invisible break chances; the characters are the same.
        EXPECT_EQ(test::shownText(label).remove(QChar(0x200B)), row.shown);
        EXPECT_EQ(box->detailedText(), row.details);
        box->show();
        QApplication::processEvents();
        EXPECT_LE(box->frameGeometry().width(), screen.width()) << row.shown.left(40).toStdString();
        EXPECT_LE(box->frameGeometry().height(), screen.height()) << row.shown.left(40).toStdString();
    }
}

// The message of velth::Error is whole even past a zero byte.
TEST(ErrorReport, ZeroByteDoesNotEndTheMessage)
{
    ScriptedPrompts prompts;
    prompts.expectErrorReport(QStringLiteral("after the zero"));
    runGuarded([] { throw Error(std::string("HOST a") + '\0' + "after the zero"); });
    prompts.verify();
}
