// The login secret (keyring, password dialog, forgetting a refused one) and
// the certificate-trust dialog, through the dialog and message-box seams.
#include "credentials.h"
#include "keyring.h"
#include "passworddlg.h"
#include "smtp.h"
#include "support_app.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryFile>

#include <map>

namespace {

struct TMemoryKeyring : TKeyring {
    bool Present = true;
    std::map<std::string, std::string> Secrets;
    int Calls = 0;
    bool Available() override { return Present; }
    std::optional<std::string> Read(const std::string& k) override { return ++Calls, Secrets.count(k) ? std::optional(Secrets[k]) : std::nullopt; }
    bool Write(const std::string& k, const std::string& secret) override { return ++Calls, Secrets[k] = secret, true; }
    void Forget(const std::string& k) override { ++Calls, Secrets.erase(k); }
};

// One login of a run: what the dialog gets typed (nullptr: no dialog may
// open; "" with Remember false: cancelled), whether it warns of a refusal,
// the server's answer and the secret the client must get (nullptr and
// nothing: the secret came from PasswordCommand, only the answer is told).
struct TLogin { const char* Typed; bool Remember, Warned, Accepted; std::optional<std::string> Got; };
// The keyring's presence and content before and after a run of logins.
struct TSecretCase { const char* Name; bool Keyring; std::optional<std::string> Stored; std::vector<TLogin> Logins;
                     std::optional<std::string> StoredAfter; };
const std::string kKey = "jo@mail.example.org";

class Secrets : public ::testing::TestWithParam<TSecretCase> {};

TEST_P(Secrets, ComeFromTheKeyringOrTheDialogAndARefusedOneIsForgotten)
{
    const TSecretCase& c = GetParam();
    auto* ring = new TMemoryKeyring;
    std::unique_ptr<TKeyring> old = SetKeyring(std::unique_ptr<TKeyring>(ring));
    ring->Present = c.Keyring, ForgetSessionSecrets();
    if (c.Stored)
        ring->Secrets[kKey] = *c.Stored;
    TSeams seams;
    TSMTP mailer;
    mailer.SetUser("jo"), mailer.SetServer("mail.example.org");
    AttachCredentials(mailer);
    for (const TLogin& login : c.Logins) {
        if (login.Typed)
            seams.Dialogs.push_back(TSeams::Drive<TPasswordDlg>([&](TPasswordDlg& d) {
                EXPECT_EQ(d.lblPrompt->text(), "Password for jo at mail.example.org:");
                EXPECT_EQ(!d.lblRefused->isHidden(), login.Warned) << d.lblRefused->text().toStdString();
                d.txtPassword->setText(login.Typed), d.chkRemember->setChecked(login.Remember);
                (*login.Typed || login.Remember ? d.OKBtn : d.CancelBtn)->click();
            }));
        EXPECT_EQ(login.Typed || login.Got ? mailer.OnPassword() : login.Got, login.Got);
        EXPECT_TRUE(seams.Dialogs.empty()) << "the dialog did not open";
        if (login.Got || !login.Typed)
            mailer.OnAuthResult(login.Accepted);
    }
    EXPECT_EQ(ring->Secrets.count(kKey) ? std::optional(ring->Secrets[kKey]) : std::nullopt, c.StoredAfter);
    EXPECT_TRUE(c.Keyring || ring->Calls == 0) << "no keyring: never asked";
    SetKeyring(std::move(old)), ForgetSessionSecrets();
}

const TSecretCase kSecretCases[] = {
    {"RememberedOnlyOnceAccepted", true, std::nullopt,
     {{"bad", true, false, false, "bad"}, {"pw", true, true, true, "pw"}, {nullptr, false, false, true, "pw"}}, "pw"},
    {"RefusedStoredSecretIsForgotten", true, "old",
     {{nullptr, false, false, false, "old"}, {"new", false, true, true, "new"}, {"again", false, false, true, "again"}},
     std::nullopt},
    {"CancelledDialog", true, std::nullopt, {{"", false, false, true, std::nullopt}}, std::nullopt},
    {"NoKeyringKeepsItForThisRunOnly", false, std::nullopt,
     {{"pw", true, false, true, "pw"}, {nullptr, false, false, false, "pw"}, {"pw2", false, true, true, "pw2"}},
     std::nullopt},
    {"PasswordCommandsRefusalLeavesTheKeyring", true, "kept",
     {{nullptr, false, false, false, std::nullopt}, {nullptr, false, false, true, "kept"}}, "kept"},
};
INSTANTIATE_TEST_SUITE_P(Credentials, Secrets, ::testing::ValuesIn(kSecretCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(Credentials, WithoutASessionBusOrAKeyringServiceTheDesktopKeyringAnswersAtOnce)
{
    const QByteArray bus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    TDesktopKeyring desktop;
    EXPECT_FALSE(desktop.Available() || desktop.Read(kKey) || desktop.Write(kKey, "pw")) << "no bus";
    // A bus of our own that starts no services, so nothing keeps secrets on it.
    QTemporaryFile config;
    ASSERT_TRUE(config.open() && config.write("<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>"
        "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
        "<allow own=\"*\"/></policy></busconfig>") > 0);
    config.flush();
    QProcess daemon;
    daemon.start("dbus-daemon", {"--config-file=" + config.fileName(), "--nofork", "--print-address=1"});
    ASSERT_TRUE(daemon.waitForReadyRead(5000)) << "dbus-daemon did not start";
    qputenv("DBUS_SESSION_BUS_ADDRESS", daemon.readLine().trimmed());
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(desktop.Available() && !desktop.Read(kKey) && !desktop.Write(kKey, "pw")) << "bus, no keyring";
    EXPECT_LT(clock.elapsed(), 2000) << "the keyring's absence must not be waited for";
    daemon.kill(), daemon.waitForFinished();
    bus.isEmpty() ? qunsetenv("DBUS_SESSION_BUS_ADDRESS") : qputenv("DBUS_SESSION_BUS_ADDRESS", bus);
}

// ---- certificate trust ------------------------------------------------------

TEST(Credentials, TrustDialogShowsTheProblemAndFingerprintAndTrustReplacesTheServersEntry)
{
    QString pairs = QString("A0:").repeated(31) + "FF";
    const TCertificateInfo info{"mail.example.org", 465, "unknown issuer", pairs.toStdString()};
    const std::string before = "other.org:465=11 mail.example.org:465=OLD";
    for (const bool trust : {false, true}) {
        TSeams seams;
        seams.Dialogs.push_back(TSeams::Drive<TTrustDlg>([&](TTrustDlg& d) {
            EXPECT_EQ(d.lblQuestion->text(), "Trust this certificate for mail.example.org?");
            EXPECT_EQ(d.lblProblem->text(), "The certificate of mail.example.org, port 465, did not verify: unknown issuer.");
            EXPECT_EQ(d.lblFingerprint->text(), "SHA-256 fingerprint:\n" + pairs.replace(47, 1, "\n"));
            QTest::keyClick(&d, Qt::Key_Return);
            EXPECT_EQ(d.result(), QDialog::Rejected) << "Enter must not trust";
            trust ? d.btnTrust->click() : void();
        }));
        TSMTP mailer;
        mailer.SetTrustedCertificates(before), AttachCredentials(mailer);
        EXPECT_EQ(mailer.OnUntrustedCertificate(info), trust);
        EXPECT_EQ(mailer.TrustedCertificates(), trust ? "other.org:465=11 mail.example.org:465=" + info.Fingerprint : before);
    }
}

}
