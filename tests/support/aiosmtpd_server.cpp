#include "aiosmtpd_server.h"

#include <QFile>

namespace {

// Python's start-up and the import of aiosmtpd take well under a second;
// this only bounds a broken installation.
constexpr int StartMilliseconds = 20000;
constexpr int StopMilliseconds = 5000;

std::string ReadFile(const QString& name)
{
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().toStdString();
}

} // namespace

TAiosmtpdServer::TAiosmtpdServer()
{
    const QString script = QStringLiteral(TESSALY_SOURCE_DIR "/tests/support/smtp_store.py");
    FProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    FProcess.start(QStringLiteral("/usr/bin/python3"), {script, FFolder.path()});
    if (!FProcess.waitForStarted(StartMilliseconds)) {
        FError = "cannot start /usr/bin/python3";
        return;
    }
    while (!FProcess.canReadLine() && FProcess.waitForReadyRead(StartMilliseconds)) {
    }
    const QByteArray line = FProcess.readLine().trimmed();
    if (!line.startsWith("PORT ")) {
        FError = "aiosmtpd did not start: " + line.toStdString();
        return;
    }
    FPort = std::uint16_t(line.mid(5).toUInt());
}

TAiosmtpdServer::~TAiosmtpdServer()
{
    if (FProcess.state() == QProcess::NotRunning)
        return;
    FProcess.closeWriteChannel();
    if (!FProcess.waitForFinished(StopMilliseconds)) {
        FProcess.kill();
        FProcess.waitForFinished(StopMilliseconds);
    }
}

std::string TAiosmtpdServer::Message(int n) const
{
    return ReadFile(FFolder.path() + "/" + QString::number(n) + ".eml");
}

std::string TAiosmtpdServer::Envelope(int n) const
{
    return ReadFile(FFolder.path() + "/" + QString::number(n) + ".json");
}
