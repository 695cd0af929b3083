// The SMTP dialogue (RFC 821 subset): greeting, HELO, MAIL FROM, RCPT TO,
// DATA, the message, ".", QUIT. Composition of the message is compose.cpp.
#include "smtp.h"

#include "msgbox.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>

namespace {

// Without a status handler, each status change lets the window catch up
// on this many rounds of pending events instead.
constexpr int StatusPumpRounds = 50;
// The reply buffer: enough for any SMTP reply line (RFC 821 allows 512
// characters) and a few continuation lines.
constexpr std::size_t ReplyBufferSize = 1024;
// A reply line shorter than this cannot hold a code and a separator that
// says whether more lines follow ("250-" / "250 " plus text).
constexpr std::size_t MinExaminedReplyLine = 5;

// Splits `text` at CR, LF or CR LF; a final line end makes no empty line.
void SplitReplyLines(std::string_view text, TStrings& lines)
{
    lines.Clear();
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        lines.Add(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.Add(text.substr(start));
}

bool IsWouldBlock(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK;
}

} // namespace

int LineProgress(std::size_t index, std::size_t count)
{
    if (count <= 1)
        return 0;
    const std::size_t numerator = index * 100, denominator = count - 1;
    std::size_t quotient = numerator / denominator;
    const std::size_t twice = 2 * (numerator % denominator);
    if (twice > denominator || (twice == denominator && (quotient & 1) != 0))
        ++quotient;
    return int(quotient);
}

TSMTP::TSMTP(QObject* Owner) : TMailBase(Owner)
{
    FBoundary = NewBoundary();
    FService = "smtp";
    FDefaultPort = 25;
}

TSMTP::~TSMTP() = default;

// ---- properties --------------------------------------------------------------

void TSMTP::SetEncoding(TEncoding value)
{
    if (value == FEncoding)
        return;
    FEncoding = value;
    if (value == etUU)
        FCharSet = csUSASCII;
}

void TSMTP::SetCharSet(TCharSet value)
{
    if (value != FCharSet && FEncoding == etMIME)
        FCharSet = value;
}

void TSMTP::SetStatus(TMailStatus value)
{
    FStatus = value;
    if (OnStatusChange) {
        OnStatusChange(this);
        return;
    }
    for (int i = 0; i < StatusPumpRounds; ++i)
        ProcessMessages();
}

void TSMTP::SetProgress(int value)
{
    FProgress = value;
    if (OnProgress)
        OnProgress(this);
}

// ---- operations --------------------------------------------------------------

void TSMTP::Reset()
{
    TMailBase::Reset();
    FEncodedAttachments.clear();
    FSpool.Clear();
    FHasAttachments = false;
    FTransferFailed = false;
    FEncodingFailures.clear();
}

void TSMTP::Open()
{
    SetStatus(msConnecting);
    Reset();
    CheckSpoolRoom();
    TMailBase::Open();
}

void TSMTP::Login()
{
    Connect();
    SetStatus(msLoggingIn);
    ReadReply();
    if (!FUseDomainAddress) {
        SendCommand("HELO");
        return;
    }
    const std::string address = SplitAddress(FFrom).first;
    CheckAddresses(true);
    const auto at = address.find('@');
    SendCommand("HELO " + (at == std::string::npos ? std::string() : address.substr(at + 1)));
}

void TSMTP::Transmit()
{
    CheckAddresses();
    EncodeBody();
    EncodeAttachments();
    SetStatus(msSendingCommands);
    if (const std::string from = SplitAddress(FFrom).first; !from.empty())
        SendCommand("MAIL FROM:<" + from + ">");
    SendCommand("RCPT TO:<" + SplitAddress(FRecipient).first + ">");
    for (const TStrings* list : {&FCC, &FBCC})
        for (std::string_view value : *list)
            SendCommand("RCPT TO:<" + SplitAddress(value).first + ">");
    SendCommand("DATA");
    SendHeaders();
    SendMessageText();
    ReadReply();
    SetProgress(0);
}

void TSMTP::Logout()
{
    ProcessMessages();
    SetStatus(msLoggingOut);
    SendCommand("QUIT");
    if (FShowResult) {
        if (FTransferFailed)
            MessageDlg(TMsgKind::Warning, "Transfer not completed."
                                              + (FEncodingFailures.empty() ? "" : "\r\n" + FEncodingFailures));
        else
            MessageDlg(TMsgKind::Information, "All Done.");
    }
    SetStatus(msIdle);
    SetProgress(0);
}

void TSMTP::Cancel()
{
    if (FStatus == msEncoding && FEncoderCanceled)
        *FEncoderCanceled = true;
    TMailBase::Cancel();
    SetProgress(0);
    SetStatus(msCanceled);
}

// ---- sending -----------------------------------------------------------------

void TSMTP::SendLine(std::string_view line)
{
    if (FStatus != msSendingBody && FStatus != msSendingAttachments)
        FSessionLog.Add(line);
    std::string data;
    data.reserve(line.size() + 2);
    data.append(line).append("\r\n");
    SendData(data);
}

void TSMTP::SendData(std::string_view bytes)
{
    if (FSocket < 0) {
        // Closed by an earlier Cancel or time-out of this session.
        if (FCanceled)
            throw ECanceledError();
        throw ESocketError(WinsockErrorText(WinsockErrorFromErrno(ENOTCONN)));
    }
    StartTimeOut();
    std::size_t sent = 0;
    bool first = true;   // the first send goes out even after a Cancel
    while (sent < bytes.size() && (first || (!FTimedOut && !FCanceled))) {
        first = false;
        ProcessMessages();
        const ssize_t n = ::send(FSocket, bytes.data() + sent, bytes.size() - sent,
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            sent += std::size_t(n);
            continue;
        }
        if (!IsWouldBlock(errno)) {
            const int error = errno;
            StopTimeOut();
            FTransferFailed = true;
            throw ESocketError(WinsockErrorText(WinsockErrorFromErrno(error)));
        }
        // The socket's buffer is full: sleep in the event loop until the
        // server has taken some of it.
        ArmWrite();
        WaitUntil([this] { return FCanWrite || FTimedOut || FCanceled; });
    }
    StopTimeOut();
    if (FTimedOut || FCanceled) {
        Close();
        if (FTimedOut)
            throw ETimedOutError();
        throw ECanceledError();
    }
}

// ---- replies -----------------------------------------------------------------

void TSMTP::CheckReply(std::string_view line)
{
    if (line.starts_with('2') || line.starts_with("354"))
        return;
    FTransferFailed = true;
    throw EMailError(std::string(line.size() > 3 ? line.substr(3) : std::string_view()));
}

void TSMTP::ReadReply()
{
    StartTimeOut();
    WaitUntil([this] { return FCanRead || FCanceled || FTimedOut || FSocketError; });
    StopTimeOut();
    RaiseIfWaitFailed();

    StartTimeOut();
    FCanRead = false;
    ArmRead();
    std::array<char, ReplyBufferSize> buffer{};
    std::size_t received = 0;
    TStrings lines;
    bool complete = false;
    try {
        while (!complete && !FCanceled && !FTimedOut) {
            ProcessMessages();
            const ssize_t n = ::recv(FSocket, buffer.data() + received, buffer.size() - received, MSG_DONTWAIT);
            if (n < 0 && !IsWouldBlock(errno)) {
                FTransferFailed = true;
                throw ESocketError(WinsockErrorText(WinsockErrorFromErrno(errno)));
            }
            if (n == 0) {
                FTransferFailed = true;
                throw ESocketError("Connection closed by server");
            }
            if (n < 0) {
                WaitUntil([this] { return FCanRead || FCanceled || FTimedOut; });
                FCanRead = false;
                ArmRead();
                continue;
            }
            received += std::size_t(n);
            // The text ends at the first zero byte, as a C string would.
            const std::string_view text(buffer.data(), strnlen(buffer.data(), received));
            if (!text.empty() && text.back() == '\n') {
                SplitReplyLines(text, lines);
                const std::string_view last = lines.Empty() ? std::string_view() : lines.Last();
                if (last.size() >= MinExaminedReplyLine) {
                    complete = last[3] != '-';
                    CheckReply(last);
                }
            }
            if (!complete && received == buffer.size()) {
                // Nothing can follow in the buffer: refuse rather than read past it.
                FTransferFailed = true;
                throw EMailError("Server reply is longer than 1024 bytes");
            }
        }
        if (complete) {
            // The read event of the data just taken must not end the first
            // wait of the next reply: only data that arrives after it may.
            FCanRead = false;
            ArmRead();
        }
        for (std::string_view line : lines)
            FSessionLog.Add(line);
        ProcessMessages();
        if (FTimedOut) {
            FTransferFailed = true;
            throw ETimedOutError();
        }
        if (FCanceled) {
            Close();
            throw ECanceledError();
        }
    } catch (...) {
        StopTimeOut();
        throw;
    }
    StopTimeOut();
}
