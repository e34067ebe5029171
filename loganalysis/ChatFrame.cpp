#include "loganalysis/ChatFrame.h"

#include "common/AppContext.h"
#include "common/Error.h"
#include "common/ErrorReport.h"
#include "common/FileIo.h"
#include "common/ProfileSelector.h"
#include "common/Prompts.h"
#include "common/TextCodec.h"
#include "loganalysis/ChatModel.h"
#include "loganalysis/ChatViews.h"
#include "loganalysis/ListingLine.h"
#include "loganalysis/LiveLog.h"
#include "loganalysis/LocalFileList.h"
#include "loganalysis/LogFetch.h"
#include "loganalysis/PlayerSearch.h"
#include "loganalysis/RtfWriter.h"
#include "net/FtpClient.h"
#include "net/TransferProcedure.h"
#include "profiles/ProfileStore.h"
#include "skin/PageTabs.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QProgressBar>
#include <QProxyStyle>
#include <QPushButton>
#include <QSplitter>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace velth {
namespace {

const QString kHint = QStringLiteral("Click right mousebutton for more options");
const QString kDisconnectFirst = QStringLiteral("You are connected to another FTP Server! Please disconnect first.");

// Columns of FTPFiles; the row keeps the name as the server sent it.
enum RemoteColumn { FileNameColumn = 0, DateColumn = 1, SizeColumn = 2 };
constexpr int kRemoteNameRole = Qt::UserRole;
constexpr int kRemoteSizeRole = Qt::UserRole + 1;

// The tab bar's look with less room around each caption.
class CompactTabStyle final : public QProxyStyle
{
public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override
    {
        if (metric == PM_TabBarTabHSpace)
            return QProxyStyle::pixelMetric(metric, option, widget) / 2;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

QPushButton* makeBarButton(const char* name, const QString& caption, QWidget* parent)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setFixedSize(75, 21);
    return button;
}

QMenu* makeMenu(const char* name, const char* itemName, const QString& caption, QWidget* parent, QAction*& item)
{
    auto* menu = new QMenu(parent);
    menu->setObjectName(QLatin1String(name));
    item = menu->addAction(caption);
    item->setObjectName(QLatin1String(itemName));
    return menu;
}

std::string localPath(const QString& path)
{
    const QByteArray bytes = QFile::encodeName(path);
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

} // namespace

TchatFrame::TchatFrame(AppContext& context, QWidget* parent)
    : QFrame(parent)
    , m_context(context)
{
    resize(520, 407);
    IdFTP1 = new FtpClient(this);
    IdFTP1->setObjectName(QStringLiteral("IdFTP1"));
    m_fetch = new LogFetch(context, this);
    connect(m_fetch, &LogFetch::rowChanged, this, &TchatFrame::showFetchRow);
    connect(m_fetch, &LogFetch::finished, this, &TchatFrame::fetchFinished);

    MainControl = addPageTabs(this);
    // Six tabs with their icons fit the page's width side by side.
    auto* tabStyle = new CompactTabStyle;
    tabStyle->setParent(MainControl->tabBar());
    MainControl->tabBar()->setStyle(tabStyle);
    MainControl->setIconSize(QSize(14, 14));

    buildDownloadTab();
    buildLocalFileTab();
    Views = new ChatViews(context, MainControl, this);
    Live = new LiveLog(context, FTPServer, Views, DownloadTab);
    // Above the server selector's bar.
    qobject_cast<QVBoxLayout*>(DownloadTab->layout())->insertWidget(2, Live);
    connect(FTPServer, &QComboBox::currentIndexChanged, Live, guarded(Live, &LiveLog::FTPServerChange));
    // The player search shares the Local Files tab with the list it searches.
    Search = new PlayerSearch(context, Views, MainControl, LocalFileTab);
    auto* localSplit = new QSplitter(Qt::Vertical, LocalFileTab);
    delete LocalFileTab->layout()->replaceWidget(LocalBox, localSplit);
    localSplit->addWidget(LocalBox);
    localSplit->addWidget(Search);
    localSplit->setSizes({ 120, 250 });

    PublicMenu = makeMenu("PublicMenu", "SaveChatas1", QStringLiteral("Save Chat as ..."), this, SaveChatas1);
    TMenu = makeMenu("TMenu", "MenuItem1", QStringLiteral("Save Chat as ..."), this, MenuItem1);
    CTMenu = makeMenu("CTMenu", "MenuItem2", QStringLiteral("Save Chat as ..."), this, MenuItem2);
    attachChatMenu(Views->PublicChat, PublicMenu);
    attachChatMenu(Views->TChat, TMenu);
    attachChatMenu(Views->CTChat, CTMenu);
    connect(SaveChatas1, &QAction::triggered, this, guarded(this, &TchatFrame::SaveChatas1Click));
    connect(MenuItem1, &QAction::triggered, this, guarded(this, &TchatFrame::MenuItem1Click));
    connect(MenuItem2, &QAction::triggered, this, guarded(this, &TchatFrame::MenuItem2Click));

    connect(IdFTP1, &FtpClient::progress, this, &TchatFrame::showProgress);
    MainControl->setCurrentIndex(1);
}

TchatFrame::~TchatFrame()
{
    // A running operation must not call back into a page being destroyed.
    IdFTP1->disconnect();
}

void TchatFrame::buildDownloadTab()
{
    DownloadTab = new QWidget;
    DownloadTab->setObjectName(QStringLiteral("DownloadTab"));
    auto* layout = new QVBoxLayout(DownloadTab);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);

