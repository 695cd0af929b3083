#include "readme.h"

#include "dialogs.h"

#include <QFileInfo>

#ifndef TESSALY_DATADIR
#define TESSALY_DATADIR "/usr/local/share/tessaly"
#endif

namespace {
constexpr const char* kReadmeName = "readme.txt";

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

QString ReadmePath()
{
    const QString beside = StartDir() + QLatin1String(kReadmeName);
    if (QFileInfo(beside).isFile())
        return beside;
    return QStringLiteral(TESSALY_DATADIR "/") + QLatin1String(kReadmeName);
}

void ShowReadme()
{
    OpenInTextEditor(ReadmePath());
}
