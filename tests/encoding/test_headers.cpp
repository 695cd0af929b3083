// Header values (encoded words, folding, quoted names, RFC 2231 file
// names, Date and Message-ID), content types and boundaries.
#include "../support/test_data.h"
#include "headers.h"
#include "mime.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using Lines = std::vector<std::string>;

// A reader's view of the encoded words on `lines`, each word decoded on its
// own: a character split between two words shows as "<split>".
std::string DecodeWords(const Lines& lines)
{
    constexpr std::string_view B64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string all, text;
    for (const auto& line : lines)
        all += line;
    for (std::size_t at = 0; (at = all.find("=?utf-8?", at)) != std::string::npos; at += 2) {
        const bool q = all[at + 8] == 'Q';
        std::string bytes;
        unsigned bits = 0, count = 0;
        for (at += 10; all.compare(at, 2, "?=") != 0; ++at) {
            if (q && all[at] == '=')
                bytes += char(std::stoi(all.substr(at + 1, 2), nullptr, 16)), at += 2;
            else if (q)
                bytes += all[at] == '_' ? ' ' : all[at];
            else if (all[at] != '=' && ((bits = bits << 6 | unsigned(B64.find(all[at]))), (count += 6) >= 8))
                bytes += char(bits >> (count -= 8));
        }
        text += (!bytes.empty() && (bytes[0] & 0xC0) == 0x80 ? "<split>" : "") + bytes;
    }
    return text;
}

struct FoldCase { const char* Name; std::string Head, Text; };
class FoldTest : public ::testing::TestWithParam<FoldCase> {};

