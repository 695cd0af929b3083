// Runs every SMTP scenario in tests/data/smtp/ and tests/data/compose/
// (format in tests/data/smtp/README): one test per file, named after it.
#include "mime.h"
#include "smtp_session.h"

#include <QDir>
#include <QTimeZone>

#include <filesystem>
#include <cctype>
#include <map>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using Pairs = std::vector<std::pair<std::string, std::string>>;

// "\r", "\n", "\t", "\0", "\\" and "\xHH" in a scenario line.
std::string Unescape(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        if (c == 'x' && i + 2 < text.size() + 1) {
            out += char(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            out += c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c == '0' ? '\0' : c;
        }
    }
    return out;
}

struct TScenario {
    fs::path File;
    Pairs Settings, Outcome;
    Lines Script;   // steps of TFakeSMTPServer
};

// Failures name the file, not the bytes of the case.
void PrintTo(const TScenario& s, std::ostream* out) { *out << s.File.filename(); }

TScenario Parse(const fs::path& file)
{
    TScenario s{file, {}, {}, {}};
    std::ifstream in(file, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (line.ends_with('\r'))
            line.pop_back();
        const auto colon = line.find(':');
        if (line.empty() || line[0] == '#' || colon == std::string::npos)
            continue;
        const std::string key = line.substr(0, colon), value = Unescape(line.substr(std::min(colon + 2, line.size())));
        static const std::map<std::string, std::string> actions = {
            {"<close>", "X:"}, {"<silence>", "H:"}, {"<hold>", "H:"}};
        if (key == "S" && actions.contains(value))
            s.Script.push_back(actions.at(value));
        else if (key == "C" && (value == "<message>" || value == "<data>"))
            s.Script.push_back(value == "<message>" ? "D:" : "D: skip");
        else if (key == "S" && value.starts_with("<pause "))
            s.Script.push_back("P: " + value.substr(7, value.size() - 8));
        else if (key == "S" || key == "C" || key == "R")
            s.Script.push_back(key + ": " + value);
        else if (key.starts_with("@ "))
            s.Settings.emplace_back(key.substr(2), value);
        else if (key.starts_with("= "))
            s.Outcome.emplace_back(key.substr(2), value);
    }
    return s;
}

std::vector<TScenario> Scenarios(const char* folder)
{
    std::vector<TScenario> all;
    for (const auto& entry : fs::directory_iterator(fs::path(TESSALY_TEST_DATA) / folder))
        if (entry.path().extension() == ".txt")
            all.push_back(Parse(entry.path()));
    std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.File < b.File; });
    return all;
}

bool Yes(const std::string& value) { return value == "yes" || value == "true" || value == "1"; }

