#include "settingspath.h"

#include "profile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr const char* kIniExtension = ".ini";
constexpr const char* kUserFolder = "tessaly";
constexpr const char* kUserFileName = "tessaly.ini";

std::string FolderOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}
}

std::string IniNameBeside(const std::string& exePath)
{
    const auto slash = exePath.rfind('/');
    const auto nameStart = slash == std::string::npos ? 0 : slash + 1;
    const auto dot = exePath.rfind('.');
    if (dot == std::string::npos || dot < nameStart)
        return exePath + kIniExtension;
    return exePath.substr(0, dot) + kIniExtension;
}

std::string UserSettingsFilePath(const std::string& xdgConfigHome, const std::string& home)
{
    // XDG base directories: a relative path in the variable is invalid and
    // is ignored like an empty one.
    std::string base = xdgConfigHome;
    if (base.empty() || base.front() != '/')
        base = (home.empty() ? QDir::homePath().toStdString() : home) + "/.config";
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    return base + "/" + kUserFolder + "/" + kUserFileName;
}

bool FolderIsWritable(const std::string& folder)
{
    // A folder must be a folder: access() alone says yes to a regular file
    // for root.
    const QFileInfo info(QString::fromStdString(folder));
    return info.isDir() && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

namespace {
// A first start in the user's folder begins with the settings that came
// with the program (a copy made by hand or by an older version).
void SeedFrom(const std::string& beside, const std::string& user)
{
    struct stat info {};
    if (beside.empty() || ::lstat(user.c_str(), &info) == 0 || ::stat(beside.c_str(), &info) != 0
        || !S_ISREG(info.st_mode))
        return;
    QFile file(QString::fromStdString(beside));
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.readAll();
    // A seed that fails leaves a first start with the defaults.
    ReplaceFileAtomically(user, std::string_view(bytes.constData(), std::size_t(bytes.size())));
}
}

std::string SettingsFilePath(const std::string& exePath, const TFolderWritable& folderWritable,
                             const std::string& xdgConfigHome, const std::string& home)
{
    const std::string beside = exePath.empty() ? std::string() : IniNameBeside(exePath);
    // A portable install: the file is there already and can be replaced
    // whole (a new file beside it, then a rename).
    if (!beside.empty() && FileReplaceRefusal(beside) == 0 && folderWritable(FolderOf(beside)))
        return beside;
    const std::string user = UserSettingsFilePath(xdgConfigHome, home);
    // A folder that cannot be made shows up later as "Unable to write to".
    QDir().mkpath(QString::fromStdString(FolderOf(user)));
    SeedFrom(beside, user);
    return user;
}

std::string SettingsFilePath(const std::string& exePath)
{
    return SettingsFilePath(exePath, FolderIsWritable, Environment("XDG_CONFIG_HOME"), Environment("HOME"));
}
