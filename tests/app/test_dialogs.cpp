// The Setup (with its login fields and Test), address and message dialogs,
// driven through the dialog seam without a modal loop; the settings file
// they fill; text bytes at the edges.
#include "aiosmtpd_server.h"
#include "mesgdlg.h"
#include "readme.h"
#include "setpdlg.h"
#include "support_app.h"
#include "textcodec.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>

#include <sstream>

namespace {

// Everything Setup can change, on one line.
std::string Snap(const TSMTP& m, const TRunSettings& r)
{
    std::ostringstream line;
    line << m.DefaultPort() << ' ' << m.TimeOut() << ' ' << m.Server() << ' ' << m.From() << ' ' << m.LogFileName() << ' '
         << r.MsgTextFile << ' ' << r.MsgSubjectDef << ' ' << m.User() << ' ' << m.PasswordCommand() << " flags "
         << m.UseDomainAddress() << m.ShowResult() << r.UseBCC << r.OneFilePerMsg << " choices " << m.Encoding()
         << m.CharSet() << r.MsgText << r.MsgSubject << m.Security() << m.AuthMethod();
    return line.str();
}

// Changes every control away from what Setup filled in.
void EditEverything(TSetupDlg& d)
{
    d.ServerEdit->setText("edited.example.org"), d.spnPort->SetValue(2525), d.spnTimeOut->SetValue(5);
    d.UserAddressEdit->setText("edited@example.org"), d.UserNameEdit->setText("Edited"), d.txtUser->setText("jo");
    d.LogFileNameEdit->setText("/tmp/edited.log"), d.txtMsgSubjectDef->setText("Edited subject");
    d.EncodeComboBox->setCurrentIndex(1), d.CharSetComboBox->setCurrentIndex(1), d.radMsgText->SetItemIndex(1);
    d.SecurityComboBox->setCurrentIndex(secTLS), d.AuthMethodComboBox->setCurrentIndex(amOAUTHBEARER);
    d.txtPasswordCommand->setText("pass mail"), d.radMsgSubject->SetItemIndex(2);
    for (QCheckBox* box : {d.chkUseDomainAddress, d.chkUseBCC, d.chkShowSuccess, d.chkoneFilePerMsg})
        box->setChecked(!box->isChecked());
}

TEST(SetupDialog, OnlyOkTakesTheControlsTestAsksTheServerAndTheFormFitsASmallScreen)
{
    TSeams seams;
    TSMTP mailer;
    TRunSettings run;
    const auto show = [&](auto drive) { seams.Dialogs.push_back(TSeams::Drive<TSetupDlg>(drive)), ShowSetup(nullptr, mailer, run); };
    // UUencode keeps US-ASCII: only with the encoding copied back first
    // does the switch to MIME take ISO-8859-1.
    mailer.SetFrom("me@example.org|Jo Bloggs"), mailer.SetEncoding(etUU), mailer.SetTrustedCertificates("h:465=AA");
    const std::string before = Snap(mailer, run);
    // Test: the failure in its own words, or what the server offers; the dialog stays open.
    TAiosmtpdServer server;
    ASSERT_TRUE(server.Running()) << server.Error();
    for (const QString& address : {QString("127.0.0.1:1"), QString::fromStdString(server.Address())}) {
        show([&](TSetupDlg& d) {
            d.ServerEdit->setText(address), d.btnTest->click();
            EXPECT_TRUE(d.isVisible() && d.Button1->isEnabled()) << "Test leaves the dialog open";
            d.Button2->click();
        });
    }
    ASSERT_EQ(seams.Boxes.size(), 2u);
    EXPECT_TRUE(seams.Boxes[0].starts_with("Error: ") && seams.Boxes[0].find("\nThe test failed: ") != std::string::npos)
        << seams.Boxes[0];
    EXPECT_TRUE(seams.Boxes[1].ends_with("\nNo user name is set, so no login was tried.")) << seams.Boxes[1];
    EXPECT_EQ(ConnectionReport("mx:587", TCapabilities{true, true, true, true, {"PLAIN", "LOGIN"}, 1024}, true, "jo", ""),
              "Server: mx:587\nThe connection is encrypted (TLS).\nThe server offers: STARTTLS, 8BITMIME, SMTPUTF8, "
              "PIPELINING, SIZE 1024, AUTH PLAIN LOGIN.\nLogin as jo works.");

    // Cancel (also after Test), Esc, the close box and Help (which opens the read-me) change nothing.
    EXPECT_EQ(Snap(mailer, run), before);
    TScratch dir;
    dir.Write("readme.txt", ""), SetStartDir(dir.QPath(""));
    const std::function<void(TSetupDlg&)> closers[] = {[](TSetupDlg& d) { d.Button2->click(); },
        [](TSetupDlg& d) { QTest::keyClick(&d, Qt::Key_Escape); }, [](TSetupDlg& d) { d.close(); },
        [](TSetupDlg& d) { d.Button4->click(); }};
    for (const auto& close : closers) {
        show([&](TSetupDlg& d) { EditEverything(d), close(d); });
        EXPECT_EQ(Snap(mailer, run), before);
    }
    EXPECT_EQ(seams.Edited, std::vector<QString>{dir.QPath("readme.txt")});
    SetStartDir("");
    show([](TSetupDlg& d) { d.Button4->click(); });
    EXPECT_EQ(seams.Edited.back(), DataFilePath("readme.txt")) << "no read-me in the start folder";

    seams.Files = {QString("/tmp/text.txt"), std::nullopt};
    show([](TSetupDlg& d) {
        EXPECT_EQ(d.spnPort->Text() + "|" + d.spnTimeOut->Text() + "|" + d.EncodeComboBox->currentText(), "25|60|UUEncode");
        EditEverything(d), d.Button3->click();
        d.Button3->click(), d.Button1->click();   // Browse cancelled: the file chosen before stays
    });
    EXPECT_EQ(Snap(mailer, run), "2525 5 edited.example.org edited@example.org|Edited /tmp/edited.log /tmp/text.txt "
                                 "Edited subject jo pass mail flags 0001 choices 111234");
    // Shown again, every control holds what OK took; a cleared name leaves the bare address.
    show([](TSetupDlg& d) { d.UserNameEdit->clear(), d.Button1->click(); });
    EXPECT_EQ(Snap(mailer, run), "2525 5 edited.example.org edited@example.org /tmp/edited.log /tmp/text.txt "
                                 "Edited subject jo pass mail flags 0001 choices 111234");
    EXPECT_EQ(mailer.TrustedCertificates(), "h:465=AA") << "Setup keeps the trusted certificates";

    // Typed port and time-out: what each keeps; Enter accepts.
    mailer.SetTimeOut(30);
    run.MsgText = 7;   // no radio item for it: none is shown chosen
    const std::tuple<QString, QString, int, int> cases[] = {
        {"0", "0", 0, 30}, {"70000", "5", 0, 5}, {"-1", "-5", 0, 5}, {"65535", "1", 65535, 1}, {"1a2b", "+", 12, 1}};
    for (const auto& [port, timeOut, heldPort, heldTimeOut] : cases) {
        show([&](TSetupDlg& d) {
            EXPECT_EQ(d.radMsgText->ItemIndex(), -1);
            d.spnPort->selectAll(), QTest::keyClicks(d.spnPort, port);
            d.spnTimeOut->selectAll(), QTest::keyClicks(d.spnTimeOut, timeOut), QTest::keyClick(d.ServerEdit, Qt::Key_Return);
        });
        EXPECT_EQ(std::make_pair(int(mailer.DefaultPort()), mailer.TimeOut()), std::make_pair(heldPort, heldTimeOut)) << port.toStdString();
    }
    TSpinEdit spin;
    spin.SetValue(std::numeric_limits<int>::max()), spin.stepBy(1);
    EXPECT_EQ(spin.Value(), std::numeric_limits<int>::max());
    spin.SetText("99999999999");
    EXPECT_EQ(spin.Value(), 0);

    // A form taller than the screen (as at 200 %): capped, OK in sight, the focused field scrolled into view.
    TSetupDlg d;
    QFont big = d.font();
    big.setPointSizeF(big.pointSizeF() * 2), d.setFont(big);
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    ASSERT_GT(d.sizeHint().height(), area.height());
    d.show();
    EXPECT_TRUE(d.frameGeometry().top() >= area.top() && d.frameGeometry().bottom() <= area.bottom());
    EXPECT_TRUE(d.rect().contains(QRect(d.Button1->mapTo(&d, QPoint()), d.Button1->size())));
    const QWidget* view = d.findChild<QScrollArea*>("scrFields")->viewport();
    QApplication::setActiveWindow(&d), d.txtMsgSubjectDef->setFocus();
    const int top = d.txtMsgSubjectDef->mapTo(view, QPoint()).y();
    EXPECT_TRUE(top >= 0 && top + d.txtMsgSubjectDef->height() <= view->height()) << top;
}

TEST(AddressAndMessageDialogs, KeysBrowsingAFullListOpenAndSaveAsLineEndsAndTextBytes)
{
    // The address dialog: Enter accepts, Esc cancels; Browse replaces the text unless cancelled; a full list is reported.
    TSeams seams;
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        TAddressDlg dialog;
        seams.Dialogs.push_back(TSeams::Drive<TAddressDlg>([key](TAddressDlg& d) { QTest::keyClick(d.txtEmail, key); }));
        EXPECT_EQ(ExecDialog(dialog), key == Qt::Key_Return ? QDialog::Accepted : QDialog::Rejected);
    }
    TAddressDlg dialog;
    seams.Files = {std::nullopt, QString("/home/me/friends.txt")};
    dialog.txtEmail->setText("typed"), dialog.btnBrowse->click();
    EXPECT_EQ(dialog.txtEmail->text(), "typed");
    dialog.btnBrowse->click();
    EXPECT_EQ(dialog.txtEmail->text(), "/home/me/friends.txt");
    std::vector<QString> list;
    dialog.OnAddToList = [&](const QString& text) { list.size() == 1 ? throw std::runtime_error("full") : list.push_back(text); };
    dialog.btnAddtolist->click(), dialog.btnAddtolist->click();
    EXPECT_EQ(list, std::vector<QString>{"/home/me/friends.txt"});

