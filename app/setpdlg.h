// The Setup dialog: every connection and message setting in one modal form.
// It works on the values in memory; the settings file is written later,
// when the main window closes.
#pragma once

#include "settings.h"

#include <QAbstractSpinBox>
#include <QDialog>
#include <QGroupBox>

#include <vector>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGridLayout;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QScrollArea;

// A numeric spin box without bounds. While typing it takes only digits,
// "+", "-" and the decimal separator (anything else is refused with a
// beep); a text that is still not a whole number reads as 0. The arrows
// step by 1.
class TSpinEdit : public QAbstractSpinBox {
    Q_OBJECT
public:
    explicit TSpinEdit(QWidget* parent = nullptr);

    int Value() const;
    void SetValue(int value);
    // The text as it stands, for tests that type into the box.
    QString Text() const { return text(); }
    void SetText(const QString& text);

    QValidator::State validate(QString& input, int& pos) const override;
    void stepBy(int steps) override;

    // Whether `c` may be typed into the box.
    static bool Accepts(QChar c);

protected:
    StepEnabled stepEnabled() const override;
    void keyPressEvent(QKeyEvent* event) override;
};

// A framed group of radio items; ItemIndex is the chosen item or -1.
class TRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    // Item i is named "<name>_item<i>".
    TRadioGroup(const QString& name, const QString& caption, const QStringList& items, QWidget* parent = nullptr);

    int ItemIndex() const;
    // An index outside the items leaves none chosen.
    void SetItemIndex(int index);
    QRadioButton* Item(int index) const { return FItems.at(std::size_t(index)); }
    int Count() const { return int(FItems.size()); }
    // Places `widget` on the row of item `index`, right after the item's
    // text (an edit that belongs to that choice); a stretch above 0 lets it
    // take the rest of the row.
    void AddBeside(int index, QWidget* widget, int stretch = 0);

private:
    QButtonGroup* FButtons;
    std::vector<QRadioButton*> FItems;
    std::vector<QHBoxLayout*> FRows;
    std::vector<bool> FRowStretched;
};

class TSetupDlg : public QDialog {
    Q_OBJECT
public:
    explicit TSetupDlg(QWidget* parent = nullptr);

    // Fills the controls from the values in memory.
    void Fill(const TSMTP& mailer, const TRunSettings& run);
    // Copies the controls back, Encoding then CharSet through the client's
    // setters.
    void CopyBack(TSMTP& mailer, TRunSettings& run) const;

    QLabel* Label1;
    QLineEdit* ServerEdit;
    QLabel* Label8;
    TSpinEdit* spnPort;
    QLabel* Label2;
    QLineEdit* UserAddressEdit;
    QLabel* Label3;
    QLineEdit* UserNameEdit;
    QLabel* Label4;
    QLineEdit* LogFileNameEdit;
    QLabel* Label5;
    QComboBox* EncodeComboBox;
    QLabel* Label6;
    QComboBox* CharSetComboBox;
    QCheckBox* chkUseDomainAddress;
    QCheckBox* chkUseBCC;
    QCheckBox* chkShowSuccess;
    QCheckBox* chkoneFilePerMsg;
    QLabel* Label7;
    TSpinEdit* spnTimeOut;
    QLabel* Label9;
    TRadioGroup* radMsgText;
    QLineEdit* txtMsgTextFile;
    QPushButton* Button3;   // "Browse..."
    TRadioGroup* radMsgSubject;
    QLineEdit* txtMsgSubjectDef;
    QPushButton* Button4;   // "&Help"
    QPushButton* Button1;   // "OK"
    QPushButton* Button2;   // "Cancel"

    // ---- submission: TLS and login ----
    QLabel* lblSecurity;
    QComboBox* SecurityComboBox;      // items in TSecurity order
    QLabel* lblUser;
    QLineEdit* txtUser;
    QLabel* lblAuthMethod;
    QComboBox* AuthMethodComboBox;    // items in TAuthMethod order
    QLabel* lblPasswordCommand;
    QLineEdit* txtPasswordCommand;
    QLabel* lblPortHint;
    QPushButton* btnTest;             // "&Test": connects with the fields as they stand

    // While Test runs, Cancel, Esc and the close box cancel the test
    // instead of closing the dialog.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void CreateControls();
    void CreateEdits();
    void CreateOptions();
    QGridLayout* FieldGrid();
    void LayOut();
    void SetTabOrder();
    // Caps the dialog to the screen; the fields scroll when it is too small.
    void FitOnScreen();
    void Button3Click();
    void Button4Click();
    void CreateLoginControls();
    void AddLoginRows(QGridLayout& grid);
    void FillLogin(const TSMTP& mailer);
    // The login fields and the certificate settings into `smtp`.
    void CopyLogin(TSMTP& smtp) const;
    void btnTestClick();
    void SetTesting(TSMTP* test);

    // Not fields of the form, but Test may add a trusted certificate; OK
    // keeps it, Cancel drops it.
    std::string FCAFile, FTrustedCertificates;
    TSMTP* FTest = nullptr;
    QScrollArea* FFields = nullptr;   // every field; the button row stays below it
};

// What Test reports: the server, whether the connection is encrypted,
// what the server offers, and whether the login works (or why the test
// failed, in the failure's own words).
std::string ConnectionReport(const std::string& server, const TCapabilities& offered, bool encrypted,
                             const std::string& user, const std::string& failure);

// Fills the dialog from `mailer` and `run`, shows it through ExecDialog,
// copies the values back only when it closes with OK, and destroys it.
// Help (Button4) opens the read-me and closes the dialog as Cancel.
void ShowSetup(QWidget* parent, TSMTP& mailer, TRunSettings& run);