// What a setting does to the component.
void Apply(TSMTP& smtp, const std::string& key, const std::string& value)
{
    static const std::map<std::string, std::function<void(TSMTP&, const std::string&)>> setters = {
        {"From", [](TSMTP& m, const std::string& v) { m.SetFrom(v); }},
        {"To", [](TSMTP& m, const std::string& v) { m.SetRecipient(v); }},
        {"CC", [](TSMTP& m, const std::string& v) { m.CC().Add(v); }},
        {"BCC", [](TSMTP& m, const std::string& v) { m.BCC().Add(v); }},
        {"Subject", [](TSMTP& m, const std::string& v) { m.SetSubject(v); }},
        {"Body", [](TSMTP& m, const std::string& v) { m.Body().Add(v); }},
        {"TimeOut", [](TSMTP& m, const std::string& v) { m.SetTimeOut(std::stoi(v)); }},
        {"UseDomainAddress", [](TSMTP& m, const std::string& v) { m.SetUseDomainAddress(Yes(v)); }},
        {"ShowResult", [](TSMTP& m, const std::string& v) { m.SetShowResult(Yes(v)); }},
        {"ReturnReceipt", [](TSMTP& m, const std::string& v) { m.SetReturnReceipt(Yes(v)); }},
        {"Encoding", [](TSMTP& m, const std::string& v) { m.SetEncoding(v == "UU" ? etUU : etMIME); }},
        {"CharSet", [](TSMTP& m, const std::string& v) {
             m.SetCharSet(v == "iso-8859-1" ? csISO8859 : v == "utf-8" ? csUTF8 : csUSASCII); }},
        {"Priority", [](TSMTP& m, const std::string& v) {
             m.SetPriority(v == "high" ? ptHigh : v == "low" ? ptLow : ptNormal); }},
        {"Boundary", [](TSMTP& m, const std::string& v) { m.SetBoundary(v); }},
        {"Attachment", [](TSMTP& m, const std::string& v) {
             m.Attachments().Add(v.starts_with('/') ? v : std::string(TESSALY_TEST_DATA) + "/" + v); }},
        // "name = bytes": a file made for the case.
        {"File", [](TSMTP& m, const std::string& v) {
             const auto at = v.find(" =");
             m.Attachments().Add(TestFile(v.substr(0, at), v.substr(std::min(at + 3, v.size())))); }},
        {"Server", [](TSMTP& m, const std::string& v) {
             m.SetServer(v == "<refused>" ? "127.0.0.1:" + std::to_string(ClosedPort()) : v); }},
        {"Security", [](TSMTP& m, const std::string& v) {
             m.SetSecurity(v == "none" ? secNone : v == "starttls" ? secSTARTTLS : v == "tls" ? secTLS : secAuto); }},
        {"User", [](TSMTP& m, const std::string& v) { m.SetUser(v); }},
        {"Password", [](TSMTP& m, const std::string& v) { m.OnPassword = [v] { return std::optional(v); }; }},
        {"StatusHandler", [](TSMTP& m, const std::string& v) { if (!Yes(v)) m.OnStatusChange = nullptr; }},
    };
    const auto setter = setters.find(key);
    if (setter == setters.end())
        return ADD_FAILURE() << "unknown setting " << key;
    setter->second(smtp, value);
}

const char* const StatusNames[] = {"Idle", "Connecting", "LoggingIn", "LoggingOut", "SendingHeaders",
                                   "SendingCommands", "SendingBody", "SendingAttachments", "Canceled", "Encoding"};

template <class T, class F>
std::string Joined(const std::vector<T>& items, F name)
{
    std::string text;
    for (const auto& item : items)
        text += (text.empty() ? "" : " ") + name(item);
    return text;
}