    FTPFiles = new QTreeWidget(DownloadTab);
    FTPFiles->setObjectName(QStringLiteral("FTPFiles"));
    FTPFiles->setColumnCount(3);
    FTPFiles->setHeaderLabels({ QStringLiteral("Filename"), QStringLiteral("Date"), QStringLiteral("Size") });
    FTPFiles->headerItem()->setTextAlignment(SizeColumn, Qt::AlignRight | Qt::AlignVCenter);
    FTPFiles->setColumnWidth(FileNameColumn, 200);
    FTPFiles->setColumnWidth(DateColumn, 150);
    FTPFiles->setColumnWidth(SizeColumn, 55);
    FTPFiles->header()->setSectionsClickable(false);
    FTPFiles->header()->setSectionsMovable(false);
    FTPFiles->header()->setStretchLastSection(false);
    FTPFiles->setRootIsDecorated(false);
    FTPFiles->setItemsExpandable(false);
    FTPFiles->setUniformRowHeights(true);
    FTPFiles->setSelectionBehavior(QAbstractItemView::SelectRows);
    FTPFiles->setSelectionMode(QAbstractItemView::SingleSelection);
    FTPFiles->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FTPFiles->setSortingEnabled(false);
    layout->addWidget(FTPFiles, 1);

    TransferBar = new QWidget(DownloadTab);
    TransferBar->setObjectName(QStringLiteral("TransferBar"));
    auto* transferLayout = new QHBoxLayout(TransferBar);
    transferLayout->setContentsMargins(4, 0, 4, 0);
    transferLayout->setSpacing(5);
    TransferLabel = new QLabel(TransferBar);
    TransferLabel->setObjectName(QStringLiteral("TransferLabel"));
    // It quotes the server's file names: never markup.
    TransferLabel->setTextFormat(Qt::PlainText);
    TransferProgress = new QProgressBar(TransferBar);
    TransferProgress->setObjectName(QStringLiteral("TransferProgress"));
    TransferProgress->setTextVisible(false);
    TransferProgress->setFixedSize(120, 15);
    BCancel = makeBarButton("BCancel", QStringLiteral("Cancel"), TransferBar);
    transferLayout->addWidget(TransferLabel, 1);
    transferLayout->addWidget(TransferProgress);
    transferLayout->addWidget(BCancel);
    TransferBar->setFixedHeight(25);
    TransferBar->hide();
    layout->addWidget(TransferBar);

