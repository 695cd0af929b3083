// The mailing run: recipients, subject and text, prompts, one message per
// file, failures and Cancel, the command-line run. Every run delivers to
// the scripted SMTP server on 127.0.0.1.
#include "emaildlg.h"
#include "fake_smtp_server.h"
#include "mesgdlg.h"
#include "support_app_window.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

const std::string kSender = "sender@example.com";
// Small enough that a test whose server stays silent fails fast.
constexpr int kTestTimeOut = 10;

// What the mailer held when a message went out.
struct TSent {
    std::string Recipient;
    std::vector<std::string> CC, BCC, Attachments, Body;
    std::string Subject;
};

class SendMailTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window = MakeWindow(scratch.Path("tessaly.ini"), Arguments());
        window->Mailer.SetFrom(kSender);
        window->Mailer.SetShowResult(false);
        window->Mailer.SetTimeOut(kTestTimeOut);
        window->Run.MsgText = 1;
        window->Run.MsgSubject = 1;
        window->Run.MsgTextFile = scratch.Write("text.txt", "Hello,\r\nthe files.\r\n");
        // Watch the mailer's reports as the window gets them.
        const TNotifyEvent shown = window->Mailer.OnStatusChange;
        window->Mailer.OnStatusChange = [this, shown](QObject* sender) {
            shown(sender);
            Captions.push_back(window->pnlStatus->Caption().toStdString());
            if (window->Mailer.Status() == msSendingCommands)
                Sent.push_back(Snapshot());
            if (OnStatus)
                OnStatus(window->Mailer.Status());
        };
    }
    virtual QStringList Arguments() const { return {}; }

    TSent Snapshot() const
    {
        const TSMTP& m = window->Mailer;
        return {m.Recipient(), m.CC().ToVector(), m.BCC().ToVector(), m.Attachments().ToVector(),
                m.Body().ToVector(), m.Subject()};
    }
    void Serve(TFakeSMTPServer& server) { window->Mailer.SetServer(server.Address()); }
    void Entries(const QStringList& entries)
    {
        for (const QString& entry : entries)
            window->AddEntry(entry);
    }
    void Attach(const std::vector<std::string>& paths)
    {
        window->Mailer.Attachments().Clear();
        for (const std::string& path : paths)
            window->Mailer.Attachments().Add(path);
    }
    void ExpectRestored()
    {
        EXPECT_FALSE(window->TransferActive());
        EXPECT_FALSE(window->pnlControl->isHidden());
        EXPECT_TRUE(window->pnlSending->isHidden());
        EXPECT_TRUE(window->lstAddresses->isEnabled());
        EXPECT_TRUE(window->Mailer.Attachments().Empty());
        EXPECT_TRUE(window->Mailer.Body().Empty());
        EXPECT_TRUE(window->Mailer.CC().Empty());
        EXPECT_TRUE(window->Mailer.BCC().Empty());
        EXPECT_EQ(window->Mailer.Subject(), "");
    }

    TSeams seams;
    TScratch scratch;
    std::unique_ptr<TfrmMailTo> window;
    std::vector<TSent> Sent;
    std::vector<std::string> Captions;
    std::function<void(TMailStatus)> OnStatus;
};

// ---- recipients ----------------------------------------------------------

TEST_F(SendMailTest, NothingSelectedOpensTheRecipientPromptAndItsCancelSendsNothing)
{
    TFakeSMTPServer server(SessionScript(1, 1));
    Serve(server);
    Entries({"a@example.com"});
    Attach({scratch.Write("plan.txt", "plan")});
    bool addShown = false;
    seams.Dialogs.push_back(seams.Address("b@example.com", QDialog::Rejected,
                                          [&](TAddressDlg& d) { addShown = !d.btnAddtolist->isHidden(); }));

    window->SendMail();

    ASSERT_EQ(seams.Prompts.size(), 1u);
    EXPECT_EQ(seams.Prompts[0], "Enter recipient or list to mail to:");
    EXPECT_TRUE(addShown);
    EXPECT_EQ(server.Connections(), 0);
    EXPECT_TRUE(seams.Boxes.empty());
    ExpectRestored();
}

