#include "mime.h"

#include "test_streams.h"

#include <gtest/gtest.h>

namespace {

// The rules written out slowly, byte by byte: escapes, "=20" for a space
// ending a line before a hard break, pieces of at most 65 input characters
// cut before the last space within them, and cut again before the escape
// that would take the line past 75 characters and its soft break.
std::string Escaped(const std::string& piece, bool hardEnd)
{
    std::string out;
    for (std::size_t i = 0; i < piece.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(piece[i]);
        if (c < 0x20 || c == '=' || c >= 0x7F || (hardEnd && c == ' ' && i + 1 == piece.size()))
            out += std::string("=") + "0123456789ABCDEF"[c >> 4] + "0123456789ABCDEF"[c & 15];
        else
            out += char(c);
    }
    return out;
}

void AddPiece(TLines& out, const std::string& piece, bool soft, bool hardEnd)
{
    std::string line = Escaped(piece, hardEnd) + (soft ? "=" : "");
    if (line.size() <= 76)
        return out.push_back(line);
    line.clear();
    for (std::size_t i = 0; i < piece.size(); ++i) {
        const std::string escape = Escaped(piece.substr(i, 1), hardEnd && i + 1 == piece.size());
        if (line.size() + escape.size() > 75) {
            out.push_back(line + "=");
            line.clear();
        }
        line += escape;
    }
    out.push_back(line + (soft ? "=" : ""));
}

TLines ReferenceQP(const std::string& text)
{
    TLines out;
    for (std::size_t start = 0;;) {
        const std::size_t end = std::min(text.find_first_of("\r\n", start), text.size());
        const bool hardEnd = end < text.size();
        std::string line = text.substr(start, end - start);
        while (line.size() >= 65) {
            const std::size_t space = line.find_last_of(' ', 65);
            const std::size_t length = space != std::string::npos && space > 0 ? space : 65;
            AddPiece(out, line.substr(0, length), true, false);
            line.erase(0, length);
        }
        AddPiece(out, line, !hardEnd, hardEnd);
        start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        if (!hardEnd || start == text.size())
            return out;
    }
}

std::string Repeat(const std::string& piece, int times)
{
    std::string text;
    while (times-- > 0)
        text += piece;
    return text;
}

} // namespace

// Quoted-printable reports no progress: the shared suite of the other encoders does not apply.
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(ProgressEncoder);

TEST(TQuotedPrintable, LineBreaksEscapesAndWraps)
{
    const std::string x65(65, 'x');
    const std::vector<std::tuple<const char*, std::string, TLines>> cases = {
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
        {"mixed ends", "a\r\nb\nc\rd\n", {"a", "b", "c", "d"}},
        {"no final break ends softly", "abc", {"abc="}},
        {"empty input", "", {"="}},
        {"a lone CR LF", "\r\n", {""}},
        {"two blank lines", "\n\n", {"", ""}},
        {"trailing space before a hard break", "ab  \n", {"ab =20"}},
        {"trailing space before the soft end", "ab  ", {"ab  ="}},
        {"dot lines stay", ".\n..\n", {".", ".."}},
        {"wrap before the last space", std::string(60, 'a') + " " + std::string(10, 'b') + "\n",
         {std::string(60, 'a') + "=", " bbbbbbbbbb"}},
        {"a space at offset 65 begins the next piece", x65 + " b\n", {x65 + "=", " b"}},
        {"long word cut at 65", std::string(80, 'x') + "\n", {x65 + "=", std::string(15, 'x')}},
        {"65 characters end with an empty piece", x65 + "\n", {x65 + "=", ""}},
        {"64 characters fit", std::string(64, 'x') + "\n", {std::string(64, 'x')}},
        {"escaped lines cut at 76 characters", std::string(70, '=') + "\n",
         {Repeat("=3D", 25) + "=", Repeat("=3D", 25) + "=", Repeat("=3D", 15) + "=", Repeat("=3D", 5)}},
        {"five escapes in 65 still fit 76", std::string(60, 'x') + Repeat("\xE9", 5) + "y\n",
         {std::string(60, 'x') + Repeat("=E9", 5) + "=", "y"}},
        {"a sixth escape is cut off", std::string(59, 'x') + Repeat("\xE9", 6) + "y\n",
         {std::string(59, 'x') + Repeat("=E9", 5) + "=", "=E9=", "y"}},
        {"DEL", "a\x7F\n", {"a=7F"}},
    };
    for (const auto& [name, input, lines] : cases) {
        EXPECT_EQ(Encode<TQuotedPrintable>(input), lines) << name;
        EXPECT_EQ(ReferenceQP(input), lines) << "reference: " << name;
    }
}

