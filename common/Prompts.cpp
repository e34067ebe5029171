#include "common/Prompts.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace velth {
namespace {

QWidget* dialogParent()
{
    return QApplication::activeWindow();
}

void showError(const QString& text)
{
    QMessageBox box(
        QMessageBox::Critical, QApplication::applicationDisplayName(), text, QMessageBox::Ok, dialogParent());
    box.exec();
}

} // namespace

void QtPrompts::errorBox(const QString& text)
{
    showError(text);
}

void QtPrompts::errorReport(const QString& message)
{
    showError(message);
}

bool QtPrompts::confirm(const QString& question)
{
    QMessageBox box(QMessageBox::Question, QApplication::applicationDisplayName(), question,
        QMessageBox::Yes | QMessageBox::Cancel, dialogParent());
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

std::optional<QString> QtPrompts::inputText(const QString& caption, const QString& label, int maxLength)
{
    QDialog dialog(dialogParent());
    dialog.setWindowTitle(caption);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(label, &dialog));
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
