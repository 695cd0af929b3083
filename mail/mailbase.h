// TMailBase: one TCP connection to one mail server, driven from the
// user-interface thread. Every step that has to wait runs the Qt event loop
// until its notification arrives, the time-out expires or Cancel is called,
// so the window stays responsive without threads.
#pragma once

#include "tstrings.h"

#include <QHostAddress>
#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// ---- failures ------------------------------------------------------------
class EMailError : public std::runtime_error {
public:
    // `code`: the server's reply code when the failure is a refused reply
    // (0 otherwise), so that callers can tell a 4xx from a 5xx.
    explicit EMailError(const std::string& message, int code = 0)
        : std::runtime_error(message), FReplyCode(code) {}
    int ReplyCode() const { return FReplyCode; }

private:
    int FReplyCode = 0;
};
// The server refused the login (RFC 4954 535 and kin).
class EAuthError : public EMailError {
public:
    using EMailError::EMailError;
};
class ESocketError : public std::runtime_error {
public:
    // `number`: the WinSock error number behind the message, 0 when none
    // (WSAHOST_NOT_FOUND for a host that does not resolve).
    explicit ESocketError(const std::string& message, std::uint16_t number = 0)
        : std::runtime_error(message), FErrorNumber(number) {}
    std::uint16_t ErrorNumber() const { return FErrorNumber; }

private:
    std::uint16_t FErrorNumber = 0;
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
constexpr std::uint16_t WSAECONNRESET = 10054;
constexpr std::uint16_t WSAECONNREFUSED = 10061;
constexpr std::uint16_t WSAHOST_NOT_FOUND = 11001;
constexpr std::uint16_t WSANO_RECOVERY = 11003;

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

// Splits "host:port", "1.2.3.4:port" or "[2001:db8::1]:port" into its host
// (without brackets) and port; port 0 when none is named. A bare IPv6
// address is a host alone. A port that is not 1 to 65535 raises EMailError.
std::pair<std::string, std::uint16_t> SplitServer(std::string_view server);

class QTimer;
class TTls;
class QSocketNotifier;
class QHostInfo;

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

    // Connects the socket made by Open to the resolved addresses, in turn,
    // and the port.
    void Connect();

    // Facts of the running session, for hosts and tests.
    std::uint32_t HostAddress() const { return FHostAddress; }   // network order
    std::uint16_t Port() const { return FPort; }
    // Host look-ups started over the object's life.
    int HostLookupCount() const { return FHostLookupCount; }
    bool Connected() const { return FSocket >= 0 && FConnected; }
    // Every address the look-up found (AAAA and A), tried in this order.
    const std::vector<QHostAddress>& Addresses() const { return FAddresses; }

protected:
    void ResolveHost();
    void ResolveService();
    void CreateSocket();
    void StartTimeOut();
    void StopTimeOut();
    void TimeOutTick();
    void SaveLog();
    // Blocks in the event loop until `done` holds. The timer, the socket
    // notifiers and the host's handlers all run inside this wait.
    void WaitUntil(const std::function<bool()>& done);
    // After a wait for a connection or a reply: raises ECanceledError,
    // ETimedOutError or ESocketError (the last notification's error), in
    // this order, when the wait ended for one of them.
    void RaiseIfWaitFailed() const;
    // Processes the pending events once, without waiting.
    static void ProcessMessages();
    // The port when Server names none: the service's entry, or `fallback`.
    virtual std::pair<std::string, std::uint16_t> ServiceAndFallback() const { return {FService, FDefaultPort}; }

    // ---- moving bytes, in the clear or through TLS ----
    enum TIo { ioDone, ioWantRead, ioWantWrite, ioClosed, ioFailed };
    // One non-blocking send or receive of at most `count` bytes; `done`
    // receives how many moved. ioFailed leaves its text and number in
    // FIoError / FIoErrorNumber.
    TIo SendSome(const char* data, std::size_t count, std::size_t& done);
    TIo ReceiveSome(char* data, std::size_t count, std::size_t& done);
    // Sleeps in the event loop until the socket is ready as `want` asks,
    // or Cancel or the countdown ends the wait.
    void WaitForSocket(TIo want);
    // Runs the TLS handshake on the connected socket under one countdown;
    // Cancel and the countdown close the socket. A failed handshake raises
    // EMailError. The certificate is not judged here (see TTls::Problem).
    void StartTls(const std::string& caFile);
    // The local end as an address literal (RFC 5321 4.1.3): "[192.0.2.1]"
    // or "[IPv6:2001:db8::1]".
    std::string LocalAddressLiteral() const;
    // The host as Server names it, without brackets or port.
    std::string HostName() const { return SplitServer(FServer).first; }
    // Asks for one "data to read" event (FCanRead) / one "writable" event
    // (FCanWrite); each notifier fires once and is then disarmed, so a
    // waiting loop never spins on data that it does not read yet.
    void ArmRead();
    void ArmWrite();

    std::string FServer;
    int FTimeOut = 60;
    std::string FLogFileName;
    std::uint16_t FDefaultPort = 0;
    int FSocket = -1;
    int FAsyncRequest = 0;          // pending host look-up id, 0 when none
    std::uint32_t FHostAddress = 0; // network byte order
    std::uint16_t FPort = 0;        // host byte order
    QTimer* FTimer = nullptr;
    int FTicksLeft = 0;
    int FStartupCount = 0;
    TStrings FSessionLog;
    bool FTimedOut = false;
    bool FCanceled = false;
    bool FHostResolved = false;
    bool FServiceResolved = false;
    bool FConnected = false;
    bool FCanRead = false;
    bool FCanWrite = false;
    bool FSocketError = false;
    std::uint16_t FErrorCode = 0;
    std::string FService;
    std::unique_ptr<TTls> FTls;
    std::string FIoError;
    std::uint16_t FIoErrorNumber = 0;
    // Bytes moved either way over the session's life: a wait that sees
    // them grow, or the kernel's send queue shrink, starts its count again.
    std::uint64_t FTransferred = 0;
    // Every address of the server, in the order to try them.
    std::vector<QHostAddress> FAddresses;

private:
    void HostResolved(const QHostInfo& info);
    void SocketReadable();
    void SocketWritable();
    void AbortHostLookup();
    void DropNotifiers();
    void MakeNotifiers();
    // 0 when connected to `address`; otherwise the WinSock number of why not.
    std::uint16_t ConnectTo(const QHostAddress& address);
    void CreateSocketFor(const QHostAddress& address);
    // Whether the session moved since the last look: bytes transferred, or
    // bytes that the kernel's send queue (SIOCOUTQ) handed to the server.
    bool MadeProgress();
    long SendQueue() const;
    void LookUpHost(const std::string& host);
    TIo ErrnoResult(TIo wouldBlock);
    TIo TlsResult(int result, std::size_t done);

    QSocketNotifier* FReadNotifier = nullptr;
    QSocketNotifier* FWriteNotifier = nullptr;
    bool FLookupPending = false;
    std::uint64_t FSeenTransferred = 0;
    long FSeenQueue = -1;
    int FHostLookupCount = 0;
};