TEST(TQuotedPrintable, MatchesTheReferenceOnMixedTextAndPumpsButNotPerByte)
{
    // Lines of every length and ending, spaces and escapes, crossing the
    // encoder's 256 KiB read chunks (CR LF pairs split between reads).
    std::mt19937 random(9);
    const char* ends[] = {"\n", "\r\n", "\r", "\n\r", "\r\r", "\n\n"};
    std::string text;
    while (text.size() < 700000) {
        for (std::size_t i = 0, length = random() % 200; i < length; ++i) {
            const unsigned r = random() % 100;
            text += r < 15 ? ' ' : r < 17 ? '=' : r < 18 ? '\t' : r < 20 ? char(0xA0 + r) : char('a' + r % 26);
        }
        text += ends[random() % 6];
    }
    for (std::size_t cut : {std::size_t(262143), std::size_t(262144), std::size_t(262145), text.size()}) {
        std::string part = text.substr(0, cut);
        part.back() = '\r';   // a CR at the end of a read
        ASSERT_EQ(Encode<TQuotedPrintable>(part), ReferenceQP(part)) << cut;
        TShortReadStream shortReads(part + "\nend");
        ASSERT_EQ(Encode<TQuotedPrintable>(shortReads), ReferenceQP(part + "\nend")) << cut;
    }
    TMemoryStream input(text);
    TStrings output;
    TQuotedPrintable encoder(input, output);
    std::size_t pumped = 0;
    encoder.ProcessMessages = [&] { ++pumped; };
    encoder.Encode();
    EXPECT_GE(pumped, 1u);
    EXPECT_LE(pumped, text.size() / TEncoderPump::ClockCheckBytes + 1);
}

TEST(TQuotedPrintable, AppendsToOutputAndHelpersWorkAlone)
{
    TMemoryStream input("new\n");
    EXPECT_EQ(Encode<TQuotedPrintable>(input, TStrings{"kept"}), (TLines{"kept", "new"}));
    TStrings pieces{"stale"};
    TQuotedPrintable::WrapLine("abcdef ", 4, pieces);
    EXPECT_EQ(pieces.ToVector(), (TLines{"abcd=", "ef=20"}));
    std::string piece = "a=b\t\xFF c";
    TQuotedPrintable::EscapeLine(piece);
    EXPECT_EQ(piece, "a=3Db=09=FF c");
}

TEST(TQuotedPrintable, ParagraphLimitIs24575Characters)
{
    const std::string longest(TQuotedPrintable::MaxLineLength, 'x');
    EXPECT_EQ(Encode<TQuotedPrintable>(longest + "\n"), ReferenceQP(longest + "\n"));
    EXPECT_EQ(Encode<TQuotedPrintable>(longest), ReferenceQP(longest));
    // One more, at the end or before other lines, also across read chunks:
    // the lines before it stay.
    const std::string manyLines = Repeat(Repeat("word ", 14) + "\r\n", 3500);
    for (const auto& before : {std::string("first\n"), manyLines}) {
        for (const std::string& tail : {std::string("\n"), std::string()}) {
            TMemoryStream input(before + std::string(24576, 'x') + tail + "never\n");
            TStrings output;
            try {
                TQuotedPrintable(input, output).Encode();
                ADD_FAILURE() << "no error for a 24576-character line";
            } catch (const EMIMEError& e) {
                EXPECT_STREQ(e.what(), "Paragraph is too large");
            }
            EXPECT_EQ(output.ToVector(), ReferenceQP(before));
        }
    }
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
    EXPECT_THROW(Encode<TQuotedPrintable>(failing), EReadError);
    TShrunkStream shrunk("one\n", 10);
    EXPECT_THROW(Encode<TQuotedPrintable>(shrunk), EReadError);
}
