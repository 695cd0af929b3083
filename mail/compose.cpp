// Message composition: what goes between DATA and the terminating ".":
// the header block (RFC 822), the text part and the attachment blocks
// (MIME, RFC 2045/2046, or UUencoded after the text).
#include "smtp.h"

#include "encoder.h"
#include "mime.h"
#include "streams.h"
#include "uucode.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>


namespace {

// Bytes gathered before one write to the socket: large enough that a big
// attachment costs few system calls, small enough that each write finishes
// well inside one TimeOut on a slow link.
constexpr std::size_t SendBatchBytes = 256 * 1024;

// Input bytes encoded in one step into memory before they go to the spool:
// large enough that the steps cost nothing, small beside any attachment
// worth spooling.
constexpr std::size_t SliceBytes = 4 * 1024 * 1024;

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

// A window of `length` bytes of `base` from `start`, as a stream of its own.
class TSlice : public TStream {
public:
    TSlice(TStream& base, std::uint64_t start, std::uint64_t length) : FBase(base), FStart(start), FLength(length)
    {
        FBase.Seek(start);
    }
    std::size_t Read(void* buffer, std::size_t count) override
    {
        const std::uint64_t left = FLength - FPosition;
        const std::size_t n = FBase.Read(buffer, std::size_t(std::min<std::uint64_t>(count, left)));
        FPosition += n;
        return n;
    }
    std::uint64_t Size() const override { return FLength; }
    std::uint64_t Position() const override { return FPosition; }
    void Seek(std::uint64_t position) override
    {
        FBase.Seek(FStart + position);
        FPosition = position;
    }

private:
    TStream& FBase;
    std::uint64_t FStart, FLength, FPosition = 0;
};

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
    FSpool.Clear();
    SetStatus(msEncoding);
    try {
        for (std::size_t k = 0; k < FAttachments.Count(); ++k) {
            const bool last = k + 1 == FAttachments.Count();
            if (FEncoding == etMIME)
                EncodeMIMEBlock(k, last);
            else
                EncodeUUBlock(k, last);
        }
        FSpool.Flush();
        FHasAttachments = true;
    } catch (const ECanceledError&) {
        FEncodedAttachments.clear();
        FSpool.Clear();
        throw;
    } catch (...) {
        // The message goes out without its files, and says so.
        FEncodedAttachments.clear();
        FSpool.Clear();
        FMessageText.Add("");
        FMessageText.Add("**" + std::to_string(FAttachments.Count()) + " file(s) were attached to this");
        FMessageText.Add("**message.  They could not be sent due to error during encoding");
        FTransferFailed = true;
    }
}

template <class TEncoder>
void TSMTP::SpoolEncoded(TStream& file, std::size_t unit, TEncodedBlock& block)
{
    const std::uint64_t total = RemainingBytes(file);
    const std::uint64_t sliceBytes = SliceBytes / unit * unit;
    const std::uint64_t base = file.Position();
    std::uint64_t start = 0;
    TStrings lines;
    do {
        std::uint64_t length = total - start;
        const bool final = length <= sliceBytes;
        if (!final) {
            length = sliceBytes;
            // The last slice keeps a whole unit before a short one: the
            // UU encoder fills a short line from the block before it.
            if (total - start - length < unit)
                length -= unit;
        }
        TSlice slice(file, base + start, length);
        TEncoder encoder(slice, lines);
        encoder.ProcessMessages = [] { ProcessMessages(); };
        encoder.OnProgress = [this, start, length, total](TProgressEncoder& sender) {
            const std::uint64_t done = start + length * std::uint64_t(sender.Progress) / 100;
            SetProgress(total == 0 ? sender.Progress : int(done * 100 / total));
        };
        {
            TRunningEncoder running(FEncoderCanceled, encoder.Canceled);
            encoder.Encode();
        }
        if (encoder.Canceled)
            throw ECanceledError();
        // A slice that is a whole number of units ends with a line for
        // "nothing more" (base64's empty rest line, UU's zero-length line),
        // which only the end of the file may have.
        const std::size_t keep = final ? lines.Count() : lines.Count() - 1;
        FSpool.Add(lines, keep);
        block.LineCount += keep;
        start += length;
    } while (start < total);
}

