// What only the main window can show: enable and disable during a run, keys,
// drops, the close refused during a run or asked about when the settings
// cannot be saved, its dialogs as the run's prompts, mailto: links, compact
// mode and the saved place, the list's look and commands; and the real
// program delivering through a real server.
#include "aiosmtpd_server.h"
#include "fake_smtp_server.h"
#include "formhelpers.h"
#include "mesgdlg.h"
#include "setpdlg.h"
#include "support_app.h"
#include "unit1.h"

#include <QFileDialog>
#include <QListWidget>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTimer>
#include <gmock/gmock.h>

namespace {
using ::testing::AllOf, ::testing::Contains, ::testing::HasSubstr, ::testing::StartsWith;
using enum QDialog::DialogCode;

const std::string kTooLong = "Error: Entry is too long: the settings file keeps at most 1023 characters of it.";
// 1023 characters: the most the settings file keeps ("é" is one, of two bytes).
const QString kLongest = QString(1011, QChar(0xE9)) + "@example.org";

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir.Write("tessaly.ini", "[Setup]\r\nEMail Address=me@x.org\r\nShowSuccess=0\r\nMsgText=1\r\nMsgSubject=1\r\n"
                                 "MsgTextFile=" + dir.Write("text.txt", "Hello\r\n") + "\r\n");
        Open();
    }
    void Open(const QStringList& args = {}) { window = std::make_unique<TfrmMailTo>(args, dir.Path("tessaly.ini")); }
    void Show() { window->show(); QApplication::setActiveWindow(window.get()); QCoreApplication::processEvents(); }
    // A scripted server for one message to one recipient, or for `script`.
    void Serve(TLines script = {"S: 220 ready", "C: EHLO", "S: 250 ok", "C: MAIL", "S: 250 ok", "C: RCPT", "S: 250 ok",
                                "C: DATA", "S: 354 go", "D:", "S: 250 queued", "C: QUIT", "S: 221 bye"})
    {
        server = std::make_unique<TFakeSMTPServer>(std::move(script));
        window->Mailer.SetServer(server->Address());
    }
    // Selects exactly the entries `selected`.
    void Select(const QStringList& selected)
    {
        window->lstAddresses->clearSelection();
        for (const QString& entry : selected)
            window->lstAddresses->findItems(entry, Qt::MatchExactly).value(0)->setSelected(true);
    }
    // Drags `files` over the window with Shift held, which proposes a move,
    // and drops them: how many of the three steps were taken, as a copy.
    int Drop(const QList<QUrl>& files, Qt::DropActions possible = Qt::CopyAction | Qt::MoveAction)
    {
        QMimeData data;
        data.setUrls(files);
        QDragEnterEvent enter(QPoint(5, 5), possible, &data, Qt::LeftButton, Qt::ShiftModifier);
        QDragMoveEvent move(QPoint(5, 5), possible, &data, Qt::LeftButton, Qt::ShiftModifier);
        QDropEvent drop(QPointF(5, 5), possible, &data, Qt::LeftButton, Qt::ShiftModifier);
        int taken = 0;
        for (QDropEvent* event : std::initializer_list<QDropEvent*>{&enter, &move, &drop}) {
            QCoreApplication::sendEvent(window.get(), event);
            taken += event->isAccepted() && event->dropAction() == Qt::CopyAction;
        }
        QCoreApplication::processEvents();   // the run starts once the drop is answered
        return taken;
    }

    TSeams seams;
    TScratch dir;
    std::unique_ptr<TFakeSMTPServer> server;
    std::unique_ptr<TfrmMailTo> window;
};

