// tessaly-send's arguments as a table: each row is a command line (with a
// settings file and standard input where it needs them) and what the
// client is then set to, or the exit status it is refused with.
#include "options.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <tuple>

namespace {

const std::string kHex = "00112233445566778899AABBCCDDEEFF00112233445566778899AABBCCDDEEFF";
const std::string kHexColons = "00:11:22:33:44:55:66:77:88:99:aa:bb:cc:dd:ee:ff:00:11:22:33:44:55:66:77:88:99:aa:bb:cc:dd:ee:ff";

struct TArgsRow {
    const char* Name;
    std::vector<std::string> Args;   // "@" stands for the scratch folder
    std::string Settings;            // written as the --settings file when not empty
    TExitStatus Status;
    std::function<void(const TSMTP&)> Check;
};

const std::vector<std::string> kServer = {"--server", "mail.example:2525", "--from", "me@x.org"};
std::vector<std::string> With(std::vector<std::string> more)
{
    more.insert(more.begin(), kServer.begin(), kServer.end());
    return more;
}

const TArgsRow kRows[] = {
    {"RepeatedToReachesEveryoneWithLogin", With({"--to", "a@x.org", "--to", "b@x.org", "--cc", "c@x.org", "--bcc", "d@x.org",
         "--security", "starttls", "--user", "me", "--auth", "xoauth2", "--password-command", "pass show mail"}), "", exSent,
     [](const TSMTP& s) {
         EXPECT_EQ(s.Recipient() + " " + s.CC().Text() + s.BCC().Text(), "a@x.org b@x.org\r\nc@x.org\r\nd@x.org\r\n");
         EXPECT_EQ(std::tuple(s.Security(), s.User(), s.AuthMethod(), s.PasswordCommand(), s.ShowResult()),
                   std::tuple(secSTARTTLS, "me", amXOAUTH2, "pass show mail", false));
     }},
    {"MissingFrom", {"--server", "h", "--to", "a@x.org"}, "", exUsage, {}},
    {"SettingsGiveServerSenderAndOptions", {"--to", "a@x.org"},
     "[Setup]\r\nServer=smtp.example:587\r\nEMail Address=s@x.org\r\nName=Sam\r\nTimeOut=9\r\nEncoding=0\r\n", exSent,
     [](const TSMTP& s) {
         EXPECT_EQ(std::tuple(s.Server(), s.From(), s.TimeOut(), s.Encoding()), std::tuple("smtp.example:587", "s@x.org|Sam", 9, etUU));
     }},
    {"OptionsWinOverSettings", With({"--to", "a@x.org", "--timeout", "2", "--encoding", "mime", "--charset", "UTF-8"}),
     "[Setup]\r\nServer=smtp.example\r\nEMail Address=s@x.org\r\nTimeOut=9\r\nEncoding=0\r\n", exSent,
     [](const TSMTP& s) {
         EXPECT_EQ(std::tuple(s.Server(), s.From(), s.TimeOut(), s.CharSet()), std::tuple("mail.example:2525", "me@x.org", 2, csUTF8));
     }},
    {"TimeoutZero", With({"--to", "a@x.org", "--timeout", "0"}), "", exUsage, {}},
    {"BodyFromStandardInput", With({"--to", "a@x.org", "--body-file", "-"}), "", exSent,
     [](const TSMTP& s) { EXPECT_EQ(s.Body().Text(), "line 1\r\n\r\nline 3\r\n"); }},
    {"MissingAttachment", With({"--to", "a@x.org", "@/missing.bin"}), "", exNoInput, {}},
    {"MissingBodyFile", With({"--to", "a@x.org", "--body-file", "@/missing.txt"}), "", exNoInput, {}},
    {"BadCharset", With({"--to", "a@x.org", "--charset", "koi8-r"}), "", exUsage, {}},
    {"FingerprintForTheServer", With({"--to", "a@x.org", "--tls-fingerprint", kHexColons}), "", exSent,
     [](const TSMTP& s) { EXPECT_EQ(s.TrustedCertificates(), "mail.example:2525=" + kHex); }},
    {"FingerprintTooShort", With({"--to", "a@x.org", "--tls-fingerprint", "AB:CD"}), "", exUsage, {}},
    {"ServerIPv6WithPort", {"--server", "[::1]:2526", "--from", "me@x.org", "--to", "a@x.org", "--tls-fingerprint", kHex},
     "", exSent, [](const TSMTP& s) { EXPECT_EQ(s.TrustedCertificates(), "::1:2526=" + kHex); }},
};

// A row prints as its name (ctest lists it so).
void PrintTo(const TArgsRow& row, std::ostream* out) { *out << row.Name; }

class SendOptions : public ::testing::TestWithParam<TArgsRow> {};

TEST_P(SendOptions, SetTheClientOrRefuseWithTheirStatus)
{
    const TArgsRow& row = GetParam();
    QTemporaryDir dir;
    const std::string scratch = dir.path().toStdString();
    QStringList args;
    for (std::string arg : row.Args) {
        if (!arg.empty() && arg.front() == '@')
            arg = scratch + arg.substr(1);
        args << QString::fromStdString(arg);
    }
    // Without a settings file of its own, a row reads one that does not
    // exist, so that no settings of the machine leak in.
    std::string settings = scratch + "/none.ini";
    if (!row.Settings.empty()) {
        settings = scratch + "/tessaly.ini";
        std::ofstream(settings, std::ios::binary) << row.Settings;
        args << "--settings" << QString::fromStdString(settings);
    }
    std::istringstream input("line 1\r\n\r\nline 3\n");
    TSMTP smtp;
    TExitStatus status = exSent;
    try {
        const TSendOptions options = ParseSendOptions(args);
        ApplyOptions(options, options.SettingsFile.value_or(settings), input, smtp);
    } catch (const ESendUsage& e) {
        status = e.Status;
    }
    EXPECT_EQ(status, row.Status);
    if (row.Check && status == exSent)
        row.Check(smtp);
}

INSTANTIATE_TEST_SUITE_P(Rows, SendOptions, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(SendOptionsText, HelpAllAndVersionAreAnsweredAndHelpListsStatusesAndExamples)
{
    EXPECT_EQ(ParseSendOptions({"--help-all"}).Action, TSendOptions::Help);
    EXPECT_EQ(ParseSendOptions({"--version"}).Action, TSendOptions::Version);
    const std::string help = SendHelpText();
    for (const char* text : {"--help-all", "64  bad usage", "77  the server refused the login", "Examples:"})
        EXPECT_NE(help.find(text), std::string::npos) << text;
}

// ---- failures: exit status and the printed line ------------------------------------------

TEST(SendFailures, MapToSysexitsAndNameTheServerWithItsWords)
{
    TSMTP smtp;
    smtp.SetDefaultPort(25);
    const std::tuple<const char*, std::function<void()>, TExitStatus, std::string> cases[] = {
        {"mail.example:2525", [] { throw EMailError(" Mailbox unavailable", 550); }, exUnavailable,
         "mail.example:2525: 550 Mailbox unavailable"},
        {"mail.example", [] { throw EMailError("451 Try later", 451); }, exTempFail, "mail.example:25: 451 Try later"},
        {"mail.example", [] { throw EAuthError("535 Bad credentials", 535); }, exNoPermission, "mail.example:25: 535 Bad credentials"},
        {"h", [] { throw EMailError("Bad reply"); }, exProtocol, "h:25: Bad reply"},
        {"no.such.host", [] { throw ESocketError("Host not found", WSAHOST_NOT_FOUND); }, exNoHost, "no.such.host:25: Host not found"},
        {"[::1]:26", [] { throw ESocketError("Connection refused", WSAECONNREFUSED); }, exTempFail, "[::1]:26: Connection refused"},
        {"h", [] { throw ETimedOutError(); }, exTempFail, "h:25: Operation timed out"},
    };
    for (const auto& [server, raise, status, line] : cases) {
        smtp.SetServer(server);
        try {
            raise();
        } catch (const std::exception& e) {
            EXPECT_EQ(ExitStatusFor(e), status) << line;
            EXPECT_EQ(FailureLine(smtp, e), line);
        }
    }
}

TEST(SendSettings, DefaultIsTheFileOfAPortableProgramBesideIt)
{
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    std::ofstream(folder + "/tessaly.ini") << "[Setup]\r\n";
    EXPECT_EQ(DefaultSendSettingsPath(folder + "/tessaly-send"), folder + "/tessaly.ini");
}

}
