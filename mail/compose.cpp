// Message composition: what goes between DATA and the terminating ".":
// the header block (RFC 822), the text part and the attachment blocks
// (MIME, RFC 2045/2046, or UUencoded after the text).
#include "smtp.h"

#include "breakfinder.h"
#include "encoder.h"
#include "headers.h"
#include "mime.h"
#include "streams.h"
#include "uucode.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>
#include <sys/random.h>
#include <sys/stat.h>


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

// RFC 5321 4.5.3.1.3: a path is at most 256 octets with its angle
// brackets. It also keeps every address line far below 998 octets.
constexpr std::size_t MaxAddressLength = 254;

// Random bytes in a Message-ID: 128 bits make a clash between two messages
// of any sender negligible.
constexpr std::size_t MessageIdRandomBytes = 16;

// An address goes between "<" and ">" in the envelope: one that holds an
// angle bracket, a blank or a control character would end the path early
// and pass the rest on as command parameters ("bob@x> NOTIFY=NEVER").
void CheckAddress(std::string_view value)
{
    const std::string address = SplitAddress(value).first;
    const bool bad = std::any_of(address.begin(), address.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u <= ' ' || u == 0x7F || c == '<' || c == '>';
    });
    if (bad || address.size() > MaxAddressLength)
        throw EMailError("Invalid address: " + Blanked(address));
}

// ---- text bytes ----
// Text typed on this desktop is UTF-8; older files, settings and file
// names may be Latin-1. A value that is valid UTF-8 is taken as UTF-8,
// any other as Latin-1, so no byte turns into a replacement mark.

QByteArrayView View(std::string_view bytes)
{
    return QByteArrayView(bytes.data(), qsizetype(bytes.size()));
}

bool IsUtf8(std::string_view bytes)
{
    return View(bytes).isValidUtf8();
}

std::string Latin1ToUtf8(std::string_view bytes)
{
    QStringDecoder decoder(QStringConverter::Latin1);
    const QString text = decoder.decode(View(bytes));
    return text.toStdString();
}

std::string Utf8(std::string_view bytes)
{
    return IsUtf8(bytes) ? std::string(bytes) : Latin1ToUtf8(bytes);
}

// The Latin-1 bytes of UTF-8 `lines`, or nothing when a character lies
// beyond Latin-1 (which the encoder would turn into "?").
std::optional<TStrings> ToLatin1(const TStrings& lines)
{
    TStrings latin1;
    for (std::string_view line : lines) {
        const QString text = QString::fromUtf8(View(line));
        if (std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() > 0xFF; }))
            return std::nullopt;
        QStringEncoder encoder(QStringConverter::Latin1, QStringConverter::Flag::Stateless);
        const QByteArray bytes = encoder.encode(text);
        latin1.Add(std::string_view(bytes.constData(), std::size_t(bytes.size())));
    }
    return latin1;
}

