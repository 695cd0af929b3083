// The mailing run: works out the recipients, the subject and the text of a
// batch of files, checks every input before a connection is made, and sends
// the batch through one SMTP session. It has no widgets: the main window and
// tessaly-send drive it and answer its questions through the callbacks.
#pragma once

#include "msgbox.h"
#include "settings.h"
#include "smtp.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// Text files read whole for the message text or an address list stop here:
// far beyond any real list or letter, small enough that a wrong choice
// (a disk image, /dev/zero) cannot exhaust memory.
inline constexpr std::uintmax_t kMaxTextFileSize = 16u * 1024u * 1024u;

// An input of the run that cannot be taken (a file that is no regular file,
// too large or unreadable, an empty recipient). Raised before connecting;
// its message names the input and is shown as it is.
class ERunInput : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What the message prompt shows and may change: the recipients and the
// files (shown, taken back) and the subject and text (taken back).
struct TMessageDraft {
    std::string Recipient;
    std::vector<std::string> CC, BCC;
    std::vector<std::string> Attachments;
    std::string Subject;
    std::vector<std::string> Text;
};

// A message given whole by the caller (tessaly-send's options, a mailto:
// link): these recipients replace the list selection; a subject or text
// that is given replaces what the settings would make.
struct TGivenMessage {
    std::string Recipient;
    std::vector<std::string> CC, BCC;
    std::optional<std::string> Subject;
    std::optional<std::vector<std::string>> Text;
};

// How a run ended: everything sent; stopped by the user or by missing
// settings; failed (a refused input or a failed session).
enum class TRunOutcome { Sent, Stopped, Failed };

// The five steps of one SMTP session. By default they are the mailer's own;
// tests put recorders in their place.
struct TSessionSteps {
    std::function<void()> Open, Login, Transmit, Logout, Close;
};

struct TRecipientPass;

class TMailingRun {
public:
    TMailingRun(TSMTP& mailer, const TRunSettings& settings);
    TMailingRun(const TMailingRun&) = delete;
    TMailingRun& operator=(const TMailingRun&) = delete;

    TSMTP& Mailer;
    const TRunSettings& Settings;
    TSessionSteps Session;
    // Command-line mode when not empty: addresses and files to mail.
    std::vector<std::string> Arguments;
    std::optional<TGivenMessage> Given;
    // The message prompt opens whatever the settings say (a mailto: link).
    bool AlwaysPrompt = false;

    // ---- what the host answers ----
    // The selected entries of the address list, in list order.
    std::function<std::vector<std::string>()> OnSelectedEntries;
    // The recipient prompt: the text entered, nullopt when cancelled.
    std::function<std::optional<std::string>()> OnAskRecipient;
    // The message prompt: true when confirmed (subject, text and recipients
    // are then taken from the draft).
    std::function<bool(TMessageDraft&)> OnPromptMessage;
    // Server or sender missing: after the information box, offer Setup.
    std::function<void()> OnSetup;
    // Boxes of the run; MessageDlg by default.
    std::function<void(TMsgKind, const std::string&)> OnMessage;
    // A line for standard error (command-line names left out); never a box,
    // so that a run started from a script does not stop on it.
    std::function<void(const std::string&)> OnWarning;
    // The session starts (true) or is over (false).
    std::function<void(bool)> OnSending;

    // One whole run; the mailer's message fields are empty afterwards,
    // however it ends. A failure of no transport kind passes through.
    TRunOutcome Execute();
    bool Active() const { return FActive; }

    // The first recipient; every further one goes to `list`. In
    // command-line mode the attachments are rebuilt from the arguments.
    std::string GetRecipients(TStrings& list);
    std::string GetSubject() const;
    void LoadMsgText(TStrings& list) const;
    // Runs the message prompt on the mailer's fields; false when cancelled.
    bool PromptMessage();

private:
    TRunOutcome Steps();
    bool AskRecipient();
    void CheckRecipients() const;
    void CheckAttachments() const;
    TRunOutcome RunSession();
    void TransmitAll(const TStrings& files);
    void TakeGiven();
    void CommandLine(TRecipientPass& pass);
    void ClearMessage();
    void Message(TMsgKind kind, const std::string& text) const;
    void Warn(const std::string& text) const;

    bool FActive = false;
};

// ---- helpers of the run, pure where they can be ---------------------------

// The part of `path` after its last "/".
std::string ExtractFileName(const std::string& path);
// Cuts `text` (UTF-8) to its first `count` characters.
std::string Utf8Left(const std::string& text, std::size_t count);
// "Files: a, b" from the attachment names, cut to 70 characters + "...".
std::string SubjectFromFiles(const TStrings& files);
// The lines of `text` (CR LF, lone LF or lone CR end a line).
std::vector<std::string> SplitLines(std::string_view text);
// The lines of a regular text file of at most kMaxTextFileSize bytes;
// raises ERunInput naming the file otherwise.
std::vector<std::string> ReadTextFile(const std::string& path);
// The addresses of an address-list file: lines trimmed, a UTF-8 byte-order
// mark dropped, blank lines and "#" comments passed over.
std::vector<std::string> ReadAddressLines(const std::string& path);
// `text` without blanks and tabs at either end.
std::string Trim(std::string_view text);
// True when `path` names something that exists and is not a folder.
bool IsExistingFile(const std::string& path);
// The status-line text of a mailer status, without indent ("" for none).
const char* MailStatusText(int status);
