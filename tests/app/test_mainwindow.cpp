// What only the main window can show: menu keys, drops, the panels during a
// run and the close refused then, Esc, its dialogs as the run's prompts,
// mailto: links, compact mode, the list's look and commands, start-up and
// close; and the real program delivering through a real server.
#include "aiosmtpd_server.h"
#include "fake_smtp_server.h"
#include "mesgdlg.h"
#include "setpdlg.h"
#include "support_app.h"
#include "unit1.h"

#include <QAction>
#include <QDropEvent>
#include <QListWidget>
#include <QMimeData>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyledItemDelegate>
#include <QUrl>

namespace {

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override { Open(); }
    void Open(const QStringList& arguments = {})
    {
        window = std::make_unique<TfrmMailTo>(arguments, dir.Path("tessaly.ini"));
        TSMTP& m = window->Mailer;
        m.SetFrom("me@x.org"), m.SetShowResult(false), m.SetTimeOut(5);
        window->Run.MsgText = window->Run.MsgSubject = 1;
        window->Run.MsgTextFile = dir.Write("text.txt", "Hello\r\n");
        m.OnStatusChange = [this, shown = m.OnStatusChange](QObject* sender) {
            shown(sender);
            Captions.push_back(window->pnlStatus->Caption().toStdString());
            if (OnStatus)
                OnStatus(window->Mailer.Status());
        };
    }
    // A scripted server for one message to one recipient, or for `script`.
    TFakeSMTPServer& Serve(TLines script = {"S: 220 ready", "C: EHLO", "S: 250 ok", "C: MAIL", "S: 250 ok", "C: RCPT",
                                            "S: 250 ok", "C: DATA", "S: 354 go", "D:", "S: 250 queued", "C: QUIT", "S: 221 bye"})
    {
        server = std::make_unique<TFakeSMTPServer>(std::move(script));
        window->Mailer.SetServer(server->Address());
        return *server;
    }
    std::size_t Count(const std::string& prefix) const
    {
        return std::size_t(std::count_if(server->Received().begin(), server->Received().end(),
                                         [&](const std::string& line) { return line.rfind(prefix, 0) == 0; }));
    }
    void Select(const QStringList& entries, const QStringList& selected)
    {
        for (const QString& entry : entries)
            window->AddEntry(entry);
        SelectEntries(*window->lstAddresses, selected);
    }
    // Drops `paths` on the window; returns whether the drag was welcome.
    bool Drop(const QStringList& paths)
    {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString& path : paths)
            urls << QUrl::fromLocalFile(path);
        data.setUrls(urls);
        const QPoint at(window->width() / 2, window->height() - 10);
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window.get(), &enter);
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window.get(), &drop);
        QCoreApplication::processEvents();   // the run starts once the drop is answered
        return enter.isAccepted();
    }
    bool Restored() const
    {
        return !window->TransferActive() && window->pnlSending->isHidden() && window->lstAddresses->isEnabled();
    }

    TSeams seams;
    TScratch dir;
    std::unique_ptr<TFakeSMTPServer> server;
    std::unique_ptr<TfrmMailTo> window;
    TLines Captions;
    std::function<void(TMailStatus)> OnStatus;
};

TEST_F(WindowTest, DropMailsTheFilesAndDuringTheRunDropsAndCloseAreRefused)
{
    const QStringList dropped{dir.QWrite("one.txt", "1"), dir.QPath(""), dir.QWrite("two.dat", "2")};
    for (const bool compact : {false, true}) {
        SCOPED_TRACE(compact ? "compact" : "normal");
        Open();
        if (compact)
            window->popHidepanel->trigger();
        Serve();
        Select({"a@x.org"}, {"a@x.org"});
        ShowActive(*window);
        seams.Boxes.clear();
        std::vector<bool> during;
        OnStatus = [&](TMailStatus status) {
            if (status == msLoggingIn)
                during = {window->pnlControl->isHidden(), !window->lstAddresses->isEnabled(),
                          !window->pnlSending->isHidden(), !Drop({dropped[0]}), !window->close()};
        };

        EXPECT_TRUE(Drop(dropped));

        EXPECT_EQ(during, std::vector<bool>(5, true));
        EXPECT_EQ(seams.Boxes, TLines{"Error: Transfer in Progress.  Click Cancel button first."});
        EXPECT_EQ(Count("RCPT TO:<a@x.org>") + Count("Subject:  Files: one.txt, two.dat") + Count("QUIT"), 3u);
        EXPECT_TRUE(Restored());
        EXPECT_EQ(window->pnlControl->isHidden(), compact);
    }
}

