// The rules of the mailing run as table rows, without a window: each row
// arranges settings, files and answers, runs TMailingRun against a session
// that records each step, and compares one line that reports everything
// the run did (boxes, warnings, prompts, steps, each message, outcome).
#include "mailingrun.h"
#include "support_app.h"
#include "unit1.h"

#include <QDir>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Join(const std::vector<std::string>& items, const char* between = ",")
{
    std::string all;
    for (const std::string& item : items)
        all += (all.empty() ? "" : between) + item;
    return all;
}

class RunFixture {
public:
    RunFixture()
    {
        Mailer.SetServer("mail.example.org");
        Mailer.SetFrom("me@example.org");
        Mailer.SetShowResult(false);
        Settings.MsgText = Settings.MsgSubject = 1;
        Settings.MsgTextFile = Dir.Write("text.txt", "Hello\r\n");
        Entries = {"a@x.org"};
        Mailer.Attachments().Add(Dir.Write("plan.txt", "plan"));
        Run.OnSelectedEntries = [this] { return Entries; };
        Run.OnAskRecipient = [this] { return Log("ask"), Answer; };
        Run.OnPromptMessage = [this](TMessageDraft& d) {
            Log("prompt to=" + d.Recipient + " cc=" + Join(d.CC) + " bcc=" + Join(d.BCC) + " f=" + Names(d.Attachments) +
                " s=" + d.Subject + " b=" + Join(d.Text, "/"));
            d.Subject = Edit.value_or(d.Subject);
            return Edit.has_value();
        };
        Run.OnSetup = [this] { Log("setup"); };
        Run.OnMessage = [this](TMsgKind kind, const std::string& text) {
            Log(std::string(kind == TMsgKind::Error ? "Error: " : "Information: ") + text);
        };
        Run.OnWarning = [this](const std::string& text) { Log("warn: " + text); };
        Run.Session = {[this] { Step("Open"); }, [this] { Step("Login"); }, [this] { Transmit(); },
                       [this] { Step("Logout"); }, [this] { Step("Close"); }};
    }
    // Everything the run did, in order; the scratch folder shows as "~".
    std::string Report()
    {
        static const char* const outcomes[] = {"Sent", "Stopped", "Failed"};
        Log("=" + std::string(outcomes[int(Run.Execute())]));
        std::string text = Join(Said, "; ");
        for (const auto& [from, to] : {std::pair{Dir.Path(""), std::string("~")}, {"\r\n", "|"}})
            for (std::size_t at; (at = text.find(from)) != std::string::npos;)
                text.replace(at, from.size(), to);
        return text;
    }
    void Attach(const TLines& names)
    {
        Mailer.Attachments().Clear();
        for (const std::string& name : names)
            Mailer.Attachments().Add(Dir.Write(name, name));
    }
    std::string Fifo(const std::string& name)
    {
        EXPECT_EQ(::mkfifo(Dir.Path(name).c_str(), 0600), 0);
        return Dir.Path(name);
    }

    TScratch Dir;
    TSMTP Mailer;
    TRunSettings Settings;
    TMailingRun Run{Mailer, Settings};
    TLines Entries, Said;
    std::optional<std::string> Answer, Edit = "";   // Edit: nullopt cancels the prompt
    std::function<void(const std::string&)> Fail;   // throws at a step

private:
    void Log(const std::string& line) { Said.push_back(line); }
    std::string Names(const std::vector<std::string>& paths)
    {
        TLines names;
        for (const std::string& path : paths)
            names.push_back(ExtractFileName(path));
        return Join(names);
    }
    void Step(const std::string& name)
    {
        Log(name);
        if (Fail)
            Fail(name);
    }
    void Transmit()
    {
        const TSMTP& m = Mailer;
        Step("T to=" + m.Recipient() + " cc=" + Join(m.CC().ToVector()) + " bcc=" + Join(m.BCC().ToVector()) +
             " s=" + m.Subject() + " f=" + Names(m.Attachments().ToVector()) + " b=" + Join(m.Body().ToVector(), "/"));
    }
};

struct TRunRow {
    const char* Name;
    std::function<void(RunFixture&)> Arrange;
    std::string Expected;
};

void PrintTo(const TRunRow& row, std::ostream* out) { *out << row.Name; }

class RunRules : public ::testing::TestWithParam<TRunRow> {};

TEST_P(RunRules, ReportsWhatTheRunDid)
{
    RunFixture f;
    GetParam().Arrange(f);
    EXPECT_EQ(f.Report(), GetParam().Expected);
    // However a run ends, the message fields are empty afterwards.
    EXPECT_FALSE(f.Run.Active());
    EXPECT_TRUE(f.Mailer.Attachments().Empty() && f.Mailer.Body().Empty() && f.Mailer.CC().Empty());
    EXPECT_TRUE(f.Mailer.BCC().Empty() && f.Mailer.Subject().empty());
}

const std::string kSession = "Open; Login; T to=a@x.org cc= bcc= s=Files: plan.txt f=plan.txt b=Hello; Logout; Close; =Sent";
const std::string kList = "\xEF\xBB\xBF x@x.org \r\n# not an address\r\n\r\n\ty@x.org";

