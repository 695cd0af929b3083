// bench_send_tls SINK [RUNS]: one 50 MiB attachment over STARTTLS to a local
// TLS sink (the tls_sink program), beside the same message in the clear to the same sink,
// alternating, RUNS times each (3 by default). Prints the median wall times
// and their ratio against the target: TLS at most 1.3 times the clear.
#include "smtp.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <unistd.h>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr std::size_t AttachmentBytes = 50u << 20;
constexpr double TargetRatio = 1.3;
constexpr int WaitMilliseconds = 20000;

std::string MakeFile(const QTemporaryDir& dir)
{
    const std::string path = dir.filePath("big.bin").toStdString();
    std::mt19937_64 random(42);
    std::vector<std::uint64_t> words(AttachmentBytes / 8);
    for (auto& word : words)
        word = random();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(words.data()), AttachmentBytes);
    return path;
}

// The client's own processor time, user and system: steadier than the wall
// clock on a loaded machine.
double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The sink's processor time, from /proc (clock ticks).
double ProcessSeconds(qint64 pid)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(file)), {});
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i >= 14)
            ticks += std::stod(field);
    return ticks / double(sysconf(_SC_CLK_TCK));
}

double Send(std::uint16_t port, const std::string& file, const std::string& ca, TSecurity security, double& cpuUsed)
{
    TSMTP smtp;
    smtp.SetServer("localhost:" + std::to_string(port));
    smtp.SetFrom("bench@example.org");
    smtp.SetRecipient("sink@example.net");
    smtp.SetSubject("bench");
    smtp.SetBody(TStrings{"Benchmark message."});
    smtp.SetAttachments(TStrings{file});
    smtp.SetSecurity(security);
    smtp.SetCAFile(ca);
    smtp.SetShowResult(false);
    smtp.OnStatusChange = [](QObject*) {};
    const double cpu = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    smtp.Open();
    smtp.Login();
    smtp.Transmit();
    smtp.Logout();
    smtp.Close();
    if (security == secSTARTTLS && !smtp.Encrypted())
        throw std::runtime_error("the session was not encrypted");
    cpuUsed = CpuSeconds() - cpu;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_send_tls PATH/TO/tls_sink [RUNS]\n");
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    QTemporaryDir dir;
    const std::string d = dir.path().toStdString();
    const std::string make = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -keyout "
                             + d + "/sink.key -out " + d + "/sink.pem -subj /CN=localhost"
                             + " -addext subjectAltName=DNS:localhost 2>/dev/null";
    if (std::system(make.c_str()) != 0) {
        std::fprintf(stderr, "openssl could not make the sink's certificate\n");
        return 1;
    }
    QProcess sink;
    sink.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sink.start(argv[1], {QString::fromStdString(d + "/sink.pem"), QString::fromStdString(d + "/sink.key")});
    if (!sink.waitForReadyRead(WaitMilliseconds)) {
        std::fprintf(stderr, "the TLS sink did not start\n");
        return 1;
    }
    const std::uint16_t port = std::uint16_t(sink.readLine().trimmed().mid(5).toUInt());
    const std::string file = MakeFile(dir);
    std::vector<double> clear, tls, clearCpu(runs), tlsCpu(runs), clearSink, tlsSink;
    try {
        for (int i = 0; i < runs; ++i) {
            double before = ProcessSeconds(sink.processId());
            clear.push_back(Send(port, file, d + "/sink.pem", secNone, clearCpu[i]));
            clearSink.push_back(ProcessSeconds(sink.processId()) - before);
            before = ProcessSeconds(sink.processId());
            tls.push_back(Send(port, file, d + "/sink.pem", secSTARTTLS, tlsCpu[i]));
            tlsSink.push_back(ProcessSeconds(sink.processId()) - before);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "send failed: %s\n", e.what());
        return 1;
    }
    sink.kill();
    sink.waitForFinished(WaitMilliseconds);
    const double ratio = Median(tls) / Median(clear);
    std::printf("\n== TLS: one 50 MiB attachment, median of %d runs, side by side ==\n", runs);
    std::printf("%-28s %9s %9s %9s\n", "sender", "wall s", "cpu s", "sink cpu");
    std::printf("%-28s %9.2f %9.2f %9.2f\n", "tessaly plain", Median(clear), Median(clearCpu), Median(clearSink));
    std::printf("%-28s %9.2f %9.2f %9.2f\n", "tessaly STARTTLS", Median(tls), Median(tlsCpu), Median(tlsSink));
    std::printf("STARTTLS / plain : %5.2f   (target <= %.1f); client processor time %5.2f\n", ratio, TargetRatio,
                Median(tlsCpu) / Median(clearCpu));
    return 0;
}
