// Runs every SMTP scenario in tests/data/smtp/ and tests/data/compose/
// (format in tests/data/smtp/README): one test per file, named after it.
#include "mime.h"
#include "smtp_session.h"
#include "test_data.h"

#include <map>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using Pairs = std::vector<std::pair<std::string, std::string>>;

struct TScenario {
    fs::path File;
    Pairs Settings, Outcome;
    Lines Script;   // steps of TFakeSMTPServer
};
// Failures name the file, not the bytes of the case.
void PrintTo(const TScenario& s, std::ostream* out) { *out << s.File.filename(); }

TScenario Parse(const fs::path& file)
{
    // Shorthands for the usual start of a dialogue.
    const Lines hello = {"S: 220 fake.test", "C: EHLO example.org", "S: 250 ok"};
    const std::map<std::string, Lines> special = {{"S <close>", {"X:"}}, {"S <silence>", {"H:"}},
        {"C <message>", {"D:"}}, {"C <data>", {"D: any"}}, {"S <hello>", hello},
        {"S <354>", {hello[0], hello[1], hello[2], "C: MAIL FROM:<me@example.org>", "S: 250 ok",
                     "C: RCPT TO:<you@example.net>", "S: 250 ok", "C: DATA", "S: 354 go ahead"}}};
    TScenario s{file, {}, {}, {}};
    std::istringstream in(ReadFile(file));
    for (std::string line; std::getline(in, line);) {
        const auto colon = line.find(':');
        if (line.starts_with('#') || colon == std::string::npos)
            continue;
        const std::string key = line.substr(0, colon), value = Unescape(line.substr(std::min(colon + 2, line.size())));
        if (const auto it = special.find(key + " " + value); it != special.end())
            s.Script.insert(s.Script.end(), it->second.begin(), it->second.end());
        else if (key == "S" && value.starts_with("<pause "))
            s.Script.push_back("P: " + value.substr(7, value.size() - 8));
        else if (key == "S" || key == "C" || key == "R")
            s.Script.push_back(key + ": " + value);
        else if (key.starts_with("@ ") || key.starts_with("= "))
            (key[0] == '@' ? s.Settings : s.Outcome).emplace_back(key.substr(2), value);
    }
    // The settings of the folder's file "defaults" that the case does not
    // set itself come first.
    if (file.filename() != "defaults") {
        Pairs settings = Parse(file.parent_path() / "defaults").Settings;
        std::erase_if(settings, [&](const auto& d) {
            return std::ranges::any_of(s.Settings, [&](const auto& own) { return own.first == d.first; }); });
        s.Settings.insert(s.Settings.begin(), settings.begin(), settings.end());
    }
    // A case that names no error expects none.
    if (std::none_of(s.Outcome.begin(), s.Outcome.end(), [](const auto& o) { return o.first == "error"; }))
        s.Outcome.emplace_back("error", "none");
    return s;
}

std::vector<TScenario> Scenarios(const std::string& folder)
{
    std::vector<TScenario> all;
    for (const auto& file : DataFiles(folder, ".txt"))
        all.push_back(Parse(file));
    return all;
}

// What a setting does to the component.
void Apply(TSMTP& m, const std::string& key, const std::string& v)
{
    const bool yes = v == "yes";
    const auto pick = [&](std::initializer_list<std::string_view> names) {   // the enum value named v
        EXPECT_NE(std::ranges::find(names, v), names.end()) << "unknown value " << v;
        return int(std::ranges::find(names, v) - names.begin()); };
    if (key == "From") m.SetFrom(v);
    else if (key == "To") m.SetRecipient(v);
    else if (key == "CC") m.CC().Add(v);
    else if (key == "BCC") m.BCC().Add(v);
    else if (key == "Subject") m.SetSubject(v);
    else if (key == "Body") m.Body().Add(v);
    else if (key == "TimeOut") m.SetTimeOut(std::stoi(v));
    else if (key == "UseDomainAddress") m.SetUseDomainAddress(yes);
    else if (key == "ShowResult") m.SetShowResult(yes);
    else if (key == "ReturnReceipt") m.SetReturnReceipt(yes);
    else if (key == "StatusHandler" && !yes) m.OnStatusChange = nullptr;
    else if (key == "Encoding") m.SetEncoding(TEncoding(pick({"UU", "MIME"})));
    else if (key == "CharSet") m.SetCharSet(TCharSet(pick({"us-ascii", "iso-8859-1", "utf-8"})));
    else if (key == "Priority") m.SetPriority(TPriority(pick({"low", "normal", "high"})));
    else if (key == "Security") m.SetSecurity(TSecurity(pick({"auto", "none", "starttls", "tls"})));
    else if (key == "User") m.SetUser(v);
    else if (key == "Password") m.OnPassword = [v] { return std::optional(v); };
    else if (key == "Boundary") m.SetBoundary(v);
    else if (key == "Attachment") m.Attachments().Add(TESSALY_TEST_DATA "/" + v);
    else if (key == "File")   // "name = bytes": a file made for the case
        m.Attachments().Add(TestFile(v.substr(0, v.find(" =")), v.substr(std::min(v.find(" =") + 3, v.size()))));
    else if (key == "Server") m.SetServer(v == "<refused>" ? "127.0.0.1:" + std::to_string(ClosedPort()) : v);
    else if (key != "StatusHandler") ADD_FAILURE() << "unknown setting " << key;
}

const char* const StatusNames[] = {"Idle", "Connecting", "LoggingIn", "LoggingOut", "SendingHeaders",
                                   "SendingCommands", "SendingBody", "SendingAttachments", "Canceled", "Encoding"};

