// The settings file: loading with defaults and range checks, the save order,
// the address section, and saves that fail without harming the old file.
#include "../platform/platform_test_files.h"
#include "settings.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const std::string kFreshFile =
    "[Setup]\r\n"
    "Port=25\r\n"
    "TimeOut=60\r\n"
    "UseDomainAddress=1\r\n"
    "UseBCC=1\r\n"
    "ShowSuccess=1\r\n"
    "OneFilePerMsg=0\r\n"
    "ShowPanel=1\r\n"
    "MsgTextFile=\r\n"
    "MsgText=0\r\n"
    "MsgSubjectDef=\r\n"
    "MsgSubject=0\r\n"
    "BackColor=-2147483643\r\n"
    "Height=321\r\n"
    "Width=432\r\n"
    "Top=15\r\n"
    "Left=15\r\n"
    "FontColor=0\r\n"
    "FontName=MS Sans Serif\r\n"
    "FontSize=10\r\n"
    "Server=\r\n"
    "EMail Address=\r\n"
    "Name=\r\n"
    "Log File=\r\n"
    "Encoding=1\r\n"
    "CharSet=0\r\n";

class Settings : public ::testing::Test {
protected:
    std::string Path(const std::string& name = "tessaly.ini") const
    {
        return (FDir.path() + "/" + QString::fromStdString(name)).toStdString();
    }
    void Load(const std::string& fileText)
    {
        WriteWholeFile(Path(), fileText);
        LoadSettings(Path(), Mailer, Run, Window, Addresses);
    }
    void Save() { SaveSettings(Path(), Mailer, Run, Window, Addresses); }
    std::string FileText() const { return ReadWholeFile(Path()); }
    // The value of one key as written, "" when absent.
    std::string Written(const std::string& key) const
    {
        const std::string text = FileText();
        const auto at = text.find("\r\n" + key + "=");
        if (at == std::string::npos)
            return "<absent>";
        const auto start = at + 3 + key.size();
        return text.substr(start, text.find("\r\n", start) - start);
    }

    QTemporaryDir FDir;
    TSMTP Mailer;
    TRunSettings Run;
    TWindowSettings Window;
    std::vector<std::string> Addresses;
};

TEST_F(Settings, MissingFileGivesEveryDefault)
{
    // Start far from the defaults, so a key that is not applied shows.
    Mailer.SetDefaultPort(1);
    Mailer.SetTimeOut(5);
    Mailer.SetUseDomainAddress(false);
    Mailer.SetShowResult(false);
    Mailer.SetServer("old");
    Mailer.SetFrom("old@example.org|Old");
    Mailer.SetEncoding(etUU);
    Run = TRunSettings{false, true, "f", 1, "s", 2};
    Window.Height = 1;
    Window.FontName = "Other";
    Addresses = {"stale"};

    LoadSettings(Path("absent.ini"), Mailer, Run, Window, Addresses);

    EXPECT_EQ(Mailer.DefaultPort(), 25);
    EXPECT_EQ(Mailer.TimeOut(), 60);
    EXPECT_TRUE(Mailer.UseDomainAddress());
    EXPECT_TRUE(Mailer.ShowResult());
    EXPECT_EQ(Mailer.Server(), "");
    EXPECT_EQ(Mailer.From(), "");
    EXPECT_EQ(Mailer.LogFileName(), "");
    EXPECT_EQ(Mailer.Encoding(), etMIME);
    EXPECT_EQ(Mailer.CharSet(), csUSASCII);
    EXPECT_TRUE(Run.UseBCC);
    EXPECT_FALSE(Run.OneFilePerMsg);
    EXPECT_EQ(Run.MsgTextFile, "");
    EXPECT_EQ(Run.MsgText, 0);
    EXPECT_EQ(Run.MsgSubjectDef, "");
    EXPECT_EQ(Run.MsgSubject, 0);
    EXPECT_EQ(Window.Left, 15);
    EXPECT_EQ(Window.Top, 15);
    EXPECT_EQ(Window.Width, 432);
    EXPECT_EQ(Window.Height, 321);
    EXPECT_TRUE(Window.ShowPanel);
    EXPECT_EQ(Window.FontColor, 0);
    EXPECT_EQ(Window.FontName, "MS Sans Serif");
    EXPECT_EQ(Window.FontSize, 10);
    EXPECT_EQ(Window.BackColor, std::int32_t(0x80000005u));
    EXPECT_TRUE(Addresses.empty());
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(Path("absent.ini"))));
}

