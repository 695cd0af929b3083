// The rules of the mailing run as table rows, without a window: each row
// arranges settings, files and answers, runs TMailingRun against a session
// that records each step, and compares one line that reports everything
// the run did (boxes, warnings, prompts, steps, each message, outcome).
#include "mailingrun.h"
#include "support_app.h"
#include "unit1.h"

#include <QDir>
#include <filesystem>
#include <sys/stat.h>

namespace {

std::string Join(const std::vector<std::string>& items, const char* between = ",")
{
    std::string all;
    for (const std::string& item : items)
        all += (all.empty() ? "" : between) + item;
    return all;
}

// A message on one line, without its empty fields; files by their names.
std::string Describe(TMessageDraft d)
{
    for (std::string& file : d.Attachments)
        file = ExtractFileName(file);
    std::string line = "to=" + d.Recipient;
    for (const auto& [key, value] : {std::pair{" cc=", Join(d.CC)}, {" bcc=", Join(d.BCC)}, {" s=", d.Subject},
                                     {" f=", Join(d.Attachments)}, {" b=", Join(d.Text, "/")}})
        line += value.empty() ? "" : key + value;
    return line;
}

// A row: its name, what it changes, and the report expected of the run.
struct RunRules;
using TRunRow = std::tuple<const char*, std::function<void(RunRules&)>, std::string>;

// The run against a session that records its steps; a row changes the settings, files and answers.
struct RunRules : ::testing::TestWithParam<TRunRow> {
    RunRules()
    {
        Mailer.SetServer("mail.example.org"), Mailer.SetFrom("me@example.org"), Mailer.SetShowResult(false);
        Settings.MsgText = Settings.MsgSubject = 1, Settings.MsgTextFile = Dir.Write("text.txt", "Hello\r\n");
        Run.OnSelectedEntries = [this] { return Entries; };
        Run.OnAskRecipient = [this] { return Log("ask"), Answer; };
        Run.OnPromptMessage = [this](TMessageDraft& d) {
            Log("prompt " + Describe(d)), d.Subject = Edit.value_or(d.Subject);
            return Edit.has_value();
        };
        Run.OnSetup = [this] { Log("setup"); };
        Run.OnMessage = [this](TMsgKind kind, const std::string& text) { Log((kind == TMsgKind::Error ? "Error: " : "Information: ") + text); };
        Run.OnWarning = [this](const std::string& text) { Log("warn: " + text); };
        Run.Session = {[this] { Step("Open"); }, [this] { Step("Login"); }, [this, &m = Mailer] {
            Step("T " + Describe({m.Recipient(), m.CC().ToVector(), m.BCC().ToVector(), m.Attachments().ToVector(), m.Subject(),
                                  m.Body().ToVector()}));
        }, [this] { Step("Logout"); }, [this] { Step("Close"); }};
    }
    std::string Fifo(const std::string& name) { return ::mkfifo(Dir.Path(name).c_str(), 0600), Dir.Path(name); }
    void Log(const std::string& line) { Said.push_back(line); }
    void Step(const std::string& name) { Log(name), Fail(name); }