// Runs started by the menu's keys and by drops: the keys act while the list
// has the focus, the prompts are the window's dialogs, drops are taken as
// copies only; during a run the panels, drops and close are refused, and
// Esc cancels it.
TEST_F(WindowTest, RunsFromTheMenuKeysAndFromDropsAndWhatTheWindowRefusesDuringThem)
{
    window->AddEntry("z@x.org");
    Show();
    EXPECT_EQ(QApplication::focusWidget(), window->lstAddresses) << "the list comes first";
    const auto longName = [](TSetupDlg& d) { d.UserNameEdit->setText(QChar(0xE9) + kLongest); };
    seams.Dialogs = {{}, seams.Drive<TSetupDlg>(longName, Accepted), {}, {}, {}};
    QTest::keyClick(window->lstAddresses, Qt::Key_M, Qt::ControlModifier);   // no server: a box, then Setup
    // The run gives the focus back to the list, so its keys go on working.
    QTest::keyClick(window->lstAddresses, Qt::Key_S, Qt::ControlModifier);   // a name too long: Setup stays open
    window->btnSetup->click(), window->Setup1->trigger(), window->Button5->click();   // Help opens in the editor
    EXPECT_EQ(seams.Shown, TLines(5, "TSetupDlg"));

    // Nothing selected, no files: the recipient prompt (cancelled first; then
    // "&Add To List" puts the answer in the list) and the message dialog, with
    // the Latin-1 text.
    Serve();
    window->Run.MsgTextFile = dir.Write("latin1.txt", "Gr\xFC\xDF Gott\r\n");
    QStringList text;
    const auto recipient = [](TAddressDlg& d) {
        EXPECT_EQ(d.lblPrompt->text(), "Enter recipient or list to mail to:");
        d.txtEmail->setText("m@x.org");
        d.btnAddtolist->click();
    };
    const auto message = [&](TMsgDlg& d) { text = d.Lines(), d.txtSubject->setText("Hi"); };
    seams.Dialogs = {{}, seams.Drive<TAddressDlg>(recipient, Accepted), seams.Drive<TMsgDlg>(message, Accepted)};
    // Behind the result box the session reads as over, not "Logging out... 0%".
    window->Mailer.SetShowResult(true);
    QString atBox;
    const TMessageBoxHandler recorder = SetMessageBoxHandler([&](const TMessageBox& box) {
        atBox = QString::fromStdString(box.Text) + window->pnlStatus->Caption() + window->prcMeter->text();
    });
    QTest::keyClick(window->lstAddresses, Qt::Key_M, Qt::ControlModifier);
    QTest::keyClick(window->lstAddresses, Qt::Key_M, Qt::ControlModifier);
    SetMessageBoxHandler(recorder);
    EXPECT_EQ(text, QStringList{QString::fromUtf8("Gr\u00FC\u00DF Gott")});
    EXPECT_EQ(window->Entries(), (QStringList{"m@x.org", "z@x.org"}));
    EXPECT_THAT(server->Received(), AllOf(Contains("RCPT TO:<m@x.org>"), Contains(StartsWith("Subject:  Hi"))));
    EXPECT_EQ(atBox, "All Done." + QString(14, ' ') + "100%");

    // Drops: a move only is refused; a folder among the files is left out.
    Show();   // back from the dialogs
    const QList<QUrl> files{QUrl::fromLocalFile(dir.QWrite("one.txt", "1")), QUrl::fromLocalFile(dir.QPath("")),
                            QUrl::fromLocalFile(dir.QWrite("two.dat", "2"))};
    EXPECT_EQ(Drop(files, Qt::MoveAction), 0) << "after a move the file manager would delete the files";
    std::vector<bool> during;
    window->Mailer.OnStatusChange = [&, shown = window->Mailer.OnStatusChange](QObject* sender) {
        shown(sender);
        if (window->Mailer.Status() == msLoggingIn && window->CompactMode())   // the run below in compact mode
            QTest::keyClick(window.get(), Qt::Key_Escape);
        else if (window->Mailer.Status() == msLoggingIn)
            during = {window->pnlControl->isHidden(), !window->lstAddresses->isEnabled(),
                      !window->pnlSending->isHidden(), Drop({files[0]}) == 0, !window->close()};
    };
    Serve();
    Select({"m@x.org"});
    EXPECT_EQ(Drop(files), 3);
    EXPECT_EQ(during, std::vector<bool>(5, true));
    EXPECT_THAT(server->Received(), AllOf(Contains("RCPT TO:<m@x.org>"), Contains("QUIT"),
                                          Contains(StartsWith("Subject:  Files: one.txt, two.dat"))));
    EXPECT_TRUE(!window->TransferActive() && window->pnlSending->isHidden() && window->lstAddresses->isEnabled());

    // Compact, the panel stays hidden after a run; Esc cancels the run.
    window->popHidepanel->trigger();
    Serve({"S: 220 ready", "C: EHLO"});   // the EHLO reply never comes
    EXPECT_EQ(Drop({files[2]}), 3);
    EXPECT_EQ(seams.Boxes, (TLines{"Information: Please setup default message options \r\nand then try again.",
                                   kTooLong, "Error: Transfer in Progress.  Click Cancel button first.",
                                   "Information: All Done.", "Error: Send aborted:\r\nOperation has been canceled"}));
    EXPECT_EQ(window->pnlStatus->Caption() + window->prcMeter->text(), QString(14, ' ') + "Canceled.0%");
    const int changes = window->pnlStatus->CaptionChanges();
    window->MailerStatusChange(&window->Mailer);   // the same status: the caption stays
    EXPECT_EQ(window->pnlStatus->CaptionChanges(), changes);
    EXPECT_TRUE(!window->TransferActive() && window->pnlSending->isHidden() && window->pnlControl->isHidden());
    QTest::keyClick(window->lstAddresses, Qt::Key_X, Qt::ControlModifier);
    EXPECT_FALSE(window->isVisible());
}