TEST_F(Settings, FirstSaveWrites25KeysInSaveOrderAndNoAddresses)
{
    LoadSettings(Path(), Mailer, Run, Window, Addresses);
    Save();
    EXPECT_EQ(FileText(), kFreshFile);
}

TEST_F(Settings, SenderIsSplitAtTheBar)
{
    Mailer.SetFrom("me@example.org");
    Save();
    EXPECT_EQ(Written("EMail Address"), "me@example.org");
    EXPECT_EQ(Written("Name"), "");

    Mailer.SetFrom("me@example.org|Jo Bloggs|Jr");
    Save();
    EXPECT_EQ(Written("EMail Address"), "me@example.org");
    EXPECT_EQ(Written("Name"), "Jo Bloggs|Jr");

    Load("[Setup]\r\nEMail Address=you@example.org\r\nName=You There\r\n");
    EXPECT_EQ(Mailer.From(), "you@example.org|You There");
    Load("[Setup]\r\nEMail Address=you@example.org\r\n");
    EXPECT_EQ(Mailer.From(), "you@example.org");
}

TEST_F(Settings, HexColourLoadsAndSavesBackAsDecimal)
{
    Load("[Setup]\r\nFontColor=0xFF\r\nBackColor=$00FF00\r\n");
    EXPECT_EQ(Window.FontColor, 0xFF);   // pure red
    EXPECT_EQ(Window.BackColor, 0xFF00);
    Save();
    EXPECT_EQ(Written("FontColor"), "255");
    EXPECT_EQ(Written("BackColor"), "65280");
}

struct TBoolCase {
    std::string Stored;
    bool Loaded;
    std::string Saved;
};

TEST_F(Settings, BooleansTakeNumbersOnly)
{
    const TBoolCase cases[] = {
        {"yes", true, "1"},    // not a number: the default, which is true
        {"2", true, "1"},
        {"0", false, "0"},
        {"1", true, "1"},
        {"-1", true, "1"},
        {"", true, "1"},
    };
    for (const auto& c : cases) {
        Load("[Setup]\r\nUseBCC=" + c.Stored + "\r\nOneFilePerMsg=" + c.Stored + "\r\n");
        EXPECT_EQ(Run.UseBCC, c.Loaded) << c.Stored;
        Save();
        EXPECT_EQ(Written("UseBCC"), c.Saved) << c.Stored;
    }
    Load("[Setup]\r\nOneFilePerMsg=yes\r\n");
    EXPECT_FALSE(Run.OneFilePerMsg);   // its default is false
}

TEST_F(Settings, EncodingComesBeforeCharSet)
{
    Load("[Setup]\r\nEncoding=0\r\nCharSet=1\r\n");
    EXPECT_EQ(Mailer.Encoding(), etUU);
    EXPECT_EQ(Mailer.CharSet(), csUSASCII);
    Save();
    EXPECT_EQ(Written("Encoding"), "0");
    EXPECT_EQ(Written("CharSet"), "0");

    // The client is on UUencode now: only with the encoding set first is
    // the character set taken.
    ASSERT_EQ(Mailer.Encoding(), etUU);
    Load("[Setup]\r\nEncoding=1\r\nCharSet=1\r\n");
    EXPECT_EQ(Mailer.Encoding(), etMIME);
    EXPECT_EQ(Mailer.CharSet(), csISO8859);
}

TEST_F(Settings, AddressesAnyKeyEmptySkippedRenumberedOnSave)
{
    Load("[Addresses]\r\nx=zed@example.org\r\ny=\r\nanAddress7=/home/me/list.txt\r\n");
    // File order; the main window sorts.
    EXPECT_EQ(Addresses, (std::vector<std::string>{"zed@example.org", "/home/me/list.txt"}));
    Addresses = {"/home/me/list.txt", "zed@example.org"};
    Save();
    const std::string text = FileText();
    EXPECT_NE(text.find("\r\n[Addresses]\r\nanAddress0=/home/me/list.txt\r\nanAddress1=zed@example.org\r\n"),
              std::string::npos) << text;
    EXPECT_EQ(text.find("x="), std::string::npos);
    EXPECT_EQ(text.find("anAddress7"), std::string::npos);
}