TEST_P(FoldTest, WordsFitTheirLinesAndDecodeToTheText)
{
    const auto& c = GetParam();
    const Lines lines = TextLines(c.Head, c.Text);
    EXPECT_EQ(DecodeWords(lines), c.Text);
    for (std::size_t k = 0; k < lines.size(); ++k) {
        EXPECT_LE(lines[k].size(), EncodedLineWidth) << lines[k];
        EXPECT_TRUE(k == 0 ? lines[k].starts_with(c.Head) : lines[k].starts_with(" =?utf-8?")) << lines[k];
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, FoldTest, ::testing::Values(
    FoldCase{"TwoByteCharactersAcrossTheFold", "Subject:  ", Repeat("\xC3\xA9", 40)},
    FoldCase{"ThreeByteCharactersAcrossTheFold", "Subject:  ", Repeat("\xE6\x97\xA5", 31)},
    FoldCase{"FourByteCharactersAcrossTheFold", "Subject:  ", "ab" + Repeat("\xF0\x9F\x98\x80", 23)},
    FoldCase{"MixedScriptsQChosenForLatin", "Subject:  ",
             Repeat("R\xC3\xA9sum\xC3\xA9 caf\xC3\xA9 ", 9) + "\xD0\x9F\xD1\x91\xD1\x82\xD1\x80"},
    FoldCase{"SpacesAndSignsKept", "Subject:  ", "  a_b=c?d \t  \xC3\xBC  "},
    FoldCase{"NoRoomBesideALongHead", std::string(70, 'h'), "\xC3\xBC" "ber"},
    FoldCase{"AsciiPastTheLineLimitIsEncoded", "Subject:  ", std::string(989, 'a')}),
    [](const auto& info) { return std::string(info.param.Name); });

struct LinesCase { const char* Name; Lines Got, Expected; };
class HeaderLinesTest : public ::testing::TestWithParam<LinesCase> {};
TEST_P(HeaderLinesTest, AreWrittenExactly) { EXPECT_EQ(GetParam().Got, GetParam().Expected); }

const std::string E9 = "%C3%A9", Disposition = "Content-Disposition: attachment;";
INSTANTIATE_TEST_SUITE_P(Values, HeaderLinesTest, ::testing::Values(
    LinesCase{"EqualsQuestionMarkIsEncoded", TextLines("Subject:  ", "=?x?="), {"Subject:  =?utf-8?B?PT94Pz0=?="}},
    LinesCase{"TieGoesToQ", TextLines("Subject:  ", "Zo\xC3\xAB"), {"Subject:  =?utf-8?Q?Zo=C3=AB?="}},
    LinesCase{"AsciiUpToTheLineLimitStays", TextLines("S: ", std::string(995, 'a')), {"S: " + std::string(995, 'a')}},
    LinesCase{"NameWithSpecialsQuoted", MailboxLines("To: ", "Smith, J. (IT)", "j@x"), {"To: \"Smith, J. (IT)\"<j@x>"}},
    LinesCase{"QuotesAndBackslashesEscaped", MailboxLines("To: ", "Say \"hi\" \\o/", "j@x"),
              {"To: \"Say \\\"hi\\\" \\\\o/\"<j@x>"}},
    LinesCase{"NonAsciiNameWithSpecialsEncoded", MailboxLines("CC: ", "M\xC3\xBCller, Zo\xC3\xAB", "m@x.de", ","),
              {"CC: =?utf-8?B?TcO8bGxlciwgWm/Dqw==?= <m@x.de>,"}},
    LinesCase{"LongAddressOnItsOwnLine",
              MailboxLines("To:       ", Repeat("\xC3\xA9", 20), std::string(60, 'a') + "@x.org"),
              {"To:       =?utf-8?B?" + Repeat("w6nDqcOp", 6) + "w6k=?=", " =?utf-8?B?w6k=?=",
               " <" + std::string(60, 'a') + "@x.org>"}},
    LinesCase{"ShortFileNameOnOneLine", Rfc2231Lines(Disposition, "filename", "\xC3\xBC '*.txt"),
              {Disposition + " filename*=utf-8''%C3%BC%20%27%2A.txt"}},
    LinesCase{"LongFileNameContinued", Rfc2231Lines(Disposition, "filename", Repeat("\xC3\xA9", 30) + ".pdf"),
              {Disposition, " filename*0*=utf-8''" + Repeat(E9, 9) + ";", " filename*1*=" + Repeat(E9, 10) + ";",
               " filename*2*=" + Repeat(E9, 10) + ";", " filename*3*=" + E9 + ".pdf"}},
    LinesCase{"DateWestWithHalfHour", {FormatDate({1999, 1, 1, 0, 0, 0, 5, -(3 * 3600 + 1800)})},
              {"Fri, 01 Jan 1999 00:00:00 -0330"}},
    LinesCase{"MessageIdWithoutUsableDomain", {MessageId(std::vector<unsigned char>{0xAB, 1}, ""),
              MessageId(std::vector<unsigned char>{2}, "a b.org"), MessageId(std::vector<unsigned char>{3}, "x..org")},
              {"<AB01@localhost.invalid>", "<02@localhost.invalid>", "<03@localhost.invalid>"}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(ContentType, ExtensionOfTheLastPathComponentAndItsType)
{
    const TContentTypeTable table = TContentTypeTable::Parse(
        "# a table of our own; the machine's /etc/mime.types is never read here\n"
        "text/plain\t\t\t\ttxt text conf\n"
        "application/pdf  pdf   # trailing comment\n"
        "image/jpeg jpeg jpg JPE\n"
        "application/x-empty\n"
        "\n"
        "text/x-first dup\n"
        "text/x-second dup\n");
    const std::string_view none = "application/octet-stream";
    // A backslash or colon is an ordinary character here.
    const std::tuple<std::string_view, std::string_view, std::string_view> cases[] = {
        {"/home/u/report.TXT", ".TXT", "text/plain"}, {"archive.tar.gz", ".gz", none},
        {"scan.pdf", ".pdf", "application/pdf"}, {"photo.jpe", ".jpe", "image/jpeg"}, {"old.files/readme", "", none},
        {"C:\\docs\\report.txt", ".txt", "text/plain"}, {"a.txt\\b", ".txt\\b", none}, {"c:file", "", none},
        {"dir/.profile", ".profile", none}, {"name.", ".", none}, {"dir.d/", "", none},
        {"x.dup", ".dup", "text/x-first"}, {"x.empty", ".empty", none}, {"x.comment", ".comment", none},
    };
    for (const auto& [name, extension, type] : cases) {
        EXPECT_EQ(FileExtension(name), extension) << name;
        EXPECT_EQ(GetContentType(name, table), type) << name;
    }
}

TEST(ContentType, TheGivenTableReplacesTheSystemOne)
{
    SetContentTypeTable("application/x-tessaly-test tst\n");
    EXPECT_EQ(GetContentType("a.TST"), "application/x-tessaly-test");
    EXPECT_EQ(GetContentType("a.txt"), "application/octet-stream");
    EXPECT_EQ(TContentTypeTable::Load("/nonexistent/mime.types").Count(), 0u);
}

TEST(MakeBoundary, EightDigitsFromZeroToEightSeededByTheMillisecond)
{
    EXPECT_EQ(MakeBoundary(12345678), MakeBoundary(12345678));
    std::string all;
    std::set<std::string> boundaries;
    for (std::uint32_t ms = 0; ms < 86400000u; ms += 8641) {
        ASSERT_EQ(MakeBoundary(ms).size(), 8u);
        all += *boundaries.insert(MakeBoundary(ms)).first;
    }
    EXPECT_EQ(std::set<char>(all.begin(), all.end()), (std::set<char>{'0', '1', '2', '3', '4', '5', '6', '7', '8'}));
    EXPECT_GT(boundaries.size(), 9900u);   // of 10000 seeds
    EXPECT_LT(MillisecondsSinceMidnight(), 86400000u);
}

} // namespace
