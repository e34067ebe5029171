#include "editors/UserFrame.h"

#include "common/AppContext.h"
#include "common/Error.h"
#include "common/ErrorReport.h"
#include "common/FileIo.h"
#include "common/ProfileSelector.h"
#include "common/Prompts.h"
#include "common/TextLines.h"
#include "net/FtpClient.h"
#include "net/TransferProcedure.h"
#include "skin/PageTabs.h"

#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTextDocument>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>

namespace velth {
namespace {

const char* const kFileName = "users.ini";

// Where each bar control sits at the bar's design width.
struct BarPlace
{
    int x;
    int y;
};
constexpr BarPlace kLabelPlace{ 111, 9 };
constexpr BarPlace kServerPlace{ 202, 5 };
constexpr BarPlace kUploadPlace{ 353, 5 };
constexpr BarPlace kDownloadPlace{ 433, 5 };

} // namespace

TuserFrame::TuserFrame(AppContext& context, QWidget* parent)
    : QFrame(parent)
    , m_context(context)
    , m_ftp(std::make_unique<FtpClient>())
{
    MainControl = addPageTabs(this);

    userTab = new QWidget;
    userTab->setObjectName(QStringLiteral("userTab"));
    MainControl->addTab(userTab, tabIcon(7), QStringLiteral("Users"));
    auto* tabLayout = new QVBoxLayout(userTab);
    tabLayout->setContentsMargins(0, 0, 0, 0);
    tabLayout->setSpacing(0);

    Users = new QPlainTextEdit(userTab);
    Users->setObjectName(QStringLiteral("Users"));
    QFont fixed(QStringLiteral("Fixedsys"));
    fixed.setStyleHint(QFont::TypeWriter);
    fixed.setFixedPitch(true);
    Users->setFont(fixed);
    Users->setLineWrapMode(QPlainTextEdit::NoWrap);
    Users->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Users->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Users->setContextMenuPolicy(Qt::NoContextMenu);
    Users->setTabChangesFocus(true);
    tabLayout->addWidget(Users, 1);

    BottomBar = new QFrame(userTab);
    BottomBar->setObjectName(QStringLiteral("BottomBar"));
    BottomBar->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    BottomBar->setFixedHeight(30);
    tabLayout->addWidget(BottomBar);

    Label1 = new QLabel(QStringLiteral("Select FTP Server"), BottomBar);
    Label1->setObjectName(QStringLiteral("Label1"));
    FTPServer = new QComboBox(BottomBar);
    FTPServer->setObjectName(QStringLiteral("FTPServer"));
    FTPServer->resize(145, 21);
    BUpload = new QPushButton(QStringLiteral("Upload"), BottomBar);
    BUpload->setObjectName(QStringLiteral("BUpload"));
    BUpload->resize(75, 21);
    BDownload = new QPushButton(QStringLiteral("Download"), BottomBar);
    BDownload->setObjectName(QStringLiteral("BDownload"));
    BDownload->resize(75, 21);
    Label1->adjustSize();
    BottomBar->installEventFilter(this);
    placeBarControls();

    connect(FTPServer, &QComboBox::activated, this, guarded(this, &TuserFrame::FTPServerChange));
    connect(BUpload, &QPushButton::clicked, this, guarded(this, &TuserFrame::BUploadClick));
    connect(BDownload, &QPushButton::clicked, this, guarded(this, &TuserFrame::BDownloadClick));
}

// The client goes first: a transfer still running ends here, before the
// controls its callbacks would touch.
TuserFrame::~TuserFrame()
{
    m_ftp.reset();
}

bool TuserFrame::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == BottomBar && event->type() == QEvent::Resize)
        placeBarControls();
    return QFrame::eventFilter(watched, event);
}

void TuserFrame::placeBarControls()
{
    const int shift = BottomBar->width() - kBarDesignWidth;
    // The label ends before the selector even where the font is wider than
    // the one the bar was designed with.
    const int labelEnd = kServerPlace.x + shift - 4;
    Label1->move(std::min(kLabelPlace.x + shift, labelEnd - Label1->width()), kLabelPlace.y);
    FTPServer->move(kServerPlace.x + shift, kServerPlace.y);
    BUpload->move(kUploadPlace.x + shift, kUploadPlace.y);
    BDownload->move(kDownloadPlace.x + shift, kDownloadPlace.y);
}

bool TuserFrame::profileSelected()
{
    return requireProfile(m_context.prompts(), FTPServer).has_value();
}

void TuserFrame::loadLocalCopy(const std::string& profile)
{
    // Emptied first: when the profile has no readable copy, the editor must
    // not go on showing another server's list under this profile's name.
    Users->clear();
    m_encoding = TextEncoding::Utf8;
    const std::string path = m_context.localCopy(profile, kFileName);
    const std::optional<std::string> bytes = readFileIfExists(path);
    if (!bytes)
        throwFileError("Cannot open file", path, ENOENT);
    // Every line end becomes CR LF on disk; the editor holds LF.
    const std::string crlf = toCrLf(*bytes);
    std::string lf;
    lf.reserve(crlf.size());
    for (std::size_t i = 0; i < crlf.size(); ++i) {
        if (!(crlf[i] == '\r' && i + 1 < crlf.size() && crlf[i + 1] == '\n'))
            lf += crlf[i];
    }
    const DecodedText decoded = decodeText(lf);
    m_encoding = decoded.encoding;
    Users->setPlainText(decoded.text);
}

void TuserFrame::writeLocalCopy(const std::string& profile)
{
    // The raw text keeps every character (toPlainText() would turn a no-break
    // space into a space); blocks are separated by U+2029.
    QString text = Users->document()->toRawText();
    text.replace(QChar(QChar::ParagraphSeparator), QLatin1Char('\n'));
    writeFileAtomic(m_context.localCopy(profile, kFileName), toCrLf(encodeText(text, m_encoding)));
}

void TuserFrame::FTPServerChange()
{
    if (const auto profile = currentProfile(FTPServer))
        loadLocalCopy(*profile);
}

void TuserFrame::BUploadClick()
{
    TransferVariant upload;
    upload.checks = [this] { return profileSelected(); };
    upload.prepare = [this](const std::string& profile) { writeLocalCopy(profile); };
    upload.progressText = QStringLiteral("Uploading userfile.");
    upload.transfer = [this](FtpClient& client, const std::string& profile, FtpClient::Done done) {
        client.store(m_context.localCopy(profile, kFileName), kFileName, std::move(done));
    };
    upload.finalText = QStringLiteral("Finished.");
    runTransfer(m_context, *m_ftp, FTPServer, std::move(upload));
}

void TuserFrame::BDownloadClick()
{
    TransferVariant download;
    download.checks = [this] { return profileSelected(); };
    download.progressText = QStringLiteral("Downloading userfile.");
    download.transfer = [this](FtpClient& client, const std::string& profile, FtpClient::Done done) {
        client.retrieve(kFileName, m_context.localCopy(profile, kFileName), std::move(done));
    };
    download.finalText = QStringLiteral("Finished.");
    download.after = [this](const std::string& profile) {
        // Only while the editor belongs to that profile: a profile picked
        // during the transfer has its own copy on show, and uploading one
        // server's list to another must not become possible.
        if (currentProfile(FTPServer) == profile)
            loadLocalCopy(profile);
    };
    runTransfer(m_context, *m_ftp, FTPServer, std::move(download));
}

void TuserFrame::setProfileNames(const std::vector<std::string>& names)
{
    velth::setProfileNames(FTPServer, names);
}

} // namespace velth
