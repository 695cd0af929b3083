// Submission: EHLO and its capabilities, TLS (implicit, RFC 8314, or
// STARTTLS, RFC 3207) with the judgement of the server's certificate, SMTP
// AUTH (RFC 4954) with the secret from a command or the host, and the
// message size (RFC 1870).
#include "auth.h"
#include "smtp.h"
#include "tls.h"

#include <QProcess>

namespace {

// Well-known ports when the services database lacks the names (RFC 8314,
// RFC 6409).
constexpr std::uint16_t SubmissionsPort = 465;
constexpr std::uint16_t SubmissionPort = 587;
// What the header block and the part lines add to the text and the blocks
// in the size announced to the server: an estimate may be large, not small.
constexpr std::uint64_t HeaderAllowance = 2048;

std::string Joined(const std::vector<std::string>& words)
{
    std::string text;
    for (const std::string& word : words)
        text += (text.empty() ? "" : " ") + word;
    return text;
}

} // namespace

std::pair<std::string, std::uint16_t> TSMTP::ServiceAndFallback() const
{
    if (FSecurity == secTLS)
        return {"submissions", SubmissionsPort};
    if (FSecurity == secSTARTTLS)
        return {"submission", SubmissionPort};
    return TMailBase::ServiceAndFallback();
}

// ---- greeting ------------------------------------------------------------------

std::string TSMTP::GreetingName() const
{
    if (FUseDomainAddress) {
        CheckAddresses(true);
        const std::string address = SplitAddress(FFrom).first;
        const auto at = address.find('@');
        if (at != std::string::npos && at + 1 < address.size())
            return address.substr(at + 1);
    }
    // RFC 5321 4.1.4: without a domain name, the address literal of the client.
    return LocalAddressLiteral();
}

void TSMTP::Hello(const std::string& name)
{
    FCapabilities = {};
    SendLine("EHLO " + name);
    const TReply reply = ReceiveReply();
    if (reply.Code == 500 || reply.Code == 502) {   // RFC 5321 3.2: an old server
        LogReply(reply);
        SendCommand("HELO " + name);
        return;
    }
    CheckReply(reply);
    LogReply(reply);
    FCapabilities = ParseCapabilities(reply);
}

bool TSMTP::WantsStartTls() const
{
    if (FEncrypted || FSecurity == secNone || FSecurity == secTLS)
        return false;
    if (FSecurity == secSTARTTLS && !FCapabilities.StartTLS)
        throw EMailError("The server " + HostName() + " does not offer STARTTLS, which the Security setting asks for;"
                         " nothing more was sent");
    return FCapabilities.StartTLS;
}

// ---- TLS -----------------------------------------------------------------------

std::string TSMTP::ServerKey() const
{
    const std::string host = HostName();
    return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(FPort);
}

void TSMTP::EstablishTls()
{
    StartTls(FCAFile);
    FEncrypted = true;
    const std::string problem = FTls->Problem();
    FSessionLog.Add("TLS: " + FTls->Description() + (problem.empty() ? ", certificate verified" : ""));
    if (!problem.empty())
        JudgeCertificate(problem);
}

void TSMTP::JudgeCertificate(const std::string& problem)
{
    const TCertificateInfo info{HostName(), FPort, problem, FTls->Fingerprint()};
    const std::string key = ServerKey();
    if (IsTrustedCertificate(FTrustedCertificates, key, info.Fingerprint)) {
        FSessionLog.Add("TLS: certificate not verified (" + problem + ") but trusted by its fingerprint");
        return;
    }
    if (FSecurity == secAuto && FUser.empty()) {
        // Opportunistic TLS, as RFC 7435 has it: better than the clear.
        FSessionLog.Add("TLS: certificate not verified (" + problem
                        + "): the session is encrypted, but the server is not authenticated");
        return;
    }
    if (OnUntrustedCertificate && OnUntrustedCertificate(info)) {
        FTrustedCertificates += (FTrustedCertificates.empty() ? "" : " ") + key + "=" + info.Fingerprint;
        FSessionLog.Add("TLS: certificate not verified (" + problem + ") but trusted by the user");
        return;
    }
    Close();
    throw EMailError("The certificate of " + key + " is not trusted: " + problem + ". Its SHA-256 fingerprint is "
                     + info.Fingerprint + "; trust it only if the server's administrator confirms it");
}

// ---- AUTH ----------------------------------------------------------------------

