#pragma once

#include "common/TextCodec.h"

#include <QFrame>

#include <memory>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;

namespace velth {

class AppContext;
class FtpClient;

// The User edit page: the server's users.ini as free text, downloaded into
// the profile's local copy, edited, and uploaded again.
class TuserFrame final : public QFrame
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TuserFrame)

public:
    explicit TuserFrame(AppContext& context, QWidget* parent = nullptr);
    // Fills the server selector, as the main window does once at start-up.
    void setProfileNames(const std::vector<std::string>& names);
    ~TuserFrame() override;

    // Handlers.
    void FTPServerChange();
    void BUploadClick();
    void BDownloadClick();

    // The page's own FTP client (tests shorten its time-outs).
    FtpClient& ftpClient() { return *m_ftp; }

    // Controls, by the names the program's layout gives them.
    QTabWidget* MainControl = nullptr;
    QWidget* userTab = nullptr;
    QPlainTextEdit* Users = nullptr;
    QFrame* BottomBar = nullptr;
    QLabel* Label1 = nullptr;
    QComboBox* FTPServer = nullptr;
    QPushButton* BUpload = nullptr;
    QPushButton* BDownload = nullptr;

    // The bar's controls keep their distance to its right edge, measured at
    // this design width.
    static constexpr int kBarDesignWidth = 514;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool profileSelected();
    void loadLocalCopy(const std::string& profile);
    void writeLocalCopy(const std::string& profile);
    void placeBarControls();

    AppContext& m_context;
    // The encoding the editor's text was decoded with; saving encodes with it
    // again, so every byte of a loaded file comes back unchanged.
    TextEncoding m_encoding = TextEncoding::Utf8;
    std::unique_ptr<FtpClient> m_ftp;
};

} // namespace velth
