#include "mime.h"

#include "breakfinder.h"
#include "sixbit.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

// ---------------------------------------------------------------- base64

namespace {

constexpr TPairTable Base64Pairs(TBase64::Alphabet, TSixBitAlphabet::Base64);

// Input read at once: about 114 KiB, whole lines, so that reads are few and
// the buffer stays in the cache.
constexpr std::size_t Base64ChunkLines = 2048;

constexpr std::size_t Base64RestLength(std::size_t count)
{
    return (count + 2) / 3 * 4;
}

} // namespace

void TBase64::EncodeInput()
{
    FCarryCount = 0;
    const std::uint64_t expected = RemainingBytes(FInput);
    const std::uint64_t fullLines = expected / LineBytes;
    FOutput.Reserve(std::size_t(fullLines * LineLength + Base64RestLength(expected % LineBytes)),
                    std::size_t(fullLines + 1));
    const std::uint64_t step = std::max<std::uint64_t>(expected / 100, 1);
    std::uint64_t nextReport = step;
    std::uint64_t consumed = 0;
    std::vector<std::uint8_t> chunk(Base64ChunkLines * LineBytes);
    TEncoderPump pump(ProcessMessages);
    for (;;) {
        const std::size_t got = ReadUpTo(FInput, chunk.data(), chunk.size());
        std::size_t pos = 0;
        while (pos < got) {
            const std::size_t take = std::size_t(std::min<std::uint64_t>(got - pos, nextReport - consumed));
            AddBytes(chunk.data() + pos, take);
            pos += take;
            consumed += take;
            if (consumed == nextReport) {
                Progress = Percent(consumed, expected);
                DoProgress();
                nextReport += step;
            }
            pump.Worked(take);
            if (Canceled)
                return;
        }
        if (got < chunk.size())
            break;
    }
    CheckReadComplete(consumed, expected);
    AddRestLine();
}

void TBase64::AddBytes(const std::uint8_t* bytes, std::size_t count)
{
    if (FCarryCount > 0) {
        const std::size_t take = std::min(count, LineBytes - FCarryCount);
        std::memcpy(FCarry.data() + FCarryCount, bytes, take);
        FCarryCount += take;
        bytes += take;
        count -= take;
        if (FCarryCount < LineBytes)
            return;
        Base64Pairs.EncodeGroups(FCarry.data(), LineBytes / 3, FOutput.AddUninitialized(LineLength));
        FCarryCount = 0;
    }
    for (; count >= LineBytes; bytes += LineBytes, count -= LineBytes)
        Base64Pairs.EncodeGroups(bytes, LineBytes / 3, FOutput.AddUninitialized(LineLength));
    std::memcpy(FCarry.data(), bytes, count);
    FCarryCount = count;
}

void TBase64::AddRestLine()
{
    char* out = FOutput.AddUninitialized(Base64RestLength(FCarryCount));
    const std::uint8_t* in = FCarry.data();
    out = Base64Pairs.EncodeGroups(in, FCarryCount / 3, out);
    in += FCarryCount / 3 * 3;
    switch (FCarryCount % 3) {
    case 1:
        out[0] = Alphabet[in[0] >> 2];
        out[1] = Alphabet[(in[0] & 3) << 4];
        out[2] = out[3] = '=';
        break;
    case 2:
        out[0] = Alphabet[in[0] >> 2];
        out[1] = Alphabet[(in[0] & 3) << 4 | in[1] >> 4];
        out[2] = Alphabet[(in[1] & 15) << 2];
        out[3] = '=';
        break;
    }
    FCarryCount = 0;
}

// ------------------------------------------------------ quoted-printable

