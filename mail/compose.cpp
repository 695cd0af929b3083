// Message composition: what goes between DATA and the terminating ".":
// the header block (RFC 822), the text part and the attachment blocks
// (MIME, RFC 2045/2046, or UUencoded after the text).
#include "smtp.h"

#include "mime.h"
#include "streams.h"
#include "uucode.h"

#include <functional>


namespace {

// Bytes gathered before one write to the socket: large enough that a big
// attachment costs few system calls, small enough that each write finishes
// well inside one TimeOut on a slow link.
constexpr std::size_t SendBatchBytes = 256 * 1024;

// Header field names are padded with blanks to this width so that the
// values line up in column 11.
constexpr std::size_t HeaderNameWidth = 10;

std::string Field(std::string_view name)
{
    std::string text(name);
    text.resize(HeaderNameWidth, ' ');
    return text;
}

// A CR, LF or NUL would end the header line (or the command) early and let
// the value inject lines of its own: shown as a blank instead.
std::string Blanked(std::string_view value)
{
    std::string text(value);
    for (char& c : text)
        if (c == '\r' || c == '\n' || c == '\0')
            c = ' ';
    return text;
}

// "Display Name<address>" as the header fields carry it.
std::string Mailbox(std::string_view value)
{
    const auto [address, name] = SplitAddress(value);
    return Blanked(name) + "<" + address + ">";
}

void CheckAddress(std::string_view value)
{
    const std::string address = SplitAddress(value).first;
    if (address.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
        throw EMailError("Invalid address: " + Blanked(address));
}

// Gathers the lines of the message into large writes, puts the extra "."
// of RFC 821 transparency in front of lines that begin with one, and
// hands each full batch to the component's writer.
class TLineBatch {
public:
    explicit TLineBatch(std::function<void(std::string_view)> write) : FWrite(std::move(write))
    {
        FBuffer.reserve(SendBatchBytes + 1024);
    }
    void Line(std::string_view line)
    {
        if (line.starts_with('.'))
            FBuffer += '.';
        FBuffer.append(line).append("\r\n");
        if (FBuffer.size() >= SendBatchBytes)
            Flush();
    }
    void Terminator()
    {
        FBuffer.append(".\r\n");
        Flush();
    }
    void Flush()
    {
        if (FBuffer.empty())
            return;
        FWrite(FBuffer);
        FBuffer.clear();
    }

private:
    std::function<void(std::string_view)> FWrite;
    std::string FBuffer;
};

} // namespace

std::string NewBoundary()
{
    return MakeBoundary();
}

namespace {

// The name of an attachment in its headers: the part after the last "/".
std::string HeaderFileName(std::string_view path)
{
    const auto slash = path.rfind('/');
    return Blanked(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// The inside of an RFC 2045 quoted-string: '"' and '\' escaped.
std::string Quoted(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out;
}

bool IsTextType(std::string_view contentType)
{
    constexpr std::string_view Text = "TEXT/";
    if (contentType.size() < Text.size())
        return false;
    for (std::size_t i = 0; i < Text.size(); ++i) {
        char c = contentType[i];
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
        if (c != Text[i])
            return false;
    }
    return true;
}

std::string LowerAZ(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return text;
}

// Points the component at the running encoder's Canceled flag for as long
// as the encoder runs.
class TRunningEncoder {
public:
    TRunningEncoder(bool*& slot, bool& canceled) : FSlot(slot) { FSlot = &canceled; }
    ~TRunningEncoder() { FSlot = nullptr; }
    TRunningEncoder(const TRunningEncoder&) = delete;
    TRunningEncoder& operator=(const TRunningEncoder&) = delete;

private:
    bool*& FSlot;
};

} // namespace

void TSMTP::CheckAddresses(bool senderOnly) const
{
    CheckAddress(FFrom);
    if (senderOnly)
        return;
    CheckAddress(FRecipient);
    for (std::string_view value : FCC)
        CheckAddress(value);
    for (std::string_view value : FBCC)
        CheckAddress(value);
}

void TSMTP::EncodeBody()
{
    if (FCharSet == csUSASCII) {
        FMessageText.Assign(FBody);
        return;
    }
    TMemoryStream stream;
    for (std::string_view line : FBody) {
        stream.Write(line);
        stream.Write("\r\n");
    }
    stream.Seek(0);
    TStrings text;
    TQuotedPrintable encoder(stream, text);
    encoder.ProcessMessages = [] { ProcessMessages(); };
    encoder.Encode();
    FMessageText = std::move(text);
}

void TSMTP::EncodeAttachments()
{
    FHasAttachments = false;
    if (FAttachments.Empty())
        return;
    FEncodedAttachments.clear();
    SetStatus(msEncoding);
    try {
        for (std::size_t k = 0; k < FAttachments.Count(); ++k) {
            const bool last = k + 1 == FAttachments.Count();
            if (FEncoding == etMIME)
                EncodeMIMEBlock(k, last);
            else
                EncodeUUBlock(k, last);
        }
        FHasAttachments = true;
    } catch (const ECanceledError&) {
        FEncodedAttachments.clear();
        throw;
    } catch (...) {
        // The message goes out without its files, and says so.
        FEncodedAttachments.clear();
        FMessageText.Add("");
        FMessageText.Add("**" + std::to_string(FAttachments.Count()) + " file(s) were attached to this");
        FMessageText.Add("**message.  They could not be sent due to error during encoding");
        FTransferFailed = true;
    }
}

void TSMTP::EncodeMIMEBlock(std::size_t index, bool last)
{
    const std::string path(FAttachments[index]);
    const std::string contentType = GetContentType(path);
    const std::string name = Quoted(HeaderFileName(path));
    TFileStream file(path);
    auto block = std::make_unique<TEncodedBlock>();
    bool canceled = false;
    const bool text = IsTextType(contentType);
    if (text) {
        TQuotedPrintable encoder(file, block->Lines);
        encoder.ProcessMessages = [] { ProcessMessages(); };
        TRunningEncoder running(FEncoderCanceled, encoder.Canceled);
        encoder.Encode();
        canceled = encoder.Canceled;
    } else {
        TBase64 encoder(file, block->Lines);
        encoder.ProcessMessages = [] { ProcessMessages(); };
        encoder.OnProgress = [this](TProgressEncoder& sender) { SetProgress(sender.Progress); };
        TRunningEncoder running(FEncoderCanceled, encoder.Canceled);
        encoder.Encode();
        canceled = encoder.Canceled;
    }
    if (canceled)
        throw ECanceledError();
    block->Head.Add("--" + FBoundary);
    block->Head.Add("Content-Type: " + Blanked(contentType) + "; name=\"" + name + "\"");
    if (text) {
        block->Head.Add("Content-Transfer-Encoding: quoted-printable");
    } else {
        block->Head.Add("Content-Transfer-Encoding: base64");
        block->Head.Add("Content-Disposition: attachment; filename=\"" + name + "\"");
    }
    block->Head.Add("");
    block->Tail.Add("");
    if (last)
        block->Tail.Add("--" + FBoundary + "--");
    FEncodedAttachments.push_back(std::move(block));
}

void TSMTP::EncodeUUBlock(std::size_t index, bool last)
{
    const std::string path(FAttachments[index]);
    TFileStream file(path);
    auto block = std::make_unique<TEncodedBlock>();
    TUUCode encoder(file, block->Lines);
    encoder.ProcessMessages = [] { ProcessMessages(); };
    encoder.OnProgress = [this](TProgressEncoder& sender) { SetProgress(sender.Progress); };
    {
        TRunningEncoder running(FEncoderCanceled, encoder.Canceled);
        encoder.Encode();
    }
    if (encoder.Canceled)
        throw ECanceledError();
    block->Head.Add("begin 600 " + LowerAZ(HeaderFileName(path)));
    block->Tail.Add(TUUCode::FTable.substr(0, 1));
    block->Tail.Add("end");
    if (!last)
        block->Tail.Add("");
    FEncodedAttachments.push_back(std::move(block));
}

void TSMTP::SendHeaders()
{
    SetStatus(msSendingHeaders);
    auto send = [this](const std::string& line) { SendLine(line.starts_with('.') ? "." + line : line); };
    send(Field("From:") + Mailbox(FFrom));
    send(Field("To:") + Mailbox(FRecipient));
    for (std::size_t i = 0; i < FCC.Count(); ++i)
        send((i == 0 ? Field("CC:") : std::string(HeaderNameWidth, ' ')) + Mailbox(FCC[i])
             + (i + 1 < FCC.Count() ? "," : ""));
    if (FReturnReceipt)
        send("Return-Receipt-To: <" + SplitAddress(FFrom).first + ">");
    if (FPriority == ptLow)
        send("X-Priority: 5");
    else if (FPriority == ptHigh)
        send("X-Priority: 1");
    if (!FSubject.empty())
        send(Field("Subject:") + Blanked(FSubject));
    if (FEncoding == etUU) {
        if (FHasAttachments)
            send("X-Encoding:      UUENCODE");
        return;
    }
    send("Mime-Version: 1.0");
    if (FHasAttachments) {
        send("Content-Type: multipart/mixed; boundary=\"" + FBoundary + "\"");
        send("X-Encoding: MIME");
        send("");
        send("This is a multi-part message in MIME format.");
        send("");
        send("--" + FBoundary);
    }
    if (FCharSet == csUSASCII) {
        send("Content-Type: text/plain; charset=\"us-ascii\"");
        send("Content-Transfer-Encoding: 7bit");
    } else {
        send("Content-Type: text/plain; charset=\"iso-8859-1\"");
        send("Content-Transfer-Encoding: quoted-printable");
    }
}

void TSMTP::SendMessageText()
{
    TLineBatch out([this](std::string_view bytes) { SendData(bytes); });
    // A Cancel from a status or progress handler stops the message at once
    // rather than at the next full batch.
    auto checkCancel = [this] {
        if (!FCanceled)
            return;
        Close();
        throw ECanceledError();
    };
    SetStatus(msSendingBody);
    checkCancel();
    out.Line("");
    const std::size_t count = FMessageText.Count();
    for (std::size_t i = 0; i < count; ++i) {
        out.Line(FMessageText[i]);
        SetProgress(LineProgress(i, count));
        checkCancel();
    }
    if (FHasAttachments) {
        SetStatus(msSendingAttachments);
        ProcessMessages();
        checkCancel();
        for (const auto& block : FEncodedAttachments) {
            out.Line("");
            const std::size_t lines = block->Count();
            std::size_t index = 0;
            for (const TStrings* part : {&block->Head, &block->Lines, &block->Tail})
                for (std::string_view line : *part) {
                    out.Line(line);
                    SetProgress(LineProgress(index++, lines));
                    checkCancel();
                }
        }
    }
    out.Terminator();
}
