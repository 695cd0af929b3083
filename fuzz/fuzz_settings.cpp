// The settings reader and writer: what is read, written back and read
// again must give every key its value unchanged, and a value written from
// scratch comes back whole or is refused.
#include "fuzz_check.h"
#include "profile.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {
using TKeyValues = std::vector<std::pair<std::string, std::string>>;

std::string Lower(std::string name)
{
    std::transform(name.begin(), name.end(), name.begin(), [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
    return name;
}

// Every (section, key) with the value the reader gives for it; names
// without letter case, as the reader matches them (a rewrite may spell a
// key as it was asked for).
std::vector<std::pair<std::string, TKeyValues>> Contents(const TIniFile& ini)
{
    std::vector<std::pair<std::string, TKeyValues>> contents;
    for (const std::string& section : ini.SectionNames()) {
        TKeyValues values;
        for (const std::string& key : ini.ReadSection(section))
            values.emplace_back(Lower(key), ini.ReadString(section, key, {}));
        contents.emplace_back(Lower(section), std::move(values));
    }
    return contents;
}

void RewriteEveryKey(std::string_view text)
{
    TIniFile ini = TIniFile::FromText("fuzz.ini", text);
    const auto before = Contents(ini);
    for (const std::string& section : ini.SectionNames())
        for (const std::string& key : ini.ReadSection(section))
            ini.WriteString(section, key, ini.ReadString(section, key, {}));
    const TIniFile again = TIniFile::FromText("fuzz.ini", ini.Text());
    FuzzCheck(Contents(again) == before, "a key changed on the way through the file");
}

void WriteOneValue(std::string_view value)
{
    TIniFile ini = TIniFile::FromText("fuzz.ini", "");
    std::string expected(value);
    std::replace_if(expected.begin(), expected.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    try {
        ini.WriteString("Setup", "Value", value);
    } catch (const EIniFileError&) {
        FuzzCheck(!FitsProfileValue(value), "a value that fits was refused");
        return;
    }
    FuzzCheck(FitsProfileValue(value), "a value that does not fit was written");
    const TIniFile again = TIniFile::FromText("fuzz.ini", ini.Text());
    FuzzCheck(again.ReadString("Setup", "Value", "?") == expected, "a written value came back changed");
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    RewriteEveryKey(text);
    WriteOneValue(text);
    return 0;
}
