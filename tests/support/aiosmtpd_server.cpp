#include "aiosmtpd_server.h"

#include <QFile>

// Python's start-up and the import of aiosmtpd take well under a second;
// this only bounds a broken installation.
static constexpr int WaitMilliseconds = 20000;

TAiosmtpdServer::TAiosmtpdServer(const QStringList& args, const QString& script)
{
    FProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    FProcess.start("/usr/bin/python3", QStringList{script, FFolder.path()} + args);
    while (FProcess.waitForStarted(WaitMilliseconds) && !FProcess.canReadLine()
           && FProcess.waitForReadyRead(WaitMilliseconds)) {
    }
    const QByteArray line = FProcess.readLine().trimmed();
    if (line.startsWith("PORT "))
        FPort = line.mid(5);
    else
        FError = "aiosmtpd did not start: " + (line.isEmpty() ? FProcess.errorString().toStdString() : line.toStdString());
}

TAiosmtpdServer::~TAiosmtpdServer()
{
    FProcess.closeWriteChannel();   // the server stops when its input ends
    if (!FProcess.waitForFinished(WaitMilliseconds))
        FProcess.kill();
    FProcess.waitForFinished();
}

std::string TAiosmtpdServer::File(const std::string& name) const
{
    QFile file(FFolder.filePath(QString::fromStdString(name)));
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}
