#include "options.h"

#include "mailbase.h"
#include "mailingrun.h"
#include "settings.h"
#include "settingspath.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

constexpr const char* kGuiProgram = "tessaly";
// A SHA-256 fingerprint is 32 bytes, written as 64 hex digits.
constexpr std::size_t kFingerprintDigits = 64;

const char* const kDescription =
    "Sends FILE... as attachments of one message (or one message per file) to an SMTP server.\n"
    "Addresses take the form ADDRESS or ADDRESS|DISPLAY NAME. Server, sender, port, time-out,\n"
    "encoding, character set, log file and login come from the settings file of Tessaly\n"
    "(its Setup dialog) unless an option names them.";

const char* const kEpilogue = R"(
Exit status (sysexits.h):
  0   every message was sent
  64  bad usage: unknown option, bad value, no --to, no server or sender
  66  a file to attach, the text file or the settings file is missing or unreadable
  68  the server's host name is unknown
  69  the server refused (5xx reply)
  75  temporary failure: 4xx reply, time-out, connection refused or lost
  76  protocol error: a reply the client cannot understand
  77  the server refused the login

Examples:
  tessaly-send --to boss@example.com report.pdf
      uses the server and sender of Tessaly's Setup
  tessaly-send --server smtp.example.com:587 --security starttls --user me \
      --password-command 'pass show mail' --from me@example.com \
      --to a@example.org --to b@example.org --subject "Minutes" --body-file - < minutes.txt
  tessaly-send --server [::1]:2525 --from me@example.com --to 'ops@example.com|Operations' \
      --one-file-per-message --progress *.log
)";

struct TChoice {
    const char* Name;
    int Value;
};

const TChoice kEncodings[] = {{"mime", etMIME}, {"uu", etUU}};
const TChoice kCharSets[] = {{"us-ascii", csUSASCII}, {"iso-8859-1", csISO8859}, {"utf-8", csUTF8}};
const TChoice kSecurities[] = {{"auto", secAuto}, {"none", secNone}, {"starttls", secSTARTTLS}, {"tls", secTLS}};
const TChoice kAuthMethods[] = {{"auto", amAuto}, {"plain", amPLAIN}, {"login", amLOGIN},
                                {"xoauth2", amXOAUTH2}, {"oauthbearer", amOAUTHBEARER}};

template <std::size_t N>
int Choose(const QCommandLineParser& parser, const char* option, const TChoice (&choices)[N])
{
    const std::string value = parser.value(option).toLower().toStdString();
    std::string names;
    for (const TChoice& choice : choices) {
        if (value == choice.Name)
            return choice.Value;
        names += names.empty() ? choice.Name : std::string("|") + choice.Name;
    }
    throw ESendUsage(std::string("--") + option + " takes " + names + ", not \"" + value + "\"");
}

std::optional<std::string> Optional(const QCommandLineParser& parser, const char* option)
{
    if (!parser.isSet(option))
        return std::nullopt;
    return parser.value(option).toStdString();
}

std::vector<std::string> Values(const QCommandLineParser& parser, const char* option)
{
    std::vector<std::string> values;
    for (const QString& value : parser.values(option))
        values.push_back(value.toStdString());
    return values;
}