// Settings that cannot be saved: the user chooses whether the window closes;
// a command-line run has nobody to ask and ends with a failure status.
TEST_F(WindowTest, CloseAsksWhenTheSettingsCannotBeSavedAndACommandLineRunRunsOnceAndFails)
{
    QFile::setPermissions(dir.QPath("tessaly.ini"), QFileDevice::ReadOwner);   // read-only, for root as well
    for (const std::size_t answer : {1, 0})   // "&Go back", then "Close &without saving"
        EXPECT_EQ((seams.Answer = answer, window->close()), answer == 0);
    const TQuestion& q = seams.Questions.at(0);
    EXPECT_EQ(q.Text + "|" + q.Buttons.at(0) + "|" + q.Buttons.at(1) + "|" + std::to_string(q.Cancel),
              "Unable to write to " + dir.Path("tessaly.ini") + ": Permission denied.\n\n"
              "Close without saving the settings and the address list?|Close &without saving|&Go back|1");

    Open({"boss@x.org", dir.QWrite("report.txt", "r")});
    Serve();
    seams.Dialogs = {{}};
    int closed = 0;
    QObject::connect(window.get(), &TfrmMailTo::Closed, [&] { ++closed; });
    TStrings copies, text;   // the run's steps under the window's names
    const std::string to = window->GetRecipients(copies);   // first: it takes the files from the arguments
    window->LoadMsgText(text);
    EXPECT_EQ(to + "|" + window->GetSubject() + "|" + text.ToVector().at(0), "boss@x.org|Files: report.txt|Hello");
    EXPECT_FALSE(window->PromptMessage());
    window->FormActivate();
    window->FormActivate();
    EXPECT_EQ(closed, 1);
    EXPECT_THAT(server->Received(), Contains("RCPT TO:<boss@x.org>"));
    EXPECT_EQ(window->ExitCode(), TfrmMailTo::kExitFailed) << "sent, but the settings were not saved";
    EXPECT_EQ(seams.Questions.size() + seams.Boxes.size(), 2u) << "nobody was asked";
}

