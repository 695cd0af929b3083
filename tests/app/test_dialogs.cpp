// The Setup dialog: filling, the copy-back rules, the spin boxes, Browse
// and Help, all driven through the dialog seam without a modal loop.
#include "readme.h"
#include "setpdlg.h"
#include "support_dlg_seams.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TSetupDlg& AsSetup(QDialog& dialog)
{
    return dynamic_cast<TSetupDlg&>(dialog);
}

// Changes every control away from what Fill put there.
void EditEverything(TSetupDlg& d)
{
    d.ServerEdit->setText("edited.example.org");
    d.spnPort->SetValue(2525);
    d.UserAddressEdit->setText("edited@example.org");
    d.UserNameEdit->setText("Edited");
    d.LogFileNameEdit->setText("/tmp/edited.log");
    d.EncodeComboBox->setCurrentIndex(0);
    d.CharSetComboBox->setCurrentIndex(1);
    d.spnTimeOut->SetValue(5);
    d.chkUseDomainAddress->setChecked(!d.chkUseDomainAddress->isChecked());
    d.chkUseBCC->setChecked(!d.chkUseBCC->isChecked());
    d.chkShowSuccess->setChecked(!d.chkShowSuccess->isChecked());
    d.chkoneFilePerMsg->setChecked(!d.chkoneFilePerMsg->isChecked());
    d.radMsgText->SetItemIndex(1);
    d.txtMsgTextFile->setText("/tmp/text.txt");
    d.radMsgSubject->SetItemIndex(2);
    d.txtMsgSubjectDef->setText("Edited subject");
}

struct TSnapshot {
    int Port, TimeOut;
    bool UseDomainAddress, ShowResult;
    std::string Server, From, LogFileName;
    TEncoding Encoding;
    TCharSet CharSet;
    bool UseBCC, OneFilePerMsg;
    std::string MsgTextFile, MsgSubjectDef;
    int MsgText, MsgSubject;
    bool operator==(const TSnapshot&) const = default;
};

TSnapshot Snap(const TSMTP& m, const TRunSettings& r)
{
    return {m.DefaultPort(), m.TimeOut(), m.UseDomainAddress(), m.ShowResult(), m.Server(), m.From(),
            m.LogFileName(), m.Encoding(), m.CharSet(), r.UseBCC, r.OneFilePerMsg, r.MsgTextFile,
            r.MsgSubjectDef, r.MsgText, r.MsgSubject};
}

class SetupDialog : public ::testing::Test {
protected:
    TDlgSeams Seams;
    TSMTP Mailer;
    TRunSettings Run;
};

TEST_F(SetupDialog, DefaultsFillTheControls)
{
    Seams.OnDialog = [](QDialog& dialog) {
        auto& d = AsSetup(dialog);
        EXPECT_EQ(d.spnPort->Text(), "25");
        EXPECT_EQ(d.spnTimeOut->Text(), "60");
        EXPECT_EQ(d.EncodeComboBox->currentText(), "MIME");
        EXPECT_EQ(d.CharSetComboBox->currentText(), "US-ASCII");
        EXPECT_TRUE(d.chkUseDomainAddress->isChecked());
        EXPECT_TRUE(d.chkUseBCC->isChecked());
        EXPECT_TRUE(d.chkShowSuccess->isChecked());
        EXPECT_FALSE(d.chkoneFilePerMsg->isChecked());
        EXPECT_EQ(d.radMsgText->ItemIndex(), 0);
        EXPECT_EQ(d.radMsgSubject->ItemIndex(), 0);
        EXPECT_EQ(d.ServerEdit->text(), "");
        EXPECT_EQ(d.UserAddressEdit->text(), "");
        EXPECT_EQ(d.UserNameEdit->text(), "");
    };
    ShowSetup(nullptr, Mailer, Run);
    EXPECT_EQ(Seams.DialogsShown, 1);
}

