#include "../support/test_data.h"
#include "platform_test_files.h"
#include "profile.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>
#include <memory>
#include <sstream>

namespace {

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

class ProfileFile : public ::testing::Test {
protected:
    std::string Path(const std::string& name = "settings.ini") const { return FDir.path().toStdString() + "/" + name; }
    QTemporaryDir FDir;
};

// ---- before/after pairs: tests/data/settings/X.ops on X.before.ini -------
// Each line of X.ops is "verb section key value" (value: the rest of the
// line, with \r \n \xHH) or a read "verb section key default => expected".
// The file afterwards must equal X.after.ini (without one: X.before.ini, or
// no file at all).

namespace fs = std::filesystem;

// What read `verb` gives; empty for a write.
std::string Do(std::unique_ptr<TIniFile>& ini, const std::string& verb, std::istringstream& words, bool read)
{
    std::string section, key, value;
    words >> section >> key;
    std::getline(words >> std::ws, value);
    value = Unescape(value);
    if (verb == "write") ini->WriteString(section, key, value);
    else if (verb == "int" && !read) ini->WriteInteger(section, key, std::stoi(value));
    else if (verb == "bool" && !read) ini->WriteBool(section, key, value == "1");
    else if (verb == "erase") ini->EraseSection(section);
    else if (verb == "save") ini->UpdateFile();
    else if (verb == "reopen") ini = std::make_unique<TIniFile>(ini->FileName());
    else if (verb == "string") return ini->ReadString(section, key, value);
    else if (verb == "int") return std::to_string(ini->ReadInteger(section, key, std::stoi(value)));
    else if (verb == "bool") return ini->ReadBool(section, key, value == "1") ? "1" : "0";
    else if (verb == "exists") return ini->SectionExists(section) ? "1" : "0";
    else if (verb == "failed") return ini->ReadFailed() ? "1" : "0";
    else if (verb == "keys")
        return Joined<std::string>(ini->ReadSection(section), [](const std::string& k) { return k; });
    else if (verb == "values")
        return Joined<std::pair<std::string, std::string>>(ini->ReadSectionValues(section),
                                                           [](const auto& p) { return p.first + "=" + p.second; });
    else ADD_FAILURE() << "unknown operation " << verb;
    return "";
}

class SettingsPair : public ProfileFile, public ::testing::WithParamInterface<fs::path> {};

TEST_P(SettingsPair, OperationsTurnBeforeIntoAfter)
{
    const fs::path ops = GetParam();
    const auto beside = [&](const char* suffix) { return fs::path(ops).replace_extension(suffix); };
    const bool hasBefore = fs::exists(beside(".before.ini")), hasAfter = fs::exists(beside(".after.ini"));
    if (hasBefore)
        WriteWholeFile(Path(), ReadFile(beside(".before.ini")));
    auto ini = std::make_unique<TIniFile>(Path());
    std::istringstream in(ReadFile(ops));
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        const auto arrow = line.find(" =>");
        const std::string expected = arrow == std::string::npos ? "" : Unescape(line.substr(std::min(arrow + 4, line.size())));
        std::istringstream words(line.substr(0, arrow));
        std::string verb;
        words >> verb;
        EXPECT_EQ(Do(ini, verb, words, arrow != std::string::npos), expected) << line;
    }
    const fs::path after = hasAfter ? beside(".after.ini") : beside(".before.ini");
    EXPECT_EQ(fs::exists(Path()), hasBefore || hasAfter);
    EXPECT_EQ(ReadFile(Path()), hasBefore || hasAfter ? ReadFile(after) : "");
}

INSTANTIATE_TEST_SUITE_P(Files, SettingsPair, ::testing::ValuesIn(DataFiles("settings", ".ops")),
                         [](const auto& info) { return info.param.stem().string(); });

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

TEST_F(ProfileFile, SaveThroughALinkReplacesItsTargetKeepingItsPermissions)
{
    WriteWholeFile(Path("real.ini"), "[Setup]\r\n");
    ::chmod(Path("real.ini").c_str(), 0640);
    ASSERT_TRUE(QFile::link(QString::fromStdString(Path("real.ini")), QString::fromStdString(Path("link.ini"))));
    TIniFile ini(Path("link.ini"));
    ini.WriteInteger("Setup", "Port", 7);
    ini.UpdateFile();
    EXPECT_TRUE(QFileInfo(QString::fromStdString(Path("link.ini"))).isSymLink());
    EXPECT_EQ(ReadFile(Path("real.ini")), "[Setup]\r\nPort=7\r\n");
    struct stat info {};
    ASSERT_EQ(::stat(Path("real.ini").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

} // namespace