    // Every server's new logs at once: the servers to fetch from (checked, or
    // all), a row of progress each.
    FetchResults = new QTreeWidget(DownloadTab);
    FetchResults->setObjectName(QStringLiteral("FetchResults"));
    FetchResults->setRootIsDecorated(false);
    FetchResults->setHeaderLabels({ QStringLiteral("Server"), QStringLiteral("New logs") });
    FetchResults->setColumnWidth(0, 140);
    FetchResults->setFixedHeight(110);
    BFetchNew = makeBarButton("BFetchNew", QStringLiteral("Fetch new logs"), DownloadTab);
    BFetchNew->setToolTip(
        QStringLiteral("Downloads the new and changed logs of the checked servers (of all when none is checked)"));
    BFetchNew->setFixedWidth(std::max(75, BFetchNew->sizeHint().width()));
    BFetchCancel = makeBarButton("BFetchCancel", QStringLiteral("Stop fetch"), DownloadTab);
    BFetchCancel->setToolTip(QStringLiteral("Ends the fetch of new logs"));
    BFetchCancel->setFixedWidth(BFetchNew->width());
    BFetchCancel->setEnabled(false);
    FetchBar = new QWidget(DownloadTab);
    FetchBar->setObjectName(QStringLiteral("FetchBar"));
    auto* fetchLayout = new QHBoxLayout(FetchBar);
    fetchLayout->setContentsMargins(0, 0, 4, 0);
    fetchLayout->setSpacing(5);
    fetchLayout->addWidget(FetchResults, 1);
    auto* fetchButtons = new QVBoxLayout;
    fetchButtons->addWidget(BFetchNew);
    fetchButtons->addWidget(BFetchCancel);
    fetchButtons->addStretch(1);
    fetchLayout->addLayout(fetchButtons);
    FetchBar->hide();
    layout->addWidget(FetchBar);

    auto* bottomBar = new QFrame(DownloadTab);
    bottomBar->setObjectName(QStringLiteral("BottomBar"));
    bottomBar->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    bottomBar->setFixedHeight(30);
    auto* barLayout = new QHBoxLayout(bottomBar);
    barLayout->setContentsMargins(4, 0, 4, 0);
    barLayout->setSpacing(5);
    ServerLabel = new QLabel(QStringLiteral("Select FTP Server"), bottomBar);
    ServerLabel->setObjectName(QStringLiteral("ServerLabel"));
    FTPServer = new QComboBox(bottomBar);
    FTPServer->setObjectName(QStringLiteral("FTPServer"));
    FTPServer->setFixedWidth(145);
    BConnect = makeBarButton("BConnect", QStringLiteral("Connect"), bottomBar);
    BDownload = makeBarButton("BDownload", QStringLiteral("Download"), bottomBar);
    BDisconnect = makeBarButton("BDisconnect", QStringLiteral("Disconnect"), bottomBar);
    barLayout->addStretch(1);
    for (QWidget* control : std::initializer_list<QWidget*>{ ServerLabel, FTPServer, BConnect, BDownload, BDisconnect })
        barLayout->addWidget(control);
    layout->addWidget(bottomBar);

    MainControl->addTab(DownloadTab, tabIcon(0), QStringLiteral("Download"));

    connect(BConnect, &QPushButton::clicked, this, guarded(this, &TchatFrame::BConnectClick));
    connect(BDownload, &QPushButton::clicked, this, guarded(this, &TchatFrame::FTPFilesDblClick));
    connect(BDisconnect, &QPushButton::clicked, this, guarded(this, &TchatFrame::BDisconnectClick));
    connect(BCancel, &QPushButton::clicked, this, guarded(this, &TchatFrame::BCancelClick));
    connect(BFetchNew, &QPushButton::clicked, this, guarded(this, &TchatFrame::BFetchNewClick));
    connect(BFetchCancel, &QPushButton::clicked, this, guarded(this, &TchatFrame::BFetchCancelClick));
    connect(FTPFiles, &QTreeWidget::itemDoubleClicked, this, guarded(this, &TchatFrame::FTPFilesDblClick));
}

void TchatFrame::buildLocalFileTab()
{
    LocalFileTab = new QWidget;
    LocalFileTab->setObjectName(QStringLiteral("LocalFileTab"));
    auto* layout = new QVBoxLayout(LocalFileTab);
    layout->setContentsMargins(4, 4, 4, 4);
    LocalBox = new QGroupBox(QStringLiteral("Local Logs"), LocalFileTab);
    LocalBox->setObjectName(QStringLiteral("LocalBox"));
    auto* boxLayout = new QVBoxLayout(LocalBox);
    boxLayout->setContentsMargins(4, 4, 4, 4);
    LocalFiles = new LocalFileList(LocalBox);
    LocalFiles->setObjectName(QStringLiteral("LocalFiles"));
    LocalFiles->setToolTip(kHint);
    LocalFiles->setContextMenuPolicy(Qt::CustomContextMenu);
    boxLayout->addWidget(LocalFiles);
    layout->addWidget(LocalBox);

    LocalFileMenu = makeMenu("LocalFileMenu", "DeleteFile1", QStringLiteral("Delete File"), this, DeleteFile1);
    connect(DeleteFile1, &QAction::triggered, this, guarded(this, &TchatFrame::DeleteFile1Click));
    connect(LocalFiles, &QWidget::customContextMenuRequested, this,
        [this](const QPoint& pos) { LocalFileMenu->exec(LocalFiles->viewport()->mapToGlobal(pos)); });
    connect(LocalFiles, &QAbstractItemView::doubleClicked, this, guarded(this, &TchatFrame::LocalFilesDblClick));

    MainControl->addTab(LocalFileTab, tabIcon(1), QStringLiteral("Local Files"));
}

void TchatFrame::attachChatMenu(ChatView* view, QMenu* menu)
{
    view->setToolTip(kHint);
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view, &QWidget::customContextMenuRequested, this,
        [view, menu](const QPoint& pos) { menu->exec(view->viewport()->mapToGlobal(pos)); });
}