// The lines as UTF-8, decided for the text as a whole.
TStrings ToUtf8(const TStrings& lines)
{
    const bool utf8 = std::all_of(lines.begin(), lines.end(), [](std::string_view line) { return IsUtf8(line); });
    if (utf8)
        return lines;
    TStrings converted;
    for (std::string_view line : lines)
        converted.Add(Latin1ToUtf8(line));
    return converted;
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

// The text part as it goes: its lines, charset label and transfer
// encoding.
struct TTextPart {
    TStrings Lines;
    std::string Charset = "us-ascii", Transfer = "7bit";
};

TStrings QuotedPrintableLines(const TStrings& lines, const TProcessMessages& pump)
{
    TMemoryStream stream;
    for (std::string_view line : lines) {
        stream.Write(line);
        stream.Write("\r\n");
    }
    stream.Seek(0);
    TStrings text;
    TQuotedPrintable encoder(stream, text);
    encoder.ProcessMessages = pump;
    encoder.Encode();
    return text;
}

// No text is lost or mislabelled, whatever the setting: ASCII goes as
// us-ascii 7bit (or, with ISO-8859-1 chosen, quoted-printable in that set,
// as always); text that the chosen set can carry goes in that set; all
// else as UTF-8 quoted-printable. A UU message has no MIME parts, so its
// text is labelled UTF-8 8bit only when it is not ASCII.
TTextPart EncodeText(const TStrings& lines, TCharSet charSet, TEncoding encoding, const TProcessMessages& pump)
{
    TTextPart part;
    const bool ascii = std::all_of(lines.begin(), lines.end(), [](std::string_view line) { return IsAscii(line); });
    if (ascii && (charSet != csISO8859 || encoding == etUU)) {
        part.Lines = lines;
        return part;
    }
    const TStrings utf8 = ToUtf8(lines);
    if (encoding == etUU) {
        part.Lines = utf8;
        part.Charset = "utf-8";
        part.Transfer = "8bit";
        return part;
    }
    part.Transfer = "quoted-printable";
    if (charSet == csISO8859) {
        if (const auto latin1 = ToLatin1(utf8)) {
            part.Lines = QuotedPrintableLines(*latin1, pump);
            part.Charset = "iso-8859-1";
            return part;
        }
    }
    part.Lines = QuotedPrintableLines(utf8, pump);
    part.Charset = "utf-8";
    return part;
}

// The text of a message whose files could not be encoded: the note says
// so, and names the file that failed and the cause ("PATH: REASON").
TStrings TextWithNote(const TStrings& body, std::size_t files, const std::string& failure)
{
    TStrings text = ToUtf8(body);
    text.Add("");
    text.Add("**" + std::to_string(files) + " file(s) were attached to this");
    text.Add("**message.  They could not be sent due to error during encoding");
    text.Add("**" + failure);
    return text;
}

// How a text/* file goes: quoted-printable only when decoding gives its
// bytes back (no NUL, UTF-8 or ASCII, breaks of one kind: all LF or all
// CR LF, no line too long for the encoder); base64 otherwise. A UTF-8 file
// with non-ASCII bytes is labelled so.
struct TTextForm {
    bool QuotedPrintable = false;
    bool Utf8 = false;
};

// Input scanned at once.
constexpr std::size_t ScanChunkBytes = 1024 * 1024;

// Where the last whole UTF-8 character of `bytes` ends: a sequence cut at
// the end waits for the next chunk.
std::size_t WholeCharactersEnd(std::string_view bytes)
{
    for (std::size_t back = 1; back <= std::min<std::size_t>(4, bytes.size()); ++back) {
        const auto c = static_cast<unsigned char>(bytes[bytes.size() - back]);
        if ((c & 0xC0) == 0x80)
            continue;
        const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        return length > back ? bytes.size() - back : bytes.size();
    }
    return bytes.size();
}

class TTextScanner {
public:
    void Add(std::string_view chunk)
    {
        FNul |= std::memchr(chunk.data(), 0, chunk.size()) != nullptr;
        const bool nonAscii = !IsAscii(chunk);
        FNonAscii |= nonAscii;
        AddBreaks(chunk);
        if (!nonAscii && FPending.empty())
            return;
        FPending.append(chunk);
        const std::size_t end = WholeCharactersEnd(FPending);
        FInvalid |= !IsUtf8(std::string_view(FPending).substr(0, end));
        FPending.erase(0, end);
    }
    TTextForm Finish() const
    {
        const bool invalid = FInvalid || !FPending.empty();
        const bool loneCR = FLoneCR || FPrevious == '\r';
        TTextForm form;
        form.Utf8 = FNonAscii && !invalid && !FNul;
        form.QuotedPrintable = !FNul && !invalid && !loneCR && !(FLF && FCRLF)
                            && std::max(FLongest, FLine) <= TQuotedPrintable::MaxLineLength;
        return form;
    }

private:
    // The kinds of line break and the longest line, break by break.
    void AddBreaks(std::string_view chunk)
    {
        if (chunk.empty())
            return;
        FLoneCR |= FPrevious == '\r' && chunk[0] != '\n';
        TBreakFinder breaks(chunk.data(), chunk.size());
        std::size_t start = 0;
        for (std::size_t at; (at = breaks.Next(start)) < chunk.size(); start = at + 1) {
            if (chunk[at] == '\r')
                FLoneCR |= at + 1 < chunk.size() && chunk[at + 1] != '\n';
            else
                ((at > 0 ? chunk[at - 1] : FPrevious) == '\r' ? FCRLF : FLF) = true;
            FLongest = std::max(FLongest, FLine + at - start);
            FLine = 0;
        }
        FLine += chunk.size() - start;
        FPrevious = chunk.back();
    }

    std::string FPending;   // an unfinished UTF-8 sequence
    char FPrevious = 0;
    bool FNul = false, FNonAscii = false, FInvalid = false, FLF = false, FCRLF = false, FLoneCR = false;
    std::size_t FLine = 0, FLongest = 0;
};

TTextForm ScanText(TStream& file)
{
    const std::uint64_t start = file.Position();
    std::vector<char> chunk(ScanChunkBytes);
    TTextScanner scanner;
    for (;;) {
        const std::size_t got = ReadUpTo(file, chunk.data(), chunk.size());
        scanner.Add(std::string_view(chunk.data(), got));
        if (got < chunk.size())
            break;
    }
    file.Seek(start);
    return scanner.Finish();
}

// A file to attach. Files of /proc and /sys report the size 0 and still
// have content: such a file is read to its end into memory.
std::unique_ptr<TStream> OpenAttachment(const std::string& path)
{
    auto file = std::make_unique<TFileStream>(path);
    if (file->Size() != 0)
        return file;
    std::string bytes;
    std::vector<char> chunk(ScanChunkBytes);
    while (const std::size_t got = file->Read(chunk.data(), chunk.size()))
        bytes.append(chunk.data(), got);
    return std::make_unique<TMemoryStream>(std::move(bytes));
}

// The part headers of a file: an ASCII name quoted as it always was; any
// other as RFC 2047 words in Content-Type (the only name older readers
// show) and as an RFC 2231 value in Content-Disposition.
void AddPartHeaders(TStrings& head, const std::string& type, const std::string& name, bool quotedPrintable)
{
    const bool ascii = IsAscii(name);
    auto addAll = [&head](const THeaderLines& lines) {
        for (const auto& line : lines)
            head.Add(line);
    };
    if (ascii) {
        head.Add("Content-Type: " + type + "; name=\"" + Quoted(name) + "\"");
    } else {
        head.Add("Content-Type: " + type + ";");
        addAll(FoldEncoded(" name=\"", name, "\""));
    }
    head.Add(quotedPrintable ? "Content-Transfer-Encoding: quoted-printable" : "Content-Transfer-Encoding: base64");
    if (quotedPrintable && ascii)
        return;
    if (ascii)
        head.Add("Content-Disposition: attachment; filename=\"" + Quoted(name) + "\"");
    else
        addAll(Rfc2231Lines("Content-Disposition: attachment;", "filename", name));
}

// Bytes that the spool needs for a file, at least: base64 lines of 76
// characters for 57 bytes, UU lines of 61 for 45, each with CR LF; a text
// file may go quoted-printable, which never shrinks it.
std::uint64_t SpoolBytes(const std::string& path, TEncoding encoding)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return 0;   // the encoding step reports what is wrong with it
    const auto size = std::uint64_t(info.st_size);
    if (encoding == etUU)
        return (size / 45 + 1) * 63;
    if (IsTextType(GetContentType(path)))
        return size;
    return (size / 57 + 1) * 78;
}