const TRunRow kRows[] = {
    {"SelectedAddressAndAFile", [](RunFixture&) {}, kSession},
    {"LaterAddressesAreCopiesByUseBCC", [](RunFixture& f) { f.Entries = {"b@x.org", "a@x.org"}, f.Settings.UseBCC = false; },
     "Open; Login; T to=b@x.org cc=a@x.org bcc= s=Files: plan.txt f=plan.txt b=Hello; Logout; Close; =Sent"},
    {"ListFileTrimmedWithoutMarkCommentsAndBlanks", [](RunFixture& f) { f.Entries = {f.Dir.Write("team", kList), "z@x.org"}; },
     "Open; Login; T to=x@x.org cc= bcc=y@x.org,z@x.org s=Files: plan.txt f=plan.txt b=Hello; Logout; Close; =Sent"},
    {"ListFileAfterAnAddressGivesCopiesOnly", [](RunFixture& f) { f.Entries = {"a@x.org", f.Dir.Write("team", kList)}; },
     "Open; Login; T to=a@x.org cc= bcc=x@x.org,y@x.org s=Files: plan.txt f=plan.txt b=Hello; Logout; Close; =Sent"},
    {"NeitherAddressNorFileAsksForTheRecipient", [](RunFixture& f) { f.Entries = {"no-such-list", "", f.Dir.Path("")}, f.Answer = " a@x.org "; },
     "ask; " + kSession},
    {"RecipientPromptCancelled", [](RunFixture& f) { f.Entries = {}; }, "ask; =Stopped"},
    {"RecipientPromptNamesAListFile", [](RunFixture& f) { f.Entries = {}, f.Answer = f.Dir.Write("team", kList); },
     "ask; Open; Login; T to=x@x.org cc= bcc=y@x.org s=Files: plan.txt f=plan.txt b=Hello; Logout; Close; =Sent"},
    {"EmptyListFileRefused", [](RunFixture& f) { f.Entries = {}, f.Answer = f.Dir.Write("empty", "# none\n"); },
     "ask; Error: No recipient given: nothing was sent.; =Failed"},
    {"SenderWithoutAddressAsksForSetup", [](RunFixture& f) { f.Mailer.SetFrom("|Jo"); },
     "Information: Please setup default message options |and then try again.; setup; =Stopped"},
    {"FifoAttachmentRefused", [](RunFixture& f) { f.Mailer.Attachments().Add(f.Fifo("pipe")); },
     "Error: ~/pipe is not a regular file; =Failed"},
    {"VanishedAttachmentRefused", [](RunFixture& f) { f.Mailer.Attachments().Add(f.Dir.Path("gone.pdf")); },
     "Error: Cannot read attachment ~/gone.pdf: No such file or directory; =Failed"},
    {"TextFileAboveSixteenMiBRefused", [](RunFixture& f) {
         f.Settings.MsgTextFile = f.Dir.Write("big.txt", "");
         EXPECT_EQ(::truncate(f.Settings.MsgTextFile.c_str(), off_t(kMaxTextFileSize + 1)), 0);
     }, "Error: ~/big.txt is larger than 16 MiB; =Failed"},
    {"FifoListFileRefused", [](RunFixture& f) { f.Entries = {f.Fifo("list")}; }, "Error: ~/list is not a regular file; =Failed"},
    {"MissingTextFileAndAnUnknownSubjectSettingGiveNothing", [](RunFixture& f) { f.Settings.MsgTextFile = f.Dir.Path("none"), f.Settings.MsgSubject = 7; },
     "Open; Login; T to=a@x.org cc= bcc= s= f=plan.txt b=; Logout; Close; =Sent"},
    {"NoFilesPromptsWithRecipientsAndTakesTheSubject", [](RunFixture& f) { f.Attach({}), f.Edit = "Hi", f.Entries = {"a@x.org", "b@x.org"}; },
     "prompt to=a@x.org cc= bcc=b@x.org f= s= b=Hello; Open; Login; T to=a@x.org cc= bcc=b@x.org s=Hi f= b=Hello; Logout; Close; =Sent"},
    {"PromptCancelled", [](RunFixture& f) { f.Settings.MsgText = 0, f.Edit.reset(); },
     "prompt to=a@x.org cc= bcc= f=plan.txt s=Files: plan.txt b=Hello; =Stopped"},
    {"FixedSubjectNoTextFileEvenOneFilePerMessage", [](RunFixture& f) {
         f.Settings.MsgSubject = 2, f.Settings.MsgSubjectDef = "Weekly", f.Settings.MsgText = 2;
         f.Settings.OneFilePerMsg = true, f.Attach({"one", "two"});
     }, "Open; Login; T to=a@x.org cc= bcc= s=Weekly f=one b=; T to=a@x.org cc= bcc= s=Weekly f=two b=; Logout; Close; =Sent"},
    {"OneFilePerMessageWithOneFileKeepsFiles", [](RunFixture& f) { f.Settings.OneFilePerMsg = true; }, kSession},
    {"FailureInTheSecondMessageEndsWithoutQuit", [](RunFixture& f) {
         f.Settings.OneFilePerMsg = true, f.Attach({"one", "two", "three"});
         f.Fail = [n = 0](const std::string& step) mutable { if (step[0] == 'T' && ++n == 2) throw EMailError("550 mailbox unavailable", 550); };
     }, "Open; Login; T to=a@x.org cc= bcc= s=File: one f=one b=Hello; T to=a@x.org cc= bcc= s=File: two f=two b=Hello; Close; "
        "Error: Mail error (check setup):|550 mailbox unavailable; =Failed"},
    {"SocketErrorAtOpen", [](RunFixture& f) { f.Fail = [](const std::string& s) { if (s == "Open") throw ESocketError("Connection refused", WSAECONNREFUSED); }; },
     "Open; Close; Error: Socket error (check setup and try again):|Connection refused; =Failed"},
    {"TimeOutAtLogin", [](RunFixture& f) { f.Fail = [](const std::string& s) { if (s == "Login") throw ETimedOutError(); }; },
     "Open; Login; Close; Error: Connection timed out:|Operation timed out; =Failed"},
    {"CancelWithoutResultBoxIsSilent", [](RunFixture& f) { f.Fail = [](const std::string& s) { if (s == "Login") throw ECanceledError(); }; },
     "Open; Login; Close; =Failed"},
    {"CommandLineFilesAddressesAndWarnings", [](RunFixture& f) {
         QDir(f.Dir.QPath("")).mkdir("f");
         f.Run.Arguments = {f.Dir.Write("report.txt", "r"), f.Dir.Path("missing.txt"), "boss@x.org", f.Dir.Path("f"),
                            f.Dir.Write("invoice@march.pdf", "x")};
     }, "warn: ~/missing.txt: no such file; left out; warn: ~/f is not a regular file; left out; Open; Login; "
        "T to=boss@x.org cc= bcc= s=Files: report.txt, invoice@march.pdf f=report.txt,invoice@march.pdf b=Hello; Logout; Close; =Sent"},
    // The composer picks the character set; the run hands the text on whole.
    {"TextReachesTheComposerWhole", [](RunFixture& f) { f.Mailer.SetCharSet(csISO8859), f.Dir.Write("text.txt", "Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC"); },
     "Open; Login; T to=a@x.org cc= bcc= s=Files: plan.txt f=plan.txt b=Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC; Logout; Close; =Sent"},
    // AlwaysPrompt asks although files are there and the settings give a text.
    {"GivenMessageReplacesListAndSettingsAndIsPromptedForAsIs", [](RunFixture& f) {
         f.Run.Given = TGivenMessage{"to@x.org", {"c@x.org"}, {"b@x.org"}, "Given", TLines{"one"}};
         f.Run.AlwaysPrompt = true, f.Edit = "Given";
     }, "prompt to=to@x.org cc=c@x.org bcc=b@x.org f=plan.txt s=Given b=one; Open; Login; "
        "T to=to@x.org cc=c@x.org bcc=b@x.org s=Given f=plan.txt b=one; Logout; Close; =Sent"},
};

