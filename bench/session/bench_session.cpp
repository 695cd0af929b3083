// Waits TimeOut seconds for the greeting of a server on 127.0.0.1 that
// accepts the connection and never answers, and prints the CPU time the
// client used meanwhile. The waits sleep in the event loop, so the figure
// should stay far below 2% of one core.
#include "smtp.h"

#include <QCoreApplication>

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int WaitSeconds = 5;
constexpr double TargetPercent = 2.0;

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Listens on 127.0.0.1; the kernel completes the handshake, nobody speaks.
int SilentListener(std::uint16_t& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd, 4);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::uint16_t port = 0;
    const int listener = SilentListener(port);
    TSMTP smtp;
    smtp.SetServer("127.0.0.1:" + std::to_string(port));
    smtp.SetTimeOut(WaitSeconds);
    smtp.OnStatusChange = [](QObject*) {};
    smtp.Open();
    const double cpuStart = CpuSeconds();
    const auto wallStart = std::chrono::steady_clock::now();
    std::string outcome = "answered";
    try {
        smtp.Login();
    } catch (const std::exception& e) {
        outcome = e.what();
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    const double cpu = CpuSeconds() - cpuStart;
    smtp.Close();
    ::close(listener);
    const double percent = 100.0 * cpu / wall;
    std::printf("wait for a silent server: %.2f s wall, %.4f s CPU = %.3f%% of one core (target < %.1f%%) [%s]\n",
                wall, cpu, percent, TargetPercent, outcome.c_str());
    return percent < TargetPercent ? 0 : 1;
}