namespace {

// Input read at once.
constexpr std::size_t QPChunkSize = 256 * 1024;

constexpr char HexDigits[] = "0123456789ABCDEF";

constexpr std::array<bool, 256> MakeEscapeTable()
{
    std::array<bool, 256> table{};
    for (int b = 0; b < 256; ++b)
        table[b] = b < 0x20 || b == '=' || b >= 0x7F;
    return table;
}
constexpr std::array<bool, 256> MustEscape = MakeEscapeTable();

enum class TLineEnd { Hard, Soft };

// Eight bytes at a time: non-zero when any of them must be escaped (may
// flag a byte falsely only when another one of the eight is flagged truly).
constexpr std::uint64_t EachByte = 0x0101010101010101u;
constexpr std::uint64_t HighBits = 0x8080808080808080u;

std::uint64_t LoadWord(const char* bytes)
{
    std::uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

bool AnyToEscape(std::uint64_t x)
{
    const std::uint64_t control = (x - EachByte * 0x20) & ~x;      // below 0x20
    const std::uint64_t equals = x ^ (EachByte * '=');
    const std::uint64_t isEquals = (equals - EachByte) & ~equals;  // "="
    const std::uint64_t isDelete = (x & ~HighBits) + EachByte;     // 0x7F (no carry between bytes)
    return ((control | isEquals | isDelete | x) & HighBits) != 0;  // x: 0x80..0xFF
}

// The text of every byte, padded to four characters for whole-word
// stores, with its length in the last one: the byte itself or its escape.
constexpr std::array<std::array<char, 4>, 256> MakeEscapeTexts()
{
    std::array<std::array<char, 4>, 256> texts{};
    for (int b = 0; b < 256; ++b) {
        if (MustEscape[b])
            texts[b] = {'=', HexDigits[b >> 4], HexDigits[b & 15], 3};
        else
            texts[b] = {char(b), 0, 0, 1};
    }
    return texts;
}
constexpr std::array<std::array<char, 4>, 256> EscapeTexts = MakeEscapeTexts();

// Room that WriteEscaped may write past the end of its result.
constexpr std::size_t EscapeSlack = 4;

char* WriteEscape(unsigned char c, char* out)
{
    out[0] = '=';
    out[1] = HexDigits[c >> 4];
    out[2] = HexDigits[c & 15];
    return out + 3;
}

char* WriteEscapedBytes(const char* bytes, std::size_t count, char* out)
{
    for (std::size_t i = 0; i < count; ++i) {
        const auto& text = EscapeTexts[static_cast<unsigned char>(bytes[i])];
        std::memcpy(out, text.data(), 4);
        out += text[3];
    }
    return out;
}

// Writes `text` escaped to `out`, which holds 3 * size + EscapeSlack bytes;
// returns the end of what was written.
char* WriteEscaped(std::string_view text, char* out)
{
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        const std::uint64_t word = LoadWord(text.data() + i);
        if (AnyToEscape(word)) {
            out = WriteEscapedBytes(text.data() + i, 8, out);
        } else {
            std::memcpy(out, &word, 8);
            out += 8;
        }
    }
    return WriteEscapedBytes(text.data() + i, text.size() - i, out);
}

// RFC 2045 6.7 (5): encoded lines are at most 76 characters long.
constexpr std::size_t MaxEncodedLine = 76;

// Escaped text too long for one line: cut before each escape that would
// take a line past 75 characters, each cut line ending with the soft
// break. Every "=" in escaped text begins an escape of three characters.
void AppendCutLines(const char* text, std::size_t length, bool softBreak, TStrings& out)
{
    constexpr std::size_t Width = MaxEncodedLine - 1;
    while (length > Width) {
        std::size_t cut = Width;
        if (text[cut - 1] == '=')
            cut -= 1;
        else if (text[cut - 2] == '=')
            cut -= 2;
        char* line = out.AddUninitialized(cut + 1);
        std::memcpy(line, text, cut);
        line[cut] = '=';
        text += cut;
        length -= cut;
    }
    char* line = out.AddUninitialized(length + (softBreak ? 1 : 0));
    std::memcpy(line, text, length);
    if (softBreak)
        line[length] = '=';
}

// One encoded line: the escaped piece, then "=" for a soft break; a space
// that would end the line before a hard break becomes "=20".
void AppendPiece(std::string_view piece, bool softBreak, TStrings& out)
{
    const bool spaceAtEnd = !softBreak && !piece.empty() && piece.back() == ' ';
    if (spaceAtEnd)
        piece.remove_suffix(1);
    char local[3 * TQuotedPrintable::WrapWidth + EscapeSlack + 4];
    std::string large;
    char* buffer = local;
    if (piece.size() > TQuotedPrintable::WrapWidth) {
        large.resize(3 * piece.size() + EscapeSlack + 4);
        buffer = large.data();
    }
    char* end = WriteEscaped(piece, buffer);
    if (spaceAtEnd)
        end = WriteEscape(' ', end);
    const auto escaped = std::size_t(end - buffer);
    if (escaped + (softBreak ? 1 : 0) > MaxEncodedLine)
        return AppendCutLines(buffer, escaped, softBreak, out);
    if (softBreak)
        *end++ = '=';
    std::memcpy(out.AddUninitialized(escaped + (softBreak ? 1 : 0)), buffer, escaped + (softBreak ? 1 : 0));
}

// Where a piece starting at `start` ends: just before the last space at
// offsets width..1 (the end of the line counting as no space), else after
// `width` characters.
std::size_t PieceLength(std::string_view rest, std::size_t width)
{
    const std::size_t last = std::min(width, rest.size() - 1);
    const void* space = last > 0 ? ::memrchr(rest.data() + 1, ' ', last) : nullptr;
    return space ? std::size_t(static_cast<const char*>(space) - rest.data()) : width;
}

void AppendEncodedLine(std::string_view line, std::size_t width, TLineEnd end, TStrings& out)
{
    width = std::max<std::size_t>(width, 1);
    for (;;) {
        if (line.size() < width) {
            AppendPiece(line, end == TLineEnd::Soft, out);
            return;
        }
        const std::size_t length = PieceLength(line, width);
        AppendPiece(line.substr(0, length), true, out);
        line.remove_prefix(length);
    }
}

void CheckLineLength(std::size_t length)
{
    if (length > TQuotedPrintable::MaxLineLength)
        throw EMIMEError();
}

} // namespace

