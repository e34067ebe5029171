#include "editors/MapcycleFrame.h"

#include "common/AppContext.h"
#include "common/ErrorReport.h"
#include "common/ProfileSelector.h"
#include "common/Prompts.h"
#include "common/TextCodec.h"
#include "editors/MapcycleFile.h"
#include "net/FtpClient.h"
#include "net/TransferProcedure.h"
#include "skin/PageTabs.h"

#include <QAction>
#include <QComboBox>
#include <QEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace velth {
namespace {

constexpr int kEntryHeight = 15;
constexpr int kBarHeight = 30;
// The bar's controls keep their distance to the bar's right edge; their
// places are given for a bar of this width.
constexpr int kBarDesignWidth = 514;

// The bytes an entry stands for: its own when it came from a file, else the
// typed-text form of what it shows.
std::string entryBytes(const QListWidgetItem* item)
{
    const QVariant data = item->data(Qt::UserRole);
    return data.isValid() ? itemDataToBytes(data) : fromDisplay(item->text());
}

QListWidgetItem* selectedItem(const QListWidget* list)
{
    QListWidgetItem* item = list->currentItem();
    return (item && item->isSelected()) ? item : nullptr;
}

class FixedHeightDelegate final : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        return { QStyledItemDelegate::sizeHint(option, index).width(), kEntryHeight };
    }
};

} // namespace

TmapcycleFrame::TmapcycleFrame(AppContext& context, QWidget* parent)
    : QFrame(parent)
    , m_context(context)
    , m_client(new FtpClient(this))
{
    MainControl = addPageTabs(this);
    buildTab();
}

TmapcycleFrame::~TmapcycleFrame() = default;

void TmapcycleFrame::buildTab()
{
    MapCycleTab = new QWidget;
    MapCycleTab->setObjectName(QStringLiteral("MapCycleTab"));
    MainControl->addTab(MapCycleTab, tabIcon(8), QStringLiteral("Mapcycle"));

    auto* column = new QVBoxLayout(MapCycleTab);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* row = new QHBoxLayout;
    row->setSpacing(0);
    column->addLayout(row, 1);

    MapListPanel = new QFrame(MapCycleTab);
    MapListPanel->setObjectName(QStringLiteral("MapListPanel"));
    MapListPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    MapListPanel->setFixedWidth(116);
    auto* panelLayout = new QVBoxLayout(MapListPanel);
    panelLayout->setContentsMargins(1, 1, 1, 1);
    MapList = new QListWidget(MapListPanel);
    MapList->setObjectName(QStringLiteral("MapList"));
    MapList->setSelectionMode(QAbstractItemView::SingleSelection);
    MapList->setToolTip(QStringLiteral("Double click to add map to cycle"));
    MapList->viewport()->installEventFilter(this);
    panelLayout->addWidget(MapList);
    row->addWidget(MapListPanel);

    Maps = new QListWidget(MapCycleTab);
    Maps->setObjectName(QStringLiteral("Maps"));
    Maps->setSelectionMode(QAbstractItemView::SingleSelection);
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPixelSize(12);
    Maps->setFont(fixed);
    Maps->setItemDelegate(new FixedHeightDelegate(Maps));
    Maps->setUniformItemSizes(true);
    Maps->setToolTip(
        QStringLiteral("Double click to remove map from cycle / Click right mousebutton for more options"));
    Maps->viewport()->installEventFilter(this);
    Addcustommap1 = new QAction(QStringLiteral("Add custom map ..."), Maps);
    Addcustommap1->setObjectName(QStringLiteral("Addcustommap1"));
    Maps->addAction(Addcustommap1);
    Maps->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(Addcustommap1, &QAction::triggered, this, guarded(this, &TmapcycleFrame::Addcustommap1Click));
    row->addWidget(Maps, 1);

    BottomBar = new QFrame(MapCycleTab);
    BottomBar->setObjectName(QStringLiteral("BottomBar"));
    BottomBar->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    BottomBar->setFixedHeight(kBarHeight);
    BottomBar->installEventFilter(this);
    column->addWidget(BottomBar);

    FTPServerLabel = new QLabel(QStringLiteral("Select FTP Server"), BottomBar);
    FTPServerLabel->setObjectName(QStringLiteral("FTPServerLabel"));
    FTPServerLabel->adjustSize();
    FTPServer = new QComboBox(BottomBar);
    FTPServer->setObjectName(QStringLiteral("FTPServer"));
    connect(FTPServer, &QComboBox::activated, this, guarded(this, &TmapcycleFrame::FTPServerClick));
    BUpload = new QPushButton(QStringLiteral("Upload"), BottomBar);
    BUpload->setObjectName(QStringLiteral("BUpload"));
    connect(BUpload, &QPushButton::clicked, this, guarded(this, &TmapcycleFrame::BUploadClick));
    BDownload = new QPushButton(QStringLiteral("Download"), BottomBar);
    BDownload->setObjectName(QStringLiteral("BDownload"));
    connect(BDownload, &QPushButton::clicked, this, guarded(this, &TmapcycleFrame::BDownloadClick));
    placeBottomBar();
}

