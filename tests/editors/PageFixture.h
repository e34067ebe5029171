#pragma once

#include "app/AppContext.h"
#include "app/ErrorReport.h"
#include "app/ProfileSelector.h"
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

// The status line as the pages see it, with every text it was given.
class RecordingStatus final : public StatusLine
{
public:
    void setStatus(const QString& text) override
    {
        m_text = text;
        m_history.append(text);
    }
    QString status() const override { return m_text; }
    const QStringList& history() const { return m_history; }

private:
    QString m_text;
    QStringList m_history;
};

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
    AppContext context{ folder.path(), prompts, status };
    std::unique_ptr<Page> page;
};

} // namespace velth::test