void AddOptions(QCommandLineParser& parser)
{
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    parser.addOptions({
        {{"h", "help"}, "Show this help."},
        {"help-all", "Show this help (every option is listed here)."},
        {{"V", "version"}, "Show the version."},
        {"settings", "Read server, sender and options from FILE (default: Tessaly's own settings).", "FILE"},
        {"server", "SMTP server; the port is 25 (or the Setup's) unless given.", "HOST[:PORT]|[V6]:PORT"},
        {"from", "Sender (required unless the settings name one).", "ADDR[|NAME]"},
        {"to", "Recipient; repeat for more (required).", "ADDR[|NAME]"},
        {"cc", "Copy recipient; may be repeated.", "ADDR[|NAME]"},
        {"bcc", "Blind-copy recipient; may be repeated.", "ADDR[|NAME]"},
        {"subject", "Subject.", "TEXT"},
        {"body-file", "Message text from FILE; \"-\" reads standard input.", "FILE"},
        {"encoding", "How files are carried: mime (default) or uu.", "mime|uu"},
        {"charset", "Character set of the text (default us-ascii).", "us-ascii|iso-8859-1|utf-8"},
        {"one-file-per-message", "Send one message per file."},
        {"timeout", "Seconds allowed for each wait, 1 or more (default 60).", "SECONDS"},
        {"log", "Write the dialogue with the server to FILE.", "FILE"},
        {"progress", "Draw a progress line (only on a terminal)."},
        {"security", "TLS: auto (default), none, starttls (RFC 3207) or tls (implicit).", "auto|none|starttls|tls"},
        {"user", "Log in as NAME (RFC 4954).", "NAME"},
        {"auth", "Login mechanism (default auto).", "auto|plain|login|xoauth2|oauthbearer"},
        {"password-command", "Run CMD with /bin/sh; its first output line is the password or token.", "CMD"},
        {"ca-file", "Also trust the certificate authorities in FILE (PEM).", "FILE"},
        {"tls-fingerprint", "Trust the server's certificate with this SHA-256 (hex, colons allowed).", "SHA256"},
    });
    parser.addPositionalArgument("FILE", "Files to attach.", "[FILE...]");
}

int ParseTimeOut(const QCommandLineParser& parser)
{
    bool ok = false;
    const int seconds = parser.value("timeout").toInt(&ok);
    // A wait of no time at all would fail every session at its first reply.
    if (!ok || seconds < 1)
        throw ESendUsage("--timeout takes a whole number of seconds, 1 or more");
    return seconds;
}

std::string CheckedFingerprint(const std::string& text)
{
    std::string hex;
    for (char c : text) {
        if (c == ':')
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            throw ESendUsage("--tls-fingerprint takes 64 hex digits (colons allowed)");
        hex += char(std::toupper(static_cast<unsigned char>(c)));
    }
    if (hex.size() != kFingerprintDigits)
        throw ESendUsage("--tls-fingerprint takes 64 hex digits (colons allowed)");
    return hex;
}

void CheckReadable(const std::string& path, const char* what)
{
    const QFileInfo info(QString::fromStdString(path));
    if (!info.isFile() || !info.isReadable())
        throw ESendUsage(std::string(what) + " is missing or unreadable: " + path, exNoInput);
}

void ReadChoices(const QCommandLineParser& parser, TSendOptions& o)
{
    if (parser.isSet("encoding"))
        o.Encoding = TEncoding(Choose(parser, "encoding", kEncodings));
    if (parser.isSet("charset"))
        o.CharSet = TCharSet(Choose(parser, "charset", kCharSets));
    if (parser.isSet("security"))
        o.Security = TSecurity(Choose(parser, "security", kSecurities));
    if (parser.isSet("auth"))
        o.AuthMethod = TAuthMethod(Choose(parser, "auth", kAuthMethods));
    if (parser.isSet("timeout"))
        o.TimeOut = ParseTimeOut(parser);
}

void ReadValues(const QCommandLineParser& parser, TSendOptions& o)
{
    o.SettingsFile = Optional(parser, "settings");
    o.Server = Optional(parser, "server");
    if (o.Server)
        ParseServerName(*o.Server);
    o.From = Optional(parser, "from");
    o.To = Values(parser, "to");
    o.CC = Values(parser, "cc");
    o.BCC = Values(parser, "bcc");
    o.Subject = parser.value("subject").toStdString();
    o.BodyFile = Optional(parser, "body-file");
    o.Log = Optional(parser, "log");
    o.User = Optional(parser, "user");
    o.PasswordCommand = Optional(parser, "password-command");
    o.CAFile = Optional(parser, "ca-file");
    if (parser.isSet("tls-fingerprint"))
        o.Fingerprint = CheckedFingerprint(parser.value("tls-fingerprint").toStdString());
    o.OneFilePerMessage = parser.isSet("one-file-per-message");
    o.Progress = parser.isSet("progress");
}

