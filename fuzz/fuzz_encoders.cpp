// The encoders: whatever the input and however the stream splits its reads,
// decoding the output gives the input back (quoted-printable: with every
// line break as CR LF), and no line is longer than its format allows.
#include "fuzz_check.h"
#include "mime.h"
#include "uucode.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace {
// RFC 2045: encoded lines of at most 76 characters.
constexpr std::size_t kMaxMimeLine = 76;

// A stream in memory whose reads stop short, at sizes the first input byte
// picks, as a pipe or a slow disk may.
class TChoppyStream : public TStream {
public:
    TChoppyStream(std::string_view data, std::uint8_t pattern) : FData(data), FPattern(pattern) {}
    std::size_t Read(void* buffer, std::size_t count) override
    {
        static constexpr std::array<std::size_t, 8> kSizes{1, 2, 3, 5, 7, 44, 46, 57};
        const std::size_t step = kSizes[(FPattern + FReads++) % kSizes.size()];
        const std::size_t n = std::min({count, step, FData.size() - FPosition});
        std::memcpy(buffer, FData.data() + FPosition, n);
        FPosition += n;
        return n;
    }
    std::uint64_t Size() const override { return FData.size(); }
    std::uint64_t Position() const override { return FPosition; }
    void Seek(std::uint64_t position) override { FPosition = std::min<std::uint64_t>(position, FData.size()); }

private:
    std::string_view FData;
    std::uint8_t FPattern;
    std::size_t FPosition = 0;
    std::size_t FReads = 0;
};

std::string DecodeBase64(const TStrings& lines)
{
    static constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::uint32_t bits = 0;
    int count = 0;
    for (std::string_view line : lines) {
        FuzzCheck(line.size() <= kMaxMimeLine, "base64 line too long");
        for (char c : line.substr(0, line.find('='))) {
            const auto value = kAlphabet.find(c);
            FuzzCheck(value != std::string_view::npos, "not a base64 character");
            bits = (bits << 6) | std::uint32_t(value);
            if ((count += 6) >= 8)
                out += char((bits >> (count -= 8)) & 0xFF);
        }
    }
    return out;
}

std::string DecodeUU(const TStrings& lines)
{
    std::string out;
    for (std::string_view line : lines) {
        FuzzCheck(!line.empty() && line.size() <= TUUCode::FullLineLength, "bad uuencoded line");
        const std::size_t length = (line[0] - ' ') & 0x3F;
        std::string bytes;
        for (std::size_t i = 1; i < line.size() && bytes.size() < length; i += 4) {
            std::uint32_t group = 0;
            for (std::size_t k = 0; k < 4; ++k)
                group = (group << 6) | (i + k < line.size() ? std::uint32_t((line[i + k] - ' ') & 0x3F) : 0);
            for (int shift = 16; shift >= 0; shift -= 8)
                bytes += char((group >> shift) & 0xFF);
        }
        FuzzCheck(bytes.size() >= length, "uuencoded line shorter than its length");
        out.append(bytes, 0, length);
    }
    return out;
}

int HexValue(char c)
{
    return c >= '0' && c <= '9' ? c - '0' : (c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1);
}

std::string DecodeQuotedPrintable(const TStrings& lines)
{
    std::string out;
    for (std::string_view line : lines) {
        FuzzCheck(line.size() <= kMaxMimeLine, "quoted-printable line too long");
        const bool soft = !line.empty() && line.back() == '=';
        if (soft)
            line.remove_suffix(1);
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (line[i] != '=') {
                out += line[i];
                continue;
            }
            FuzzCheck(i + 2 < line.size(), "cut escape");
            const int high = HexValue(line[i + 1]), low = HexValue(line[i + 2]);
            FuzzCheck(high >= 0 && low >= 0, "bad escape");
            out += char(high * 16 + low);
            i += 2;
        }
        if (!soft)
            out += "\r\n";
    }
    return out;
}

// Every CR LF, lone CR and lone LF as CR LF; the longest line on the way.
std::string CrLfText(std::string_view data, std::size_t& longest)
{
    std::string text;
    std::size_t line = 0;
    longest = 0;
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (data[i] == '\r' || data[i] == '\n') {
            text += "\r\n";
            longest = std::max(longest, line);
            line = 0;
            if (data[i] == '\r' && i + 1 < data.size() && data[i + 1] == '\n')
                ++i;
            continue;
        }
        text += data[i];
        ++line;
    }
    longest = std::max(longest, line);
    return text;
}

template <class TEncoder>
TStrings Encoded(std::string_view data, std::uint8_t pattern)
{
    TChoppyStream input(data, pattern);
    TStrings output;
    TEncoder encoder(input, output);
    encoder.Encode();
    return output;
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::uint8_t pattern = bytes[0];
    const std::string_view data(reinterpret_cast<const char*>(bytes) + 1, size - 1);
    FuzzCheck(DecodeBase64(Encoded<TBase64>(data, pattern)) == data, "base64 round trip");
    FuzzCheck(DecodeUU(Encoded<TUUCode>(data, pattern)) == data, "uuencode round trip");
    std::size_t longest = 0;
    const std::string text = CrLfText(data, longest);
    try {
        FuzzCheck(DecodeQuotedPrintable(Encoded<TQuotedPrintable>(data, pattern)) == text, "quoted-printable round trip");
        FuzzCheck(longest <= TQuotedPrintable::MaxLineLength, "an over-long line was taken");
    } catch (const EMIMEError&) {
        FuzzCheck(longest > TQuotedPrintable::MaxLineLength, "a line that fits was refused");
    }
    return 0;
}
