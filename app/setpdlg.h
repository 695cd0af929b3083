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

protected:
    void showEvent(QShowEvent* event) override;

private:
    void CreateControls();
    void CreateEdits();
    void CreateOptions();
    QGridLayout* FieldGrid();
    void LayOut();
    void SetTabOrder();
    void Button3Click();
    void Button4Click();
};

// Fills the dialog from `mailer` and `run`, shows it through ExecDialog,
// copies the values back only when it closes with OK, and destroys it.
// Help (Button4) opens the read-me and closes the dialog as Cancel.
void ShowSetup(QWidget* parent, TSMTP& mailer, TRunSettings& run);
