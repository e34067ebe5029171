#include "common/Prompts.h"

#include "common/TextCodec.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace velth {
namespace {

void showError(const QString& text, QWidget* parent)
{
    makeMessageBox(QMessageBox::Critical, text, QMessageBox::Ok, parent)->exec();
}

} // namespace

QWidget* QtPrompts::dialogParent() const
{
    if (m_owner)
        return m_owner;
    return QApplication::activeWindow();
}

MessageBoxText messageBoxText(const QString& message)
{
    const QString visible = visibleText(message, true);
    MessageBoxText result;
    qsizetype end = std::min(visible.size(), MessageBoxText::kMaxChars);
    qsizetype lines = 1;
    for (qsizetype i = 0; i < end; ++i) {
        if (visible.at(i) == u'\n' && ++lines > MessageBoxText::kMaxLines) {
            end = i;
            break;
        }
    }
    if (end < visible.size() && end > 0 && visible.at(end - 1).isHighSurrogate())
        --end;
    // A run of characters with no place to break it (a path, a long token)
    // would make the box as wide as the screen and more: it gets a break
    // chance, a zero-width space, every kBreakEvery characters.
    constexpr int kBreakEvery = 60;
    int run = 0;
    for (qsizetype i = 0; i < end; ++i) {
        const QChar ch = visible.at(i);
        run = ch.isSpace() ? 0 : run + 1;
        result.shown += ch;
        if (run >= kBreakEvery && !ch.isHighSurrogate()) {
            result.shown += QChar(0x200B);
            run = 0;
        }
    }
    if (end < visible.size()) {
        result.shown += QChar(0x2026);
        result.details = visible;
    }
    return result;
}

std::unique_ptr<QMessageBox> makeMessageBox(
    QMessageBox::Icon icon, const QString& message, QMessageBox::StandardButtons buttons, QWidget* parent)
{
    const MessageBoxText text = messageBoxText(message);
    auto box = std::make_unique<QMessageBox>(icon, QApplication::applicationDisplayName(), QString(), buttons, parent);
    box->setTextFormat(Qt::PlainText);
    box->setText(text.shown);
    if (!text.details.isEmpty())
        box->setDetailedText(text.details);
    return box;
}

void QtPrompts::errorBox(const QString& text)
{
    showError(text, dialogParent());
}

void QtPrompts::errorReport(const QString& message)
{
    showError(message, dialogParent());
}

bool QtPrompts::confirm(const QString& question)
{
    const auto box
        = makeMessageBox(QMessageBox::Question, question, QMessageBox::Yes | QMessageBox::Cancel, dialogParent());
    box->setDefaultButton(QMessageBox::Yes);
    return box->exec() == QMessageBox::Yes;
}

std::optional<QString> QtPrompts::inputText(const QString& caption, const QString& label, int maxLength)
{
    QDialog dialog(dialogParent());
    dialog.setWindowTitle(caption);
    auto* layout = new QVBoxLayout(&dialog);
    auto* prompt = new QLabel(label, &dialog);
    prompt->setTextFormat(Qt::PlainText);
    layout->addWidget(prompt);
    auto* edit = new QLineEdit(&dialog);
    edit->setMaxLength(maxLength);
    layout->addWidget(edit);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    dialog.setMinimumWidth(300);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return edit->text();
}

std::optional<QString> QtPrompts::saveFileName(
    const QString& filter, const QString& defaultSuffix, const QString& folder)
{
    QFileDialog dialog(dialogParent(), QString(), folder, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(defaultSuffix);
    // Replacing a file the user may not have meant to lose is asked first.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

} // namespace velth