TEST_F(Settings, DuplicateEntriesAndDuplicateKeysAllSurvive)
{
    Addresses = {"a@example.org", "a@example.org"};
    Save();
    LoadSettings(Path(), Mailer, Run, Window, Addresses);
    EXPECT_EQ(Addresses, (std::vector<std::string>{"a@example.org", "a@example.org"}));

    Load("[Addresses]\r\nk=one@example.org\r\nk=two@example.org\r\n");
    EXPECT_EQ(Addresses, (std::vector<std::string>{"one@example.org", "two@example.org"}));
}

TEST_F(Settings, BlanksAroundAnEntryAreDroppedOnLoad)
{
    Addresses = {"  spaced@example.org\t "};
    Save();
    LoadSettings(Path(), Mailer, Run, Window, Addresses);
    EXPECT_EQ(Addresses, std::vector<std::string>{"spaced@example.org"});
}

TEST_F(Settings, LongValueIsCutTo1023Characters)
{
    Load("[Setup]\r\nServer=" + std::string(2000, 's') + "\r\n[Addresses]\r\na=" + std::string(2000, 'a') + "\r\n");
    EXPECT_EQ(Mailer.Server(), std::string(1023, 's'));
    ASSERT_EQ(Addresses.size(), 1u);
    EXPECT_EQ(Addresses[0], std::string(1023, 'a'));
}

TEST_F(Settings, LongAddressListLosesNothing)
{
    // Far beyond the 638 entries that a key list of 8192 bytes could hold.
    constexpr int kEntries = 2500;
    for (int i = 0; i < kEntries; ++i)
        Addresses.push_back("user" + std::to_string(i) + "@example.org");
    const auto saved = Addresses;
    Save();
    Addresses.clear();
    LoadSettings(Path(), Mailer, Run, Window, Addresses);
    EXPECT_EQ(Addresses, saved);
}

TEST_F(Settings, EmptyListRemovesTheSection)
{
    Load("[Setup]\r\nPort=25\r\n[Addresses]\r\nanAddress0=a@example.org\r\n");
    Addresses.clear();
    Save();
    EXPECT_EQ(FileText().find("Addresses"), std::string::npos);
}

struct TRangeCase {
    std::string Line;
    std::function<bool(const TSMTP&, const TRunSettings&, const TWindowSettings&)> Holds;
    const char* What;
};

TEST_F(Settings, ValuesOutOfRangeFallBackToTheDefault)
{
    using M = const TSMTP&;
    using R = const TRunSettings&;
    using W = const TWindowSettings&;
    const TRangeCase cases[] = {
        {"Port=70000", [](M m, R, W) { return m.DefaultPort() == 25; }, "port above 65535"},
        {"Port=-1", [](M m, R, W) { return m.DefaultPort() == 25; }, "negative port"},
        {"Port=0", [](M m, R, W) { return m.DefaultPort() == 0; }, "port 0 is kept"},
        {"Port=65535", [](M m, R, W) { return m.DefaultPort() == 65535; }, "highest port"},
        {"TimeOut=0", [](M m, R, W) { return m.TimeOut() == 60; }, "zero time-out"},
        {"TimeOut=-5", [](M m, R, W) { return m.TimeOut() == 60; }, "negative time-out"},
        {"TimeOut=1", [](M m, R, W) { return m.TimeOut() == 1; }, "one second"},
        {"Encoding=2", [](M m, R, W) { return m.Encoding() == etMIME; }, "unknown encoding"},
        {"Encoding=-1", [](M m, R, W) { return m.Encoding() == etMIME; }, "negative encoding"},
        {"CharSet=7", [](M m, R, W) { return m.CharSet() == csUSASCII; }, "unknown character set"},
        {"MsgText=3", [](M, R r, W) { return r.MsgText == 0; }, "MsgText beyond its choices"},
        {"MsgSubject=-1", [](M, R r, W) { return r.MsgSubject == 0; }, "MsgSubject below its choices"},
        {"MsgSubject=2", [](M, R r, W) { return r.MsgSubject == 2; }, "MsgSubject 2 is kept"},
        {"FontSize=0", [](M, R, W w) { return w.FontSize == 10; }, "zero font size"},
        {"FontSize=100000", [](M, R, W w) { return w.FontSize == 10; }, "huge font size"},
        {"Height=0", [](M, R, W w) { return w.Height == 321; }, "zero height"},
        {"Width=-40", [](M, R, W w) { return w.Width == 432; }, "negative width"},
        {"Width=100000", [](M, R, W w) { return w.Width == 432; }, "huge width"},
        {"Top=-99999", [](M, R, W w) { return w.Top == 15; }, "top far off"},
        {"Left=-200", [](M, R, W w) { return w.Left == -200; }, "left on another screen is kept"},
        {"BackColor=0x12345678", [](M, R, W w) { return w.BackColor == std::int32_t(0x80000005u); }, "not a colour"},
        {"BackColor=0x8000000F", [](M, R, W w) { return w.BackColor == std::int32_t(0x8000000Fu); }, "system colour 15"},
        {"FontColor=0x80000099", [](M, R, W w) { return w.FontColor == 0; }, "no such system colour"},
    };
    for (const auto& c : cases) {
        Mailer.SetEncoding(etMIME);
        Load("[Setup]\r\nEncoding=1\r\n" + c.Line + "\r\n");
        EXPECT_TRUE(c.Holds(Mailer, Run, Window)) << c.What << " (" << c.Line << ")";
    }
}

