// The address-list reader: any file gives lines that each name something
// (not blank, no comment) and hold no line break or blanks at either end,
// in file order, and nothing is lost: the trimmed non-blank, non-comment
// lines of the file (after a UTF-8 byte-order mark) are exactly the lines
// read.
#include "fuzz_check.h"
#include "mailingrun.h"

#include <QFile>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {
std::vector<std::string> NamingLines(std::string_view data)
{
    if (data.starts_with("\xEF\xBB\xBF"))
        data.remove_prefix(3);
    std::vector<std::string> lines;
    std::string line;
    const auto keep = [&] {
        const auto first = line.find_first_not_of(" \t");
        if (first != std::string::npos && line[first] != '#')
            lines.push_back(line.substr(first, line.find_last_not_of(" \t") - first + 1));
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
    const std::vector<std::string> read = ReadAddressLines(path.toStdString());
    QFile::remove(path);
    FuzzCheck(read == NamingLines(std::string_view(reinterpret_cast<const char*>(data), size)),
              "the list read is not the file's naming lines");
    return 0;
}
