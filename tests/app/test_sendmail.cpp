// The mailing run: recipients, subject and text, prompts, one message per
// file, failures and Cancel, the command-line run. Every run delivers to
// the scripted SMTP server on 127.0.0.1; the last test runs the real
// program against a real server.
#include "aiosmtpd_server.h"
#include "setpdlg.h"
#include "support_app.h"

#include <QProcess>
#include <QProgressBar>
#include <QSignalSpy>

namespace {

using SendMailTest = AppWindowTest;

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

    EXPECT_EQ(Starting(server, "RCPT TO:"), TLines{"RCPT TO:<m@example.com>"});
    EXPECT_EQ(window->Entries(), (QStringList{"a@example.com", "m@example.com", "m@example.com", "no-such-list", "z@example.com"}));
    EXPECT_TRUE(window->lstAddresses->selectedItems().isEmpty());
}

TEST_F(SendMailTest, FirstSelectedGivesTheRecipientAndTheOthersCopiesByUseBCC)
{
    const QString list = scratch.QWrite("team", "\r\nx@example.com\r\n \r\ny@example.com\r\n");
    // The list file's path begins with "/", so it sorts before letters and
    // after "+"; a list file first gives the recipient, after an address
    // only copies; its blank lines name nobody. An entry that is neither
    // address nor file is skipped.
    const std::tuple<QStringList, bool, std::string, TLines, TLines> cases[] = {
        {{"b@example.com", "a@example.com"}, true, "a@example.com", {}, {"b@example.com"}},
        {{"b@example.com", "a@example.com"}, false, "a@example.com", {"b@example.com"}, {}},
        {{list, "zed@example.com"}, true, "x@example.com", {}, {"y@example.com", "zed@example.com"}},
        {{"+ops@example.com", list}, true, "+ops@example.com", {}, {"x@example.com", "y@example.com"}},
        {{"no-such-list", "a@example.com"}, true, "a@example.com", {}, {}},
    };
    Select({"b@example.com", "a@example.com", list, "zed@example.com", "+ops@example.com", "no-such-list"}, {});
    for (const auto& [selected, useBCC, recipient, cc, bcc] : cases) {
        SCOPED_TRACE(selected.join(" ").toStdString() + (useBCC ? " UseBCC" : ""));
        TFakeSMTPServer& server = Serve(SessionScript(1, int(1 + cc.size() + bcc.size())));
        window->Run.UseBCC = useBCC;
        Select({}, selected);

        window->SendMail();

        ASSERT_EQ(Sent.size(), 1u);
        EXPECT_EQ(Sent[0].Recipient, recipient);
        EXPECT_EQ(Sent[0].CC, cc);
        EXPECT_EQ(Sent[0].BCC, bcc);
        EXPECT_EQ(Starting(server, "RCPT TO:").front(), "RCPT TO:<" + recipient + ">");
        EXPECT_EQ(Count(server, "RCPT TO:"), 1 + cc.size() + bcc.size());
        // A copy is named in the header, a blind copy is not.
        EXPECT_EQ(Count(server, "CC:"), cc.size());
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
        // A backslash or colon is an ordinary character of a name here.
        {{"plain", "/x/a\\b:c"}, "Files: plain, a\\b:c"},
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
    for (const auto& [setting, subject] : std::vector<std::pair<int, std::string>>{
             {0, ""}, {1, "Files: plan.txt"}, {2, "Weekly"}, {7, ""}}) {
        window->Run.MsgSubject = setting;
        EXPECT_EQ(window->GetSubject(), subject) << setting;
    }
    // The text file is read for "prompt" and "file" only; a missing one
    // gives no text.
    const TLines file{"Hello,", "the files."};
    const std::string path = window->Run.MsgTextFile, missing = scratch.Path("missing.txt");
    for (const auto& [setting, from, lines] : std::vector<std::tuple<int, std::string, TLines>>{
             {0, path, file}, {1, path, file}, {2, path, {}}, {1, missing, {}}}) {
        window->Run.MsgText = setting;
        window->Run.MsgTextFile = from;
        TStrings text{"left over"};
        window->LoadMsgText(text);
        EXPECT_EQ(text.ToVector(), lines) << setting << " " << from;
    }
}

TEST_F(SendMailTest, NoFilesAlwaysPromptsAndTheConfirmedDialogGivesSubjectAndLosslessText)
{
    // A Latin-1 text file pre-fills the dialog without replacement marks;
    // what the user confirms is typed UTF-8 and, as ISO-8859-1 cannot carry
    // the euro sign, goes out as UTF-8.
    TFakeSMTPServer& server = Serve(SessionScript(1, 1));
    window->Mailer.SetCharSet(csISO8859);
    window->Run.MsgTextFile = scratch.Write("latin1.txt", "Gr\xFC\xDF Gott\r\n");
    Select({"a@example.com"}, {"a@example.com"});
    Attach({});   // between runs, as always
    QString subject = "unset";
    QStringList shown;
    seams.Dialogs = {TSeams::Drive<TMsgDlg>([&](TMsgDlg& d) { subject = d.txtSubject->text(), shown = d.Lines(); },
                                            QDialog::Rejected),
                     TSeams::Drive<TMsgDlg>([](TMsgDlg& d) {
                         d.txtSubject->setText("Hi there");
                         d.SetLines({"one", QString::fromUtf8("Gr\u00FC\u00DFe \u20AC")});
                     }, QDialog::Accepted)};

    window->MailtoSelected1Click();

    EXPECT_EQ(seams.DialogClasses, TLines{"TMsgDlg"});
    EXPECT_EQ(subject, "");
    EXPECT_EQ(shown, QStringList{QString::fromUtf8("Gr\u00FC\u00DF Gott")});
    EXPECT_EQ(server.Connections(), 0);
    ExpectRestored();

    SelectEntries(*window, {"a@example.com"});
    window->MailtoSelected1Click();

    ASSERT_EQ(Sent.size(), 1u);
    EXPECT_EQ(Sent[0].Body, (TLines{"one", "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC"}));
    EXPECT_EQ(Count(server, "Subject:  Hi there"), 1u);
    EXPECT_EQ(Count(server, "Gr=C3=BC=C3=9Fe =E2=82=AC"), 1u);
    EXPECT_EQ(Count(server, "Content-Type: text/plain; charset=\"utf-8\""), 1u);
    EXPECT_EQ(Count(server, "QUIT"), 1u);
    ExpectRestored();
}

// ---- one message per file ----------------------------------------------------

TEST_F(SendMailTest, OneFilePerMessageSendsEachFileInOneSessionWithItsSubject)
{
    const std::tuple<TLines, int, TLines> cases[] = {
        {{"plan.txt"}, 1, {"Files: plan.txt"}},
        {{"one.txt", "two.bin", "three.txt"}, 1, {"File: one.txt", "File: two.bin", "File: three.txt"}},
        {{"one.txt", "two.txt"}, 2, {"Reports", "Reports"}},   // a fixed subject stays
    };
    window->Run.OneFilePerMsg = true;
    window->Run.MsgSubjectDef = "Reports";
    Select({"a@example.com"}, {});
    for (const auto& [names, subjectSetting, subjects] : cases) {
        SCOPED_TRACE(subjects[0]);
        TFakeSMTPServer& server = Serve(SessionScript(int(names.size()), 1));
        SelectEntries(*window, {"a@example.com"});
        window->Run.MsgSubject = subjectSetting;
        TLines files, headers;
        for (std::size_t i = 0; i < names.size(); ++i) {
            files.push_back(scratch.Write(names[i], names[i]));
            headers.push_back("Subject:  " + subjects[i]);
        }
        Attach(files);

        window->SendMail();

        ASSERT_EQ(Sent.size(), names.size());
        for (std::size_t i = 0; i < names.size(); ++i) {
            EXPECT_EQ(Sent[i].Attachments, TLines{files[i]});
            EXPECT_EQ(Sent[i].Body, (TLines{"Hello,", "the files."}));
        }
        EXPECT_EQ(Starting(server, "Subject:"), headers);
        EXPECT_EQ(Count(server, "HELO") + Count(server, "QUIT"), 2u);
        EXPECT_TRUE(seams.DialogClasses.empty());
        ExpectRestored();
    }
}

// ---- failures ------------------------------------------------------------------

TEST_F(SendMailTest, FailureInTheSecondOfThreeMessagesShowsOneBoxAndSendsNoQuit)
{
    TLines script = SessionScript(1, 1);
    script.resize(script.size() - 2);   // no QUIT: the second RCPT TO is refused
    script.insert(script.end(), {"C: MAIL FROM:<sender@example.com>", "S: 250 ok", "C: RCPT TO:<a@example.com>",
                                 "S: 550 mailbox unavailable"});
    TFakeSMTPServer& server = Serve(script);
    window->Run.OneFilePerMsg = true;
    Select({"a@example.com"}, {"a@example.com"});
    Attach({scratch.Write("one.txt", "1"), scratch.Write("two.txt", "2"), scratch.Write("three.txt", "3")});

    window->SendMail();

    ASSERT_EQ(seams.Boxes.size(), 1u);
    EXPECT_EQ(seams.Boxes[0].Kind, TMsgKind::Error);
    EXPECT_EQ(seams.Boxes[0].Text, "Mail error (check setup):\r\n mailbox unavailable");
    EXPECT_EQ(Count(server, "MAIL FROM:"), 2u);
    EXPECT_EQ(Count(server, "DATA"), 1u);
    EXPECT_EQ(Count(server, "QUIT"), 0u);
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
    Select({"a@example.com"}, {});
    for (const auto& [server, text, whole] : cases) {
        SCOPED_TRACE(text);
        seams.Boxes.clear();
        window->Mailer.SetServer(server);
        Select({}, {"a@example.com"});

        window->SendMail();

        ASSERT_EQ(seams.Boxes.size(), 1u);
        EXPECT_EQ(seams.Boxes[0].Kind, TMsgKind::Error);
        EXPECT_EQ(whole ? seams.Boxes[0].Text : seams.Boxes[0].Text.substr(0, text.size()), text);
        ExpectRestored();
    }
}

TEST_F(SendMailTest, CancelDuringTheSessionWithShowResultOffEndsItWithoutABox)
{
    // With ShowResult on, the Esc test of the main window sees the box.
    TFakeSMTPServer& server = Serve({"S: 220 ready", "C: HELO"});   // the HELO reply never comes
    Select({"a@example.com"}, {"a@example.com"});
    OnStatus = [this](TMailStatus status) {
        if (status == msLoggingIn)
            window->Button2->click();
    };

    window->SendMail();

    EXPECT_TRUE(seams.Boxes.empty());
    EXPECT_NE(std::find(Captions.begin(), Captions.end(), "              Canceled."), Captions.end());
    EXPECT_EQ(Count(server, "MAIL FROM:"), 0u);
    ExpectRestored();
}

// ---- status line -------------------------------------------------------------------

TEST_F(SendMailTest, SuccessfulRunShowsEveryPhaseAndWithShowResultEndsWithTheBoxWhileSending)
{
    EXPECT_EQ(window->pnlStatus->Caption(), QString(13, ' ') + "Starting...");
    TFakeSMTPServer& server = Serve(SessionScript(1, 1));
    window->Mailer.SetShowResult(true);
    Select({"a@example.com"}, {"a@example.com"});
    bool sendingShown = false;
    seams.OnBox = [&](const TMessageBox&) { sendingShown = !window->pnlSending->isHidden(); };

    window->SendMail();

    EXPECT_EQ(seams.BoxTexts(), TLines{"All Done."});
    EXPECT_TRUE(sendingShown);
    for (const char* text : {"Connecting to Server...", "Logging in...", "Encoding the attachment(s)...",
                             "Sending commands...", "Sending headers...", "Sending message body...",
                             "Sending attachment(s)...", "Logging out...", ""})
        EXPECT_NE(std::find(Captions.begin(), Captions.end(), std::string(14, ' ') + text), Captions.end()) << text;
    // The caption is only set when it differs.
    const int changes = window->pnlStatus->CaptionChanges();
    window->MailerStatusChange(&window->Mailer);
    EXPECT_EQ(window->pnlStatus->CaptionChanges(), changes);
    EXPECT_EQ(window->prcMeter->value(), 0);
    EXPECT_EQ(Count(server, "QUIT"), 1u);
    ExpectRestored();
}

// ---- settings check ---------------------------------------------------------------

TEST_F(SendMailTest, EmptyServerAsksForSetupAndSendsNothingEvenWhenItIsFilledIn)
{
    TFakeSMTPServer server(SessionScript(1, 1));
    Select({"a@example.com"}, {"a@example.com"});
    seams.Dialogs = {TSeams::Drive<TSetupDlg>(
        [&](TSetupDlg& d) { d.ServerEdit->setText(QString::fromStdString(server.Address())); }, QDialog::Accepted)};

    window->SendMail();

    ASSERT_EQ(seams.Boxes.size(), 1u);
    EXPECT_EQ(seams.Boxes[0].Kind, TMsgKind::Information);
    EXPECT_EQ(seams.Boxes[0].Text, "Please setup default message options \r\nand then try again.");
    EXPECT_EQ(seams.DialogClasses, TLines{"TSetupDlg"});
    EXPECT_EQ(window->Mailer.Server(), server.Address());
    EXPECT_EQ(server.Connections(), 0);
    ExpectRestored();
}

TEST_F(SendMailTest, SenderWithNameOnlyPassesTheSettingsCheck)
{
    TLines script = SessionScript(1, 1);
    script.erase(script.begin() + 3, script.begin() + 5);   // no MAIL FROM without an address
    TFakeSMTPServer& server = Serve(script);
    window->Mailer.SetFrom("|Sender Name");
    Select({"a@example.com"}, {"a@example.com"});

    window->SendMail();

    EXPECT_TRUE(seams.Boxes.empty());
    EXPECT_EQ(Count(server, "RCPT TO:<a@example.com>") + Count(server, "QUIT"), 2u);
}

// ---- command line ------------------------------------------------------------------------

TEST_F(SendMailTest, CommandLineRunStartsAtTheFirstActivationOnlyAndClosesAfterACancel)
{
    // Files only: the recipient prompt; an address only: the message dialog.
    const std::pair<QStringList, std::string> cases[] = {{{scratch.QWrite("report.txt", "numbers")}, "TAddressDlg"},
                                                         {{"boss@example.com"}, "TMsgDlg"}};
    for (const auto& [arguments, dialog] : cases) {
        Open(arguments);
        TFakeSMTPServer& server = Serve(SessionScript(1, 1));
        seams.DialogClasses.clear();
        seams.Dialogs = {TSeams::Any(QDialog::Rejected)};
        QSignalSpy closed(window.get(), &TfrmMailTo::Closed);

        window->FormActivate();
        window->FormActivate();

        EXPECT_EQ(seams.DialogClasses, TLines{dialog});
        EXPECT_EQ(server.Connections(), 0);
        EXPECT_EQ(closed.count(), 1);
    }
}

// ---- the real program -------------------------------------------------------------------

// A file, a missing file (skipped) and an address on the command line.
TEST(Program, CommandLineRunDeliversThroughARealServerAndExitsByItself)
{
    TAiosmtpdServer server;
    ASSERT_TRUE(server.Running()) << server.Error();
    TScratch scratch;
    // A copy of the program, so that its settings file lies beside it.
    const QString program = scratch.QPath("tessaly");
    ASSERT_TRUE(QFile::copy(TESSALY_BINARY_DIR "/app/tessaly", program));
    scratch.Write("tessaly.ini", "[Setup]\r\nServer=" + server.Address() +
                                     "\r\nEMail Address=sender@example.com\r\nName=Sender\r\nMsgText=1\r\nMsgTextFile=" +
                                     scratch.Write("text.txt", "Here is the report.\r\n") +
                                     "\r\nMsgSubject=1\r\nShowSuccess=0\r\n[Addresses]\r\na=kept@example.com\r\n");

    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(scratch.QPath(""));
    process.start(program, {scratch.QWrite("report.txt", "numbers 1 2 3\r\n"), scratch.QPath("missing.txt"),
                            "boss@example.com"});
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
    EXPECT_TRUE(scratch.Holds("tessaly.ini", "anAddress0=kept@example.com"));
}

}
