// Submission against Debian's aiosmtpd: STARTTLS and implicit TLS with a
// test CA and certificates made here with the openssl tool, the judgement
// of certificates, AUTH, SIZE; Cancel during the handshake; every address
// of a host; time-outs that follow a slow reader's progress.
#include "aiosmtpd_server.h"
#include "smtp_session.h"

#include <QProcess>
#include <QTimer>

namespace {

// The certificates of make_test_pki.sh, made once for the program.
struct TTestPki {
    QTemporaryDir Dir;
    std::string Path(const char* name) const { return Dir.filePath(name).toStdString(); }
    std::string SelfFingerprint;
    bool Ok = QProcess::execute("/bin/sh", {TESSALY_SOURCE_DIR "/tests/mail/make_test_pki.sh", Dir.path()}) == 0;
    TTestPki() { std::ifstream(Path("self.fp")) >> SelfFingerprint; }
};

TTestPki* Pki = nullptr;

struct TlsCase {
    const char* Name;
    QStringList Server;                                      // after mode and certificate
    std::function<void(TSMTP&, std::uint16_t port)> Setup;   // on top of STARTTLS, the test CA, no user
    std::string Outcome;                                     // "ok", or a part of the failure
    std::string Events;                                      // what the server saw
    std::string LogLine = {};                                // a line the session log must hold
};

class TlsTest : public SMTPSessionTest, public ::testing::WithParamInterface<TlsCase> {
public:
    static void SetUpTestSuite() { Pki = new TTestPki; }
    static void TearDownTestSuite() { delete Pki; }
};

TEST_P(TlsTest, DeliversOrStopsBeforeAnythingLeaks)
{
    const TlsCase& c = GetParam();
    ASSERT_TRUE(Pki->Ok) << "openssl could not make the test certificates";
    QStringList args = c.Server;
    for (QString& arg : args)
        arg.replace("PKI/", Pki->Dir.path() + "/");
    TAiosmtpdServer server(args);
    ASSERT_TRUE(server.Running()) << server.Error();
    Smtp->SetServer("localhost:" + std::to_string(server.Port()));
    Smtp->SetFrom("me@example.org");
    Smtp->SetRecipient("you@example.net");
    Smtp->SetBody(TStrings{"Hello over TLS."});
    Smtp->SetSecurity(secSTARTTLS);
    Smtp->SetCAFile(Pki->Path("ca.pem"));
    c.Setup(*Smtp, server.Port());
    const std::string outcome = Session();
    EXPECT_NE(outcome.find(c.Outcome), outcome.npos) << outcome << "\n" << Smtp->SessionLog().Text();
    EXPECT_EQ(server.Events(), c.Events);
    const auto& log = Smtp->SessionLog();
    if (!c.LogLine.empty()) {
        EXPECT_NE(std::find(log.begin(), log.end(), c.LogLine), log.end()) << c.LogLine;
    }
    for (std::string_view line : log)   // the secrets never reach the log
        EXPECT_TRUE(line.find("secret") == line.npos && line.find("AGFsaWNl") == line.npos) << line;
}

auto Login(TAuthMethod method, const char* secret = "secret", TSecurity security = secSTARTTLS)
{
    return [=](TSMTP& smtp, std::uint16_t) {
        smtp.SetSecurity(security);
        smtp.SetUser("alice");
        smtp.SetAuthMethod(method);
        smtp.OnPassword = [secret] { return std::optional<std::string>(secret); };
    };
}
auto Settings(std::function<void(TSMTP&)> change)
{
    return [=](TSMTP& smtp, std::uint16_t) { change(smtp); };
}

const QStringList StartTls = {"mode=starttls", "cert=PKI/localhost.pem", "key=PKI/localhost.key"};
const QStringList StartTlsAuth = StartTls + QStringList{"auth=1"};
const QStringList SelfSigned = {"mode=starttls", "cert=PKI/self.pem", "key=PKI/self.key"};
const std::string Sent = "MAIL SIZE\nDATA\n";
const std::string Mismatch = "is not trusted: name mismatch. Its SHA-256 fingerprint is ";
const std::string UnknownIssuer = "is not trusted: unknown issuer. Its SHA-256 fingerprint is ";

INSTANTIATE_TEST_SUITE_P(
    Cases, TlsTest,
    ::testing::Values(
        TlsCase{"StartTlsAuthPlain", StartTlsAuth, Login(amAuto), "ok", "AUTH PLAIN\n" + Sent, "AUTH PLAIN ****"},
        TlsCase{"StartTlsAuthLogin", StartTlsAuth, Login(amLOGIN), "ok", "AUTH LOGIN\n" + Sent, "****"},
        TlsCase{"StartTlsXOAuth2", StartTlsAuth, Login(amXOAUTH2, "good-token"), "ok", "AUTH XOAUTH2\n" + Sent,
                "AUTH XOAUTH2 ****"},
        TlsCase{"RefusedTokenShowsTheServersText", StartTlsAuth, Login(amXOAUTH2, "old-token"),
                "EAuthError: Authentication refused: 535 5.7.8 Username and Password not accepted", "AUTH XOAUTH2\n"},
        TlsCase{"WrongPasswordShowsThe535Text", StartTlsAuth, Login(amPLAIN, "wrong"),
                "EAuthError: Authentication refused: 535 5.7.8 Authentication credentials invalid", "AUTH PLAIN\n"},
        TlsCase{"PasswordFromACommand", StartTlsAuth,
                Settings([](TSMTP& smtp) {
                    smtp.SetUser("alice");
                    smtp.SetPasswordCommand("printf 'secret\\nsecond line\\n'");
                }),
                "ok", "AUTH PLAIN\n" + Sent},
        TlsCase{"FailingPasswordCommand", StartTlsAuth,
                Settings([](TSMTP& smtp) {
                    smtp.SetUser("alice");
                    smtp.SetPasswordCommand("echo locked >&2; exit 3");
                }),
                "EMailError: The password command failed (exit status 3): locked", ""},
        TlsCase{"ImplicitTls", {"mode=tls", "cert=PKI/localhost.pem", "key=PKI/localhost.key", "auth=1"},
                Login(amAuto, "secret", secTLS), "ok", "AUTH PLAIN\n" + Sent},
        TlsCase{"ServerOnIPv6Loopback", StartTls + QStringList{"host=::1"},
                [](TSMTP& smtp, std::uint16_t port) { smtp.SetServer("[::1]:" + std::to_string(port)); }, "ok", Sent,
                "250 OK"},
        TlsCase{"HostNameNotInTheCertificate", {"mode=starttls", "cert=PKI/other.test.pem", "key=PKI/other.test.key"},
                Settings([](TSMTP&) {}), Mismatch, ""},
        TlsCase{"UnknownIssuer", SelfSigned, Settings([](TSMTP& smtp) { smtp.SetCAFile(""); }), UnknownIssuer, ""},
        TlsCase{"UnknownIssuerTrustedByFingerprint", SelfSigned,
                [](TSMTP& smtp, std::uint16_t port) {
                    smtp.SetTrustedCertificates("localhost:" + std::to_string(port) + "=" + Pki->SelfFingerprint);
                },
                "ok", Sent},
        TlsCase{"UnknownIssuerTrustedByTheUser", SelfSigned,
                Settings([](TSMTP& smtp) {
                    smtp.OnUntrustedCertificate = [&smtp](const TCertificateInfo& info) {
                        return info.Problem == "unknown issuer" && info.Fingerprint == Pki->SelfFingerprint
                               && smtp.TrustedCertificates().empty();
                    };
                }),
                "ok", Sent},
        // Auto without a login name: encrypted all the same, as opportunistic TLS.
        TlsCase{"AutoEncryptsWithAnUnverifiedCertificate", SelfSigned,
                Settings([](TSMTP& smtp) { smtp.SetSecurity(secAuto); }), "ok", Sent,
                "TLS: certificate not verified (unknown issuer): the session is encrypted, but the server is not "
                "authenticated"},
        TlsCase{"StartTlsRequiredButNotOffered", {}, Settings([](TSMTP&) {}),
                "EMailError: The server localhost does not offer STARTTLS", ""},
        TlsCase{"NoPasswordOverAPlainConnection", {"auth_clear=1"}, Login(amAuto, "secret", secNone),
                "EMailError: The connection to localhost is not encrypted, so the password of alice was not sent", ""},
        TlsCase{"MessageLargerThanTheServerTakes", {"size=100000"},
                Settings([](TSMTP& smtp) {
                    smtp.SetSecurity(secAuto);
                    TStrings body;
                    for (int i = 0; i < 3000; ++i)
                        body.Add(std::string(98, 'x'));
                    smtp.SetBody(body);
                }),
                "EMailError: The message is 302.0 kB; localhost accepts at most 100.0 kB", ""}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- Cancel during the handshake, against a server that speaks no TLS -------

TEST_F(SMTPSessionTest, CancelDuringTheTlsHandshake)
{
    const Lines steps = {"S: 220 fake.test", "C: EHLO example.org", "S: 250-fake.test", "S: 250 STARTTLS",
                         "C: STARTTLS", "S: 220 go ahead"};
    Serve(steps);
    Smtp->SetFrom("me@example.org");
    Smtp->SetSecurity(secSTARTTLS);
    QTimer::singleShot(300, Smtp.get(), [this] { Smtp->Cancel(); });
    EXPECT_EQ(Session(), "ECanceledError: Operation has been canceled");
    PumpUntil([this] { return Server->ClientClosed(); });
    EXPECT_EQ(Server->Received(), (std::vector<std::string>{"EHLO example.org", "STARTTLS"}));   // nothing after the handshake began
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
        smtp.SetServer("localhost:" + std::to_string(listening ? std::stoi(server.Address().substr(10))
                                                               : ClosedPort()));
        EXPECT_EQ(Outcome([&] {
                      smtp.Open();
                      smtp.Login();
                      smtp.Logout();
                  }),
                  listening ? "ok" : "ESocketError: Connection refused");
        smtp.Close();
    }
}

// ---- time-outs that follow progress -------------------------------------------

struct PaceCase {
    const char* Name;
    const char* Mode;   // of slow_reader.py
    std::string Outcome;
};
class PaceTest : public SMTPSessionTest, public ::testing::WithParamInterface<PaceCase> {};

// 1.5 MB through a reader that takes 320 kB/s: every wait, the one after
// "." included, lasts longer than TimeOut, but the data keeps moving.
TEST_P(PaceTest, TimesOutOnlyWithoutProgress)
{
    TAiosmtpdServer server({GetParam().Mode}, TESSALY_SOURCE_DIR "/tests/mail/slow_reader.py");
    ASSERT_TRUE(server.Running()) << server.Error();
    Smtp->SetServer(server.Address());
    Smtp->SetFrom("me@example.org");
    Smtp->SetRecipient("you@example.net");
    Smtp->SetTimeOut(1);
    TStrings body;
    for (int i = 0; i < 20000; ++i)
        body.Add(std::string(76, 'p'));
    Smtp->SetBody(body);
    EXPECT_EQ(Session(), GetParam().Outcome);
}
INSTANTIATE_TEST_SUITE_P(Cases, PaceTest,
                         ::testing::Values(PaceCase{"SlowButSteadyReader", "slow", "ok"},
                                           PaceCase{"ReaderThatStops", "stall", "ETimedOutError: Operation timed out"},
                                           PaceCase{"ResetDuringData", "reset",
                                                    "ESocketError: Connection reset by peer"},
                                           PaceCase{"ClosedAfter421DuringData", "421",
                                                    "EMailError: 421 4.4.2 slow.test Error: timeout exceeded"}),
                         [](const auto& info) { return std::string(info.param.Name); });

} // namespace
