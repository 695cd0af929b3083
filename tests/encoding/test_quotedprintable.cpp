#include "mime.h"

#include "test_streams.h"
#include "tstrings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using TLines = std::vector<std::string>;

namespace {

std::string Escaped(const std::string& piece, bool hardEnd)
{
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < piece.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(piece[i]);
        const bool lastSpace = hardEnd && c == ' ' && i + 1 == piece.size();
        if (c < 0x20 || c == '=' || c >= 0x80 || lastSpace)
            out += std::string("=") + hex[c >> 4] + hex[c & 15];
        else
            out += char(c);
    }
    return out;
}

// The rules written out slowly, byte by byte.
void ReferenceLine(const std::string& line, bool hardEnd, TLines& out)
{
    std::size_t start = 0;
    for (;;) {
        const std::size_t remaining = line.size() - start;
        if (remaining < 65) {
            out.push_back(Escaped(line.substr(start), hardEnd) + (hardEnd ? "" : "="));
            return;
        }
        std::size_t length = 65;
        for (std::size_t offset = 65; offset >= 1; --offset) {
            if (offset < remaining && line[start + offset] == ' ') {
                length = offset;
                break;
            }
        }
        out.push_back(Escaped(line.substr(start, length), false) + "=");
        start += length;
    }
}

TLines ReferenceQP(const std::string& text)
{
    TLines out;
    std::string line;
    bool endedWithBreak = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        endedWithBreak = c == '\r' || c == '\n';
        if (!endedWithBreak) {
            line += c;
            continue;
        }
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        ReferenceLine(line, true, out);
        line.clear();
    }
    if (!endedWithBreak)
        ReferenceLine(line, false, out);
    return out;
}

TLines EncodeQP(TStream& input, TStrings output = {})
{
    TQuotedPrintable(input, output).Encode();
    return output.ToVector();
}

TLines EncodeQP(const std::string& text)
{
    TMemoryStream input(text);
    return EncodeQP(input);
}

std::string Words(std::size_t length)
{
    std::string text;
    for (std::size_t i = 0; text.size() < length; ++i)
        text += (i % 5 == 4) ? ' ' : char('a' + i % 26);
    text.resize(length);
    return text;
}

} // namespace

struct TQPCase {
    const char* name;
    std::string input;
    TLines lines;
};

TEST(TQuotedPrintable, LineBreaksAndEscapes)
{
    const std::vector<TQPCase> cases = {
        {"escape of =", "a=b\r\n", {"a=3Db"}},
        {"TAB", "a\tb\n", {"a=09b"}},
        {"Latin-1", "caf\xE9\n", {"caf=E9"}},
        {"zero byte keeps the rest", std::string("a\0b\n", 4), {"a=00b"}},
        {"CR LF is one break", "one\r\ntwo\r\n", {"one", "two"}},
        {"LF ends a line", "one\ntwo\n", {"one", "two"}},
        {"CR ends a line", "one\rtwo\r", {"one", "two"}},
        {"LF LF keeps the blank line", "a\n\nb\n", {"a", "", "b"}},
        {"CR CR keeps the blank line", "a\r\rb\r", {"a", "", "b"}},
        {"LF CR is two breaks", "a\n\rb\n", {"a", "", "b"}},
        {"CR LF CR LF", "a\r\n\r\nb\r\n", {"a", "", "b"}},
        {"mixed ends", "a\r\nb\nc\rd\n", {"a", "b", "c", "d"}},
        {"no final break ends softly", "abc", {"abc="}},
        {"empty input", "", {"="}},
        {"a lone break", "\n", {""}},
        {"a lone CR LF", "\r\n", {""}},
        {"two blank lines", "\n\n", {"", ""}},
        {"trailing space before a hard break", "ab  \n", {"ab =20"}},
        {"line of spaces", "   \r\n", {"  =20"}},
        {"trailing space before the soft end", "ab  ", {"ab  ="}},
        {"dot line stays", ".\n..\n", {".", ".."}},
        {"equals at the end", "x=\n", {"x=3D"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EncodeQP(c.input), c.lines) << c.name;
        EXPECT_EQ(ReferenceQP(c.input), c.lines) << "reference: " << c.name;
    }
}

TEST(TQuotedPrintable, WrapsAtSpacesWithinSixtyFiveCharacters)
{
    const std::string line = Words(79) + "q";
    const TLines lines = EncodeQP(line + "\n");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].back(), '=');
    EXPECT_LE(lines[0].size() - 1, 65u);
    EXPECT_EQ(lines[1][0], ' ');
    EXPECT_EQ(lines[0].substr(0, lines[0].size() - 1) + lines[1], line);
}

TEST(TQuotedPrintable, WrapsLongWordsAtSixtyFive)
{
    const std::string word(80, 'x');
    EXPECT_EQ(EncodeQP(word + "\n"), (TLines{std::string(65, 'x') + "=", std::string(15, 'x')}));
    EXPECT_EQ(EncodeQP(std::string(65, 'y') + "\n"), (TLines{std::string(65, 'y') + "=", ""}));
    EXPECT_EQ(EncodeQP(std::string(64, 'z') + "\n"), (TLines{std::string(64, 'z')}));
    // A space at offset 65 ends a full piece; the next begins with it.
    const std::string cut = std::string(65, 'a') + " b";
    EXPECT_EQ(EncodeQP(cut + "\n"), (TLines{std::string(65, 'a') + "=", " b"}));
}