class Scenario : public SMTPSessionTest, public ::testing::WithParamInterface<TScenario> {
public:
    static void SetUpTestSuite()
    {
        SetContentTypeTable(std::string_view("application/zip zip\nTEXT/Plain txt\n"));
    }
    // Runs the operations of `steps`; the error text of the first failure.
    std::string Run(const std::string& steps)
    {
        const std::map<std::string, std::function<void()>> ops = {{"open", [&] { Smtp->Open(); }},
            {"login", [&] { Smtp->Login(); }}, {"transmit", [&] { Smtp->Transmit(); }},
            {"logout", [&] { Smtp->Logout(); }}};
        std::string error = "none";
        try {
            std::istringstream words(steps);
            for (std::string op; words >> op;)
                ops.at(op)();
        } catch (const std::exception& e) {
            error = e.what();
        }
        Smtp->Close();
        return error;
    }
    // The client's lines as the script expects them: "<any>" takes the
    // line sent; "<message>" takes the lines up to "." and compares them
    // with the golden file beside the scenario.
    void CheckClientLines(const TScenario& s)
    {
        PumpUntil([&] { return Server->ClientClosed() || !Server->Connections(); });
        const Lines& got = Server->Received();
        Lines expected;
        for (const auto& step : s.Script) {
            const std::size_t at = expected.size();
            if (step == "C: <any>")
                expected.push_back(at < got.size() ? got[at] : "<any>");
            else if (step.starts_with("C: "))
                expected.push_back(step.substr(3));
            else if (step.starts_with("D:"))
                CheckMessage(s, got, expected, step == "D:");
        }
        const auto bad = std::mismatch(got.begin(), got.end(), expected.begin(), expected.end());
        const auto from = std::min(bad.first - got.begin(), bad.second - expected.begin());
        const auto slice = [from](const Lines& l) { return Lines(l.begin() + std::min<long>(from, l.size()),
                                                                 l.begin() + std::min<long>(from + 3, l.size())); };
        EXPECT_EQ(slice(got), slice(expected)) << "client lines from line " << from;
    }
    void CheckMessage(const TScenario& s, const Lines& got, Lines& expected, bool compare)
    {
        const auto begin = got.begin() + std::min<long>(expected.size(), got.size());
        const auto end = std::find(begin, got.end(), ".");
        expected.insert(expected.end(), begin, end);
        expected.push_back(".");
        if (!compare)
            return;
        std::string text;
        for (auto line = begin; line != end; ++line)
            text += *line + "\r\n";
        const fs::path golden = fs::path(s.File).replace_extension(".eml");
        if (qEnvironmentVariableIsSet("TESSALY_UPDATE_GOLDEN"))
            std::ofstream(golden, std::ios::binary) << text;
        std::ifstream in(golden, std::ios::binary);
        const std::string want((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(text, want) << "message differs from " << golden;
    }
    // The value of outcome line `key` as this run produced it.
    std::string Actual(const std::string& key, const std::string& error)
    {
        if (key == "error")
            return error;
        if (key == "failed")
            return Smtp->TransferFailed() ? "yes" : "no";
        if (key == "log")
            return Smtp->SessionLog().Empty() ? "" : std::string(Smtp->SessionLog().Last());
        if (key == "status")
            return StatusNames[Smtp->Status()];
        if (key == "statuses")
            return Joined(Statuses, [](TMailStatus s) { return std::string(StatusNames[s]); });
        if (key == "progress")
            return Joined(Progress, [](int p) { return std::to_string(p); });
        if (key == "box")
            return Boxes.empty() ? "none" : Joined(Boxes, [](const std::string& b) { return b; });
        if (key == "blocks")
            return std::to_string(Smtp->EncodedAttachments().size());
        return "<unknown outcome " + key + ">";
    }
};

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
    return Join({script, {"C: QUIT", "S: 221 bye"}});
}

TEST_P(Scenario, Run)
{
    TScenario s = GetParam();
    Smtp->SetBoundary("31415926");
    Smtp->Clock = [] { return QDateTime(QDate(2026, 12, 6), QTime(23, 41, 7), QTimeZone(3600)); };
    Smtp->RandomBytes = [](std::span<unsigned char> bytes) {
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<unsigned char>(i % 16);
    };
    std::string steps = "open login transmit logout";
    for (const auto& [key, value] : s.Settings)
        key == "Steps" ? void(steps = value) : Apply(*Smtp, key, value);
    const std::string server = Smtp->Server();
    if (s.Script.empty() && server.empty())
        s.Script = StandardDialogue(*Smtp, steps);
    Serve(s.Script);
    if (!server.empty())
        Smtp->SetServer(server);
    const std::string error = Run(steps);
    CheckClientLines(s);
    for (const auto& [key, value] : s.Outcome)
        EXPECT_EQ(Actual(key, error), value) << "= " << key;
}

std::string Name(const ::testing::TestParamInfo<TScenario>& info)
{
    std::string name = info.param.File.stem().string();
    std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    return name;
}
INSTANTIATE_TEST_SUITE_P(Smtp, Scenario, ::testing::ValuesIn(Scenarios("smtp")), Name);
INSTANTIATE_TEST_SUITE_P(Compose, Scenario, ::testing::ValuesIn(Scenarios("compose")), Name);

} // namespace
