// The socket session: a non-blocking POSIX socket whose readiness, the host
// look-up and a one-second clock are delivered as Qt events into the flags
// that every waiting step tests.
#include "mailbase.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QHostAddress>
#include <QHostInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <fstream>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The clock's period: time-outs are counted in whole seconds.
constexpr int TickMilliseconds = 1000;

struct TErrorEntry {
    int Errno;
    std::uint16_t Winsock;
    const char* Text;
};

// POSIX errors that a socket session meets, with their WinSock numbers.
constexpr TErrorEntry ErrorTable[] = {
    {EINTR, 10004, "Interrupted function call"},
    {EBADF, 10009, "Bad file descriptor"},
    {EACCES, 10013, "Permission denied"},
    {EFAULT, 10014, "Bad address"},
    {EINVAL, 10022, "Invalid argument"},
    {EMFILE, 10024, "Too many open files"},
    {EWOULDBLOCK, 10035, "Resource temporarily unavailable"},
    {EINPROGRESS, 10036, "Operation now in progress"},
    {EALREADY, 10037, "Operation already in progress"},
    {ENOTSOCK, 10038, "Socket operation on non-socket"},
    {EDESTADDRREQ, 10039, "Destination address required"},
    {EMSGSIZE, 10040, "Message too long"},
    {EPROTOTYPE, 10041, "Protocol wrong type for socket"},
    {ENOPROTOOPT, 10042, "Bad protocol option"},
    {EPROTONOSUPPORT, 10043, "Protocol not supported"},
    {ESOCKTNOSUPPORT, 10044, "Socket type not supported"},
    {EOPNOTSUPP, 10045, "Operation not supported"},
    {EPFNOSUPPORT, 10046, "Protocol family not supported"},
    {EAFNOSUPPORT, 10047, "Address family not supported by protocol family"},
    {EADDRINUSE, 10048, "Address already in use"},
    {EADDRNOTAVAIL, 10049, "Cannot assign requested address"},
    {ENETDOWN, 10050, "Network is down"},
    {ENETUNREACH, 10051, "Network is unreachable"},
    {ENETRESET, 10052, "Network dropped connection on reset"},
    {ECONNABORTED, 10053, "Software caused connection abort"},
    {ECONNRESET, 10054, "Connection reset by peer"},
    {ENOBUFS, 10055, "No buffer space available"},
    {EISCONN, 10056, "Socket is already connected"},
    {ENOTCONN, 10057, "Socket is not connected"},
    {EPIPE, 10058, "Cannot send after socket shutdown"},
    {ESHUTDOWN, 10058, "Cannot send after socket shutdown"},
    {ETIMEDOUT, 10060, "Connection timed out"},
    {ECONNREFUSED, 10061, "Connection refused"},
    {ELOOP, 10062, "Cannot translate name"},
    {ENAMETOOLONG, 10063, "Name too long"},
    {EHOSTDOWN, 10064, "Host is down"},
    {EHOSTUNREACH, 10065, "No route to host"},
};

// Numbers without an errno counterpart: the name-service results.
struct TTextEntry {
    std::uint16_t Winsock;
    const char* Text;
};
constexpr TTextEntry NameErrorTable[] = {
    {11001, "Host not found"},
    {11002, "Nonauthoritative host not found"},
    {11003, "This is a nonrecoverable error"},
    {11004, "Valid name, no data record of requested type"},
};

const char* TextFor(std::uint16_t number)
{
    for (const auto& e : ErrorTable)
        if (e.Winsock == number)
            return e.Text;
    for (const auto& e : NameErrorTable)
        if (e.Winsock == number)
            return e.Text;
    return nullptr;
}

bool ValidPort(std::string_view digits, std::uint16_t& port)
{
    if (digits.empty() || digits.size() > 5)
        return false;
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc() || end != digits.data() + digits.size() || value == 0 || value > 65535)
        return false;
    port = std::uint16_t(value);
    return true;
}

} // namespace

// ---- error texts -----------------------------------------------------------

void WinsockErrorText(std::uint16_t Number, std::string& Text)
{
    if (Number == 0)
        return;
    if (const char* text = TextFor(Number))
        Text = text;
    if (Text.empty())
        Text = "Winsock Error No. " + std::to_string(Number);
}

std::string WinsockErrorText(std::uint16_t Number)
{
    std::string text;
    WinsockErrorText(Number, text);
    return text;
}

