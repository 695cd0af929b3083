#include "platform_test_files.h"
#include "profile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

TEST(ProfileValue, DropsBlanksAndOnePairOfQuotesAndCutsAt1023Characters)
{
    const std::pair<std::string, std::string> cases[] = {
        {"  abc \t", "abc"},
        {"\"abc\"", "abc"},
        {"'abc'", "abc"},
        {"  \" a b \"  ", " a b "},
        {"\"\"x\"\"", "\"x\""},   // only one pair goes
        {"\"abc", "\"abc"},       // not a pair
        {"\"", "\""},
        {"a = b", "a = b"},
        {std::string(2000, 'v'), std::string(1023, 'v')},
    };
    for (const auto& [raw, expected] : cases)
        EXPECT_EQ(ProfileValue(raw), expected) << "raw: [" << raw << "]";
}

TEST(ProfileInteger, DecimalAndHexadecimal)
{
    const std::tuple<std::string, bool, std::int32_t> cases[] = {
        {" 42 ", true, 42},
        {"-12", true, -12},
        {"+7", true, 7},
        {"0XfF", true, 255},
        {"$0000000000ff", true, 255},       // leading zeros do not count
        {"0x80000005", true, -2147483643},  // a system-colour reference
        {"-$10", true, -16},
        {"2147483647", true, 2147483647},
        {"-2147483648", true, -2147483647 - 1},
        {"2147483648", false, 0},
        {"0x100000000", false, 0},
        {"yes", false, 0},
        {"", false, 0},
        {"0x", false, 0},
        {"12a", false, 0},
        {"1 2", false, 0},
    };
    for (const auto& [text, valid, expected] : cases) {
        std::int32_t value = 12345;
        EXPECT_EQ(ParseProfileInteger(text, value), valid) << "text: [" << text << "]";
        EXPECT_EQ(value, valid ? expected : value) << "text: [" << text << "]";
    }
}

// Saves a change to `path`; true when the save is refused with the message
// the user sees.
bool SaveRefused(const std::string& path, const std::string& port = "2525")
{
    TIniFile ini(path);
    ini.WriteString("Setup", "Port", port);
    ini.EraseSection("Addresses");
    try {
        ini.UpdateFile();
    } catch (const EIniFileError& e) {
        return std::string(e.what()).starts_with("Unable to write to " + path + ": ");
    }
    return false;
}

class ProfileFile : public ::testing::Test {
protected:
    std::string Path(const std::string& name = "settings.ini") const { return FDir.path().toStdString() + "/" + name; }
    QTemporaryDir FDir;
};

TEST_F(ProfileFile, ReadsNamesWithoutCaseAtAnyLineEndAndFallsBackToDefaultsAlsoWithoutAFile)
{
    WriteWholeFile(Path(), "[sEtUp]\nSERVER=mail.example.org\r\n  port  =  2525  \r"
                           "[S]\r\nA=yes\nB=2\rC=0\r\nD=0xFF\r\nE=\r\n[B]\rk=b");
    const TIniFile ini(Path());
    EXPECT_EQ(ini.ReadString("SETUP", "server", ""), "mail.example.org");
    EXPECT_EQ(ini.ReadInteger("Setup", "Port", 25), 2525);
    EXPECT_EQ(ini.ReadString("Other", "Server", "none"), "none");
    EXPECT_EQ(ini.ReadString("B", "k", ""), "b");
    EXPECT_TRUE(ini.ReadBool("S", "A", true));     // not a number: the default
    EXPECT_FALSE(ini.ReadBool("S", "A", false));
    EXPECT_TRUE(ini.ReadBool("S", "B", false));    // any non-zero number
    EXPECT_FALSE(ini.ReadBool("S", "C", true));
    EXPECT_EQ(ini.ReadInteger("S", "D", 0), 255);
    EXPECT_EQ(ini.ReadInteger("S", "E", 7), 7);    // empty: the default
    EXPECT_EQ(ini.ReadString("S", "E", "x"), ""); // but an empty text is a value
    const TIniFile missing(Path("absent.ini"));
    EXPECT_FALSE(missing.ReadFailed());
    EXPECT_EQ(missing.ReadString("Setup", "Server", "dflt"), "dflt");
    EXPECT_TRUE(missing.ReadBool("Setup", "UseBCC", true));
    EXPECT_TRUE(missing.ReadSection("Addresses").empty());
    EXPECT_FALSE(QFile::exists(QString::fromStdString(Path("absent.ini"))));
}

TEST_F(ProfileFile, NewFileHasSectionsInWriteOrderWithCrLfAndBytesAsTheyAre)
{
    const std::string latin1 = "Ren\xE9 M\xFCller";
    TIniFile ini(Path());
    ini.WriteInteger("Setup", "Port", 25);
    ini.WriteBool("Setup", "UseBCC", true);
    ini.WriteString("Setup", "Server", "");
    ini.WriteString("Addresses", "anAddress0", "a@example.org");
    ini.WriteInteger("Setup", "BackColor", std::int32_t(0x80000005u));
    ini.WriteString("Setup", "Name", latin1);
    ini.UpdateFile();
    EXPECT_EQ(ReadWholeFile(Path()), "[Setup]\r\nPort=25\r\nUseBCC=1\r\nServer=\r\nBackColor=-2147483643\r\nName=" +
                                         latin1 + "\r\n\r\n[Addresses]\r\nanAddress0=a@example.org\r\n");
    EXPECT_EQ(TIniFile(Path()).ReadString("Setup", "Name", ""), latin1);
}