void TSMTP::Authenticate()
{
    if (!FEncrypted)
        throw EMailError("The connection to " + HostName() + " is not encrypted, so the password of " + FUser
                         + " was not sent; choose STARTTLS or TLS as Security");
    const auto method = ChooseMechanism(FAuthMethod, FCapabilities.AuthMechanisms);
    if (!method) {
        if (FCapabilities.AuthMechanisms.empty())
            throw EMailError("The server " + HostName() + " does not offer AUTH, so " + FUser + " cannot log in");
        throw EMailError("The server " + HostName() + " offers AUTH " + Joined(FCapabilities.AuthMechanisms)
                         + ", not " + (FAuthMethod == amAuto ? std::string("PLAIN or LOGIN") : MechanismName(FAuthMethod)));
    }
    const TReply reply = RunMechanism(*method, Secret());
    if (reply.Code == 235) {
        LogReply(reply);
        if (OnAuthResult)
            OnAuthResult(true);
        return;
    }
    FTransferFailed = true;
    const std::string text = reply.Text();
    const std::string hint = RefusalHint(reply.Code, text);
    const std::string message = "Authentication refused: " + text + (hint.empty() ? "" : "\n" + hint);
    if (reply.Code < 500)
        throw EMailError(message, reply.Code);   // temporary: the secret may be right
    if (OnAuthResult)
        OnAuthResult(false);
    throw EAuthError(message, reply.Code);
}

TReply TSMTP::RunMechanism(TAuthMethod method, const std::string& secret)
{
    const std::string name = MechanismName(method);
    if (method == amLOGIN) {
        SendLine("AUTH LOGIN");
        TReply reply = ReceiveReply();
        if (reply.Code != 334)
            return reply;
        LogReply(reply);
        SendLine(Base64(FUser));
        if ((reply = ReceiveReply()).Code != 334)
            return reply;
        LogReply(reply);
        SendMasked(Base64(secret), "****");
        return ReceiveReply();
    }
    const std::string response = method == amPLAIN     ? PlainResponse(FUser, secret)
                                 : method == amXOAUTH2 ? XOAuth2Response(FUser, secret)
                                                       : OAuthBearerResponse(FUser, HostName(), FPort, secret);
    SendMasked("AUTH " + name + " " + response, "AUTH " + name + " ****");
    TReply reply = ReceiveReply();
    if (reply.Code == 334 && method != amPLAIN) {
        // A failed token: the server's 334 carries its error; the client
        // answers with an empty line (XOAUTH2) or ^A (RFC 7628 3.2.3).
        LogReply(reply);
        SendLine(method == amXOAUTH2 ? "" : Base64("\1"));
        reply = ReceiveReply();
    }
    return reply;
}

std::string TSMTP::Secret()
{
    if (!FPasswordCommand.empty())
        return RunPasswordCommand();
    if (!OnPassword)
        throw EMailError("No password for " + FUser + ": set a password command");
    const std::optional<std::string> secret = OnPassword();
    if (!secret) {
        Cancel();
        throw ECanceledError();
    }
    return *secret;
}

std::string TSMTP::RunPasswordCommand()
{
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    bool ended = false;
    connect(&process, &QProcess::finished, this, [&ended] { ended = true; });
    connect(&process, &QProcess::errorOccurred, this, [&ended](QProcess::ProcessError) { ended = true; });
    process.start("/bin/sh", {"-c", QString::fromStdString(FPasswordCommand)});
    StartTimeOut();
    WaitUntil([&] { return ended || FCanceled || FTimedOut; });
    StopTimeOut();
    process.disconnect(this);
    if (FCanceled)
        throw ECanceledError();
    if (FTimedOut)
        throw ETimedOutError();
    const std::string errors = process.readAllStandardError().trimmed().toStdString();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw EMailError("The password command failed (exit status " + std::to_string(process.exitCode()) + ")"
                         + (errors.empty() ? "" : ": " + errors.substr(0, errors.find('\n'))));
    std::string output = process.readAllStandardOutput().toStdString();
    output = output.substr(0, output.find('\n'));
    if (output.ends_with('\r'))
        output.pop_back();
    if (output.empty())
        throw EMailError("The password command printed no password");
    return output;
}

// ---- SIZE ------------------------------------------------------------------------

std::uint64_t TSMTP::EstimatedSize() const
{
    std::uint64_t size = HeaderAllowance;
    for (std::string_view line : FMessageText)
        size += line.size() + 2;
    for (const auto& block : FEncodedAttachments) {
        size += block->Bytes;
        for (const TStrings* part : {&block->Head, &block->Tail})
            for (std::string_view line : *part)
                size += line.size() + 2;
    }
    return size;
}

std::string TSMTP::MailParameters(std::uint64_t size) const
{
    return FCapabilities.SizeExtension ? " SIZE=" + std::to_string(size) : std::string();
}

void TSMTP::CheckSize(std::uint64_t size)
{
    if (FCapabilities.Size == 0 || size <= FCapabilities.Size)
        return;
    FTransferFailed = true;
    // 552: what the server would answer (RFC 1870 6.1), so the host treats
    // it as a lasting refusal.
    throw EMailError("The message is " + Megabytes(size) + "; " + HostName() + " accepts at most "
                     + Megabytes(FCapabilities.Size), 552);
}