// `text` with the path of tests/data written "<data>", so that messages
// and boxes naming a data file are the same in every checkout.
std::string Portable(std::string text)
{
    for (std::size_t at; (at = text.find(TESSALY_TEST_DATA)) != std::string::npos;)
        text.replace(at, std::string_view(TESSALY_TEST_DATA).size(), "<data>");
    return text;
}

// A scenario without server lines gets a willing server: every command
// accepted, each message compared with the golden file.
Lines StandardDialogue(const TSMTP& smtp, const std::string& steps)
{
    Lines script = {"S: 220 fake.test", "C: <any>", "S: 250 ok"};
    const std::size_t envelope = !SplitAddress(smtp.From()).first.empty() + 1 + smtp.CC().Count() + smtp.BCC().Count();
    for (std::size_t at = steps.find("transmit"); at != std::string::npos; at = steps.find("transmit", at + 1)) {
        for (std::size_t i = 0; i < envelope; ++i)
            script.insert(script.end(), {"C: <any>", "S: 250 ok"});
        script.insert(script.end(), {"C: DATA", "S: 354 go ahead", "D:", "S: 250 queued"});
    }
    script.insert(script.end(), {"C: QUIT", "S: 221 bye"});
    return script;
}

struct Scenario : SMTPSessionTest, ::testing::WithParamInterface<TScenario> {
    static void SetUpTestSuite() { SetContentTypeTable(std::string_view("application/zip zip\nTEXT/Plain txt\n")); }
    // The client's lines as the script expects them, compared from the
    // first difference on; "<any>" takes the line sent, a message the
    // lines up to ".".
    void CheckClientLines(const TScenario& s)
    {
        PumpUntil([&] { return Server->ClientClosed() || !Server->Connections(); });
        const Lines& got = Server->Received();
        Lines want;
        for (const auto& step : s.Script) {
            const auto at = got.begin() + std::min(want.size(), got.size());
            if (step.starts_with("C: "))
                want.push_back(step == "C: <any>" && at != got.end() ? *at : step.substr(3));
            if (!step.starts_with("D:"))
                continue;
            const auto end = std::find(at, got.end(), ".");
            std::string text;
            for (auto line = at; line != end; ++line)
                text += *line + "\r\n";
            const std::string portable = Portable(text);
            if (step == "D:") {
                EXPECT_EQ(portable, Golden(fs::path(s.File).replace_extension(".eml"), portable)) << "the message";
            }
            want.insert(want.end(), at, end);
            want.push_back(".");
        }
        const auto from = std::mismatch(got.begin(), got.end(), want.begin(), want.end()).first - got.begin();
        const auto slice = [from](const Lines& l) { return Lines(l.begin() + std::min<long>(from, l.size()),
                                                                 l.begin() + std::min<long>(from + 3, l.size())); };
        EXPECT_EQ(slice(got), slice(want)) << "client lines from line " << from;
    }
    // The value of outcome line `key` as this run produced it.
    std::string Actual(const std::string& key, const std::string& error)
    {
        const auto& log = Smtp->SessionLog();
        const std::map<std::string, std::string> outcomes = {{"error", error},
            {"failed", Smtp->TransferFailed() ? "yes" : "no"},
            {"helo", Server && !Server->Received().empty() ? Server->Received().front() : ""},
            {"log", log.Empty() ? "" : std::string(log.Last())}, {"status", StatusNames[Smtp->Status()]},
            {"statuses", Joined(Statuses, [](TMailStatus s) { return std::string(StatusNames[s]); })},
            {"progress", Joined(Progress, [](int p) { return std::to_string(p); })},
            {"box", Boxes.empty() ? "none" : Portable(Joined(Boxes, [](const std::string& b) { return b; }))},
            {"blocks", std::to_string(Smtp->EncodedAttachments().size())}};
        return outcomes.contains(key) ? outcomes.at(key) : "<unknown outcome " + key + ">";
    }
};

TEST_P(Scenario, Run)
{
    TScenario s = GetParam();
    Smtp->SetBoundary("31415926");
    std::string steps = "open login transmit logout";
    for (const auto& [key, value] : s.Settings)
        key == "Steps" ? void(steps = value) : Apply(*Smtp, key, value);
    const std::string server = Smtp->Server();
    if (s.Script.empty() && server.empty())
        s.Script = StandardDialogue(*Smtp, steps);
    Serve(s.Script);
    if (!server.empty())
        Smtp->SetServer(server);
    std::string error = Outcome([&] {   // "Class: message" of the first failure
        std::istringstream words(steps);
        for (std::string op; words >> op;)
            op == "open" ? Smtp->Open() : op == "login" ? Smtp->Login() : op == "transmit" ? Smtp->Transmit()
                : op == "logout" ? Smtp->Logout() : throw std::invalid_argument("unknown step " + op);
    });
    error = error == "ok" ? "none" : error.substr(error.find(": ") + 2);
    Smtp->Close();
    CheckClientLines(s);
    for (const auto& [key, value] : s.Outcome)
        EXPECT_EQ(Actual(key, error), value) << "= " << key;
}

std::string Name(const ::testing::TestParamInfo<TScenario>& info) { return info.param.File.stem().string(); }
INSTANTIATE_TEST_SUITE_P(Smtp, Scenario, ::testing::ValuesIn(Scenarios("smtp")), Name);
INSTANTIATE_TEST_SUITE_P(Compose, Scenario, ::testing::ValuesIn(Scenarios("compose")), Name);

} // namespace
