// tessaly-send: sends files (or just a text) to one SMTP server.
//
// The options and the exit statuses (sysexits.h) are in options.cpp; this
// file drives the session.
#include "mailingrun.h"
#include "options.h"
#include "smtp.h"

#include <QCoreApplication>

#include <cstdio>
#include <exception>
#include <functional>
#include <fcntl.h>
#include <iostream>
#include <optional>
#include <termios.h>
#include <unistd.h>

namespace {

// Draws "status  NN%" on one terminal line, redrawn only when it changes.
class TProgressLine {
public:
    void Show(TMailStatus status, int progress)
    {
        if (status == FStatus && progress == FProgress)
            return;
        FStatus = status;
        FProgress = progress;
        std::fprintf(stderr, "\r%-32s %3d%%", MailStatusText(status), progress);
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

// What ended a session that failed: kept so that the exit status and the
// printed line can name its kind and the server's reply.
struct TSessionFailure {
    std::exception_ptr Failure;
    std::string Input;   // an input the run refused before connecting
};

// Runs `step`, remembering the failure it raises.
std::function<void()> Recorded(std::function<void()> step, TSessionFailure& failure)
{
    return [step = std::move(step), &failure] {
        try {
            step();
        } catch (...) {
            failure.Failure = std::current_exception();
            throw;
        }
    };
}

// One mailing run, the same as the window's: the options give the whole
// message (every --to, --cc and --bcc as ApplyOptions set them), nobody is
// prompted, and every file is checked before connecting.
TRunOutcome Send(TSMTP& smtp, const TSendOptions& o, TProgressLine& line, TSessionFailure& failure)
{
    TRunSettings settings;
    settings.OneFilePerMsg = o.OneFilePerMessage;
    settings.MsgText = settings.MsgSubject = 2;   // neither prompt nor file: the options say
    TMailingRun run(smtp, settings);
    run.Given = TGivenMessage{smtp.Recipient(), smtp.CC().ToVector(), smtp.BCC().ToVector(), smtp.Subject(),
                              smtp.Body().ToVector()};
    smtp.SetAttachments(o.Files);
    for (auto* step : {&run.Session.Open, &run.Session.Login, &run.Session.Transmit, &run.Session.Logout})
        *step = Recorded(*step, failure);
    run.OnPromptMessage = [](TMessageDraft&) { return true; };
    run.OnSetup = [] { std::fprintf(stderr, "tessaly-send: --server and an address in --from are required\n"); };
    run.OnMessage = [&failure](TMsgKind kind, const std::string& text) {
        // A session failure is printed by the caller, with its server.
        if (kind == TMsgKind::Error && !failure.Failure)
            failure.Input = text;
    };
    run.OnAskRecipient = [] {
        std::fprintf(stderr, "tessaly-send: --to names no recipient\n");
        return std::optional<std::string>();
    };
    run.OnSending = [&line](bool sending) {
        if (!sending)
            line.End();
    };
    return run.Execute();
}

// The exit status of a run that did not send everything; prints why.
int Failed(const TSMTP& smtp, TRunOutcome outcome, const TSessionFailure& failure)
{
    if (failure.Failure) {
        try {
            std::rethrow_exception(failure.Failure);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "tessaly-send: %s\n", FailureLine(smtp, e).c_str());
            return ExitStatusFor(e);
        }
    }
    if (!failure.Input.empty()) {
        std::fprintf(stderr, "tessaly-send: %s\n", failure.Input.c_str());
        return exNoInput;
    }
    if (outcome == TRunOutcome::Stopped)
        return exUsage;
    std::fprintf(stderr, "tessaly-send: %s\n", FailureLine(smtp, std::runtime_error("Transfer not completed.")).c_str());
    return exProtocol;
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
    TSessionFailure failure;
    TRunOutcome outcome = TRunOutcome::Failed;
    try {
        outcome = Send(smtp, options, line, failure);
    } catch (const std::exception& e) {
        line.End();
        std::fprintf(stderr, "tessaly-send: %s\n", FailureLine(smtp, e).c_str());
        return ExitStatusFor(e);
    }
    line.End();
    return outcome == TRunOutcome::Sent ? exSent : Failed(smtp, outcome, failure);
}
