// Debian's aiosmtpd (run with /usr/bin/python3) as a real SMTP server for
// tests: started on 127.0.0.1 with an OS-assigned port, storing every
// message it accepts in a temporary folder, stopped by the destructor.
// `args` are the options of aiosmtpd_server.py (TLS, AUTH, SIZE...);
// `script` another server of the same protocol (FOLDER first, "PORT <n>").
#pragma once

#include <QProcess>
#include <QTemporaryDir>

#include <cstdint>
#include <string>

class TAiosmtpdServer {
public:
    explicit TAiosmtpdServer(const QStringList& args = {},
                             const QString& script = TESSALY_SOURCE_DIR "/tests/support/aiosmtpd_server.py");
    ~TAiosmtpdServer();

    bool Running() const { return !FPort.isEmpty(); }
    // Why it did not start (empty when it runs).
    const std::string& Error() const { return FError; }
    std::string Address() const { return "127.0.0.1:" + FPort.toStdString(); }
    std::uint16_t Port() const { return FPort.toUShort(); }

    // Message n (from 1) as stored: the data as received and the envelope
    // as JSON text; empty when there is no such message.
    std::string Message(int n) const { return Stored(n, ".eml"); }
    std::string Envelope(int n) const { return Stored(n, ".json"); }
    // The AUTH, MAIL and DATA lines the server saw.
    std::string Events() const { return File("events"); }

private:
    std::string Stored(int n, const char* suffix) const { return File(std::to_string(n) + suffix); }
    std::string File(const std::string& name) const;

    QTemporaryDir FFolder;
    QProcess FProcess;
    QByteArray FPort;
    std::string FError;
};
