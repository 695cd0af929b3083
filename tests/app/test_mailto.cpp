// mailto: links and the desktop side of the program: the link parser, the
// data folder, the box width, the file manager's script.
#include "integration.h"
#include "mailto.h"
#include "readme.h"
#include "support_app.h"

#include <QMessageBox>
#include <QProcess>

namespace {

struct TLinkRow { const char* Name; const char* Url; TMailtoLink Link; };
class MailtoParse : public ::testing::TestWithParam<TLinkRow> {};

TEST_P(MailtoParse, GivesTheFieldsOfTheLink)
{
    const TMailtoLink got = ParseMailto(GetParam().Url), & want = GetParam().Link;
    EXPECT_EQ(std::tie(got.To, got.CC, got.BCC, got.Subject, got.Body, got.Attachments),
              std::tie(want.To, want.CC, want.BCC, want.Subject, want.Body, want.Attachments));
}

const TLinkRow kLinks[] = {
    {"SchemeAndNamesIgnoreCase", "MailTo:a@x.org?SUBJECT=Hi&Bcc=c@z.org", {{"a@x.org"}, {}, {"c@z.org"}, "Hi", {}, {}}},
    {"PercentDecodedUtf8PlusStays", "mailto:a%40x.org?subject=Gr%C3%BC%C3%9Fe+1%2",
     {{"a@x.org"}, {}, {}, "Gr\xC3\xBC\xC3\x9F" "e+1%2", {}, {}}},
    {"CommaListsAndRepeatedFields", "mailto:a@x.org,%20b@y.org?to=c@z.org&cc=d@w.org,e@v.org&cc=f@u.org",
     {{"a@x.org", "b@y.org", "c@z.org"}, {"d@w.org", "e@v.org", "f@u.org"}, {}, {}, {}, {}}},
    {"FirstSubjectAndBodyWin", "mailto:?subject=One&subject=Two&body=A&body=B", {{}, {}, {}, "One", TLines{"A"}, {}}},
    {"BodyLines", "mailto:a@x.org?body=l1%0D%0Al2%0Al3%0D", {{"a@x.org"}, {}, {}, {}, TLines{"l1", "l2", "l3"}, {}}},
    {"AddressWithBreakDropped", "mailto:a@x.org%0D%0ARCPT%20TO:e@evil.example,b@y.org?cc=c@z.org%0A",
     {{"b@y.org"}, {}, {}, {}, {}, {}}},
    {"DisplayNameKept", "mailto:%22Lee,%20Ann%22%20%3Ca@x.org%3E", {{"a@x.org|Lee, Ann"}, {}, {}, {}, {}, {}}},
    {"UnknownFieldsAndFragmentIgnored", "mailto:a@x.org?in-reply-to=%3Cm@x%3E&x=1&noequals#frag",
     {{"a@x.org"}, {}, {}, {}, {}, {}}},
    {"AttachAndAttachment", "mailto:a@x.org?attach=/home/me/.ssh/id_ed25519&attachment=file:///tmp/a%2520b.txt&attach=",
     {{"a@x.org"}, {}, {}, {}, {}, {"/home/me/.ssh/id_ed25519", "/tmp/a b.txt"}}},
    {"NotALink", "http://a@x.org", {{}, {}, {}, {}, {}, {}}},
};
INSTANTIATE_TEST_SUITE_P(Rows, MailtoParse, ::testing::ValuesIn(kLinks),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(DataFolder, FoundBesideTheProgramThenInTheBuildTreeElseTheInstalledPlace)
{
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"/opt/t/bin", "/opt/t/share/tessaly/readme.txt", "/opt/t/share/tessaly/readme.txt"},
        {"/b/tests/app", "/b/share/tessaly/readme.txt", "/b/share/tessaly/readme.txt"},
        {"/usr/bin", "", "/usr/share/tessaly/readme.txt"}};
    for (const auto& [folder, existing, expected] : cases)
        EXPECT_EQ(DataFilePath("readme.txt", folder, [&](const QString& path) { return path == existing; }), expected);
    // The build tree stages the files where the rule finds them.
    EXPECT_TRUE(QFileInfo(DataFilePath("tessaly.svg")).isFile()) << DataFilePath("tessaly.svg").toStdString();
}

TEST(MessageBoxWidth, AShortTextStillShowsTheWholeTitle)
{
    QMessageBox box(QMessageBox::Information, "Information", "All Done.", QMessageBox::Ok);
    WidenForTitle(box);
    box.show();
    QCoreApplication::processEvents();
    EXPECT_GE(box.width(), BoxWidthForTitle(box.fontMetrics().horizontalAdvance("Information")));
}

TEST(Integration, NautilusScriptLivesInTheUserDataFolderAndHandsOnTheFiles)
{
    EXPECT_EQ(NautilusScriptPath("relative", "/home/u"), "/home/u/.local/share/nautilus/scripts/Send with Tessaly");
    EXPECT_EQ(NautilusScriptPath("/data/", "/home/u"), "/data/nautilus/scripts/Send with Tessaly");
    // Run as Nautilus runs it: the selected names as arguments, blanks and
    // quotes in them and in the program's path kept.
    TScratch scratch;
    const std::string program = scratch.Write("it's here", "#!/bin/sh\nprintf '[%s]' \"$@\"\n");
    QFile::setPermissions(QString::fromStdString(program), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    QProcess shell;
    shell.start("/bin/sh", {"-c", QString::fromStdString(NautilusScript(program)), "script", "a b.txt", "c'd"});
    ASSERT_TRUE(shell.waitForFinished(10000));
    EXPECT_EQ(shell.readAllStandardOutput().toStdString(), "[a b.txt][c'd]");
}

}
