#include "readme.h"

#include "dialogs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {
constexpr const char* kReadmeName = "readme.txt";
constexpr const char* kDataFolder = "share/tessaly";

QString& StartDirSlot()
{
    static QString dir;
    return dir;
}
}

void SetStartDir(const QString& dir)
{
    QString value = dir;
    if (!value.isEmpty() && !value.endsWith(QLatin1Char('/')))
        value += QLatin1Char('/');
    StartDirSlot() = value;
}

const QString& StartDir()
{
    return StartDirSlot();
}

QStringList DataFolderCandidates(const QString& programFolder)
{
    const QString data = QLatin1String(kDataFolder);
    return {QDir::cleanPath(programFolder + QLatin1String("/../") + data),
            QDir::cleanPath(programFolder + QLatin1String("/../../") + data)};
}

QString DataFilePath(const QString& name, const QString& programFolder,
                     const std::function<bool(const QString&)>& exists)
{
    const QStringList folders = DataFolderCandidates(programFolder);
    for (const QString& folder : folders)
        if (exists(folder + QLatin1Char('/') + name))
            return folder + QLatin1Char('/') + name;
    return folders.front() + QLatin1Char('/') + name;
}

QString DataFilePath(const QString& name)
{
    return DataFilePath(name, QCoreApplication::applicationDirPath(),
                        [](const QString& path) { return QFileInfo(path).isFile(); });
}

QString ReadmePath()
{
    const QString beside = StartDir() + QLatin1String(kReadmeName);
    if (QFileInfo(beside).isFile())
        return beside;
    return DataFilePath(QLatin1String(kReadmeName));
}

void ShowReadme()
{
    OpenInTextEditor(ReadmePath());
}
