#pragma once

#include "common/Prompts.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <optional>

namespace velth::test {

// Prompts answered from a script. Each prompt the program shows must match the
// next expected one (kind and text); anything else fails the running test.
// Answers left over when the object is destroyed or verified fail it too.
class ScriptedPrompts final : public Prompts
{
public:
    enum class Kind { ErrorBox, Confirm, Input, SaveFile, ErrorReport };

    ScriptedPrompts();
    ~ScriptedPrompts() override;

    ScriptedPrompts& expectErrorBox(const QString& text);
    ScriptedPrompts& expectConfirm(const QString& question, bool yes);
    ScriptedPrompts& expectInput(const QString& caption, std::optional<QString> answer);
    ScriptedPrompts& expectSaveFile(std::optional<QString> fileName);
    // The general error report. An empty text accepts any message; otherwise the
    // message must contain the text.
    ScriptedPrompts& expectErrorReport(const QString& contains = QString());

    // Fails the test if expected prompts were not shown; clears the script.
    void verify();

    // Everything shown so far, "kind: text", in order.
    const QStringList& shown() const { return m_shown; }
    // The last save dialog's arguments.
    QString lastFilter() const { return m_lastFilter; }
    QString lastDefaultSuffix() const { return m_lastSuffix; }
    int lastInputMaxLength() const { return m_lastMaxLength; }

    void errorBox(const QString& text) override;
    bool confirm(const QString& question) override;
    std::optional<QString> inputText(const QString& caption, const QString& label, int maxLength) override;
    std::optional<QString> saveFileName(
        const QString& filter, const QString& defaultSuffix, const QString& folder) override;
    void errorReport(const QString& message) override;

private:
    struct Step
    {
        Kind kind;
        QString text;
        bool yes = false;
        std::optional<QString> answer;
    };
    std::optional<Step> next(Kind kind, const QString& text);

    std::deque<Step> m_steps;
    QStringList m_shown;
    QString m_lastFilter;
    QString m_lastSuffix;
    int m_lastMaxLength = 0;
};

} // namespace velth::test
