#include "editors/CfgFrame.h"

#include "common/AppContext.h"
#include "common/ErrorReport.h"
#include "common/FileIo.h"
#include "common/ProfileSelector.h"
#include "common/Prompts.h"
#include "common/TextLines.h"
#include "editors/GroupUpload.h"
#include "editors/ServerCfg.h"
#include "net/FtpClient.h"
#include "net/TransferProcedure.h"
#include "profiles/ProfileStore.h"
#include "skin/PageTabs.h"

#include <QAction>
#include <QComboBox>
#include <QEvent>
#include <QFile>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTextDocument>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

namespace velth {
namespace {

// A file name from a dialog as the bytes the file system uses.
std::string pathBytes(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

// The editor's text with its line breaks as LF. toRawText keeps characters
// that toPlainText would change (a no-break space becomes a space there).
QString editorText(const QPlainTextEdit* editor)
{
    QString text = editor->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, u'\n');
    text.replace(QChar::LineSeparator, u'\n');
    return text;
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, int x, int y)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->move(x, y);
    label->adjustSize();
    return label;
}

} // namespace

TcfgFrame::TcfgFrame(AppContext& context, QWidget* parent)
    : QFrame(parent)
    , m_context(context)
    , m_client(new FtpClient(this))
    , m_group(new GroupUpload(context, this))
{
    MainControl = addPageTabs(this);

    buildUploadTab();
    buildEditTab();
    MainControl->setCurrentWidget(UploadTab);
}

TcfgFrame::~TcfgFrame() = default;

void TcfgFrame::buildUploadTab()
{
    UploadTab = new QWidget;
    UploadTab->setObjectName(QStringLiteral("UploadTab"));
    MainControl->addTab(UploadTab, tabIcon(10), QStringLiteral("Upload"));

    auto* row = new QHBoxLayout(UploadTab);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    SelectConfig = new QGroupBox(QStringLiteral("Select Config"), UploadTab);
    SelectConfig->setObjectName(QStringLiteral("SelectConfig"));
    SelectConfig->setFixedWidth(156);
    auto* groupLayout = new QVBoxLayout(SelectConfig);
    groupLayout->setContentsMargins(4, 2, 4, 4);
    ConfigList = new QListWidget(SelectConfig);
    ConfigList->setObjectName(QStringLiteral("ConfigList"));
    ConfigList->setSelectionMode(QAbstractItemView::SingleSelection);
    ConfigList->setToolTip(QStringLiteral("Double click to edit config"));
    ConfigList->viewport()->installEventFilter(this);
    groupLayout->addWidget(ConfigList);
    row->addWidget(SelectConfig);

    // The panel keeps its fixed place beside the list.
    auto* rest = new QWidget(UploadTab);
    row->addWidget(rest, 1);
    Panel1 = new QFrame(rest);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setGeometry(160 - 156, 5, 131, 151);

    FTPServerLabel = makeLabel(Panel1, "FTPServerLabel", QStringLiteral("Select FTP Server"), 5, 5);
    FTPServer = new QComboBox(Panel1);
    FTPServer->setObjectName(QStringLiteral("FTPServer"));
    FTPServer->setGeometry(4, 20, 122, 21);
    connect(FTPServer, &QComboBox::activated, this, guarded(this, &TcfgFrame::FTPServerChange));

    RconLabel = makeLabel(Panel1, "RconLabel", QStringLiteral("Set rcon password"), 5, 45);
    rcon_password = new QLineEdit(Panel1);
    rcon_password->setObjectName(QStringLiteral("rcon_password"));
    rcon_password->setGeometry(5, 60, 121, 21);

    ServerPasswordLabel = makeLabel(Panel1, "ServerPasswordLabel", QStringLiteral("Set server password"), 5, 85);
    sv_password = new QLineEdit(Panel1);
    sv_password->setObjectName(QStringLiteral("sv_password"));
    sv_password->setGeometry(5, 100, 121, 21);

    BUpload = new QPushButton(QStringLiteral("Upload"), Panel1);
    BUpload->setObjectName(QStringLiteral("BUpload"));
    BUpload->setGeometry(6, 125, 120, 21);
    connect(BUpload, &QPushButton::clicked, this, guarded(this, &TcfgFrame::BUploadClick));

    buildGroupBox(rest);
}

