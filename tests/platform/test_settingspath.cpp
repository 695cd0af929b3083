#include "platform_test_files.h"
#include "settingspath.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

namespace {

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

TEST(SettingsFilePath, BesideTheExecutableOrInTheUserFolder)
{
    struct TCase {
        const char* Name;
        std::string Exe;
        bool FolderWritable;
        bool FileExists;
        std::string XdgConfigHome;
        std::string Expected;
    };
    const TCase cases[] = {
        {"writable folder", "bin/tessaly", true, false, "cfg", "bin/tessaly.ini"},
        {"existing file in a read-only folder", "bin/tessaly", false, true, "cfg", "bin/tessaly.ini"},
        {"read-only folder", "bin/tessaly", false, false, "cfg", "cfg/tessaly/tessaly.ini"},
        {"read-only folder, no XDG_CONFIG_HOME", "bin/tessaly", false, false, "", "home/.config/tessaly/tessaly.ini"},
        {"unknown executable", "", true, false, "cfg", "cfg/tessaly/tessaly.ini"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        QTemporaryDir dir;
        const auto in = [&](const std::string& name) { return name.empty() ? name : dir.path().toStdString() + "/" + name; };
        ASSERT_TRUE(QDir(dir.path()).mkpath("bin"));
        if (c.FileExists)
            WriteWholeFile(in("bin/tessaly.ini"), "[Setup]\r\n");
        std::string asked;
        const auto writable = [&](const std::string& folder) { asked = folder; return c.FolderWritable; };
        EXPECT_EQ(SettingsFilePath(in(c.Exe), writable, in(c.XdgConfigHome), in("home")), in(c.Expected));
        if (!c.Exe.empty() && !c.FileExists) {
            EXPECT_EQ(asked, in("bin"));
        }
        // The user's folder is made when it is used, and only then.
        EXPECT_TRUE(QFileInfo(QString::fromStdString(in(c.Expected))).dir().exists());
        EXPECT_EQ(QFileInfo::exists(dir.path() + "/cfg"), c.Expected.starts_with("cfg"));
    }
}

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
    // settings beside it.
    EXPECT_EQ(SettingsFilePath(folder + "/plain/tessaly"), folder + "/xdg/tessaly/tessaly.ini");
    EXPECT_EQ(SettingsFilePath(folder + "/tessaly"), folder + "/tessaly.ini");
    if (old)
        ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_TRUE(QFileInfo(dir.path() + "/xdg/tessaly").isDir());
}

} // namespace