TEST_F(SendMailTest, RecipientPromptAnswerIsTheRecipientAndAddToListTakesItsSortedPlace)
{
    TFakeSMTPServer server(SessionScript(1, 1));
    Serve(server);
    Entries({"a@example.com", "z@example.com"});
    SelectEntries(*window, {});
    Attach({scratch.Write("plan.txt", "plan")});
    seams.Dialogs.push_back(seams.Address("m@example.com", QDialog::Accepted, [](TAddressDlg& d) {
        d.txtEmail->setText("m@example.com");
        d.btnAddtolist->click();
        d.btnAddtolist->click();
    }));

    window->SendMail();

    ASSERT_EQ(Sent.size(), 1u);
    EXPECT_EQ(Sent[0].Recipient, "m@example.com");
    EXPECT_EQ(window->Entries(), (QStringList{"a@example.com", "m@example.com", "m@example.com", "z@example.com"}));
    EXPECT_TRUE(SelectedEntries(*window).isEmpty());
    EXPECT_TRUE(AnyLineHolds(server.Received(), "RCPT TO:<m@example.com>"));
}

TEST_F(SendMailTest, RecipientPromptWithAListFileTakesItsFirstLineAndCopiesTheRest)
{
    TFakeSMTPServer server(SessionScript(1, 3));
    Serve(server);
    const std::string list = scratch.Write("team", "x@example.com\r\ny@example.com\r\nz@example.com\r\n");
    Attach({scratch.Write("plan.txt", "plan")});
    seams.Dialogs.push_back(seams.Address(QString::fromStdString(list)));

    window->SendMail();

    ASSERT_EQ(Sent.size(), 1u);
    EXPECT_EQ(Sent[0].Recipient, "x@example.com");
    EXPECT_EQ(Sent[0].BCC, (std::vector<std::string>{"y@example.com", "z@example.com"}));
    EXPECT_TRUE(Sent[0].CC.empty());
}

struct TCopyCase {
    bool UseBCC;
};
void PrintTo(const TCopyCase& c, std::ostream* out)
{
    *out << "UseBCC=" << c.UseBCC;
}

class SendMailCopies : public SendMailTest, public ::testing::WithParamInterface<TCopyCase> {};

TEST_P(SendMailCopies, FirstSelectedIsTheRecipientAndTheOthersGoToCopiesByUseBCC)
{
    TFakeSMTPServer server(SessionScript(1, 2));
    Serve(server);
    window->Run.UseBCC = GetParam().UseBCC;
    Entries({"b@example.com", "a@example.com", "c@example.com"});
    SelectEntries(*window, {"b@example.com", "a@example.com"});
    Attach({scratch.Write("plan.txt", "plan")});

    window->SendMail();

    ASSERT_EQ(Sent.size(), 1u);
    EXPECT_EQ(Sent[0].Recipient, "a@example.com");
    const std::vector<std::string> b{"b@example.com"};
    EXPECT_EQ(Sent[0].BCC, GetParam().UseBCC ? b : std::vector<std::string>{});
    EXPECT_EQ(Sent[0].CC, GetParam().UseBCC ? std::vector<std::string>{} : b);
    EXPECT_EQ(LinesStartingWith(server.Received(), "RCPT TO:"),
              (std::vector<std::string>{"RCPT TO:<a@example.com>", "RCPT TO:<b@example.com>"}));
    // A copy is named in the header, a blind copy is not.
    EXPECT_EQ(AnyLineHolds(LinesStartingWith(server.Received(), "CC:"), "b@example.com"), !GetParam().UseBCC);
    ExpectRestored();
}

INSTANTIATE_TEST_SUITE_P(UseBCC, SendMailCopies, ::testing::Values(TCopyCase{true}, TCopyCase{false}),
                         [](const auto& info) { return std::string(info.param.UseBCC ? "On" : "Off"); });

