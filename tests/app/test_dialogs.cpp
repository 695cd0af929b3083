// The Setup, address and message dialogs, driven through the dialog seam
// without a modal loop; the settings file they fill; text bytes at the edges.
#include "../platform/platform_test_files.h"
#include "readme.h"
#include "setpdlg.h"
#include "settings.h"
#include "support_app.h"
#include "textcodec.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLocale>
#include <QPlainTextEdit>
#include <QRadioButton>

#include <stdexcept>

namespace {

void ExpectChooser(const TFileChooser& c, TFileChooser::Kind kind, const QString& title, const QString& filter)
{
    EXPECT_EQ(c.ChooserKind, kind);
    EXPECT_EQ(c.Title, title);
    EXPECT_EQ(c.Filter, filter);
    EXPECT_EQ(c.InitialDir, ".");
    EXPECT_TRUE(kind == TFileChooser::Open ? c.MustExist : c.ConfirmOverwrite);
}
const QString kOpenFilter = "All files (*.*)|*.*|Text files (*.txt)|*.txt";

// ---- Setup ---------------------------------------------------------------------

// Changes every control away from what Fill put there.
void EditEverything(TSetupDlg& d)
{
    d.ServerEdit->setText("edited.example.org");
    d.spnPort->SetValue(2525);
    d.UserAddressEdit->setText("edited@example.org");
    d.UserNameEdit->setText("Edited");
    d.LogFileNameEdit->setText("/tmp/edited.log");
    d.EncodeComboBox->setCurrentIndex(1);
    d.CharSetComboBox->setCurrentIndex(1);
    d.spnTimeOut->SetValue(5);
    for (QCheckBox* box : {d.chkUseDomainAddress, d.chkUseBCC, d.chkShowSuccess, d.chkoneFilePerMsg})
        box->setChecked(!box->isChecked());
    d.radMsgText->SetItemIndex(1);
    d.radMsgSubject->SetItemIndex(2);
    d.txtMsgSubjectDef->setText("Edited subject");
}

// Everything Setup can change.
auto Snap(const TSMTP& m, const TRunSettings& r)
{
    return std::make_tuple(m.DefaultPort(), m.TimeOut(), m.UseDomainAddress(), m.ShowResult(), m.Server(), m.From(),
                           m.LogFileName(), m.Encoding(), m.CharSet(), r.UseBCC, r.OneFilePerMsg, r.MsgTextFile,
                           r.MsgSubjectDef, r.MsgText, r.MsgSubject);
}

class SetupDialog : public ::testing::Test {
protected:
    // Opens Setup on Mailer and Run; `drive` works its controls.
    void Show(std::function<void(TSetupDlg&)> drive)
    {
        Seams.Dialogs.push_back(TSeams::Drive<TSetupDlg>(std::move(drive)));
        ShowSetup(nullptr, Mailer, Run);
        EXPECT_TRUE(Seams.Dialogs.empty()) << "Setup was not shown";
    }
    TSeams Seams;
    TSMTP Mailer;
    TRunSettings Run;
};

TEST(DialogForms, DefaultButtonFirstFocusTabOrderAndItems)
{
    TSetupDlg setup;
    TAddressDlg address;
    TMsgDlg message;
    const std::tuple<QDialog*, QPushButton*, QWidget*, std::vector<QWidget*>> forms[] = {
        {&setup, setup.Button1, setup.ServerEdit,
         {setup.ServerEdit, setup.UserAddressEdit, setup.UserNameEdit, setup.LogFileNameEdit, setup.EncodeComboBox,
          setup.CharSetComboBox, setup.Button1, setup.Button2, setup.chkShowSuccess, setup.txtMsgTextFile,
          setup.Button3, setup.radMsgText->Item(0), setup.radMsgText->Item(1), setup.radMsgSubject->Item(0),
          setup.radMsgSubject->Item(1), setup.radMsgSubject->Item(2), setup.txtMsgSubjectDef, setup.chkUseBCC,
          setup.spnPort, setup.spnTimeOut, setup.chkUseDomainAddress, setup.chkoneFilePerMsg, setup.Button4}},
        {&address, address.OKBtn, address.txtEmail,
         {address.txtEmail, address.OKBtn, address.CancelBtn, address.btnBrowse, address.btnAddtolist}},
        {&message, message.OKBtn, message.OKBtn,
         {message.OKBtn, message.CancelBtn, message.txtSubject, message.txtText, message.Button1, message.Button2}},
    };
    for (const auto& [dialog, ok, first, order] : forms) {
        SCOPED_TRACE(dialog->metaObject()->className());
        dialog->show();
        EXPECT_TRUE(ok->isDefault());
        EXPECT_EQ(FocusChain(order), order);
        EXPECT_EQ(dialog->focusWidget(), first);
    }
}

TEST_F(SetupDialog, DefaultsAndTheSplitSenderFillTheControlsBrowsePicksTheFileAndOkCopiesEveryControlBack)
{
    Mailer.SetFrom("me@example.org|Jo Bloggs");
    // UUencode keeps US-ASCII: only with the encoding copied back first
    // does the switch to MIME take ISO-8859-1. The items' order is the
    // stored values'.
    Mailer.SetEncoding(etUU);
    Seams.Files = {QString("/tmp/text.txt"), std::nullopt};
    Show([](TSetupDlg& d) {
        EXPECT_EQ(d.UserAddressEdit->text() + "|" + d.UserNameEdit->text(), "me@example.org|Jo Bloggs");
        EXPECT_EQ(d.spnPort->Text() + "|" + d.spnTimeOut->Text(), "25|60");
        EXPECT_EQ(d.EncodeComboBox->currentText() + "|" + d.CharSetComboBox->currentText(), "UUEncode|US-ASCII");
        EXPECT_EQ(std::vector<bool>({d.chkUseDomainAddress->isChecked(), d.chkUseBCC->isChecked(),
                                     d.chkShowSuccess->isChecked(), d.chkoneFilePerMsg->isChecked()}),
                  std::vector<bool>({true, true, true, false}));
        EXPECT_EQ(d.radMsgText->ItemIndex() + d.radMsgSubject->ItemIndex(), 0);
        EditEverything(d);
        d.Button3->click();
        d.Button3->click();   // cancelled: the file chosen before stays
        d.Button1->click();
    });
    ExpectChooser(Seams.Choosers.at(0), TFileChooser::Open, "Select text file...", kOpenFilter);
    // The radio choice stays as it was set.
    EXPECT_EQ(Snap(Mailer, Run), std::make_tuple(2525, 5, false, false, std::string("edited.example.org"),
                                                 std::string("edited@example.org|Edited"),
                                                 std::string("/tmp/edited.log"), etMIME, csISO8859, false, true,
                                                 std::string("/tmp/text.txt"), std::string("Edited subject"), 1, 2));
    // A cleared name leaves the bare address.
    Show([](TSetupDlg& d) {
        d.UserNameEdit->clear();
        d.Button1->click();
    });
    EXPECT_EQ(Mailer.From(), "edited@example.org");
}

TEST_F(SetupDialog, CancelEscCloseBoxAndHelpChangeNothing)
{
    SetStartDir("");
    const std::pair<const char*, std::function<void(TSetupDlg&)>> closers[] = {
        {"Cancel", [](TSetupDlg& d) { d.Button2->click(); }},
        {"Esc", [](TSetupDlg& d) { QTest::keyClick(&d, Qt::Key_Escape); }},
        {"close box", [](TSetupDlg& d) { d.close(); }},
        {"Help", [](TSetupDlg& d) { d.Button4->click(); }},
    };
    Mailer.SetServer("mail.example.org");
    Mailer.SetFrom("me@example.org|Me");
    const auto before = Snap(Mailer, Run);
    for (const auto& [what, close] : closers) {
        SCOPED_TRACE(what);
        Show([&, close = close](TSetupDlg& d) {
            EditEverything(d);
            close(d);
            EXPECT_FALSE(d.isVisible());
        });
        EXPECT_EQ(Snap(Mailer, Run), before);
    }
    EXPECT_EQ(Seams.Edited.size(), 1u) << "only Help opens the read-me";
}

TEST_F(SetupDialog, TypedValuesTheClientCannotHoldKeepTheOldSettingAndEnterAccepts)
{
    Mailer.SetTimeOut(30);
    Run.MsgText = 7;   // no radio item for it: none is shown chosen
    // Typed port and time-out, and what the client holds afterwards.
    const std::tuple<QString, QString, int, int> cases[] = {
        {"0", "0", 0, 30}, {"70000", "5", 0, 5}, {"-1", "-5", 0, 5}, {"65535", "1", 65535, 1}};
    for (const auto& [port, timeOut, heldPort, heldTimeOut] : cases) {
        SCOPED_TRACE((port + " " + timeOut).toStdString());
        Show([&, port = port, timeOut = timeOut](TSetupDlg& d) {
            EXPECT_EQ(d.radMsgText->ItemIndex(), -1);
            d.spnPort->selectAll();
            QTest::keyClicks(d.spnPort, port);
            d.spnTimeOut->selectAll();
            QTest::keyClicks(d.spnTimeOut, timeOut);
            QTest::keyClick(d.ServerEdit, Qt::Key_Return);
        });
        EXPECT_EQ(Mailer.DefaultPort(), heldPort);
        EXPECT_EQ(Mailer.TimeOut(), heldTimeOut);
    }
    EXPECT_EQ(Run.MsgText, 7);
}

TEST_F(SetupDialog, HelpOpensTheReadmeOfTheStartFolderOrTheInstalledOne)
{
    TScratch dir;
    const auto help = [](TSetupDlg& d) { d.Button4->click(); };
    // The start folder is stored with one "/" at its end.
    SetStartDir(dir.QPath("") + "/");
    Show(help);
    dir.Write("readme.txt", "");
    SetStartDir(dir.QPath(""));
    Show(help);
    EXPECT_EQ(Seams.Edited, (std::vector<QString>{TESSALY_DATADIR "/readme.txt", dir.QPath("readme.txt")}));
    EXPECT_EQ(StartDir(), dir.QPath("") + "/");
}

// ---- the spin box ----------------------------------------------------------

TEST(SpinEdit, RefusesLettersReadsWholeNumbersOnlyAndStepsWithoutBounds)
{
    TSpinEdit spin;
    spin.selectAll();
    QTest::keyClicks(&spin, "1a2b");
    EXPECT_EQ(spin.Text(), "12");
    spin.selectAll();
    const QString typed = "-+" + QLocale().decimalPoint() + "7";
    QTest::keyClicks(&spin, typed);
    EXPECT_EQ(spin.Text(), typed);
    const std::pair<QString, int> values[] = {
        {"42", 42}, {"-3", -3}, {"+8", 8}, {"-", 0}, {"", 0}, {"1.5", 0}, {"--1", 0}, {"99999999999", 0}};
    for (const auto& [text, value] : values) {
        spin.SetText(text);
        EXPECT_EQ(spin.Value(), value) << text.toStdString();
    }
    spin.SetValue(65535);
    QTest::keyClick(&spin, Qt::Key_Up);
    EXPECT_EQ(spin.Value(), 65536);
    spin.SetValue(std::numeric_limits<int>::max());
    spin.stepBy(1);
    EXPECT_EQ(spin.Value(), std::numeric_limits<int>::max());
}

// ---- address dialog --------------------------------------------------------

class AddressDialog : public ::testing::Test {
protected:
    TSeams Seams;
    TAddressDlg Dialog;
};

TEST_F(AddressDialog, EnterOnAnEmptyBoxAcceptsEscAndCloseBoxCancelBrowseReplacesTheText)
{
    const std::pair<int, std::function<void(TAddressDlg&)>> cases[] = {
        {QDialog::Accepted, [](TAddressDlg& d) { QTest::keyClick(d.txtEmail, Qt::Key_Return); }},
        {QDialog::Rejected, [](TAddressDlg& d) { QTest::keyClick(&d, Qt::Key_Escape); }},
        {QDialog::Rejected, [](TAddressDlg& d) { d.close(); }},
    };
    for (const auto& [result, close] : cases) {
        TAddressDlg dialog;
        Seams.Dialogs.push_back(TSeams::Drive<TAddressDlg>(close));
        EXPECT_EQ(ExecDialog(dialog), result);
        EXPECT_EQ(dialog.txtEmail->text(), "");
    }
    Dialog.txtEmail->setText("typed by hand");
    Seams.Files = {std::nullopt, QString("/home/me/friends.txt")};
    Dialog.btnBrowse->click();
    EXPECT_EQ(Dialog.txtEmail->text(), "typed by hand");
    Dialog.btnBrowse->click();
    EXPECT_EQ(Dialog.txtEmail->text(), "/home/me/friends.txt");
    ExpectChooser(Seams.Choosers.at(0), TFileChooser::Open, "Select text list of email addresses...", kOpenFilter);
}

TEST_F(AddressDialog, AddToListHandsOverTheTextAsTypedAndReportsAListThatRefusesIt)
{
    std::vector<QString> list;
    Dialog.OnAddToList = [&](const QString& text) {
        if (list.size() == 2)
            throw std::runtime_error("list full");
        list.push_back(text);
    };
    Dialog.btnAddtolist->show();
    Seams.Dialogs.push_back(TSeams::Drive<TAddressDlg>([](TAddressDlg& d) {
        d.txtEmail->setText(" no-at-sign ");
        for (int i = 0; i < 3; ++i)
            d.btnAddtolist->click();
        EXPECT_TRUE(d.isVisible()) << "the dialog stays open";
        d.CancelBtn->click();
    }));
    EXPECT_EQ(ExecDialog(Dialog), QDialog::Rejected);
    EXPECT_EQ(list, (std::vector<QString>{" no-at-sign ", " no-at-sign "}));
    ASSERT_EQ(Seams.Boxes.size(), 1u);
    EXPECT_EQ(Seams.Boxes[0].Kind, TMsgKind::Error);
    EXPECT_EQ(Seams.Boxes[0].Title, ApplicationTitle());
    EXPECT_EQ(Seams.Boxes[0].Text, "Unable to insert a line.");
    // With no list behind it the button reports the same.
    TAddressDlg unconnected;
    unconnected.btnAddtolist->click();
    EXPECT_EQ(Seams.Boxes.size(), 2u);
}

// ---- message dialog ----------------------------------------------------------

TEST(MessageText, LoneCrAndLoneLfBecomeCrLf)
{
    const std::pair<std::string, std::string> cases[] = {
        {"", ""}, {"one", "one"}, {"a\nb", "a\r\nb"}, {"a\rb", "a\r\nb"}, {"a\r\nb", "a\r\nb"},
        {"a\n\rb", "a\r\n\r\nb"}, {"\r\r\n\n", "\r\n\r\n\r\n"}, {"end\n", "end\r\n"}, {"end\r", "end\r\n"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(LineBreaksToCrLf(in), out) << in;
}

class MessageDialog : public ::testing::Test {
protected:
    TSeams Seams;
    TScratch Dir;
    TMsgDlg Dialog;
};

TEST_F(MessageDialog, EnterInTheTextStartsALineAndEnterOnOkAccepts)
{
    Seams.Dialogs.push_back(TSeams::Drive<TMsgDlg>([](TMsgDlg& d) {
        d.txtText->setPlainText("first");
        d.txtText->moveCursor(QTextCursor::End);
        QTest::keyClick(d.txtText, Qt::Key_Return);
        EXPECT_EQ(d.result(), QDialog::Rejected) << "Enter in the text does not accept";
        EXPECT_EQ(d.Lines(), QStringList{"first"});
        EXPECT_EQ(d.TextBytes(), "first\r\n");
        QTest::keyClick(d.OKBtn, Qt::Key_Return);
    }));
    EXPECT_EQ(ExecDialog(Dialog), QDialog::Accepted);
    for (const QStringList& lines : {QStringList{}, {""}, {"a", ""}, {"", "b"}, {"a", "b", "c"}, {"", ""}}) {
        Dialog.SetLines(lines);
        EXPECT_EQ(Dialog.Lines(), lines);
    }
}

TEST_F(MessageDialog, OpenWithMixedLineEndsThenSaveAsWritesCrLfAndAddsTxt)
{
    // Lone CR, CR LF and lone LF each end a line.
    Dir.Write("mixed.txt", "one\rtwo\r\n\nfour");
    Dialog.txtSubject->setText("kept subject");
    Seams.Files = {Dir.QPath("mixed.txt"), Dir.QPath("typed"), Dir.QPath("given.name")};
    Dialog.Button1->click();
    EXPECT_EQ(Dialog.txtSubject->text(), "kept subject");
    Dialog.Button2->click();
    Dialog.Button2->click();
    EXPECT_EQ(Dir.Read("given.name"), "one\r\ntwo\r\n\r\nfour") << "a name with an extension is kept";
    EXPECT_EQ(Dir.Read("typed.txt"), "one\r\ntwo\r\n\r\nfour");
    EXPECT_FALSE(QFile::exists(Dir.QPath("typed")));
    EXPECT_EQ(Dialog.Lines(), (QStringList{"one", "two", "", "four"}));
    EXPECT_TRUE(Seams.Boxes.empty());

    ASSERT_EQ(Seams.Choosers.size(), 3u);
    ExpectChooser(Seams.Choosers[0], TFileChooser::Open, "Select text file...", kOpenFilter);
    ExpectChooser(Seams.Choosers[1], TFileChooser::Save, "Save as text file...",
                  "Text files (*.txt)|*.txt|All files (*.*)|*.*");
    EXPECT_EQ(Seams.Choosers[1].DefaultSuffix, "txt");
}

TEST_F(MessageDialog, SaveAsWritesTheBoxByteForByte)
{
    const std::pair<QString, std::string> cases[] = {
        {"", ""},                                   // an empty box: an empty file
        {"no final enter", "no final enter"},
        {"two\nlines\n", "two\r\nlines\r\n"},
        {QString::fromUtf8("caf\xC3\xA9\xC2\xA0!"), "caf\xC3\xA9\xC2\xA0!"},   // a non-breaking space stays
    };
    for (const auto& [text, bytes] : cases) {
        Dir.Write("out.txt", "old content");
        Dialog.txtText->setPlainText(text);
        ASSERT_TRUE(Dialog.SaveToFile(Dir.QPath("out.txt")));
        EXPECT_EQ(Dir.Read("out.txt"), bytes) << text.toStdString();
    }
}

TEST_F(MessageDialog, CancelledChoosersAndFilesThatCannotBeReadOrWrittenLeaveTheText)
{
    Dialog.SetLines({"previous"});
    Dir.Write("plain", "a file, not a folder");
    // A folder is no text file either.
    Seams.Files = {std::nullopt, std::nullopt, Dir.QPath("missing.txt"), Dir.QPath(""), Dir.QPath("plain/out.txt")};
    for (QPushButton* button : {Dialog.Button1, Dialog.Button2, Dialog.Button1, Dialog.Button1, Dialog.Button2})
        button->click();
    EXPECT_EQ(Seams.BoxTexts(), (TLines{"Cannot open file " + Dir.Path("missing.txt") + ".",
                                        "Cannot open file " + Dir.Path("") + ".",
                                        "Cannot create file " + Dir.Path("plain/out.txt") + "."}));
    EXPECT_EQ(Seams.Boxes[0].Kind, TMsgKind::Error);
    EXPECT_EQ(Dialog.Lines(), QStringList{"previous"});
    EXPECT_EQ(QDir(Dir.QPath("")).entryList(QDir::Files), QStringList{"plain"});
}

TEST_F(MessageDialog, TextAboveTheCapacityIsRefused)
{
    Dialog.SetLines({"previous"});
    Dir.Write("big.txt", std::string(kMemoCapacity + 1, 'x'));
    // Fits as it stands, but not once every LF has become CR LF.
    Dir.Write("lf.txt", std::string(kMemoCapacity / 2 + 1, '\n'));
    EXPECT_FALSE(Dialog.LoadFromFile(Dir.QPath("big.txt")));
    EXPECT_FALSE(Dialog.LoadFromFile(Dir.QPath("lf.txt")));
    // A device that never ends is refused too, and does not hang the dialog.
    EXPECT_FALSE(Dialog.LoadFromFile("/dev/zero"));
    EXPECT_EQ(Seams.BoxTexts(), TLines(3, "Text exceeds memo capacity."));
    EXPECT_EQ(Dialog.Lines(), QStringList{"previous"});
}

// ---- the settings file ----------------------------------------------------------

const std::string kFreshFile =
    "[Setup]\r\nPort=25\r\nTimeOut=60\r\nUseDomainAddress=1\r\nUseBCC=1\r\nShowSuccess=1\r\nOneFilePerMsg=0\r\n"
    "ShowPanel=1\r\nMsgTextFile=\r\nMsgText=0\r\nMsgSubjectDef=\r\nMsgSubject=0\r\nBackColor=-2147483643\r\n"
    "Height=321\r\nWidth=432\r\nTop=15\r\nLeft=15\r\nFontColor=0\r\nFontName=MS Sans Serif\r\nFontSize=10\r\n"
    "Server=\r\nEMail Address=\r\nName=\r\nLog File=\r\nEncoding=1\r\nCharSet=0\r\n";

class Settings : public ::testing::Test {
protected:
    void Load(const std::string& fileText)
    {
        Dir.Write("tessaly.ini", fileText);
        LoadSettings(Path(), Mailer, Run, Window, Addresses);
    }
    void Save(const std::string& path) { SaveSettings(path, Mailer, Run, Window, Addresses); }
    void Save() { Save(Path()); }
    // Whether a save to `path` is refused with the error the close reports.
    bool SaveRefused(const std::string& path)
    {
        try {
            Save(path);
        } catch (const ESettingsError& e) {
            return std::string(e.what()).starts_with("Unable to write to " + path + ": ");
        }
        return false;
    }
    std::string Path() const { return Dir.Path("tessaly.ini"); }
    std::string FileText() const { return Dir.Read("tessaly.ini"); }
    TScratch Dir;
    TSMTP Mailer;
    TRunSettings Run;
    TWindowSettings Window;
    TLines Addresses;
};

TEST_F(Settings, MissingFileGivesEveryDefaultAndTheFirstSaveWrites25KeysInOrder)
{
    // Start far from the defaults, so a key that is not applied shows.
    const std::string other = "[Setup]\r\nPort=1\r\nTimeOut=5\r\nUseDomainAddress=0\r\nUseBCC=0\r\nShowSuccess=0\r\n"
        "OneFilePerMsg=1\r\nShowPanel=0\r\nMsgTextFile=f\r\nMsgText=1\r\nMsgSubjectDef=s\r\nMsgSubject=2\r\n"
        "BackColor=7\r\nHeight=100\r\nWidth=200\r\nTop=3\r\nLeft=4\r\nFontColor=5\r\nFontName=Other\r\nFontSize=6\r\n"
        "Server=old\r\nEMail Address=old@example.org\r\nName=Old\r\nLog File=/old.log\r\nEncoding=0\r\nCharSet=0\r\n"
        "\r\n[Addresses]\r\nanAddress0=stale\r\n";
    Load(other);
    Save();
    ASSERT_EQ(FileText(), other) << "every key read and written back";

    LoadSettings(Dir.Path("absent.ini"), Mailer, Run, Window, Addresses);

    EXPECT_FALSE(QFileInfo::exists(Dir.QPath("absent.ini")));
    Save(Dir.Path("absent.ini"));
    EXPECT_EQ(Dir.Read("absent.ini"), kFreshFile);
}

TEST_F(Settings, EachValueIsReadByItsRuleAndSavedBack)
{
    // Lines as found in the file, and what the next save writes.
    const std::pair<std::string, std::string> cases[] = {
        {"FontColor=0xFF", "FontColor=255"}, {"BackColor=$00FF00", "BackColor=65280"},   // hex colours
        {"BackColor=0x12345678", "BackColor=-2147483643"},                               // not a colour
        {"BackColor=0x8000000F", "BackColor=-2147483633"},                               // system colour 15
        {"FontColor=0x80000099", "FontColor=0"},                                         // no such system colour
        // Booleans take numbers only; else the default (true for UseBCC).
        {"UseBCC=yes", "UseBCC=1"}, {"UseBCC=", "UseBCC=1"}, {"UseBCC=0", "UseBCC=0"}, {"UseBCC=-1", "UseBCC=1"},
        {"OneFilePerMsg=yes", "OneFilePerMsg=0"}, {"OneFilePerMsg=2", "OneFilePerMsg=1"},
        {"Port=70000", "Port=25"}, {"Port=-1", "Port=25"}, {"Port=0", "Port=0"}, {"Port=65535", "Port=65535"},
        {"TimeOut=0", "TimeOut=60"}, {"TimeOut=-5", "TimeOut=60"}, {"TimeOut=1", "TimeOut=1"},
        {"Encoding=2", "Encoding=1"}, {"Encoding=-1", "Encoding=1"}, {"CharSet=7", "CharSet=0"},
        // UUencode keeps US-ASCII: the encoding is set first.
        {"Encoding=0\r\nCharSet=1", "Encoding=0\r\nCharSet=0"}, {"Encoding=1\r\nCharSet=1", "Encoding=1\r\nCharSet=1"},
        {"MsgText=3", "MsgText=0"}, {"MsgSubject=-1", "MsgSubject=0"}, {"MsgSubject=2", "MsgSubject=2"},
        {"FontSize=0", "FontSize=10"}, {"FontSize=100000", "FontSize=10"}, {"Height=0", "Height=321"},
        {"Width=-40", "Width=432"}, {"Width=100000", "Width=432"}, {"Top=-99999", "Top=15"},
        {"Left=-200", "Left=-200"},   // on another screen: kept
        {"Server=" + std::string(2000, 's'), "Server=" + std::string(1023, 's')},
        // The sender is split at the first bar.
        {"EMail Address=me@example.org\r\nName=Jo Bloggs|Jr", "EMail Address=me@example.org\r\nName=Jo Bloggs|Jr"},
        {"EMail Address=\r\nName=Jo", "EMail Address=\r\nName=Jo"},
        {"[Addresses]\r\na=" + std::string(2000, 'a'), "[Addresses]\r\nanAddress0=" + std::string(1023, 'a')},
        // Any key names an address, an empty one is skipped, duplicates
        // stay in file order (the main window sorts) and are renumbered.
        {"[Addresses]\r\nx=zed@example.org\r\ny=\r\nanAddress7=/home/me/list.txt\r\nx=zed@example.org",
         "[Addresses]\r\nanAddress0=zed@example.org\r\nanAddress1=/home/me/list.txt\r\nanAddress2=zed@example.org"},
    };
    for (const auto& [lines, saved] : cases) {
        Load("[Setup]\r\n" + lines + "\r\n");
        Save();
        EXPECT_TRUE(Dir.Holds("tessaly.ini", "\r\n" + saved + "\r\n")) << lines << "\n" << FileText();
    }
    EXPECT_FALSE(Dir.Holds("tessaly.ini", "x=")) << "the section's old keys go";
    Addresses.clear();
    Save();
    EXPECT_FALSE(Dir.Holds("tessaly.ini", "Addresses")) << "an empty list removes the section";
}

TEST_F(Settings, LongListRoundTripsWithBlanksAroundEntriesKept)
{
    // Far beyond the 638 entries that a key list of 8192 bytes could hold.
    for (int i = 0; i < 2500; ++i)
        Addresses.push_back("user" + std::to_string(i) + "@example.org");
    TLines saved = Addresses;
    Addresses.push_back("  spaced@example.org\t ");
    saved.push_back(Addresses.back());
    Save();
    Load(FileText());
    EXPECT_EQ(Addresses, saved);
}

TEST_F(Settings, SaveKeepsWhatOthersWrote)
{
    Load("; my notes\r\n[Setup]\r\nPort=2525\r\nExtra=kept\r\n\r\n[Other]\r\nkey=value\r\n");
    // Another program adds a key while the window is open.
    Dir.Write("tessaly.ini", FileText() + "[Late]\r\nnew=1\r\n");
    Save();
    EXPECT_EQ(FileText().rfind("; my notes\r\n[Setup]\r\nPort=2525\r\nExtra=kept\r\n", 0), 0u) << FileText();
    EXPECT_TRUE(Dir.Holds("tessaly.ini", "[Other]\r\nkey=value\r\n"));
    EXPECT_TRUE(Dir.Holds("tessaly.ini", "[Late]\r\nnew=1\r\n"));
}

TEST_F(Settings, RefusedSavesLeaveWhatIsThere)
{
    const std::string old = kFreshFile + "\r\n[Addresses]\r\nanAddress0=keep@example.org\r\n";
    Dir.Write("tessaly.ini", old);
    Addresses = TLines(50, "new-entry@example.org");
    {
        // The new file is larger than this: the write fails part-way, for
        // root as well.
        const TFileSizeLimit limit(old.size() + 16);
        EXPECT_TRUE(SaveRefused(Path()));
    }
    // A read-only file is not replaced either.
    ::chmod(Path().c_str(), 0444);
    const std::string folder = Dir.Path("");
    ::chmod(folder.c_str(), 0777);
    EXPECT_TRUE(RunUnprivileged([&] { return SaveRefused(Path()); }));
    ::chmod(folder.c_str(), 0700);
    EXPECT_EQ(FileText(), old);
    EXPECT_EQ(QDir(Dir.QPath("")).entryList(QDir::Files | QDir::Hidden), QStringList{"tessaly.ini"});

    EXPECT_TRUE(SaveRefused(Dir.Write("plain", "a file, not a folder") + "/tessaly.ini"));
    // Something that exists where the file should be but cannot be read
    // as one: loading is silent, saving must not replace it blindly.
    ::chmod(Path().c_str(), 0644);
    ASSERT_TRUE(QFile::remove(Dir.QPath("tessaly.ini")) && QDir(Dir.QPath("")).mkdir("tessaly.ini"));
    Mailer.SetDefaultPort(1);
    LoadSettings(Path(), Mailer, Run, Window, Addresses);
    EXPECT_EQ(Mailer.DefaultPort(), 25);
    EXPECT_TRUE(SaveRefused(Path()));
    EXPECT_TRUE(QFileInfo(Dir.QPath("tessaly.ini")).isDir());
}

// ---- text bytes at the edges: UTF-8 when valid, Latin-1 else ----------------------

TEST(TextCodec, ValidatesAndConvertsToLatin1)
{
    // Bytes, valid UTF-8, what a line of them becomes for ISO-8859-1.
    const std::tuple<std::string, bool, std::string> cases[] = {
        {"plain = text", true, "plain = text"},
        {"Gr\xC3\xBC\xC3\x9F" "e", true, "Gr\xFC\xDF" "e"},
        {"\xE2\x82\xAC 5 \xF0\x9F\x98\x80", true, "? 5 ?"},   // beyond Latin-1
        {"Gr\xFC\xDF" "e", false, "Gr\xFC\xDF" "e"},          // Latin-1 already
        {"\xC0\xAF", false, "\xC0\xAF"},                      // overlong
        {"\xE0\x80\xAF", false, "\xE0\x80\xAF"},              // overlong, three bytes
        {"\xED\xA0\x80", false, "\xED\xA0\x80"},              // surrogate
        {"\xF4\x90\x80\x80", false, "\xF4\x90\x80\x80"},      // beyond Unicode
        {"ab\xC3", false, "ab\xC3"},                          // truncated
    };
    for (const auto& [bytes, valid, latin1] : cases) {
        SCOPED_TRACE(bytes);
        EXPECT_EQ(IsValidUtf8(bytes), valid);
        EXPECT_EQ(Latin1FromUtf8(bytes), latin1);
        const QByteArray raw = QByteArray::fromStdString(bytes);
        EXPECT_EQ(DecodeText(bytes), valid ? QString::fromUtf8(raw) : QString::fromLatin1(raw));
    }
}

}
