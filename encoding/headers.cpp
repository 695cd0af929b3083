#include "headers.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

namespace {

constexpr std::string_view QPrefix = "=?utf-8?Q?";
constexpr std::string_view BPrefix = "=?utf-8?B?";
constexpr std::string_view WordSuffix = "?=";
constexpr std::size_t WordOverhead = QPrefix.size() + WordSuffix.size();
// The longest UTF-8 sequence (4 bytes) as Q, with its word's frame: any
// word width below this may not hold even one character.
constexpr std::size_t MinWordWidth = WordOverhead + 4 * 3;

constexpr char Hex[] = "0123456789ABCDEF";
constexpr std::string_view Base64Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
// RFC 2045 tspecials and the characters that RFC 2231 keeps out of an
// attribute-char: these are percent-escaped in a parameter value.
constexpr std::string_view ParameterSpecials = "()<>@,;:\\\"/[]?=*'% ";
constexpr std::string_view Specials = ",;:\"<>@()[]\\";

bool IsContinuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// The characters of `text`: a lead byte with the continuation bytes after it.
std::vector<std::string_view> Characters(std::string_view text)
{
    std::vector<std::string_view> characters;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t end = i + 1;
        while (end < text.size() && IsContinuation(static_cast<unsigned char>(text[end])))
            ++end;
        characters.push_back(text.substr(i, end - i));
        i = end;
    }
    return characters;
}

// RFC 2047 5(3): the characters that a Q word in a phrase may carry bare.
bool IsQSafe(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '!' || c == '*'
        || c == '+' || c == '-' || c == '/';
}

void AppendQ(std::string_view bytes, std::string& out)
{
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == ' ')
            out += '_';
        else if (IsQSafe(c))
            out += ch;
        else
            out.append({'=', Hex[c >> 4], Hex[c & 15]});
    }
}

std::string Base64(std::string_view bytes)
{
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 3; ++k)
            group = group << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        for (std::size_t k = 0; k < 4; ++k)
            out += k <= n ? Base64Alphabet[(group >> (18 - 6 * k)) & 63] : '=';
    }
    return out;
}

std::size_t Base64Length(std::size_t bytes)
{
    return (bytes + 2) / 3 * 4;
}

// Packs whole characters into words of one kind; `encodedLength` gives the
// length of a run of bytes in that encoding.
template <class TLength, class TEncode>
std::vector<std::string> PackWords(const std::vector<std::string_view>& characters, std::size_t firstWidth,
                                   std::size_t width, TLength encodedLength, TEncode encode)
{
    std::vector<std::string> words;
    std::size_t start = 0;   // first character of the word being filled
    while (start < characters.size()) {
        const std::size_t room = std::min(words.empty() ? firstWidth : width, MaxEncodedWord) - WordOverhead;
        std::size_t end = start, bytes = 0;
        // A character that fits no word on its own still gets one.
        while (end < characters.size()
               && (end == start || encodedLength(bytes + characters[end].size(), characters, start, end) <= room)) {
            bytes += characters[end].size();
            ++end;
        }
        const std::string_view run(characters[start].data(), bytes);
        words.push_back(encode(run));
        start = end;
    }
    return words;
}

std::size_t TotalLength(const std::vector<std::string>& words)
{
    std::size_t total = 0;
    for (const auto& word : words)
        total += word.size();
    return total;
}

bool IsAtext(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
        || std::string_view("!#$%&'*+-/=?^_`{|}~").find(c) != std::string_view::npos;
}

// RFC 5322 3.2.3: atoms joined by single dots.
bool IsDotAtom(std::string_view text)
{
    if (text.empty() || text.front() == '.' || text.back() == '.' || text.find("..") != std::string_view::npos)
        return false;
    return std::all_of(text.begin(), text.end(), [](char c) { return c == '.' || IsAtext(c); });
}

} // namespace

bool IsAscii(std::string_view text)
{
    // Eight bytes at a time: whole files are scanned with this.
    constexpr std::uint64_t HighBits = 0x8080808080808080u;
    std::size_t i = 0;
    for (std::uint64_t word; i + sizeof word <= text.size(); i += sizeof word) {
        std::memcpy(&word, text.data() + i, sizeof word);
        if (word & HighBits)
            return false;
    }
    return std::all_of(text.begin() + i, text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool NeedsEncoding(std::string_view text)
{
    const bool control = std::any_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return (u < 0x20 && c != '\t') || u == 0x7F;
    });
    return control || !IsAscii(text) || text.find("=?") != std::string_view::npos;
}

