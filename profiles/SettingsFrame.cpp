#include "profiles/SettingsFrame.h"

#include "common/AppContext.h"
#include "common/ErrorReport.h"
#include "common/FileIo.h"
#include "common/ProfileName.h"
#include "common/ProfileSelector.h"
#include "common/Prompts.h"
#include "common/TextCodec.h"
#include "profiles/ConnectionKind.h"
#include "profiles/IniFile.h"
#include "profiles/ProfileStore.h"
#include "profiles/ServerProfile.h"
#include "skin/PageTabs.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QValidator>

#include <algorithm>

namespace velth {
namespace {

constexpr int kFieldHeight = 21;
constexpr int kDefaultPort = 21;
constexpr int kMaxNameLength = 255;

const QString kRestartText = QStringLiteral("Your changes will take effect after a restart of Velth Control Center.");
const QString kSelectServerText = QStringLiteral("Please select a server!");

// The store keeps one value per line, so a single-line field refuses pasted
// text that holds a line break (or a zero byte) instead of saving it.
class SingleLineValidator final : public QValidator
{
public:
    using QValidator::QValidator;

    State validate(QString& input, int&) const override
    {
        for (const QChar ch : input) {
            if (ch == u'\r' || ch == u'\n' || ch == QChar(0))
                return Invalid;
        }
        return Acceptable;
    }
};

// An address becomes a word of a console command on the game server: a
// blank, a quote, a semicolon or a control character never belongs in one.
class AddressValidator final : public QValidator
{
public:
    using QValidator::QValidator;

    State validate(QString& input, int&) const override
    {
        for (const QChar ch : input) {
            if (ch.isSpace() || ch.category() == QChar::Other_Control || ch == u'"' || ch == u'\'' || ch == u';')
                return Invalid;
        }
        return Acceptable;
    }
};

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, int x, int y)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->adjustSize();
    label->move(x, y);
    return label;
}

QLineEdit* makeField(QWidget* parent, const char* name, int x, int y, int width)
{
    auto* field = new QLineEdit(parent);
    field->setObjectName(QLatin1String(name));
    field->setGeometry(x, y, width, kFieldHeight);
    field->setValidator(new SingleLineValidator(field));
    return field;
}

QString connectionKindText(ConnectionKind kind)
{
    switch (kind) {
    case ConnectionKind::FtpActive:
        return QStringLiteral("FTP, active mode");
    case ConnectionKind::FtpPassive:
        return QStringLiteral("FTP, passive mode");
    case ConnectionKind::FtpsExplicit:
        return QStringLiteral("FTPS, explicit TLS");
    case ConnectionKind::FtpsImplicit:
        return QStringLiteral("FTPS, implicit TLS");
    case ConnectionKind::Sftp:
        return QStringLiteral("SFTP (SSH)");
    }
    return {};
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& text, int x, int width)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(x, 5, width, 21);
    button->setAutoDefault(false);
    return button;
}

} // namespace

TPortEdit::TPortEdit(QWidget* parent, int initialValue)
    : QSpinBox(parent)
{
    setRange(kMinPort, kMaxPort);
    setSingleStep(1);
    setValue(initialValue);
}

int TPortEdit::portValue() const
{
    return std::clamp(valueFromText(text()), kMinPort, kMaxPort);
}

QValidator::State TPortEdit::validate(QString& input, int&) const
{
    const QString decimalPoint = locale().decimalPoint();
    for (const QChar ch : input) {
        if (!(ch >= u'0' && ch <= u'9') && ch != u'+' && ch != u'-' && !decimalPoint.contains(ch))
            return QValidator::Invalid;
    }
    // Out-of-range and partial texts stay as typed until the field is left.
    return QValidator::Acceptable;
}

int TPortEdit::valueFromText(const QString& text) const
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (ok)
        return value;
    // An integer too long for an int is still beyond the bound of its sign.
    QStringView digits(text);
    const bool negative = digits.startsWith(u'-');
    if (negative || digits.startsWith(u'+'))
        digits = digits.mid(1);
    const bool integer = !digits.isEmpty()
        && std::all_of(digits.begin(), digits.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    return integer && !negative ? kMaxPort : kMinPort;
}