void TchatFrame::BConnectClick()
{
    const auto profile = requireProfile(m_context.prompts(), FTPServer);
    if (!profile)
        return;
    switch (m_state) {
    case State::Idle:
        startConnect(*profile);
        return;
    case State::Connecting:
    case State::Transferring:
        m_context.prompts().errorBox(kDisconnectFirst);
        return;
    case State::Connected:
        break;
    }
    // The client learns that the server has closed an idle connection only
    // from the next command: ask the server (NOOP leaves the folder as it
    // is), and connect anew when it is gone.
    m_state = State::Transferring;
    IdFTP1->checkAlive([this, profile = *profile](const FtpResult&) {
        runGuarded([&] {
            if (IdFTP1->isConnected()) {
                m_state = State::Connected;
                m_context.prompts().errorBox(kDisconnectFirst);
            } else {
                m_state = State::Idle;
                startConnect(profile);
            }
        });
    });
}

void TchatFrame::startConnect(const std::string& profile)
{
    m_state = State::Connecting;
    ConnectSteps steps;
    steps.progressText = QStringLiteral("Downloading logdir.");
    steps.folder = "/cstrike/logs";
    // Rows of an earlier connection name files of a folder this one has not
    // changed to: they go before anything else is sent.
    steps.connected = [this] { FTPFiles->clear(); };
    steps.inFolder = [this] { listLogs(true); };
    steps.connectionFailed = [this] { m_state = State::Idle; };
    steps.failed = [this](const FtpResult& result) { failed(result); };
    openConnection(m_context, *IdFTP1, profile, std::move(steps));
}

void TchatFrame::listLogs(bool withPattern)
{
    m_state = State::Transferring;
    beginTransfer(QString(), -1);
    TransferLabel->setText(QStringLiteral("Reading the list of logs ..."));
    IdFTP1->list(
        withPattern ? "*.log" : "", [this, withPattern](const FtpResult& result, std::vector<std::string> lines) {
            runGuarded([&] {
                // Servers that do not expand a pattern in LIST refuse it: list the
                // whole folder then and keep the logs.
                if (result.kind == FtpResult::Kind::Refused && withPattern && IdFTP1->isConnected())
                    return listLogs(false);
                if (!result.ok())
                    return failed(result);
                showListing(lines);
            });
        });
}

void TchatFrame::showListing(const std::vector<std::string>& lines)
{
    for (const ListingRow& row : readLogListing(lines)) {
        auto* item = new QTreeWidgetItem(FTPFiles);
        item->setText(FileNameColumn, toDisplay(row.fileName));
        item->setText(DateColumn, toDisplay(row.date));
        item->setText(SizeColumn, toDisplay(row.size));
        item->setTextAlignment(SizeColumn, Qt::AlignRight | Qt::AlignVCenter);
        item->setData(FileNameColumn, kRemoteNameRole, QByteArray::fromStdString(row.fileName));
        bool numeric = false;
        const qint64 size = QByteArray::fromStdString(row.size).toLongLong(&numeric);
        item->setData(FileNameColumn, kRemoteSizeRole, numeric ? size : qint64(-1));
    }
    m_context.setStatus(QStringLiteral("Ready."));
    endTransfer();
    m_state = State::Connected;
}

