#include "tls.h"

#include "mailbase.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cctype>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>

namespace {

// Older protocol versions are broken (RFC 8996).
constexpr int MinimumVersion = TLS1_2_VERSION;
// Plain bytes taken per SSL_write: the records they make stay in the cache
// on their way from the memory BIO to the socket, instead of a whole
// multi-megabyte slice being encrypted, grown into the BIO and copied out.
constexpr std::size_t WriteBatch = 64 * 1024;
// Room for the records of one batch, whatever the cipher adds per record
// (headers, tags, padding): a write starts only once the last one has left,
// so the records always fit and OpenSSL never has to wait for the socket.
constexpr std::size_t OutputRoom = 2 * WriteBatch;

std::string OpenSSLError()
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return {};
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

// The client context, with the system's trust store (SSL_CERT_FILE and
// SSL_CERT_DIR honoured) and the CA file, made once per process and CA file:
// reading some 150 certificates costs tens of milliseconds a session. A CA
// file changed on disk makes a new one. Returns a reference of its own, or
// nullptr with `error` set.
SSL_CTX* SharedContext(const std::string& caFile, std::string& error)
{
    static SSL_CTX* cached = nullptr;
    static std::string cachedKey;
    struct stat info {};
    const std::string key = caFile.empty() || ::stat(caFile.c_str(), &info) != 0
                                ? caFile
                                : caFile + "@" + std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec);
    if (cached && key == cachedKey && SSL_CTX_up_ref(cached) == 1)
        return cached;
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (!context) {
        error = "TLS cannot be set up: " + OpenSSLError();
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(context, MinimumVersion);
    SSL_CTX_set_default_verify_paths(context);
    if (!caFile.empty() && SSL_CTX_load_verify_locations(context, caFile.c_str(), nullptr) != 1) {
        error = "The CA file " + caFile + " cannot be read: " + OpenSSLError();
        SSL_CTX_free(context);
        return nullptr;
    }
    SSL_CTX_free(cached);
    cached = context;
    cachedKey = key;
    SSL_CTX_up_ref(context);
    return context;
}

bool IsAddressLiteral(const std::string& host)
{
    unsigned char buffer[16];
    return inet_pton(AF_INET, host.c_str(), buffer) == 1 || inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

} // namespace

TTls::TTls(int socket, const std::string& host, const std::string& caFile)
{
    std::string error;
    FContext = SharedContext(caFile, error);
    if (!FContext)
        throw EMailError(error);
    FSsl = SSL_new(FContext);
    BIO* input = BIO_new_socket(socket, BIO_NOCLOSE);
    BIO* output = nullptr;
    if (BIO_new_bio_pair(&output, OutputRoom, &FOutput, 0) != 1)
        output = FOutput = nullptr;
    if (!FSsl || !input || !output) {
        // A constructor that throws gets no destructor: free what was made.
        BIO_free(input);
        BIO_free(output);
        BIO_free(FOutput);
        SSL_free(FSsl);
        SSL_CTX_free(FContext);
        throw EMailError("TLS cannot be set up: " + OpenSSLError());
    }
    // Records are written to memory and leave in large sends of our own
    // (MSG_NOSIGNAL: a reset connection is an error, not a SIGPIPE): one
    // write() per 16 KiB record would wake the server's reader as often.
    // A BIO pair lets them be sent from where OpenSSL put them, uncopied.
    SSL_set_bio(FSsl, input, output);
    FSocket = socket;
    // Verification runs in full, but the handshake goes on whatever it finds:
    // the caller decides (trusted fingerprint, opportunistic TLS) before it
    // sends anything.
    SSL_set_verify(FSsl, SSL_VERIFY_NONE, nullptr);
    X509_VERIFY_PARAM* param = SSL_get0_param(FSsl);
    if (IsAddressLiteral(host)) {
        X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
    } else {
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        X509_VERIFY_PARAM_set1_host(param, host.c_str(), 0);
        SSL_set_tlsext_host_name(FSsl, host.c_str());
    }
    SSL_set_connect_state(FSsl);
}

TTls::~TTls()
{
    SSL_free(FSsl);
    BIO_free(FOutput);
    SSL_CTX_free(FContext);
}

TTls::TResult TTls::Result(int ret)
{
    if (ret > 0)
        return Done;
    const int error = SSL_get_error(FSsl, ret);
    switch (error) {
    case SSL_ERROR_WANT_READ: return WantRead;
    case SSL_ERROR_WANT_WRITE: return WantWrite;
    case SSL_ERROR_ZERO_RETURN: return Closed;
    case SSL_ERROR_SYSCALL:
        FError = errno ? WinsockErrorText(WinsockErrorFromErrno(errno)) : OpenSSLError();
        ERR_clear_error();
        return FError.empty() ? Closed : Failed;
    default:
        // OpenSSL 3 reports a peer that closed without close_notify this way.
        if (ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
            ERR_clear_error();
            return Closed;
        }
        FError = OpenSSLError();
        return Failed;
    }
}

bool TTls::Waiting() const
{
    return BIO_ctrl_pending(FOutput) > 0;
}

// The pair's buffer is a ring: each pass sends the part up to its end.
TTls::TResult TTls::Flush()
{
    char* records = nullptr;
    int available = 0;
    while ((available = BIO_nread0(FOutput, &records)) > 0) {
        const ssize_t n = ::send(FSocket, records, std::size_t(available), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return WantWrite;
        if (n < 0) {
            FError = WinsockErrorText(WinsockErrorFromErrno(errno));
            return Failed;
        }
        BIO_nread(FOutput, &records, int(n));
        FMoved += std::uint64_t(n);
    }
    return Done;
}

// After a step: its own result, unless what it wrote cannot leave yet.
TTls::TResult TTls::AfterStep(TResult result)
{
    const TResult flushed = Flush();
    if (flushed == Failed || (flushed == WantWrite && result != Failed && result != Closed))
        return flushed;
    return result;
}

TTls::TResult TTls::Handshake()
{
    ERR_clear_error();
    errno = 0;
    return AfterStep(Result(SSL_connect(FSsl)));
}

// Whatever is written leaves before new data is taken, so that the records
// in memory never outgrow one batch of the caller.
TTls::TResult TTls::Write(const char* data, std::size_t count, std::size_t& done)
{
    done = 0;
    if (const TResult flushed = Flush(); flushed != Done)
        return flushed;
    ERR_clear_error();
    errno = 0;
    if (SSL_write_ex(FSsl, data, std::min(count, WriteBatch), &done) != 1) {
        done = 0;
        return AfterStep(Result(0));
    }
    const TResult flushed = Flush();
    return flushed == Failed ? Failed : Done;   // the rest leaves with the next call
}

// A read first sends what earlier writes left, so that the server sees the
// whole command before its reply is awaited. A connection that no longer
// takes data may still hold the server's last words: they are read.
TTls::TResult TTls::Read(char* data, std::size_t count, std::size_t& done)
{
    done = 0;
    const bool broken = Waiting() && Flush() == Failed;
    if (!broken && Waiting())
        return WantWrite;
    ERR_clear_error();
    errno = 0;
    const TResult result = Result(SSL_read_ex(FSsl, data, count, &done) == 1 ? 1 : 0);
    if (result != Done)
        done = 0;
    return broken ? result : AfterStep(result);
}

void TTls::Shutdown()
{
    ERR_clear_error();
    SSL_shutdown(FSsl);
    Flush();
    ERR_clear_error();
}

std::string TTls::Problem() const
{
    const long result = SSL_get_verify_result(FSsl);
    switch (result) {
    case X509_V_OK: return SSL_get0_peer_certificate(FSsl) ? std::string() : "no certificate";
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE: return "unknown issuer";
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH: return "name mismatch";
    case X509_V_ERR_CERT_HAS_EXPIRED: return "expired";
    case X509_V_ERR_CERT_NOT_YET_VALID: return "not yet valid";
    default: return X509_verify_cert_error_string(result);
    }
}

std::string TTls::Fingerprint() const
{
    const X509* cert = SSL_get0_peer_certificate(FSsl);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!cert || X509_digest(cert, EVP_sha256(), digest, &length) != 1)
        return {};
    static const char hex[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        if (i)
            text += ':';
        text += hex[digest[i] >> 4];
        text += hex[digest[i] & 15];
    }
    return text;
}

std::string TTls::Description() const
{
    return std::string(SSL_get_version(FSsl)) + " " + SSL_get_cipher_name(FSsl);
}

namespace {

std::string HexDigits(std::string_view text)
{
    std::string digits;
    for (char c : text)
        if (c != ':')
            digits += char(std::toupper(static_cast<unsigned char>(c)));
    return digits;
}

// Host names compare without regard to case (RFC 4343).
bool SameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size()
           && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                  return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
              });
}

} // namespace

bool IsTrustedCertificate(std::string_view list, std::string_view key, std::string_view fingerprint)
{
    const std::string wanted = HexDigits(fingerprint);
    std::size_t start = 0;
    while ((start = list.find_first_not_of(' ', start)) != std::string_view::npos) {
        const std::size_t end = std::min(list.find(' ', start), list.size());
        const std::string_view entry = list.substr(start, end - start);
        const auto equals = entry.rfind('=');
        if (equals != std::string_view::npos && SameName(entry.substr(0, equals), key) && !wanted.empty()
            && HexDigits(entry.substr(equals + 1)) == wanted)
            return true;
        start = end;
    }
    return false;
}
