// tessaly-encode uu|b64|qp FILE
//
// Prints the lines that the mailer would send for FILE, each followed by
// CR LF, so that they can be compared with other implementations and timed.
#include "mime.h"
#include "streams.h"
#include "tstrings.h"
#include "uucode.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::string_view Usage =
    "Usage: tessaly-encode uu|b64|qp FILE\n"
    "Encodes FILE and prints the encoded lines, each followed by CR LF.\n"
    "  uu   uuencode body lines (without the begin, closing and end lines)\n"
    "  b64  base64 lines of 76 characters\n"
    "  qp   quoted-printable lines\n";

// Output goes out in large writes: one system call per megabyte.
constexpr std::size_t WriteBufferSize = 1 << 20;

void WriteAll(const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(STDOUT_FILENO, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw std::runtime_error(std::string("Cannot write the output. ") + std::strerror(errno));
        }
        data += n;
        size -= std::size_t(n);
    }
}

void PrintLines(const TStrings& lines)
{
    std::vector<char> buffer(WriteBufferSize);
    std::size_t used = 0;
    for (std::string_view line : lines) {
        if (used + line.size() + 2 > buffer.size()) {
            WriteAll(buffer.data(), used);
            used = 0;
            if (line.size() + 2 > buffer.size())
                buffer.resize(line.size() + 2);
        }
        std::memcpy(buffer.data() + used, line.data(), line.size());
        buffer[used + line.size()] = '\r';
        buffer[used + line.size() + 1] = '\n';
        used += line.size() + 2;
    }
    WriteAll(buffer.data(), used);
}

void EncodeFile(std::string_view kind, const std::string& fileName, TStrings& lines)
{
    TFileStream input(fileName);
    if (kind == "uu") {
        TUUCode(input, lines).Encode();
    } else if (kind == "b64") {
        TBase64(input, lines).Encode();
    } else {
        TQuotedPrintable(input, lines).Encode();
    }
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::cout << Usage;
        return 0;
    }
    if (args.size() != 2 || (args[0] != "uu" && args[0] != "b64" && args[0] != "qp")) {
        std::cerr << Usage;
        return 2;
    }
    try {
        TStrings lines;
        EncodeFile(args[0], std::string(args[1]), lines);
        PrintLines(lines);
    } catch (const std::exception& e) {
        std::cerr << "tessaly-encode: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
