#pragma once

#include "common/AppContext.h"

#include <QStringList>

#include <functional>

namespace velth::test {

// The status line as the pages see it, keeping every text it was given in order.
class RecordingStatus final : public StatusLine
{
public:
    void setStatus(const QString& text) override
    {
        history.append(text);
        if (onStatus)
            onStatus(text);
    }
    QString status() const override { return history.isEmpty() ? QString() : history.back(); }
    QStringList history;
    // Runs after each text is recorded: a test's way to act at a given step.
    std::function<void(const QString& text)> onStatus;
};

} // namespace velth::test