TEST_F(ProfileFile, SaveKeepsWhatItDoesNotWriteErasesEveryCopyAndIsStable)
{
    WriteWholeFile(Path(), "; written by hand\r\n[Addresses]\r\na=1\r\n\r\n[Setup]\r\nPort=25\r\nCustom = kept \r\n"
                           "; a comment\r\n\r\n[Plugin]\r\nKey=Value\r\n\r\n[ADDRESSES]\r\nb=2\r\n");
    const std::string saved = "; written by hand\r\n[Setup]\r\nPORT=2525\r\nCustom = kept \r\n; a comment\r\n"
                              "Server=smtp.example.org\r\n\r\n[Plugin]\r\nKey=Value\r\n\r\n[Addresses]\r\nanAddress0=c\r\n";
    for (int save = 1; save <= 2; ++save) {
        TIniFile ini(Path());
        ini.WriteInteger("setup", "PORT", 2525);
        ini.WriteString("Setup", "Server", "smtp.example.org");
        ini.EraseSection("Addresses");
        EXPECT_FALSE(ini.SectionExists("Addresses"));
        ini.WriteString("Addresses", "anAddress0", "c");
        ini.UpdateFile();
        EXPECT_EQ(ReadWholeFile(Path()), saved) << "save " << save;
    }
}

TEST_F(ProfileFile, ListsKeysInFileOrderWithoutBound)
{
    // 3000 keys need far more than the 8192 bytes of the classic key list.
    std::string text = "[Addresses]\r\n";
    for (int i = 2999; i >= 0; --i)
        text += "anAddress" + std::to_string(i) + "=user" + std::to_string(i) + "@example.org\r\n";
    WriteWholeFile(Path(), text);
    const auto keys = TIniFile(Path()).ReadSection("addresses");
    ASSERT_EQ(keys.size(), 3000u);
    EXPECT_EQ(keys.front(), "anAddress2999");
    EXPECT_EQ(keys.back(), "anAddress0");
}

TEST_F(ProfileFile, SectionValuesKeepDuplicateKeys)
{
    WriteWholeFile(Path(), "[Addresses]\r\nx=one\r\nx=two\r\ny=\r\nnot a key line\r\n[addresses]\r\nz=\"three\"\r\n");
    const TIniFile ini(Path());
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"x", "one"}, {"x", "two"}, {"y", ""}, {"z", "three"}};
    EXPECT_EQ(ini.ReadSectionValues("Addresses"), expected);
    EXPECT_EQ(ini.ReadString("Addresses", "x", ""), "one");   // the first one wins
}

TEST_F(ProfileFile, LineBreaksInAValueBecomeBlanks)
{
    TIniFile ini(Path());
    ini.WriteString("Setup", "Server", "a\r\n[Evil]\nb");
    ini.UpdateFile();
    const TIniFile back(Path());
    EXPECT_FALSE(back.SectionExists("Evil"));
    EXPECT_EQ(back.ReadString("Setup", "Server", ""), "a  [Evil] b");
}

TEST_F(ProfileFile, FailedSaveIsRefusedAndLeavesTheOldFileWhole)
{
    const std::string old = "[Setup]\r\nPort=25\r\n[Addresses]\r\nanAddress0=keep@example.org\r\n";
    WriteWholeFile(Path(), old);
    {
        const TFileSizeLimit limit(64);   // a full disk, for root too: the new text is longer
        EXPECT_TRUE(SaveRefused(Path(), std::string(1000, '9'))) << "full disk";
    }
    EXPECT_EQ(QDir(FDir.path()).entryList(QDir::Files), QStringList{"settings.ini"}) << "no temporary file left";
    const QByteArray folder = FDir.path().toLocal8Bit();
    ::chmod(Path().c_str(), 0444);
    ::chmod(folder.constData(), 0777);
    EXPECT_TRUE(RunUnprivileged([&] { return SaveRefused(Path()); })) << "read-only file";
    ::chmod(Path().c_str(), 0644);
    ::chmod(folder.constData(), 0555);
    EXPECT_TRUE(RunUnprivileged([&] { return SaveRefused(Path()); })) << "read-only folder";
    ::chmod(folder.constData(), 0700);
    EXPECT_EQ(ReadWholeFile(Path()), old);
    WriteWholeFile(Path("plain"), "not a folder");
    EXPECT_TRUE(SaveRefused(Path("plain") + "/settings.ini")) << "a file where the folder should be";
    EXPECT_EQ(ReadWholeFile(Path("plain")), "not a folder");
    // A file that exists but cannot be read is not replaced by what we could not see.
    ASSERT_TRUE(QDir(FDir.path()).mkdir("unreadable.ini"));
    EXPECT_TRUE(TIniFile(Path("unreadable.ini")).ReadFailed());
    EXPECT_TRUE(SaveRefused(Path("unreadable.ini"))) << "unreadable file";
    EXPECT_TRUE(QFileInfo(QString::fromStdString(Path("unreadable.ini"))).isDir());
}

TEST_F(ProfileFile, SaveThroughALinkReplacesItsTargetKeepingItsPermissions)
{
    WriteWholeFile(Path("real.ini"), "[Setup]\r\n");
    ::chmod(Path("real.ini").c_str(), 0640);
    ASSERT_TRUE(QFile::link(QString::fromStdString(Path("real.ini")), QString::fromStdString(Path("link.ini"))));
    TIniFile ini(Path("link.ini"));
    ini.WriteInteger("Setup", "Port", 7);
    ini.UpdateFile();
    EXPECT_TRUE(QFileInfo(QString::fromStdString(Path("link.ini"))).isSymLink());
    EXPECT_EQ(ReadWholeFile(Path("real.ini")), "[Setup]\r\nPort=7\r\n");
    struct stat info {};
    ASSERT_EQ(::stat(Path("real.ini").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

} // namespace
