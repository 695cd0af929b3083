// Submission against Debian's aiosmtpd: STARTTLS and implicit TLS with a
// test CA and certificates made here with the openssl tool, the judgement
// of certificates, AUTH and the secret it needs, SIZE; Cancel during the
// handshake; every address of a host; time-outs that follow progress.
#include "aiosmtpd_server.h"
#include "smtp_session.h"

#include <QProcess>
#include <QTimer>

#include <sstream>

namespace {

// The certificates of make_test_pki.sh, made once for the program.
struct TTestPki {
    QTemporaryDir Dir;
    std::string Path(const std::string& name) const { return Dir.filePath(QString::fromStdString(name)).toStdString(); }
    std::string SelfFingerprint;
    bool Ok = QProcess::execute("/bin/sh", {TESSALY_SOURCE_DIR "/tests/mail/make_test_pki.sh", Dir.path()}) == 0;
    TTestPki() { std::ifstream(Path("self.fp")) >> SelfFingerprint; }
};
TTestPki* Pki = nullptr;

struct Case {
    const char* Name;
    const char* Server;    // options of aiosmtpd_server.py; "starttls"/"tls" the mode, another word the certificate
    const char* Client;    // "key=value;..." (see Apply) on top of STARTTLS, the test CA, no user
    std::string Outcome;   // "ok", or a part of the failure; SELF: the self-signed certificate's fingerprint
    std::string Events = {};   // what the server saw, then the client's verdict on its login (OnAuthResult)
    std::string LogLine = {};   // a line the session log must hold
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.Name; }

class TlsTest : public SMTPSessionTest, public ::testing::WithParamInterface<Case> {
public:
    static void SetUpTestSuite() { Pki = new TTestPki; }
    static void TearDownTestSuite() { delete Pki; }
};

// The settings of a row's Client, one by one.
void Apply(TSMTP& smtp, const std::string& key, const std::string& v, std::uint16_t port)
{
    const auto index = [&v](std::initializer_list<std::string_view> names) {
        return int(std::find(names.begin(), names.end(), v) - names.begin());
    };
    if (key == "security") smtp.SetSecurity(TSecurity(index({"auto", "none", "starttls", "tls"})));
    else if (key == "method") smtp.SetAuthMethod(TAuthMethod(index({"", "PLAIN", "LOGIN", "XOAUTH2", "OAUTHBEARER"})));
    else if (key == "user") smtp.SetUser(v);
    // What the user types; "<cancel>": the user cancels.
    else if (key == "pass") smtp.OnPassword = [v] { return v == "<cancel>" ? std::nullopt : std::optional(v); };
    else if (key == "command") smtp.SetPasswordCommand(v);
    else if (key == "timeout") smtp.SetTimeOut(std::stoi(v));
    else if (key == "ca") smtp.SetCAFile(v.empty() ? v : Pki->Path(v));
    else if (key == "trust") smtp.SetTrustedCertificates("localhost:" + std::to_string(port) + "=" + Pki->SelfFingerprint);
    else if (key == "host") smtp.SetServer(v + ":" + std::to_string(port));
    else if (key == "domain") smtp.SetUseDomainAddress(v == "yes");
    else if (key == "lines") for (int i = std::stoi(v); i > 0; --i) smtp.Body().Add(std::string(76, 'x'));
    // The user trusts the self-signed certificate when asked, and is asked once.
    else if (key == "ask") smtp.OnUntrustedCertificate = [&smtp, port](const TCertificateInfo& info) {
        return info.Host == "localhost" && info.Port == port && info.Problem == "unknown issuer"
               && info.Fingerprint == Pki->SelfFingerprint && smtp.TrustedCertificates().empty();
    };
    else if (key != "again") ADD_FAILURE() << "unknown setting " << key;   // again: a second session after the first
}

TEST_P(TlsTest, DeliversOrStopsBeforeAnythingLeaks)
{
    const Case& c = GetParam();
    ASSERT_TRUE(Pki->Ok) << "openssl could not make the test certificates";
    QStringList args;
    QString script = TESSALY_SOURCE_DIR "/tests/support/aiosmtpd_server.py";
    for (const QString& word : QString(c.Server).split(' ', Qt::SkipEmptyParts))
        word.endsWith(".py") ? void(script = TESSALY_SOURCE_DIR "/tests/mail/" + word)
        : word.contains('=') ? args.append(word)
        : word.endsWith("tls") ? args.append("mode=" + word)
        : args.append({"cert=" + Pki->Dir.filePath(word + ".pem"), "key=" + Pki->Dir.filePath(word + ".key")});
    TAiosmtpdServer server(args, script);
    ASSERT_TRUE(server.Running()) << server.Error();
    Smtp->SetServer("localhost:" + std::to_string(server.Port()));
    Smtp->SetFrom("me@example.org");
    Smtp->SetRecipient("you@example.net");
    Smtp->SetBody(TStrings{"Hello over TLS."});
    Smtp->SetSecurity(secSTARTTLS);
    Smtp->SetCAFile(Pki->Path("ca.pem"));
    std::string verdicts;
    Smtp->OnAuthResult = [&verdicts](bool accepted) { verdicts += accepted ? "accepted\n" : "refused\n"; };
    std::istringstream settings(c.Client);
    for (std::string item; std::getline(settings, item, ';');)
        Apply(*Smtp, item.substr(0, item.find('=')), item.substr(item.find('=') + 1), server.Port());
    std::string outcome = Session();
    if (std::string_view(c.Client).ends_with("again"))
        outcome += ", then " + Session();
    std::string expected = c.Outcome;
    if (const auto self = expected.find("SELF"); self != expected.npos)
        expected.replace(self, 4, Pki->SelfFingerprint);
    EXPECT_NE(outcome.find(expected), outcome.npos) << outcome << "\n" << Smtp->SessionLog().Text();
    EXPECT_EQ(server.Events() + verdicts, c.Events);
    const auto& log = Smtp->SessionLog();
    EXPECT_TRUE(c.LogLine.empty() || std::find(log.begin(), log.end(), c.LogLine) != log.end()) << log.Text();
    for (std::string_view line : log)   // the secrets never reach the log
        for (const char* secret : {"secret", "-token", "AGFsaWNl", "dXNlcj1", "bixhPWFsaWNl"})
            EXPECT_EQ(line.find(secret), line.npos) << line;
}

const std::string Sent = "MAIL SIZE\nDATA\n", Accepted = Sent + "accepted\n", NotTrusted = " is not trusted: ";
const char *const Auth = "starttls localhost auth=1", *const Pace = "security=none;timeout=1;lines=20000";

INSTANTIATE_TEST_SUITE_P(
    Cases, TlsTest,
    ::testing::Values(
        Case{"StartTlsAuthPlain", Auth, "user=alice;pass=secret", "ok", "AUTH PLAIN\n" + Accepted, "AUTH PLAIN ****"},
        Case{"StartTlsAuthLogin", Auth, "user=alice;method=LOGIN;pass=secret", "ok", "AUTH LOGIN\n" + Accepted, "****"},
        Case{"StartTlsXOAuth2", Auth, "user=alice;method=XOAUTH2;pass=good-token", "ok", "AUTH XOAUTH2\n" + Accepted},
        Case{"StartTlsOAuthBearer", Auth, "user=alice;method=OAUTHBEARER;pass=good-token", "ok",
             "AUTH OAUTHBEARER\n" + Accepted, "AUTH OAUTHBEARER ****"},
        // The server's error comes as a challenge; the client's answer (RFC 7628 3.2.3) ends the exchange.
        Case{"RefusedTokenShowsTheServersText", Auth, "user=alice;method=XOAUTH2;pass=old-token",
             "EAuthError: Authentication refused: 535 5.7.8 Token not accepted, answer b''",
             "AUTH XOAUTH2\nrefused\n"},
        Case{"RefusedBearerTokenAnsweredWithCtrlA", Auth, "user=alice;method=OAUTHBEARER;pass=old-token",
             "EAuthError: Authentication refused: 535 5.7.8 Token not accepted, answer b'\\x01'",
             "AUTH OAUTHBEARER\nrefused\n"},
        Case{"WrongPasswordShowsThe535Text", Auth, "user=alice;method=PLAIN;pass=wrong",
             "EAuthError: Authentication refused: 535 5.7.8 Authentication credentials invalid",
             "AUTH PLAIN\nrefused\n"},
        // 454 is temporary: the password is not called wrong.
        Case{"TemporaryRefusal", Auth, "user=busy;pass=secret",
             "EMailError: Authentication refused: 454 4.7.0 Temporary authentication failure", "AUTH PLAIN\n"},
        Case{"PasswordFromACommand", Auth, "user=alice;command=printf 'secret\\r\\nsecond line\\n'", "ok",
             "AUTH PLAIN\n" + Accepted},
        Case{"FailingPasswordCommand", Auth, "user=alice;command=echo locked >&2 && exit 3",
             "EMailError: The password command failed (exit status 3): locked"},
        Case{"PasswordCommandPrintingNothing", Auth, "user=alice;command=true",
             "EMailError: The password command printed no password"},
        Case{"PasswordCommandTimesOut", Auth, "user=alice;command=sleep 9;timeout=1",
             "ETimedOutError: Operation timed out"},
        Case{"NoWayToGetThePassword", Auth, "user=alice", "EMailError: No password for alice: set a password command"},
        Case{"PasswordPromptCanceled", Auth, "user=alice;pass=<cancel>", "ECanceledError: Operation has been canceled"},
        Case{"ServerWithoutAuth", "starttls localhost auth=none", "user=alice;pass=secret",
             "EMailError: The server localhost does not offer AUTH, so alice cannot log in"},
        Case{"ServerWithoutTheMechanism", "starttls localhost", "user=alice;pass=secret",
             "EMailError: The server localhost offers AUTH OAUTHBEARER XOAUTH2, not PLAIN or LOGIN"},
        Case{"ImplicitTls", "tls localhost auth=1", "security=tls;user=alice;pass=secret", "ok",
             "AUTH PLAIN\n" + Accepted},
        Case{"ServerOnIPv6Loopback", "starttls localhost host=::1", "host=[::1];domain=no", "ok", Sent,
             "EHLO [IPv6:::1]"},
        Case{"HostNameNotInTheCertificate", "starttls other.test", "", NotTrusted + "name mismatch. Its SHA-256"},
        Case{"ExpiredCertificate", "starttls localhost-expired", "", NotTrusted + "expired. Its SHA-256"},
        Case{"CertificateNotYetValid", "starttls localhost-future", "", NotTrusted + "not yet valid. Its"},
        Case{"CertificateForClientsOnly", "starttls localhost-client", "",
             NotTrusted + "unsuitable certificate purpose. Its"},
        Case{"UnknownIssuer", "starttls self", "ca=",
             NotTrusted + "unknown issuer. Its SHA-256 fingerprint is SELF; trust it"},
        Case{"UnreadableCAFile", "starttls localhost", "ca=missing.pem", "/missing.pem cannot be read: error:"},
        Case{"UnknownIssuerTrustedByFingerprint", "starttls self", "trust=self", "ok", Sent,
             "TLS: certificate not verified (unknown issuer) but trusted by its fingerprint"},
        // Trusted once by the user, then by the fingerprint kept.
        Case{"UnknownIssuerTrustedByTheUser", "starttls self", "ask=yes;again", "ok, then ok", Sent + Sent,
             "TLS: certificate not verified (unknown issuer) but trusted by its fingerprint"},
        // Auto without a login name: encrypted all the same, as opportunistic TLS.
        Case{"AutoEncryptsWithAnUnverifiedCertificate", "starttls self", "security=auto", "ok", Sent,
             "TLS: certificate not verified (unknown issuer): the session is encrypted, but the server is not "
             "authenticated"},
        Case{"StartTlsRequiredButNotOffered", "", "", "EMailError: The server localhost does not offer STARTTLS"},
        Case{"NoPasswordOverAPlainConnection", "auth_clear=1", "security=none;user=alice;pass=secret",
             "EMailError: The connection to localhost is not encrypted, so the password of alice was not sent"},
        Case{"MessageLargerThanTheServerTakes", "size=100000", "security=auto;lines=3000",
             "EMailError: The message is 236.1 kB; localhost accepts at most 100.0 kB"},
        // Time-outs that follow progress: 1.5 MB through a reader that takes 320 kB/s, so that every
        // wait, the one after "." included, lasts longer than TimeOut, but the data keeps moving.
        Case{"SlowButSteadyReader", "slow_reader.py mode=slow", Pace, "ok"},
        Case{"ReaderThatStops", "slow_reader.py mode=stall", Pace, "ETimedOutError: Operation timed out"},
        Case{"ResetDuringData", "slow_reader.py mode=reset", Pace, "ESocketError: Connection reset by peer"},
        Case{"ClosedAfter421DuringData", "slow_reader.py mode=421", Pace,
             "EMailError: 421 4.4.2 slow.test Error: timeout exceeded"}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- Cancel during the handshake, against a server that speaks no TLS -------

TEST_F(SMTPSessionTest, CancelDuringTheTlsHandshake)
{
    Serve({"S: 220 fake.test", "C: EHLO example.org", "S: 250-fake.test", "S: 250 STARTTLS", "C: STARTTLS",
           "S: 220 go ahead"});
    Smtp->SetFrom("me@example.org");
    Smtp->SetSecurity(secSTARTTLS);
    QTimer::singleShot(300, Smtp.get(), [this] { Smtp->Cancel(); });
    EXPECT_EQ(Session(), "ECanceledError: Operation has been canceled");
    PumpUntil([this] { return Server->ClientClosed(); });
    EXPECT_EQ(Server->Received(), (Lines{"EHLO example.org", "STARTTLS"}));   // nothing after the handshake began
}

// ---- every address of a host, in turn ---------------------------------------

// As if the look-up had found ::1 first, then 127.0.0.1.
class TTwoAddresses : public TSMTP {
public:
    void Open() override
    {
        TSMTP::Open();
        Close();
        FAddresses = {QHostAddress("::1"), QHostAddress("127.0.0.1")};
        CreateSocket();
    }
};

TEST(Addresses, TheNextIsTriedWhenOneRefuses)
{
    TFakeSMTPServer server({"S: 220 fake.test", "C: EHLO [127.0.0.1]", "S: 250 ok", "C: QUIT", "S: 221 bye"});
    for (const bool listening : {true, false}) {
        TTwoAddresses smtp;
        smtp.SetShowResult(false);
        smtp.SetUseDomainAddress(false);
        smtp.SetServer(listening ? server.Address() : "127.0.0.1:" + std::to_string(ClosedPort()));
        EXPECT_EQ(Outcome([&] {
                      smtp.Open();
                      smtp.Login();
                      smtp.Logout();
                  }),
                  listening ? "ok" : "ESocketError: Connection refused");
        smtp.Close();
    }
}

} // namespace