std::uint16_t WinsockErrorFromErrno(int error)
{
    for (const auto& e : ErrorTable)
        if (e.Errno == error)
            return e.Winsock;
    return std::uint16_t(error);
}

// ---- address values --------------------------------------------------------

std::pair<std::string, std::string> SplitAddress(std::string_view value)
{
    const auto bar = value.find('|');
    if (bar == std::string_view::npos)
        return {std::string(value), {}};
    return {std::string(value.substr(0, bar)), std::string(value.substr(bar + 1))};
}

std::string JoinAddress(std::string_view address, std::string_view name)
{
    std::string value(address);
    if (!name.empty()) {
        value += '|';
        value += name;
    }
    return value;
}

std::pair<std::string, std::uint16_t> SplitServer(std::string_view server)
{
    const auto colon = server.rfind(':');
    std::uint16_t port = 0;
    if (colon == std::string_view::npos || !ValidPort(server.substr(colon + 1), port))
        return {std::string(server), 0};
    return {std::string(server.substr(0, colon)), port};
}

// ---- the session -----------------------------------------------------------

TMailBase::TMailBase(QObject* Owner) : QObject(Owner)
{
    FTimer = new QTimer(this);
    FTimer->setInterval(TickMilliseconds);
    FTimer->setTimerType(Qt::PreciseTimer);   // a coarse timer may tick 5% early
    connect(FTimer, &QTimer::timeout, this, &TMailBase::TimeOutTick);
}

TMailBase::~TMailBase()
{
    AbortHostLookup();
    DropNotifiers();
    // The socket library's clean-up released a socket left open; here the
    // descriptor is closed so that none leaks.
    if (FSocket >= 0)
        ::close(FSocket);
    FStartupCount = 0;
    try {
        SaveLog();
    } catch (...) {
        // A log that cannot be written must not abort the program's exit.
    }
}

void TMailBase::Reset()
{
    FCanceled = false;
    FTimedOut = false;
    FSocketError = false;
    FHostResolved = false;
    FServiceResolved = false;
    FConnected = false;
    FCanRead = false;
    FCanWrite = false;
    AbortHostLookup();
}

void TMailBase::Cancel()
{
    FCanceled = true;
    AbortHostLookup();
}

void TMailBase::Open()
{
    ++FStartupCount;
    ResolveHost();
    ResolveService();
    CreateSocket();
}

int TMailBase::Close()
{
    if (FSocket < 0)
        return -1;
    DropNotifiers();
    const int result = ::close(FSocket);
    FSocket = -1;
    return result;
}

// ---- waiting ---------------------------------------------------------------

void TMailBase::WaitUntil(const std::function<bool()>& done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void TMailBase::ProcessMessages()
{
    QCoreApplication::processEvents();
}

void TMailBase::StartTimeOut()
{
    if (!FTimer->isActive())
        FTimer->start();
    FTicksLeft = FTimeOut;
}

void TMailBase::StopTimeOut()
{
    FTimer->stop();
}

void TMailBase::TimeOutTick()
{
    --FTicksLeft;
    if (FTicksLeft != 0)
        return;
    AbortHostLookup();
    StopTimeOut();
    FTimedOut = true;
}

// ---- host and service ------------------------------------------------------

void TMailBase::ResolveHost()
{
    const std::string host = SplitServer(FServer).first;
    in_addr numeric{};
    if (inet_aton(host.c_str(), &numeric) != 0 && numeric.s_addr != INADDR_NONE) {
        FHostAddress = numeric.s_addr;
        return;
    }
    FResolvedAddress = INADDR_NONE;
    FLookupPending = true;
    ++FHostLookupCount;
    FAsyncRequest = QHostInfo::lookupHost(QString::fromStdString(host), this,
                                          [this](const QHostInfo& info) { HostResolved(info); });
    StartTimeOut();
    WaitUntil([this] { return FHostResolved || FTimedOut || FCanceled; });
    StopTimeOut();
    AbortHostLookup();   // a look-up that did not finish is of no use now
    if (FSocketError)
        throw ESocketError(WinsockErrorText(FErrorCode));
    if (FTimedOut)
        throw ETimedOutError();
    if (FCanceled)
        throw ECanceledError();
    if (FResolvedAddress == INADDR_NONE)
        throw EMailError("Error resolving remote host");
    FHostAddress = FResolvedAddress;
}

void TMailBase::HostResolved(const QHostInfo& info)
{
    FLookupPending = false;
    FAsyncRequest = 0;
    FHostResolved = true;
    switch (info.error()) {
    case QHostInfo::NoError: FErrorCode = 0; break;
    case QHostInfo::HostNotFound: FErrorCode = WSAHOST_NOT_FOUND; break;
    default: FErrorCode = WSANO_RECOVERY; break;
    }
    FSocketError = FErrorCode != 0;
    for (const QHostAddress& address : info.addresses()) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol) {
            FResolvedAddress = htonl(address.toIPv4Address());
            break;
        }
    }
}

