#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>
#include <optional>

class QWidget;

namespace velth {

// What a message box shows of a message: the text as plain text with its
// control characters made visible, cut to a few hundred characters and a few
// lines, with a zero-width space as a break chance in every long run without
// one; when anything was cut, details holds the whole (visible) text.
struct MessageBoxText
{
    QString shown;
    QString details;

    static constexpr qsizetype kMaxChars = 400;
    static constexpr qsizetype kMaxLines = 12;
};
MessageBoxText messageBoxText(const QString& message);

// The program's message box for a message that may quote a server or a file:
// plain text whatever it holds (markup stays text, a link is no link), never
// wider or taller than the screen, the whole text under Details when cut.
std::unique_ptr<QMessageBox> makeMessageBox(
    QMessageBox::Icon icon, const QString& message, QMessageBox::StandardButtons buttons, QWidget* parent);

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

// The real dialogs. They belong to the owner window (the main window), also
// while it is hidden or minimised, so that closing one never counts as closing
// the program's last window.
class QtPrompts final : public Prompts
{
public:
    void setOwner(QWidget* owner) { m_owner = owner; }

    void errorBox(const QString& text) override;
    bool confirm(const QString& question) override;
    std::optional<QString> inputText(const QString& caption, const QString& label, int maxLength) override;
    std::optional<QString> saveFileName(
        const QString& filter, const QString& defaultSuffix, const QString& folder) override;
    void errorReport(const QString& message) override;

private:
    QWidget* dialogParent() const;

    QPointer<QWidget> m_owner;
};

} // namespace velth
