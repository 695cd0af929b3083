#include "fake_smtp_server.h"

#include <QHostAddress>
#include <QTimer>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::string Unescape(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'r' || text[i + 1] == 'n')) {
            out += text[i + 1] == 'r' ? '\r' : '\n';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string_view Argument(const std::string& step)
{
    return step.size() > 3 ? std::string_view(step).substr(3) : std::string_view();
}

} // namespace

TFakeSMTPServer::TFakeSMTPServer(std::vector<std::string> script, QObject* parent)
    : QObject(parent), FScript(std::move(script))
{
    connect(&FServer, &QTcpServer::newConnection, this, &TFakeSMTPServer::Accept);
    FServer.listen(QHostAddress::LocalHost, 0);
    FPort = FServer.serverPort();
}

TFakeSMTPServer::~TFakeSMTPServer()
{
    if (FClient)
        FClient->abort();
}

std::string TFakeSMTPServer::Address() const
{
    return "127.0.0.1:" + std::to_string(FPort);
}

std::vector<std::string> TFakeSMTPServer::ClientLines(const std::vector<std::string>& script)
{
    std::vector<std::string> lines;
    for (const auto& step : script)
        if (step.starts_with("C:"))
            lines.emplace_back(Argument(step));
    return lines;
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
        FStep = 0;
        connect(socket, &QTcpSocket::readyRead, this, &TFakeSMTPServer::Readable);
        connect(socket, &QTcpSocket::disconnected, this, [this] { FClientClosed = true; });
        Run();
    }
}

void TFakeSMTPServer::Readable()
{
    if (!FClient)
        return;
    const QByteArray data = FClient->readAll();
    FBytes.append(data.constData(), std::size_t(data.size()));
    FPending.append(data.constData(), std::size_t(data.size()));
    Run();
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
    while (FClient && !FPaused && FStep < FScript.size()) {
        const std::string& step = FScript[FStep];
        const std::string_view arg = Argument(step);
        std::string line;
        if (step.starts_with("S:")) {
            FClient->write((std::string(arg) + "\r\n").c_str());
        } else if (step.starts_with("R:")) {
            FClient->write(Unescape(arg).c_str());
        } else if (step.starts_with("C:")) {
            if (!TakeLine(line))
                return;
        } else if (step.starts_with("D:")) {
            while (TakeLine(line))
                if (line == ".")
                    break;
            if (line != ".")
                return;
        } else if (step.starts_with("P:")) {
            FPaused = true;
            ++FStep;
            FClient->flush();
            QTimer::singleShot(std::stoi(std::string(arg)), this, [this] { FPaused = false; Run(); });
            return;
        } else if (step.starts_with("H:")) {
            FClient->setReadBufferSize(1);
            disconnect(FClient, &QTcpSocket::readyRead, this, &TFakeSMTPServer::Readable);
        } else if (step.starts_with("X:")) {
            FClient->flush();
            FClient->disconnectFromHost();
            ++FStep;
            return;
        }
        ++FStep;
    }
    // After the script: keep recording what arrives.
    if (FClient && FStep >= FScript.size()) {
        std::string line;
        while (TakeLine(line)) {
        }
    }
}

std::uint16_t ClosedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);   // bound but never listened on: the port refuses
    return ntohs(address.sin_port);
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
