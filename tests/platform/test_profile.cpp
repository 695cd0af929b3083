// The profile file (numbers, the before/after cases of tests/data/settings,
// long values and key lists, saves that replace the file whole or say why
// they cannot) and where it lives: beside the program for a portable
// install, otherwise in the user's folder, seeded from the file beside.
#include "../support/test_data.h"
#include "platform_test_files.h"
#include "profile.h"
#include "settingspath.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <set>
#include <sstream>

namespace {
using ::PrintTo;
namespace fs = std::filesystem;

// A file at `path` with `text` and permissions `mode`; returns `path`.
std::string Made(const std::string& path, const std::string& text, mode_t mode = 0644)
{
    std::ofstream(path, std::ios::binary) << text;
    ::chmod(path.c_str(), mode);
    return path;
}

TEST(ProfileInteger, DecimalAndHexadecimal)
{
    const std::pair<std::string, std::optional<std::int32_t>> cases[] = {
        // Leading zeros do not count; 0x80000005 is a system-colour reference.
        {" 42 ", 42}, {"-12", -12}, {"+7", 7}, {"0XfF", 255}, {"-$10", -16}, {"$0000000000ff", 255},
        {"0x80000005", -2147483643}, {"2147483647", 2147483647}, {"-2147483648", -2147483647 - 1}, {"2147483648", {}},
        {"0x100000000", {}}, {"yes", {}}, {"", {}}, {"0x", {}}, {"12a", {}}, {"1 2", {}},
    };
    for (const auto& [text, expected] : cases) {
        std::int32_t value = 12345;
        EXPECT_EQ(ParseProfileInteger(text, value), expected.has_value()) << "text: [" << text << "]";
        EXPECT_EQ(value, expected.value_or(12345)) << "text: [" << text << "]";
    }
}

// One line of an .ops file (format in tests/data/settings/README): an
// operation, or a read whose result must be the text after "=>".
void Do(std::unique_ptr<TIniFile>& ini, const std::string& line)
{
    const auto arrow = line.find(" =>");
    const bool read = arrow != std::string::npos;
    std::istringstream words(line.substr(0, arrow));
    std::string verb, section, key, value, got;
    words >> verb >> section >> key;
    std::getline(words >> std::ws, value);
    value = Unescape(value);
    if (verb == "write") ini->WriteString(section, key, value);
    else if (verb == "int" && !read) ini->WriteInteger(section, key, std::stoi(value));
    else if (verb == "bool" && !read) ini->WriteBool(section, key, value == "1");
    else if (verb == "erase") ini->EraseSection(section);
    else if (verb == "save") ini->UpdateFile();
    else if (verb == "reopen") ini = std::make_unique<TIniFile>(ini->FileName());
    else if (verb == "string") got = ini->ReadString(section, key, value);
    else if (verb == "int") got = std::to_string(ini->ReadInteger(section, key, std::stoi(value)));
    else if (verb == "bool") got = ini->ReadBool(section, key, value == "1") ? "1" : "0";
    else if (verb == "exists") got = ini->SectionExists(section) ? "1" : "0";
    else if (verb == "failed") got = ini->ReadFailed() ? "1" : "0";
    else if (verb == "values")
        got = Joined(ini->ReadSectionValues(section), [](const auto& p) { return p.first + "=" + p.second; });
    else ADD_FAILURE() << "unknown operation " << verb;
    EXPECT_EQ(got, read ? Unescape(line.substr(std::min(arrow + 4, line.size()))) : "") << line;
}

class SettingsPair : public ::testing::TestWithParam<fs::path> {};

// X.ops on a copy of X.before.ini gives X.after.ini; run once more on that
// result, it changes nothing.
TEST_P(SettingsPair, OperationsTurnBeforeIntoAfterAndAgainChangeNothing)
{
    const auto beside = [&](const char* suffix) { return fs::path(GetParam()).replace_extension(suffix); };
    const bool hasBefore = fs::exists(beside(".before.ini")), hasAfter = fs::exists(beside(".after.ini"));
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/settings.ini";
    if (hasBefore)
        Made(path, ReadFile(beside(".before.ini")));
    for (int pass = 1; pass <= 2; ++pass) {
        auto ini = std::make_unique<TIniFile>(path);
        std::istringstream in(ReadFile(GetParam()));
        for (std::string line; std::getline(in, line);)
            if (!line.empty() && line[0] != '#')
                Do(ini, line);
        EXPECT_EQ(fs::exists(path), hasBefore || hasAfter) << "pass " << pass;
        EXPECT_EQ(ReadFile(path), ReadFile(beside(hasAfter ? ".after.ini" : ".before.ini"))) << "pass " << pass;
    }
}

INSTANTIATE_TEST_SUITE_P(Files, SettingsPair, ::testing::ValuesIn(DataFiles("settings", ".ops")),
                         [](const auto& info) { return info.param.stem().string(); });

TEST(ProfileFile, ListsKeysInFileOrderWithoutBound)
{
    // 3000 keys: far more than the 8192 bytes of the classic key list, and
    // a file larger than one read.
    QTemporaryDir dir;
    std::string text = "[Addresses]\r\n";
    for (int i = 2999; i >= 0; --i)
        text += "anAddress" + std::to_string(i) + "=user" + std::to_string(i) + "@example.org\r\n";
    const auto keys = TIniFile(Made(dir.path().toStdString() + "/t.ini", text)).ReadSection("addresses");
    ASSERT_EQ(keys.size(), 3000u);
    EXPECT_EQ(keys.front() + " " + keys.back(), "anAddress2999 anAddress0");
}

// Values the reader would change (quoted as ValuesTheReaderWouldChange
// shows) and the longest ones come back whole; the first that could not is
// refused, never saved cut. Reads cut at characters, not inside a sequence.
TEST(ProfileValue, ComesBackWholeOrIsRefused)
{
    const std::string kept[] = {"  Weekly report  ", "\tx", "\"x\"", "'x'", "\"x", "\"", "a = b",
                                std::string(1023, 'a'), Repeat("\xC3\xA9", 1023)};
    for (const std::string& value : kept) {
        TIniFile ini = TIniFile::FromText("t.ini", "");
        ini.WriteString("Setup", "Name", value);
        EXPECT_EQ(TIniFile::FromText("t.ini", ini.Text()).ReadString("Setup", "Name", "?"), value) << value;
    }
    for (const std::string& value : {std::string(1024, 'a'), Repeat("\xE2\x82\xAC", 1024)})
        EXPECT_THROW(TIniFile::FromText("t.ini", "").WriteString("Setup", "Name", value), EIniFileError);
    EXPECT_EQ(ProfileValue(Repeat("\xC3\xA9", 2000)), Repeat("\xC3\xA9", 1023));
    EXPECT_EQ(ProfileValue("x" + Repeat("\xE2\x82\xAC", 1100)), "x" + Repeat("\xE2\x82\xAC", 1022));
}

// Prepare makes the settings path in a folder; Reason "" = the save succeeds.
struct TSaveCase { const char* Name; std::string (*Prepare)(const std::string& folder); const char* Reason; };
class Save : public ::testing::TestWithParam<TSaveCase> {};

TEST_P(Save, ReplacesTheFileWholeOrReportsTheSystemsReason)
{
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString(), path = GetParam().Prepare(folder), reason = GetParam().Reason;
    const auto entries = [&] { return std::set<fs::path>(fs::directory_iterator(folder), {}); };
    const auto text = [&] { return fs::is_regular_file(path) ? ReadFile(path) : ""; };
    const auto before = entries();
    const std::string old = text();
    const auto oldMode = fs::status(path).permissions();
    std::string message;
    try {
        const TFileSizeLimit full(reason == "File too large" ? 8 : RLIM_INFINITY);
        TIniFile ini(path);
        ini.WriteString("Setup", "Port", "25");
        ini.UpdateFile();
    } catch (const EIniFileError& e) {
        message = e.what();
    }
    EXPECT_EQ(message, reason.empty() ? "" : "Unable to write to " + path + ": " + reason);
    EXPECT_TRUE(oldMode == fs::perms::unknown || fs::status(path).permissions() == oldMode) << "the permissions stay";
    if (reason.empty()) {   // a link stays, and its target is replaced or made
        EXPECT_TRUE(fs::is_symlink(path));
        EXPECT_EQ(text(), "[Setup]\r\nPort=25\r\n");
    } else {   // the old file whole, no temporary file left
        EXPECT_EQ(entries(), before);
        EXPECT_EQ(text(), old);
    }
}

std::string Link(const std::string& folder, const char* target)
{
    fs::create_symlink(target, folder + "/l.ini");
    return folder + "/l.ini";
}

INSTANTIATE_TEST_SUITE_P(Rows, Save, ::testing::ValuesIn(std::vector<TSaveCase>{
    {"read_only_file_also_for_root", [](auto& f) { return Made(f + "/ro.ini", "", 0444); }, "Permission denied"},
    {"folder_at_the_path", [](auto& f) { fs::create_directory(f + "/d.ini"); return f + "/d.ini"; }, "Is a directory"},
    {"missing_folder", [](auto& f) { return f + "/none/t.ini"; }, "No such file or directory"},
    {"file_where_the_folder_should_be", [](auto& f) { return Made(f + "/p", "x") + "/t.ini"; }, "Not a directory"},
    {"full_disk", [](auto& f) { return Made(f + "/t.ini", "[Setup]\r\nPort=1\r\n"); }, "File too large"},
    {"dangling_link_into_a_missing_folder", [](auto& f) { return Link(f, "none/t.ini"); }, "No such file or directory"},
    {"dangling_link_is_followed", [](auto& f) { return Link(f, "t.ini"); }, ""},
    {"link_target_keeps_its_permissions", [](auto& f) {
        Made(f + "/t.ini", "[Setup]\r\n", 0640);
        return Link(f, "t.ini"); }, ""}}),
    [](const auto& info) { return std::string(info.param.Name); });

// BesideMode: the mode of bin/tessaly.ini, 0 for none. Text: that of the
// chosen file afterwards ("" = none).
struct TPlaceCase { const char* Name; std::string Exe; mode_t BesideMode; bool FolderWritable;
                    std::string XdgConfigHome; bool UserFileExists; std::string Expected, Text; };
class SettingsPlace : public ::testing::TestWithParam<TPlaceCase> {};

TEST_P(SettingsPlace, PortableOnlyWhenTheFileIsThereAndReplaceable)
{
    const TPlaceCase& c = GetParam();
    QTemporaryDir dir;
    const std::string root = dir.path().toStdString() + "/";
    const auto in = [&](const std::string& name) { return name.empty() ? name : root + name; };
    ASSERT_TRUE(fs::create_directory(in("bin")) && fs::create_directories(in("cfg/tessaly")));
    if (c.BesideMode)
        Made(in("bin/tessaly.ini"), "beside", c.BesideMode);
    if (c.UserFileExists)
        Made(in("cfg/tessaly/tessaly.ini"), "user");
    const auto writable = [&](const std::string&) { return c.FolderWritable; };
    EXPECT_EQ(SettingsFilePath(in(c.Exe), writable, in(c.XdgConfigHome), in("home")), in(c.Expected));
    EXPECT_EQ(ReadFile(in(c.Expected)), c.Text);
    EXPECT_TRUE(fs::is_directory(fs::path(in(c.Expected)).parent_path()));
    EXPECT_EQ(fs::exists(in("bin/tessaly.ini")), c.BesideMode != 0) << "nothing is put beside the program";
}

const std::string kUser = "cfg/tessaly/tessaly.ini";
INSTANTIATE_TEST_SUITE_P(Rows, SettingsPlace, ::testing::Values(
    TPlaceCase{"portable_install", "bin/tessaly", 0644, true, "cfg", false, "bin/tessaly.ini", "beside"},
    TPlaceCase{"writable_folder_without_file", "bin/tessaly", 0, true, "cfg", false, kUser, ""},
    TPlaceCase{"file_in_read_only_folder_seeds", "bin/tessaly", 0644, false, "cfg", false, kUser, "beside"},
    TPlaceCase{"read_only_file_seeds_even_for_root", "bin/tessaly", 0444, true, "cfg", false, kUser, "beside"},
    TPlaceCase{"seed_never_replaces_the_users_file", "bin/tessaly", 0644, false, "cfg", true, kUser, "user"},
    TPlaceCase{"no_xdg_config_home", "bin/tessaly", 0, false, "", false, "home/.config/tessaly/tessaly.ini", ""},
    TPlaceCase{"unknown_executable", "", 0, true, "cfg", false, kUser, ""}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(SettingsFilePath, NamesBesideTheProgramOrInTheUsersWritableFolder)
{
    // A dot in a folder name does not count; backslash and colon are plain characters.
    const std::pair<std::string, std::string> cases[] = {
        {"/bin/tessaly", "/bin/tessaly.ini"}, {"/opt/t/my.app.bin", "/opt/t/my.app.ini"}, {"tessaly", "tessaly.ini"},
        {"/opt/v1.2/tessaly", "/opt/v1.2/tessaly.ini"}, {"/a\\b:c/tessaly", "/a\\b:c/tessaly.ini"}};
    for (const auto& [exe, ini] : cases)
        EXPECT_EQ(IniNameBeside(exe), ini) << exe;
    EXPECT_EQ(UserSettingsFilePath("/cfg/", "/home/u"), "/cfg/tessaly/tessaly.ini");
    // A relative XDG_CONFIG_HOME is invalid and ignored.
    EXPECT_EQ(UserSettingsFilePath("rel/cfg", "/home/u"), "/home/u/.config/tessaly/tessaly.ini");
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    Made(folder + "/plain", "x");
    ASSERT_TRUE(fs::create_directory(folder + "/ro"));
    EXPECT_TRUE(FolderIsWritable(folder));
    EXPECT_FALSE(FolderIsWritable(folder + "/plain"));   // a regular file, even for root
    EXPECT_FALSE(FolderIsWritable(folder + "/missing"));
    ::chmod((folder + "/ro").c_str(), 0555);
    ::chmod(folder.c_str(), 0755);
    EXPECT_TRUE(RunUnprivileged([&] { return !FolderIsWritable(folder + "/ro"); }));
    // An executable whose "folder" is a regular file cannot have its
    // settings beside it.
    const std::string saved = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
    ::setenv("XDG_CONFIG_HOME", (folder + "/xdg").c_str(), 1);
    EXPECT_EQ(SettingsFilePath(folder + "/plain/tessaly"), folder + "/xdg/tessaly/tessaly.ini");
    EXPECT_TRUE(fs::is_directory(folder + "/xdg/tessaly"));
    ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);   // an empty one counts as none
}

} // namespace
