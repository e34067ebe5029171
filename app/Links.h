#pragma once

#include <QString>

namespace velth::links {

// Addresses opened by the links of the main window and the About page.
inline const QString kProjectBase = QStringLiteral("https://vcc.velth.org/");
inline const QString kHomePage = kProjectBase + QStringLiteral("index.html");
inline const QString kUpdatesPage = kProjectBase + QStringLiteral("updates.html");
inline const QString kHelpPage = kProjectBase + QStringLiteral("help.html");
inline const QString kFeedbackMail = QStringLiteral("mailto:feedback@velth.org");
inline const QString kProjectSite = QStringLiteral("https://vcc.velth.org");
inline const QString kMakersSite = QStringLiteral("https://www.velth.org");

// Hands an address to the desktop's default handler; failure is silent.
void open(const QString& address);

} // namespace velth::links
