// The address-list reader: any file gives lines that each name something
// (not blank) and hold no line break, in file order, and nothing is lost:
// the non-blank lines of the file are exactly the lines read.
#include "fuzz_check.h"
#include "unit1.h"

#include <QFile>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {
std::vector<std::string> NonBlankLines(std::string_view data)
{
    std::vector<std::string> lines;
    std::string line;
    const auto keep = [&] {
        if (line.find_first_not_of(" \t") != std::string::npos)
            lines.push_back(line);
        line.clear();
    };
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (data[i] != '\r' && data[i] != '\n') {
            line += data[i];
            continue;
        }
        keep();
        if (data[i] == '\r' && i + 1 < data.size() && data[i + 1] == '\n')
            ++i;
    }
    keep();
    return lines;
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const QString path = QStringLiteral("/tmp/tessaly-fuzz-list-%1.txt").arg(::getpid());
    QFile file(path);
    FuzzCheck(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "cannot write the list file");
    file.write(reinterpret_cast<const char*>(data), qint64(size));
    file.close();
    const std::vector<std::string> read = ReadAddressLines(path);
    QFile::remove(path);
    FuzzCheck(read == NonBlankLines(std::string_view(reinterpret_cast<const char*>(data), size)),
              "the list read is not the file's non-blank lines");
    return 0;
}
