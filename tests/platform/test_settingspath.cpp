#include "platform_test_files.h"
#include "settingspath.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(IniNameBeside, ReplacesTheExtensionOfTheLastComponent)
{
    const std::pair<std::string, std::string> cases[] = {
        {"/usr/bin/tessaly", "/usr/bin/tessaly.ini"},
        {"/opt/t/tessaly.exe", "/opt/t/tessaly.ini"},
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
    EXPECT_EQ(UserSettingsFilePath("/cfg", "/home/u"), "/cfg/tessaly/tessaly.ini");
    EXPECT_EQ(UserSettingsFilePath("/cfg/", "/home/u"), "/cfg/tessaly/tessaly.ini");
    EXPECT_EQ(UserSettingsFilePath("", "/home/u"), "/home/u/.config/tessaly/tessaly.ini");
    // A relative XDG_CONFIG_HOME is invalid and ignored.
    EXPECT_EQ(UserSettingsFilePath("rel/cfg", "/home/u"), "/home/u/.config/tessaly/tessaly.ini");
}

class SettingsPath : public ::testing::Test {
protected:
    std::string In(const std::string& name) const { return (FDir.path() + "/" + QString::fromStdString(name)).toStdString(); }
    QTemporaryDir FDir;
};

TEST_F(SettingsPath, BesideTheExecutableWhenItsFolderIsWritable)
{
    ASSERT_TRUE(QDir(FDir.path()).mkpath("bin"));
    const auto writable = [](const std::string&) { return true; };
    EXPECT_EQ(SettingsFilePath(In("bin/tessaly"), writable, In("cfg"), In("home")), In("bin/tessaly.ini"));
    EXPECT_FALSE(QFileInfo::exists(FDir.path() + "/cfg")) << "the user folder is not made when unused";
}

TEST_F(SettingsPath, BesideTheExecutableWhenTheFileExists)
{
    ASSERT_TRUE(QDir(FDir.path()).mkpath("bin"));
    WriteWholeFile(In("bin/tessaly.ini"), "[Setup]\r\n");
    std::string asked;
    const auto readOnly = [&](const std::string& folder) { asked = folder; return false; };
    EXPECT_EQ(SettingsFilePath(In("bin/tessaly"), readOnly, In("cfg"), In("home")), In("bin/tessaly.ini"));
}

TEST_F(SettingsPath, UserFileWhenTheFolderIsReadOnly)
{
    ASSERT_TRUE(QDir(FDir.path()).mkpath("bin"));
    std::string asked;
    const auto readOnly = [&](const std::string& folder) { asked = folder; return false; };
    EXPECT_EQ(SettingsFilePath(In("bin/tessaly"), readOnly, In("cfg"), In("home")), In("cfg/tessaly/tessaly.ini"));
    EXPECT_EQ(asked, In("bin"));
    EXPECT_TRUE(QFileInfo(FDir.path() + "/cfg/tessaly").isDir()) << "the folder is created";
}

TEST_F(SettingsPath, UserFileUnderHomeWithoutXdgConfigHome)
{
    const auto readOnly = [](const std::string&) { return false; };
    EXPECT_EQ(SettingsFilePath(In("bin/tessaly"), readOnly, "", In("home")), In("home/.config/tessaly/tessaly.ini"));
    EXPECT_TRUE(QFileInfo(FDir.path() + "/home/.config/tessaly").isDir());
}

TEST_F(SettingsPath, UnknownExecutableGetsTheUserFile)
{
    const auto writable = [](const std::string&) { return true; };
    EXPECT_EQ(SettingsFilePath("", writable, In("cfg"), In("home")), In("cfg/tessaly/tessaly.ini"));
}

TEST_F(SettingsPath, FolderIsWritableNeedsAFolder)
{
    WriteWholeFile(In("plain"), "x");
    EXPECT_TRUE(FolderIsWritable(FDir.path().toStdString()));
    EXPECT_FALSE(FolderIsWritable(In("plain")));        // a regular file, even for root
    EXPECT_FALSE(FolderIsWritable(In("missing")));
    EXPECT_FALSE(FolderIsWritable("/proc/self/fdinfo/missing"));
}

TEST_F(SettingsPath, ReadOnlyFolderIsNotWritableForAUser)
{
    ASSERT_TRUE(QDir(FDir.path()).mkpath("ro"));
    ::chmod(In("ro").c_str(), 0555);
    ::chmod(FDir.path().toLocal8Bit().constData(), 0755);
    const std::string folder = In("ro");
    EXPECT_TRUE(RunUnprivileged([&] { return !FolderIsWritable(folder); }));
    ::chmod(FDir.path().toLocal8Bit().constData(), 0700);
}

TEST_F(SettingsPath, EnvironmentDecidesTheFallback)
{
    WriteWholeFile(In("plain"), "x");
    const char* old = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = old ? old : "";
    ::setenv("XDG_CONFIG_HOME", In("xdg").c_str(), 1);
    // An executable whose "folder" is a regular file cannot have its
    // settings beside it.
    EXPECT_EQ(SettingsFilePath(In("plain/tessaly")), In("xdg/tessaly/tessaly.ini"));
    EXPECT_EQ(SettingsFilePath(In("tessaly")), In("tessaly.ini"));
    if (old)
        ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_TRUE(QFileInfo(FDir.path() + "/xdg/tessaly").isDir());
}

}