TEST_F(WindowTest, EscCancelsOnlyWhileSendingAndTheStatusLineShowsEachPhase)
{
    EXPECT_EQ(window->pnlStatus->Caption(), QString(13, ' ') + "Starting...");
    Serve({"S: 220 ready", "C: EHLO"});   // the EHLO reply never comes
    Select({"a@x.org"}, {"a@x.org"});
    window->Mailer.Attachments().Add(dir.Write("plan.txt", "plan"));
    window->Mailer.SetShowResult(true);
    ShowActive(*window);
    QTest::keyClick(window->lstAddresses, Qt::Key_Escape);
    OnStatus = [&](TMailStatus status) {
        if (status == msLoggingIn)
            QTest::keyClick(window.get(), Qt::Key_Escape);
    };

    window->SendMail();

    EXPECT_EQ(seams.Boxes, TLines{"Error: Send aborted:\r\nOperation has been canceled"});
    const std::string blanks(14, ' ');
    EXPECT_EQ(Captions, (TLines{blanks + "Connecting to Server...", blanks + "Logging in...", blanks + "Canceled."}));
    const int changes = window->pnlStatus->CaptionChanges();
    window->MailerStatusChange(&window->Mailer);   // the same status: the caption stays
    EXPECT_EQ(window->pnlStatus->CaptionChanges(), changes);
    EXPECT_EQ(window->prcMeter->value(), 0);
    EXPECT_TRUE(Restored());
}

TEST_F(WindowTest, TheRunsPromptsAreTheWindowsDialogs)
{
    // No server: the information box and Setup; nothing is sent.
    seams.Dialogs = {seams.Drive<TSetupDlg>([](TSetupDlg&) {}, QDialog::Rejected)};
    window->MailtoSelected1Click();
    EXPECT_EQ(seams.Boxes, TLines{"Information: Please setup default message options \r\nand then try again."});

    // Nothing selected, no files: the recipient prompt ("&Add To List" puts
    // the answer in the list), then the message dialog with the Latin-1 text.
    Serve();
    Select({"z@x.org"}, {});
    window->Run.MsgTextFile = dir.Write("latin1.txt", "Gr\xFC\xDF Gott\r\n");
    QString prompt;
    QStringList text;
    seams.Dialogs = {seams.Address("m@x.org", QDialog::Accepted,
                                   [&](TAddressDlg& d) {
                                       prompt = d.lblPrompt->text();
                                       d.txtEmail->setText("m@x.org");
                                       d.btnAddtolist->click();
                                   }),
                     seams.Drive<TMsgDlg>([&](TMsgDlg& d) { text = d.Lines(), d.txtSubject->setText("Hi"); }, QDialog::Accepted)};
    // Behind the result box the session reads as over, not "Logging out... 0%".
    window->Mailer.SetShowResult(true);
    QString atBox;
    const TMessageBoxHandler recorder = SetMessageBoxHandler({});
    SetMessageBoxHandler([&](const TMessageBox& box) {
        atBox = window->pnlStatus->Caption() + QString::number(window->prcMeter->value());
        recorder(box);
    });

    window->MailtoSelected1Click();
    SetMessageBoxHandler(recorder);

    EXPECT_EQ(seams.Shown, (TLines{"TSetupDlg", "TAddressDlg", "TMsgDlg"}));
    EXPECT_EQ(prompt, "Enter recipient or list to mail to:");
    EXPECT_EQ(text, QStringList{QString::fromUtf8("Gr\u00FC\u00DF Gott")});
    EXPECT_EQ(window->Entries(), (QStringList{"m@x.org", "z@x.org"}));
    EXPECT_EQ(Count("RCPT TO:<m@x.org>") + Count("Subject:  Hi"), 2u);
    EXPECT_EQ(seams.Boxes.back(), "Information: All Done.");
    EXPECT_EQ(atBox, QString(14, ' ') + "100");
    EXPECT_TRUE(Restored());
}

