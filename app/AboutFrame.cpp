#include "app/AboutFrame.h"

#include "app/Links.h"
#include "skin/SkinPicture.h"

#include <QDesktopServices>
#include <QLabel>
#include <QMouseEvent>
#include <QUrl>
#include <QVBoxLayout>

namespace velth {

void links::open(const QString& address)
{
    QDesktopServices::openUrl(QUrl(address));
}

namespace {

constexpr auto kNavy = "#000080";

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, int points, bool bold, bool underline)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    QFont font = label->font();
    if (points > 0)
        font.setPointSize(points);
    font.setBold(bold);
    font.setUnderline(underline);
    label->setFont(font);
    label->setStyleSheet(QStringLiteral("color: %1;").arg(QLatin1String(kNavy)));
    return label;
}

// A label that runs an action on a left click.
class ClickLabel final : public QObject
{
public:
    ClickLabel(QLabel* label, std::function<void()> action)
        : QObject(label)
        , m_action(std::move(action))
    {
        label->installEventFilter(this);
        label->setCursor(Qt::PointingHandCursor);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::MouseButtonRelease
            && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            m_action();
            return true;
        }
        return false;
    }

private:
    std::function<void()> m_action;
};

} // namespace

TaboutFrame::TaboutFrame(QWidget* parent)
    : QFrame(parent)
{
    setObjectName(QStringLiteral("aboutFrame"));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Button));
    setPalette(pal);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(makeLabel(this, "Label5", QString(), 0, false, false));
    Label1 = makeLabel(this, "Label1", QStringLiteral("Velth Control Center v1.0"), 16, true, true);
    layout->addWidget(Label1);
    Label8 = makeLabel(this, "Label8", QStringLiteral(":: your servers, one window away ::"), 8, true, false);
    layout->addWidget(Label8);
    layout->addWidget(makeLabel(this, "Label4", QString(), 0, false, false));
    Label2 = makeLabel(this, "Label2", QStringLiteral("Code: the Velth Control Center team"), 10, true, false);
    layout->addWidget(Label2);
    Label3 = makeLabel(this, "Label3", QStringLiteral("Graphics and design: the Velth art crew"), 10, true, false);
    layout->addWidget(Label3);
    layout->addStretch(1);
    FolderLabel = makeLabel(this, "FolderLabel", QString(), 8, false, false);
    FolderLabel->setTextFormat(Qt::PlainText);
    FolderLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(FolderLabel);
    layout->addWidget(makeLabel(this, "Label9", QString(), 0, false, false));
    Label7 = makeLabel(this, "Label7", QStringLiteral("visit us:"), 8, true, false);
    layout->addWidget(Label7);
    projectVelthLink = makeLabel(this, "projectVelthLink", links::kProjectSite, 8, true, true);
    layout->addWidget(projectVelthLink);
    VelthLink = makeLabel(this, "VelthLink", links::kMakersSite, 8, true, true);
    layout->addWidget(VelthLink);
    Label10 = makeLabel(this, "Label10", QStringLiteral("irc: #velth and #vcc on QuakeNet"), 8, true, false);
    layout->addWidget(Label10);
    layout->addWidget(makeLabel(this, "Label6", QString(), 0, false, false));

    new ClickLabel(projectVelthLink, [this] { projectVelthLinkClick(); });
    new ClickLabel(VelthLink, [this] { VelthLinkClick(); });

    // The logo floats over the layout, placed by centreLogo().
    Logo = new QLabel(this);
    Logo->setObjectName(QStringLiteral("Logo"));
    Logo->setFixedSize(208, 208);
    Logo->setPixmap(skinPixmap(QStringLiteral("logo.png")));
}

void TaboutFrame::centreLogo()
{
    Logo->move(width() / 2 - Logo->width() / 2, height() / 2 - Logo->height() / 2);
}

void TaboutFrame::setProgramFolder(const QString& folder)
{
    const QString text = QStringLiteral("Your files are kept in: ") + folder;
    FolderLabel->setToolTip(folder);
    FolderLabel->setText(FolderLabel->fontMetrics().elidedText(text, Qt::ElideMiddle, width() - 10));
}

void TaboutFrame::projectVelthLinkClick()
{
    links::open(projectVelthLink->text());
}

void TaboutFrame::VelthLinkClick()
{
    links::open(VelthLink->text());
}

} // namespace velth