void TchatFrame::FTPFilesDblClick()
{
    const QList<QTreeWidgetItem*> selected = FTPFiles->selectedItems();
    // One transfer at a time on the connection: a second one is refused.
    if (selected.isEmpty() || m_state != State::Connected)
        return;
    const QTreeWidgetItem* item = selected.first();
    const QByteArray remote = item->data(FileNameColumn, kRemoteNameRole).toByteArray();
    const std::string remoteName(remote.constData(), static_cast<std::size_t>(remote.size()));
    if (!isSafeLocalName(remoteName))
        return;
    const QString name = item->text(FileNameColumn);
    // The local copy is named as the list shows it, so that the local list and
    // the scan find it whatever encoding the server used.
    const std::string target = m_context.logsFolder() + "/" + fromDisplay(name);

    m_context.setStatus(QStringLiteral("Downloading ") + name + u'.');
    m_state = State::Transferring;
    beginTransfer(name, item->data(FileNameColumn, kRemoteSizeRole).toLongLong());
    IdFTP1->retrieve(remoteName, target, [this, name](const FtpResult& result) {
        runGuarded([&] {
            if (!result.ok())
                return failed(result);
            endTransfer();
            m_state = State::Connected;
            ScanLog(name);
        });
    });
}

void TchatFrame::BDisconnectClick()
{
    // Closing the connection under a running transfer is left to Cancel.
    if (m_state != State::Connected)
        return;
    IdFTP1->disconnect();
    m_state = State::Idle;
    FTPFiles->clear();
    m_context.setStatus(QStringLiteral("Disconnected."));
}

void TchatFrame::BCancelClick()
{
    if (isTransferring())
        IdFTP1->cancel();
}

void TchatFrame::LocalFilesDblClick()
{
    if (const auto name = LocalFiles->selectedName())
        ScanLog(*name);
}

void TchatFrame::DeleteFile1Click()
{
    const auto name = LocalFiles->selectedName();
    const auto path = LocalFiles->selectedPath();
    if (!name || !path)
        return;
    if (!m_context.prompts().confirm(QStringLiteral("Do you want to delete ") + *name + QStringLiteral(" ?")))
        return;
    const std::string file = localPath(*path);
    if (std::remove(file.c_str()) != 0)
        throwFileError("Cannot delete", file, errno);
}

void TchatFrame::SaveChatas1Click()
{
    saveChat(Views->PublicChat);
}

void TchatFrame::MenuItem1Click()
{
    saveChat(Views->TChat);
}

void TchatFrame::MenuItem2Click()
{
    saveChat(Views->CTChat);
}

void TchatFrame::saveChat(const ChatView* view)
{
    const auto fileName
        = m_context.prompts().saveFileName(QStringLiteral("Chat Logs (*.rtf)"), QStringLiteral("rtf"), m_lastChatFile);
    if (!fileName)
        return;
    m_lastChatFile = *fileName;
    // Written as it is made: a chat of a million lines is never held whole.
    writeFileAtomic(localPath(*fileName), [model = view->chatModel()](FileSink& file) {
        model->writeRtf([&](std::string_view piece) { file.write(piece); });
    });
}

void TchatFrame::ScanLog(const QString& fileName)
{
    Views->ScanLog(fileName);
}

void TchatFrame::beginTransfer(const QString& what, qint64 knownSize)
{
    m_transferName = what;
    m_knownSize = knownSize;
    TransferProgress->setRange(0, 0);
    TransferLabel->setText(QStringLiteral("Receiving ") + visibleText(what) + QStringLiteral(" ..."));
    TransferBar->show();
    showProgress(0, -1);
}

void TchatFrame::endTransfer()
{
    m_transferName.clear();
    TransferBar->hide();
}