TEST_F(SetupDialog, FormHasItsControlsCaptionsAndItems)
{
    TSetupDlg d;
    EXPECT_EQ(d.windowTitle(), "Setup...");
    const char* names[] = {"Label1", "ServerEdit", "Label8", "spnPort", "Label2", "UserAddressEdit", "Label3",
                           "UserNameEdit", "Label4", "LogFileNameEdit", "Label5", "EncodeComboBox", "Label6",
                           "CharSetComboBox", "chkUseDomainAddress", "chkUseBCC", "chkShowSuccess",
                           "chkoneFilePerMsg", "Label7", "spnTimeOut", "Label9", "radMsgText", "txtMsgTextFile",
                           "Button3", "radMsgSubject", "txtMsgSubjectDef", "Button4", "Button1", "Button2"};
    for (const char* name : names)
        EXPECT_NE(d.findChild<QWidget*>(name), nullptr) << name;
    EXPECT_EQ(d.Label1->text(), "SMTP server:");
    EXPECT_EQ(d.Label7->text(), "Time-out:");
    EXPECT_EQ(d.Label9->text(), "seconds");
    EXPECT_EQ(d.Button3->text(), "Browse...");
    EXPECT_EQ(d.Button4->text(), "&Help");
    EXPECT_EQ(d.Button1->text(), "OK");
    EXPECT_EQ(d.Button2->text(), "Cancel");
    EXPECT_TRUE(d.Button1->isDefault());
    ASSERT_EQ(d.EncodeComboBox->count(), 2);
    EXPECT_EQ(d.EncodeComboBox->itemText(0), "UUEncode");
    EXPECT_EQ(d.EncodeComboBox->itemText(1), "MIME");
    EXPECT_FALSE(d.EncodeComboBox->isEditable());
    ASSERT_EQ(d.CharSetComboBox->count(), 2);
    EXPECT_EQ(d.CharSetComboBox->itemText(1), "ISO-8859-1");
    EXPECT_EQ(d.radMsgText->title(), "Standard message text");
    ASSERT_EQ(d.radMsgText->Count(), 2);
    EXPECT_EQ(d.radMsgText->Item(1)->text(), "Use file for text:");
    EXPECT_EQ(d.radMsgSubject->title(), "Standard message subject");
    ASSERT_EQ(d.radMsgSubject->Count(), 3);
    EXPECT_EQ(d.radMsgSubject->Item(1)->text(), "Use attachment filename(s)");
    EXPECT_EQ(d.layout()->sizeConstraint(), QLayout::SetFixedSize);
    EXPECT_FALSE(d.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(d.windowFlags() & Qt::WindowMinimizeButtonHint);
}

TEST_F(SetupDialog, TabOrderFollowsTheForm)
{
    TSetupDlg d;
    d.show();
    const std::vector<QWidget*> expected = {
        d.ServerEdit, d.UserAddressEdit, d.UserNameEdit, d.LogFileNameEdit, d.EncodeComboBox,
        d.CharSetComboBox, d.Button1, d.Button2, d.chkShowSuccess, d.txtMsgTextFile, d.Button3,
        d.radMsgText->Item(0), d.radMsgText->Item(1), d.radMsgSubject->Item(0), d.radMsgSubject->Item(1),
        d.radMsgSubject->Item(2), d.txtMsgSubjectDef, d.chkUseBCC, d.spnPort, d.spnTimeOut,
        d.chkUseDomainAddress, d.chkoneFilePerMsg, d.Button4};
    std::vector<QWidget*> chain;
    QWidget* w = d.ServerEdit;
    do {
        if (std::find(expected.begin(), expected.end(), w) != expected.end())
            chain.push_back(w);
        w = w->nextInFocusChain();
    } while (w != d.ServerEdit && chain.size() <= expected.size());
    EXPECT_EQ(chain, expected);
    EXPECT_EQ(d.focusWidget(), d.ServerEdit);
}

TEST_F(SetupDialog, SenderWithNameFillsBothEditsAndClearedNameLeavesBareAddress)
{
    Mailer.SetFrom("me@example.org|Jo Bloggs");
    Seams.OnDialog = [](QDialog& dialog) {
        auto& d = AsSetup(dialog);
        EXPECT_EQ(d.UserAddressEdit->text(), "me@example.org");
        EXPECT_EQ(d.UserNameEdit->text(), "Jo Bloggs");
        d.UserNameEdit->clear();
        d.Button1->click();
    };
    ShowSetup(nullptr, Mailer, Run);
    EXPECT_EQ(Mailer.From(), "me@example.org");
}

TEST_F(SetupDialog, OkCopiesEveryControlBack)
{
    Seams.OnDialog = [](QDialog& dialog) {
        auto& d = AsSetup(dialog);
        EditEverything(d);
        d.EncodeComboBox->setCurrentIndex(1);   // MIME, so the character set is taken
        d.Button1->click();
    };
    ShowSetup(nullptr, Mailer, Run);
    EXPECT_EQ(Mailer.Server(), "edited.example.org");
    EXPECT_EQ(Mailer.DefaultPort(), 2525);
    EXPECT_EQ(Mailer.From(), "edited@example.org|Edited");
    EXPECT_EQ(Mailer.LogFileName(), "/tmp/edited.log");
    EXPECT_EQ(Mailer.Encoding(), etMIME);
    EXPECT_EQ(Mailer.CharSet(), csISO8859);
    EXPECT_EQ(Mailer.TimeOut(), 5);
    EXPECT_FALSE(Mailer.UseDomainAddress());
    EXPECT_FALSE(Mailer.ShowResult());
    EXPECT_FALSE(Run.UseBCC);
    EXPECT_TRUE(Run.OneFilePerMsg);
    EXPECT_EQ(Run.MsgText, 1);
    EXPECT_EQ(Run.MsgTextFile, "/tmp/text.txt");
    EXPECT_EQ(Run.MsgSubject, 2);
    EXPECT_EQ(Run.MsgSubjectDef, "Edited subject");
}

TEST_F(SetupDialog, CancelEscCloseBoxAndHelpChangeNothing)
{
    SetStartDir("");
    const std::pair<const char*, std::function<void(TSetupDlg&)>> closers[] = {
        {"Cancel", [](TSetupDlg& d) { d.Button2->click(); }},
        {"Esc", [](TSetupDlg& d) { PressKey(&d, Qt::Key_Escape); }},
        {"close box", [](TSetupDlg& d) { d.close(); }},
        {"Help", [](TSetupDlg& d) { d.Button4->click(); }},
    };
    Mailer.SetServer("mail.example.org");
    Mailer.SetFrom("me@example.org|Me");
    const TSnapshot before = Snap(Mailer, Run);
    for (const auto& [what, close] : closers) {
        Seams.OnDialog = [&](QDialog& dialog) {
            auto& d = AsSetup(dialog);
            EditEverything(d);
            close(d);
            EXPECT_FALSE(d.isVisible()) << what;
        };
        ShowSetup(nullptr, Mailer, Run);
        EXPECT_EQ(Snap(Mailer, Run), before) << what;
    }
    EXPECT_EQ(Seams.Edited.size(), 1u) << "only Help opens the read-me";
}

TEST_F(SetupDialog, UuencodeWithIsoStoresUsAscii)
{
    Seams.OnDialog = [](QDialog& dialog) {
        auto& d = AsSetup(dialog);
        d.EncodeComboBox->setCurrentIndex(0);
        d.CharSetComboBox->setCurrentIndex(1);
        d.Button1->click();
    };
    ShowSetup(nullptr, Mailer, Run);
    EXPECT_EQ(Mailer.Encoding(), etUU);
    EXPECT_EQ(Mailer.CharSet(), csUSASCII);

    Seams.OnDialog = [](QDialog& dialog) {
        EXPECT_EQ(AsSetup(dialog).CharSetComboBox->currentText(), "US-ASCII");
    };
    ShowSetup(nullptr, Mailer, Run);
}

TEST_F(SetupDialog, SwitchingFromUuencodeToMimeTakesTheCharacterSet)
{
    // Only with the encoding set first does the client take ISO-8859-1.
    Mailer.SetEncoding(etUU);
    Seams.OnDialog = [](QDialog& dialog) {
        auto& d = AsSetup(dialog);
        EXPECT_EQ(d.EncodeComboBox->currentText(), "UUEncode");
        d.EncodeComboBox->setCurrentIndex(1);
        d.CharSetComboBox->setCurrentIndex(1);
        d.Button1->click();
    };
    ShowSetup(nullptr, Mailer, Run);
    EXPECT_EQ(Mailer.Encoding(), etMIME);
    EXPECT_EQ(Mailer.CharSet(), csISO8859);
}

TEST_F(SetupDialog, TypedPortZeroIsTaken)
{
    Seams.OnDialog = [](QDialog& dialog) {
        auto& d = AsSetup(dialog);
        d.spnPort->selectAll();
        TypeText(d.spnPort, "0");
        EXPECT_EQ(d.spnPort->Text(), "0");
        d.Button1->click();
    };
    ShowSetup(nullptr, Mailer, Run);
    EXPECT_EQ(Mailer.DefaultPort(), 0);
}

TEST_F(SetupDialog, EnterAcceptsTheDialog)
{
    Seams.OnDialog = [](QDialog& dialog) {
        auto& d = AsSetup(dialog);
        d.ServerEdit->setText("typed.example.org");
        PressKey(d.ServerEdit, Qt::Key_Return);
    };
    ShowSetup(nullptr, Mailer, Run);
    EXPECT_EQ(Mailer.Server(), "typed.example.org");
}

TEST_F(SetupDialog, ValuesTheClientCannotHoldKeepTheOldSetting)
{
    Mailer.SetDefaultPort(587);
    Mailer.SetTimeOut(30);
    Run.MsgText = 7;   // no radio item for it: none is shown chosen
    Seams.OnDialog = [](QDialog& dialog) {
        auto& d = AsSetup(dialog);
        EXPECT_EQ(d.radMsgText->ItemIndex(), -1);
        d.spnPort->SetValue(70000);
        d.spnTimeOut->SetValue(0);
        d.Button1->click();
    };
    ShowSetup(nullptr, Mailer, Run);
    EXPECT_EQ(Mailer.DefaultPort(), 587);
    EXPECT_EQ(Mailer.TimeOut(), 30);
    EXPECT_EQ(Run.MsgText, 7);

    Seams.OnDialog = [](QDialog& dialog) {
        auto& d = AsSetup(dialog);
        d.spnPort->SetValue(-1);
        d.Button1->click();
    };
    ShowSetup(nullptr, Mailer, Run);
    EXPECT_EQ(Mailer.DefaultPort(), 587);
}

TEST_F(SetupDialog, BrowsePicksTheTextFileAndKeepsTheRadioChoice)
{
    Seams.ChooserAnswers = {QString("/home/me/standard.txt"), std::nullopt};
    Seams.OnDialog = [](QDialog& dialog) {
        auto& d = AsSetup(dialog);
        d.Button3->click();
        EXPECT_EQ(d.txtMsgTextFile->text(), "/home/me/standard.txt");
        EXPECT_EQ(d.radMsgText->ItemIndex(), 0);
        d.Button3->click();   // cancelled: nothing changes
        EXPECT_EQ(d.txtMsgTextFile->text(), "/home/me/standard.txt");
        d.Button1->click();
    };
    ShowSetup(nullptr, Mailer, Run);
    EXPECT_EQ(Run.MsgTextFile, "/home/me/standard.txt");
    EXPECT_EQ(Run.MsgText, 0);
    ASSERT_EQ(Seams.Choosers.size(), 2u);
    const TFileChooser& chooser = Seams.Choosers[0];
    EXPECT_EQ(chooser.ChooserKind, TFileChooser::Open);
    EXPECT_EQ(chooser.Title, "Select text file...");
    EXPECT_EQ(chooser.Filter, "All files (*.*)|*.*|Text files (*.txt)|*.txt");
    EXPECT_EQ(chooser.InitialDir, ".");
    EXPECT_TRUE(chooser.MustExist);
}

TEST_F(SetupDialog, HelpOpensTheReadmeOfTheStartFolderOrTheInstalledOne)
{
    QTemporaryDir dir;
    SetStartDir(dir.path());
    Seams.OnDialog = [](QDialog& dialog) { AsSetup(dialog).Button4->click(); };
    ShowSetup(nullptr, Mailer, Run);
    QFile readme(dir.path() + "/readme.txt");
    ASSERT_TRUE(readme.open(QIODevice::WriteOnly));
    readme.close();
    ShowSetup(nullptr, Mailer, Run);
    ASSERT_EQ(Seams.Edited.size(), 2u);
    EXPECT_EQ(Seams.Edited[0], QStringLiteral(TESSALY_DATADIR "/readme.txt"));
    EXPECT_EQ(Seams.Edited[1], dir.path() + "/readme.txt");
}

TEST(StartDir, EndsInOneSlashUnlessEmpty)
{
    const std::pair<QString, QString> cases[] = {
        {"/home/me", "/home/me/"}, {"/home/me/", "/home/me/"}, {"/", "/"}, {"", ""}};
    for (const auto& [given, stored] : cases) {
        SetStartDir(given);
        EXPECT_EQ(StartDir(), stored) << given.toStdString();
    }
}

// ---- the spin box ----------------------------------------------------------

TEST(SpinEdit, RefusesLettersAndTakesSignsAndDecimalSeparator)
{
    TSpinEdit spin;
    spin.selectAll();
    TypeText(&spin, "1a2b");
    EXPECT_EQ(spin.Text(), "12");
    spin.selectAll();
    const QString decimal = QLocale().decimalPoint();
    TypeText(&spin, "-+" + decimal + "7");
    EXPECT_EQ(spin.Text(), "-+" + decimal + "7");
}

TEST(SpinEdit, PastedLettersAreRefused)
{
    TSpinEdit spin;
    int pos = 0;
    QString pasted = "12a";
    EXPECT_EQ(spin.validate(pasted, pos), QValidator::Invalid);
    QString digits = "-12";
    EXPECT_EQ(spin.validate(digits, pos), QValidator::Acceptable);
    QString empty;
    EXPECT_EQ(spin.validate(empty, pos), QValidator::Acceptable);
}

TEST(SpinEdit, TextThatIsNotAWholeNumberReadsAsZero)
{
    const std::pair<QString, int> cases[] = {
        {"42", 42}, {"-3", -3}, {"+8", 8}, {"-", 0}, {"", 0}, {"1.5", 0}, {"--1", 0}, {"99999999999", 0}};
    TSpinEdit spin;
    for (const auto& [text, value] : cases) {
        spin.SetText(text);
        EXPECT_EQ(spin.Value(), value) << text.toStdString();
    }
}

TEST(SpinEdit, ArrowsStepByOneWithoutBounds)
{
    TSpinEdit spin;
    spin.SetValue(0);
    spin.stepBy(-1);
    EXPECT_EQ(spin.Value(), -1);
    spin.SetValue(65535);
    PressKey(&spin, Qt::Key_Up);
    EXPECT_EQ(spin.Value(), 65536);
    spin.SetValue(std::numeric_limits<int>::max());
    spin.stepBy(1);
    EXPECT_EQ(spin.Value(), std::numeric_limits<int>::max());
}

}
