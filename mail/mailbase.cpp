// The socket session: a non-blocking POSIX socket whose readiness, the host
// look-up and a one-second clock are delivered as Qt events into the flags
// that every waiting step tests.
#include "mailbase.h"

#include "tls.h"

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
#include <cstring>
#include <fstream>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
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
    std::string_view host = server, port;
    if (server.starts_with('[')) {   // an IPv6 literal, RFC 3986 3.2.2
        const auto close = server.find(']');
        if (close == std::string_view::npos)
            throw EMailError("The server name " + std::string(server) + " lacks its closing \"]\"");
        host = server.substr(1, close - 1);
        const std::string_view rest = server.substr(close + 1);
        if (!rest.empty() && !rest.starts_with(':'))
            throw EMailError("The server name " + std::string(server) + " has text after its \"]\"");
        port = rest.empty() ? rest : rest.substr(1);
        if (rest.empty())
            return {std::string(host), 0};
    } else if (const auto colon = server.find(':'); colon != std::string_view::npos) {
        if (server.find(':', colon + 1) != std::string_view::npos)
            return {std::string(server), 0};   // a bare IPv6 address
        host = server.substr(0, colon);
        port = server.substr(colon + 1);
    } else {
        return {std::string(server), 0};
    }
    std::uint16_t number = 0;
    if (!ValidPort(port, number))
        throw EMailError("The port \"" + std::string(port) + "\" of the server " + std::string(server)
                         + " is not a number from 1 to 65535");
    return {std::string(host), number};
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
    FTls.reset();
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
    if (FTls)
        FTls->Shutdown();   // close_notify (RFC 8446 6.1), no wait for the answer
    FTls.reset();
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
    FSeenTransferred = FTransferred + (FTls ? FTls->Moved() : 0);
    FSeenQueue = SendQueue();
}

void TMailBase::StopTimeOut()
{
    FTimer->stop();
}

void TMailBase::TimeOutTick()
{
    if (MadeProgress()) {
        FTicksLeft = FTimeOut;
        return;
    }
    --FTicksLeft;
    if (FTicksLeft != 0)
        return;
    AbortHostLookup();
    StopTimeOut();
    FTimedOut = true;
}

long TMailBase::SendQueue() const
{
    int queued = 0;
    if (FSocket < 0 || ::ioctl(FSocket, SIOCOUTQ, &queued) != 0)
        return -1;
    return queued;
}

bool TMailBase::MadeProgress()
{
    const long queued = SendQueue();
    const std::uint64_t transferred = FTransferred + (FTls ? FTls->Moved() : 0);
    const bool moved = transferred != FSeenTransferred || (queued >= 0 && FSeenQueue >= 0 && queued < FSeenQueue);
    FSeenTransferred = transferred;
    FSeenQueue = queued;
    return moved;
}

// ---- host and service ------------------------------------------------------

void TMailBase::ResolveHost()
{
    const std::string host = SplitServer(FServer).first;
    FAddresses.clear();
    in_addr numeric{};
    QHostAddress literal;
    if (inet_aton(host.c_str(), &numeric) != 0 && numeric.s_addr != INADDR_NONE) {
        FAddresses.emplace_back(quint32(ntohl(numeric.s_addr)));
    } else if (host.find(':') != std::string::npos && literal.setAddress(QString::fromStdString(host))) {
        FAddresses.push_back(literal);
    } else {
        LookUpHost(host);
    }
    FHostAddress = 0;
    for (const QHostAddress& address : FAddresses)
        if (address.protocol() == QAbstractSocket::IPv4Protocol) {
            FHostAddress = htonl(address.toIPv4Address());
            break;
        }
}