INSTANTIATE_TEST_SUITE_P(Rows, RunRules, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<TRunRow>& row) { return std::string(row.param.Name); });

TEST(MailingRun, FailureOfNoTransportKindPassesThroughWithTheFieldsCleared)
{
    RunFixture f;
    f.Fail = [](const std::string& step) { if (step == "Login") throw std::logic_error("broken"); };
    EXPECT_THROW(f.Run.Execute(), std::logic_error);
    EXPECT_TRUE(!f.Run.Active() && f.Mailer.Attachments().Empty() && f.Mailer.Body().Empty());
}

// ---- pure helpers ----------------------------------------------------------

TEST(SubjectFromFiles, JoinsTheNamesAndCutsAfterSeventyCharacters)
{
    const std::string k63(63, 'k'), fifty(50, 'n');
    const std::pair<TStrings, std::string> cases[] = {
        {{}, ""},
        {{"/home/u/plan.txt", "/tmp/map.gif"}, "Files: plan.txt, map.gif"},
        {{"plain", "/x/a\\b:c"}, "Files: plain, a\\b:c"},   // "\" and ":" are ordinary here
        {{"/d/" + k63}, "Files: " + k63},                     // exactly 70 stay
        {{"/d/" + k63 + "k"}, "Files: " + k63 + "..."},
        {{"/d/" + fifty, "/d/" + fifty}, ("Files: " + fifty + ", " + fifty).substr(0, 70) + "..."},
        // Cut by characters, never inside one.
        {{"/d/" + std::string(62, 'k') + "\xc3\xa9\xc3\xa9"}, "Files: " + std::string(62, 'k') + "\xc3\xa9..."},
    };
    for (const auto& [files, subject] : cases)
        EXPECT_EQ(SubjectFromFiles(files), subject);
}

// Out-of-range statuses show only the indent.
TEST(StatusText, FourteenBlanksThenThePhase)
{
    for (const auto& [status, text] : {std::pair{2, "Logging in..."}, {-1, ""}, {10, ""}})
        EXPECT_EQ(StatusText(status).toStdString(), std::string(14, ' ') + text) << status;
}

}
