#include "support/ScriptedPrompts.h"

#include "common/ErrorReport.h"

#include <gtest/gtest.h>

namespace velth::test {
namespace {

const char* kindName(ScriptedPrompts::Kind kind)
{
    switch (kind) {
    case ScriptedPrompts::Kind::ErrorBox:
        return "error box";
    case ScriptedPrompts::Kind::Confirm:
        return "confirmation";
    case ScriptedPrompts::Kind::Input:
        return "input";
    case ScriptedPrompts::Kind::SaveFile:
        return "save dialog";
    case ScriptedPrompts::Kind::ErrorReport:
        return "error report";
    }
    return "?";
}

} // namespace

ScriptedPrompts::ScriptedPrompts()
{
    setErrorReportPrompts(this);
}

ScriptedPrompts::~ScriptedPrompts()
{
    verify();
    setErrorReportPrompts(nullptr);
}

ScriptedPrompts& ScriptedPrompts::expectErrorBox(const QString& text)
{
    m_steps.push_back({ Kind::ErrorBox, text, false, std::nullopt });
    return *this;
}

ScriptedPrompts& ScriptedPrompts::expectConfirm(const QString& question, bool yes)
{
    m_steps.push_back({ Kind::Confirm, question, yes, std::nullopt });
    return *this;
}

ScriptedPrompts& ScriptedPrompts::expectInput(const QString& caption, std::optional<QString> answer)
{
    m_steps.push_back({ Kind::Input, caption, false, std::move(answer) });
    return *this;
}

ScriptedPrompts& ScriptedPrompts::expectSaveFile(std::optional<QString> fileName)
{
    m_steps.push_back({ Kind::SaveFile, QString(), false, std::move(fileName) });
    return *this;
}

ScriptedPrompts& ScriptedPrompts::expectErrorReport(const QString& contains)
{
    m_steps.push_back({ Kind::ErrorReport, contains, false, std::nullopt });
    return *this;
}

void ScriptedPrompts::verify()
{
    for (const Step& step : m_steps)
        ADD_FAILURE() << "expected " << kindName(step.kind) << " \"" << step.text.toStdString() << "\" was never shown";
    m_steps.clear();
}

std::optional<ScriptedPrompts::Step> ScriptedPrompts::next(Kind kind, const QString& text)
{
    m_shown << QString::fromLatin1(kindName(kind)) + QStringLiteral(": ") + text;
    if (m_steps.empty()) {
        ADD_FAILURE() << "unexpected " << kindName(kind) << ": \"" << text.toStdString() << "\"";
        return std::nullopt;
    }
    Step step = m_steps.front();
    m_steps.pop_front();
    if (step.kind != kind) {
        ADD_FAILURE() << "expected " << kindName(step.kind) << " \"" << step.text.toStdString() << "\", got "
                      << kindName(kind) << " \"" << text.toStdString() << "\"";
        return std::nullopt;
    }
    const bool matches = kind == Kind::ErrorReport ? text.contains(step.text)
        : kind == Kind::SaveFile                   ? true
                                                   : text == step.text;
    if (!matches) {
        ADD_FAILURE() << kindName(kind) << ": expected \"" << step.text.toStdString() << "\", got \""
                      << text.toStdString() << "\"";
    }
    return step;
}

void ScriptedPrompts::errorBox(const QString& text)
{
    next(Kind::ErrorBox, text);
}

bool ScriptedPrompts::confirm(const QString& question)
{
    const auto step = next(Kind::Confirm, question);
    return step && step->yes;
}

std::optional<QString> ScriptedPrompts::inputText(const QString& caption, const QString&, int maxLength)
{
    m_lastMaxLength = maxLength;
    const auto step = next(Kind::Input, caption);
    return step ? step->answer : std::nullopt;
}

std::optional<QString> ScriptedPrompts::saveFileName(
    const QString& filter, const QString& defaultSuffix, const QString&)
{
    m_lastFilter = filter;
    m_lastSuffix = defaultSuffix;
    const auto step = next(Kind::SaveFile, filter);
    return step ? step->answer : std::nullopt;
}

void ScriptedPrompts::errorReport(const QString& message)
{
    next(Kind::ErrorReport, message);
}

} // namespace velth::test
