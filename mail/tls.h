// TTls: one TLS client session over a connected non-blocking socket, with
// OpenSSL. It never waits: every call says whether it needs the socket to
// become readable or writable first, and the session's event loop waits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

struct ssl_ctx_st;
struct ssl_st;
struct bio_st;

class TTls {
public:
    enum TResult { Done, WantRead, WantWrite, Closed, Failed };

    // The system's trust store plus `caFile` (PEM, may be empty); `host` is
    // sent as SNI (names only, RFC 6066 3) and checked against the
    // certificate (RFC 6125: DNS names, or the IP address of a literal).
    // Raises EMailError when OpenSSL or the CA file cannot be set up.
    TTls(int socket, const std::string& host, const std::string& caFile);
    ~TTls();
    TTls(const TTls&) = delete;
    TTls& operator=(const TTls&) = delete;

    TResult Handshake();
    // Transfer at most `count` bytes; `done` receives how many went.
    TResult Write(const char* data, std::size_t count, std::size_t& done);
    TResult Read(char* data, std::size_t count, std::size_t& done);
    // Sends close_notify once, without waiting for the peer's.
    void Shutdown();

    // After the handshake: empty when the certificate verified, otherwise
    // "unknown issuer", "name mismatch", "expired"...
    std::string Problem() const;
    // SHA-256 of the server's certificate: "AB:CD:...".
    std::string Fingerprint() const;
    // What OpenSSL said about the last Failed result.
    const std::string& Error() const { return FError; }
    // "TLSv1.3 TLS_AES_256_GCM_SHA384", for the session log.
    std::string Description() const;
    // Encrypted bytes sent so far: progress that the plain text does not show.
    std::uint64_t Moved() const { return FMoved; }

private:
    TResult Result(int ret);
    // Whether records wait in memory for the socket.
    bool Waiting() const;
    // Sends the records waiting in memory; WantWrite while some remain.
    TResult Flush();
    TResult AfterStep(TResult result);

    ssl_ctx_st* FContext = nullptr;
    ssl_st* FSsl = nullptr;
    bio_st* FOutput = nullptr;   // our end of the pair OpenSSL writes records into
    int FSocket = -1;
    std::uint64_t FMoved = 0;
    std::string FError;
};

// Whether `list` ("host:port=SHA256 host:port=SHA256 ...", hex in either
// case, colons optional) trusts `fingerprint` for `key` ("host:port").
bool IsTrustedCertificate(std::string_view list, std::string_view key, std::string_view fingerprint);