TEST_F(SendMailTest, AListFileSelectedFirstGivesTheRecipientAndAfterAnAddressOnlyCopies)
{
    const std::string list = scratch.Write("team", "x@example.com\r\n\r\ny@example.com\r\n");
    struct TCase {
        QStringList Selected;
        std::string Recipient;
        std::vector<std::string> Copies;
    };
    // The list file's path begins with "/", so it sorts before letters and
    // after "+".
    const std::vector<TCase> cases{
        {{QString::fromStdString(list), "zed@example.com"}, "x@example.com",
         {"", "y@example.com", "zed@example.com"}},
        {{"+ops@example.com", QString::fromStdString(list)}, "+ops@example.com",
         {"x@example.com", "", "y@example.com"}},
    };
    Entries({QString::fromStdString(list), "zed@example.com", "+ops@example.com"});
    for (const TCase& c : cases) {
        TFakeSMTPServer server(SessionScript(1, 4));
        Serve(server);
        Sent.clear();
        SelectEntries(*window, c.Selected);
        Attach({scratch.Write("plan.txt", "plan")});
        window->SendMail();
        ASSERT_EQ(Sent.size(), 1u);
        EXPECT_EQ(Sent[0].Recipient, c.Recipient);
        EXPECT_EQ(Sent[0].BCC, c.Copies);
    }
}

TEST_F(SendMailTest, AnEntryThatIsNeitherAddressNorFileIsSkipped)
{
    TFakeSMTPServer server(SessionScript(1, 1));
    Serve(server);
    Entries({"no-such-list", "a@example.com"});
    SelectEntries(*window, {"no-such-list", "a@example.com"});
    Attach({scratch.Write("plan.txt", "plan")});

    window->SendMail();

    ASSERT_EQ(Sent.size(), 1u);
    EXPECT_EQ(Sent[0].Recipient, "a@example.com");
    EXPECT_TRUE(Sent[0].BCC.empty());
}

TEST_F(SendMailTest, OnlySkippedEntriesSelectedOpensTheRecipientPrompt)
{
    TFakeSMTPServer server(SessionScript(1, 1));
    Serve(server);
    Entries({"no-such-list"});
    SelectEntries(*window, {"no-such-list"});
    Attach({scratch.Write("plan.txt", "plan")});
    seams.Dialogs.push_back(seams.Address("", QDialog::Rejected));

    window->SendMail();

    EXPECT_EQ(seams.DialogClasses, std::vector<std::string>{"TAddressDlg"});
    EXPECT_EQ(server.Connections(), 0);
}

// ---- subject and text ----------------------------------------------------

