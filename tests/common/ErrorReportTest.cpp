#include "common/ErrorReport.h"
#include "common/Error.h"
#include "support/ScriptedPrompts.h"

#include <gtest/gtest.h>

#include <QPushButton>
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
