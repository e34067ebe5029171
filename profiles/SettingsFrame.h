#pragma once

#include <QFrame>
#include <QSpinBox>

#include <string>
#include <vector>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTabWidget;

namespace velth {

class AppContext;

// The integer spin field of the port. The text may hold what the user types
// (digits, signs, the decimal separator) even out of range; leaving the field
// pulls it into the range, and reading it takes the text as it stands,
// pulled into the range too, so no port outside it is ever saved.
class TPortEdit final : public QSpinBox
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TPortEdit)

public:
    explicit TPortEdit(QWidget* parent = nullptr, int initialValue = 21);

    static constexpr int kMinPort = 1;
    static constexpr int kMaxPort = 65535;

    // The text as an integer, pulled into the range; a text that is no
    // integer (an empty field, "1.5") reads as the lower bound.
    int portValue() const;

protected:
    QValidator::State validate(QString& input, int& pos) const override;
    int valueFromText(const QString& text) const override;
};

// The Settings page: lists the server profiles, shows and saves the fields of
// the selected one, adds and deletes profiles.
class TsettingsFrame final : public QFrame
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TsettingsFrame)

public:
    explicit TsettingsFrame(AppContext& context, QWidget* parent = nullptr);
    // Fills the profile list, as the main window does once at start-up, and
    // the names it holds then (the list keeps to its size limit).
    void setProfileNames(const std::vector<std::string>& names);
    std::vector<std::string> profileNames() const;

    void ServerListClick();
    void BAddClick();
    void BDeleteClick();
    void BSaveClick();

    QTabWidget* MainControl = nullptr;
    QWidget* SettingsTab = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QListWidget* ServerList = nullptr;
    QFrame* Panel1 = nullptr;
    QLineEdit* hldsPath = nullptr;
    QLabel* Label6 = nullptr;
    QLineEdit* User = nullptr;
    QLineEdit* Password = nullptr;
    QLabel* Label5 = nullptr;
    QLineEdit* Host = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label3 = nullptr;
    QPushButton* BAdd = nullptr;
    QPushButton* BDelete = nullptr;
    QPushButton* BSave = nullptr;
    QLineEdit* ServerName = nullptr;
    QLabel* Label2 = nullptr;
    TPortEdit* Port = nullptr;
    QLabel* Label7 = nullptr;
    // Pick-only list of the connection kinds; each item's data is the value
    // the profile stores.
    QComboBox* Connection = nullptr;
    // Where the game server is (empty: on Host) and its UDP port.
    QLabel* GameHostLabel = nullptr;
    QLineEdit* GameHost = nullptr;
    QLabel* GamePortLabel = nullptr;
    TPortEdit* GamePort = nullptr;
    // Where the game server sends its live log (empty: the address this
    // computer reaches the server from) and the UDP port it arrives on.
    QLabel* LogAddressLabel = nullptr;
    QLineEdit* LogAddress = nullptr;
    QLabel* LogPortLabel = nullptr;
    TPortEdit* LogPort = nullptr;
    // The STUN server that tells the live log this computer's address behind
    // a router (STUNSERVER; empty: none is asked).
    QLabel* StunServerLabel = nullptr;
    QLineEdit* StunServer = nullptr;
    QLabel* LogPortNote = nullptr;

private:
    // A text field shown from a stored value. While its text is unchanged it
    // saves the stored bytes, so a value in another encoding survives a Save.
    struct FieldValue
    {
        QLineEdit* edit = nullptr;
        std::string storedBytes;
        QString shownText;
    };
    void showValue(FieldValue& field, const std::string& bytes);
    std::string valueToSave(const FieldValue& field) const;
    void reloadServerList();
    void ConnectionChange(int index);

    AppContext& m_context;
    FieldValue m_host;
    FieldValue m_user;
    FieldValue m_password;
    FieldValue m_hldsPath;
    FieldValue m_gameHost;
    FieldValue m_logAddress;
    FieldValue m_stunServer;
    // The stored connection value while the list shows none of its entries
    // (a value the program does not know): Save writes it back unchanged.
    std::string m_unknownConnection;
    int m_shownConnection = 0;
};

} // namespace velth