std::string GiB(std::uint64_t bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f GiB", double(bytes) / double(1ull << 30));
    return text;
}

// Raises EMailError when the temporary folder has less than `bytes` free.
void CheckRoom(std::uint64_t bytes)
{
    const auto free = TSpool::FreeBytes();
    if (!free || *free >= bytes)
        return;
    throw EMailError("Not enough room for the temporary file in " + TSpool::Folder() + ": " + GiB(bytes)
                     + " needed, " + GiB(*free) + " free. Free some space there, or set TMPDIR to a larger folder.");
}

std::string DateText(const QDateTime& now)
{
    const QDate date = now.date();
    const QTime time = now.time();
    return FormatDate({date.year(), date.month(), date.day(), time.hour(), time.minute(), time.second(),
                       date.dayOfWeek(), now.offsetFromUtc()});
}

// The system's CSPRNG.
void SystemRandomBytes(std::span<unsigned char> bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::getrandom(bytes.data() + done, bytes.size() - done, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw EMailError(std::string("Cannot get random bytes for the Message-ID: ") + std::strerror(errno));
        done += std::size_t(n);
    }
}

// Date (RFC 5322 3.6.1) and Message-ID (3.6.4), the latter in the
// sender's domain.
THeaderLines DateAndMessageId(const QDateTime& now, std::span<const unsigned char> random, std::string_view sender)
{
    const auto at = sender.rfind('@');
    const std::string_view domain = at == std::string_view::npos ? std::string_view() : sender.substr(at + 1);
    return {"Date: " + DateText(now), "Message-ID: " + MessageId(random, domain)};
}

