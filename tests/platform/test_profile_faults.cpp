// Saves that cannot succeed say why; values come back exactly as written.
#include "../support/test_data.h"
#include "platform_test_files.h"
#include "profile.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <optional>
#include <sys/stat.h>

namespace {
using ::PrintTo;

// Prepare returns the settings path in the folder; Reason "" = the save succeeds.
struct TSaveCase { const char* Name; std::string (*Prepare)(const std::string& folder); const char* Reason; };
class SaveFailure : public ::testing::TestWithParam<TSaveCase> {};

TEST_P(SaveFailure, ReportsTheSystemsReason)
{
    QTemporaryDir dir;
    const std::string path = GetParam().Prepare(dir.path().toStdString());
    const auto entries = [&] { return QDir(dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot); };
    const QStringList before = entries();
    const std::string old = QFileInfo(QString::fromStdString(path)).isFile() ? ReadFile(path) : "";
    std::optional<TFileSizeLimit> full;
    if (std::string(GetParam().Name) == "full_disk")
        full.emplace(8);
    std::string message;
    try {
        TIniFile ini(path);
        ini.WriteString("Setup", "Port", "25");
        ini.UpdateFile();
    } catch (const EIniFileError& e) {
        message = e.what();
    }
    full.reset();
    const std::string reason = GetParam().Reason;
    EXPECT_EQ(message, reason.empty() ? "" : "Unable to write to " + path + ": " + reason);
    if (!reason.empty()) {   // the old file whole, no temporary file left
        EXPECT_EQ(entries(), before);
        EXPECT_EQ(QFileInfo(QString::fromStdString(path)).isFile() ? ReadFile(path) : "", old);
    }
    if (reason.empty()) {   // the link stays and its target is made
        EXPECT_TRUE(QFileInfo(QString::fromStdString(path)).isSymLink() && ReadFile(path) == "[Setup]\r\nPort=25\r\n");
    }
}

std::string Link(const std::string& folder, const char* target)
{
    QFile::link(QString::fromLatin1(target), QString::fromStdString(folder + "/l.ini"));
    return folder + "/l.ini";
}

INSTANTIATE_TEST_SUITE_P(Rows, SaveFailure, ::testing::Values(
    TSaveCase{"read_only_file_also_for_root", [](const std::string& f) {
        WriteWholeFile(f + "/ro.ini", "");
        ::chmod((f + "/ro.ini").c_str(), 0444);
        return f + "/ro.ini"; }, "Permission denied"},
    TSaveCase{"folder_at_the_path", [](const std::string& f) { QDir().mkpath(QString::fromStdString(f + "/d.ini")); return f + "/d.ini"; }, "Is a directory"},
    TSaveCase{"missing_folder", [](const std::string& f) { return f + "/none/t.ini"; }, "No such file or directory"},
    TSaveCase{"file_where_the_folder_should_be", [](const std::string& f) { WriteWholeFile(f + "/p", "x"); return f + "/p/t.ini"; }, "Not a directory"},
    TSaveCase{"full_disk", [](const std::string& f) { WriteWholeFile(f + "/t.ini", "[Setup]\r\nPort=1\r\n"); return f + "/t.ini"; }, "File too large"},
    TSaveCase{"dangling_link_into_a_missing_folder", [](const std::string& f) { return Link(f, "none/t.ini"); }, "No such file or directory"},
    TSaveCase{"dangling_link_is_followed", [](const std::string& f) { return Link(f, "t.ini"); }, ""}),
    [](const auto& info) { return std::string(info.param.Name); });

// Values that the reader would change are in tests/data/settings; here
// the longest one the file gives back whole, and the first it could not.
struct TValueCase { const char* Name; std::string Value; bool Fits; };
class LongValue : public ::testing::TestWithParam<TValueCase> {};

TEST_P(LongValue, ComesBackWholeOrIsRefused)
{
    TIniFile ini = TIniFile::FromText("t.ini", "");
    const TValueCase& c = GetParam();
    if (!c.Fits) {
        EXPECT_THROW(ini.WriteString("Setup", "Name", c.Value), EIniFileError);
        return;
    }
    ini.WriteString("Setup", "Name", c.Value);
    EXPECT_EQ(TIniFile::FromText("t.ini", ini.Text()).ReadString("Setup", "Name", "?"), c.Value);
}

INSTANTIATE_TEST_SUITE_P(Rows, LongValue, ::testing::Values(
    TValueCase{"longest_ascii", std::string(1023, 'a'), true},
    TValueCase{"longest_utf8", Repeat("\xC3\xA9", 1023), true},
    TValueCase{"too_long_ascii", std::string(1024, 'a'), false},
    TValueCase{"too_long_utf8", Repeat("\xE2\x82\xAC", 1024), false}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(ProfileValue, CutsLongValuesAtCharactersNotInsideASequence)
{
    EXPECT_EQ(ProfileValue(Repeat("\xC3\xA9", 2000)), Repeat("\xC3\xA9", 1023));
    EXPECT_EQ(ProfileValue("x" + Repeat("\xE2\x82\xAC", 1100)), "x" + Repeat("\xE2\x82\xAC", 1022));
}

} // namespace
