// tls_sink CERT KEY: an SMTP sink on 127.0.0.1 (port printed as "PORT <n>")
// that offers STARTTLS and accepts every message without keeping it, one
// session at a time, until it is killed. Plain and STARTTLS sessions meet
// the same code, blocking and in C++, so that a side-by-side run measures
// what TLS costs the client rather than the sink's own overhead.
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr std::size_t ReadBytes = 1 << 20;

struct TConnection {
    int Fd = -1;
    SSL* Ssl = nullptr;
    std::string Pending;

    long Read(char* buffer, std::size_t size)
    {
        return Ssl ? SSL_read(Ssl, buffer, int(size)) : ::read(Fd, buffer, size);
    }
    void Write(const std::string& text)
    {
        if (Ssl)
            SSL_write(Ssl, text.data(), int(text.size()));
        else
            (void)!::write(Fd, text.data(), text.size());
    }
    bool Line(std::string& line, char* buffer)
    {
        std::size_t end;
        while ((end = Pending.find('\n')) == std::string::npos) {
            const long n = Read(buffer, ReadBytes);
            if (n <= 0)
                return false;
            Pending.append(buffer, std::size_t(n));
        }
        line = Pending.substr(0, end);
        Pending.erase(0, end + 1);
        return true;
    }
    // The message up to the line ".", not kept.
    bool Data(char* buffer)
    {
        std::string tail = Pending.size() > 5 ? Pending.substr(Pending.size() - 5) : Pending;
        Pending.clear();
        while (tail.size() < 5 || tail.compare(tail.size() - 5, 5, "\r\n.\r\n") != 0) {
            const long n = Read(buffer, ReadBytes);
            if (n <= 0)
                return false;
            tail.append(buffer, std::size_t(n));
            tail.erase(0, tail.size() > 5 ? tail.size() - 5 : 0);
        }
        return true;
    }
};

void Serve(TConnection& c, SSL_CTX* context, char* buffer)
{
    c.Write("220 sink\r\n");
    std::string line;
    while (c.Line(line, buffer)) {
        const std::string verb = line.substr(0, 4);
        if (verb == "EHLO") {
            c.Write("250-sink\r\n250-STARTTLS\r\n250 SIZE 1000000000\r\n");
        } else if (verb == "STAR") {
            c.Write("220 go ahead\r\n");
            c.Pending.clear();
            c.Ssl = SSL_new(context);
            SSL_set_fd(c.Ssl, c.Fd);
            if (SSL_accept(c.Ssl) != 1)
                return;
        } else if (verb == "DATA") {
            c.Write("354 go ahead\r\n");
            if (!c.Data(buffer))
                return;
            c.Write("250 accepted\r\n");
        } else if (verb == "QUIT") {
            c.Write("221 bye\r\n");
            return;
        } else {
            c.Write("250 ok\r\n");
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (SSL_CTX_use_certificate_chain_file(context, argv[1]) != 1
        || SSL_CTX_use_PrivateKey_file(context, argv[2], SSL_FILETYPE_PEM) != 1)
        return 1;
    // About one read() a record rather than two. The read buffer keeps
    // OpenSSL's default size (one record): before each record OpenSSL moves
    // what is left of the buffer to its start, so a 1 MiB buffer, full once
    // the sink fell behind, cost up to a megabyte of copying per 16 KiB
    // record, more than decrypting it.
    SSL_CTX_set_read_ahead(context, 1);
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(listener, 8) != 0)
        return 1;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    std::printf("PORT %d\n", ntohs(address.sin_port));
    std::fflush(stdout);
    static char buffer[ReadBytes];
    for (;;) {
        TConnection c;
        c.Fd = ::accept(listener, nullptr, nullptr);
        if (c.Fd < 0)
            continue;
        // Replies go out at once, not after the client's delayed acknowledgement.
        const int on = 1;
        ::setsockopt(c.Fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        Serve(c, context, buffer);
        if (c.Ssl) {
            SSL_shutdown(c.Ssl);
            SSL_free(c.Ssl);
        }
        ::close(c.Fd);
    }
}
