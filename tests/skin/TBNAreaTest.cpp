#include "skin/TBNArea.h"

#include "app/MainForm.h"
#include "support/ScriptedPrompts.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QMenu>
#include <QPixmap>

#include <memory>

using namespace velth;
using Op = NotifyIconRequest::Operation;

namespace {

struct Seen
{
    Op operation;
    unsigned id;
    unsigned flags;
    QString tip;

    friend bool operator==(const Seen&, const Seen&) = default;
};

std::ostream& operator<<(std::ostream& out, const Seen& s)
{
    return out << "{op " << static_cast<int>(s.operation) << ", id " << s.id << ", flags " << s.flags << ", tip \""
               << s.tip.toStdString() << "\"}";
}

// Writes down every request instead of touching the desktop.
class RecordingArea final : public NotificationArea
{
public:
    explicit RecordingArea(std::vector<Seen>& log)
        : m_log(log)
    { }
    void request(const NotifyIconRequest& r) override { m_log.push_back({ r.operation, r.id, r.flags, r.tip }); }

private:
    std::vector<Seen>& m_log;
};

// Notes the menus it would show instead of opening them.
class MenuTray final : public TTBNArea
{
public:
    MenuTray(std::vector<Seen>& log)
        : TTBNArea(std::make_unique<RecordingArea>(log), nullptr)
    { }
    std::vector<QMenu*> shown;

protected:
    void showMenu(QMenu* menu) override { shown.push_back(menu); }
};

constexpr unsigned kAll = 7;

class TBNAreaTest : public ::testing::Test
{
protected:
    std::vector<Seen> log;
    std::unique_ptr<MenuTray> tray = std::make_unique<MenuTray>(log);
    std::vector<TChangeKind> changes;
    std::vector<TChangeKind> changing;

    void SetUp() override
    {
        QObject::connect(tray.get(), &TTBNArea::OnChange, [this](TChangeKind k) { changes.push_back(k); });
        tray->OnChanging = [this](TTBNArea&, TChangeKind k, bool&) { changing.push_back(k); };
    }
};

TEST_F(TBNAreaTest, LoadingAddsOnceAndDestructionDeletes)
{
    tray->setTip(QStringLiteral("Velth Control Center v1.0"));
    tray->Loaded();
    EXPECT_EQ(log,
        (std::vector<Seen>{ { Op::Modify, 1, 4, QStringLiteral("Velth Control Center v1.0") },
            { Op::Add, 1, kAll, QStringLiteral("Velth Control Center v1.0") } }));
    log.clear();
    tray.reset();
    EXPECT_EQ(log, (std::vector<Seen>{ { Op::Delete, 1, kAll, QStringLiteral("Velth Control Center v1.0") } }));
}

TEST_F(TBNAreaTest, EnabledOffAndOnDeletesAndAddsOnlyOnChange)
{
    tray->Loaded();
    log.clear();
    tray->setEnabled(false);
    tray->setEnabled(false);
    tray->setEnabled(true);
    tray->setEnabled(true);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].operation, Op::Delete);
    EXPECT_EQ(log[1].operation, Op::Add);
    EXPECT_EQ(log[1].flags, kAll);

    // Disabled at destruction: nothing to remove.
    tray->setEnabled(false);
    log.clear();
    tray.reset();
    EXPECT_TRUE(log.empty());
}

TEST_F(TBNAreaTest, UnchangedTipOrIconSendsNothing)
{
    tray->setTip(QStringLiteral("tip"));
    const QIcon icon(QPixmap(16, 16));
    tray->setIcon(icon);
    log.clear();
    changes.clear();
    changing.clear();
    tray->setTip(QStringLiteral("tip"));
    tray->setIcon(tray->Icon());
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(changes.empty());
    EXPECT_TRUE(changing.empty());
}

TEST_F(TBNAreaTest, ChangesWhileEnabledAreSentAndAnnounced)
{
    tray->setIcon(QIcon(QPixmap(16, 16)));
    tray->setTip(QStringLiteral("new tip"));
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].operation, Op::Modify);
    EXPECT_EQ(log[0].flags, 2u);
    EXPECT_EQ(log[1].flags, 4u);
    EXPECT_EQ(changing, (std::vector<TChangeKind>{ TChangeKind::ckIcon, TChangeKind::ckTip }));
    EXPECT_EQ(changes, (std::vector<TChangeKind>{ TChangeKind::ckIcon, TChangeKind::ckTip }));
}

