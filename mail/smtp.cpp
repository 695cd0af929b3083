// The SMTP dialogue (RFC 5321): greeting, EHLO, MAIL FROM, RCPT TO, DATA,
// the message, ".", QUIT. TLS and AUTH are submission.cpp; composition of
// the message is compose.cpp.
#include "smtp.h"

#include "auth.h"
#include "msgbox.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>

namespace {

// Without a status handler, each status change lets the window catch up
// on this many rounds of pending events instead.
constexpr int StatusPumpRounds = 50;
// One receive: a whole reply of any usual size in one call.
constexpr std::size_t ReceiveChunkBytes = 4096;
// A reply may have any number of lines (long banners, long capability
// lists), but a server that never ends one must not fill the memory.
constexpr std::size_t MaxReplyBytes = 64 * 1024;

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
    FInput.clear();
    FCapabilities = {};
    FEncrypted = false;
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
    if (FSecurity == secTLS)
        EstablishTls();
    ReadReply();
    const std::string name = GreetingName();
    Hello(name);
    if (WantsStartTls()) {
        SendCommand("STARTTLS");
        // RFC 3207 6: whatever came before the handshake may have been
        // injected by a man in the middle; none of it is read as a reply.
        FInput.clear();
        EstablishTls();
        Hello(name);   // and the earlier capabilities are forgotten
    }
    if (!FUser.empty())
        Authenticate();
}

void TSMTP::Transmit()
{
    CheckAddresses();
    EncodeBody();
    EncodeAttachments();
    SetStatus(msSendingCommands);
    const std::uint64_t size = EstimatedSize();
    CheckSize(size);
    if (const std::string from = SplitAddress(FFrom).first; !from.empty())
        SendCommand("MAIL FROM:<" + from + ">" + MailParameters(size));
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
    // The messages are delivered once the server took them: a QUIT that
    // goes unanswered or a close without 221 is noted, not a failure, so
    // that nobody sends the same mail twice.
    const bool failed = FTransferFailed;
    try {
        SendCommand("QUIT");
    } catch (const ECanceledError&) {
        throw;
    } catch (const std::exception& e) {
        FSessionLog.Add(std::string("QUIT was not answered: ") + e.what());
        FTransferFailed = failed;
    }
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

void TSMTP::SendMasked(std::string_view line, std::string_view shown)
{
    FSessionLog.Add(shown);
    SendData(std::string(line) + "\r\n");
}

void TSMTP::SendData(std::string_view bytes)
{
    if (FSocket < 0) {
        // Closed by an earlier Cancel or time-out of this session.
        if (FCanceled)
            throw ECanceledError();
        throw ESocketError(WinsockErrorText(WinsockErrorFromErrno(ENOTCONN)), WinsockErrorFromErrno(ENOTCONN));
    }
    StartTimeOut();
    std::size_t sent = 0;
    bool first = true;   // the first send goes out even after a Cancel
    while (sent < bytes.size() && (first || (!FTimedOut && !FCanceled))) {
        first = false;
        ProcessMessages();
        std::size_t n = 0;
        const TIo io = SendSome(bytes.data() + sent, bytes.size() - sent, n);
        sent += n;
        if (io == ioDone)
            continue;
        if (io == ioFailed || io == ioClosed) {
            StopTimeOut();
            FTransferFailed = true;
            RaiseSendFailure(io == ioClosed);
        }
        // The socket's buffer is full: sleep in the event loop until the
        // server has taken some of it.
        WaitForSocket(io);
    }
    StopTimeOut();
    if (FTimedOut || FCanceled) {
        Close();
        if (FTimedOut)
            throw ETimedOutError();
        throw ECanceledError();
    }
}

void TSMTP::RaiseSendFailure(bool closed)
{
    const std::string error = closed ? "Connection closed by server" : FIoError;
    const std::uint16_t number = closed ? WSAECONNRESET : FIoErrorNumber;
    std::array<char, 4096> buffer;
    std::size_t n = 0;
    while (FInput.size() < MaxReplyBytes && ReceiveSome(buffer.data(), buffer.size(), n) == ioDone)
        FInput.append(buffer.data(), n);
    const TReplyScan scan = ParseReply(FInput);
    if (scan.State == TReplyState::Complete)
        throw EMailError(scan.Reply.Text(), scan.Reply.Code);
    throw ESocketError(error, number);
}

// ---- replies -----------------------------------------------------------------

void TSMTP::CheckReply(const TReply& reply)
{
    const int code = reply.Code;
    if ((code >= 200 && code < 300) || code == 354)
        return;
    FTransferFailed = true;
    const std::string text = reply.Text();
    const std::string hint = RefusalHint(code, text);
    throw EMailError(hint.empty() ? text : text + "\n" + hint, code);
}

void TSMTP::LogReply(const TReply& reply)
{
    for (const std::string& line : reply.Lines)
        FSessionLog.Add(line);
}

TReply TSMTP::ReadReply()
{
    TReply reply = ReceiveReply();
    CheckReply(reply);
    LogReply(reply);
    return reply;
}

TReply TSMTP::ReceiveReply()
{
    StartTimeOut();
    bool partial = false;   // some of this reply arrived before the wait ended
    try {
        std::optional<TReply> reply;
        while (!(reply = TakeReply(partial)))
            partial = ReceiveMore() || partial;
        StopTimeOut();
        return std::move(*reply);
    } catch (...) {
        StopTimeOut();
        throw;
    }
}

std::optional<TReply> TSMTP::TakeReply(bool partial)
{
    if (FCanceled) {
        Close();
        throw ECanceledError();
    }
    TReplyScan scan = ParseReply(FInput);
    if (scan.State == TReplyState::Complete) {
        FInput.erase(0, scan.Consumed);
        return std::move(scan.Reply);
    }
    FTransferFailed = FTransferFailed || scan.State == TReplyState::Malformed || FInput.size() > MaxReplyBytes
                      || (FTimedOut && partial);
    if (scan.State == TReplyState::Malformed)
        throw EMailError("The server's reply is not SMTP: \"" + scan.Reply.Lines.front() + "\"");
    if (FInput.size() > MaxReplyBytes)
        throw EMailError("Server reply is longer than " + std::to_string(MaxReplyBytes) + " bytes");
    if (FTimedOut)
        throw ETimedOutError();
    return std::nullopt;
}

bool TSMTP::ReceiveMore()
{
    std::array<char, ReceiveChunkBytes> buffer;
    std::size_t n = 0;
    const TIo io = ReceiveSome(buffer.data(), buffer.size(), n);
    if (io == ioDone) {
        FInput.append(buffer.data(), n);
        return true;
    }
    if (io == ioClosed || io == ioFailed) {
        FTransferFailed = true;
        if (io == ioClosed)
            throw ESocketError("Connection closed by server", WSAECONNRESET);
        throw ESocketError(FIoError, FIoErrorNumber);
    }
    WaitForSocket(io);
    return false;
}