void TchatFrame::showProgress(qint64 done, qint64 total)
{
    if (m_transferName.isEmpty())
        return;
    if (total < 0)
        total = m_knownSize;
    const QLocale locale(QLocale::English, QLocale::UnitedStates);
    QString text
        = QStringLiteral("Receiving ") + visibleText(m_transferName) + QStringLiteral(": ") + locale.toString(done);
    if (total > 0) {
        const int permille = static_cast<int>(std::min<qint64>(1000, done * 1000 / total));
        TransferProgress->setRange(0, 1000);
        TransferProgress->setValue(permille);
        TransferProgress->setFormat(QString::number(permille / 10) + u'%');
        TransferProgress->setTextVisible(true);
        text += QStringLiteral(" of ") + locale.toString(total) + QStringLiteral(" bytes");
    } else {
        TransferProgress->setRange(0, 0);
        TransferProgress->setTextVisible(false);
        text += QStringLiteral(" bytes");
    }
    TransferLabel->setText(text);
}

void TchatFrame::failed(const FtpResult& result)
{
    endTransfer();
    m_state = IdFTP1->isConnected() ? State::Connected : State::Idle;
    if (result.kind == FtpResult::Kind::Cancelled) {
        m_context.setStatus(QStringLiteral("Transfer cancelled."));
        return;
    }
    throwFtpError(result);
}

void TchatFrame::setProfileNames(const std::vector<std::string>& names)
{
    velth::setProfileNames(FTPServer, names);
    m_profiles = names;
    if (m_fetch->isRunning())
        m_fetch->cancel();
    FetchResults->clear();
    m_fetchItems.clear();
    for (const std::string& profile : names) {
        auto* item = new QTreeWidgetItem(FetchResults, { visibleText(toDisplay(profile)) });
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Unchecked);
    }
    FetchBar->setVisible(!names.empty());
}

void TchatFrame::BFetchNewClick()
{
    if (m_fetch->isRunning())
        return;
    if (m_profiles.empty()) {
        m_context.prompts().errorBox(QStringLiteral("There is no FTP Server to fetch logs from."));
        return;
    }
    // The checked servers, or all of them when none is checked.
    std::vector<std::string> profiles;
    m_fetchItems.clear();
    for (int i = 0; i < FetchResults->topLevelItemCount() && i < static_cast<int>(m_profiles.size()); ++i)
        if (FetchResults->topLevelItem(i)->checkState(0) == Qt::Checked) {
            profiles.push_back(m_profiles[static_cast<std::size_t>(i)]);
            m_fetchItems.push_back(FetchResults->topLevelItem(i));
        }
    if (profiles.empty()) {
        profiles = m_profiles;
        for (int i = 0; i < FetchResults->topLevelItemCount(); ++i)
            m_fetchItems.push_back(FetchResults->topLevelItem(i));
    }
    for (int i = 0; i < FetchResults->topLevelItemCount(); ++i)
        FetchResults->topLevelItem(i)->setText(1, QString());
    BFetchNew->setEnabled(false);
    BFetchCancel->setEnabled(true);
    m_context.setStatus(QStringLiteral("Fetching the new logs of %1 servers.").arg(profiles.size()));
    m_fetch->start(profiles, m_context.logsFolder());
}

void TchatFrame::BFetchCancelClick()
{
    m_fetch->cancel();
}

void TchatFrame::showFetchRow(int row)
{
    if (row < 0 || static_cast<std::size_t>(row) >= m_fetchItems.size())
        return;
    QTreeWidgetItem* item = m_fetchItems[static_cast<std::size_t>(row)];
    item->setText(1, fetchText(m_fetch->rows()[static_cast<std::size_t>(row)]));
    item->setToolTip(1, item->text(1));
}

void TchatFrame::fetchFinished()
{
    BFetchNew->setEnabled(true);
    BFetchCancel->setEnabled(false);
    int fetched = 0;
    int failed = 0;
    bool cancelled = false;
    for (const LogFetch::Row& row : m_fetch->rows()) {
        fetched += row.fetched;
        failed += row.state == LogFetch::State::Failed;
        cancelled = cancelled || row.state == LogFetch::State::Cancelled;
    }
    m_context.setStatus(cancelled ? QStringLiteral("Fetch of new logs stopped: %1 logs fetched.").arg(fetched)
            : failed              ? QStringLiteral("Fetched %1 new logs; %2 servers failed.").arg(fetched).arg(failed)
                                  : QStringLiteral("Fetched %1 new logs.").arg(fetched));
}

void TchatFrame::setLogsFolder(const std::string& folder)
{
    const QString shown = toDisplay(folder);
    LocalBox->setTitle(QStringLiteral("Local Files: ") + shown);
    LocalFiles->setRootFolder(shown);
}

} // namespace velth
