// A scripted SMTP server for tests, listening on 127.0.0.1 on a port that
// the OS assigns. It runs in the test's own thread: the client's waits run
// the event loop, and with it this server.
//
// A script is a list of steps, played in order for each connection:
//   "S: text"   send text + CR LF
//   "R: text"   send text as it is, for replies split across receives
//   "C: text"   wait for one line from the client (recorded; the text is
//               what the test expects)
//   "D:"        wait for lines up to and including the lone "." line
//   "P: ms"     pause for ms milliseconds before the next step
//   "H:"        hold: stop reading from the client (its sends fill up)
//   "X:"        close the connection
// After the last step the server stays silent and keeps reading.
#pragma once

#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class TFakeSMTPServer : public QObject {
    Q_OBJECT
public:
    explicit TFakeSMTPServer(std::vector<std::string> script);
    ~TFakeSMTPServer() override;

    // "127.0.0.1:port", ready for TMailBase::SetServer.
    std::string Address() const { return "127.0.0.1:" + std::to_string(FServer.serverPort()); }
    // Every line received from the client, without its CR LF, as sent
    // (transparency dots included).
    const std::vector<std::string>& Received() const { return FReceived; }
    int Connections() const { return FConnections; }
    bool ClientClosed() const { return FClientClosed; }

private:
    void Accept();
    void Run();
    std::optional<std::string> TakeLine();   // a whole line received, recorded

    std::vector<std::string> FScript, FReceived;
    QTcpServer FServer;
    QPointer<QTcpSocket> FClient;
    std::size_t FStep = 0;
    std::string FPending;
    int FConnections = 0;
    bool FPaused = false, FHeld = false, FClientClosed = false;
};

// A port on 127.0.0.1 where nothing listens (connections are refused).
std::uint16_t ClosedPort();

// A port on 127.0.0.1 whose listener's accept queue is full, so that a
// further connect neither completes nor fails until it gives up; 0 when the
// kernel accepted every connection. The sockets stay open until the end.
std::uint16_t PendingPort();