void CheckInputs(const TSendOptions& o)
{
    if (o.SettingsFile)
        CheckReadable(*o.SettingsFile, "Settings file");
    if (o.CAFile)
        CheckReadable(*o.CAFile, "CA file");
    if (o.BodyFile && *o.BodyFile != "-")
        CheckReadable(*o.BodyFile, "Text file");
    for (std::string_view file : o.Files)
        CheckReadable(std::string(file), "File");
}

std::string ReadAll(const std::string& path, std::istream& input)
{
    if (path == "-")
        return std::string(std::istreambuf_iterator<char>(input), std::istreambuf_iterator<char>());
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    if (!file || !(text << file.rdbuf()) || file.bad())
        throw ESendUsage("Text file is missing or unreadable: " + path, exNoInput);
    return text.str();
}

void SetOptional(const std::optional<std::string>& value, TSMTP& smtp, void (TSMTP::*set)(const std::string&))
{
    if (value)
        (smtp.*set)(*value);
}

void TrustFingerprint(const std::string& fingerprint, TSMTP& smtp)
{
    const TServerName name = ParseServerName(smtp.Server());
    const std::uint16_t used = name.Port ? name.Port : smtp.DefaultPort();
    std::string trusted = smtp.TrustedCertificates();
    if (!trusted.empty())
        trusted += ' ';
    smtp.SetTrustedCertificates(trusted + name.Host + ":" + std::to_string(used) + "=" + fingerprint);
}

} // namespace

TServerName ParseServerName(const std::string& text)
{
    TServerName name;
    std::optional<std::string> port;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string::npos || (close + 1 < text.size() && text[close + 1] != ':'))
            throw ESendUsage("--server: write an IPv6 address as [ADDRESS] or [ADDRESS]:PORT");
        name.Host = text.substr(1, close - 1);
        if (close + 1 < text.size())
            port = text.substr(close + 2);
    } else if (std::count(text.begin(), text.end(), ':') == 1) {
        const auto colon = text.find(':');
        name.Host = text.substr(0, colon);
        port = text.substr(colon + 1);
    } else {
        name.Host = text;   // a name, or a bare IPv6 address without a port
    }
    if (name.Host.empty())
        throw ESendUsage("--server names no host");
    if (port) {
        bool ok = false;
        const int number = QString::fromStdString(*port).toInt(&ok);
        if (!ok || number < 1 || number > 65535)
            throw ESendUsage("--server: the port must be a number from 1 to 65535");
        name.Port = std::uint16_t(number);
    }
    return name;
}

TSendOptions ParseSendOptions(const QStringList& arguments)
{
    QCommandLineParser parser;
    AddOptions(parser);
    // The parser wants the program's name first.
    if (!parser.parse(QStringList{QStringLiteral("tessaly-send")} + arguments))
        throw ESendUsage(parser.errorText().toStdString() + " (see --help)");
    TSendOptions o;
    if (parser.isSet("help") || parser.isSet("help-all")) {
        o.Action = TSendOptions::Help;
        return o;
    }
    if (parser.isSet("version")) {
        o.Action = TSendOptions::Version;
        return o;
    }
    ReadValues(parser, o);
    ReadChoices(parser, o);
    if (o.To.empty())
        throw ESendUsage("--to is required (see --help)");
    for (const QString& file : parser.positionalArguments())
        o.Files.Add(file.toStdString());
    CheckInputs(o);
    return o;
}

std::string SendHelpText()
{
    QCommandLineParser parser;
    AddOptions(parser);
    return parser.helpText().toStdString() + kEpilogue;
}

std::string SendVersionText()
{
    return "tessaly-send 1.0\n";
}

std::string DefaultSendSettingsPath(const std::string& sendProgram)
{
    const auto slash = sendProgram.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : sendProgram.substr(0, slash);
    return SettingsFilePath(folder + "/" + kGuiProgram);
}

