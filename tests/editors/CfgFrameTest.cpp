#include "editors/CfgFrame.h"
#include "editors/GroupUpload.h"

#include "PageFixture.h"
#include "common/ErrorReport.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

namespace velth {
namespace {

using test::itemTexts;

const QString kSelectServer = QStringLiteral("Please select a FTP Server!");
const QString kSelectConfig = QStringLiteral("Please select a config file!");
const QString kSaved = QStringLiteral("Config file successfully saved.");

class CfgFrameTest : public test::PageFixture<TcfgFrame>
{
protected:
    CfgFrameTest()
    {
        folder.write(local("alpha", "a.cfg"), "one\r\ntwo\nthree\rfour");
        folder.write(local("alpha", "Server.CFG"), "composed");
        folder.write(local("alpha", "b.CFG"), "b");
        context.store().writeString("alpha", "rconpass", "r1");
        context.store().writeString("alpha", "serverpass", "s1");
        context.store().writeString("beta", "rconpass", "r2");
    }

    void edit(int row)
    {
        page->ConfigList->setCurrentRow(row);
        runGuarded([&] { page->BEditConfigClick(); });
    }

    QString path(const std::string& profile, const std::string& name) const
    {
        return QString::fromStdString(folder.file(local(profile, name)));
    }
};

TEST_F(CfgFrameTest, StartsOnTheUploadTabWithNothingPicked)
{
    EXPECT_EQ(page->MainControl->currentWidget(), page->UploadTab);
    EXPECT_EQ(page->MainControl->tabText(0), QStringLiteral("Upload"));
    EXPECT_EQ(page->MainControl->tabText(1), QStringLiteral("Edit"));
    EXPECT_EQ(page->ConfigList->count(), 0);
    EXPECT_TRUE(page->ConfigBox->title().isEmpty());
    EXPECT_EQ(page->Config->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_FALSE(page->Config->tabChangesFocus());
    EXPECT_EQ(page->Config->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(page->Config->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
}

TEST_F(CfgFrameTest, PickingAProfileListsItsConfigsAndPasswords)
{
    page->rcon_password->setText(QStringLiteral("typed"));
    pick(0);
    EXPECT_EQ(itemTexts(page->ConfigList), (QStringList{ QStringLiteral("a.cfg"), QStringLiteral("b.CFG") }));
    EXPECT_EQ(page->rcon_password->text(), QStringLiteral("r1"));
    EXPECT_EQ(page->sv_password->text(), QStringLiteral("s1"));

    // Another profile replaces both edits, a missing key with an empty text.
    pick(1);
    EXPECT_EQ(page->ConfigList->count(), 0);
    EXPECT_EQ(page->rcon_password->text(), QStringLiteral("r2"));
    EXPECT_EQ(page->sv_password->text(), QString());

    // A missing folder lists nothing and says nothing.
    std::filesystem::remove_all(folder.file("cfgs/beta"));
    pick(1);
    EXPECT_EQ(page->ConfigList->count(), 0);
}

TEST_F(CfgFrameTest, RefusalsWithoutProfileOrSelection)
{
    prompts.expectErrorBox(kSelectServer).expectErrorBox(kSelectServer);
    runGuarded([&] { page->FTPServerChange(); });
    runGuarded([&] { page->BEditConfigClick(); });
    prompts.verify();

    pick(0);
    prompts.expectErrorBox(kSelectConfig);
    runGuarded([&] { page->BEditConfigClick(); });
    prompts.verify();
    EXPECT_EQ(page->MainControl->currentWidget(), page->UploadTab);
}

TEST_F(CfgFrameTest, DoubleClickLoadsTheConfigIntoTheEditor)
{
    pick(0);
    page->show();
    test::doubleClick(page->ConfigList, 0);
    EXPECT_EQ(page->MainControl->currentWidget(), page->cfgTab);
    EXPECT_EQ(page->ConfigBox->title(), path("alpha", "a.cfg"));
    EXPECT_EQ(page->Config->toPlainText(), QStringLiteral("one\ntwo\nthree\nfour"));
}

TEST_F(CfgFrameTest, UnreadableConfigIsReportedAfterTheTabSwitch)
{
    pick(0);
    page->Config->setPlainText(QStringLiteral("kept"));
    std::filesystem::remove(folder.file(local("alpha", "a.cfg")));
    prompts.expectErrorReport(QStringLiteral("a.cfg"));
    edit(0);
    prompts.verify();
    EXPECT_EQ(page->MainControl->currentWidget(), page->cfgTab);
    EXPECT_EQ(page->ConfigBox->title(), path("alpha", "a.cfg"));
    EXPECT_EQ(page->Config->toPlainText(), QStringLiteral("kept"));
}

// Every byte but the line ends must come back from load and save unchanged,
// in a file that is not UTF-8 and in one that is.
TEST_F(CfgFrameTest, LoadAndSaveKeepEveryByte)
{
    std::string legacy;
    for (int b = 0; b < 256; ++b) {
        if (b != '\r' && b != '\n')
            legacy.push_back(static_cast<char>(b));
        if (b % 32 == 31)
            legacy += "\r\n";
    }
    const std::string utf8 = "hostname \"Caf\xc3\xa9 \xe2\x82\xac\"\r\n\tsv_gravity 800";
    for (const std::string& bytes : { legacy, utf8 }) {
        folder.write(local("alpha", "a.cfg"), bytes);
        pick(0);
        edit(0);
        prompts.expectSaveFile(path("alpha", "a.cfg"));
        runGuarded([&] { page->Saveconfig1Click(); });
        prompts.verify();
        EXPECT_EQ(folder.read(local("alpha", "a.cfg")), bytes);
    }
}

TEST_F(CfgFrameTest, SaveWritesCrLfAndReselectsTheConfig)
{
    pick(0);
    edit(0);
    page->Config->setPlainText(QStringLiteral("x\ny\n\nz"));
    prompts.expectSaveFile(path("alpha", "a.cfg"));
    runGuarded([&] { page->Saveconfig1Click(); });
    prompts.verify();
    EXPECT_EQ(prompts.lastFilter(), QStringLiteral("Config files (*.cfg)"));
    EXPECT_EQ(prompts.lastDefaultSuffix(), QStringLiteral("cfg"));
    EXPECT_EQ(folder.read(local("alpha", "a.cfg")), "x\r\ny\r\n\r\nz");
    EXPECT_EQ(status.status(), kSaved);
    EXPECT_EQ(page->ConfigList->currentRow(), 0);
    EXPECT_TRUE(page->ConfigList->item(0)->isSelected());
}

TEST_F(CfgFrameTest, SaveUnderANewNameWithoutSelection)
{
    pick(0);
    edit(1);
    page->ConfigList->clearSelection();
    page->ConfigList->setCurrentRow(-1);
    page->rcon_password->setText(QStringLiteral("unsaved"));
    prompts.expectSaveFile(path("alpha", "new.cfg"));
    runGuarded([&] { page->Saveconfig1Click(); });
    prompts.verify();
    EXPECT_EQ(folder.read(local("alpha", "new.cfg")), "b");
    EXPECT_EQ(itemTexts(page->ConfigList),
        (QStringList{ QStringLiteral("a.cfg"), QStringLiteral("b.CFG"), QStringLiteral("new.cfg") }));
    EXPECT_EQ(page->ConfigList->selectedItems().size(), 0);
    // The caption still names the loaded file; the refresh reread the passwords.
    EXPECT_EQ(page->ConfigBox->title(), path("alpha", "b.CFG"));
    EXPECT_EQ(page->rcon_password->text(), QStringLiteral("r1"));
}

TEST_F(CfgFrameTest, SaveCancelledOrFailedChangesNothing)
{
    pick(0);
    edit(0);
    page->Config->setPlainText(QStringLiteral("changed"));
    prompts.expectSaveFile(std::nullopt);
    runGuarded([&] { page->Saveconfig1Click(); });
    prompts.verify();
    EXPECT_EQ(folder.read(local("alpha", "a.cfg")), "one\r\ntwo\nthree\rfour");

    folder.write(local("alpha", "later.cfg"), "x");
    prompts.expectSaveFile(path("alpha", "missing/x.cfg")).expectErrorReport(QStringLiteral("x.cfg"));
    runGuarded([&] { page->Saveconfig1Click(); });
    prompts.verify();
    EXPECT_TRUE(status.history.isEmpty());
    EXPECT_EQ(page->ConfigList->count(), 2); // not refreshed
}

TEST_F(CfgFrameTest, SaveAndDeleteWithoutProfileActThenRefuseTheRefresh)
{
    page->Config->setPlainText(QStringLiteral("a\nb"));
    prompts.expectSaveFile(path("alpha", "c.cfg")).expectErrorBox(kSelectServer);
    runGuarded([&] { page->Saveconfig1Click(); });
    prompts.verify();
    EXPECT_EQ(folder.read(local("alpha", "c.cfg")), "a\r\nb");
    EXPECT_EQ(status.status(), kSaved);

    // Nothing loaded: the question names an empty path, and Yes deletes nothing.
    prompts.expectConfirm(QStringLiteral("Do you want to delete  ?"), true).expectErrorBox(kSelectServer);
    runGuarded([&] { page->Deleteconfig1Click(); });
    prompts.verify();
    EXPECT_TRUE(folder.exists(local("alpha", "c.cfg")));
}

TEST_F(CfgFrameTest, DeleteAsksForTheLoadedFile)
{
    pick(0);
    edit(0);
    const QString question = QStringLiteral("Do you want to delete ") + path("alpha", "a.cfg") + QStringLiteral(" ?");
    prompts.expectConfirm(question, false);
    runGuarded([&] { page->Deleteconfig1Click(); });
    prompts.verify();
    EXPECT_TRUE(folder.exists(local("alpha", "a.cfg")));

    prompts.expectConfirm(question, true);
    runGuarded([&] { page->Deleteconfig1Click(); });
    prompts.verify();
    EXPECT_FALSE(folder.exists(local("alpha", "a.cfg")));
    EXPECT_EQ(itemTexts(page->ConfigList), (QStringList{ QStringLiteral("b.CFG") }));
    EXPECT_EQ(page->ConfigBox->title(), path("alpha", "a.cfg"));
    EXPECT_EQ(page->Config->toPlainText(), QStringLiteral("one\ntwo\nthree\nfour"));

    // Deleting it again fails silently and refreshes.
    prompts.expectConfirm(question, true);
    runGuarded([&] { page->Deleteconfig1Click(); });
    prompts.verify();
}

// The upload to many servers: every refusal comes before anything is written
// or sent, and a No to the question changes nothing either.
TEST_F(CfgFrameTest, GroupUploadChecksComeFirst)
{
    page->setProfileNames({ "alpha", "beta" });
    ASSERT_EQ(test::itemTexts(page->GroupServers), (QStringList{ QStringLiteral("alpha"), QStringLiteral("beta") }));
    struct Case
    {
        const char* name;
        bool picked, selected, checked;
        QString refusal; // empty: the question, answered No
    };
    const Case cases[] = {
        { "no profile picked", false, false, true, kSelectServer },
        { "no config selected", true, false, true, kSelectConfig },
        { "no server checked", true, true, false, QStringLiteral("Please check the servers to upload the config to!") },
        { "answered no", true, true, true, {} },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        page->FTPServer->setCurrentIndex(-1);
        page->ConfigList->clear();
        if (c.picked)
            pick(0);
        if (c.selected)
            page->ConfigList->setCurrentRow(0);
        for (int i = 0; i < page->GroupServers->count(); ++i)
            page->GroupServers->item(i)->setCheckState(c.checked ? Qt::Checked : Qt::Unchecked);
        if (c.refusal.isEmpty())
            prompts.expectConfirm(QStringLiteral("Upload a.cfg as server.cfg to 2 servers, each with the passwords "
                                                 "of its own profile?"),
                false);
        else
            prompts.expectErrorBox(c.refusal);
        runGuarded([&] { page->BUploadManyClick(); });
        prompts.verify();
        EXPECT_FALSE(page->groupUpload().isRunning());
        EXPECT_EQ(page->GroupResults->topLevelItemCount(), 0);
    }
    prompts.expectErrorBox(QStringLiteral("No server has taken the config since it was last applied."));
    runGuarded([&] { page->BApplyManyClick(); });
    prompts.verify();
    EXPECT_TRUE(status.history.isEmpty());
    EXPECT_FALSE(folder.exists(local("alpha", "server.cfg")));
    EXPECT_FALSE(folder.exists(local("beta", "server.cfg")));
}

TEST_F(CfgFrameTest, UploadChecksComeFirst)
{
    pick(0);
    page->rcon_password->setText(QStringLiteral("r"));
    prompts.expectErrorBox(kSelectConfig);
    runGuarded([&] { page->BUploadClick(); });
    prompts.verify();

    page->ConfigList->setCurrentRow(0);
    page->rcon_password->clear();
    page->sv_password->setText(QStringLiteral("new"));
    prompts.expectErrorBox(QStringLiteral("Please enter a rcon password!"));
    runGuarded([&] { page->BUploadClick(); });
    prompts.verify();
    EXPECT_EQ(context.store().readString("alpha", "serverpass"), "s1");
    EXPECT_TRUE(status.history.isEmpty());
    EXPECT_FALSE(folder.exists(local("alpha", "server.cfg")));
}

} // namespace
} // namespace velth