    // The message dialog: Enter starts a line; Open and Save as with their failures and the capacity.
    TMsgDlg message;
    seams.Dialogs.push_back(TSeams::Drive<TMsgDlg>([](TMsgDlg& d) {
        d.txtText->setPlainText("first"), d.txtText->moveCursor(QTextCursor::End);
        QTest::keyClick(d.txtText, Qt::Key_Return);
        EXPECT_EQ(d.TextBytes(), "first\r\n");
        QTest::keyClick(d.OKBtn, Qt::Key_Return);
    }));
    EXPECT_EQ(ExecDialog(message), QDialog::Accepted);
    for (const QStringList& lines : {QStringList{}, {""}, {"a", ""}, {"", "b"}}) {
        message.SetLines(lines);
        EXPECT_EQ(message.Lines(), lines);
    }
    // CR, LF and CR LF end a line each, LF CR two.
    TScratch dir;
    dir.Write("mixed.txt", "one\rtwo\r\n\nfour\n\rsix\xC2\xA0\r");
    dir.Write("big.txt", std::string(kMemoCapacity + 1, 'x'));
    seams.Files = {std::nullopt, std::nullopt, dir.QPath("mixed.txt"), dir.QPath("typed"), dir.QPath("missing.txt"),
                   dir.QPath("typed.txt/x"), dir.QPath("big.txt"), QString("/dev/zero")};
    for (QPushButton* button : {message.Button1, message.Button2, message.Button1, message.Button2, message.Button1,
                                message.Button2, message.Button1, message.Button1})
        button->click();
    EXPECT_EQ(dir.Read("typed.txt"), "one\r\ntwo\r\n\r\nfour\r\n\r\nsix\xC2\xA0\r\n") << "Save as adds .txt";
    EXPECT_EQ(message.Lines(), (QStringList{"one", "two", "", "four", "", QString::fromUtf8("six\xC2\xA0")}));
    EXPECT_EQ(seams.Boxes, (TLines{"Error: Unable to insert a line.", "Error: Cannot open file " + dir.Path("missing.txt") + ".",
                                   "Error: Cannot create file " + dir.Path("typed.txt/x.txt") + ".",
                                   "Error: Text exceeds memo capacity.", "Error: Text exceeds memo capacity."}));
    // Text bytes are UTF-8 when valid; Latin-1, overlong, surrogate and cut-short sequences are not.
    for (const auto& [bytes, valid] : {std::pair<std::string, bool>{"\xE2\x82\xAC 5 \xF0\x9F\x98\x80", true},
             {"Gr\xFC\xDF" "e", false}, {"\xC0\xAF", false}, {"\xED\xA0\x80", false}, {"ab\xC3", false}}) {
        const QByteArray raw = QByteArray::fromStdString(bytes);
        EXPECT_EQ(IsValidUtf8(bytes), valid) << bytes;
        EXPECT_EQ(DecodeText(bytes), valid ? QString::fromUtf8(raw) : QString::fromLatin1(raw)) << bytes;
    }
}