// One mailbox header line or more: `head`, the display name, the address.
THeaderLines MailboxHeader(std::string_view head, std::string_view value, std::string_view tail = {})
{
    const auto [address, name] = SplitAddress(value);
    return MailboxLines(head, Utf8(Blanked(name)), address, tail);
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
    SetMessageText(FBody);
}

void TSMTP::SetMessageText(const TStrings& text)
{
    TTextPart part = EncodeText(text, FCharSet, FEncoding, [] { ProcessMessages(); });
    FMessageText = std::move(part.Lines);
    FTextCharset = part.Charset;
    FTextTransfer = part.Transfer;
}

void TSMTP::CheckSpoolRoom() const
{
    std::uint64_t largest = 0;
    for (std::string_view path : FAttachments)
        largest = std::max(largest, SpoolBytes(std::string(path), FEncoding));
    CheckRoom(largest);
}

void TSMTP::EncodeAttachments()
{
    FHasAttachments = false;
    if (FAttachments.Empty())
        return;
    FEncodedAttachments.clear();
    FSpool.Clear();
    std::uint64_t needed = 0;
    for (std::string_view path : FAttachments)
        needed += SpoolBytes(std::string(path), FEncoding);
    CheckRoom(needed);
    SetStatus(msEncoding);
    std::string failure;
    std::size_t k = 0;
    try {
        for (; k < FAttachments.Count(); ++k) {
            const bool last = k + 1 == FAttachments.Count();
            if (FEncoding == etMIME)
                EncodeMIMEBlock(k, last);
            else
                EncodeUUBlock(k, last);
        }
        FSpool.Flush();
        FHasAttachments = true;
        return;
    } catch (const ECanceledError&) {
        FEncodedAttachments.clear();
        FSpool.Release();
        throw;
    } catch (const std::exception& e) {
        failure = e.what();
    } catch (...) {
        failure = "unknown failure";
    }
    // The message goes out without its files, and says so: which file
    // failed and why.
    FEncodedAttachments.clear();
    FSpool.Release();
    failure = Utf8(Blanked(FAttachments[std::min(k, FAttachments.Count() - 1)])) + ": " + Utf8(Blanked(failure));
    SetMessageText(TextWithNote(FBody, FAttachments.Count(), failure));
    FEncodingFailures += (FEncodingFailures.empty() ? "" : "\r\n") + failure;
    FTransferFailed = true;
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
            // Slices end after a line break, so no line and no CR LF is
            // split: after a LF, or after a CR that no LF follows.
            const auto feed = pending.rfind('\n');
            const auto cr = pending.size() < 2 ? std::string::npos : pending.rfind('\r', pending.size() - 2);
            if (feed == std::string::npos && cr == std::string::npos)
                continue;
            cut = std::max(feed == std::string::npos ? 0 : feed + 1, cr == std::string::npos ? 0 : cr + 1);
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
    const std::string contentType = Blanked(GetContentType(path));
    const std::string name = Utf8(HeaderFileName(path));
    const std::unique_ptr<TStream> file = OpenAttachment(path);
    auto block = std::make_unique<TEncodedBlock>();
    block->Offset = FSpool.Size();
    const TTextForm form = IsTextType(contentType) ? ScanText(*file) : TTextForm{};
    if (form.QuotedPrintable)
        SpoolQuotedPrintable(*file, *block);
    else
        SpoolEncoded<TBase64>(*file, TBase64::LineBytes, *block);
    block->Bytes = FSpool.Size() - block->Offset;
    block->Head.Add("--" + FBoundary);
    AddPartHeaders(block->Head, contentType + (form.Utf8 ? "; charset=utf-8" : ""), name, form.QuotedPrintable);
    block->Head.Add("");
    // A block ends with an empty line, and the sending step puts another
    // before the next block. Only the CR LF just before a boundary belongs
    // to the boundary (RFC 2046, 5.1.1), so in front of a following block
    // the second break would reach the reader as one more line at the end
    // of a quoted-printable text; a base64 decoder skips it.
    if (!form.QuotedPrintable || last)
        block->Tail.Add("");
    if (last)
        block->Tail.Add("--" + FBoundary + "--");
    FEncodedAttachments.push_back(std::move(block));
}

