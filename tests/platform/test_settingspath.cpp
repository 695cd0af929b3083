// Where the settings live: beside the program for a portable install,
// otherwise in the user's configuration folder, seeded from the file beside.
#include "../support/test_data.h"
#include "platform_test_files.h"
#include "settingspath.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

namespace {
using ::PrintTo;
namespace fs = std::filesystem;

TEST(SettingsNames, BesideTheProgramAndInTheUsersFolder)
{
    const std::pair<std::string, std::string> cases[] = {
        {"/usr/bin/tessaly", "/usr/bin/tessaly.ini"}, {"/opt/t/my.app.bin", "/opt/t/my.app.ini"},
        {"tessaly", "tessaly.ini"},
        {"/opt/v1.2/tessaly", "/opt/v1.2/tessaly.ini"},   // a dot in a folder name does not count
        {"/a\\b:c/tessaly", "/a\\b:c/tessaly.ini"},       // backslash and colon are plain characters
    };
    for (const auto& [exe, ini] : cases)
        EXPECT_EQ(IniNameBeside(exe), ini) << exe;
    EXPECT_EQ(UserSettingsFilePath("/cfg/", "/home/u"), "/cfg/tessaly/tessaly.ini");
    // A relative XDG_CONFIG_HOME is invalid and ignored.
    EXPECT_EQ(UserSettingsFilePath("rel/cfg", "/home/u"), "/home/u/.config/tessaly/tessaly.ini");
}

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
    if (c.BesideMode) {
        WriteWholeFile(in("bin/tessaly.ini"), "beside");
        ::chmod(in("bin/tessaly.ini").c_str(), c.BesideMode);
    }
    if (c.UserFileExists)
        WriteWholeFile(in("cfg/tessaly/tessaly.ini"), "user");
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

TEST(SettingsFilePath, NeedsAWritableFolderAndFallsBackToXdgConfigHome)
{
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    WriteWholeFile(folder + "/plain", "x");
    ASSERT_TRUE(fs::create_directory(folder + "/ro"));
    EXPECT_TRUE(FolderIsWritable(folder));
    EXPECT_FALSE(FolderIsWritable(folder + "/plain"));   // a regular file, even for root
    EXPECT_FALSE(FolderIsWritable(folder + "/missing"));
    ::chmod((folder + "/ro").c_str(), 0555);
    ::chmod(folder.c_str(), 0755);
    EXPECT_TRUE(RunUnprivileged([&] { return !FolderIsWritable(folder + "/ro"); }));
    // An executable whose "folder" is a regular file cannot have its
    // settings beside it.
    const char* old = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = old ? old : "";
    ::setenv("XDG_CONFIG_HOME", (folder + "/xdg").c_str(), 1);
    EXPECT_EQ(SettingsFilePath(folder + "/plain/tessaly"), folder + "/xdg/tessaly/tessaly.ini");
    EXPECT_TRUE(fs::is_directory(folder + "/xdg/tessaly"));
    if (old)
        ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
}

} // namespace