void TcfgFrame::buildGroupBox(QWidget* parent)
{
    GroupBox = new QGroupBox(QStringLiteral("Upload to many servers"), parent);
    GroupBox->setObjectName(QStringLiteral("GroupBox"));
    GroupBox->setGeometry(139, 0, 224, 156);
    GroupServers = new QListWidget(GroupBox);
    GroupServers->setObjectName(QStringLiteral("GroupServers"));
    GroupServers->setGeometry(5, 16, 214, 108);
    GroupServers->setToolTip(QStringLiteral("Check the servers that get the selected config"));
    BUploadMany = new QPushButton(QStringLiteral("Upload to checked"), GroupBox);
    BUploadMany->setObjectName(QStringLiteral("BUploadMany"));
    BUploadMany->setGeometry(5, 129, 126, 21);
    BUploadMany->setToolTip(QStringLiteral("Each server gets the config with the passwords of its own profile"));
    connect(BUploadMany, &QPushButton::clicked, this, guarded(this, &TcfgFrame::BUploadManyClick));
    BApplyMany = new QPushButton(QStringLiteral("Apply now"), GroupBox);
    BApplyMany->setObjectName(QStringLiteral("BApplyMany"));
    BApplyMany->setGeometry(133, 129, 86, 21);
    BApplyMany->setToolTip(QStringLiteral("Runs exec server.cfg on the servers that took the config"));
    BApplyMany->setEnabled(false);
    connect(BApplyMany, &QPushButton::clicked, this, guarded(this, &TcfgFrame::BApplyManyClick));

    GroupResults = new QTreeWidget(parent);
    GroupResults->setObjectName(QStringLiteral("GroupResults"));
    GroupResults->setGeometry(4, 160, 359, 232);
    GroupResults->setRootIsDecorated(false);
    GroupResults->setHeaderLabels({ QStringLiteral("Server"), QStringLiteral("Upload"), QStringLiteral("Apply now") });
    GroupResults->setColumnWidth(0, 70);
    GroupResults->setColumnWidth(1, 150);
    // A whole answer is in the cell's tool tip.

    connect(m_group, &GroupUpload::rowChanged, this, &TcfgFrame::showGroupRow);
    connect(m_group, &GroupUpload::finished, this, &TcfgFrame::groupFinished);
}

void TcfgFrame::buildEditTab()
{
    cfgTab = new QWidget;
    cfgTab->setObjectName(QStringLiteral("cfgTab"));
    MainControl->addTab(cfgTab, tabIcon(6), QStringLiteral("Edit"));
    auto* tabLayout = new QVBoxLayout(cfgTab);
    tabLayout->setContentsMargins(0, 0, 0, 0);

    ConfigBox = new QGroupBox(cfgTab);
    ConfigBox->setObjectName(QStringLiteral("ConfigBox"));
    tabLayout->addWidget(ConfigBox);
    auto* boxLayout = new QVBoxLayout(ConfigBox);
    boxLayout->setContentsMargins(4, 2, 4, 4);

    Config = new QPlainTextEdit(ConfigBox);
    Config->setObjectName(QStringLiteral("Config"));
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPixelSize(12);
    Config->setFont(fixed);
    Config->setTabStopDistance(QFontMetricsF(fixed).horizontalAdvance(u' ') * 8);
    Config->setLineWrapMode(QPlainTextEdit::NoWrap);
    Config->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Config->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Config->setTabChangesFocus(false);
    Config->setToolTip(QStringLiteral("Right mousebutton for more options"));
    boxLayout->addWidget(Config);

    Saveconfig1 = new QAction(QStringLiteral("Save config"), Config);
    Saveconfig1->setObjectName(QStringLiteral("Saveconfig1"));
    Deleteconfig1 = new QAction(QStringLiteral("Delete config"), Config);
    Deleteconfig1->setObjectName(QStringLiteral("Deleteconfig1"));
    Config->addAction(Saveconfig1);
    Config->addAction(Deleteconfig1);
    Config->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(Saveconfig1, &QAction::triggered, this, guarded(this, &TcfgFrame::Saveconfig1Click));
    connect(Deleteconfig1, &QAction::triggered, this, guarded(this, &TcfgFrame::Deleteconfig1Click));
}

bool TcfgFrame::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ConfigList->viewport() && event->type() == QEvent::MouseButtonDblClick)
        BEditConfigClick();
    return QFrame::eventFilter(watched, event);
}

std::string TcfgFrame::editBytes(const QLineEdit* edit, const StoredText& stored)
{
    return edit->text() == stored.text ? stored.bytes : fromDisplay(edit->text());
}

