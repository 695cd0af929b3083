// The mailing run: steps, recipients, subject and text, the checks made
// before connecting, and the session.
#include "mailingrun.h"

#include "textcodec.h"

#include <QFile>
#include <QFileInfo>
#include <array>
#include <cstdio>
#include <filesystem>

namespace {
namespace fs = std::filesystem;

const char* const kSetupFirst = "Please setup default message options \r\nand then try again.";
const char* const kNoRecipient = "No recipient given: nothing was sent.";
const char* const kPerFileSubject = "File: ";
// A file name is at most 255 characters on the file systems in use; the
// subject never carries more of one name.
constexpr std::size_t kMaxFileNameLength = 255;
// Longer subjects are cut so that they show whole in a mail reader's list
// (70 characters, then "...").
constexpr std::size_t kSubjectLimit = 70;
const std::string_view kUtf8Bom = "\xEF\xBB\xBF";

fs::file_status StatusOf(const std::string& path)
{
    std::error_code ignored;
    return fs::status(fs::path(path), ignored);
}

std::vector<std::string> ToVector(const TStrings& list)
{
    return list.ToVector();
}

void Assign(TStrings& list, const std::vector<std::string>& lines)
{
    list.Clear();
    for (const std::string& line : lines)
        list.Add(line);
}
}

// Collects the recipients of one pass: the first address found is the
// recipient, every later one goes to the list.
struct TRecipientPass {
    TStrings& List;
    std::string Result;
    bool First = true;
    void Add(const std::string& address)
    {
        if (std::exchange(First, false))
            Result = address;
        else
            List.Add(address);
    }
};

TMailingRun::TMailingRun(TSMTP& mailer, const TRunSettings& settings) : Mailer(mailer), Settings(settings)
{
    Session = {[this] { Mailer.Open(); }, [this] { Mailer.Login(); }, [this] { Mailer.Transmit(); },
               [this] { Mailer.Logout(); }, [this] { Mailer.Close(); }};
}

// ---- the run ------------------------------------------------------------------

TRunOutcome TMailingRun::Execute()
{
    FActive = true;
    TRunOutcome outcome = TRunOutcome::Failed;
    try {
        outcome = Steps();
    } catch (const ERunInput& e) {
        Message(TMsgKind::Error, e.what());
    } catch (...) {
        ClearMessage();
        throw;
    }
    ClearMessage();
    return outcome;
}

// The message fields are empty between runs; the recipient stays until the
// next run sets it again.
void TMailingRun::ClearMessage()
{
    Mailer.Body().Clear();
    Mailer.SetSubject({});
    Mailer.Attachments().Clear();
    Mailer.CC().Clear();
    Mailer.BCC().Clear();
    FActive = false;
}

TRunOutcome TMailingRun::Steps()
{
    Mailer.BCC().Clear();
    Mailer.CC().Clear();
    Mailer.SetRecipient(GetRecipients(Settings.UseBCC ? Mailer.BCC() : Mailer.CC()));
    Mailer.SetSubject(GetSubject());
    LoadMsgText(Mailer.Body());
    TakeGiven();
    // A sender without an address would greet and then send no MAIL FROM.
    if (Mailer.Server().empty() || SplitAddress(Mailer.From()).first.empty()) {
        Message(TMsgKind::Information, kSetupFirst);
        // Nothing is sent now, whatever the user sets up: the next run uses it.
        if (OnSetup)
            OnSetup();
        return TRunOutcome::Stopped;
    }
    CheckAttachments();
    if (Mailer.Recipient().empty() && !AskRecipient())
        return TRunOutcome::Stopped;
    CheckRecipients();
    // A run without files always asks, so that a bare message gets a text.
    const bool prompt = AlwaysPrompt || Settings.MsgText == 0 || Settings.MsgSubject == 0 || Mailer.Attachments().Empty();
    if (prompt && !PromptMessage())
        return TRunOutcome::Stopped;
    CheckRecipients();
    return RunSession();
}

void TMailingRun::TakeGiven()
{
    if (!Given)
        return;
    Mailer.SetRecipient(Given->Recipient);
    Assign(Mailer.CC(), Given->CC);
    Assign(Mailer.BCC(), Given->BCC);
    if (Given->Subject)
        Mailer.SetSubject(*Given->Subject);
    if (Given->Text)
        Assign(Mailer.Body(), *Given->Text);
}

