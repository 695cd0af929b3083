// Debian's aiosmtpd (run with /usr/bin/python3) as a real SMTP server for
// tests: started on 127.0.0.1 with an OS-assigned port, storing every
// message it accepts in a temporary folder, stopped by the destructor.
// `args` are the options of aiosmtpd_server.py (TLS, AUTH, SIZE, a slow reader).
#pragma once

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <string>

class TAiosmtpdServer {
public:
    explicit TAiosmtpdServer(const QStringList& args = {})
    {
        FProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const QString script = TESSALY_SOURCE_DIR "/tests/support/aiosmtpd_server.py";
        FProcess.start("/usr/bin/python3", QStringList{script, FFolder.path()} + args);
        while (FProcess.waitForStarted(Wait) && !FProcess.canReadLine() && FProcess.waitForReadyRead(Wait)) {
        }
        const QString line = QString::fromUtf8(FProcess.readLine().trimmed());
        FPort = line.startsWith("PORT ") ? line.mid(5) : QString();
        FError = "aiosmtpd did not start: " + (line.isEmpty() ? FProcess.errorString() : line).toStdString();
    }
    ~TAiosmtpdServer()
    {
        FProcess.closeWriteChannel();     // the server stops when its input ends
        FProcess.waitForFinished(Wait);   // (or QProcess kills it)
    }
    bool Running() const { return !FPort.isEmpty(); }
    // Why it did not start (meaningful only when it does not run).
    const std::string& Error() const { return FError; }
    std::string Address() const { return "127.0.0.1:" + FPort.toStdString(); }
    std::uint16_t Port() const { return FPort.toUShort(); }

    // Message n (from 1) as stored: the data as received and the envelope
    // as JSON text; empty when there is no such message. Events(): the
    // AUTH, MAIL and DATA lines the server saw.
    std::string Message(int n) const { return File(std::to_string(n) + ".eml"); }
    std::string Envelope(int n) const { return File(std::to_string(n) + ".json"); }
    std::string Events() const { return File("events"); }

private:
    std::string File(const std::string& name) const
    {
        QFile file(FFolder.filePath(QString::fromStdString(name)));
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
    }
    // Python's start-up and the import of aiosmtpd take well under a second;
    // this only bounds a broken installation.
    static constexpr int Wait = 20000;
    QTemporaryDir FFolder;
    QProcess FProcess;
    QString FPort;
    std::string FError;
};