TEST_F(WindowTest, CommandLineRunStartsAtTheFirstActivationOnlyAndClosesWithItsStatus)
{
    Open({"boss@x.org", dir.QWrite("report.txt", "r")});
    window->Mailer.SetServer("127.0.0.1:1");
    seams.Dialogs = {seams.Drive<TMsgDlg>([](TMsgDlg&) {}, QDialog::Rejected), seams.Drive<TMsgDlg>([](TMsgDlg&) {}, QDialog::Rejected)};
    QSignalSpy closed(window.get(), &TfrmMailTo::Closed);
    TStrings copies{"old"}, text;   // the run's steps under the window's names
    const std::string to = window->GetRecipients(copies);   // first: it takes the files from the arguments
    window->LoadMsgText(text);
    EXPECT_EQ(to + "|" + window->GetSubject() + "|" + text.ToVector().at(0), "boss@x.org|Files: report.txt|Hello");
    EXPECT_FALSE(window->PromptMessage());
    window->Run.MsgText = 0;   // so that the run prompts

    window->FormActivate();
    window->FormActivate();

    EXPECT_EQ(seams.Shown, TLines(2, "TMsgDlg"));
    EXPECT_EQ(closed.count(), 1);
    EXPECT_EQ(window->ExitCode(), 1) << "nothing was sent";
}