// What close saved comes back at the next start: size, place, look, list
// and compact mode. Colour and font choices cancelled leave the list's look;
// black type on a chosen colour stays black; a place that no screen shows is
// not taken; after Hide Panel the menu's keys still act on the list.
TEST_F(WindowTest, StartUpRestoresWhatCloseSavedAndCompactModeKeepsTheMenuKeys)
{
    dir.Write("tessaly.ini", "[Setup]\r\nHeight=300\r\nWidth=500\r\nTop=-5000\r\nLeft=-5000\r\nFontSize=12\r\n"
                             "FontName=Sans\r\nBackColor=65280\r\n[Addresses]\r\na=Zed\r\nb=b\r\nc=Ann\r\nd=b\r\n");
    Open();
    EXPECT_EQ(QRect(window->pos(), window->size()), QRect(15, 15, 500, 300));
    EXPECT_EQ(window->Entries(), (QStringList{"Ann", "b", "b", "Zed"}));
    const auto look = [this] {
        const QListWidget& l = *window->lstAddresses;
        return l.font().family() + QString::number(l.font().pointSize()) + l.palette().text().color().name() +
               l.palette().base().color().name();
    };
    seams.Colors = {std::nullopt, std::nullopt, QColor(0x12, 0x34, 0x56), QColor(0, 0, 255)};
    seams.Fonts = {std::nullopt, QFont("DejaVu Serif", 14)};
    window->btnColor->click(), window->btnTextColor->click(), window->btnFont->click();
    EXPECT_EQ(look(), "Sans12#000000#00ff00");
    window->btnColor->click(), window->btnTextColor->click(), window->btnFont->click();
    EXPECT_EQ(look(), "DejaVu Serif14#0000ff#123456");

    Select({"Ann"});
    Show();
    EXPECT_LE(window->pnlControl->minimumSizeHint().width(), 432) << "the panel fits the default window";
    const int outer = window->frameGeometry().height();
    window->lstAddresses->setFocus();
    window->btnHidePanel->click();
    EXPECT_TRUE(window->pnlControl->isHidden() && window->isVisible() && window->acceptDrops());
    EXPECT_EQ(window->windowType(), Qt::Tool);
    EXPECT_EQ(window->height(), outer);
    seams.Dialogs = {{}};
    QTest::keyClick(window->lstAddresses, Qt::Key_S, Qt::ControlModifier);
    QTest::keyClick(window->lstAddresses, Qt::Key_Delete);
    EXPECT_EQ(seams.Shown, TLines{"TSetupDlg"});
    EXPECT_EQ(window->Entries().size(), 3);
    window->move(300, 250);
    ASSERT_TRUE(window->close());

    Open();
    Show();
    EXPECT_EQ(look(), "DejaVu Serif14#0000ff#123456");
    EXPECT_TRUE(window->CompactMode() && window->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(QRect(window->pos(), window->size()), QRect(300, 250, 500, outer));
    window->ShowPanel1->trigger();
    EXPECT_FALSE(window->CompactMode() || window->pnlControl->isHidden() || window->windowType() != Qt::Window);
    ASSERT_TRUE(window->close());
    EXPECT_TRUE(dir.Holds("tessaly.ini", "Top=250\r\nLeft=300\r\n")) << dir.Read("tessaly.ini");
}

TEST_F(WindowTest, ListCommandsAddEditAndRemoveEntriesByKeyButtonAndMenu)
{
    Show();
    const QWidget* hint = window->lstAddresses->viewport()->findChild<QLabel*>("lblEmptyHint");
    ASSERT_TRUE(hint && hint->isVisible()) << "an empty list says how to fill it";
    window->AddEntry("c@x.org"), window->AddEntry("e@x.org|Eve"), window->AddEntry("f@x.org");
    EXPECT_FALSE(hint->isVisible());
    for (const QString& typed : {QString("nobody"), QChar(0xE9) + kLongest, kLongest})
        window->txtAddress->setText(typed), window->Button1->click();
    window->txtAddress->setFocus();
    window->txtAddress->setText("Ann Lee <a@x.org>");
    QTest::keyClick(window->txtAddress, Qt::Key_Return);   // "&Add:" is the default button
    QTest::keyClick(window->txtAddress, Qt::Key_M, Qt::ControlModifier);   // the menu's keys act on the list only
    EXPECT_EQ(window->Entries(), (QStringList{"a@x.org|Ann Lee", "c@x.org", "e@x.org|Eve", "f@x.org", kLongest}));
    const auto* shownAs = static_cast<QStyledItemDelegate*>(window->lstAddresses->itemDelegate());
    EXPECT_EQ(shownAs->displayText("a@x.org|Ann Lee", QLocale()), "Ann Lee <a@x.org>");
    Select({"c@x.org", "f@x.org", kLongest});
    window->btnRemSelected->click();
    const QString list = dir.QWrite("team", "a@x.org\n");
    const auto shown = TSeams::Drive<TAddressDlg>([](TAddressDlg& d) {
        EXPECT_EQ(d.txtEmail->text(), "Eve <e@x.org>");
        d.txtEmail->setText("Dee <d@x.org>");
    }, Accepted);
    const auto typed = [](const QString& text) {
        return TSeams::Drive<TAddressDlg>([text](TAddressDlg& d) { d.txtEmail->setText(text); }, Accepted);
    };
    seams.Dialogs = {{}, typed(QChar(0xE9) + kLongest), shown, {}, typed("b@x.org")};
    seams.Files = {list, std::nullopt};
    window->Editselected1->trigger();   // nothing selected: nothing happens
    Select({"e@x.org|Eve"});
    for (int edit = 0; edit < 3; ++edit)   // cancelled, too long, e -> d
        window->Editselected1->trigger();
    window->lstAddresses->setFocus();
    QTest::keyClick(window->lstAddresses, Qt::Key_Insert), window->popAddAddress->trigger();   // adds b
    window->Button3->click();                                // adds the list file
    window->Button3->click();                                // offers it again; cancelled
    EXPECT_EQ(seams.Choosers.at(1).FileName, list);
    EXPECT_EQ(window->Entries(), (QStringList{list, "a@x.org|Ann Lee", "b@x.org", "d@x.org|Dee"}));
    EXPECT_EQ(seams.Boxes, (TLines{"Error: Email address must have \"@\" part.", kTooLong, kTooLong}));
    Select({list});
    window->lstAddressesDblClick();   // a list file opens in the editor
    EXPECT_EQ(seams.Edited, std::vector<QString>{list});
    Select({"a@x.org|Ann Lee", "b@x.org", "d@x.org|Dee"});
    window->Removeselected1->trigger();
    EXPECT_EQ(window->Entries(), QStringList{list});
}

// A link is always confirmed in the message dialog and mails to its own
// recipients only: cancelled, nothing is sent; confirmed, its fields and the
// file reach a real server. Then the real program, given a file, a missing
// file and an address, delivers through the same server and exits.
TEST_F(WindowTest, LinksAndTheRealProgramDeliverThroughARealServer)
{
    TAiosmtpdServer server;
    ASSERT_TRUE(server.Running()) << server.Error();
    const QString file = dir.QWrite("report.txt", "numbers 1 2 3\r\n");
    QStringList shown;   // of each confirmation: the summary, the subject and the text
    const auto confirm = [&](TMsgDlg& d) {
        for (int row = 0; row < d.lstSummary->count(); ++row)
            shown << d.lstSummary->item(row)->text();
        shown << d.txtSubject->text() + "|" + d.Lines().join('|');
    };
    const QString url = "mailto:a@x.org,b@y.org?cc=Carl%20%3Cc@z.org%3E&subject=Hi%0D%0AThere&body=Text&attach=" + file;
    const QStringList links{"mailto:a@x.org?subject=S", url + "&attach=/no/such/file"};
    for (const bool confirmed : {false, true}) {
        Open({links[confirmed]});
        window->Mailer.SetServer(server.Address());
        window->AddEntry("z@x.org"), window->lstAddresses->selectAll();
        seams.Dialogs = {seams.Drive<TMsgDlg>(confirm, confirmed ? Accepted : Rejected)};
        window->SendMail();
        EXPECT_EQ(window->ExitCode(), confirmed ? 0 : TfrmMailTo::kExitFailed);
    }
    // No body in the first link: the settings' text.
    EXPECT_EQ(shown, (QStringList{"To: a@x.org", "S|Hello", "To: a@x.org", "Cc: Carl <c@z.org>", "Bcc: b@y.org",
                                  "File: " + file, "Not found, not sent: /no/such/file", "Hi  There|Text"}));
    EXPECT_THAT(server.Message(1), AllOf(HasSubstr("Subject:  Hi  There"), HasSubstr("name=\"report.txt\""),
                                         HasSubstr("numbers 1 2 3")));
    EXPECT_THAT(server.Envelope(1), AllOf(HasSubstr("a@x.org"), HasSubstr("b@y.org"), HasSubstr("c@z.org"),
                                          Not(HasSubstr("z@x.org"))));

    // The real program, with the settings that the windows saved beside it.
    ASSERT_TRUE(QFile::copy(TESSALY_BINARY_DIR "/app/tessaly", dir.QPath("tessaly")));
    QProcess process;
    process.start(dir.QPath("tessaly"), {file, dir.QPath("missing.txt"), "boss@x.org"});
    ASSERT_TRUE(process.waitForFinished(60000));   // generous: the run takes well under a second
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_THAT(process.readAllStandardError().toStdString(),
                HasSubstr("tessaly: " + dir.Path("missing.txt") + ": no such file; left out\n"));
    EXPECT_THAT(server.Message(2), AllOf(HasSubstr("Subject:  Files: report.txt"), HasSubstr("Hello")));
    EXPECT_THAT(server.Envelope(2), HasSubstr("boss@x.org"));
}

// The real chooser, answered from inside its own modal loop, leaves the
// working directory alone and starts where the last choice was; Save As asks
// before the ".txt" it adds makes it replace a file.
TEST_F(WindowTest, SaveAsAsksBeforeReplacingAFileAndTheRealChooserLeavesTheWorkingDirectory)
{
    TMsgDlg dialog;
    dialog.txtText->setPlainText("new");
    for (const std::size_t answer : {1, 0}) {   // "&No", then "&Yes"
        dir.Write("notes.txt", "old");
        seams.Answer = answer, seams.Files = {dir.QPath("notes")};
        dialog.Button2->click();
        EXPECT_EQ(dir.Read("notes.txt"), answer ? "old" : "new");
    }
    EXPECT_EQ(seams.Questions.at(1).Text, "notes.txt already exists.\nDo you want to replace it?");

    const QString before = QDir::currentPath(), pick = dir.QWrite("list.txt", "a@x.org\n");
    SetFileChooserHandler({});   // the seams put theirs back at the end
    QString startedIn;
    for (int round = 0; round < 2; ++round) {
        QTimer::singleShot(0, [&] {
            auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(chooser, nullptr);
            startedIn = chooser->directory().absolutePath();
            chooser->selectFile(pick);
            QMetaObject::invokeMethod(chooser, "accept");
        });
        EXPECT_EQ(ChooseFile(nullptr, OpenTextChooser("Pick")), pick);
        EXPECT_EQ(QDir::currentPath(), before);
    }
    EXPECT_EQ(startedIn, QFileInfo(pick).absolutePath());
}

}
