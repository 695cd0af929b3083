// tessaly-send: sends files (or just a text) to one SMTP server.
//
// Exit status: 0 when every message went out, 1 when the transfer failed
// (the failure's message is printed), 2 for a usage error.
#include "smtp.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>

namespace {

constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

const char* StatusText(TMailStatus status)
{
    switch (status) {
    case msConnecting: return "Connecting to Server...";
    case msLoggingIn: return "Logging in...";
    case msLoggingOut: return "Logging out...";
    case msSendingHeaders: return "Sending headers...";
    case msSendingCommands: return "Sending commands...";
    case msSendingBody: return "Sending message body...";
    case msSendingAttachments: return "Sending attachment(s)...";
    case msCanceled: return "Canceled.";
    case msEncoding: return "Encoding the attachment(s)...";
    default: return "";
    }
}

struct TUsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The lines of a text file; CR LF, CR and LF all end a line.
TStrings ReadLines(const std::string& fileName)
{
    std::ifstream file(fileName, std::ios::binary);
    if (!file)
        throw TUsageError("Cannot open body file: " + fileName);
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad())
        throw TUsageError("Cannot read body file: " + fileName);
    TStrings lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        lines.Add(std::string_view(text).substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.Add(std::string_view(text).substr(start));
    return lines;
}

TStrings ToStrings(const QStringList& values)
{
    TStrings list;
    for (const QString& value : values)
        list.Add(value.toStdString());
    return list;
}

// Draws "status  NN%" on one terminal line, redrawn only when it changes.
class TProgressLine {
public:
    void Show(TMailStatus status, int progress)
    {
        if (status == FStatus && progress == FProgress)
            return;
        FStatus = status;
        FProgress = progress;
        std::fprintf(stderr, "\r%-32s %3d%%", StatusText(status), progress);
        std::fflush(stderr);
        FDrawn = true;
    }
    void End()
    {
        if (FDrawn)
            std::fputc('\n', stderr);
        FDrawn = false;
    }

private:
    TMailStatus FStatus = msIdle;
    int FProgress = -1;
    bool FDrawn = false;
};

struct TOptions {
    std::string Server, From, To, Subject, Log;
    TStrings CC, BCC, Body, Files;
    TEncoding Encoding = etMIME;
    TCharSet CharSet = csUSASCII;
    bool OneFilePerMessage = false, Progress = false;
    int TimeOut = 60;
};

TOptions ParseOptions(QCoreApplication& app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Sends FILE... as attachments of one message (or one message per file) to an SMTP server.\n"
        "Addresses take the form ADDRESS or ADDRESS|DISPLAY NAME.");
    parser.addHelpOption();
    parser.addOptions({
        {"server", "SMTP server, HOST or HOST:PORT (port 25 by default).", "HOST[:PORT]"},
        {"from", "Sender.", "ADDR[|NAME]"},
        {"to", "Recipient.", "ADDR[|NAME]"},
        {"cc", "Copy recipient (may be repeated).", "ADDR[|NAME]"},
        {"bcc", "Blind-copy recipient (may be repeated).", "ADDR[|NAME]"},
        {"subject", "Subject.", "TEXT"},
        {"body-file", "Message text, from a text file.", "FILE"},
        {"encoding", "How files are carried: mime (default) or uu.", "mime|uu"},
        {"charset", "Character set of the text: us-ascii (default), iso-8859-1 or utf-8.", "CHARSET"},
        {"one-file-per-message", "Send one message per file."},
        {"timeout", "Seconds allowed for each wait (default 60).", "SECONDS"},
        {"log", "Write the dialogue with the server to FILE.", "FILE"},
        {"progress", "Draw a progress line on the terminal."},
    });
    parser.addPositionalArgument("FILE", "Files to attach.", "[FILE...]");
    if (!parser.parse(app.arguments()))
        throw TUsageError(parser.errorText().toStdString());
    if (parser.isSet("help")) {
        std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
        std::exit(0);
    }
    TOptions o;
    o.Server = parser.value("server").toStdString();
    o.From = parser.value("from").toStdString();
    o.To = parser.value("to").toStdString();
    if (o.Server.empty() || o.To.empty())
        throw TUsageError("--server and --to are required (see --help)");
    o.CC = ToStrings(parser.values("cc"));
    o.BCC = ToStrings(parser.values("bcc"));
    o.Subject = parser.value("subject").toStdString();
    o.Log = parser.value("log").toStdString();
    if (parser.isSet("body-file"))
        o.Body = ReadLines(parser.value("body-file").toStdString());
    const QString encoding = parser.value("encoding");
    if (encoding == "uu")
        o.Encoding = etUU;
    else if (!encoding.isEmpty() && encoding != "mime")
        throw TUsageError("--encoding must be mime or uu");
    const QString charset = parser.value("charset").toLower();
    if (charset == "iso-8859-1")
        o.CharSet = csISO8859;
    else if (charset == "utf-8")
        o.CharSet = csUTF8;
    else if (!charset.isEmpty() && charset != "us-ascii")
        throw TUsageError("--charset must be us-ascii, iso-8859-1 or utf-8");
    if (parser.isSet("timeout")) {
        bool ok = false;
        o.TimeOut = parser.value("timeout").toInt(&ok);
        if (!ok)
            throw TUsageError("--timeout takes a number of seconds");
    }
    o.OneFilePerMessage = parser.isSet("one-file-per-message");
    o.Progress = parser.isSet("progress");
    for (const QString& file : parser.positionalArguments()) {
        if (!QFileInfo(file).isFile())
            throw TUsageError("Not a file: " + file.toStdString());
        o.Files.Add(file.toStdString());
    }
    return o;
}