TEST_F(TBNAreaTest, ChangesWhileDisabledChangeTheValueOnly)
{
    tray->setEnabled(false);
    log.clear();
    tray->setTip(QStringLiteral("quiet"));
    tray->setIcon(QIcon(QPixmap(16, 16)));
    EXPECT_EQ(tray->Tip(), QStringLiteral("quiet"));
    EXPECT_FALSE(tray->Icon().isNull());
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(changes.empty());
    EXPECT_EQ(changing.size(), 2u);
    // Enabled again, the add request carries the new tip.
    tray->setEnabled(true);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].tip, QStringLiteral("quiet"));
}

TEST_F(TBNAreaTest, OnChangingCanRefuse)
{
    tray->setTip(QStringLiteral("kept"));
    log.clear();
    changes.clear();
    tray->OnChanging = [](TTBNArea&, TChangeKind, bool& allow) { allow = false; };
    tray->setTip(QStringLiteral("refused"));
    tray->setIcon(QIcon(QPixmap(16, 16)));
    EXPECT_EQ(tray->Tip(), QStringLiteral("kept"));
    EXPECT_TRUE(tray->Icon().isNull());
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(changes.empty());
}

TEST_F(TBNAreaTest, TipIsCutTo63Characters)
{
    tray->setTip(QString(80, QLatin1Char('x')));
    EXPECT_EQ(tray->Tip(), QString(63, QLatin1Char('x')));
    log.clear();
    tray->setTip(QString(70, QLatin1Char('x')));
    EXPECT_TRUE(log.empty()) << "the same tip once cut";
}

TEST_F(TBNAreaTest, PointerActionsAndMenus)
{
    int left = 0;
    int right = 0;
    int dbl = 0;
    QObject::connect(tray.get(), &TTBNArea::OnLeftClick, [&] { ++left; });
    QObject::connect(tray.get(), &TTBNArea::OnRightClick, [&] { ++right; });
    QObject::connect(tray.get(), &TTBNArea::OnDblClick, [&] { ++dbl; });

    // A left double click: the first press is a left click, the second a double click.
    tray->LeftClick();
    tray->DblClick();
    tray->RightClick();
    EXPECT_EQ(std::tie(left, right, dbl), std::make_tuple(1, 1, 1));

    auto menuL = std::make_unique<QMenu>();
    auto menuR = std::make_unique<QMenu>();
    tray->setPopupMenuL(menuL.get());
    tray->RightClick();
    EXPECT_EQ(right, 2) << "without PopupOnBoth the left menu is not for the right button";
    tray->setPopupOnBoth(true);
    tray->setPopupMenuR(menuR.get());
    tray->RightClick();
    tray->LeftClick();
    tray->DblClick();
    EXPECT_EQ(tray->shown, (std::vector<QMenu*>{ menuL.get(), menuL.get() }));
    tray->setPopupOnBoth(false);
    tray->RightClick();
    EXPECT_EQ(tray->shown.back(), menuR.get());
    EXPECT_EQ(std::tie(left, right, dbl), std::make_tuple(1, 2, 2));

    // A destroyed menu leaves no dangling reference behind.
    menuL.reset();
    EXPECT_EQ(tray->PopupMenuL(), nullptr);
    tray->LeftClick();
    EXPECT_EQ(left, 2);
}

TEST(TBNAreaMainWindow, TheMainWindowsIconIsAddedOnceAndRemovedAtTheEnd)
{
    std::vector<Seen> log;
    TTBNArea::setAreaFactory([&log](TTBNArea&) { return std::make_unique<RecordingArea>(log); });
    {
        test::ProgramFolder folder;
        test::ScriptedPrompts prompts;
        TMainForm window(folder.path(), prompts);
        TTBNArea::setAreaFactory({});
        EXPECT_EQ(log,
            (std::vector<Seen>{ { Op::Modify, 1, 4, QStringLiteral("Velth Control Center v1.0") },
                { Op::Add, 1, kAll, QStringLiteral("Velth Control Center v1.0") } }));
        EXPECT_FALSE(window.TBNArea1->Icon().isNull());
        log.clear();
    }
    EXPECT_EQ(log, (std::vector<Seen>{ { Op::Delete, 1, kAll, QStringLiteral("Velth Control Center v1.0") } }));
}

} // namespace
