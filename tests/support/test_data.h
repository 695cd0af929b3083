// The data files of tests/data: whole files, the files of a folder, golden
// files, the escapes that case files use for bytes, and text helpers. Header-only and
// without Qt, so that the pure encoder tests can use it too.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

inline std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The files of tests/data/`folder` whose names end in `suffix`, sorted.
inline std::vector<std::filesystem::path> DataFiles(const std::string& folder, const std::string& suffix)
{
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(TESSALY_TEST_DATA) / folder))
        if (entry.path().string().ends_with(suffix))
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

// What `golden` holds; with TESSALY_UPDATE_GOLDEN set, `actual` is written
// there first, for the reviewer to check in the diff.
inline std::string Golden(const std::filesystem::path& golden, const std::string& actual)
{
    if (std::getenv("TESSALY_UPDATE_GOLDEN"))
        std::ofstream(golden, std::ios::binary) << actual;
    return ReadFile(golden);
}

// "\r", "\n", "\t", "\0", "\\" and "\xHH" in a line of a case file.
inline std::string Unescape(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = i + 1 < text.size() && text[i] == '\\' ? text[++i] : 0;
        if (c == 'x' && i + 2 < text.size() + 1)
            out += char(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16)), i += 2;
        else
            out += c == 0 ? text[i] : c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c == '0' ? '\0' : c;
    }
    return out;
}

inline std::string Repeat(const std::string& piece, int count)
{
    std::ostringstream text;
    std::fill_n(std::ostream_iterator<std::string>(text), count, piece);
    return text.str();
}

// The texts of `items`, blank separated.
template <class T, class F>
std::string Joined(const std::vector<T>& items, F text)
{
    std::string all;
    for (const auto& item : items)
        all += (all.empty() ? "" : " ") + text(item);
    return all;
}
