#include "fake_smtp_server.h"

#include <QHostAddress>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

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
        if (FClient) {   // one client at a time: a second one is turned away
            socket->abort();
            socket->deleteLater();
            continue;
        }
        FClient = socket;
        connect(socket, &QTcpSocket::readyRead, this, &TFakeSMTPServer::Run);
        connect(socket, &QTcpSocket::disconnected, this, [this] { FClientClosed = true; });
        Run();
    }
}

bool TFakeSMTPServer::TakeLine(std::string& line)
{
    const auto end = FPending.find("\r\n");
    if (end == std::string::npos)
        return false;
    line = FPending.substr(0, end);
    FPending.erase(0, end + 2);
    FReceived.push_back(line);
    return true;
}

void TFakeSMTPServer::Run()
{
    if (FClient && !FHeld)
        FPending += FClient->readAll().toStdString();
    std::string line;
    for (; FClient && !FPaused && FStep < FScript.size(); ++FStep) {
        const std::string& step = FScript[FStep];
        QByteArray arg = QByteArray::fromStdString(step.substr(std::min<std::size_t>(3, step.size())));
        if (step.starts_with("S:") || step.starts_with("R:")) {
            FClient->write(step.starts_with("S:") ? arg + "\r\n" : arg);
        } else if (step.starts_with("C:")) {
            if (!TakeLine(line))
                return;
        } else if (step.starts_with("D:")) {
            bool end = false;
            while (!end && TakeLine(line))
                end = line == ".";
            if (!end)
                return;
        } else if (step.starts_with("P:") || step.starts_with("X:")) {
            FClient->flush();
            ++FStep;
            if (step.starts_with("X:"))
                return FClient->disconnectFromHost();
            FPaused = true;
            QTimer::singleShot(arg.toInt(), this, [this] { FPaused = false; Run(); });
            return;
        } else if (step.starts_with("H:")) {
            FHeld = true;
            FClient->setReadBufferSize(1);
        }
    }
    while (FClient && FStep >= FScript.size() && TakeLine(line)) {   // after the script: keep recording
    }
}

std::uint16_t ClosedPort()
{
    QTcpServer server;   // listens only until it goes: the port then refuses
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

TFullListener::TFullListener()
{
    FListener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(FListener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(FListener, 0);
    socklen_t length = sizeof address;
    ::getsockname(FListener, reinterpret_cast<sockaddr*>(&address), &length);
    FPort = ntohs(address.sin_port);
    // Fill the accept queue with connections that are never accepted; the
    // kernel then drops further SYNs, so a new connect stays pending. Keep
    // adding fillers until one of them stays pending itself.
    for (int i = 0; i < 8 && !FReady; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        FFillers.push_back(fd);
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        pollfd p{fd, POLLOUT, 0};
        FReady = ::poll(&p, 1, 200) == 0;
    }
}

TFullListener::~TFullListener()
{
    for (int fd : FFillers)
        ::close(fd);
    ::close(FListener);
}
