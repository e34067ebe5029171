#pragma once

#include <QFrame>

class QLabel;

namespace velth {

// The About page: title, credits, logo and the makers' links.
class TaboutFrame final : public QFrame
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TaboutFrame)

public:
    explicit TaboutFrame(QWidget* parent = nullptr);

    // Puts the logo in the middle of the page's current size.
    void centreLogo();
    // Shows the folder the program keeps its files in, shortened in the middle
    // to the page's width (the whole path is the label's tooltip).
    void setProgramFolder(const QString& folder);

    QLabel* Label1 = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Logo = nullptr;
    QLabel* FolderLabel = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* projectVelthLink = nullptr;
    QLabel* VelthLink = nullptr;
    QLabel* Label10 = nullptr;

    void projectVelthLinkClick();
    void VelthLinkClick();
};

} // namespace velth
