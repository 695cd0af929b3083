#include "fake_smtp_server.h"

#include <QHostAddress>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

TFakeSMTPServer::TFakeSMTPServer(std::vector<std::string> script) : FScript(std::move(script))
{
    connect(&FServer, &QTcpServer::newConnection, this, &TFakeSMTPServer::Accept);
    FServer.listen(QHostAddress::LocalHost, 0);
}

TFakeSMTPServer::~TFakeSMTPServer()
{
    if (FClient)
        FClient->abort();
}

void TFakeSMTPServer::Accept()
{
    while (QTcpSocket* socket = FServer.nextPendingConnection()) {
        ++FConnections;
        if (FClient) {   // one client at a time: a second one is turned away (and goes with the server)
            socket->abort();
            continue;
        }
        FClient = socket;
        connect(socket, &QTcpSocket::readyRead, this, &TFakeSMTPServer::Run);
        connect(socket, &QTcpSocket::disconnected, this, [this] { FClientClosed = true; });
        Run();
    }
}

std::optional<std::string> TFakeSMTPServer::TakeLine()
{
    const auto end = FPending.find("\r\n");
    if (end == std::string::npos)
        return std::nullopt;
    FReceived.push_back(FPending.substr(0, end));
    FPending.erase(0, end + 2);
    return FReceived.back();
}

void TFakeSMTPServer::Run()
{
    if (FClient && !FHeld)
        FPending += FClient->readAll().toStdString();
    for (; FClient && !FPaused && FStep < FScript.size(); ++FStep) {
        const std::string& step = FScript[FStep];
        const char kind = step[0];
        const QByteArray arg = QByteArray::fromStdString(step.substr(std::min<std::size_t>(3, step.size())));
        if (kind == 'S' || kind == 'R') {
            FClient->write(kind == 'S' ? arg + "\r\n" : arg);
        } else if (kind == 'C' || kind == 'D') {   // one line, or the lines up to "."
            std::optional<std::string> line;
            while ((line = TakeLine()) && kind == 'D' && *line != ".") {
            }
            if (!line)
                return;
        } else if (kind == 'H') {
            FHeld = true;
            FClient->setReadBufferSize(1);
        } else if (kind == 'P' || kind == 'X') {
            FClient->flush();
            ++FStep;
            if (kind == 'X')
                return FClient->disconnectFromHost();
            FPaused = true;
            return QTimer::singleShot(arg.toInt(), this, [this] { FPaused = false; Run(); });
        }
    }
    while (FClient && FStep >= FScript.size() && TakeLine()) {   // after the script: keep recording
    }
}

std::uint16_t ClosedPort()
{
    QTcpServer server;   // listens only until it goes: the port then refuses
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

std::uint16_t PendingPort()
{
    static const std::uint16_t port = [] {
        const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{.sin_family = AF_INET, .sin_port = 0, .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener, 0);
        socklen_t length = sizeof address;
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        // Fill the accept queue with connections that are never accepted; the
        // kernel then drops further SYNs, so a new connect stays pending. Keep
        // adding fillers until one of them stays pending itself.
        for (int i = 0; i < 8; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, 200) == 0)
                return ntohs(address.sin_port);
        }
        return std::uint16_t(0);
    }();
    return port;
}