void TSMTP::EncodeUUBlock(std::size_t index, bool last)
{
    const std::string path(FAttachments[index]);
    const std::unique_ptr<TStream> file = OpenAttachment(path);
    auto block = std::make_unique<TEncodedBlock>();
    block->Offset = FSpool.Size();
    const std::uint64_t size = RemainingBytes(*file);
    SpoolEncoded<TUUCode>(*file, TUUCode::BlockSize, *block);
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
    auto sendAll = [&send](const THeaderLines& lines) {
        for (const auto& line : lines)
            send(line);
    };
    sendAll(MailboxHeader(Field("From:"), FFrom));
    sendAll(MailboxHeader(Field("To:"), FRecipient));
    for (std::size_t i = 0; i < FCC.Count(); ++i)
        sendAll(MailboxHeader(i == 0 ? Field("CC:") : std::string(HeaderNameWidth, ' '), FCC[i],
                              i + 1 < FCC.Count() ? "," : ""));
    std::array<unsigned char, MessageIdRandomBytes> random{};
    (RandomBytes ? RandomBytes : SystemRandomBytes)(random);
    const std::string sender = SplitAddress(FFrom).first;
    sendAll(DateAndMessageId(Clock ? Clock() : QDateTime::currentDateTime(), random, sender));
    if (FReturnReceipt)
        send("Return-Receipt-To: <" + sender + ">");
    if (FPriority == ptLow)
        send("X-Priority: 5");
    else if (FPriority == ptHigh)
        send("X-Priority: 1");
    if (!FSubject.empty())
        sendAll(TextLines(Field("Subject:"), Utf8(Blanked(FSubject))));
    const std::string textType = "Content-Type: text/plain; charset=\"" + FTextCharset + "\"";
    const std::string textTransfer = "Content-Transfer-Encoding: " + FTextTransfer;
    if (FEncoding == etUU) {
        if (FTextTransfer != "7bit") {
            send("Mime-Version: 1.0");
            send(textType);
            send(textTransfer);
        }
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
    send(textType);
    send(textTransfer);
}

int TSMTP::Close()
{
    FSpool.Release();
    return TMailBase::Close();
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
    // The message is out: its temporary file goes at once (on tmpfs it is
    // memory).
    FSpool.Release();
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
