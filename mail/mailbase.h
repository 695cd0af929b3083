// TMailBase: one TCP connection to one mail server, driven from the
// user-interface thread. Every step that has to wait runs the Qt event loop
// until its notification arrives, the time-out expires or Cancel is called,
// so the window stays responsive without threads.
#pragma once

#include "tstrings.h"

#include <QObject>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

// ---- failures ------------------------------------------------------------
class EMailError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
class ESocketError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
class ECanceledError : public std::runtime_error {
public:
    ECanceledError() : std::runtime_error("Operation has been canceled") {}
};
class ETimedOutError : public std::runtime_error {
public:
    ETimedOutError() : std::runtime_error("Operation timed out") {}
};

// WinSock error numbers that the session reports.
constexpr std::uint16_t WSAEWOULDBLOCK = 10035;

// The message for a socket error number. 0 leaves `Text` unchanged; a
// number without a text of its own reads "Winsock Error No. N".
void WinsockErrorText(std::uint16_t Number, std::string& Text);
std::string WinsockErrorText(std::uint16_t Number);
// The WinSock number for a POSIX errno (the errno itself when none maps).
std::uint16_t WinsockErrorFromErrno(int error);

// ---- address values: "address|display name" ----------------------------
// The part before the first "|" is the address, the rest the display name.
std::pair<std::string, std::string> SplitAddress(std::string_view value);
std::string JoinAddress(std::string_view address, std::string_view name);

// ---- the session ---------------------------------------------------------
// Declared here so the SMTP client can derive from it; the protocol lives
// in smtp.h.
class TMailBase : public QObject {
    Q_OBJECT
public:
    explicit TMailBase(QObject* Owner = nullptr);
    ~TMailBase() override;

    const std::string& Server() const { return FServer; }
    void SetServer(const std::string& value) { FServer = value; }
    int TimeOut() const { return FTimeOut; }
    void SetTimeOut(int value) { FTimeOut = value; }
    std::uint16_t DefaultPort() const { return FDefaultPort; }
    void SetDefaultPort(std::uint16_t value) { FDefaultPort = value; }
    const std::string& LogFileName() const { return FLogFileName; }
    void SetLogFileName(const std::string& value) { FLogFileName = value; }
    const TStrings& SessionLog() const { return FSessionLog; }

    virtual void Reset();
    virtual void Cancel();
    virtual void Open();
    virtual int Close();

protected:
    std::string FServer;
    int FTimeOut = 60;
    std::string FLogFileName;
    std::uint16_t FDefaultPort = 0;
    std::string FService;
    TStrings FSessionLog;
};