TEST_F(Settings, SaveKeepsWhatOthersWrote)
{
    Load("; my notes\r\n[Setup]\r\nPort=2525\r\nExtra=kept\r\n\r\n[Other]\r\nkey=value\r\n");
    // Another program adds a key while the window is open.
    WriteWholeFile(Path(), FileText() + "[Late]\r\nnew=1\r\n");
    Save();
    const std::string text = FileText();
    EXPECT_EQ(text.rfind("; my notes\r\n[Setup]\r\nPort=2525\r\nExtra=kept\r\n", 0), 0u) << text;
    EXPECT_NE(text.find("[Other]\r\nkey=value\r\n"), std::string::npos);
    EXPECT_NE(text.find("[Late]\r\nnew=1\r\n"), std::string::npos);
}

TEST_F(Settings, FolderThatCannotHoldTheFileReportsThePath)
{
    WriteWholeFile(Path("plain"), "a file, not a folder");
    const std::string path = Path("plain") + "/tessaly.ini";
    try {
        SaveSettings(path, Mailer, Run, Window, Addresses);
        FAIL() << "the save should fail";
    } catch (const ESettingsError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
    }
}

TEST_F(Settings, FailedSaveLeavesTheOldFileWhole)
{
    const std::string old = kFreshFile + "\r\n[Addresses]\r\nanAddress0=keep@example.org\r\n";
    WriteWholeFile(Path(), old);
    Addresses = std::vector<std::string>(50, "new-entry@example.org");
    {
        // The new file is larger than this: the write fails part-way, for
        // root as well.
        const TFileSizeLimit limit(old.size() + 16);
        EXPECT_THROW(Save(), ESettingsError);
    }
    EXPECT_EQ(FileText(), old);
    EXPECT_EQ(QDir(FDir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"tessaly.ini"});
}

TEST_F(Settings, FileThatCannotBeReadGivesDefaultsAndIsNotOverwritten)
{
    // Something that exists where the file should be but cannot be read
    // as one: loading is silent, saving must not replace it blindly.
    ASSERT_TRUE(QDir(FDir.path()).mkdir("tessaly.ini"));
    Mailer.SetDefaultPort(1);
    LoadSettings(Path(), Mailer, Run, Window, Addresses);
    EXPECT_EQ(Mailer.DefaultPort(), 25);
    EXPECT_THROW(Save(), ESettingsError);
    EXPECT_TRUE(QFileInfo(QString::fromStdString(Path())).isDir());
}

TEST_F(Settings, ReadOnlyFileIsNotReplaced)
{
    const std::string old = "[Setup]\r\nPort=2525\r\n";
    WriteWholeFile(Path(), old);
    ::chmod(Path().c_str(), 0444);
    ::chmod(FDir.path().toLocal8Bit().constData(), 0777);
    const std::string path = Path();
    const bool refused = RunUnprivileged([&] {
        try {
            SaveSettings(path, Mailer, Run, Window, Addresses);
        } catch (const ESettingsError&) {
            return true;
        }
        return false;
    });
    ::chmod(FDir.path().toLocal8Bit().constData(), 0700);
    EXPECT_TRUE(refused);
    EXPECT_EQ(FileText(), old);
}

}
