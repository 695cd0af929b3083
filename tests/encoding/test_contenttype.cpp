#include "mime.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

constexpr std::string_view TestTable =
    "# a table of our own; the machine's /etc/mime.types is never read here\n"
    "text/plain\t\t\t\ttxt text conf\n"
    "application/pdf  pdf   # trailing comment\n"
    "image/jpeg jpeg jpg JPE\n"
    "application/x-empty\n"
    "\n"
    "text/x-first dup\n"
    "text/x-second dup\n";

} // namespace

TEST(ContentType, ExtensionOfTheLastPathComponent)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"a.txt", ".txt"},
        {"/home/u/report.TXT", ".TXT"},
        {"old.files/readme", ""},
        {"archive.tar.gz", ".gz"},
        {"C:\\docs\\report.txt", ".txt"},
        {"a.b\\c", ".b\\c"},
        {"c:file", ""},
        {"dir/.profile", ".profile"},
        {"name.", "."},
        {"dir.d/", ""},
        {"", ""},
    };
    for (const auto& [name, extension] : cases)
        EXPECT_EQ(FileExtension(name), extension) << name;
}

TEST(ContentType, LooksUpTheExtensionIgnoringCase)
{
    const TContentTypeTable table = TContentTypeTable::Parse(TestTable);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"report.TXT", "text/plain"},
        {"/tmp/notes.Conf", "text/plain"},
        {"scan.pdf", "application/pdf"},
        {"photo.jpe", "image/jpeg"},
        {"archive.zip", "application/octet-stream"},
        {"old.files/readme", "application/octet-stream"},
        {"a.txt\\b", "application/octet-stream"},
        {"C:\\docs\\report.txt", "text/plain"},
        {"pdf", "application/octet-stream"},
        {"name.", "application/octet-stream"},
        {"x.dup", "text/x-first"},
        {"x.empty", "application/octet-stream"},
        {"x.comment", "application/octet-stream"},
    };
    for (const auto& [name, type] : cases)
        EXPECT_EQ(GetContentType(name, table), type) << name;
}

TEST(ContentType, TheGivenTableReplacesTheSystemOne)
{
    SetContentTypeTable("application/x-tessaly-test tst\n");
    EXPECT_EQ(GetContentType("a.TST"), "application/x-tessaly-test");
    EXPECT_EQ(GetContentType("a.txt"), "application/octet-stream");
    SetContentTypeTable(TContentTypeTable::Parse(TestTable));
    EXPECT_EQ(GetContentType("report.TXT"), "text/plain");
}

TEST(ContentType, UnreadableTableFileGivesAnEmptyTable)
{
    EXPECT_EQ(TContentTypeTable::Load("/nonexistent/mime.types").Count(), 0u);
}

TEST(MakeBoundary, SameMillisecondGivesTheSameBoundary)
{
    EXPECT_EQ(MakeBoundary(12345678), MakeBoundary(12345678));
    EXPECT_NE(MakeBoundary(12345678), MakeBoundary(12345679));
}

TEST(MakeBoundary, EightDigitsFromZeroToEight)
{
    std::set<char> digits;
    std::set<std::string> boundaries;
    for (std::uint32_t ms = 0; ms < 86400000u; ms += 8641) {
        const std::string boundary = MakeBoundary(ms);
        ASSERT_EQ(boundary.size(), BoundaryLength);
        for (char c : boundary) {
            ASSERT_GE(c, '0');
            ASSERT_LE(c, '8');
            digits.insert(c);
        }
        boundaries.insert(boundary);
    }
    EXPECT_EQ(digits.size(), 9u);
    EXPECT_GT(boundaries.size(), 9900u);   // of 10000 seeds
}

TEST(MakeBoundary, ClockGivesMillisecondsOfTheDay)
{
    EXPECT_LT(MillisecondsSinceMidnight(), 86400000u);
    EXPECT_EQ(MakeBoundary().size(), BoundaryLength);
}
