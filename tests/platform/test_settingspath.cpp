#include "../support/test_data.h"
#include "platform_test_files.h"
#include "settingspath.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

namespace {
using ::PrintTo;

TEST(IniNameBeside, ReplacesTheExtensionOfTheLastComponent)
{
    const std::pair<std::string, std::string> cases[] = {
        {"/usr/bin/tessaly", "/usr/bin/tessaly.ini"},
        {"/opt/t/my.app.bin", "/opt/t/my.app.ini"},
        {"/opt/v1.2/tessaly", "/opt/v1.2/tessaly.ini"},   // a dot in a folder name does not count
        {"tessaly", "tessaly.ini"},
        {"/a\\b:c/tessaly", "/a\\b:c/tessaly.ini"},       // backslash and colon are plain characters
    };
    for (const auto& [exe, ini] : cases)
        EXPECT_EQ(IniNameBeside(exe), ini) << exe;
}

TEST(UserSettingsFilePath, FollowsXdgConfigHome)
{
    EXPECT_EQ(UserSettingsFilePath("/cfg/", "/home/u"), "/cfg/tessaly/tessaly.ini");
    EXPECT_EQ(UserSettingsFilePath("", "/home/u"), "/home/u/.config/tessaly/tessaly.ini");
    // A relative XDG_CONFIG_HOME is invalid and ignored.
    EXPECT_EQ(UserSettingsFilePath("rel/cfg", "/home/u"), "/home/u/.config/tessaly/tessaly.ini");
}

enum TBeside { kNoFile, kFile, kReadOnlyFile };
struct TPlaceCase {
    const char* Name;
    std::string Exe;
    TBeside Beside;
    bool FolderWritable;
    std::string XdgConfigHome;
    bool UserFileExists;
    std::string Expected;
    std::string ExpectedText;   // of the chosen file afterwards ("" = none)
};

class SettingsPlace : public ::testing::TestWithParam<TPlaceCase> {};

TEST_P(SettingsPlace, PortableOnlyWhenTheFileIsThereAndReplaceable)
{
    const TPlaceCase& c = GetParam();
    QTemporaryDir dir;
    const auto in = [&](const std::string& name) { return name.empty() ? name : dir.path().toStdString() + "/" + name; };
    ASSERT_TRUE(QDir(dir.path()).mkpath("bin") && QDir(dir.path()).mkpath("cfg/tessaly"));
    if (c.Beside != kNoFile)
        WriteWholeFile(in("bin/tessaly.ini"), "beside");
    if (c.Beside == kReadOnlyFile)
        ::chmod(in("bin/tessaly.ini").c_str(), 0444);   // read-only for root as well
    if (c.UserFileExists)
        WriteWholeFile(in("cfg/tessaly/tessaly.ini"), "user");
    const auto writable = [&](const std::string&) { return c.FolderWritable; };
    EXPECT_EQ(SettingsFilePath(in(c.Exe), writable, in(c.XdgConfigHome), in("home")), in(c.Expected));
    EXPECT_EQ(ReadFile(in(c.Expected)), c.ExpectedText);
    EXPECT_TRUE(QFileInfo(QString::fromStdString(in(c.Expected))).dir().exists());
    EXPECT_EQ(QFileInfo::exists(dir.path() + "/bin/tessaly.ini"), c.Beside != kNoFile) << "nothing is put beside the program";
}

INSTANTIATE_TEST_SUITE_P(Rows, SettingsPlace, ::testing::Values(
    TPlaceCase{"portable_install", "bin/tessaly", kFile, true, "cfg", false, "bin/tessaly.ini", "beside"},
    TPlaceCase{"writable_folder_without_file", "bin/tessaly", kNoFile, true, "cfg", false, "cfg/tessaly/tessaly.ini", ""},
    TPlaceCase{"file_in_read_only_folder_seeds", "bin/tessaly", kFile, false, "cfg", false, "cfg/tessaly/tessaly.ini", "beside"},
    TPlaceCase{"read_only_file_seeds_even_for_root", "bin/tessaly", kReadOnlyFile, true, "cfg", false, "cfg/tessaly/tessaly.ini", "beside"},
    TPlaceCase{"seed_never_replaces_the_users_file", "bin/tessaly", kFile, false, "cfg", true, "cfg/tessaly/tessaly.ini", "user"},
    TPlaceCase{"no_xdg_config_home", "bin/tessaly", kNoFile, false, "", false, "home/.config/tessaly/tessaly.ini", ""},
    TPlaceCase{"unknown_executable", "", kNoFile, true, "cfg", false, "cfg/tessaly/tessaly.ini", ""}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(FolderIsWritable, NeedsAFolderTheUserMayWriteTo)
{
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    WriteWholeFile(folder + "/plain", "x");
    ASSERT_TRUE(QDir(dir.path()).mkdir("ro"));
    EXPECT_TRUE(FolderIsWritable(folder));
    EXPECT_FALSE(FolderIsWritable(folder + "/plain"));   // a regular file, even for root
    EXPECT_FALSE(FolderIsWritable(folder + "/missing"));
    EXPECT_FALSE(FolderIsWritable("/proc/self/fdinfo/missing"));
    ::chmod((folder + "/ro").c_str(), 0555);
    ::chmod(folder.c_str(), 0755);
    EXPECT_TRUE(RunUnprivileged([&] { return !FolderIsWritable(folder + "/ro"); }));
}

TEST(SettingsFilePath, EnvironmentDecidesTheFallback)
{
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    WriteWholeFile(folder + "/plain", "x");
    const char* old = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = old ? old : "";
    ::setenv("XDG_CONFIG_HOME", (folder + "/xdg").c_str(), 1);
    // An executable whose "folder" is a regular file cannot have its
    // settings beside it; a writable folder without the file does not either.
    EXPECT_EQ(SettingsFilePath(folder + "/plain/tessaly"), folder + "/xdg/tessaly/tessaly.ini");
    EXPECT_EQ(SettingsFilePath(folder + "/tessaly"), folder + "/xdg/tessaly/tessaly.ini");
    if (old)
        ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_TRUE(QFileInfo(dir.path() + "/xdg/tessaly").isDir());
}

} // namespace