void TQuotedPrintable::WrapLine(std::string_view line, std::size_t width, TStrings& pieces)
{
    pieces.Clear();
    AppendEncodedLine(line, width, TLineEnd::Hard, pieces);
}

void TQuotedPrintable::EscapeLine(std::string& piece)
{
    std::string escaped(3 * piece.size() + EscapeSlack, '\0');
    escaped.resize(std::size_t(WriteEscaped(piece, escaped.data()) - escaped.data()));
    piece = std::move(escaped);
}

namespace {

// Cuts the text into lines as it arrives in chunks: CR LF, a lone CR and a
// lone LF each end one line, also when a CR LF pair is split between two
// chunks; each finished line goes out encoded at once.
class TQPLineCutter {
public:
    TQPLineCutter(TStrings& output, const TProcessMessages& pump, const bool& canceled)
        : FOutput(output), FPump(pump), FCanceled(canceled) {}

    // Returns false when Canceled was found set after a line.
    bool Add(std::string_view chunk)
    {
        std::size_t pos = FSkipLineFeed && !chunk.empty() && chunk[0] == '\n' ? 1 : 0;
        FSkipLineFeed = false;
        TBreakFinder breaks(chunk.data(), chunk.size());
        while (pos < chunk.size()) {
            const std::size_t at = breaks.Next(pos);
            if (at == chunk.size()) {   // the line goes on in the next chunk
                Hold(chunk.substr(pos));
                FEndedWithBreak = false;
                return true;
            }
            const std::size_t next = BreakEnd(chunk, at);
            EndLine(chunk.substr(pos, at - pos));
            FPump.Worked(next - pos);
            pos = next;
            if (FCanceled)
                return false;
        }
        return true;
    }

    // The text has ended: a last line without a break ends with a soft
    // break, so that decoding adds no break of its own.
    void Finish()
    {
        if (!FHeld.empty() || !FEndedWithBreak)
            AppendEncodedLine(FHeld, TQuotedPrintable::WrapWidth, TLineEnd::Soft, FOutput);
    }

private:
    void Hold(std::string_view part)
    {
        CheckLineLength(FHeld.size() + part.size());
        FHeld.append(part);
    }

    // Just past the break at `at`; a CR that ends the chunk may be the
    // first half of a CR LF.
    std::size_t BreakEnd(std::string_view chunk, std::size_t at)
    {
        std::size_t next = at + 1;
        if (chunk[at] == '\r') {
            if (next < chunk.size() && chunk[next] == '\n')
                ++next;
            else if (next == chunk.size())
                FSkipLineFeed = true;
        }
        return next;
    }

    void EndLine(std::string_view part)
    {
        std::string_view line = part;
        if (!FHeld.empty()) {
            Hold(part);
            line = FHeld;
        }
        CheckLineLength(line.size());
        AppendEncodedLine(line, TQuotedPrintable::WrapWidth, TLineEnd::Hard, FOutput);
        FHeld.clear();
        FEndedWithBreak = true;
    }

