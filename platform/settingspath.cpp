#include "settingspath.h"

#include <QDir>
#include <QFileInfo>
#include <QString>

#include <cstdlib>
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

std::string SettingsFilePath(const std::string& exePath, const TFolderWritable& folderWritable,
                             const std::string& xdgConfigHome, const std::string& home)
{
    const std::string beside = IniNameBeside(exePath);
    if (!exePath.empty() && (QFileInfo::exists(QString::fromStdString(beside)) || folderWritable(FolderOf(beside))))
        return beside;
    const std::string user = UserSettingsFilePath(xdgConfigHome, home);
    // A folder that cannot be made shows up later as "Unable to write to".
    QDir().mkpath(QString::fromStdString(FolderOf(user)));
    return user;
}

std::string SettingsFilePath(const std::string& exePath)
{
    return SettingsFilePath(exePath, FolderIsWritable, Environment("XDG_CONFIG_HOME"), Environment("HOME"));
}