TsettingsFrame::TsettingsFrame(AppContext& context, QWidget* parent)
    : QFrame(parent)
    , m_context(context)
{
    setObjectName(QStringLiteral("settingsFrame"));

    MainControl = addPageTabs(this);

    SettingsTab = new QWidget(MainControl);
    SettingsTab->setObjectName(QStringLiteral("SettingsTab"));
    MainControl->addTab(SettingsTab, tabIcon(9), QStringLiteral("Settings"));

    // The list of names runs down the left side of the tab; the panel with
    // the buttons and the fields stands at (145, 5) beside it.
    auto* tabLayout = new QHBoxLayout(SettingsTab);
    tabLayout->setContentsMargins(0, 0, 0, 0);
    tabLayout->setSpacing(4);

    GroupBox1 = new QGroupBox(QStringLiteral("FTP Server"), SettingsTab);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setFixedWidth(141);
    auto* groupLayout = new QVBoxLayout(GroupBox1);
    groupLayout->setContentsMargins(4, 4, 4, 4);
    ServerList = new QListWidget(GroupBox1);
    ServerList->setObjectName(QStringLiteral("ServerList"));
    ServerList->setSelectionMode(QAbstractItemView::SingleSelection);
    ServerList->setSortingEnabled(false);
    groupLayout->addWidget(ServerList);
    tabLayout->addWidget(GroupBox1);

    auto* panelColumn = new QVBoxLayout;
    panelColumn->setContentsMargins(0, 5, 0, 0);
    Panel1 = new QFrame(SettingsTab);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    // Taller than the fields need alone: the connection list, the game
    // server and the live log stand below the HLDS path.
    Panel1->setFixedSize(206, 408);
    Panel1->setFrameShape(QFrame::StyledPanel);
    Panel1->setFrameShadow(QFrame::Raised);
    panelColumn->addWidget(Panel1);
    panelColumn->addStretch(1);
    tabLayout->addLayout(panelColumn);
    tabLayout->addStretch(1);

    hldsPath = makeField(Panel1, "hldsPath", 5, 165, 196);
    Label6 = makeLabel(Panel1, "Label6", QStringLiteral("HLDS Path (e.g. hlds)"), 5, 150);
    User = makeField(Panel1, "User", 5, 125, 96);
    Password = makeField(Panel1, "Password", 105, 125, 96);
    Password->setEchoMode(QLineEdit::Normal);
    Label5 = makeLabel(Panel1, "Label5", QStringLiteral("Password"), 105, 110);
    Host = makeField(Panel1, "Host", 5, 85, 131);
    Label4 = makeLabel(Panel1, "Label4", QStringLiteral("Login"), 5, 110);
    Label1 = makeLabel(Panel1, "Label1", QStringLiteral("Host"), 5, 70);
    Label3 = makeLabel(Panel1, "Label3", QStringLiteral("Servername"), 5, 30);
    BAdd = makeButton(Panel1, "BAdd", QStringLiteral("Add"), 5, 61);
    BDelete = makeButton(Panel1, "BDelete", QStringLiteral("Delete"), 70, 66);
    BSave = makeButton(Panel1, "BSave", QStringLiteral("Save"), 140, 61);
    ServerName = makeField(Panel1, "ServerName", 5, 45, 196);
    ServerName->setReadOnly(true);
    Label2 = makeLabel(Panel1, "Label2", QStringLiteral("Port"), 140, 70);
    Port = new TPortEdit(Panel1);
    Port->setObjectName(QStringLiteral("Port"));
    Port->setGeometry(140, 85, 61, kFieldHeight);
    Label7 = makeLabel(Panel1, "Label7", QStringLiteral("Connection"), 5, 190);
    Connection = new QComboBox(Panel1);
    Connection->setObjectName(QStringLiteral("Connection"));
    Connection->setGeometry(5, 205, 196, kFieldHeight);
    Connection->setEditable(false);
    for (const ConnectionKind kind : kConnectionKinds)
        Connection->addItem(connectionKindText(kind), QString::fromLatin1(connectionKindValue(kind)));
    Connection->setCurrentIndex(0);

    GameHostLabel = makeLabel(Panel1, "GameHostLabel", QStringLiteral("Game server address"), 5, 230);
    GameHost = makeField(Panel1, "GameHost", 5, 245, 131);
    GameHost->setValidator(new AddressValidator(GameHost));
    GameHost->setPlaceholderText(QStringLiteral("same as Host"));
    GamePortLabel = makeLabel(Panel1, "GamePortLabel", QStringLiteral("Game port"), 140, 230);
    GamePort = new TPortEdit(Panel1, kDefaultGamePort);
    GamePort->setObjectName(QStringLiteral("GamePort"));
    GamePort->setGeometry(140, 245, 61, kFieldHeight);
    LogAddressLabel = makeLabel(Panel1, "LogAddressLabel", QStringLiteral("Live log address"), 5, 270);
    LogAddress = makeField(Panel1, "LogAddress", 5, 285, 131);
    LogAddress->setValidator(new AddressValidator(LogAddress));
    LogAddress->setPlaceholderText(QStringLiteral("automatic"));
    LogPortLabel = makeLabel(Panel1, "LogPortLabel", QStringLiteral("Log port"), 140, 270);
    LogPort = new TPortEdit(Panel1, kDefaultLogPort);
    LogPort->setObjectName(QStringLiteral("LogPort"));
    LogPort->setGeometry(140, 285, 61, kFieldHeight);
    StunServerLabel = makeLabel(Panel1, "StunServerLabel", QStringLiteral("STUN server (empty: none)"), 5, 310);
    StunServer = makeField(Panel1, "StunServer", 5, 325, 196);
    StunServer->setValidator(new AddressValidator(StunServer));
    StunServer->setPlaceholderText(QStringLiteral("none: the router forwards the log port"));
    LogPortNote = new QLabel(
        QStringLiteral("Behind a router the STUN server finds this computer's address, or the router forwards the "
                       "log port (UDP)."),
        Panel1);
    LogPortNote->setObjectName(QStringLiteral("LogPortNote"));
    LogPortNote->setWordWrap(true);
    LogPortNote->setGeometry(5, 349, 196, 56);
    LogPortNote->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    setTabOrder(BAdd, BDelete);
    setTabOrder(BDelete, BSave);
    setTabOrder(BSave, ServerName);
    setTabOrder(ServerName, Host);
    setTabOrder(Host, Port);
    setTabOrder(Port, User);
    setTabOrder(User, Password);
    setTabOrder(Password, hldsPath);
    setTabOrder(hldsPath, Connection);
    setTabOrder(Connection, GameHost);
    setTabOrder(GameHost, GamePort);
    setTabOrder(GamePort, LogAddress);
    setTabOrder(LogAddress, LogPort);
    setTabOrder(LogPort, StunServer);

    m_host.edit = Host;
    m_user.edit = User;
    m_password.edit = Password;
    m_hldsPath.edit = hldsPath;
    m_gameHost.edit = GameHost;
    m_logAddress.edit = LogAddress;
    m_stunServer.edit = StunServer;

    connect(ServerList, &QListWidget::itemSelectionChanged, this, guarded(this, &TsettingsFrame::ServerListClick));
    // A click on the entry already selected reads the profile again too.
    connect(ServerList, &QListWidget::itemClicked, this, guarded(this, &TsettingsFrame::ServerListClick));
    connect(Connection, &QComboBox::activated, this,
        [this](int index) { runGuarded([this, index] { ConnectionChange(index); }); });
    connect(BAdd, &QPushButton::clicked, this, guarded(this, &TsettingsFrame::BAddClick));
    connect(BDelete, &QPushButton::clicked, this, guarded(this, &TsettingsFrame::BDeleteClick));
    connect(BSave, &QPushButton::clicked, this, guarded(this, &TsettingsFrame::BSaveClick));
}

