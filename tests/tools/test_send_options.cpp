// tessaly-send's arguments as a table: each row is a command line (with a
// settings file and standard input) and what the client is then set to, or
// the exit status it is refused with.
#include "options.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>

namespace {

// A row: its name, the arguments, the --settings file, the exit status and what the client is then set to.
using TArgsRow = std::tuple<const char*, QStringList, std::string, TExitStatus, std::function<void(const TSMTP&)>>;

const QStringList kServer = {"--server", "mail.example:2525", "--from", "me@x.org", "--to", "a@x.org"};
const std::string kSettings = "[Setup]\r\nServer=smtp.example:587\r\nEMail Address=s@x.org\r\nName=Sam\r\nTimeOut=9\r\nEncoding=0\r\n";

const TArgsRow kRows[] = {
    {"RepeatedToReachesEveryoneWithLogin", kServer + QStringList{"--to", "b@x.org", "--cc", "c@x.org", "--bcc", "d@x.org",
         "--security", "starttls", "--user", "me", "--auth", "xoauth2", "--password-command", "pass show mail"}, "", exSent,
     [](const TSMTP& s) { EXPECT_EQ(std::tuple(s.Recipient() + " " + s.CC().Text() + s.BCC().Text(), s.Security(), s.User(),
                                               s.AuthMethod(), s.PasswordCommand(), s.ShowResult()),
                                    std::tuple("a@x.org b@x.org\r\nc@x.org\r\nd@x.org\r\n", secSTARTTLS, "me", amXOAUTH2,
                                               "pass show mail", false)); }},
    {"MissingFrom", {"--server", "h", "--to", "a@x.org"}, "", exUsage, {}},
    {"SettingsGiveServerSenderAndOptions", {"--to", "a@x.org"}, kSettings, exSent, [](const TSMTP& s) { EXPECT_EQ(
         std::tuple(s.Server(), s.From(), s.TimeOut(), s.Encoding()), std::tuple("smtp.example:587", "s@x.org|Sam", 9, etUU)); }},
    {"OptionsWinOverSettings", kServer + QStringList{"--timeout", "2", "--encoding", "mime", "--charset", "UTF-8"}, kSettings, exSent,
     [](const TSMTP& s) { EXPECT_EQ(std::tuple(s.Server(), s.From(), s.TimeOut(), s.CharSet()),
                                    std::tuple("mail.example:2525", "me@x.org", 2, csUTF8)); }},
    {"BodyFromStandardInput", kServer + QStringList{"--body-file", "-"}, "", exSent,
     [](const TSMTP& s) { EXPECT_EQ(s.Body().Text(), "line 1\r\n\r\nline 3\r\n"); }},
    // Colons and lower case are taken; the port is the server's own.
    {"FingerprintForAnIPv6ServerWithPort", {"--server", "[::1]:2526", "--from", "me@x.org", "--to", "a@x.org",
         "--tls-fingerprint", "00:11:22:33:44:55:66:77:88:99:aa:bb:cc:dd:ee:ff:00112233445566778899aabbccddeeff"}, "", exSent,
     [](const TSMTP& s) { EXPECT_EQ(s.TrustedCertificates(), "::1:2526=00112233445566778899AABBCCDDEEFF00112233445566778899AABBCCDDEEFF"); }},
    {"FingerprintTooShort", kServer + QStringList{"--tls-fingerprint", "AB:CD"}, "", exUsage, {}},
    {"TimeoutZero", kServer + QStringList{"--timeout", "0"}, "", exUsage, {}},
    {"BadCharset", kServer + QStringList{"--charset", "koi8-r"}, "", exUsage, {}},
    {"MissingAttachment", kServer + QStringList{"/nonexistent/missing.bin"}, "", exNoInput, {}},
};

class SendOptions : public ::testing::TestWithParam<TArgsRow> {};

TEST_P(SendOptions, SetTheClientOrRefuseWithTheirStatus)
{
    const auto& [name, args, text, expected, check] = GetParam();
    QTemporaryDir dir;
    const QString settings = dir.filePath("tessaly.ini");
    std::ofstream(settings.toStdString(), std::ios::binary) << text;
    std::istringstream input("line 1\r\n\r\nline 3\n");
    TSMTP smtp;
    TExitStatus status = exSent;
    try {
        const TSendOptions options = ParseSendOptions(args + QStringList{"--settings", settings});
        ApplyOptions(options, *options.SettingsFile, input, smtp);
    } catch (const ESendUsage& e) {
        status = e.Status;
    }
    EXPECT_EQ(status, expected);
    if (check && status == exSent)
        check(smtp);
}

INSTANTIATE_TEST_SUITE_P(Rows, SendOptions, ::testing::ValuesIn(kRows), [](const auto& info) { return std::get<0>(info.param); });

// --help-all and --version, the settings file read by default, and a failure's exit status and the line printed for it.
TEST(SendCommand, AnswersHelpReadsTheSettingsBesideAPortableProgramAndReportsFailuresByStatusAndServer)
{
    EXPECT_EQ(ParseSendOptions({"--help-all"}).Action, TSendOptions::Help);
    EXPECT_EQ(ParseSendOptions({"--version"}).Action, TSendOptions::Version);
    QTemporaryDir dir;
    std::ofstream(dir.filePath("tessaly.ini").toStdString()) << "[Setup]\r\n";
    EXPECT_EQ(DefaultSendSettingsPath(dir.filePath("tessaly-send").toStdString()), dir.filePath("tessaly.ini").toStdString());
    TSMTP smtp;
    smtp.SetDefaultPort(25);
    const std::tuple<const char*, std::shared_ptr<std::exception>, TExitStatus, std::string> cases[] = {
        {"mail.example:2525", std::make_shared<EMailError>(" Mailbox unavailable", 550), exUnavailable,
         "mail.example:2525: 550 Mailbox unavailable"},
        {"mail.example", std::make_shared<EMailError>("451 Try later", 451), exTempFail, "mail.example:25: 451 Try later"},
        {"mail.example", std::make_shared<EAuthError>("535 Bad credentials", 535), exNoPermission, "mail.example:25: 535 Bad credentials"},
        {"h", std::make_shared<EMailError>("Bad reply"), exProtocol, "h:25: Bad reply"},
        {"no.such.host", std::make_shared<ESocketError>("Host not found", WSAHOST_NOT_FOUND), exNoHost, "no.such.host:25: Host not found"},
        {"[::1]:26", std::make_shared<ESocketError>("Connection refused", WSAECONNREFUSED), exTempFail, "[::1]:26: Connection refused"},
        {"h", std::make_shared<ETimedOutError>(), exTempFail, "h:25: Operation timed out"},
    };
    for (const auto& [server, failure, status, line] : cases) {
        smtp.SetServer(server);
        EXPECT_EQ(ExitStatusFor(*failure), status) << line;
        EXPECT_EQ(FailureLine(smtp, *failure), line);
    }
}

}