TRunOutcome TMailingRun::RunSession()
{
    if (OnSending)
        OnSending(true);
    const TStrings files = Mailer.Attachments();   // the run's file list
    TRunOutcome outcome = TRunOutcome::Failed;
    try {
        try {
            Session.Open();
            Session.Login();
            TransmitAll(files);
            Session.Logout();
        } catch (...) {
            // No QUIT after a failure: only the socket is closed.
            Session.Close();
            throw;
        }
        Session.Close();
        outcome = Mailer.TransferFailed() ? TRunOutcome::Failed : TRunOutcome::Sent;
    } catch (const EMailError& e) {
        Message(TMsgKind::Error, std::string("Mail error (check setup):\r\n") + e.what());
    } catch (const ESocketError& e) {
        Message(TMsgKind::Error, std::string("Socket error (check setup and try again):\r\n") + e.what());
    } catch (const ETimedOutError& e) {
        Message(TMsgKind::Error, std::string("Connection timed out:\r\n") + e.what());
    } catch (const ECanceledError& e) {
        if (Mailer.ShowResult())
            Message(TMsgKind::Error, std::string("Send aborted:\r\n") + e.what());
    }
    if (OnSending)
        OnSending(false);
    return outcome;
}

void TMailingRun::TransmitAll(const TStrings& files)
{
    if (!Settings.OneFilePerMsg || files.Count() < 2) {
        Session.Transmit();
        return;
    }
    for (std::string_view file : files) {
        Mailer.Attachments().Clear();
        if (Settings.MsgSubject == 1 && !(Given && Given->Subject))
            Mailer.SetSubject(kPerFileSubject + Utf8Left(ExtractFileName(std::string(file)), kMaxFileNameLength));
        Mailer.Attachments().Add(file);
        Session.Transmit();
    }
}

// ---- checks before connecting -------------------------------------------------------

void TMailingRun::CheckRecipients() const
{
    bool empty = Trim(Mailer.Recipient()).empty();
    for (const TStrings* list : {&Mailer.CC(), &Mailer.BCC()})
        for (std::string_view address : *list)
            empty = empty || Trim(address).empty();
    // An empty address would go out as "RCPT TO:<>", which names nobody.
    if (empty)
        throw ERunInput(kNoRecipient);
}

void TMailingRun::CheckAttachments() const
{
    // Every file is opened now, so that none fails once the session has
    // begun; a FIFO or a device would block the open itself.
    for (std::string_view name : Mailer.Attachments()) {
        const std::string path(name);
        if (fs::exists(StatusOf(path)) && !fs::is_regular_file(StatusOf(path)))
            throw ERunInput(path + " is not a regular file");
        QFile file(QString::fromStdString(path));
        if (!file.open(QIODevice::ReadOnly))
            throw ERunInput("Cannot read attachment " + path + ": " + file.errorString().toStdString());
    }
}

// ---- recipients -------------------------------------------------------------------

std::string TMailingRun::GetRecipients(TStrings& list)
{
    list.Clear();
    TRecipientPass pass{list, {}};   // one first-address marker for the whole pass
    if (!Arguments.empty()) {
        CommandLine(pass);
        return pass.Result;
    }
    const std::vector<std::string> entries = OnSelectedEntries ? OnSelectedEntries() : std::vector<std::string>{};
    for (const std::string& entry : entries) {
        if (entry.find('@') != std::string::npos)
            pass.Add(Trim(entry));
        else if (IsExistingFile(entry))
            for (const std::string& line : ReadAddressLines(entry))
                pass.Add(line);
    }
    return pass.Result;
}

void TMailingRun::CommandLine(TRecipientPass& pass)
{
    Mailer.Attachments().Clear();
    for (const std::string& argument : Arguments) {
        const fs::file_status status = StatusOf(argument);
        // An existing file is a file even when its name holds "@".
        if (fs::is_regular_file(status))
            // Kept absolute: a file chooser opened during the run moves the
            // working directory.
            Mailer.Attachments().Add(QFileInfo(QString::fromStdString(argument)).absoluteFilePath().toStdString());
        else if (fs::exists(status))
            Warn(argument + " is not a regular file; left out");
        else if (argument.find('@') != std::string::npos)
            pass.Add(Trim(argument));
        else
            Warn(argument + ": no such file; left out");
    }
}

bool TMailingRun::AskRecipient()
{
    const std::optional<std::string> answer = OnAskRecipient ? OnAskRecipient() : std::nullopt;
    if (!answer)
        return false;
    const std::string entered = Trim(*answer);
    std::vector<std::string> lines{entered};
    if (IsExistingFile(entered)) {
        lines = ReadAddressLines(entered);
        if (lines.empty())
            lines.emplace_back();
    }
    Mailer.SetRecipient(lines.front());
    TStrings& copies = Settings.UseBCC ? Mailer.BCC() : Mailer.CC();
    for (std::size_t i = 1; i < lines.size(); ++i)
        copies.Add(lines[i]);
    return true;
}

// ---- subject, text, prompt ---------------------------------------------------------------

std::string TMailingRun::GetSubject() const
{
    switch (Settings.MsgSubject) {
    case 1: return SubjectFromFiles(Mailer.Attachments());
    case 2: return Settings.MsgSubjectDef;
    default: return {};
    }
}