void TMailBase::AbortHostLookup()
{
    if (FLookupPending)
        QHostInfo::abortHostLookup(FAsyncRequest);
    FLookupPending = false;
    FAsyncRequest = 0;
}

void TMailBase::ResolveService()
{
    if (const std::uint16_t port = SplitServer(FServer).second; port != 0) {
        FPort = port;   // the server names its port: nothing to look up
        return;
    }
    if (FService.empty())
        throw EMailError("Service name is not specified");
    // The services database is a local file: the look-up does not wait.
    const servent* entry = getservbyname(FService.c_str(), "tcp");
    FServiceResolved = true;
    if (FCanceled)
        throw ECanceledError();
    FPort = entry ? ntohs(std::uint16_t(entry->s_port)) : FDefaultPort;
}

void TMailBase::CreateSocket()
{
    FSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (FSocket < 0)
        throw ESocketError(WinsockErrorText(WinsockErrorFromErrno(errno)));
    // Commands and header lines go out one short write each; without this
    // each would wait for the server's delayed acknowledgement of the last.
    const int on = 1;
    ::setsockopt(FSocket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// ---- connection ------------------------------------------------------------

void TMailBase::Connect()
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(FPort);
    address.sin_addr.s_addr = FHostAddress;
    DropNotifiers();
    FReadNotifier = new QSocketNotifier(qintptr(FSocket), QSocketNotifier::Read, this);
    FReadNotifier->setEnabled(false);
    connect(FReadNotifier, &QSocketNotifier::activated, this, &TMailBase::SocketReadable);
    FWriteNotifier = new QSocketNotifier(qintptr(FSocket), QSocketNotifier::Write, this);
    FWriteNotifier->setEnabled(false);
    connect(FWriteNotifier, &QSocketNotifier::activated, this, &TMailBase::SocketWritable);
    StartTimeOut();
    if (::connect(FSocket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0
        && errno != EINPROGRESS) {
        const int error = errno;
        StopTimeOut();
        throw ESocketError(WinsockErrorText(WinsockErrorFromErrno(error)));
    }
    // Completion, good or bad, shows as writability; SO_ERROR tells which.
    ArmWrite();
    WaitUntil([this] { return FConnected || FSocketError || FCanceled || FTimedOut; });
    StopTimeOut();
    if (FWriteNotifier)
        FWriteNotifier->setEnabled(false);
    RaiseIfWaitFailed();
    ArmRead();
}

void TMailBase::RaiseIfWaitFailed() const
{
    if (FCanceled)
        throw ECanceledError();
    if (FTimedOut)
        throw ETimedOutError();
    if (FSocketError)
        throw ESocketError(WinsockErrorText(FErrorCode));
}

void TMailBase::SocketReadable()
{
    FReadNotifier->setEnabled(false);
    FErrorCode = 0;
    FSocketError = false;
    FCanRead = true;
}

void TMailBase::SocketWritable()
{
    FWriteNotifier->setEnabled(false);
    if (!FConnected) {
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(FSocket, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
            error = errno;
        FErrorCode = error ? WinsockErrorFromErrno(error) : 0;
        FSocketError = error != 0;
        FConnected = error == 0;
        return;
    }
    FCanWrite = true;
}

void TMailBase::ArmRead()
{
    if (FReadNotifier)
        FReadNotifier->setEnabled(true);
}

void TMailBase::ArmWrite()
{
    FCanWrite = false;
    if (FWriteNotifier)
        FWriteNotifier->setEnabled(true);
}

void TMailBase::DropNotifiers()
{
    delete FReadNotifier;
    FReadNotifier = nullptr;
    delete FWriteNotifier;
    FWriteNotifier = nullptr;
}

// ---- session log -----------------------------------------------------------

void TMailBase::SaveLog()
{
    if (FLogFileName.empty())
        return;
    std::ofstream file(FLogFileName, std::ios::binary | std::ios::trunc);
    const std::string text = FSessionLog.Text();
    file.write(text.data(), std::streamsize(text.size()));
}
