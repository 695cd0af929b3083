#include "platform_test_files.h"
#include "profile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

struct TValueCase {
    std::string Raw;
    std::string Expected;
};

TEST(ProfileValue, DropsBlanksAndOnePairOfQuotes)
{
    const TValueCase cases[] = {
        {"abc", "abc"},
        {"  abc \t", "abc"},
        {"\"abc\"", "abc"},
        {"'abc'", "abc"},
        {"  \" a b \"  ", " a b "},
        {"\"\"x\"\"", "\"x\""},   // only one pair goes
        {"\"abc", "\"abc"},       // not a pair
        {"\"abc'", "\"abc'"},
        {"\"", "\""},
        {"", ""},
        {"a = b", "a = b"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ProfileValue(c.Raw), c.Expected) << "raw: [" << c.Raw << "]";
}

TEST(ProfileValue, CutsAt1023Characters)
{
    const std::string longValue(2000, 'v');
    EXPECT_EQ(ProfileValue(longValue), std::string(1023, 'v'));
    EXPECT_EQ(ProfileValue(std::string(1023, 'w')).size(), 1023u);
}

struct TIntegerCase {
    std::string Text;
    bool Valid;
    std::int32_t Value;
};

TEST(ProfileInteger, DecimalAndHexadecimal)
{
    const TIntegerCase cases[] = {
        {"25", true, 25},
        {"-12", true, -12},
        {"+7", true, 7},
        {" 42 ", true, 42},
        {"0", true, 0},
        {"0xFF", true, 255},
        {"0XfF", true, 255},
        {"$ff", true, 255},
        {"$0000000000ff", true, 255},      // leading zeros do not count
        {"0x80000005", true, -2147483643},  // a system-colour reference
        {"$FFFFFFFF", true, -1},
        {"-$10", true, -16},
        {"2147483647", true, 2147483647},
        {"-2147483648", true, -2147483647 - 1},
        {"2147483648", false, 0},
        {"-2147483649", false, 0},
        {"0x100000000", false, 0},
        {"yes", false, 0},
        {"", false, 0},
        {"-", false, 0},
        {"0x", false, 0},    // two characters: not a hex prefix, not a number
        {"$", false, 0},
        {"12a", false, 0},
        {"1.5", false, 0},
        {"0xG1", false, 0},
        {"1 2", false, 0},
    };
    for (const auto& c : cases) {
        std::int32_t value = 12345;
        EXPECT_EQ(ParseProfileInteger(c.Text, value), c.Valid) << "text: [" << c.Text << "]";
        if (c.Valid) {
            EXPECT_EQ(value, c.Value) << "text: [" << c.Text << "]";
        }
    }
}

class ProfileFile : public ::testing::Test {
protected:
    std::string Path(const std::string& name = "settings.ini") const
    {
        return (FDir.path() + "/" + QString::fromStdString(name)).toStdString();
    }
    QTemporaryDir FDir;
};

TEST_F(ProfileFile, MissingFileGivesDefaults)
{
    const TIniFile ini(Path("absent.ini"));
    EXPECT_FALSE(ini.ReadFailed());
    EXPECT_EQ(ini.ReadString("Setup", "Server", "dflt"), "dflt");
    EXPECT_EQ(ini.ReadInteger("Setup", "Port", 25), 25);
    EXPECT_TRUE(ini.ReadBool("Setup", "UseBCC", true));
    EXPECT_TRUE(ini.ReadSection("Addresses").empty());
    EXPECT_FALSE(QFile::exists(QString::fromStdString(Path("absent.ini"))));
}

TEST_F(ProfileFile, NamesMatchWithoutCase)
{
    WriteWholeFile(Path(), "[sEtUp]\r\nSERVER=mail.example.org\r\n  port  =  2525  \r\n");
    const TIniFile ini(Path());
    EXPECT_EQ(ini.ReadString("Setup", "Server", ""), "mail.example.org");
    EXPECT_EQ(ini.ReadString("SETUP", "server", ""), "mail.example.org");
    EXPECT_EQ(ini.ReadInteger("Setup", "Port", 25), 2525);
    EXPECT_EQ(ini.ReadString("Other", "Server", "none"), "none");
}

TEST_F(ProfileFile, IntegersAndBooleansFallBackToDefault)
{
    WriteWholeFile(Path(), "[S]\r\nA=yes\r\nB=2\r\nC=0\r\nD=0xFF\r\nE=\r\n");
    const TIniFile ini(Path());
    EXPECT_TRUE(ini.ReadBool("S", "A", true));     // not a number: the default
    EXPECT_FALSE(ini.ReadBool("S", "A", false));
    EXPECT_TRUE(ini.ReadBool("S", "B", false));    // any non-zero number
    EXPECT_FALSE(ini.ReadBool("S", "C", true));
    EXPECT_EQ(ini.ReadInteger("S", "D", 0), 255);
    EXPECT_EQ(ini.ReadInteger("S", "E", 7), 7);    // empty: the default
    EXPECT_EQ(ini.ReadString("S", "E", "x"), ""); // but an empty text is a value
}

TEST_F(ProfileFile, AnyLineEndIsALineEnd)
{
    WriteWholeFile(Path(), "[A]\nk1=lf\r\nk2=crlf\rk3=cr\r\n[B]\rk=b");
    const TIniFile ini(Path());
    EXPECT_EQ(ini.ReadString("A", "k1", ""), "lf");
    EXPECT_EQ(ini.ReadString("A", "k2", ""), "crlf");
    EXPECT_EQ(ini.ReadString("A", "k3", ""), "cr");
    EXPECT_EQ(ini.ReadString("B", "k", ""), "b");
}

TEST_F(ProfileFile, BytesStandAsTheyAre)
{
    const std::string latin1 = "Ren\xE9 M\xFCller";
    TIniFile ini(Path());
    ini.WriteString("Setup", "Name", latin1);
    ini.UpdateFile();
    EXPECT_EQ(ReadWholeFile(Path()), "[Setup]\r\nName=" + latin1 + "\r\n");
    EXPECT_EQ(TIniFile(Path()).ReadString("Setup", "Name", ""), latin1);
}

TEST_F(ProfileFile, NewFileHasSectionsInWriteOrderWithCrLf)
{
    TIniFile ini(Path());
    ini.WriteInteger("Setup", "Port", 25);
    ini.WriteBool("Setup", "UseBCC", true);
    ini.WriteString("Setup", "Server", "");
    ini.WriteString("Addresses", "anAddress0", "a@example.org");
    ini.WriteInteger("Setup", "BackColor", std::int32_t(0x80000005u));
    ini.UpdateFile();
    EXPECT_EQ(ReadWholeFile(Path()),
              "[Setup]\r\nPort=25\r\nUseBCC=1\r\nServer=\r\nBackColor=-2147483643\r\n"
              "\r\n[Addresses]\r\nanAddress0=a@example.org\r\n");
}

TEST_F(ProfileFile, KeepsWhatItDoesNotWrite)
{
    const std::string old =
        "; written by hand\r\n"
        "[Setup]\r\n"
        "Port=25\r\n"
        "Custom = kept \r\n"
        "; a comment\r\n"
        "\r\n"
        "[Plugin]\r\n"
        "Key=Value\r\n";
    WriteWholeFile(Path(), old);
    TIniFile ini(Path());
    ini.WriteInteger("setup", "PORT", 2525);
    ini.WriteString("Setup", "Server", "smtp.example.org");
    ini.UpdateFile();
    EXPECT_EQ(ReadWholeFile(Path()),
              "; written by hand\r\n"
              "[Setup]\r\n"
              "PORT=2525\r\n"
              "Custom = kept \r\n"
              "; a comment\r\n"
              "Server=smtp.example.org\r\n"
              "\r\n"
              "[Plugin]\r\n"
              "Key=Value\r\n");
}

TEST_F(ProfileFile, ListsKeysInFileOrderWithoutBound)
{
    // 3000 keys need far more than the 8192 bytes of the classic key list.
    constexpr int kEntries = 3000;
    std::string text = "[Addresses]\r\n";
    for (int i = kEntries - 1; i >= 0; --i)
        text += "anAddress" + std::to_string(i) + "=user" + std::to_string(i) + "@example.org\r\n";
    WriteWholeFile(Path(), text);
    const TIniFile ini(Path());
    const auto keys = ini.ReadSection("addresses");
    ASSERT_EQ(keys.size(), std::size_t(kEntries));
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

TEST_F(ProfileFile, EraseSectionRemovesEveryCopy)
{
    WriteWholeFile(Path(), "[Addresses]\r\na=1\r\n\r\n[Setup]\r\nPort=25\r\n\r\n[ADDRESSES]\r\nb=2\r\n");
    TIniFile ini(Path());
    ini.EraseSection("Addresses");
    EXPECT_FALSE(ini.SectionExists("Addresses"));
    ini.WriteString("Addresses", "anAddress0", "c");
    ini.UpdateFile();
    EXPECT_EQ(ReadWholeFile(Path()), "[Setup]\r\nPort=25\r\n\r\n[Addresses]\r\nanAddress0=c\r\n");
}

TEST_F(ProfileFile, RepeatedSavesDoNotGrowBlankLines)
{
    TIniFile first(Path());
    first.WriteString("Setup", "Server", "s");
    first.WriteString("Addresses", "anAddress0", "a");
    first.UpdateFile();
    const std::string once = ReadWholeFile(Path());
    TIniFile second(Path());
    second.WriteString("Setup", "Server", "s");
    second.EraseSection("Addresses");
    second.WriteString("Addresses", "anAddress0", "a");
    second.UpdateFile();
    EXPECT_EQ(ReadWholeFile(Path()), once);
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

TEST_F(ProfileFile, FolderThatIsAFileCannotBeWritten)
{
    WriteWholeFile(Path("plain"), "not a folder");
    const std::string path = Path("plain") + "/settings.ini";
    TIniFile ini(path);
    ini.WriteString("Setup", "Server", "s");
    try {
        ini.UpdateFile();
        FAIL() << "the save should fail";
    } catch (const EIniFileError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
    }
    EXPECT_EQ(ReadWholeFile(Path("plain")), "not a folder");
}

TEST_F(ProfileFile, FailedWriteLeavesOldFileWhole)
{
    const std::string old = "[Setup]\r\nPort=25\r\n[Addresses]\r\nanAddress0=keep@example.org\r\n";
    WriteWholeFile(Path(), old);
    TIniFile ini(Path());
    ini.WriteString("Setup", "Server", std::string(1000, 's'));
    ini.EraseSection("Addresses");
    {
        const TFileSizeLimit limit(64);   // the new text is longer than that
        EXPECT_THROW(ini.UpdateFile(), EIniFileError);
    }
    EXPECT_EQ(ReadWholeFile(Path()), old);
    EXPECT_EQ(QDir(FDir.path()).entryList(QDir::Files), QStringList{"settings.ini"}) << "no temporary file left";
}

TEST_F(ProfileFile, ReadOnlyFolderRefusesAndKeepsOldFile)
{
    const std::string old = "[Setup]\r\nPort=25\r\n";
    WriteWholeFile(Path(), old);
    ::chmod(FDir.path().toLocal8Bit().constData(), 0555);
    const std::string path = Path();
    const bool refused = RunUnprivileged([&] {
        TIniFile ini(path);
        ini.WriteInteger("Setup", "Port", 2525);
        try {
            ini.UpdateFile();
        } catch (const EIniFileError& e) {
            return std::string(e.what()) == "Unable to write to " + path;
        }
        return false;
    });
    ::chmod(FDir.path().toLocal8Bit().constData(), 0700);
    EXPECT_TRUE(refused);
    EXPECT_EQ(ReadWholeFile(Path()), old);
}

TEST_F(ProfileFile, ReadOnlyFileRefusesAndKeepsOldFile)
{
    const std::string old = "[Setup]\r\nPort=25\r\n";
    WriteWholeFile(Path(), old);
    ::chmod(Path().c_str(), 0444);
    ::chmod(FDir.path().toLocal8Bit().constData(), 0777);   // the folder itself is writable
    const std::string path = Path();
    const bool refused = RunUnprivileged([&] {
        TIniFile ini(path);
        ini.WriteInteger("Setup", "Port", 2525);
        try {
            ini.UpdateFile();
        } catch (const EIniFileError&) {
            return true;
        }
        return false;
    });
    ::chmod(FDir.path().toLocal8Bit().constData(), 0700);
    EXPECT_TRUE(refused);
    EXPECT_EQ(ReadWholeFile(Path()), old);
}

TEST_F(ProfileFile, UnreadableFileIsNotReplaced)
{
    // A folder where the file should be: it exists but cannot be read.
    ASSERT_TRUE(QDir(FDir.path()).mkdir("settings.ini"));
    TIniFile ini(Path());
    EXPECT_TRUE(ini.ReadFailed());
    EXPECT_EQ(ini.ReadInteger("Setup", "Port", 25), 25);
    ini.WriteInteger("Setup", "Port", 2525);
    EXPECT_THROW(ini.UpdateFile(), EIniFileError);
    EXPECT_TRUE(QFileInfo(QString::fromStdString(Path())).isDir());
}

TEST_F(ProfileFile, SaveThroughALinkReplacesItsTarget)
{
    WriteWholeFile(Path("real.ini"), "[Setup]\r\n");
    ASSERT_TRUE(QFile::link(QString::fromStdString(Path("real.ini")), QString::fromStdString(Path("link.ini"))));
    TIniFile ini(Path("link.ini"));
    ini.WriteInteger("Setup", "Port", 7);
    ini.UpdateFile();
    EXPECT_TRUE(QFileInfo(QString::fromStdString(Path("link.ini"))).isSymLink());
    EXPECT_EQ(ReadWholeFile(Path("real.ini")), "[Setup]\r\nPort=7\r\n");
}

TEST_F(ProfileFile, SaveKeepsPermissionsOfTheOldFile)
{
    WriteWholeFile(Path(), "[Setup]\r\n");
    ::chmod(Path().c_str(), 0640);
    TIniFile ini(Path());
    ini.WriteInteger("Setup", "Port", 1);
    ini.UpdateFile();
    struct stat info {};
    ASSERT_EQ(::stat(Path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

}