void TsettingsFrame::showValue(FieldValue& field, const std::string& bytes)
{
    field.storedBytes = bytes;
    field.shownText = toDisplay(bytes);
    field.edit->setText(field.shownText);
}

std::string TsettingsFrame::valueToSave(const FieldValue& field) const
{
    const QString text = field.edit->text();
    return text == field.shownText ? field.storedBytes : fromDisplay(text);
}

void TsettingsFrame::reloadServerList()
{
    velth::setProfileNames(ServerList, m_context.store().profileNames());
}

void TsettingsFrame::ServerListClick()
{
    const std::optional<std::string> name = currentProfile(ServerList);
    if (!name)
        return;
    // One reading of the file for all fields.
    const ProfileSection profile = m_context.store().readProfile(*name);
    ServerName->setText(toDisplay(*name));
    const std::string connection = profile.readString(kConnectionKey);
    const std::optional<ConnectionKind> kind = parseConnectionKind(connection);
    showValue(m_host, profile.readString("HOST"));
    // Without a PORT the kind's usual port, the one its connections use.
    Port->setValue(profile.readInt("PORT", kind ? defaultPort(*kind) : kDefaultPort));
    showValue(m_user, profile.readString("USER"));
    showValue(m_password, profile.readString("PASS"));
    showValue(m_hldsPath, profile.readString("HLDS"));
    m_unknownConnection = kind ? std::string() : connection;
    Connection->setCurrentIndex(kind ? static_cast<int>(*kind) : -1);
    m_shownConnection = Connection->currentIndex();
    showValue(m_gameHost, profile.readString(kGameHostKey));
    GamePort->setValue(readUdpPort(profile, kGamePortKey, kDefaultGamePort));
    showValue(m_logAddress, profile.readString(kLogAddressKey));
    LogPort->setValue(readUdpPort(profile, kLogPortKey, kDefaultLogPort));
    // Without the key the default, as the live log reads it; empty stays empty.
    showValue(m_stunServer, profile.readString(kStunServerKey, kDefaultStunServer));
}