void TMailBase::LookUpHost(const std::string& host)
{
    FLookupPending = true;
    ++FHostLookupCount;
    FAsyncRequest = QHostInfo::lookupHost(QString::fromStdString(host), this,
                                          [this](const QHostInfo& info) { HostResolved(info); });
    StartTimeOut();
    WaitUntil([this] { return FHostResolved || FTimedOut || FCanceled; });
    StopTimeOut();
    AbortHostLookup();   // a look-up that did not finish is of no use now
    if (FSocketError)
        throw ESocketError(WinsockErrorText(FErrorCode), FErrorCode);
    if (FTimedOut)
        throw ETimedOutError();
    if (FCanceled)
        throw ECanceledError();
    if (FAddresses.empty())
        throw EMailError("Error resolving remote host");
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
        const auto protocol = address.protocol();
        if ((protocol == QAbstractSocket::IPv4Protocol && address.toIPv4Address() != INADDR_NONE)
            || protocol == QAbstractSocket::IPv6Protocol)
            FAddresses.push_back(address);
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
    const auto [service, fallback] = ServiceAndFallback();
    if (service.empty())
        throw EMailError("Service name is not specified");
    // The services database is a local file: the look-up does not wait.
    const servent* entry = getservbyname(service.c_str(), "tcp");
    FServiceResolved = true;
    if (FCanceled)
        throw ECanceledError();
    FPort = entry ? ntohs(std::uint16_t(entry->s_port)) : fallback;
}

void TMailBase::CreateSocket()
{
    CreateSocketFor(FAddresses.front());
}

void TMailBase::CreateSocketFor(const QHostAddress& address)
{
    const int family = address.protocol() == QAbstractSocket::IPv6Protocol ? AF_INET6 : AF_INET;
    FSocket = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (FSocket < 0) {
        const std::uint16_t number = WinsockErrorFromErrno(errno);
        throw ESocketError(WinsockErrorText(number), number);
    }
    // Commands and header lines go out one short write each; without this
    // each would wait for the server's delayed acknowledgement of the last.
    const int on = 1;
    ::setsockopt(FSocket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// ---- connection ------------------------------------------------------------

// Each address in turn (RFC 6724 order, as the resolver gives them), all
// under the one countdown of the connect step.
void TMailBase::Connect()
{
    StartTimeOut();
    std::uint16_t error = 0;
    for (std::size_t i = 0; i < FAddresses.size(); ++i) {
        if (i > 0) {
            Close();
            CreateSocketFor(FAddresses[i]);
        }
        error = ConnectTo(FAddresses[i]);
        if (error == 0)
            break;
    }
    StopTimeOut();
    if (error != 0)
        throw ESocketError(WinsockErrorText(error), error);
    ArmRead();
}

std::uint16_t TMailBase::ConnectTo(const QHostAddress& address)
{
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(FPort);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&in6->sin6_addr, &bytes, sizeof in6->sin6_addr);
        in6->sin6_scope_id = address.scopeId().toUInt();
        length = sizeof *in6;
    } else {
        auto* in = reinterpret_cast<sockaddr_in*>(&storage);
        in->sin_family = AF_INET;
        in->sin_port = htons(FPort);
        in->sin_addr.s_addr = htonl(address.toIPv4Address());
        length = sizeof *in;
    }
    MakeNotifiers();
    FConnected = false;
    FSocketError = false;
    if (::connect(FSocket, reinterpret_cast<const sockaddr*>(&storage), length) != 0 && errno != EINPROGRESS)
        return WinsockErrorFromErrno(errno);
    // Completion, good or bad, shows as writability; SO_ERROR tells which.
    ArmWrite();
    WaitUntil([this] { return FConnected || FSocketError || FCanceled || FTimedOut; });
    if (FWriteNotifier)
        FWriteNotifier->setEnabled(false);
    if (FCanceled || FTimedOut) {
        StopTimeOut();
        RaiseIfWaitFailed();
    }
    return FConnected ? 0 : FErrorCode;
}

void TMailBase::MakeNotifiers()
{
    DropNotifiers();
    FReadNotifier = new QSocketNotifier(qintptr(FSocket), QSocketNotifier::Read, this);
    FReadNotifier->setEnabled(false);
    connect(FReadNotifier, &QSocketNotifier::activated, this, &TMailBase::SocketReadable);
    FWriteNotifier = new QSocketNotifier(qintptr(FSocket), QSocketNotifier::Write, this);
    FWriteNotifier->setEnabled(false);
    connect(FWriteNotifier, &QSocketNotifier::activated, this, &TMailBase::SocketWritable);
}