TEST(TQuotedPrintable, EscapesCountTowardsTheLineNotTheWrap)
{
    const std::string line(70, '=');
    EXPECT_EQ(EncodeQP(line + "\n"), ReferenceQP(line + "\n"));
    const TLines lines = EncodeQP(line + "\n");
    EXPECT_EQ(lines[0].size(), 65u * 3 + 1);
}

TEST(TQuotedPrintable, MatchesTheReferenceOnMixedText)
{
    // Lines of every length and ending, spaces and escapes, crossing the
    // encoder's 256 KiB read chunks (CR LF pairs split between reads).
    std::mt19937 random(9);
    const char* ends[] = {"\n", "\r\n", "\r", "\n\r", "\r\r", "\n\n"};
    std::string text;
    while (text.size() < 700000) {
        const std::size_t length = random() % 200;
        for (std::size_t i = 0; i < length; ++i) {
            const unsigned r = random() % 100;
            text += r < 15 ? ' ' : r < 17 ? '=' : r < 18 ? '\t' : r < 20 ? char(0xA0 + r) : char('a' + r % 26);
        }
        text += ends[random() % 6];
    }
    for (std::size_t cut : {std::size_t(262143), std::size_t(262144), std::size_t(262145), text.size() - 1, text.size()}) {
        std::string part = text.substr(0, cut);
        part[std::min(cut, part.size()) - 1] = '\r';   // a CR at the end of a read
        ASSERT_EQ(EncodeQP(part), ReferenceQP(part)) << cut;
        TShortReadStream shortReads(part + "\nend");
        ASSERT_EQ(EncodeQP(shortReads), ReferenceQP(part + "\nend")) << cut;
    }
}

TEST(TQuotedPrintable, AppendsToOutput)
{
    TMemoryStream input("new\n");
    EXPECT_EQ(EncodeQP(input, TStrings{"kept"}), (TLines{"kept", "new"}));
}

TEST(TQuotedPrintable, ParagraphLimitIs24575Characters)
{
    const std::string longest(TQuotedPrintable::MaxLineLength, 'x');
    EXPECT_EQ(EncodeQP(longest + "\n"), ReferenceQP(longest + "\n"));
    EXPECT_EQ(EncodeQP(longest), ReferenceQP(longest));

    for (const std::string& tail : {std::string("\n"), std::string()}) {
        TMemoryStream input("first\n" + std::string(24576, 'x') + tail + "never\n");
        TStrings output;
        try {
            TQuotedPrintable(input, output).Encode();
            ADD_FAILURE() << "no error for a 24576-character line";
        } catch (const EMIMEError& e) {
            EXPECT_STREQ(e.what(), "Paragraph is too large");
        }
        EXPECT_EQ(output.ToVector(), (TLines{"first"}));
    }
}

TEST(TQuotedPrintable, OverlongLineAcrossReadChunksIsRefused)
{
    std::string text;
    while (text.size() < 250000)
        text += Words(70) + "\r\n";
    text += std::string(30000, 'y') + "\n";
    TMemoryStream input(text);
    TStrings output;
    EXPECT_THROW(TQuotedPrintable(input, output).Encode(), EMIMEError);
    EXPECT_EQ(output.Count(), ReferenceQP(text.substr(0, text.size() - 30001)).size());
}

TEST(TQuotedPrintable, CancelStopsAfterTheCurrentLineAndKeepsLines)
{
    TMemoryStream input("one\ntwo\nthree\n");
    TStrings output;
    TQuotedPrintable encoder(input, output);
    int pumped = 0;
    encoder.ProcessMessages = [&] { ++pumped; encoder.Canceled = true; };
    encoder.Encode();
    EXPECT_EQ(pumped, 1);
    EXPECT_EQ(output.ToVector(), (TLines{"one"}));
}

TEST(TQuotedPrintable, ReadErrorsPropagate)
{
    TFailingStream failing("one\ntwo\n" + std::string(300000, 'z'), 5);
    TStrings output;
    EXPECT_THROW(TQuotedPrintable(failing, output).Encode(), EReadError);
    TShrunkStream shrunk("one\n", 10);
    EXPECT_THROW(TQuotedPrintable(shrunk, output).Encode(), EReadError);
}

TEST(TQuotedPrintable, WrapLineAndEscapeLine)
{
    TStrings pieces{"stale"};
    TQuotedPrintable::WrapLine(Words(80), 65, pieces);
    EXPECT_EQ(pieces.ToVector(), ReferenceQP(Words(80) + "\n"));
    TQuotedPrintable::WrapLine("abcdef", 4, pieces);
    EXPECT_EQ(pieces.ToVector(), (TLines{"abcd=", "ef"}));
    std::string piece = "a=b\t\xFF c";
    TQuotedPrintable::EscapeLine(piece);
    EXPECT_EQ(piece, "a=3Db=09=FF c");
}

TEST(TQuotedPrintable, MessagePumpRunsButNotPerByte)
{
    std::string text;
    while (text.size() < (1 << 20))
        text += Words(70) + "\n";
    TMemoryStream input(text);
    TStrings output;
    TQuotedPrintable encoder(input, output);
    std::size_t pumped = 0;
    encoder.ProcessMessages = [&] { ++pumped; };
    encoder.Encode();
    EXPECT_GE(pumped, 1u);
    EXPECT_LE(pumped, text.size() / TEncoderPump::ClockCheckBytes + 1);
    EXPECT_EQ(output.ToVector(), ReferenceQP(text));
}
