#include "textcodec.h"

#include "tstrings.h"

namespace {
// The length of the UTF-8 sequence that starts at `lead`, 0 when `lead`
// cannot start one (RFC 3629: no overlong forms, nothing past U+10FFFF).
std::size_t SequenceLength(unsigned char lead)
{
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

bool IsContinuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// Decodes the sequence at `i` (already validated) and advances past it.
char32_t NextCodePoint(std::string_view bytes, std::size_t& i)
{
    const auto lead = static_cast<unsigned char>(bytes[i]);
    const std::size_t length = SequenceLength(lead);
    char32_t value = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k)
        value = (value << 6) | (static_cast<unsigned char>(bytes[i + k]) & 0x3F);
    i += length;
    return value;
}
}

bool IsValidUtf8(std::string_view bytes)
{
    for (std::size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const std::size_t length = SequenceLength(lead);
        if (length == 0 || i + length > bytes.size())
            return false;
        for (std::size_t k = 1; k < length; ++k)
            if (!IsContinuation(static_cast<unsigned char>(bytes[i + k])))
                return false;
        const auto second = length > 1 ? static_cast<unsigned char>(bytes[i + 1]) : 0;
        if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F)    // overlong, surrogates
            || (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F)) // overlong, > U+10FFFF
            return false;
        i += length;
    }
    return true;
}

QString DecodeText(std::string_view bytes)
{
    const auto size = qsizetype(bytes.size());
    return IsValidUtf8(bytes) ? QString::fromUtf8(bytes.data(), size) : QString::fromLatin1(bytes.data(), size);
}

std::string Latin1FromUtf8(std::string_view line)
{
    if (!IsValidUtf8(line))
        return std::string(line);
    std::string latin1;
    latin1.reserve(line.size());
    for (std::size_t i = 0; i < line.size();) {
        const char32_t c = NextCodePoint(line, i);
        latin1 += c <= 0xFF ? static_cast<char>(c) : '?';
    }
    return latin1;
}

void ConvertToLatin1(TStrings& lines)
{
    for (std::size_t i = 0; i < lines.Count(); ++i) {
        const std::string converted = Latin1FromUtf8(lines[i]);
        if (converted != lines[i])
            lines.Put(i, converted);
    }
}