// Picking another kind moves a port left at the old kind's usual port to the
// new kind's; a port the user chose stays.
void TsettingsFrame::ConnectionChange(int index)
{
    if (index < 0 || index == m_shownConnection)
        return;
    const int oldDefault
        = m_shownConnection < 0 ? -1 : defaultPort(kConnectionKinds[static_cast<std::size_t>(m_shownConnection)]);
    if (Port->portValue() == oldDefault)
        Port->setValue(defaultPort(kConnectionKinds[static_cast<std::size_t>(index)]));
    m_shownConnection = index;
}

void TsettingsFrame::BAddClick()
{
    Prompts& prompts = m_context.prompts();
    const std::optional<QString> typed
        = prompts.inputText(QStringLiteral("Add new Server"), QStringLiteral("Servername"), kMaxNameLength);
    if (!typed)
        return;
    // The name becomes a section header and a folder under cfgs as it stands.
    if (!isValidProfileName(*typed)) {
        prompts.errorBox(QStringLiteral("Please enter a valid servername!"));
        return;
    }
    const std::string name = fromDisplay(*typed);
    const QLocale locale;
    const QString upper = locale.toUpper(*typed);
    // Every section of the file counts, not only those the list shows (it
    // stops at 16,384 bytes of names): writing to an existing section would
    // clear that profile's host. The store matches sections by ASCII case
    // alone, which the locale's upper case does not always cover (Turkish "i").
    for (const std::string& existing : m_context.store().allProfileNames()) {
        if (locale.toUpper(toDisplay(existing)) == upper || iniNamesEqual(existing, name)) {
            prompts.errorBox(QStringLiteral("This servername already exists!"));
            return;
        }
    }
    m_context.store().writeString(name, "HOST", "");
    reloadServerList();
    // A folder that cannot be made is not reported: the profile exists anyway.
    makeFolders(m_context.profileFolder(name));
    m_context.setStatus(kRestartText);
}

void TsettingsFrame::BDeleteClick()
{
    const std::optional<std::string> name = currentProfile(ServerList);
    if (!name) {
        m_context.prompts().errorBox(kSelectServerText);
        return;
    }
    const QString question
        = QStringLiteral("Do you want to delete ") + ServerList->currentItem()->text() + QStringLiteral(" ?");
    if (!m_context.prompts().confirm(question))
        return;
    m_context.store().eraseProfile(*name);
    reloadServerList();
    m_context.setStatus(kRestartText);
}

void TsettingsFrame::BSaveClick()
{
    const std::optional<std::string> name = currentProfile(ServerList);
    if (!name) {
        m_context.prompts().errorBox(kSelectServerText);
        return;
    }
    ProfileStore& store = m_context.store();
    store.writeString(*name, "HOST", valueToSave(m_host));
    store.writeInt(*name, "PORT", Port->portValue());
    store.writeString(*name, "USER", valueToSave(m_user));
    store.writeString(*name, "PASS", valueToSave(m_password));
    store.writeString(*name, "HLDS", valueToSave(m_hldsPath));
    const int kind = Connection->currentIndex();
    store.writeString(*name, kConnectionKey,
        kind < 0 ? m_unknownConnection : connectionKindValue(kConnectionKinds[static_cast<std::size_t>(kind)]));
    store.writeString(*name, kGameHostKey, valueToSave(m_gameHost));
    store.writeInt(*name, kGamePortKey, GamePort->portValue());
    store.writeString(*name, kLogAddressKey, valueToSave(m_logAddress));
    store.writeInt(*name, kLogPortKey, LogPort->portValue());
    store.writeString(*name, kStunServerKey, valueToSave(m_stunServer));
    m_context.setStatus(QStringLiteral("Settings successfully saved."));
}

void TsettingsFrame::setProfileNames(const std::vector<std::string>& names)
{
    velth::setProfileNames(ServerList, names);
}

std::vector<std::string> TsettingsFrame::profileNames() const
{
    return velth::profileNames(ServerList);
}

} // namespace velth
