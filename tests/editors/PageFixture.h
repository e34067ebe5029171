#pragma once

#include "common/AppContext.h"
#include "common/ErrorReport.h"
#include "common/ProfileSelector.h"
#include "profiles/ProfileStore.h"
#include "support/RecordingStatus.h"
#include "support/ScriptedPrompts.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QListWidget>
#include <QStringList>
#include <QTest>

#include <filesystem>
#include <memory>

namespace velth::test {

inline QStringList itemTexts(const QListWidget* list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts.append(list->item(i)->text());
    return texts;
}

// A user's double click on a row: the first click selects it.
inline void doubleClick(QListWidget* list, int row)
{
    const QPoint at = list->visualItemRect(list->item(row)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

// A page on a temporary program folder with the profiles "alpha" and "beta"
// in its selector and their local server copy folders.
template <class Page>
class PageFixture : public ::testing::Test
{
protected:
    PageFixture()
    {
        std::filesystem::create_directories(folder.file("cfgs/alpha"));
        std::filesystem::create_directories(folder.file("cfgs/beta"));
        page = std::make_unique<Page>(context, nullptr);
        page->resize(522, 425);
        setProfileNames(page->FTPServer, { "alpha", "beta" });
    }

    // The user picking a profile in the page's selector.
    void pick(int index)
    {
        page->FTPServer->setCurrentIndex(index);
        runGuarded([&] { Q_EMIT page->FTPServer->activated(index); });
    }

    std::string local(const std::string& profile, const std::string& name) const
    {
        return "cfgs/" + profile + "/" + name;
    }

    ProgramFolder folder;
    ScriptedPrompts prompts;
    RecordingStatus status;
    ProfileStore store{ folder.path() + "/ftpserver.ini" };
    AppContext context{ folder.path(), store, prompts, status };
    std::unique_ptr<Page> page;
};

} // namespace velth::test