void TmapcycleFrame::placeBottomBar()
{
    const int shift = BottomBar->width() - kBarDesignWidth;
    // The label ends before the selector whatever width the font gives it.
    FTPServerLabel->move(std::min(99, 190 - 4 - FTPServerLabel->width()) + shift, 9);
    FTPServer->setGeometry(190 + shift, 5, 145, 21);
    BUpload->setGeometry(341 + shift, 5, 75, 21);
    BDownload->setGeometry(421 + shift, 5, 75, 21);
}

bool TmapcycleFrame::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == BottomBar && event->type() == QEvent::Resize)
        placeBottomBar();
    else if (event->type() == QEvent::MouseButtonDblClick) {
        if (watched == MapList->viewport())
            BAddClick();
        else if (watched == Maps->viewport())
            BRemoveClick();
    }
    return QFrame::eventFilter(watched, event);
}

std::vector<std::string> TmapcycleFrame::cycleEntries() const
{
    std::vector<std::string> entries;
    entries.reserve(static_cast<std::size_t>(Maps->count()));
    for (int i = 0; i < Maps->count(); ++i)
        entries.push_back(entryBytes(Maps->item(i)));
    return entries;
}

void TmapcycleFrame::appendEntry(const QString& text, const std::string& bytes)
{
    auto* item = new QListWidgetItem(text, Maps);
    item->setData(Qt::UserRole, bytesToItemData(bytes));
}

bool TmapcycleFrame::holdsEntry(const QString& text) const
{
    for (int i = 0; i < Maps->count(); ++i) {
        if (Maps->item(i)->text().compare(text, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

void TmapcycleFrame::loadLocalCopy(const std::string& profile)
{
    Maps->clear();
    for (const std::string& entry : loadMapcycleFile(m_context.localCopy(profile, "mapcycle.txt")))
        appendEntry(toDisplay(entry), entry);
}

void TmapcycleFrame::FTPServerClick()
{
    if (const auto profile = currentProfile(FTPServer))
        loadLocalCopy(*profile);
}

void TmapcycleFrame::BAddClick()
{
    const QListWidgetItem* map = selectedItem(MapList);
    if (!map) {
        m_context.prompts().errorBox(QStringLiteral("Please select a map!"));
        return;
    }
    if (!requireProfile(m_context.prompts(), FTPServer))
        return;
    if (!holdsEntry(map->text()))
        appendEntry(map->text(), entryBytes(map));
}

void TmapcycleFrame::BRemoveClick()
{
    QListWidgetItem* entry = selectedItem(Maps);
    if (!entry) {
        m_context.prompts().errorBox(QStringLiteral("Please select a map!"));
        return;
    }
    delete entry;
}

void TmapcycleFrame::Addcustommap1Click()
{
    const auto typed = m_context.prompts().inputText(QStringLiteral("Add custom map"), QStringLiteral("Mapname"), 255);
    if (!typed)
        return;
    const QString name = typed->toLower();
    if (!holdsEntry(name))
        appendEntry(name, fromDisplay(name));
}

void TmapcycleFrame::BUploadClick()
{
    TransferVariant variant;
    variant.checks = [this] { return requireProfile(m_context.prompts(), FTPServer).has_value(); };
    variant.prepare = [this](const std::string& profile) {
        saveMapcycleFile(m_context.localCopy(profile, "mapcycle.txt"), cycleEntries());
    };
    variant.progressText = QStringLiteral("Uploading mapcycle.");
    variant.transfer = [this](FtpClient& client, const std::string& profile, FtpClient::Done done) {
        client.store(m_context.localCopy(profile, "mapcycle.txt"), "mapcycle.txt", std::move(done));
    };
    variant.finalText = QStringLiteral("Finished.");
    runTransfer(m_context, *m_client, FTPServer, std::move(variant));
}

void TmapcycleFrame::BDownloadClick()
{
    TransferVariant variant;
    variant.checks = [this] { return requireProfile(m_context.prompts(), FTPServer).has_value(); };
    variant.progressText = QStringLiteral("Downloading mapcycle.");
    variant.transfer = [this](FtpClient& client, const std::string& profile, FtpClient::Done done) {
        client.retrieve("mapcycle.txt", m_context.localCopy(profile, "mapcycle.txt"), std::move(done));
    };
    variant.finalText = QStringLiteral("Finished.");
    variant.after = [this](const std::string& profile) {
        // Only while the list belongs to that profile: a profile picked during
        // the transfer has its own cycle on show, and the next upload must not
        // send one server's cycle to another.
        if (currentProfile(FTPServer) == profile)
            loadLocalCopy(profile);
    };
    runTransfer(m_context, *m_client, FTPServer, std::move(variant));
}

void TmapcycleFrame::setProfileNames(const std::vector<std::string>& names)
{
    velth::setProfileNames(FTPServer, names);
}

void TmapcycleFrame::setAvailableMaps(const std::vector<std::string>& maps)
{
    MapList->clear();
    for (const std::string& map : maps)
        MapList->addItem(toDisplay(map));
}

} // namespace velth
