// tessaly-send: sends files (or just a text) to one SMTP server.
//
// The options and the exit statuses (sysexits.h) are in options.cpp; this
// file drives the session.
#include "options.h"
#include "smtp.h"

#include <QCoreApplication>

#include <cstdio>
#include <fcntl.h>
#include <iostream>
#include <optional>
#include <termios.h>
#include <unistd.h>

namespace {

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

// Open, Login, one Transmit per message, Logout; Close on every path.
void Send(TSMTP& smtp, const TSendOptions& o)
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

// The secret when no --password-command gives it: asked on the controlling
// terminal without echo. Without a terminal (a script, cron) or on Ctrl+D
// nothing comes back, which ends the session as cancelled instead of
// waiting for a person who is not there.
std::optional<std::string> AskPasswordOnTerminal()
{
    const int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0)
        return std::nullopt;
    termios saved{};
    const bool quiet = ::tcgetattr(tty, &saved) == 0;
    if (quiet) {
        termios noEcho = saved;
        noEcho.c_lflag &= tcflag_t(~ECHO);
        ::tcsetattr(tty, TCSAFLUSH, &noEcho);
    }
    constexpr char kPrompt[] = "Password: ";
    bool ended = false;
    std::string secret;
    char c = 0;
    const bool asked = ::write(tty, kPrompt, sizeof kPrompt - 1) >= 0;
    while (asked && !ended && ::read(tty, &c, 1) == 1) {
        ended = c == '\n';
        if (!ended)
            secret += c;
    }
    if (quiet)
        ::tcsetattr(tty, TCSAFLUSH, &saved);
    if (::write(tty, "\n", 1) < 0 || !ended)
        secret.clear();
    ::close(tty);
    return ended ? std::optional<std::string>(secret) : std::nullopt;
}

int Usage(const ESendUsage& e)
{
    std::fprintf(stderr, "tessaly-send: %s\n", e.what());
    return e.Status;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("tessaly-send");
    TSendOptions options;
    TSMTP smtp;
    try {
        options = ParseSendOptions(app.arguments().mid(1));
        if (options.Action == TSendOptions::Help) {
            std::fputs(SendHelpText().c_str(), stdout);
            return exSent;
        }
        if (options.Action == TSendOptions::Version) {
            std::fputs(SendVersionText().c_str(), stdout);
            return exSent;
        }
        const std::string settings = options.SettingsFile
            ? *options.SettingsFile
            : DefaultSendSettingsPath(QCoreApplication::applicationFilePath().toStdString());
        ApplyOptions(options, settings, std::cin, smtp);
    } catch (const ESendUsage& e) {
        return Usage(e);
    }
    smtp.OnPassword = AskPasswordOnTerminal;
    TProgressLine line;
    // A progress line is for a person watching; in a pipe or a log it
    // would only be noise of carriage returns.
    if (options.Progress && ::isatty(STDERR_FILENO)) {
        smtp.OnStatusChange = [&](QObject*) { line.Show(smtp.Status(), smtp.Progress()); };
        smtp.OnProgress = [&](QObject*) { line.Show(smtp.Status(), smtp.Progress()); };
    } else {
        smtp.OnStatusChange = [](QObject*) {};
    }
    try {
        Send(smtp, options);
    } catch (const std::exception& e) {
        line.End();
        std::fprintf(stderr, "tessaly-send: %s\n", FailureLine(smtp, e).c_str());
        return ExitStatusFor(e);
    }
    line.End();
    if (smtp.TransferFailed()) {
        std::fprintf(stderr, "tessaly-send: %s\n",
                     FailureLine(smtp, std::runtime_error("Transfer not completed.")).c_str());
        return exProtocol;
    }
    return exSent;
}
