// tessaly-send's command line: options, the settings file they start from,
// and the exit statuses (sysexits.h) that scripts can rely on.
#pragma once

#include "smtp.h"

#include <QStringList>

#include <cstdint>
#include <exception>
#include <istream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// Exit statuses, as sysexits.h numbers them.
enum TExitStatus {
    exSent = 0,          // every message went out
    exUsage = 64,        // EX_USAGE: bad or missing option
    exNoInput = 66,      // EX_NOINPUT: a file to send or read is missing or unreadable
    exNoHost = 68,       // EX_NOHOST: the server's name does not resolve
    exUnavailable = 69,  // EX_UNAVAILABLE: the server refused for good (5xx)
    exSoftware = 70,     // EX_SOFTWARE: a failure of no known kind
    exTempFail = 75,     // EX_TEMPFAIL: 4xx, time-out, refused or broken connection
    exProtocol = 76,     // EX_PROTOCOL: a reply that breaks the protocol
    exNoPermission = 77, // EX_NOPERM: the server refused the login
};

// A command line that cannot be run; `Status` is exUsage or exNoInput.
class ESendUsage : public std::runtime_error {
public:
    ESendUsage(const std::string& message, TExitStatus status = exUsage)
        : std::runtime_error(message), Status(status) {}
    TExitStatus Status;
};

// "HOST", "HOST:PORT", "[V6]" or "[V6]:PORT". Port 0 = none given.
struct TServerName {
    std::string Host;
    std::uint16_t Port = 0;
};
// Throws ESendUsage for an empty host, an open bracket or a bad port.
TServerName ParseServerName(const std::string& text);

// What the command line asks for. Values that are not set on it come from
// the settings file (see ApplyOptions).
struct TSendOptions {
    enum TAction { Send, Help, Version };
    TAction Action = Send;

    std::optional<std::string> Server, From, Log, User, PasswordCommand, CAFile, Fingerprint;
    std::optional<std::string> SettingsFile;   // nullopt: the GUI's own file
    std::vector<std::string> To, CC, BCC;
    std::string Subject;
    std::optional<std::string> BodyFile;       // "-" = standard input
    TStrings Files;
    std::optional<TEncoding> Encoding;
    std::optional<TCharSet> CharSet;
    std::optional<TSecurity> Security;
    std::optional<TAuthMethod> AuthMethod;
    std::optional<int> TimeOut;
    bool OneFilePerMessage = false;
    bool Progress = false;
};

// Parses the arguments (without the program name). Throws ESendUsage for
// an unknown option, a bad value, a missing --to, or a file to attach that
// does not exist or cannot be read (exNoInput).
TSendOptions ParseSendOptions(const QStringList& arguments);

// The text of --help and --help-all: options, exit statuses, examples.
std::string SendHelpText();
std::string SendVersionText();

// The settings file of the graphical program beside `sendProgram` (by the
// same rule as the program's own: portable or per-user), which is what
// tessaly-send reads unless --settings names one.
std::string DefaultSendSettingsPath(const std::string& sendProgram);

// Configures `smtp` from the settings file (if any) and then from the
// options, which win. Reads the text from --body-file (`input` for "-").
// Throws ESendUsage when the server or sender is still unknown, or when
// the settings file or the text file cannot be read.
void ApplyOptions(const TSendOptions& options, const std::string& settingsPath, std::istream& input, TSMTP& smtp);

// The exit status for a failure that ended the session.
TExitStatus ExitStatusFor(const std::exception& failure);

// "<host>:<port>: <reason>": the line printed (after "tessaly-send: ") for
// a failed session. A refused reply keeps its code ("550 No such user");
// the reason never starts with a blank.
std::string FailureLine(const TSMTP& smtp, const std::exception& failure);
