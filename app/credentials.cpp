#include "credentials.h"

#include "dialogs.h"
#include "keyring.h"
#include "passworddlg.h"
#include "smtp.h"

#include <map>
#include <memory>
#include <set>
#include <sstream>

namespace {
enum class TSource { None, Session, Keyring, Dialog };

// The secret handed to one TSMTP for its current login, until the server
// says whether it took it.
struct TPending {
    std::string Key;
    std::string Secret;
    TSource Source = TSource::None;
    bool Remember = false;
};

// What the program remembers between runs in its life: secrets kept
// because there is no keyring, and accounts whose secret was refused.
struct TSessionSecrets {
    std::map<std::string, std::string> Kept;
    std::set<std::string> Refused;
};

TSessionSecrets& Session()
{
    static TSessionSecrets session;
    return session;
}

std::string AccountKey(const TSMTP& smtp)
{
    return smtp.User() + "@" + smtp.Server();
}

// The remembered secret of `key`, unless the server refused it last time.
std::optional<std::string> Remembered(const std::string& key, TSource& source)
{
    if (Session().Refused.count(key))
        return std::nullopt;
    if (const auto kept = Session().Kept.find(key); kept != Session().Kept.end()) {
        source = TSource::Session;
        return kept->second;
    }
    if (!Keyring().Available())
        return std::nullopt;
    source = TSource::Keyring;
    return Keyring().Read(key);
}

std::optional<std::string> AskPassword(const TSMTP& smtp, TPending& pending, QWidget* parent)
{
    pending = TPending{};
    pending.Key = AccountKey(smtp);
    if (auto secret = Remembered(pending.Key, pending.Source)) {
        pending.Secret = *secret;
        return secret;
    }
    TPasswordDlg dialog(parent);
    dialog.SetAccount(smtp.User(), smtp.Server(), Session().Refused.count(pending.Key) > 0);
    if (ExecDialog(dialog) != QDialog::Accepted) {
        pending = TPending{};
        return std::nullopt;
    }
    pending.Secret = dialog.Password();
    pending.Source = TSource::Dialog;
    pending.Remember = dialog.Remember();
    return pending.Secret;
}

void Remember(const TPending& pending)
{
    // Without a keyring the secret is kept for this run of the program
    // only; it never goes to a file.
    if (!Keyring().Available() || !Keyring().Write(pending.Key, pending.Secret))
        Session().Kept[pending.Key] = pending.Secret;
}

void AuthResult(TPending& pending, bool accepted)
{
    if (pending.Source == TSource::None)
        return;   // the secret came from PasswordCommand: nothing of ours
    if (accepted) {
        Session().Refused.erase(pending.Key);
        if (pending.Source == TSource::Dialog && pending.Remember)
            Remember(pending);
    } else {
        Session().Refused.insert(pending.Key);
        Session().Kept.erase(pending.Key);
        if (pending.Source == TSource::Keyring)
            Keyring().Forget(pending.Key);
    }
    pending = TPending{};
}
}

void AttachCredentials(TSMTP& smtp, QWidget* parent)
{
    auto pending = std::make_shared<TPending>();
    smtp.OnPassword = [&smtp, pending, parent] { return AskPassword(smtp, *pending, parent); };
    smtp.OnAuthResult = [pending](bool accepted) { AuthResult(*pending, accepted); };
    smtp.OnUntrustedCertificate = [&smtp, parent](const TCertificateInfo& info) { return AskTrust(smtp, info, parent); };
}

bool AskTrust(TSMTP& smtp, const TCertificateInfo& info, QWidget* parent)
{
    TTrustDlg dialog(info, parent);
    if (ExecDialog(dialog) != QDialog::Accepted)
        return false;
    const std::string hostPort = info.Host + ":" + std::to_string(info.Port);
    smtp.SetTrustedCertificates(WithTrusted(smtp.TrustedCertificates(), hostPort, info.Fingerprint));
    return true;
}

std::string WithTrusted(const std::string& trusted, const std::string& hostPort, const std::string& fingerprint)
{
    std::istringstream entries(trusted);
    std::string entry, result;
    while (entries >> entry)
        if (entry.rfind(hostPort + "=", 0) != 0)
            result += entry + " ";
    return result + hostPort + "=" + fingerprint;
}

void ForgetSessionSecrets()
{
    Session() = TSessionSecrets{};
}
