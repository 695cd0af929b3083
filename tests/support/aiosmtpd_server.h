// Debian's aiosmtpd (run with /usr/bin/python3) as a real SMTP server for
// tests: started on 127.0.0.1 with an OS-assigned port, storing every
// message it accepts in a temporary folder, stopped by the destructor.
#pragma once

#include <QProcess>
#include <QTemporaryDir>

#include <string>

class TAiosmtpdServer {
public:
    TAiosmtpdServer();
    ~TAiosmtpdServer();

    bool Running() const { return !FPort.isEmpty(); }
    // Why it did not start (empty when it runs).
    const std::string& Error() const { return FError; }
    std::string Address() const { return "127.0.0.1:" + FPort.toStdString(); }

    // Message n (from 1) as stored: the data as received and the envelope
    // as JSON text; empty when there is no such message.
    std::string Message(int n) const { return Stored(n, ".eml"); }
    std::string Envelope(int n) const { return Stored(n, ".json"); }

private:
    std::string Stored(int n, const char* suffix) const;

    QTemporaryDir FFolder;
    QProcess FProcess;
    QByteArray FPort;
    std::string FError;
};
