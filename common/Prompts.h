#pragma once

#include <QString>

#include <optional>

class QWidget;

namespace velth {

// Every modal question or message of the program goes through this interface,
// so that tests can answer them from a script instead of blocking on a dialog.
class Prompts
{
public:
    virtual ~Prompts() = default;

    // A refusal: an error box with a fixed text and one OK button.
    virtual void errorBox(const QString& text) = 0;

    // A confirmation box with Yes and Cancel; true only for Yes.
    virtual bool confirm(const QString& question) = 0;

    // A modal text input; nothing when the user cancels.
    virtual std::optional<QString> inputText(const QString& caption, const QString& label, int maxLength) = 0;

    // A save-file dialog. filter in Qt form ("Chat Logs (*.rtf)"); the default
    // suffix is added when the typed name has none. Nothing when cancelled.
    // The real dialog asks before it hands out the name of an existing file.
    virtual std::optional<QString> saveFileName(
        const QString& filter, const QString& defaultSuffix, const QString& folder)
        = 0;

    // The general error report: an error box with the finished message.
    virtual void errorReport(const QString& message) = 0;
};

// The real dialogs.
class QtPrompts final : public Prompts
{
public:
    void errorBox(const QString& text) override;
    bool confirm(const QString& question) override;
    std::optional<QString> inputText(const QString& caption, const QString& label, int maxLength) override;
    std::optional<QString> saveFileName(
        const QString& filter, const QString& defaultSuffix, const QString& folder) override;
    void errorReport(const QString& message) override;
};

} // namespace velth
