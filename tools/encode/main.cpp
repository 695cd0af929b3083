// tessaly-encode uu|b64|qp FILE
//
// Prints the lines that the mailer would send for FILE, each followed by
// CR LF, so that they can be compared with other implementations and timed.
//
// UU and base64 go through the encoder in windows of whole blocks (the
// output is the same, the memory bounded); --whole encodes the file into one
// line list, as the mailer does with an attachment.
#include "mime.h"
#include "streams.h"
#include "tstrings.h"
#include "uucode.h"

#include <algorithm>
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
    "Usage: tessaly-encode [--whole] uu|b64|qp FILE\n"
    "Encodes FILE and prints the encoded lines, each followed by CR LF.\n"
    "  uu       uuencode body lines (without the begin, closing and end lines)\n"
    "  b64      base64 lines of 76 characters\n"
    "  qp       quoted-printable lines\n"
    "  --whole  hold all lines of the file in memory before printing, as the\n"
    "           mailer does (uu and b64 otherwise go in windows of about 1 MiB)\n";

// Input lines per window: about 1 MiB of input.
constexpr std::size_t WindowLines = 16384;

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
    static std::vector<char> buffer(WriteBufferSize);   // kept: one buffer for all windows
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

// A stretch of another stream, seen as a stream of its own.
class TWindowStream : public TStream {
public:
    TWindowStream(TStream& base, std::uint64_t length) : FBase(base), FStart(base.Position()), FLength(length) {}
    std::size_t Read(void* buffer, std::size_t count) override
    {
        const std::uint64_t left = FLength - Position();
        return left == 0 ? 0 : FBase.Read(buffer, std::size_t(std::min<std::uint64_t>(count, left)));
    }
    std::uint64_t Size() const override { return FLength; }
    std::uint64_t Position() const override { return FBase.Position() - FStart; }
    void Seek(std::uint64_t position) override { FBase.Seek(FStart + position); }

private:
    TStream& FBase;
    std::uint64_t FStart;
    std::uint64_t FLength;
};

template <class TEncoder>
void Encode(TStream& input, TStrings& lines)
{
    TEncoder(input, lines).Encode();
}

// Windows of whole lines: every window but the last gives its lines and
// then the closing line of an input that is a multiple of the line size;
// that closing line is dropped. The last window keeps more than one block
// whenever the file does, so that its short block finds the tail of the
// block before it in the encoder's buffer.
template <class TEncoder>
void EncodeInWindows(TStream& input, std::size_t blockSize, TStrings& lines)
{
    const std::uint64_t window = std::uint64_t(blockSize) * WindowLines;
    while (RemainingBytes(input) > window + blockSize) {
        TWindowStream part(input, window);
        Encode<TEncoder>(part, lines);
        lines.Delete(lines.Count() - 1);
        PrintLines(lines);
    }
    Encode<TEncoder>(input, lines);
    PrintLines(lines);
}

void EncodeFile(std::string_view kind, const std::string& fileName, bool whole)
{
    TFileStream input(fileName);
    TStrings lines;
    if (kind == "qp") {
        Encode<TQuotedPrintable>(input, lines);
    } else if (whole) {
        kind == "uu" ? Encode<TUUCode>(input, lines) : Encode<TBase64>(input, lines);
    } else {
        kind == "uu" ? EncodeInWindows<TUUCode>(input, TUUCode::BlockSize, lines)
                     : EncodeInWindows<TBase64>(input, TBase64::LineBytes, lines);
        return;
    }
    PrintLines(lines);
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string_view> args(argv + 1, argv + argc);
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::cout << Usage;
        return 0;
    }
    const bool whole = !args.empty() && args[0] == "--whole";
    if (whole)
        args.erase(args.begin());
    if (args.size() != 2 || (args[0] != "uu" && args[0] != "b64" && args[0] != "qp")) {
        std::cerr << Usage;
        return 2;
    }
    try {
        EncodeFile(args[0], std::string(args[1]), whole);
    } catch (const std::exception& e) {
        std::cerr << "tessaly-encode: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