std::string TcfgFrame::selectedConfig() const
{
    const QListWidgetItem* item = ConfigList->currentItem();
    if (!item || !item->isSelected())
        return {};
    return itemDataToBytes(item->data(Qt::UserRole));
}

void TcfgFrame::FTPServerChange()
{
    const auto profile = requireProfile(m_context.prompts(), FTPServer);
    if (!profile)
        return;
    ConfigList->clear();
    for (const std::string& name : listConfigs(m_context.profileFolder(*profile))) {
        auto* item = new QListWidgetItem(toDisplay(name), ConfigList);
        item->setData(Qt::UserRole, bytesToItemData(name));
    }
    ConfigList->setCurrentRow(-1);

    const ProfileStore& store = m_context.store();
    m_rcon.bytes = store.readString(*profile, "rconpass");
    m_rcon.text = toDisplay(m_rcon.bytes);
    m_server.bytes = store.readString(*profile, "serverpass");
    m_server.text = toDisplay(m_server.bytes);
    rcon_password->setText(m_rcon.text);
    sv_password->setText(m_server.text);
}

void TcfgFrame::BEditConfigClick()
{
    const auto profile = requireProfile(m_context.prompts(), FTPServer);
    if (!profile)
        return;
    const std::string name = selectedConfig();
    if (name.empty()) {
        m_context.prompts().errorBox(QStringLiteral("Please select a config file!"));
        return;
    }
    MainControl->setCurrentWidget(cfgTab);
    m_configPath = m_context.localCopy(*profile, name);
    ConfigBox->setTitle(toDisplay(m_configPath));

    DecodedText decoded = decodeText(toCrLf(readFile(m_configPath)));
    decoded.text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    Config->setPlainText(decoded.text);
    m_configEncoding = decoded.encoding;
}

void TcfgFrame::Saveconfig1Click()
{
    const QString caption = ConfigBox->title();
    const auto chosen
        = m_context.prompts().saveFileName(QStringLiteral("Config files (*.cfg)"), QStringLiteral("cfg"), caption);
    if (!chosen)
        return;
    const std::string path = (!caption.isEmpty() && *chosen == caption) ? m_configPath : pathBytes(*chosen);
    writeFileAtomic(path, toCrLf(encodeText(editorText(Config), m_configEncoding)));
    m_context.setStatus(QStringLiteral("Config file successfully saved."));

    const std::string remembered = selectedConfig();
    FTPServerChange();
    if (remembered.empty())
        return;
    for (int i = 0; i < ConfigList->count(); ++i) {
        if (itemDataToBytes(ConfigList->item(i)->data(Qt::UserRole)) == remembered) {
            ConfigList->setCurrentRow(i);
            break;
        }
    }
}

void TcfgFrame::Deleteconfig1Click()
{
    const QString caption = ConfigBox->title();
    if (!m_context.prompts().confirm(QStringLiteral("Do you want to delete ") + caption + QStringLiteral(" ?")))
        return;
    removeFileQuietly(caption.isEmpty() ? std::string() : m_configPath);
    FTPServerChange();
}

void TcfgFrame::BUploadClick()
{
    // What the user chose when pressing Upload; the page stays usable while
    // the connection is made.
    struct Choice
    {
        std::string config;
        std::string rcon;
        std::string server;
    };
    auto choice = std::make_shared<Choice>();

    TransferVariant variant;
    variant.checks = [this, choice] {
        choice->config = selectedConfig();
        if (choice->config.empty()) {
            m_context.prompts().errorBox(QStringLiteral("Please select a config file!"));
            return false;
        }
        if (rcon_password->text().isEmpty()) {
            m_context.prompts().errorBox(QStringLiteral("Please enter a rcon password!"));
            return false;
        }
        choice->rcon = editBytes(rcon_password, m_rcon);
        choice->server = editBytes(sv_password, m_server);
        return true;
    };
    variant.beforeConnect = [this, choice](const std::string& profile) {
        m_context.store().writeString(profile, "rconpass", choice->rcon);
        m_context.store().writeString(profile, "serverpass", choice->server);
    };
    variant.progressText = QStringLiteral("Uploading config file.");
    variant.transfer = [this, choice](FtpClient& client, const std::string& profile, FtpClient::Done done) {
        const std::string serverCfg = m_context.localCopy(profile, "server.cfg");
        writeServerCfg(m_context.localCopy(profile, choice->config), serverCfg, choice->rcon, choice->server);
        client.store(serverCfg, "server.cfg", std::move(done));
    };
    variant.finalText = QStringLiteral("Finished. (Your config will work after the next mapchange.)");
    runTransfer(m_context, *m_client, FTPServer, std::move(variant));
}