void ApplyOptions(const TSendOptions& o, const std::string& settingsPath, std::istream& input, TSMTP& smtp)
{
    TRunSettings run;
    TWindowSettings window;
    std::vector<std::string> addresses;
    LoadSettings(settingsPath, smtp, run, window, addresses);
    // No box on a terminal: the exit status tells the outcome.
    smtp.SetShowResult(false);
    SetOptional(o.Server, smtp, &TSMTP::SetServer);
    SetOptional(o.From, smtp, &TSMTP::SetFrom);
    if (smtp.Server().empty())
        throw ESendUsage("--server is required: the settings name no server (" + settingsPath + ")");
    if (smtp.From().empty())
        throw ESendUsage("--from is required: the settings name no sender (" + settingsPath + ")");
    SetOptional(o.Log, smtp, &TSMTP::SetLogFileName);
    SetOptional(o.User, smtp, &TSMTP::SetUser);
    SetOptional(o.PasswordCommand, smtp, &TSMTP::SetPasswordCommand);
    SetOptional(o.CAFile, smtp, &TSMTP::SetCAFile);
    if (o.Fingerprint)
        TrustFingerprint(*o.Fingerprint, smtp);
    if (o.TimeOut)
        smtp.SetTimeOut(*o.TimeOut);
    if (o.Security)
        smtp.SetSecurity(*o.Security);
    if (o.AuthMethod)
        smtp.SetAuthMethod(*o.AuthMethod);
    // The encoding first: the client takes a character set only with MIME.
    if (o.Encoding)
        smtp.SetEncoding(*o.Encoding);
    if (o.CharSet)
        smtp.SetCharSet(*o.CharSet);
    // Every --to gets the message: the first is the To line, the others
    // are named as copies.
    smtp.SetRecipient(o.To.front());
    smtp.CC().Clear();
    for (std::size_t i = 1; i < o.To.size(); ++i)
        smtp.CC().Add(o.To[i]);
    for (const std::string& cc : o.CC)
        smtp.CC().Add(cc);
    smtp.BCC().Clear();
    for (const std::string& bcc : o.BCC)
        smtp.BCC().Add(bcc);
    smtp.SetSubject(o.Subject);
    smtp.Body().Clear();
    if (o.BodyFile)
        for (const std::string& line : SplitLines(ReadAll(*o.BodyFile, input)))
            smtp.Body().Add(line);
}

TExitStatus ExitStatusFor(const std::exception& failure)
{
    if (dynamic_cast<const EAuthError*>(&failure))
        return exNoPermission;
    if (const auto* mail = dynamic_cast<const EMailError*>(&failure)) {
        const int code = mail->ReplyCode();
        if (code >= 500 && code < 600)
            return exUnavailable;
        if (code >= 400 && code < 500)
            return exTempFail;
        return exProtocol;
    }
    if (const auto* socket = dynamic_cast<const ESocketError*>(&failure)) {
        const std::uint16_t number = socket->ErrorNumber();
        // WSAHOST_NOT_FOUND and WSANO_DATA (a name without an address).
        constexpr std::uint16_t kNoData = 11004;
        // A session that does not number its errors still names them by
        // the same text.
        const bool unknownHost = number == WSAHOST_NOT_FOUND || number == kNoData
                              || (number == 0 && socket->what() == WinsockErrorText(WSAHOST_NOT_FOUND));
        return unknownHost ? exNoHost : exTempFail;
    }
    if (dynamic_cast<const ETimedOutError*>(&failure) || dynamic_cast<const ECanceledError*>(&failure))
        return exTempFail;
    if (const auto* usage = dynamic_cast<const ESendUsage*>(&failure))
        return usage->Status;
    return exSoftware;
}

std::string FailureLine(const TSMTP& smtp, const std::exception& failure)
{
    TServerName name{smtp.Server(), 0};
    try {
        name = ParseServerName(smtp.Server());
    } catch (const ESendUsage&) {
    }
    const std::uint16_t port = name.Port ? name.Port : smtp.DefaultPort();
    const std::string host = name.Host.find(':') != std::string::npos ? "[" + name.Host + "]" : name.Host;
    std::string reason = failure.what();
    reason.erase(0, reason.find_first_not_of(' '));
    const auto* mail = dynamic_cast<const EMailError*>(&failure);
    if (mail && mail->ReplyCode() != 0) {
        const std::string code = std::to_string(mail->ReplyCode());
        if (reason.rfind(code, 0) != 0)
            reason = code + " " + reason;
    }
    return host + ":" + std::to_string(port) + ": " + reason;
}