TEST_F(WindowTest, CompactModeSurvivesARestart)
{
    ShowActive(*window);
    const int outer = window->frameGeometry().height();
    window->btnHidePanel->click();
    EXPECT_TRUE(window->pnlControl->isHidden() && window->isVisible() && window->acceptDrops());
    EXPECT_EQ(window->windowType(), Qt::Tool);
    EXPECT_EQ(window->height(), outer);
    ASSERT_TRUE(window->close());

    Open();
    EXPECT_TRUE(window->CompactMode() && window->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(window->height(), outer);
    window->ShowPanel1->trigger();
    EXPECT_FALSE(window->CompactMode() || window->pnlControl->isHidden());
    EXPECT_EQ(window->windowType(), Qt::Window);
}

// Colour and font choices cancelled leave the list's look; confirmed ones
// are taken and saved at close.
TEST_F(WindowTest, StartUpLoadsBoundsLookAndASortedListAndCloseSavesThem)
{
    dir.Write("tessaly.ini", "[Setup]\r\nHeight=300\r\nWidth=500\r\nTop=40\r\nLeft=60\r\nFontColor=0xFF\r\nFontName=DejaVu Sans\r\n"
                             "FontSize=12\r\nBackColor=65280\r\n[Addresses]\r\na=Zed@x.org\r\nb=b@x.org\r\nc=Ann@x.org\r\nd=b@x.org\r\n");
    Open();
    EXPECT_EQ(QRect(window->pos(), window->size()), QRect(60, 40, 500, 300));
    EXPECT_EQ(window->Entries(), (QStringList{"Ann@x.org", "b@x.org", "b@x.org", "Zed@x.org"}));
    const auto look = [this] {
        const QListWidget& list = *window->lstAddresses;
        return list.font().family() + QString::number(list.font().pointSize()) + list.palette().color(QPalette::Text).name() +
               list.palette().color(QPalette::Base).name();
    };
    EXPECT_EQ(look(), "DejaVu Sans12#ff0000#00ff00");
    seams.Colors = {std::nullopt, QColor(0x12, 0x34, 0x56)};
    seams.Fonts = {std::nullopt, QFont("DejaVu Serif", 14)};
    window->btnColor->click(), window->btnFont->click();
    EXPECT_EQ(look(), "DejaVu Sans12#ff0000#00ff00");
    window->btnColor->click(), window->btnFont->click();
    EXPECT_EQ(look(), "DejaVu Serif14#ff0000#123456");
    EXPECT_TRUE(window->close());
    for (const char* saved : {"FontColor=255", "BackColor=5649426", "FontName=DejaVu Serif"})
        EXPECT_TRUE(dir.Holds("tessaly.ini", saved)) << saved;

    window = std::make_unique<TfrmMailTo>(QStringList{}, dir.Path("none/tessaly.ini"));
    seams.Colors = {QColor(0x12, 0x34, 0x56)};
    window->btnColor->click();
    EXPECT_TRUE(look().endsWith("#000000#123456")) << "black type on a chosen colour stays black";
}

TEST_F(WindowTest, ListCommandsAddEditAndRemoveEntriesByKeyButtonAndMenu)
{
    ShowActive(*window);
    const QWidget* hint = window->lstAddresses->viewport()->findChild<QLabel*>("lblEmptyHint");
    ASSERT_TRUE(hint && hint->isVisible()) << "an empty list says how to fill it";
    Select({"c@x.org", "e@x.org|Eve", "f@x.org"}, {"c@x.org", "e@x.org|Eve"});
    EXPECT_FALSE(hint->isVisible());
    window->txtAddress->setText("nobody");
    window->Button1->click();   // no "@": refused
    window->txtAddress->setFocus();
    window->txtAddress->setText("Ann Lee <a@x.org>");
    QTest::keyClick(window->txtAddress, Qt::Key_Return);   // "&Add:" is the default button
    EXPECT_EQ(seams.Boxes, TLines{"Error: Email address must have \"@\" part."});
    // Stored as "address|name", shown as typed.
    const auto* shownAs = static_cast<QStyledItemDelegate*>(window->lstAddresses->itemDelegate());
    EXPECT_EQ(shownAs->displayText("a@x.org|Ann Lee", QLocale()), "Ann Lee <a@x.org>");
    Select({}, {"c@x.org", "f@x.org"});
    window->lstAddresses->setFocus();
    QTest::keyClick(window->lstAddresses, Qt::Key_Delete);
    const QString list = dir.QWrite("team", "a@x.org\n");
    const auto shown = [](TAddressDlg& d) { EXPECT_EQ(d.txtEmail->text(), "Eve <e@x.org>"); };
    seams.Dialogs = {seams.Address("x", QDialog::Rejected), seams.Address("Dee <d@x.org>", QDialog::Accepted, shown),
                     seams.Address("x", QDialog::Rejected), seams.Address("b@x.org", QDialog::Accepted)};
    seams.Files = {list, std::nullopt};
    window->Editselected1->trigger();   // nothing selected: nothing happens
    Select({}, {"e@x.org|Eve"});
    window->Editselected1->trigger(), window->Editselected1->trigger();                          // e -> d
    QTest::keyClick(window->lstAddresses, Qt::Key_Insert), window->popAddAddress->trigger();   // adds b
    window->Button3->click();                                // adds the list file
    window->Button3->click();                                // offers it again; cancelled
    EXPECT_EQ(seams.Choosers.at(1).FileName, list);
    EXPECT_EQ(window->Entries(), (QStringList{list, "a@x.org|Ann Lee", "b@x.org", "d@x.org|Dee"}));
    Select({}, {list});
    window->lstAddressesDblClick();   // a list file opens in the editor
    EXPECT_EQ(seams.Edited, std::vector<QString>{list});
    Select({}, {"a@x.org|Ann Lee", "b@x.org"});
    window->btnRemSelected->click();
    Select({}, {"d@x.org|Dee"});
    window->Removeselected1->trigger();
    EXPECT_EQ(window->Entries(), QStringList{list});
}

TEST_F(WindowTest, MenuKeysActWhileTheListHasTheFocusOnlyAndHelpAndSetupOpen)
{
    Select({"a@x.org"}, {});
    ShowActive(*window);
    EXPECT_EQ(QApplication::focusWidget(), window->lstAddresses) << "the list comes first";
    seams.Dialogs = std::deque<TSeams::TStep>(4, [](QDialog&) { return int(QDialog::Rejected); });
    window->Mailer.SetServer("127.0.0.1:1");
    window->txtAddress->setFocus();
    QTest::keyClick(window->txtAddress, Qt::Key_M, Qt::ControlModifier);
    EXPECT_TRUE(seams.Shown.empty());
    window->lstAddresses->setFocus();
    QTest::keyClick(window->lstAddresses, Qt::Key_M, Qt::ControlModifier);
    // The run gives the focus back to the list, so its keys go on working.
    QTest::keyClick(window->lstAddresses, Qt::Key_S, Qt::ControlModifier);
    window->btnSetup->click();
    window->Setup1->trigger();
    window->Button5->click();   // Help
    EXPECT_EQ(seams.Shown, (TLines{"TAddressDlg", "TSetupDlg", "TSetupDlg", "TSetupDlg"}));
    EXPECT_EQ(seams.Edited.size(), 1u);
    QTest::keyClick(window->lstAddresses, Qt::Key_X, Qt::ControlModifier);
    EXPECT_FALSE(window->isVisible());
}

// A link is always confirmed in the message dialog and mails to its own
// recipients only: cancelled, nothing is sent; confirmed, its fields and the
// file reach a real server.
TEST_F(WindowTest, LinksAreConfirmedAndDeliverTheirFieldsThroughARealServer)
{
    TAiosmtpdServer server;
    ASSERT_TRUE(server.Running()) << server.Error();
    const std::string file = dir.Write("report.txt", "numbers 1 2 3\r\n");
    QStringList summary;
    QString subject, text;
    const auto confirm = [&](int result) {
        return TSeams::Drive<TMsgDlg>([&](TMsgDlg& d) {
            summary.clear();
            for (int row = 0; row < d.lstSummary->count(); ++row)
                summary << d.lstSummary->item(row)->text();
            subject = d.txtSubject->text(), text = d.Lines().join('|');
        }, result);
    };
    const QStringList links{"mailto:a@x.org?subject=S", QString::fromStdString("mailto:a@x.org,b@y.org?cc=Carl%20%3Cc@z.org%3E"
                            "&subject=Hi%0D%0AThere&body=Text&attach=" + file + "&attach=/no/such/file")};
    for (const bool confirmed : {false, true}) {
        Open({links[confirmed]});
        window->Mailer.SetServer(server.Address());
        window->Run.UseBCC = true;
        Select({"z@x.org"}, {"z@x.org"});
        seams.Dialogs = {confirm(confirmed ? QDialog::Accepted : QDialog::Rejected)};
        window->SendMail();
        if (!confirmed) {   // no body in the link: the settings' text
            EXPECT_EQ(summary.join('|') + "|" + subject + "|" + text, "To: a@x.org|S|Hello");
        }
    }
    EXPECT_EQ(summary, (QStringList{"To: a@x.org", "Cc: Carl <c@z.org>", "Bcc: b@y.org",
                                    "File: " + QString::fromStdString(file), "Not found, not sent: /no/such/file"}));
    EXPECT_EQ(subject + "|" + text, "Hi  There|Text");
    const std::string message = server.Message(1);
    for (const char* part : {"Subject:  Hi  There", "name=\"report.txt\"", "numbers 1 2 3"})
        EXPECT_NE(message.find(part), std::string::npos) << part << message;
    for (const char* rcpt : {"a@x.org", "b@y.org", "c@z.org"})
        EXPECT_NE(server.Envelope(1).find(rcpt), std::string::npos) << server.Envelope(1);
    EXPECT_EQ(server.Message(2), "") << "one message; the cancelled link sent nothing";
}

// A file, a missing file (left out, with a warning) and an address on the
// command line of the real program, delivered through a real server.
TEST(Program, CommandLineRunDeliversThroughARealServerAndExitsByItself)
{
    TAiosmtpdServer server;
    ASSERT_TRUE(server.Running()) << server.Error();
    TScratch dir;
    const QString program = dir.QPath("tessaly");   // its settings file lies beside it
    ASSERT_TRUE(QFile::copy(TESSALY_BINARY_DIR "/app/tessaly", program));
    dir.Write("tessaly.ini", "[Setup]\r\nServer=" + server.Address() + "\r\nEMail Address=me@x.org\r\nMsgText=1\r\nMsgTextFile=" +
                                 dir.Write("text.txt", "Here is the report.\r\n") + "\r\nMsgSubject=1\r\nShowSuccess=0\r\n");
    QProcess process;
    process.setWorkingDirectory(dir.QPath(""));
    process.start(program, {dir.QWrite("report.txt", "numbers\r\n"), dir.QPath("missing.txt"), "boss@x.org"});
    const bool finished = process.waitForFinished(60000);   // generous: the run takes well under a second
    if (!finished)
        process.kill();
    ASSERT_TRUE(finished);

    EXPECT_EQ(process.exitCode(), 0);
    const std::string warnings = process.readAllStandardError().toStdString();
    EXPECT_NE(warnings.find("tessaly: " + dir.Path("missing.txt") + ": no such file; left out\n"), std::string::npos) << warnings;
    EXPECT_NE(server.Message(1).find("Subject:  Files: report.txt"), std::string::npos) << server.Message(1);
    EXPECT_NE(server.Message(1).find("Here is the report."), std::string::npos);
    EXPECT_NE(server.Envelope(1).find("boss@x.org"), std::string::npos);
    EXPECT_EQ(server.Message(2), "");
}

}