    TScratch Dir;
    TSMTP Mailer;
    TRunSettings Settings;
    TMailingRun Run{Mailer, Settings};
    TLines Entries = {"a@x.org"}, Files = {"plan.txt"}, Said;   // Files: attached (written) as the run starts
    std::optional<std::string> Answer, Edit = "";   // Edit: nullopt cancels the prompt
    std::function<void(const std::string&)> Fail = [](const std::string&) {};   // may throw at a step
};

TEST_P(RunRules, ReportWhatTheRunDid)
{
    const auto& [name, arrange, expected] = GetParam();
    arrange(*this);
    for (const std::string& name : Files)
        Mailer.Attachments().Add(Dir.Write(name, name));
    static const char* const outcomes[] = {"Sent", "Stopped", "Failed"};
    try {
        Log("=" + std::string(outcomes[int(Run.Execute())]));
    } catch (const std::logic_error& e) {
        Log(std::string("passed on: ") + e.what());
    }
    // Everything the run did, in order; the scratch folder shows as "~".
    std::string said = Join(Said, "; ");
    for (std::size_t at; (at = said.find(Dir.Path(""))) != std::string::npos;)
        said.replace(at, Dir.Path("").size(), "~");
    EXPECT_EQ(said, expected);
    // However a run ends, the message fields are empty afterwards.
    EXPECT_TRUE(!Run.Active() && Mailer.Attachments().Empty() && Mailer.Body().Empty() && Mailer.CC().Empty() &&
                Mailer.BCC().Empty() && Mailer.Subject().empty());
}

// One session that sends the given messages.
std::string Sent(const std::string& messages) { return "Open; Login; " + messages + "; Logout; Close; =Sent"; }
const std::string kPlan = "s=Files: plan.txt f=plan.txt b=Hello";
const std::string kList = "\xEF\xBB\xBF x@x.org \r\n# not an address\r\n\r\n\ty@x.org";
// The nth step that starts with `at` throws what `raise` throws.
void FailAt(RunRules& f, const std::string& at, std::function<void()> raise, int nth = 1)
{
    f.Fail = [=, n = 0](const std::string& step) mutable { step.starts_with(at) && ++n == nth ? raise() : void(); };
}

const TRunRow kRows[] = {
    {"OneFileIsOneMessageEvenOneFilePerMessage", [](auto& f) { f.Settings.OneFilePerMsg = true; },
     Sent("T to=a@x.org " + kPlan)},
    {"LaterAddressesAreCopiesByUseBCC", [](auto& f) { f.Entries = {"b@x.org", "a@x.org"}, f.Settings.UseBCC = false; },
     Sent("T to=b@x.org cc=a@x.org " + kPlan)},
    {"ListFileTrimmedWithoutMarkCommentsAndBlanksAfterAnAddressGivesCopies",
     [](auto& f) { f.Entries = {"a@x.org", f.Dir.Write("team", kList)}; }, Sent("T to=a@x.org bcc=x@x.org,y@x.org " + kPlan)},
    {"NeitherAddressNorFileAsksForTheRecipient", [](auto& f) { f.Entries = {"no-list", "", f.Dir.Path("")}, f.Answer = " a@x.org "; },
     "ask; " + Sent("T to=a@x.org " + kPlan)},
    {"RecipientPromptCancelled", [](auto& f) { f.Entries = {}; }, "ask; =Stopped"},
    {"RecipientPromptNamesAListFile", [](auto& f) { f.Entries = {}, f.Answer = f.Dir.Write("team", kList); },
     "ask; " + Sent("T to=x@x.org bcc=y@x.org " + kPlan)},
    {"EmptyListFileRefused", [](auto& f) { f.Entries = {}, f.Answer = f.Dir.Write("empty", "# none\n"); },
     "ask; Error: No recipient given: nothing was sent.; =Failed"},
    {"SenderWithoutAddressAsksForSetup", [](auto& f) { f.Mailer.SetFrom("|Jo"); },
     "Information: Please setup default message options \r\nand then try again.; setup; =Stopped"},
    {"FifoAttachmentRefused", [](auto& f) { f.Mailer.Attachments().Add(f.Fifo("pipe")); }, "Error: ~/pipe is not a regular file; =Failed"},
    {"VanishedAttachmentRefused", [](auto& f) { f.Mailer.Attachments().Add(f.Dir.Path("gone.pdf")); },
     "Error: Cannot read attachment ~/gone.pdf: No such file or directory; =Failed"},
    {"TextFileAboveSixteenMiBRefused", [](auto& f) { std::filesystem::resize_file(f.Settings.MsgTextFile, kMaxTextFileSize + 1); },
     "Error: ~/text.txt is larger than 16 MiB; =Failed"},
    {"FifoListFileRefused", [](auto& f) { f.Entries = {f.Fifo("list")}; }, "Error: ~/list is not a regular file; =Failed"},
    {"MissingTextFileAndAnUnknownSubjectSettingGiveNothing",
     [](auto& f) { f.Settings.MsgTextFile = f.Dir.Path("none"), f.Settings.MsgSubject = 7; }, Sent("T to=a@x.org f=plan.txt")},
    {"NoFilesPromptsWithRecipientsAndTakesTheSubject", [](auto& f) { f.Files = {}, f.Edit = "Hi", f.Entries = {"a@x.org", "b@x.org"}; },
     "prompt to=a@x.org bcc=b@x.org b=Hello; " + Sent("T to=a@x.org bcc=b@x.org s=Hi b=Hello")},
    {"PromptCancelled", [](auto& f) { f.Settings.MsgText = 0, f.Edit.reset(); }, "prompt to=a@x.org " + kPlan + "; =Stopped"},
    {"FixedSubjectNoTextFileEvenOneFilePerMessage", [](auto& f) {
         f.Settings.MsgSubject = 2, f.Settings.MsgSubjectDef = "Weekly", f.Settings.MsgText = 2, f.Settings.OneFilePerMsg = true;
         f.Files = {"one", "two"};
     }, Sent("T to=a@x.org s=Weekly f=one; T to=a@x.org s=Weekly f=two")},
    {"FailureInTheSecondMessageEndsWithoutQuit", [](auto& f) {
         f.Settings.OneFilePerMsg = true, f.Files = {"one", "two", "three"};
         FailAt(f, "T ", [] { throw EMailError("550 mailbox unavailable", 550); }, 2);
     }, "Open; Login; T to=a@x.org s=File: one f=one b=Hello; T to=a@x.org s=File: two f=two b=Hello; Close; "
        "Error: Mail error (check setup):\r\n550 mailbox unavailable; =Failed"},
    {"SocketErrorAtOpen", [](auto& f) { FailAt(f, "Open", [] { throw ESocketError("Connection refused", WSAECONNREFUSED); }); },
     "Open; Close; Error: Socket error (check setup and try again):\r\nConnection refused; =Failed"},
    {"TimeOutAtLogin", [](auto& f) { FailAt(f, "Login", [] { throw ETimedOutError(); }); },
     "Open; Login; Close; Error: Connection timed out:\r\nOperation timed out; =Failed"},
    {"CancelWithoutResultBoxIsSilent", [](auto& f) { FailAt(f, "Login", [] { throw ECanceledError(); }); },
     "Open; Login; Close; =Failed"},
    {"FailureOfNoTransportKindPassesOn", [](auto& f) { FailAt(f, "Login", [] { throw std::logic_error("broken"); }); },
     "Open; Login; Close; passed on: broken"},
    {"CommandLineFilesAddressesAndWarnings", [](auto& f) {
         QDir(f.Dir.QPath("")).mkdir("f");
         f.Run.Arguments = {f.Dir.Write("report.txt", "r"), f.Dir.Path("missing.txt"), "boss@x.org", f.Dir.Path("f"),
                            f.Dir.Write("invoice@march.pdf", "x")};
     }, "warn: ~/missing.txt: no such file; left out; warn: ~/f is not a regular file; left out; "
        + Sent("T to=boss@x.org s=Files: report.txt, invoice@march.pdf f=report.txt,invoice@march.pdf b=Hello")},
    // The composer picks the character set; the run hands the text on whole.
    {"TextReachesTheComposerWhole", [](auto& f) { f.Mailer.SetCharSet(csISO8859), f.Dir.Write("text.txt", "Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC"); },
     Sent("T to=a@x.org s=Files: plan.txt f=plan.txt b=Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC")},
    // AlwaysPrompt asks although files are there and the settings give a text.
    {"GivenMessageReplacesListAndSettingsAndIsPromptedForAsIs", [](auto& f) {
         f.Run.Given = TGivenMessage{"to@x.org", {"c@x.org"}, {"b@x.org"}, "Given", TLines{"one"}};
         f.Run.AlwaysPrompt = true, f.Edit = "Given";
     }, "prompt to=to@x.org cc=c@x.org bcc=b@x.org s=Given f=plan.txt b=one; " + Sent("T to=to@x.org cc=c@x.org bcc=b@x.org s=Given f=plan.txt b=one")},
};
INSTANTIATE_TEST_SUITE_P(Rows, RunRules, ::testing::ValuesIn(kRows), [](const auto& row) { return std::get<0>(row.param); });

// The subject from the files' names is cut after 70 characters, never inside one; the status line shows
// 14 blanks before the phase (only the blanks out of range).
TEST(RunHelpers, SubjectFromFilesAndStatusText)
{
    const std::string k63(63, 'k'), fifty(50, 'n');
    const std::pair<TStrings, std::string> cases[] = {
        {{}, ""}, {{"/home/u/plan.txt", "/tmp/map.gif"}, "Files: plan.txt, map.gif"},
        {{"plain", "/x/a\\b:c"}, "Files: plain, a\\b:c"},   // "\" and ":" are ordinary here
        {{"/d/" + k63}, "Files: " + k63}, {{"/d/" + k63 + "k"}, "Files: " + k63 + "..."},
        {{"/d/" + fifty, "/d/" + fifty}, ("Files: " + fifty + ", " + fifty).substr(0, 70) + "..."},
        {{"/d/" + std::string(62, 'k') + "\xc3\xa9\xc3\xa9"}, "Files: " + std::string(62, 'k') + "\xc3\xa9..."},
    };
    for (const auto& [files, subject] : cases)
        EXPECT_EQ(SubjectFromFiles(files), subject);
    for (const auto& [status, text] : {std::pair{2, "Logging in..."}, {-1, ""}, {10, ""}})
        EXPECT_EQ(StatusText(status).toStdString(), std::string(14, ' ') + text) << status;
}

}
