// Debian's aiosmtpd (run with /usr/bin/python3) as a real SMTP server for
// tests: started on 127.0.0.1 with an OS-assigned port, storing every
// message it accepts in a temporary folder, stopped by the destructor.
#pragma once

#include <QProcess>
#include <QTemporaryDir>

#include <cstdint>
#include <string>

class TAiosmtpdServer {
public:
    TAiosmtpdServer();
    ~TAiosmtpdServer();

    bool Running() const { return FPort != 0; }
    // Why it did not start (empty when it runs).
    const std::string& Error() const { return FError; }
    std::uint16_t Port() const { return FPort; }
    std::string Address() const { return "127.0.0.1:" + std::to_string(FPort); }
    std::string Folder() const { return FFolder.path().toStdString(); }

    // Message n (from 1) as stored: the data as received and the envelope
    // as JSON text; empty when there is no such message.
    std::string Message(int n) const;
    std::string Envelope(int n) const;

private:
    QTemporaryDir FFolder;
    QProcess FProcess;
    std::uint16_t FPort = 0;
    std::string FError;
};
