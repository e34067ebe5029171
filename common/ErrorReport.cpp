#include "common/ErrorReport.h"

#include "common/Prompts.h"
#include "common/TextCodec.h"

#include <QDebug>

#include <exception>

namespace velth {
namespace {

Prompts* g_prompts = nullptr;

void report(const QString& message)
{
    const QString text = errorReportText(message);
    if (g_prompts)
        g_prompts->errorReport(text);
    else
        qWarning().noquote() << text;
}

} // namespace

QString errorReportText(const QString& message)
{
    if (!message.isEmpty() && message.back() > QChar(u'.'))
        return message + u'.';
    return message;
}

void setErrorReportPrompts(Prompts* prompts)
{
    g_prompts = prompts;
}

void runGuarded(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const std::exception& e) {
        report(toDisplay(e.what()));
    }
}

} // namespace velth
