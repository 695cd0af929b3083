// Header values: encoded words, folding, quoted names, RFC 2231 file
// names, Date and Message-ID.
#include "headers.h"

#include <gtest/gtest.h>

namespace {

using Lines = std::vector<std::string>;

std::string Repeat(const std::string& piece, int times)
{
    std::string text;
    while (times-- > 0)
        text += piece;
    return text;
}

// A reader's view of the encoded words on `lines`: each word decoded on its
// own (so a character split between two words shows as a difference), the
// blanks between words dropped.
std::string DecodeWords(const Lines& lines, std::size_t headLength)
{
    constexpr std::string_view B64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string all;
    for (std::size_t k = 0; k < lines.size(); ++k)
        all += lines[k].substr(k == 0 ? headLength : 1) + " ";
    std::string text;
    for (std::size_t at = 0; (at = all.find("=?utf-8?", at)) != std::string::npos;) {
        const char kind = all[at + 8];
        const std::size_t start = at + 10, end = all.find("?=", start);
        const std::string word = all.substr(start, end - start);
        std::string bytes;
        unsigned bits = 0, count = 0;
        for (std::size_t i = 0; i < word.size(); ++i) {
            if (kind == 'Q') {
                bytes += word[i] == '_' ? ' ' : word[i] == '=' ? char(std::stoi(word.substr(i + 1, 2), nullptr, 16)) : word[i];
                i += word[i] == '=' ? 2 : 0;
            } else if (word[i] != '=') {
                bits = bits << 6 | unsigned(B64.find(word[i]));
                if ((count += 6) >= 8)
                    bytes += char(bits >> (count -= 8));
            }
        }
        // A word that begins inside a character split it from the word before.
        if (!bytes.empty() && (static_cast<unsigned char>(bytes[0]) & 0xC0) == 0x80)
            text += "<split>";
        text += bytes;
        at = end + 2;
    }
    return text;
}

struct FoldCase {
    const char* Name;
    std::string Head, Text;
};
class FoldTest : public ::testing::TestWithParam<FoldCase> {};

TEST_P(FoldTest, WordsFitTheirLinesAndDecodeToTheText)
{
    const auto& c = GetParam();
    const Lines lines = TextLines(c.Head, c.Text);
    EXPECT_EQ(DecodeWords(lines, c.Head.size()), c.Text);
    for (std::size_t k = 0; k < lines.size(); ++k) {
        EXPECT_LE(lines[k].size(), EncodedLineWidth) << lines[k];
        EXPECT_TRUE(k == 0 ? lines[k].starts_with(c.Head) : lines[k].starts_with(" =?utf-8?")) << lines[k];
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, FoldTest,
    ::testing::Values(FoldCase{"TwoByteCharactersAcrossTheFold", "Subject:  ", Repeat("\xC3\xA9", 40)},
                      FoldCase{"ThreeByteCharactersAcrossTheFold", "Subject:  ", Repeat("\xE6\x97\xA5", 31)},
                      FoldCase{"FourByteCharactersAcrossTheFold", "Subject:  ", "ab" + Repeat("\xF0\x9F\x98\x80", 23)},
                      FoldCase{"MixedScriptsQChosenForLatin", "Subject:  ",
                               Repeat("R\xC3\xA9sum\xC3\xA9 caf\xC3\xA9 ", 9) + "\xD0\x9F\xD1\x91\xD1\x82\xD1\x80"},
                      FoldCase{"SpacesAndSignsKept", "Subject:  ", "  a_b=c?d \t  \xC3\xBC  "},
                      FoldCase{"NoRoomBesideALongHead", std::string(70, 'h'), "\xC3\xBC" "ber"},
                      FoldCase{"AsciiPastTheLineLimitIsEncoded", "Subject:  ", std::string(989, 'a')}),
    [](const auto& info) { return std::string(info.param.Name); });

struct LinesCase {
    const char* Name;
    Lines Got, Expected;
};
class HeaderLinesTest : public ::testing::TestWithParam<LinesCase> {};

TEST_P(HeaderLinesTest, AreWrittenExactly)
{
    EXPECT_EQ(GetParam().Got, GetParam().Expected);
}

const std::string E9 = Repeat("%C3%A9", 1);
INSTANTIATE_TEST_SUITE_P(
    Values, HeaderLinesTest,
    ::testing::Values(
        LinesCase{"AsciiSubjectStays", TextLines("Subject:  ", "Files: a.txt"), {"Subject:  Files: a.txt"}},
        LinesCase{"EqualsQuestionMarkIsEncoded", TextLines("Subject:  ", "=?x?="), {"Subject:  =?utf-8?B?PT94Pz0=?="}},
        LinesCase{"TieGoesToQ", TextLines("Subject:  ", "Zo\xC3\xAB"), {"Subject:  =?utf-8?Q?Zo=C3=AB?="}},
        LinesCase{"AsciiUpToTheLineLimitStays", TextLines("Subject:  ", std::string(988, 'a')),
                  {"Subject:  " + std::string(988, 'a')}},
        LinesCase{"PlainName", MailboxLines("From:     ", "Sender Name", "s@x.org"), {"From:     Sender Name<s@x.org>"}},
        LinesCase{"NoName", MailboxLines("To:       ", "", "r@x.net", ","), {"To:       <r@x.net>,"}},
        LinesCase{"NameWithSpecialsQuoted", MailboxLines("To:       ", "Smith, John (IT)", "j@x"),
                  {"To:       \"Smith, John (IT)\"<j@x>"}},
        LinesCase{"QuotesAndBackslashesEscaped", MailboxLines("To:       ", "Say \"hi\" \\o/", "j@x"),
                  {"To:       \"Say \\\"hi\\\" \\\\o/\"<j@x>"}},
        LinesCase{"NonAsciiNameWithSpecialsEncoded", MailboxLines("CC:       ", "M\xC3\xBCller, Zo\xC3\xAB", "m@x.de", ","),
                  {"CC:       =?utf-8?B?TcO8bGxlciwgWm/Dqw==?= <m@x.de>,"}},
        LinesCase{"LongAddressOnItsOwnLine",
                  MailboxLines("To:       ", Repeat("\xC3\xA9", 20), std::string(60, 'a') + "@x.org"),
                  {"To:       =?utf-8?B?" + Repeat("w6nDqcOp", 6) + "w6k=?=", " =?utf-8?B?w6k=?=",
                   " <" + std::string(60, 'a') + "@x.org>"}},
        LinesCase{"ShortFileNameOnOneLine", Rfc2231Lines("Content-Disposition: attachment;", "filename", "\xC3\xBC '*.txt"),
                  {"Content-Disposition: attachment; filename*=utf-8''%C3%BC%20%27%2A.txt"}},
        LinesCase{"LongFileNameContinued",
                  Rfc2231Lines("Content-Disposition: attachment;", "filename", Repeat("\xC3\xA9", 30) + ".pdf"),
                  {"Content-Disposition: attachment;", " filename*0*=utf-8''" + Repeat(E9, 9) + ";",
                   " filename*1*=" + Repeat(E9, 10) + ";", " filename*2*=" + Repeat(E9, 10) + ";",
                   " filename*3*=" + E9 + ".pdf"}},
        LinesCase{"DateEastOfUtc", Lines{FormatDate({2026, 12, 6, 23, 41, 7, 7, 3600})}, {"Sun, 06 Dec 2026 23:41:07 +0100"}},
        LinesCase{"DateWestWithHalfHour", Lines{FormatDate({1999, 1, 1, 0, 0, 0, 5, -(3 * 3600 + 1800)})},
                  {"Fri, 01 Jan 1999 00:00:00 -0330"}},
        LinesCase{"MessageId", Lines{MessageId(std::vector<unsigned char>{0x00, 0xAB, 0xFF}, "example.org")},
                  {"<00ABFF@example.org>"}},
        LinesCase{"MessageIdWithoutUsableDomain",
                  Lines{MessageId(std::vector<unsigned char>{1}, ""), MessageId(std::vector<unsigned char>{2}, "a b.org"),
                        MessageId(std::vector<unsigned char>{3}, "x..org")},
                  {"<01@localhost.invalid>", "<02@localhost.invalid>", "<03@localhost.invalid>"}}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