void TcfgFrame::setProfileNames(const std::vector<std::string>& names)
{
    velth::setProfileNames(FTPServer, names);
    velth::setProfileNames(GroupServers, names);
    for (int i = 0; i < GroupServers->count(); ++i) {
        QListWidgetItem* item = GroupServers->item(i);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
}

void TcfgFrame::BUploadManyClick()
{
    if (m_group->isRunning()) {
        m_context.prompts().errorBox(QStringLiteral("The upload to many servers is still running."));
        return;
    }
    // The config is one of the picked profile's local files.
    const auto profile = requireProfile(m_context.prompts(), FTPServer);
    if (!profile)
        return;
    const std::string config = selectedConfig();
    if (config.empty()) {
        m_context.prompts().errorBox(QStringLiteral("Please select a config file!"));
        return;
    }
    std::vector<std::string> servers;
    for (int i = 0; i < GroupServers->count(); ++i) {
        const QListWidgetItem* item = GroupServers->item(i);
        if (item->checkState() == Qt::Checked)
            servers.push_back(itemDataToBytes(item->data(Qt::UserRole)));
    }
    if (servers.empty()) {
        m_context.prompts().errorBox(QStringLiteral("Please check the servers to upload the config to!"));
        return;
    }
    if (!m_context.prompts().confirm(QStringLiteral("Upload %1 as server.cfg to %2 servers, each with the "
                                                    "passwords of its own profile?")
                                         .arg(visibleText(toDisplay(config)))
                                         .arg(servers.size())))
        return;
    GroupResults->clear();
    for (const std::string& server : servers) {
        auto* item = new QTreeWidgetItem(GroupResults);
        item->setText(0, visibleText(toDisplay(server)));
    }
    BUploadMany->setEnabled(false);
    BApplyMany->setEnabled(false);
    m_context.setStatus(QStringLiteral("Uploading the config to %1 servers.").arg(servers.size()));
    m_group->startUpload(servers, m_context.localCopy(*profile, config));
}

void TcfgFrame::BApplyManyClick()
{
    if (m_group->isRunning()) {
        m_context.prompts().errorBox(QStringLiteral("The upload to many servers is still running."));
        return;
    }
    const int count = m_group->applicable();
    if (count == 0) {
        m_context.prompts().errorBox(QStringLiteral("No server has taken the config since it was last applied."));
        return;
    }
    if (!m_context.prompts().confirm(
            QStringLiteral("Run exec server.cfg on %1 servers now? The config works at once.").arg(count)))
        return;
    BUploadMany->setEnabled(false);
    BApplyMany->setEnabled(false);
    m_context.setStatus(QStringLiteral("Applying the config on %1 servers.").arg(count));
    m_group->startApply();
}

void TcfgFrame::showGroupRow(int row)
{
    QTreeWidgetItem* item = GroupResults->topLevelItem(row);
    if (!item)
        return;
    const GroupUpload::Row& shown = m_group->rows()[static_cast<std::size_t>(row)];
    item->setText(0, visibleText(toDisplay(shown.profile)));
    item->setText(1, outcomeText(shown.upload, true, shown.uploadText));
    item->setText(2, outcomeText(shown.apply, false, shown.applyText));
    for (int column = 1; column < 3; ++column)
        item->setToolTip(column, item->text(column));
}

void TcfgFrame::groupFinished()
{
    BUploadMany->setEnabled(true);
    BApplyMany->setEnabled(m_group->applicable() > 0);
    const auto& rows = m_group->rows();
    const auto count = [&](auto pick) { return std::count_if(rows.begin(), rows.end(), pick); };
    const auto uploaded = count([](const GroupUpload::Row& r) { return r.upload == GroupUpload::Outcome::Done; });
    const auto applied = count([](const GroupUpload::Row& r) { return r.apply == GroupUpload::Outcome::Done; });
    const bool applyRan = std::any_of(
        rows.begin(), rows.end(), [](const GroupUpload::Row& r) { return r.apply != GroupUpload::Outcome::None; });
    if (applyRan)
        m_context.setStatus(QStringLiteral("Config applied on %1 of %2 servers.").arg(applied).arg(uploaded));
    else
        m_context.setStatus(QStringLiteral("Config uploaded to %1 of %2 servers.").arg(uploaded).arg(rows.size()));
}

} // namespace velth