void TSMTP::SpoolQuotedPrintable(TStream& file, TEncodedBlock& block)
{
    std::string pending;
    std::vector<char> chunk(SliceBytes);
    TStrings lines;
    bool encodedAny = false;
    for (;;) {
        const std::size_t got = ReadUpTo(file, chunk.data(), chunk.size());
        pending.append(chunk.data(), got);
        const bool end = got < chunk.size();
        std::size_t cut = pending.size();
        if (!end) {
            // Slices end after a line feed, so no line and no CR LF is split.
            const auto feed = pending.rfind('\n');
            if (feed == std::string::npos)
                continue;
            cut = feed + 1;
        }
        // An empty last slice adds nothing, unless the file itself is empty.
        if (cut > 0 || !encodedAny) {
            TMemoryStream part(pending.substr(0, cut));
            lines.Clear();
            TQuotedPrintable encoder(part, lines);
            encoder.ProcessMessages = [] { ProcessMessages(); };
            {
                TRunningEncoder running(FEncoderCanceled, encoder.Canceled);
                encoder.Encode();
            }
            if (encoder.Canceled)
                throw ECanceledError();
            FSpool.Add(lines, lines.Count());
            block.LineCount += lines.Count();
            encodedAny = true;
            pending.erase(0, cut);
        }
        if (end)
            return;
    }
}

void TSMTP::EncodeMIMEBlock(std::size_t index, bool last)
{
    const std::string path(FAttachments[index]);
    const std::string contentType = GetContentType(path);
    const std::string name = Quoted(HeaderFileName(path));
    TFileStream file(path);
    auto block = std::make_unique<TEncodedBlock>();
    block->Offset = FSpool.Size();
    const bool text = IsTextType(contentType);
    if (text)
        SpoolQuotedPrintable(file, *block);
    else
        SpoolEncoded<TBase64>(file, TBase64::LineBytes, *block);
    block->Bytes = FSpool.Size() - block->Offset;
    block->Head.Add("--" + FBoundary);
    block->Head.Add("Content-Type: " + Blanked(contentType) + "; name=\"" + name + "\"");
    if (text) {
        block->Head.Add("Content-Transfer-Encoding: quoted-printable");
    } else {
        block->Head.Add("Content-Transfer-Encoding: base64");
        block->Head.Add("Content-Disposition: attachment; filename=\"" + name + "\"");
    }
    block->Head.Add("");
    // A block ends with an empty line, and the sending step puts another
    // before the next block. Only the CR LF just before a boundary belongs
    // to the boundary (RFC 2046, 5.1.1), so in front of a following block
    // the second break would reach the reader as one more line at the end
    // of a quoted-printable text; a base64 decoder skips it.
    if (!text || last)
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
    block->Offset = FSpool.Size();
    const std::uint64_t size = RemainingBytes(file);
    SpoolEncoded<TUUCode>(file, TUUCode::BlockSize, *block);
    block->Bytes = FSpool.Size() - block->Offset;
    block->Head.Add("begin 600 " + LowerAZ(HeaderFileName(path)));
    // A file of whole 45-byte blocks already ends with the encoder's
    // zero-length line; uudecode wants "end" right after the first one and
    // fails on a second.
    if (size % TUUCode::BlockSize != 0)
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
            auto sendLines = [&](const TStrings& part) {
                for (std::string_view line : part) {
                    out.Line(line);
                    SetProgress(LineProgress(index++, lines));
                    checkCancel();
                }
            };
            sendLines(block->Head);
            out.Flush();
            SendSpooled(*block, index, lines);
            sendLines(block->Tail);
        }
    }
    out.Terminator();
}

void TSMTP::SendSpooled(const TEncodedBlock& block, std::size_t& index, std::size_t lines)
{
    std::vector<char> buffer(SendBatchBytes);
    std::uint64_t offset = block.Offset;
    const std::uint64_t end = block.Offset + block.Bytes;
    while (offset < end) {
        std::size_t n = 0;
        try {
            n = FSpool.ReadAt(offset, buffer.data(), std::size_t(std::min<std::uint64_t>(buffer.size(), end - offset)));
        } catch (const EStreamError& e) {
            FTransferFailed = true;
            throw EMailError(e.what());
        }
        if (n == 0) {
            FTransferFailed = true;
            throw EMailError("The temporary file of the attachments ended early");
        }
        // Progress after each line, as the lines are handed on.
        const char* p = buffer.data();
        const char* const stop = buffer.data() + n;
        while ((p = static_cast<const char*>(std::memchr(p, '\n', std::size_t(stop - p)))) != nullptr) {
            ++p;
            SetProgress(LineProgress(index++, lines));
            if (FCanceled) {
                Close();
                throw ECanceledError();
            }
        }
        SendData(std::string_view(buffer.data(), n));
        offset += n;
    }
}