std::vector<std::string> EncodeWords(std::string_view text, std::size_t firstWidth, std::size_t width)
{
    const auto characters = Characters(text);
    auto qLength = [](std::size_t, const std::vector<std::string_view>& chars, std::size_t start, std::size_t end) {
        std::string q;
        for (std::size_t i = start; i <= end; ++i)
            AppendQ(chars[i], q);
        return q.size();
    };
    auto bLength = [](std::size_t bytes, const auto&, std::size_t, std::size_t) { return Base64Length(bytes); };
    auto q = PackWords(characters, firstWidth, width, qLength, [](std::string_view run) {
        std::string word(QPrefix);
        AppendQ(run, word);
        return word.append(WordSuffix);
    });
    auto b = PackWords(characters, firstWidth, width, bLength, [](std::string_view run) {
        return std::string(BPrefix).append(Base64(run)).append(WordSuffix);
    });
    return TotalLength(b) < TotalLength(q) ? b : q;
}

THeaderLines FoldEncoded(std::string_view head, std::string_view text, std::string_view tail)
{
    THeaderLines lines;
    std::size_t firstWidth = EncodedLineWidth - std::min(EncodedLineWidth, head.size() + tail.size());
    if (firstWidth < MinWordWidth) {
        // No room beside the head: the words begin on the next line.
        lines.emplace_back(head);
        firstWidth = 0;
    }
    const std::size_t width = EncodedLineWidth - 1 - tail.size();
    const auto words = EncodeWords(text, lines.empty() ? firstWidth : width, width);
    for (const auto& word : words)
        lines.push_back((lines.empty() ? std::string(head) : std::string(" ")) + word);
    if (lines.empty())
        lines.emplace_back(head);
    lines.back() += tail;
    return lines;
}

bool HasSpecials(std::string_view name)
{
    return name.find_first_of(Specials) != std::string_view::npos;
}

std::string QuoteDisplayName(std::string_view name)
{
    std::string out = "\"";
    for (const char c : name) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

THeaderLines MailboxLines(std::string_view head, std::string_view name, std::string_view address,
                          std::string_view tail)
{
    const std::string mailbox = "<" + std::string(address) + ">" + std::string(tail);
    if (!NeedsEncoding(name)) {
        const std::string shown = HasSpecials(name) ? QuoteDisplayName(name) : std::string(name);
        const std::string line = std::string(head) + shown + mailbox;
        if (line.size() <= MaxHeaderLine)
            return {line};
    }
    THeaderLines lines = FoldEncoded(head, name);
    if (lines.back().size() + 1 + mailbox.size() <= FoldWidth)
        lines.back() += " " + mailbox;
    else
        lines.push_back(" " + mailbox);
    return lines;
}

THeaderLines TextLines(std::string_view head, std::string_view text)
{
    if (!NeedsEncoding(text) && head.size() + text.size() <= MaxHeaderLine)
        return {std::string(head) + std::string(text)};
    return FoldEncoded(head, text);
}

THeaderLines Rfc2231Lines(std::string_view head, std::string_view name, std::string_view value)
{
    // Each character percent-escaped as a whole, so that no segment ends
    // inside a character (readers that decode segment by segment exist).
    std::vector<std::string> pieces;
    for (const std::string_view character : Characters(value)) {
        std::string piece;
        for (const char ch : character) {
            const auto c = static_cast<unsigned char>(ch);
            if (c < 0x21 || c > 0x7E || ParameterSpecials.find(ch) != std::string_view::npos)
                piece.append({'%', Hex[c >> 4], Hex[c & 15]});
            else
                piece += ch;
        }
        pieces.push_back(std::move(piece));
    }
    constexpr std::string_view Charset = "utf-8''";
    std::string whole(head);
    whole.append(" ").append(name).append("*=").append(Charset);
    for (const auto& piece : pieces)
        whole += piece;
    if (whole.size() <= FoldWidth)
        return {whole};
    THeaderLines lines{std::string(head)};
    std::size_t next = 0;
    for (int segment = 0; next < pieces.size(); ++segment) {
        std::string line = " " + std::string(name) + "*" + std::to_string(segment) + "*=" + (segment == 0 ? std::string(Charset) : "");
        // Room for the ";" that joins it to the next segment; at least one
        // character per segment.
        for (bool first = true; next < pieces.size() && (first || line.size() + pieces[next].size() + 1 <= FoldWidth);
             first = false)
            line += pieces[next++];
        lines.push_back(line + (next < pieces.size() ? ";" : ""));
    }
    return lines;
}

std::string FormatDate(const TDateTimeFields& t)
{
    static constexpr std::array<const char*, 7> Days = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static constexpr std::array<const char*, 12> Months = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const int minutes = (t.OffsetSeconds < 0 ? -t.OffsetSeconds : t.OffsetSeconds) / 60;
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02d%02d", Days[std::size_t(t.DayOfWeek - 1) % 7],
                  t.Day, Months[std::size_t(t.Month - 1) % 12], t.Year, t.Hour, t.Minute, t.Second,
                  t.OffsetSeconds < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return text;
}

std::string MessageId(std::span<const unsigned char> random, std::string_view domain)
{
    std::string id = "<";
    for (const unsigned char c : random)
        id.append({Hex[c >> 4], Hex[c & 15]});
    id += "@";
    id.append(IsDotAtom(domain) ? domain : NoDomain);
    return id + ">";
}