TEST(SubjectFromFiles, JoinsTheNamesAndCutsAfterSeventyCharacters)
{
    struct TCase {
        TStrings Files;
        std::string Subject;
    };
    const std::string fifty(50, 'n');
    const std::vector<TCase> cases{
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
    for (const TCase& c : cases)
        EXPECT_EQ(SubjectFromFiles(c.Files), c.Subject);
}

TEST_F(SendMailTest, GetSubjectFollowsMsgSubject)
{
    Attach({"/a/plan.txt"});
    window->Run.MsgSubjectDef = "Weekly";
    const std::vector<std::pair<int, std::string>> cases{{0, ""}, {1, "Files: plan.txt"}, {2, "Weekly"}, {7, ""}};
    for (const auto& [setting, subject] : cases) {
        window->Run.MsgSubject = setting;
        EXPECT_EQ(window->GetSubject(), subject) << setting;
    }
}

TEST_F(SendMailTest, LoadMsgTextReadsTheFileOnlyForPromptOrFile)
{
    const std::vector<std::pair<int, std::vector<std::string>>> cases{
        {0, {"Hello,", "the files."}}, {1, {"Hello,", "the files."}}, {2, {}}};
    for (const auto& [setting, lines] : cases) {
        window->Run.MsgText = setting;
        TStrings text{"left over"};
        window->LoadMsgText(text);
        EXPECT_EQ(text.ToVector(), lines) << setting;
    }
    window->Run.MsgText = 1;
    window->Run.MsgTextFile = scratch.Path("missing.txt");
    TStrings text{"left over"};
    window->LoadMsgText(text);
    EXPECT_TRUE(text.Empty());
}

TEST_F(SendMailTest, NoFilesAlwaysPromptsWithAnEmptySubject)
{
    TFakeSMTPServer server(SessionScript(1, 1));
    Serve(server);
    Entries({"a@example.com"});
    SelectEntries(*window, {"a@example.com"});
    QString subject = "unset";
    QStringList text;
    seams.Dialogs.push_back(seams.Message(QDialog::Rejected, std::nullopt, std::nullopt, [&](TMsgDlg& d) {
        subject = d.txtSubject->text();
        text = d.Lines();
    }));

    window->MailtoSelected1Click();

    EXPECT_EQ(seams.DialogClasses, std::vector<std::string>{"TMsgDlg"});
    EXPECT_EQ(subject, "");
    EXPECT_TRUE(text.join("|").startsWith("Hello,|the files."));
    EXPECT_EQ(server.Connections(), 0);
    ExpectRestored();
}

TEST_F(SendMailTest, ConfirmedMessageDialogGivesSubjectAndText)
{
    TFakeSMTPServer server(SessionScript(1, 1));
    Serve(server);
    Entries({"a@example.com"});
    SelectEntries(*window, {"a@example.com"});
    seams.Dialogs.push_back(seams.Message(QDialog::Accepted, QString("Hi there"), QStringList{"one", "two"}));

    window->MailtoSelected1Click();

    ASSERT_EQ(Sent.size(), 1u);
    EXPECT_EQ(Sent[0].Subject, "Hi there");
    EXPECT_EQ(Sent[0].Body, (std::vector<std::string>{"one", "two"}));
    EXPECT_TRUE(AnyLineHolds(server.Received(), "Subject:  Hi there"));
    EXPECT_EQ(LinesStartingWith(server.Received(), "QUIT").size(), 1u);
    ExpectRestored();
}

TEST_F(SendMailTest, LatinOneTextIsShownWholeAndSentAsLatinOneBytes)
{
    // A Latin-1 text file pre-fills the dialog without replacement marks;
    // what the user confirms is typed UTF-8 and goes out in the character
    // set the part is labelled with.
    TFakeSMTPServer server(SessionScript(1, 1));
    Serve(server);
    window->Mailer.SetCharSet(csISO8859);
    window->Run.MsgTextFile = scratch.Write("latin1.txt", "Gr\xFC\xDF Gott\r\n");
    Entries({"a@example.com"});
    SelectEntries(*window, {"a@example.com"});
    QStringList shown;
    seams.Dialogs.push_back(seams.Message(QDialog::Accepted, QString("Hi"), QStringList{QString::fromUtf8("Gr\u00FC\u00DFe \u20AC")},
                                          [&](TMsgDlg& d) { shown = d.Lines(); }));

    window->MailtoSelected1Click();

    EXPECT_EQ(shown, QStringList{QString::fromUtf8("Gr\u00FC\u00DF Gott")});
    ASSERT_EQ(Sent.size(), 1u);
    EXPECT_EQ(Sent[0].Body, std::vector<std::string>{"Gr\xFC\xDF" "e ?"});
    EXPECT_TRUE(AnyLineHolds(server.Received(), "Gr=FC=DFe ?"));
    EXPECT_TRUE(AnyLineHolds(server.Received(), "Content-Type: text/plain; charset=\"iso-8859-1\""));
}

// ---- one message per file ----------------------------------------------------

TEST_F(SendMailTest, OneFilePerMessageWithOneFileSendsOneMessageWithFilesSubject)
{
    TFakeSMTPServer server(SessionScript(1, 1));
    Serve(server);
    window->Run.OneFilePerMsg = true;
    Entries({"a@example.com"});
    SelectEntries(*window, {"a@example.com"});
    Attach({scratch.Write("plan.txt", "plan")});

    window->SendMail();

    ASSERT_EQ(Sent.size(), 1u);
    EXPECT_EQ(Sent[0].Subject, "Files: plan.txt");
    EXPECT_TRUE(seams.DialogClasses.empty());
}

TEST_F(SendMailTest, OneFilePerMessageWithThreeFilesSendsThreeMessagesInOneSession)
{
    TFakeSMTPServer server(SessionScript(3, 1));
    Serve(server);
    window->Run.OneFilePerMsg = true;
    Entries({"a@example.com"});
    SelectEntries(*window, {"a@example.com"});
    const std::vector<std::string> files{scratch.Write("one.txt", "1"), scratch.Write("two.bin", "2"),
                                         scratch.Write("three.txt", "3")};
    Attach(files);

    window->SendMail();

    ASSERT_EQ(Sent.size(), 3u);
    const std::vector<std::string> subjects{"File: one.txt", "File: two.bin", "File: three.txt"};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(Sent[i].Subject, subjects[i]);
        EXPECT_EQ(Sent[i].Attachments, std::vector<std::string>{files[i]});
        EXPECT_EQ(Sent[i].Body, (std::vector<std::string>{"Hello,", "the files."}));
    }
    EXPECT_EQ(LinesStartingWith(server.Received(), "HELO").size(), 1u);
    EXPECT_EQ(LinesStartingWith(server.Received(), "QUIT").size(), 1u);
    const auto messages = SplitMessages(server.Received());
    ASSERT_EQ(messages.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_TRUE(AnyLineHolds(messages[i], "Subject:  " + subjects[i])) << i;
    ExpectRestored();
}

TEST_F(SendMailTest, OneFilePerMessageWithAFixedSubjectKeepsIt)
{
    TFakeSMTPServer server(SessionScript(2, 1));
    Serve(server);
    window->Run.OneFilePerMsg = true;
    window->Run.MsgSubject = 2;
    window->Run.MsgSubjectDef = "Reports";
    Entries({"a@example.com"});
    SelectEntries(*window, {"a@example.com"});
    Attach({scratch.Write("one.txt", "1"), scratch.Write("two.txt", "2")});

    window->SendMail();

    ASSERT_EQ(Sent.size(), 2u);
    EXPECT_EQ(Sent[0].Subject, "Reports");
    EXPECT_EQ(Sent[1].Subject, "Reports");
}

// ---- failures ------------------------------------------------------------------

TEST_F(SendMailTest, FailureInTheSecondOfThreeMessagesShowsOneBoxAndSendsNoQuit)
{
    TFakeSMTPServer server(Concat({LoginSteps(), MessageSteps(1),
                                   {"C: MAIL FROM:<sender@example.com>", "S: 250 ok", "C: RCPT TO:<a@example.com>",
                                    "S: 550 mailbox unavailable"}}));
    Serve(server);
    window->Run.OneFilePerMsg = true;
    Entries({"a@example.com"});
    SelectEntries(*window, {"a@example.com"});
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

TEST_F(SendMailTest, RefusedConnectionShowsTheSocketErrorBox)
{
    window->Mailer.SetServer("127.0.0.1:" + std::to_string(ClosedPort()));
    Entries({"a@example.com"});
    SelectEntries(*window, {"a@example.com"});
    Attach({scratch.Write("plan.txt", "plan")});

    window->SendMail();

    ASSERT_EQ(seams.Boxes.size(), 1u);
    EXPECT_EQ(seams.Boxes[0].Kind, TMsgKind::Error);
    EXPECT_EQ(seams.Boxes[0].Text.rfind("Socket error (check setup and try again):\r\n", 0), 0u) << seams.Boxes[0].Text;
    ExpectRestored();
}

TEST_F(SendMailTest, SilentServerTimesOutWithItsBox)
{
    TFakeSMTPServer server({"S: 220 ready", "C: HELO"});   // then never answers
    Serve(server);
    window->Mailer.SetTimeOut(1);
    Entries({"a@example.com"});
    SelectEntries(*window, {"a@example.com"});
    Attach({scratch.Write("plan.txt", "plan")});

    window->SendMail();

    ASSERT_EQ(seams.Boxes.size(), 1u);
    EXPECT_EQ(seams.Boxes[0].Text, "Connection timed out:\r\nOperation timed out");
    ExpectRestored();
}

struct TCancelCase {
    bool ShowResult;
    std::vector<std::string> Boxes;
};
void PrintTo(const TCancelCase& c, std::ostream* out)
{
    *out << "ShowResult=" << c.ShowResult;
}

class SendMailCancel : public SendMailTest, public ::testing::WithParamInterface<TCancelCase> {};

TEST_P(SendMailCancel, CancelDuringTheSessionEndsItWithABoxOnlyWhenShowResultIsOn)
{
    TFakeSMTPServer server({"S: 220 ready", "C: HELO"});   // the HELO reply never comes
    Serve(server);
    window->Mailer.SetShowResult(GetParam().ShowResult);
    Entries({"a@example.com"});
    SelectEntries(*window, {"a@example.com"});
    Attach({scratch.Write("plan.txt", "plan")});
    OnStatus = [this](TMailStatus status) {
        if (status == msLoggingIn)
            window->Button2->click();
    };

    window->SendMail();

    EXPECT_EQ(seams.BoxTexts(), GetParam().Boxes);
    ASSERT_FALSE(Captions.empty());
    EXPECT_NE(std::find(Captions.begin(), Captions.end(), "              Canceled."), Captions.end());
    EXPECT_TRUE(LinesStartingWith(server.Received(), "MAIL FROM:").empty());
    ExpectRestored();
}

INSTANTIATE_TEST_SUITE_P(ShowResult, SendMailCancel,
                         ::testing::Values(TCancelCase{false, {}},
                                           TCancelCase{true, {"Send aborted:\r\nOperation has been canceled"}}),
                         [](const auto& info) { return std::string(info.param.ShowResult ? "On" : "Off"); });

TEST_F(SendMailTest, SuccessfulRunWithShowResultEndsWithTheMailersBoxWhileSending)
{
    TFakeSMTPServer server(SessionScript(1, 1));
    Serve(server);
    window->Mailer.SetShowResult(true);
    Entries({"a@example.com"});
    SelectEntries(*window, {"a@example.com"});
    Attach({scratch.Write("plan.txt", "plan")});
    bool sendingShown = false;
    seams.OnBox = [&](const TMessageBox&) { sendingShown = !window->pnlSending->isHidden(); };

    window->SendMail();

    EXPECT_EQ(seams.BoxTexts(), std::vector<std::string>{"All Done."});
    EXPECT_TRUE(sendingShown);
    ExpectRestored();
}

// ---- settings check ---------------------------------------------------------------

TEST_F(SendMailTest, EmptyServerAsksForSetupAndSendsNothingEvenWhenItIsFilledIn)
{
    TFakeSMTPServer server(SessionScript(1, 1));
    Entries({"a@example.com"});
    SelectEntries(*window, {"a@example.com"});
    Attach({scratch.Write("plan.txt", "plan")});
    seams.Dialogs.push_back([&](QDialog& dialog) {
        if (auto* edit = dialog.findChild<QLineEdit*>("ServerEdit"))
            edit->setText(QString::fromStdString(server.Address()));
        else
            ADD_FAILURE() << "no ServerEdit in " << dialog.metaObject()->className();
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
    TFakeSMTPServer server(Concat({LoginSteps(), {"C: RCPT TO:<a@example.com>", "S: 250 ok", "C: DATA",
                                                  "S: 354 go", "D:", "S: 250 ok"}, LogoutSteps()}));
    Serve(server);
    window->Mailer.SetFrom("|Sender Name");
    Entries({"a@example.com"});
    SelectEntries(*window, {"a@example.com"});
    Attach({scratch.Write("plan.txt", "plan")});

    window->SendMail();

    EXPECT_TRUE(seams.Boxes.empty()) << seams.Boxes.front().Text;
    EXPECT_EQ(LinesStartingWith(server.Received(), "RCPT TO:").size(), 1u);
}

// ---- status line and progress ----------------------------------------------------

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

TEST_F(SendMailTest, RunShowsEveryPhaseInTheStatusLine)
{
    TFakeSMTPServer server(SessionScript(1, 1));
    Serve(server);
    Entries({"a@example.com"});
    SelectEntries(*window, {"a@example.com"});
    Attach({scratch.Write("plan.txt", "plan")});

    window->SendMail();

    for (const char* text : {"Connecting to Server...", "Logging in...", "Encoding the attachment(s)...",
                             "Sending commands...", "Sending headers...", "Sending message body...",
                             "Sending attachment(s)...", "Logging out..."})
        EXPECT_NE(std::find(Captions.begin(), Captions.end(), std::string(14, ' ') + text), Captions.end()) << text;
    EXPECT_EQ(window->prcMeter->value(), 0);
}

// ---- drops during a run --------------------------------------------------------------

TEST_F(SendMailTest, DropDuringARunIsIgnoredAndLeavesTheRunAlone)
{
    TFakeSMTPServer server(SessionScript(1, 1));
    Serve(server);
    Entries({"a@example.com"});
    SelectEntries(*window, {"a@example.com"});
    const std::string plan = scratch.Write("plan.txt", "plan");
    const std::string other = scratch.Write("other.txt", "other");
    Attach({plan});
    std::vector<std::string> attachmentsAfterDrop;
    OnStatus = [&](TMailStatus status) {
        if (status == msLoggingIn) {
            window->AcceptDroppedFiles({QString::fromStdString(other)});
            attachmentsAfterDrop = window->Mailer.Attachments().ToVector();
        }
    };

    window->SendMail();
    QCoreApplication::processEvents();

    EXPECT_EQ(attachmentsAfterDrop, std::vector<std::string>{plan});
    ASSERT_EQ(Sent.size(), 1u);
    EXPECT_EQ(Sent[0].Attachments, std::vector<std::string>{plan});
    EXPECT_EQ(server.Connections(), 1);
}

// ---- command line ------------------------------------------------------------------------

class CommandLineTest : public SendMailTest {
protected:
    QStringList Arguments() const override { return arguments; }
    void Start(const QStringList& args)
    {
        arguments = args;
        SendMailTest::SetUp();
    }
    void SetUp() override {}
    QStringList arguments;
};

TEST_F(CommandLineTest, AddressFileAndMissingFileSendOneMessageThenClose)
{
    const std::string report = scratch.Write("report.txt", "numbers");
    Start({QString::fromStdString(scratch.Path("missing.txt")), "boss@example.com", QString::fromStdString(report)});
    TFakeSMTPServer server(SessionScript(1, 1));
    Serve(server);
    window->AddEntry("ignored@example.com");
    SelectEntries(*window, {"ignored@example.com"});
    QSignalSpy closed(window.get(), &TfrmMailTo::Closed);

    window->SendMail();

    ASSERT_EQ(Sent.size(), 1u);
    EXPECT_EQ(Sent[0].Recipient, "boss@example.com");
    EXPECT_EQ(Sent[0].Attachments, std::vector<std::string>{report});
    EXPECT_EQ(Sent[0].Subject, "Files: report.txt");
    EXPECT_EQ(LinesStartingWith(server.Received(), "RCPT TO:"), std::vector<std::string>{"RCPT TO:<boss@example.com>"});
    EXPECT_EQ(closed.count(), 1);
    EXPECT_NE(scratch.Read("tessaly.ini").find("anAddress0=ignored@example.com"), std::string::npos);
}

TEST_F(CommandLineTest, FilesOnlyOpenTheRecipientPromptAndCloseAfterItsCancel)
{
    Start({QString::fromStdString(scratch.Write("report.txt", "numbers"))});
    TFakeSMTPServer server(SessionScript(1, 1));
    Serve(server);
    seams.Dialogs.push_back(seams.Address("", QDialog::Rejected));
    QSignalSpy closed(window.get(), &TfrmMailTo::Closed);

    window->SendMail();

    EXPECT_EQ(seams.DialogClasses, std::vector<std::string>{"TAddressDlg"});
    EXPECT_EQ(server.Connections(), 0);
    EXPECT_EQ(closed.count(), 1);
}

TEST_F(CommandLineTest, FirstActivationRunsOnceAndLaterActivationsDoNothing)
{
    Start({"boss@example.com"});
    TFakeSMTPServer server(SessionScript(1, 1));
    Serve(server);
    seams.Dialogs.push_back(seams.Message(QDialog::Rejected));
    QSignalSpy closed(window.get(), &TfrmMailTo::Closed);

    window->FormActivate();
    window->FormActivate();

    EXPECT_EQ(seams.DialogClasses, std::vector<std::string>{"TMsgDlg"});
    EXPECT_EQ(closed.count(), 1);
}

}
