// The mailing run: recipients, subject and text, prompts, one message per
// file, failures and Cancel, the command-line run. Every run delivers to
// the scripted SMTP server on 127.0.0.1; the last test runs the real
// program against a real server.
#include "aiosmtpd_server.h"
#include "support_app.h"

#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>

namespace {

class SendMailTest : public AppWindowTest {
protected:
    // Selects `selected` of `entries` and attaches one file.
    void Select(const QStringList& entries, const QStringList& selected)
    {
        Fill(entries);
        SelectEntries(*window, selected);
        Attach({scratch.Write("plan.txt", "plan")});
    }
    void ExpectRestored()
    {
        EXPECT_FALSE(window->TransferActive());
        EXPECT_FALSE(window->pnlControl->isHidden());
        EXPECT_TRUE(window->pnlSending->isHidden());
        EXPECT_TRUE(window->lstAddresses->isEnabled());
        const TSMTP& m = window->Mailer;
        EXPECT_TRUE(m.Attachments().Empty() && m.Body().Empty() && m.CC().Empty() && m.BCC().Empty());
        EXPECT_EQ(m.Subject(), "");
    }
    std::vector<std::string> Rcpts(const TFakeSMTPServer& server) const
    {
        return LinesStartingWith(server.Received(), "RCPT TO:");
    }
};

// ---- recipients ----------------------------------------------------------

TEST_F(SendMailTest, NoRecipientSelectedOpensTheRecipientPromptWhoseAnswerIsTheRecipient)
{
    TFakeSMTPServer& server = Serve(SessionScript(1, 1));
    // Nothing selected, or only an entry that is neither address nor file.
    Select({"a@example.com", "z@example.com", "no-such-list"}, {"no-such-list"});
    bool addShown = false;
    seams.Dialogs = {seams.Address("b@example.com", QDialog::Rejected,
                                   [&](TAddressDlg& d) { addShown = !d.btnAddtolist->isHidden(); }),
                     seams.Address("m@example.com", QDialog::Accepted, [](TAddressDlg& d) {
                         d.txtEmail->setText("m@example.com");
                         d.btnAddtolist->click();
                         d.btnAddtolist->click();
                     })};

    window->SendMail();   // Cancel: nothing is sent

    EXPECT_EQ(seams.Prompts, std::vector<QString>{"Enter recipient or list to mail to:"});
    EXPECT_TRUE(addShown);
    EXPECT_EQ(server.Connections(), 0);
    EXPECT_TRUE(seams.Boxes.empty());
    ExpectRestored();

    Attach({scratch.Write("plan.txt", "plan")});
    window->SendMail();   // "&Add To List" puts the answer in its sorted place

    EXPECT_EQ(Rcpts(server), std::vector<std::string>{"RCPT TO:<m@example.com>"});
    EXPECT_EQ(window->Entries(), (QStringList{"a@example.com", "m@example.com", "m@example.com", "no-such-list", "z@example.com"}));
    EXPECT_TRUE(SelectedEntries(*window).isEmpty());

    // A list file as the answer: its first line is the recipient, the rest
    // are copies.
    Serve(SessionScript(1, 3));
    Attach({scratch.Write("plan.txt", "plan")});
    seams.Dialogs = {seams.Address(QString::fromStdString(scratch.Write("team", "\r\nx@x.com\r\ny@x.com\r\n\r\nz@x.com\r\n")))};
    Sent.clear();
    window->SendMail();
    ASSERT_EQ(Sent.size(), 1u);
    EXPECT_EQ(Sent[0].Recipient, "x@x.com");
    EXPECT_EQ(Sent[0].BCC, (std::vector<std::string>{"y@x.com", "z@x.com"}));
    EXPECT_TRUE(Sent[0].CC.empty());
}

TEST_F(SendMailTest, FirstSelectedGivesTheRecipientAndTheOthersCopiesByUseBCC)
{
    using TList = std::vector<std::string>;
    const QString list = QString::fromStdString(scratch.Write("team", "\r\nx@example.com\r\n \r\ny@example.com\r\n"));
    // The list file's path begins with "/", so it sorts before letters and
    // after "+"; a list file first gives the recipient, after an address
    // only copies; its blank lines name nobody. An entry that is neither
    // address nor file is skipped.
    const std::tuple<QStringList, bool, std::string, TList, TList> cases[] = {
        {{"b@example.com", "a@example.com"}, true, "a@example.com", {}, {"b@example.com"}},
        {{"b@example.com", "a@example.com"}, false, "a@example.com", {"b@example.com"}, {}},
        {{list, "zed@example.com"}, true, "x@example.com", {}, {"y@example.com", "zed@example.com"}},
        {{"+ops@example.com", list}, true, "+ops@example.com", {}, {"x@example.com", "y@example.com"}},
        {{"no-such-list", "a@example.com"}, true, "a@example.com", {}, {}},
    };
    Fill({"b@example.com", "a@example.com", list, "zed@example.com", "+ops@example.com", "no-such-list"});
    for (const auto& [selected, useBCC, recipient, cc, bcc] : cases) {
        SCOPED_TRACE(selected.join(" ").toStdString() + (useBCC ? " UseBCC" : ""));
        TFakeSMTPServer& server = Serve(SessionScript(1, int(1 + cc.size() + bcc.size())));
        window->Run.UseBCC = useBCC;
        Select({}, selected);
        Sent.clear();

        window->SendMail();

        ASSERT_EQ(Sent.size(), 1u);
        EXPECT_EQ(Sent[0].Recipient, recipient);
        EXPECT_EQ(Sent[0].CC, cc);
        EXPECT_EQ(Sent[0].BCC, bcc);
        EXPECT_EQ(Rcpts(server).front(), "RCPT TO:<" + recipient + ">");
        EXPECT_EQ(Rcpts(server).size(), 1 + cc.size() + bcc.size());
        // A copy is named in the header, a blind copy is not.
        EXPECT_EQ(AnyLineHolds(LinesStartingWith(server.Received(), "CC:"), "b@example.com"), !cc.empty());
        ExpectRestored();
    }
}

// ---- subject and text ----------------------------------------------------

TEST(SubjectFromFiles, JoinsTheNamesAndCutsAfterSeventyCharacters)
{
    const std::string fifty(50, 'n');
    const std::pair<TStrings, std::string> cases[] = {
        {{}, ""},
        {{"/home/u/plan.txt", "/tmp/map.gif"}, "Files: plan.txt, map.gif"},
        {{"plain"}, "Files: plain"},
        // A backslash or colon is an ordinary character of a name here.
        {{"/x/a\\b:c"}, "Files: a\\b:c"},
        // Exactly 70 characters stay as they are.
        {{"/d/" + std::string(63, 'k')}, "Files: " + std::string(63, 'k')},
        {{"/d/" + std::string(64, 'k')}, "Files: " + std::string(63, 'k') + "..."},
        {{"/d/" + fifty, "/d/" + fifty}, ("Files: " + fifty + ", " + fifty).substr(0, 70) + "..."},
        // Cut by characters, never inside one.
        {{"/d/" + std::string(62, 'k') + "\xc3\xa9\xc3\xa9"}, "Files: " + std::string(62, 'k') + "\xc3\xa9..."},
    };
    for (const auto& [files, subject] : cases)
        EXPECT_EQ(SubjectFromFiles(files), subject);
}

TEST_F(SendMailTest, SubjectAndTextFollowTheirSettings)
{
    Attach({"/a/plan.txt"});
    window->Run.MsgSubjectDef = "Weekly";
    for (const auto& [setting, subject] :
         std::vector<std::pair<int, std::string>>{{0, ""}, {1, "Files: plan.txt"}, {2, "Weekly"}, {7, ""}}) {
        window->Run.MsgSubject = setting;
        EXPECT_EQ(window->GetSubject(), subject) << setting;
    }
    // The text file is read for "prompt" and "file" only; a missing one
    // gives no text.
    const std::vector<std::string> file{"Hello,", "the files."};
    const std::string missing = scratch.Path("missing.txt");
    for (const auto& [setting, path, lines] : std::vector<std::tuple<int, std::string, std::vector<std::string>>>{
             {0, window->Run.MsgTextFile, file}, {1, window->Run.MsgTextFile, file},
             {2, window->Run.MsgTextFile, {}}, {1, missing, {}}}) {
        window->Run.MsgText = setting;
        window->Run.MsgTextFile = path;
        TStrings text{"left over"};
        window->LoadMsgText(text);
        EXPECT_EQ(text.ToVector(), lines) << setting << " " << path;
    }
}

TEST_F(SendMailTest, NoFilesAlwaysPromptsAndTheConfirmedDialogGivesSubjectAndLatinOneText)
{
    // A Latin-1 text file pre-fills the dialog without replacement marks;
    // what the user confirms is typed UTF-8 and goes out in the character
    // set the part is labelled with.
    TFakeSMTPServer& server = Serve(SessionScript(1, 1));
    window->Mailer.SetCharSet(csISO8859);
    window->Run.MsgTextFile = scratch.Write("latin1.txt", "Gr\xFC\xDF Gott\r\n");
    Fill({"a@example.com"});
    SelectEntries(*window, {"a@example.com"});
    QString subject = "unset";
    QStringList shown;
    seams.Dialogs = {TSeams::Message(QDialog::Rejected, std::nullopt, std::nullopt,
                                     [&](TMsgDlg& d) {
                                         subject = d.txtSubject->text();
                                         shown = d.Lines();
                                     }),
                     TSeams::Message(QDialog::Accepted, QString("Hi there"),
                                     QStringList{"one", QString::fromUtf8("Gr\u00FC\u00DFe \u20AC")})};

    window->MailtoSelected1Click();

    EXPECT_EQ(seams.DialogClasses, std::vector<std::string>{"TMsgDlg"});
    EXPECT_EQ(subject, "");
    EXPECT_EQ(shown, QStringList{QString::fromUtf8("Gr\u00FC\u00DF Gott")});
    EXPECT_EQ(server.Connections(), 0);
    ExpectRestored();

    SelectEntries(*window, {"a@example.com"});
    window->MailtoSelected1Click();

    ASSERT_EQ(Sent.size(), 1u);
    EXPECT_EQ(Sent[0].Subject, "Hi there");
    EXPECT_EQ(Sent[0].Body, (std::vector<std::string>{"one", "Gr\xFC\xDF" "e ?"}));
    EXPECT_TRUE(AnyLineHolds(server.Received(), "Subject:  Hi there"));
    EXPECT_TRUE(AnyLineHolds(server.Received(), "Gr=FC=DFe ?"));
    EXPECT_TRUE(AnyLineHolds(server.Received(), "Content-Type: text/plain; charset=\"iso-8859-1\""));
    EXPECT_EQ(LinesStartingWith(server.Received(), "QUIT").size(), 1u);
    ExpectRestored();
}

// ---- one message per file ----------------------------------------------------

TEST_F(SendMailTest, OneFilePerMessageSendsEachFileInOneSessionWithItsSubject)
{
    const std::tuple<std::vector<std::string>, int, std::vector<std::string>> cases[] = {
        {{"plan.txt"}, 1, {"Files: plan.txt"}},
        {{"one.txt", "two.bin", "three.txt"}, 1, {"File: one.txt", "File: two.bin", "File: three.txt"}},
        {{"one.txt", "two.txt"}, 2, {"Reports", "Reports"}},   // a fixed subject stays
    };
    window->Run.OneFilePerMsg = true;
    window->Run.MsgSubjectDef = "Reports";
    Fill({"a@example.com"});
    for (const auto& [names, subjectSetting, subjects] : cases) {
        SCOPED_TRACE(subjects[0]);
        const int count = int(names.size());
        TFakeSMTPServer& server = Serve(SessionScript(count, 1));
        SelectEntries(*window, {"a@example.com"});
        window->Run.MsgSubject = subjectSetting;
        std::vector<std::string> files;
        for (const std::string& name : names)
            files.push_back(scratch.Write(name, name));
        Attach(files);
        Sent.clear();

        window->SendMail();

        ASSERT_EQ(Sent.size(), names.size());
        const auto messages = SplitMessages(server.Received());
        ASSERT_EQ(messages.size(), names.size());
        for (int i = 0; i < count; ++i) {
            EXPECT_EQ(Sent[i].Subject, subjects[i]);
            EXPECT_EQ(Sent[i].Attachments, std::vector<std::string>{files[i]});
            EXPECT_EQ(Sent[i].Body, (std::vector<std::string>{"Hello,", "the files."}));
            EXPECT_TRUE(AnyLineHolds(messages[i], "Subject:  " + subjects[i])) << i;
        }
        EXPECT_EQ(LinesStartingWith(server.Received(), "HELO").size(), 1u);
        EXPECT_EQ(LinesStartingWith(server.Received(), "QUIT").size(), 1u);
        EXPECT_TRUE(seams.DialogClasses.empty());
        ExpectRestored();
    }
}

// ---- failures ------------------------------------------------------------------

TEST_F(SendMailTest, FailureInTheSecondOfThreeMessagesShowsOneBoxAndSendsNoQuit)
{
    TFakeSMTPServer server(Concat({kLogin, MessageSteps(1),
                                   {"C: MAIL FROM:<sender@example.com>", "S: 250 ok", "C: RCPT TO:<a@example.com>",
                                    "S: 550 mailbox unavailable"}}));
    ServeAt(server.Address());
    window->Run.OneFilePerMsg = true;
    Select({"a@example.com"}, {"a@example.com"});
    Attach({scratch.Write("one.txt", "1"), scratch.Write("two.txt", "2"), scratch.Write("three.txt", "3")});

    window->SendMail();

    ASSERT_EQ(seams.Boxes.size(), 1u);
    EXPECT_EQ(seams.Boxes[0].Kind, TMsgKind::Error);
    EXPECT_EQ(seams.Boxes[0].Text, "Mail error (check setup):\r\n mailbox unavailable");
    EXPECT_EQ(LinesStartingWith(server.Received(), "MAIL FROM:").size(), 2u);
    EXPECT_EQ(SplitMessages(server.Received()).size(), 2u);
    EXPECT_TRUE(LinesStartingWith(server.Received(), "QUIT").empty());
    ExpectRestored();
}

TEST_F(SendMailTest, RefusedConnectionAndSilentServerEndWithTheirErrorBox)
{
    TFakeSMTPServer silent({"S: 220 ready", "C: HELO"});   // then never answers
    // The socket error ends in the system's own words.
    const std::tuple<std::string, std::string, bool> cases[] = {
        {"127.0.0.1:" + std::to_string(ClosedPort()), "Socket error (check setup and try again):\r\n", false},
        {silent.Address(), "Connection timed out:\r\nOperation timed out", true}};
    window->Mailer.SetTimeOut(1);
    Fill({"a@example.com"});
    for (const auto& [server, text, whole] : cases) {
        SCOPED_TRACE(text);
        seams.Boxes.clear();
        ServeAt(server);
        Select({}, {"a@example.com"});

        window->SendMail();

        ASSERT_EQ(seams.Boxes.size(), 1u);
        EXPECT_EQ(seams.Boxes[0].Kind, TMsgKind::Error);
        EXPECT_EQ(whole ? seams.Boxes[0].Text : seams.Boxes[0].Text.substr(0, text.size()), text);
        ExpectRestored();
    }
}

TEST_F(SendMailTest, CancelDuringTheSessionEndsItWithABoxOnlyWhenShowResultIsOn)
{
    Fill({"a@example.com"});
    OnStatus = [this](TMailStatus status) {
        if (status == msLoggingIn)
            window->Button2->click();
    };
    for (const bool showResult : {false, true}) {
        SCOPED_TRACE(showResult);
        TFakeSMTPServer& server = Serve({"S: 220 ready", "C: HELO"});   // the HELO reply never comes
        window->Mailer.SetShowResult(showResult);
        Select({}, {"a@example.com"});
        seams.Boxes.clear();
        Captions.clear();

        window->SendMail();

        EXPECT_EQ(seams.BoxTexts(), showResult ? std::vector<std::string>{"Send aborted:\r\nOperation has been canceled"}
                                               : std::vector<std::string>{});
        EXPECT_NE(std::find(Captions.begin(), Captions.end(), "              Canceled."), Captions.end());
        EXPECT_TRUE(LinesStartingWith(server.Received(), "MAIL FROM:").empty());
        ExpectRestored();
    }
}

// ---- status line -------------------------------------------------------------------

TEST(StatusText, HasFourteenBlanksAndTheTextOfItsStatus)
{
    const std::string blanks(14, ' ');
    const std::vector<std::pair<int, std::string>> cases{
        {0, ""}, {1, "Connecting to Server..."}, {2, "Logging in..."}, {3, "Logging out..."},
        {4, "Sending headers..."}, {5, "Sending commands..."}, {6, "Sending message body..."},
        {7, "Sending attachment(s)..."}, {8, "Canceled."}, {9, "Encoding the attachment(s)..."}, {10, ""}};
    for (const auto& [status, text] : cases)
        EXPECT_EQ(StatusText(status).toStdString(), blanks + text) << status;
}

TEST_F(SendMailTest, StatusLineStartsWithThirteenBlanksAndARepeatedStatusLeavesItAlone)
{
    EXPECT_EQ(window->pnlStatus->Caption(), QString(13, ' ') + "Starting...");
    const int before = window->pnlStatus->CaptionChanges();
    window->MailerStatusChange(&window->Mailer);
    window->MailerStatusChange(&window->Mailer);
    EXPECT_EQ(window->pnlStatus->Caption(), QString(14, ' '));
    EXPECT_EQ(window->pnlStatus->CaptionChanges(), before + 1);
}

TEST_F(SendMailTest, SuccessfulRunShowsEveryPhaseAndWithShowResultEndsWithTheBoxWhileSending)
{
    TFakeSMTPServer& server = Serve(SessionScript(1, 1));
    window->Mailer.SetShowResult(true);
    Select({"a@example.com"}, {"a@example.com"});
    bool sendingShown = false;
    seams.OnBox = [&](const TMessageBox&) { sendingShown = !window->pnlSending->isHidden(); };

    window->SendMail();

    EXPECT_EQ(seams.BoxTexts(), std::vector<std::string>{"All Done."});
    EXPECT_TRUE(sendingShown);
    for (const char* text : {"Connecting to Server...", "Logging in...", "Encoding the attachment(s)...",
                             "Sending commands...", "Sending headers...", "Sending message body...",
                             "Sending attachment(s)...", "Logging out..."})
        EXPECT_NE(std::find(Captions.begin(), Captions.end(), std::string(14, ' ') + text), Captions.end()) << text;
    EXPECT_EQ(window->prcMeter->value(), 0);
    EXPECT_EQ(LinesStartingWith(server.Received(), "QUIT").size(), 1u);
    ExpectRestored();
}

// ---- settings check ---------------------------------------------------------------

TEST_F(SendMailTest, EmptyServerAsksForSetupAndSendsNothingEvenWhenItIsFilledIn)
{
    TFakeSMTPServer server(SessionScript(1, 1));
    Select({"a@example.com"}, {"a@example.com"});
    seams.Dialogs.push_back([&](QDialog& dialog) {
        auto* edit = dialog.findChild<QLineEdit*>("ServerEdit");
        EXPECT_NE(edit, nullptr) << dialog.metaObject()->className();
        if (edit)
            edit->setText(QString::fromStdString(server.Address()));
        return int(QDialog::Accepted);
    });

    window->SendMail();

    ASSERT_EQ(seams.Boxes.size(), 1u);
    EXPECT_EQ(seams.Boxes[0].Kind, TMsgKind::Information);
    EXPECT_EQ(seams.Boxes[0].Text, "Please setup default message options \r\nand then try again.");
    EXPECT_EQ(seams.DialogClasses, std::vector<std::string>{"TSetupDlg"});
    EXPECT_EQ(window->Mailer.Server(), server.Address());
    EXPECT_EQ(server.Connections(), 0);
    ExpectRestored();
}

TEST_F(SendMailTest, SenderWithNameOnlyPassesTheSettingsCheck)
{
    TFakeSMTPServer server(Concat({kLogin, {"C: RCPT TO:<a@example.com>", "S: 250 ok", "C: DATA",
                                                  "S: 354 go", "D:", "S: 250 ok", "C: QUIT", "S: 221 bye"}}));
    ServeAt(server.Address());
    window->Mailer.SetFrom("|Sender Name");
    Select({"a@example.com"}, {"a@example.com"});

    window->SendMail();

    EXPECT_EQ(seams.BoxTexts(), std::vector<std::string>{});
    EXPECT_EQ(Rcpts(server).size(), 1u);
}

// ---- command line ------------------------------------------------------------------------

TEST_F(SendMailTest, CommandLineWithAddressFileAndMissingFileSendsOneMessageThenCloses)
{
    const std::string report = scratch.Write("report.txt", "numbers");
    Open({scratch.QPath("missing.txt"), "boss@example.com", QString::fromStdString(report)});
    TFakeSMTPServer& server = Serve(SessionScript(1, 1));
    Fill({"ignored@example.com"});
    SelectEntries(*window, {"ignored@example.com"});
    QSignalSpy closed(window.get(), &TfrmMailTo::Closed);

    window->SendMail();

    ASSERT_EQ(Sent.size(), 1u);
    EXPECT_EQ(Sent[0].Attachments, std::vector<std::string>{report});
    EXPECT_EQ(Sent[0].Subject, "Files: report.txt");
    EXPECT_EQ(Rcpts(server), std::vector<std::string>{"RCPT TO:<boss@example.com>"});
    EXPECT_EQ(closed.count(), 1);
    EXPECT_NE(scratch.Read("tessaly.ini").find("anAddress0=ignored@example.com"), std::string::npos);
}

TEST_F(SendMailTest, CommandLineRunStartsAtTheFirstActivationOnlyAndClosesAfterACancel)
{
    // Files only: the recipient prompt; an address only: the message dialog.
    const std::pair<QStringList, std::string> cases[] = {
        {{QString::fromStdString(scratch.Write("report.txt", "numbers"))}, "TAddressDlg"},
        {{"boss@example.com"}, "TMsgDlg"}};
    for (const auto& [arguments, dialog] : cases) {
        Open(arguments);
        TFakeSMTPServer& server = Serve(SessionScript(1, 1));
        seams.DialogClasses.clear();
        seams.Dialogs = {TSeams::Any(QDialog::Rejected)};
        QSignalSpy closed(window.get(), &TfrmMailTo::Closed);

        window->FormActivate();
        window->FormActivate();

        EXPECT_EQ(seams.DialogClasses, std::vector<std::string>{dialog});
        EXPECT_EQ(server.Connections(), 0);
        EXPECT_EQ(closed.count(), 1);
    }
}

// ---- the real program -------------------------------------------------------------------

TEST(Program, CommandLineRunDeliversThroughARealServerAndExitsByItself)
{
    TAiosmtpdServer server;
    ASSERT_TRUE(server.Running()) << server.Error();
    TScratch scratch;
    // A copy of the program, so that its settings file lies beside it.
    const QString program = scratch.QPath("tessaly");
    ASSERT_TRUE(QFile::copy(TESSALY_BINARY_DIR "/app/tessaly", program));
    const std::string text = scratch.Write("text.txt", "Here is the report.\r\n");
    scratch.Write("tessaly.ini",
                  IniText({"Server=" + server.Address(), "EMail Address=sender@example.com", "Name=Sender",
                           "MsgText=1", "MsgTextFile=" + text, "MsgSubject=1", "ShowSuccess=0"},
                          {"kept@example.com"}));
    const std::string report = scratch.Write("report.txt", "numbers 1 2 3\r\n");

    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(scratch.QPath(""));
    process.start(program, {QString::fromStdString(report), "boss@example.com"});
    // Generous: the run itself takes well under a second.
    const bool finished = process.waitForStarted() && process.waitForFinished(60000);
    if (!finished)
        process.kill();
    ASSERT_TRUE(finished) << process.readAllStandardError().toStdString();

    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    const std::string message = server.Message(1);
    EXPECT_NE(message.find("Subject:  Files: report.txt"), std::string::npos) << message;
    EXPECT_NE(message.find("Here is the report."), std::string::npos);
    EXPECT_NE(server.Envelope(1).find("boss@example.com"), std::string::npos) << server.Envelope(1);
    EXPECT_EQ(server.Message(2), "");
    // The run closed the window, which saved the settings.
    EXPECT_NE(scratch.Read("tessaly.ini").find("anAddress0=kept@example.com"), std::string::npos);
}

}