void Configure(TSMTP& smtp, const TOptions& o)
{
    smtp.SetServer(o.Server);
    smtp.SetTimeOut(o.TimeOut);
    smtp.SetLogFileName(o.Log);
    smtp.SetShowResult(false);
    smtp.SetFrom(o.From);
    smtp.SetRecipient(o.To);
    smtp.SetCC(o.CC);
    smtp.SetBCC(o.BCC);
    smtp.SetSubject(o.Subject);
    smtp.SetBody(o.Body);
    smtp.SetEncoding(o.Encoding);
    smtp.SetCharSet(o.CharSet);
}

// Open, Login, one Transmit per message, Logout; Close on every path.
void Send(TSMTP& smtp, const TOptions& o)
{
    try {
        smtp.Open();
        smtp.Login();
        if (o.OneFilePerMessage && o.Files.Count() > 1) {
            for (std::string_view file : o.Files) {
                smtp.SetAttachments(TStrings{file});
                smtp.Transmit();
            }
        } else {
            smtp.SetAttachments(o.Files);
            smtp.Transmit();
        }
        smtp.Logout();
    } catch (...) {
        smtp.Close();
        throw;
    }
    smtp.Close();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("tessaly-send");
    TOptions options;
    try {
        options = ParseOptions(app);
    } catch (const TUsageError& e) {
        std::fprintf(stderr, "tessaly-send: %s\n", e.what());
        return ExitUsage;
    }
    TSMTP smtp;
    Configure(smtp, options);
    TProgressLine line;
    if (options.Progress) {
        smtp.OnStatusChange = [&](QObject*) { line.Show(smtp.Status(), smtp.Progress()); };
        smtp.OnProgress = [&](QObject*) { line.Show(smtp.Status(), smtp.Progress()); };
    } else {
        smtp.OnStatusChange = [](QObject*) {};
    }
    try {
        Send(smtp, options);
    } catch (const std::exception& e) {
        line.End();
        std::fprintf(stderr, "tessaly-send: %s\n", e.what());
        return ExitFailed;
    }
    line.End();
    if (smtp.TransferFailed()) {
        std::fprintf(stderr, "tessaly-send: Transfer not completed.\n");
        return ExitFailed;
    }
    return 0;
}
