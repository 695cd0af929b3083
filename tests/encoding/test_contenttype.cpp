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

TEST(ContentType, ExtensionOfTheLastPathComponentAndItsType)
{
    const TContentTypeTable table = TContentTypeTable::Parse(TestTable);
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
    std::set<char> digits;
    std::set<std::string> boundaries;
    for (std::uint32_t ms = 0; ms < 86400000u; ms += 8641) {
        const std::string boundary = MakeBoundary(ms);
        ASSERT_EQ(boundary.size(), BoundaryLength);
        ASSERT_EQ(boundary.find_first_not_of("012345678"), std::string::npos) << boundary;
        digits.insert(boundary.begin(), boundary.end());
        boundaries.insert(boundary);
    }
    EXPECT_EQ(digits.size(), 9u);
    EXPECT_GT(boundaries.size(), 9900u);   // of 10000 seeds
    EXPECT_LT(MillisecondsSinceMidnight(), 86400000u);
}
