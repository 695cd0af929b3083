// Submission against Debian's aiosmtpd: STARTTLS and implicit TLS with a
// test CA and certificates made here with the openssl tool, the judgement
// of certificates, AUTH and the secret it needs, SIZE; Cancel during the
// handshake; every address of a host; time-outs that follow progress.
#include "aiosmtpd_server.h"
#include "smtp_session.h"

#include <QTimer>

#include <map>
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
const TTestPki* Pki = nullptr;

struct Case {
    const char* Name;
    const char* Server;    // options of aiosmtpd_server.py (the certificates from make_test_pki.sh)
    std::string Client;    // "key=value;..." (see Apply) on top of STARTTLS, the test CA, no user
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

// `text` with PORT and SELF replaced by the server's port and the self-signed certificate's fingerprint.
std::string Expand(std::string text, std::uint16_t port)
{
    const std::map<std::string, std::string> values = {{"PORT", std::to_string(port)}, {"SELF", Pki->SelfFingerprint}};
    for (const auto& [from, to] : values)
        for (std::size_t at; (at = text.find(from)) != text.npos;)
            text.replace(at, from.size(), to);
    return text;
}

// A setting of a row's Client. Like the application, a password prompt
// comes with a handler of the verdict, recorded in `verdicts`.
void Apply(TSMTP& smtp, const std::string& key, const std::string& v, std::string& verdicts)
{
    const auto index = [&v](std::initializer_list<std::string_view> names) {
        return int(std::find(names.begin(), names.end(), v) - names.begin());
    };
    if (key == "security") smtp.SetSecurity(TSecurity(index({"auto", "none", "starttls", "tls"})));
    else if (key == "method") smtp.SetAuthMethod(TAuthMethod(index({"", "PLAIN", "LOGIN", "XOAUTH2", "OAUTHBEARER"})));
    else if (key == "user") smtp.SetUser(v);
    else if (key == "pass") {   // what the user types; "<cancel>": the user cancels
        smtp.OnPassword = [v] { return v == "<cancel>" ? std::nullopt : std::optional(v); };
        smtp.OnAuthResult = [&verdicts](bool accepted) { verdicts += accepted ? "accepted\n" : "refused\n"; };
    }
    else if (key == "command") smtp.SetPasswordCommand(v);
    else if (key == "timeout") smtp.SetTimeOut(std::stoi(v));
    else if (key == "ca") smtp.SetCAFile(v.empty() ? v : Pki->Path(v));
    else if (key == "server") smtp.SetServer(v);
    else if (key == "domain") smtp.SetUseDomainAddress(v == "yes");
    else if (key == "lines") for (int i = std::stoi(v); i > 0; --i) smtp.Body().Add(std::string(76, 'x'));
    // The user trusts the self-signed certificate when asked, and is asked once.
    else if (key == "ask") smtp.OnUntrustedCertificate = [&smtp, v](const TCertificateInfo& info) {
        return info.Host + ":" + std::to_string(info.Port) == v && info.Problem == "unknown issuer"
               && info.Fingerprint == Pki->SelfFingerprint && smtp.TrustedCertificates().empty();
    };
    else if (key != "again") ADD_FAILURE() << "unknown setting " << key;   // again: a second session after the first
}

TEST_P(TlsTest, DeliversOrStopsBeforeAnythingLeaks)
{
    const Case& c = GetParam();
    ASSERT_TRUE(Pki->Ok) << "openssl could not make the test certificates";
    TAiosmtpdServer server(QString(c.Server).split(' ', Qt::SkipEmptyParts) << "pki=" + Pki->Dir.path());
    ASSERT_TRUE(server.Running()) << server.Error();
    Smtp->SetFrom("me@example.org");
    Smtp->SetRecipient("you@example.net");
    std::string verdicts;
    std::istringstream settings(Expand("server=localhost:PORT;security=starttls;ca=ca.pem;" + c.Client, server.Port()));
    for (std::string item; std::getline(settings, item, ';');)
        Apply(*Smtp, item.substr(0, item.find('=')), item.substr(item.find('=') + 1), verdicts);
    std::string outcome = Session();
    if (c.Client.ends_with("again"))
        outcome += ", then " + Session();
    const auto& log = Smtp->SessionLog();
    EXPECT_NE(outcome.find(Expand(c.Outcome, server.Port())), outcome.npos) << outcome << "\n" << log.Text();
    EXPECT_EQ(server.Events() + verdicts, c.Events);
    EXPECT_TRUE(c.LogLine.empty() || std::find(log.begin(), log.end(), c.LogLine) != log.end()) << log.Text();
    for (std::string_view line : log)   // the secrets never reach the log
        for (const char* secret : {"secret", "-token", "AGFsaWNl", "dXNlcj1", "bixhPWFsaWNl"})
            EXPECT_EQ(line.find(secret), line.npos) << line;
}

const std::string Sent = "MAIL SIZE\nDATA\n", Accepted = Sent + "accepted\n", NotTrusted = " is not trusted: ",
                  Refused = "EAuthError: Authentication refused: 535 5.7.8 ", Alice = "user=alice;",
                  Pass = Alice + "pass=secret", Pace = "security=none;timeout=1;lines=20000";
const char *const Auth = "starttls localhost auth=1", *const Tls = "starttls localhost", *const Self = "starttls self";

INSTANTIATE_TEST_SUITE_P(
    Cases, TlsTest,
    ::testing::Values(
        Case{"StartTlsAuthPlain", Auth, Pass, "ok", "AUTH PLAIN\n" + Accepted, "AUTH PLAIN ****"},
        Case{"StartTlsAuthLogin", Auth, Pass + ";method=LOGIN", "ok", "AUTH LOGIN\n" + Accepted, "****"},
        Case{"StartTlsXOAuth2", Auth, Alice + "method=XOAUTH2;pass=good-token", "ok", "AUTH XOAUTH2\n" + Accepted},
        Case{"OAuthBearer", Auth, Alice + "method=OAUTHBEARER;pass=good-token", "ok", "AUTH OAUTHBEARER\n" + Accepted},
        // The server's error comes as a challenge; the client's answer (RFC 7628 3.2.3) ends the exchange.
        Case{"RefusedTokenShowsTheServersText", Auth, Alice + "method=XOAUTH2;pass=old-token",
             Refused + "Token not accepted, answer b''", "AUTH XOAUTH2\nrefused\n"},
        Case{"RefusedBearerTokenAnsweredWithCtrlA", Auth, Alice + "method=OAUTHBEARER;pass=old-token",
             Refused + "Token not accepted, answer b'\\x01'", "AUTH OAUTHBEARER\nrefused\n"},
        Case{"WrongPasswordShowsThe535Text", Auth, Alice + "command=echo wrong", Refused + "Authentication credentials",
             "AUTH PLAIN\n"},
        // 454 is temporary: the password is not called wrong.
        Case{"TemporaryRefusal", Auth, "user=busy;pass=x", "EMailError: Authentication refused: 454 4.7.0 Try again",
             "AUTH PLAIN\n"},
        // A refusal that names its remedy comes with a hint.
        Case{"RefusalWithAHint", Auth, "user=app;pass=x", "EAuthError: Authentication refused: 534 5.7.9 Application-"
             "specific password required\nThe server wants an app password: make one", "AUTH PLAIN\nrefused\n"},
        Case{"PasswordFromACommand", Auth, Alice + "command=printf 'secret\\r\\nmore'", "ok", "AUTH PLAIN\n" + Sent},
        Case{"FailingPasswordCommand", Auth, Alice + "command=echo locked >&2 && exit 3", "(exit status 3): locked"},
        Case{"PasswordCommandPrintingNothing", Auth, Alice + "command=true", "password command printed no password"},
        Case{"PasswordCommandHangs", Auth, Alice + "command=sleep 9;timeout=1", "ETimedOutError: Operation timed out"},
        Case{"NoWayToGetThePassword", Auth, "user=alice", "EMailError: No password for alice: set a password command"},
        Case{"PasswordPromptCanceled", Auth, Alice + "pass=<cancel>", "ECanceledError: Operation has been canceled"},
        Case{"ServerWithoutAuth", "starttls localhost auth=none", Pass, "does not offer AUTH, so alice cannot log in"},
        Case{"ServerWithoutTheMechanism", Tls, Pass, "localhost offers AUTH OAUTHBEARER XOAUTH2, not PLAIN or LOGIN"},
        Case{"ImplicitTls", "tls localhost auth=1", "security=tls;" + Pass, "ok", "AUTH PLAIN\n" + Accepted},
        Case{"ServerOnIPv6Loopback", "starttls localhost host=::1", "server=[::1]:PORT;domain=no", "ok", Sent,
             "EHLO [IPv6:::1]"},
        // The address is not in the certificate (its names are checked before its dates).
        Case{"AddressNotInTheCertificate", "starttls localhost-expired", "server=127.0.0.1:PORT",
             NotTrusted + "name mismatch. Its SHA-256"},
        Case{"ExpiredCertificate", "starttls localhost-expired", "", NotTrusted + "expired. Its SHA-256"},
        Case{"CertificateNotYetValid", "starttls localhost-future", "", NotTrusted + "not yet valid. Its"},
        Case{"UnknownIssuer", Self, "ca=", "EMailError: The certificate of localhost:PORT is not trusted: unknown "
             "issuer. Its SHA-256 fingerprint is SELF; trust it only if the server's administrator confirms it"},
        Case{"UnreadableCAFile", Tls, "ca=missing.pem", "/missing.pem cannot be read: error:"},
        // Trusted once by the user, then by the fingerprint kept.
        Case{"UnknownIssuerTrustedByTheUser", Self, "ask=localhost:PORT;again", "ok, then ok", Sent + Sent,
             "TLS: certificate not verified (unknown issuer) but trusted by its fingerprint"},
        // Auto without a login name: encrypted all the same, as opportunistic TLS.
        Case{"AutoEncryptsWithAnUnverifiedCertificate", Self, "security=auto", "ok", Sent, "TLS: certificate not "
             "verified (unknown issuer): the session is encrypted, but the server is not authenticated"},
        Case{"StartTlsRequiredButNotOffered", "", "", "EMailError: The server localhost does not offer STARTTLS"},
        Case{"NoPasswordOverAPlainConnection", "auth=clear", "security=none;" + Pass,
             "The connection to localhost is not encrypted, so the password of alice was not sent"},
        Case{"MessageLargerThanTheServerTakes", "size=100000", "security=auto;lines=3000",
             "The message is 236.0 kB; localhost accepts at most 100.0 kB"},
        // Time-outs that follow progress: 1.5 MB through a reader that takes 320 kB/s, so that every
        // wait, the one after "." included, lasts longer than TimeOut, but the data keeps moving;
        // and a reader that resets the connection in the middle.
        Case{"SlowButSteadyReader", "pace=slow", Pace, "ok", Sent},
        Case{"ResetDuringData", "pace=reset", Pace, "ESocketError: Connection reset by peer", "MAIL SIZE\n"}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- Cancel during the handshake, against a server that speaks no TLS -------

TEST_F(SMTPSessionTest, CancelDuringTheTlsHandshake)
{
    Serve({"S: 220 fake.test", "C: EHLO", "S: 250-fake.test", "S: 250 STARTTLS", "C: STARTTLS", "S: 220 go ahead"});
    Smtp->SetFrom("me@example.org");
    Smtp->SetSecurity(secSTARTTLS);
    QTimer::singleShot(300, Smtp.get(), [this] { Smtp->Cancel(); });
    EXPECT_EQ(Session(), "ECanceledError: Operation has been canceled");
    PumpUntil([this] { return Server->ClientClosed(); });
    EXPECT_EQ(Server->Received(), (Lines{"EHLO example.org", "STARTTLS"}));   // nothing after the handshake began
}

// ---- every address of a host, in turn ---------------------------------------

// As if the look-up had found ::1 first, then 127.0.0.1.
struct TTwoAddresses : TSMTP {
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
        const std::string outcome = Outcome([&] { smtp.Open(); smtp.Login(); smtp.Logout(); });
        EXPECT_EQ(outcome, listening ? "ok" : "ESocketError: Connection refused");
        smtp.Close();
    }
}

} // namespace
