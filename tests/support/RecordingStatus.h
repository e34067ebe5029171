#pragma once

#include "common/AppContext.h"

#include <QStringList>

namespace velth::test {

// The status line as the pages see it, keeping every text it was given in order.
class RecordingStatus final : public StatusLine
{
public:
    void setStatus(const QString& text) override { history.append(text); }
    QString status() const override { return history.isEmpty() ? QString() : history.back(); }
    QStringList history;
};

} // namespace velth::test