void TMailingRun::LoadMsgText(TStrings& list) const
{
    list.Clear();
    if (Settings.MsgText != 0 && Settings.MsgText != 1)
        return;
    // A missing file gives no text; the file is read again at every run,
    // so edits to it count at once.
    if (IsExistingFile(Settings.MsgTextFile))
        Assign(list, ReadTextFile(Settings.MsgTextFile));
}

bool TMailingRun::PromptMessage()
{
    TMessageDraft draft{Mailer.Recipient(), ToVector(Mailer.CC()), ToVector(Mailer.BCC()),
                        ToVector(Mailer.Attachments()), GetSubject(), {}};
    TStrings text;
    LoadMsgText(text);
    draft.Text = text.ToVector();
    if (Given && Given->Subject)
        draft.Subject = *Given->Subject;
    if (Given && Given->Text)
        draft.Text = *Given->Text;
    if (!OnPromptMessage || !OnPromptMessage(draft))
        return false;
    Mailer.SetRecipient(draft.Recipient);
    Assign(Mailer.CC(), draft.CC);
    Assign(Mailer.BCC(), draft.BCC);
    Mailer.SetSubject(draft.Subject);
    Assign(Mailer.Body(), draft.Text);
    return true;
}

void TMailingRun::Message(TMsgKind kind, const std::string& text) const
{
    if (OnMessage)
        OnMessage(kind, text);
    else
        MessageDlg(kind, text);
}

void TMailingRun::Warn(const std::string& text) const
{
    if (OnWarning)
        OnWarning(text);
    else
        std::fprintf(stderr, "%s\n", text.c_str());
}

// ---- helpers ----------------------------------------------------------------------------

std::string ExtractFileName(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Utf8Left(const std::string& text, std::size_t count)
{
    std::size_t characters = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        // A continuation byte (10xxxxxx) belongs to the character before it.
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80)
            continue;
        if (characters == count)
            return text.substr(0, i);
        ++characters;
    }
    return text;
}

std::string SubjectFromFiles(const TStrings& files)
{
    std::string names;
    for (std::string_view file : files) {
        if (!names.empty())
            names += ", ";
        names += Utf8Left(ExtractFileName(std::string(file)), kMaxFileNameLength);
    }
    if (names.empty())
        return {};
    const std::string subject = "Files: " + names;
    const std::string cut = Utf8Left(subject, kSubjectLimit);
    return cut.size() < subject.size() ? cut + "..." : subject;
}

std::vector<std::string> SplitLines(std::string_view text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        lines.emplace_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    // A last line without a line end still counts.
    if (start < text.size())
        lines.emplace_back(text.substr(start));
    return lines;
}

std::vector<std::string> ReadTextFile(const std::string& path)
{
    // Only a regular file is opened: a FIFO or device would block the open
    // or never end.
    if (!fs::is_regular_file(StatusOf(path)))
        throw ERunInput(path + " is not a regular file");
    std::error_code error;
    if (fs::file_size(fs::path(path), error) > kMaxTextFileSize)
        throw ERunInput(path + " is larger than 16 MiB");
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        throw ERunInput("Cannot read " + path + ": " + file.errorString().toStdString());
    const QByteArray data = file.read(qint64(kMaxTextFileSize) + 1);
    if (file.error() != QFileDevice::NoError)
        throw ERunInput("Cannot read " + path + ": " + file.errorString().toStdString());
    return SplitLines(std::string_view(data.constData(), std::size_t(data.size())));
}

std::vector<std::string> ReadAddressLines(const std::string& path)
{
    // Blank lines and comments name nobody: as "RCPT TO:<>" a blank one
    // would be refused (RFC 5321 allows the empty path only in MAIL FROM).
    std::vector<std::string> lines = ReadTextFile(path);
    if (!lines.empty() && lines.front().starts_with(kUtf8Bom))
        lines.front().erase(0, kUtf8Bom.size());
    std::vector<std::string> addresses;
    for (std::string& line : lines) {
        line = Trim(line);
        if (!line.empty() && line.front() != '#')
            addresses.push_back(line);
    }
    return addresses;
}

std::string Trim(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return std::string(text.substr(first, text.find_last_not_of(" \t") - first + 1));
}

bool IsExistingFile(const std::string& path)
{
    const fs::file_status status = StatusOf(path);
    return !path.empty() && fs::exists(status) && !fs::is_directory(status);
}

const char* MailStatusText(int status)
{
    static const std::array<const char*, 10> texts{
        "",
        "Connecting to Server...",
        "Logging in...",
        "Logging out...",
        "Sending headers...",
        "Sending commands...",
        "Sending message body...",
        "Sending attachment(s)...",
        "Canceled.",
        "Encoding the attachment(s)...",
    };
    return status >= 0 && status < int(texts.size()) ? texts[std::size_t(status)] : "";
}