    TStrings& FOutput;
    TEncoderPump FPump;
    const bool& FCanceled;
    std::string FHeld;              // the start of a line begun in an earlier chunk
    bool FSkipLineFeed = false;     // the previous chunk ended with a CR
    bool FEndedWithBreak = false;
};

} // namespace

void TQuotedPrintable::Encode()
{
    const std::uint64_t expected = RemainingBytes(FInput);
    // Text grows little; untouched reserve costs address space only.
    FOutput.Reserve(std::size_t(expected + expected / 4), std::size_t(expected / 32 + 1));
    std::vector<char> chunk(QPChunkSize);
    TQPLineCutter lines(FOutput, ProcessMessages, Canceled);
    std::uint64_t consumed = 0;
    for (;;) {
        const std::size_t got = ReadUpTo(FInput, chunk.data(), chunk.size());
        consumed += got;
        if (!lines.Add(std::string_view(chunk.data(), got)))
            return;
        if (got < chunk.size())
            break;
    }
    CheckReadComplete(consumed, expected);
    lines.Finish();
}

// --------------------------------------------------------- content types

namespace {

std::string LowerAscii(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return lower;
}

std::optional<TContentTypeTable>& CurrentTable()
{
    static std::optional<TContentTypeTable> table;
    return table;
}

} // namespace

TContentTypeTable TContentTypeTable::Parse(std::string_view text)
{
    TContentTypeTable table;
    std::istringstream lines{std::string(text)};
    std::string line;
    while (std::getline(lines, line)) {
        line = line.substr(0, line.find('#'));
        std::istringstream words(line);
        std::string type, extension;
        if (!(words >> type))
            continue;
        while (words >> extension)
            table.FTypes.emplace(LowerAscii(extension), type);   // the first entry wins
    }
    return table;
}

TContentTypeTable TContentTypeTable::Load(const std::string& fileName)
{
    std::ifstream file(fileName, std::ios::binary);
    if (!file)
        return {};
    std::ostringstream text;
    text << file.rdbuf();
    return Parse(text.str());
}

std::string_view TContentTypeTable::Find(std::string_view dottedExtension) const
{
    if (dottedExtension.size() < 2 || dottedExtension[0] != '.')
        return {};
    const auto it = FTypes.find(LowerAscii(dottedExtension.substr(1)));
    return it == FTypes.end() ? std::string_view{} : std::string_view(it->second);
}

std::string_view FileExtension(std::string_view fileName)
{
    const std::size_t slash = fileName.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? fileName : fileName.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string_view{} : name.substr(dot);
}

std::string GetContentType(std::string_view fileName, const TContentTypeTable& table)
{
    const std::string_view type = table.Find(FileExtension(fileName));
    return std::string(type.empty() ? DefaultContentType : type);
}

std::string GetContentType(std::string_view fileName)
{
    auto& table = CurrentTable();
    if (!table)
        table = TContentTypeTable::Load(SystemMimeTypesFile);
    return GetContentType(fileName, *table);
}

void SetContentTypeTable(TContentTypeTable table)
{
    CurrentTable() = std::move(table);
}

void SetContentTypeTable(std::string_view mimeTypesText)
{
    SetContentTypeTable(TContentTypeTable::Parse(mimeTypesText));
}

// -------------------------------------------------------------- boundary

namespace {

// A 32-bit linear congruential generator; Draw(n) scales the state to 0..n-1.
class TRandom {
public:
    explicit TRandom(std::uint32_t seed) : FState(seed) {}
    std::uint32_t Draw(std::uint32_t range)
    {
        FState = FState * 134775813u + 1u;
        return std::uint32_t((std::uint64_t(FState) * range) >> 32);
    }

private:
    std::uint32_t FState;
};

constexpr std::uint32_t BoundaryDigits = 9;   // "0".."8"

} // namespace

std::string MakeBoundary(std::uint32_t millisecondsSinceMidnight)
{
    TRandom random(millisecondsSinceMidnight);
    std::string boundary;
    for (std::size_t i = 0; i < BoundaryLength; ++i)
        boundary += char('0' + random.Draw(BoundaryDigits));
    return boundary;
}

std::uint32_t MillisecondsSinceMidnight()
{
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    return std::uint32_t(((local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec) * 1000 + millis);
}

std::string MakeBoundary()
{
    return MakeBoundary(MillisecondsSinceMidnight());
}
