#include "aiosmtpd_server.h"

#include <QFile>

// Python's start-up and the import of aiosmtpd take well under a second;
// this only bounds a broken installation.
static constexpr int WaitMilliseconds = 20000;

TAiosmtpdServer::TAiosmtpdServer()
{
    FProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    FProcess.start("/usr/bin/python3", {TESSALY_SOURCE_DIR "/tests/support/smtp_store.py", FFolder.path()});
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

std::string TAiosmtpdServer::Stored(int n, const char* suffix) const
{
    QFile file(FFolder.path() + "/" + QString::number(n) + suffix);
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}
