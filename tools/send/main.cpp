// tessaly-send: sends files (or just a text) to one SMTP server.
//
// The options and the exit statuses (sysexits.h) are in options.cpp; this
// file drives the session.
#include "options.h"
#include "smtp.h"

#include <QCoreApplication>

#include <cstdio>
#include <iostream>
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