// ---- the settings file: each key's rule (the file's own rules: tests/data/settings) ----

TEST(Settings, EveryKeyIsReadByItsRuleAndWrittenBackAndAMissingFileGivesTheDefaults)
{
    TScratch dir;
    TSMTP mailer;
    TRunSettings run;
    TWindowSettings window;
    TLines list;   // the addresses
    const auto load = [&](const std::string& text) { LoadSettings(dir.Write("t.ini", text), mailer, run, window, list); };
    const auto save = [&] { return SaveSettings(dir.Path("t.ini"), mailer, run, window, list), dir.Read("t.ini"); };
    const std::string other = "; notes\r\n[Setup]\r\nPort=1\r\nTimeOut=5\r\nUseDomainAddress=0\r\nUseBCC=0\r\nShowSuccess=0\r\n"
        "OneFilePerMsg=1\r\nShowPanel=0\r\nMsgTextFile=f\r\nMsgText=1\r\nMsgSubjectDef=s\r\nMsgSubject=2\r\n"
        "BackColor=7\r\nHeight=100\r\nWidth=200\r\nTop=3\r\nLeft=4\r\nFontColor=5\r\nFontName=Other\r\nFontSize=6\r\n"
        "Server=old\r\nEMail Address=old@example.org\r\nName=Old\r\nLog File=/old.log\r\nEncoding=0\r\nCharSet=0\r\n"
        "Security=3\r\nUser=jo\r\nAuthMethod=2\r\nPasswordCommand=pass mail\r\nCAFile=/ca.pem\r\n"
        "TrustedCertificate=mx:465=AB:CD mx:587=EF\r\nExtra=kept\r\n\r\n[Other]\r\nkey=value\r\n\r\n[Addresses]\r\nanAddress0=stale\r\n";
    load(other);
    EXPECT_EQ(save(), other);
    load("");
    EXPECT_EQ(save(),
        "[Setup]\r\nPort=25\r\nTimeOut=60\r\nUseDomainAddress=1\r\nUseBCC=1\r\nShowSuccess=1\r\nOneFilePerMsg=0\r\n"
        "ShowPanel=1\r\nMsgTextFile=\r\nMsgText=0\r\nMsgSubjectDef=\r\nMsgSubject=0\r\nBackColor=-2147483643\r\n"
        "Height=321\r\nWidth=432\r\nTop=15\r\nLeft=15\r\nFontColor=0\r\nFontName=MS Sans Serif\r\nFontSize=10\r\n"
        "Server=\r\nEMail Address=\r\nName=\r\nLog File=\r\nEncoding=1\r\nCharSet=0\r\n"
        "Security=0\r\nUser=\r\nAuthMethod=0\r\nPasswordCommand=\r\nCAFile=\r\nTrustedCertificate=\r\n");
    // Lines as found in the file, and what the next save writes: a value out
    // of its key's range gives the key's default; unknown enumeration values
    // load as Auto.
    const std::pair<std::string, std::string> cases[] = {
        {"BackColor=$00FF00", "BackColor=65280"}, {"BackColor=0x12345678", "BackColor=-2147483643"},
        {"BackColor=0x8000000F", "BackColor=-2147483633"}, {"FontColor=0x80000099", "FontColor=0"},
        {"Port=70000", "Port=25"}, {"Port=0", "Port=0"}, {"TimeOut=0", "TimeOut=60"}, {"Encoding=2", "Encoding=1"},
        {"CharSet=7", "CharSet=0"}, {"CharSet=2", "CharSet=2"}, {"MsgText=3", "MsgText=0"}, {"MsgSubject=-1", "MsgSubject=0"},
        {"Encoding=0\r\nCharSet=1", "Encoding=0\r\nCharSet=0"},   // UUencode keeps US-ASCII
        {"FontSize=100000", "FontSize=10"}, {"Height=0", "Height=321"}, {"Top=-99999", "Top=15"}, {"Left=-200", "Left=-200"},
        {"Security=4", "Security=0"}, {"AuthMethod=4", "AuthMethod=4"}, {"AuthMethod=5", "AuthMethod=0"},
        {"PasswordCommand=\"\"pass\" show \"mail\"\"", "PasswordCommand=\"\"pass\" show \"mail\"\""},
        {"EMail Address=me@example.org\r\nName=Jo|Jr", "EMail Address=me@example.org\r\nName=Jo|Jr"},
        // Any key names an address; empty ones go, blanks around one go.
        {"[Addresses]\r\nx=zed@example.org\r\ny=\r\nanAddress7= /home/me/list.txt\t",
         "[Addresses]\r\nanAddress0=zed@example.org\r\nanAddress1=/home/me/list.txt"},
    };
    for (const auto& [lines, saved] : cases) {
        load("[Setup]\r\n" + lines + "\r\n");
        EXPECT_NE(save().find("\r\n" + saved + "\r\n"), std::string::npos) << lines;
    }
    list = TLines(2500, "user@example.org");   // beyond what a key list of 8192 bytes holds
    list.push_back("  spaced@example.org\t ");   // blanks that were entered stay
    const TLines saved = list;
    load(save());
    EXPECT_EQ(list, saved);
    list.clear();
    EXPECT_EQ(save().find("Addresses"), std::string::npos) << "an empty list removes the section";
}

}