void TMailBase::RaiseIfWaitFailed() const
{
    if (FCanceled)
        throw ECanceledError();
    if (FTimedOut)
        throw ETimedOutError();
    if (FSocketError)
        throw ESocketError(WinsockErrorText(FErrorCode), FErrorCode);
}

// "[192.0.2.1]" or "[IPv6:2001:db8::1]" (RFC 5321 4.1.3), built by appending:
// GCC 12 warns (-Wrestrict, a false positive) on "[" + std::string + "]".
static std::string AddressLiteral(const char* tag, const char* address)
{
    std::string literal = "[";
    literal += tag;
    literal += address;
    literal += ']';
    return literal;
}

std::string TMailBase::LocalAddressLiteral() const
{
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    char text[INET6_ADDRSTRLEN] = "";
    if (FSocket < 0 || ::getsockname(FSocket, reinterpret_cast<sockaddr*>(&storage), &length) != 0)
        return "[127.0.0.1]";
    if (storage.ss_family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(storage);
        if (IN6_IS_ADDR_V4MAPPED(&in6.sin6_addr)) {
            inet_ntop(AF_INET, &in6.sin6_addr.s6_addr[12], text, sizeof text);
            return AddressLiteral("", text);
        }
        inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof text);
        return AddressLiteral("IPv6:", text);
    }
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(storage).sin_addr, text, sizeof text);
    return AddressLiteral("", text);
}

// ---- moving bytes ------------------------------------------------------------

TMailBase::TIo TMailBase::SendSome(const char* data, std::size_t count, std::size_t& done)
{
    done = 0;
    if (FTls)
        return TlsResult(FTls->Write(data, count, done), done);
    const ssize_t n = ::send(FSocket, data, count, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) {
        done = std::size_t(n);
        FTransferred += done;
        return ioDone;
    }
    return ErrnoResult(ioWantWrite);
}

TMailBase::TIo TMailBase::ReceiveSome(char* data, std::size_t count, std::size_t& done)
{
    done = 0;
    if (FTls)
        return TlsResult(FTls->Read(data, count, done), done);
    const ssize_t n = ::recv(FSocket, data, count, MSG_DONTWAIT);
    if (n > 0) {
        done = std::size_t(n);
        FTransferred += done;
        return ioDone;
    }
    return n == 0 ? ioClosed : ErrnoResult(ioWantRead);
}

TMailBase::TIo TMailBase::ErrnoResult(TIo wouldBlock)
{
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        return wouldBlock;
    FIoErrorNumber = WinsockErrorFromErrno(errno);
    FIoError = WinsockErrorText(FIoErrorNumber);
    return ioFailed;
}

TMailBase::TIo TMailBase::TlsResult(int result, std::size_t done)
{
    FTransferred += done;
    switch (TTls::TResult(result)) {
    case TTls::Done: return ioDone;
    case TTls::WantRead: return ioWantRead;
    case TTls::WantWrite: return ioWantWrite;
    case TTls::Closed: return ioClosed;
    default:
        FIoErrorNumber = 0;
        FIoError = "TLS failure: " + FTls->Error();
        return ioFailed;
    }
}

void TMailBase::WaitForSocket(TIo want)
{
    if (want == ioWantWrite) {
        ArmWrite();
        WaitUntil([this] { return FCanWrite || FTimedOut || FCanceled; });
        return;
    }
    FCanRead = false;
    ArmRead();
    WaitUntil([this] { return FCanRead || FTimedOut || FCanceled; });
}

void TMailBase::StartTls(const std::string& caFile)
{
    FTls = std::make_unique<TTls>(FSocket, HostName(), caFile);
    StartTimeOut();
    TIo state = ioWantWrite;
    while ((state = TlsResult(FTls->Handshake(), 0)) == ioWantRead || state == ioWantWrite) {
        WaitForSocket(state);
        if (FTimedOut || FCanceled)
            break;
    }
    StopTimeOut();
    if (FTimedOut || FCanceled) {
        Close();
        RaiseIfWaitFailed();
    }
    if (state != ioDone) {
        const std::string why = state == ioClosed ? "the server closed the connection" : FIoError;
        Close();
        throw EMailError("The TLS handshake with " + HostName() + " failed: " + why);
    }
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
