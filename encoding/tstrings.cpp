#include "tstrings.h"

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// A large reserved list (an encoded attachment of many megabytes) is filled
// once from start to end; backing it with transparent huge pages spares
// hundreds of thousands of page faults. Below this size it is not worth it.
constexpr std::size_t HugePageAdviceMinimum = std::size_t(8) << 20;

void AdviseHugePages(const void* data, std::size_t bytes)
{
    if (bytes < HugePageAdviceMinimum)
        return;
    const auto page = std::uintptr_t(::sysconf(_SC_PAGESIZE));
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t begin = (start + page - 1) & ~(page - 1);
    const std::uintptr_t end = (start + bytes) & ~(page - 1);
    if (end > begin)
        ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);   // advice only
}

} // namespace

TStrings::TStrings(std::initializer_list<std::string_view> lines)
{
    for (auto line : lines)
        Add(line);
}

std::string_view TStrings::operator[](std::size_t index) const
{
    if (index >= FEnds.size())
        throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
    const std::size_t start = StartOf(index);
    return std::string_view(FBuffer.data() + start, FEnds[index] - start);
}

void TStrings::Add(std::string_view line)
{
    FBuffer.append(line);
    FEnds.push_back(FBuffer.size());
}

void TStrings::Insert(std::size_t index, std::string_view line)
{
    if (index > FEnds.size())
        throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
    if (index == FEnds.size()) {
        Add(line);
        return;
    }
    const std::size_t start = StartOf(index);
    FBuffer.insert(start, line);
    FEnds.insert(FEnds.begin() + std::ptrdiff_t(index), start + line.size());
    for (std::size_t i = index + 1; i < FEnds.size(); ++i)
        FEnds[i] += line.size();
}

void TStrings::Put(std::size_t index, std::string_view line)
{
    const std::string copy(line);   // `line` may point into this list
    Delete(index);
    Insert(index, copy);
}

void TStrings::Delete(std::size_t index)
{
    if (index >= FEnds.size())
        throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
    const std::size_t start = StartOf(index);
    const std::size_t length = FEnds[index] - start;
    FBuffer.erase(start, length);
    FEnds.erase(FEnds.begin() + std::ptrdiff_t(index));
    for (std::size_t i = index; i < FEnds.size(); ++i)
        FEnds[i] -= length;
}

void TStrings::Clear()
{
    FBuffer.clear();
    FEnds.clear();
}

void TStrings::AddStrings(const TStrings& other)
{
    if (this == &other) {
        const TStrings copy = other;
        AddStrings(copy);
        return;
    }
    const std::size_t base = FBuffer.size();
    FBuffer.append(other.FBuffer);
    FEnds.reserve(FEnds.size() + other.FEnds.size());
    for (std::size_t end : other.FEnds)
        FEnds.push_back(base + end);
}

void TStrings::Reserve(std::size_t characters, std::size_t lines)
{
    FBuffer.reserve(FBuffer.size() + characters);
    FEnds.reserve(FEnds.size() + lines);
    AdviseHugePages(FBuffer.data(), FBuffer.capacity());
    AdviseHugePages(FEnds.data(), FEnds.capacity() * sizeof(std::size_t));
}

void TStrings::ShrinkToFit()
{
    FBuffer.shrink_to_fit();
    FEnds.shrink_to_fit();
}

std::string TStrings::Text() const
{
    std::string text;
    text.reserve(FBuffer.size() + 2 * FEnds.size());
    for (auto line : *this) {
        text.append(line);
        text.append("\r\n");
    }
    return text;
}

std::size_t TStrings::MemoryUsage() const
{
    return FBuffer.capacity() + FEnds.capacity() * sizeof(std::size_t);
}

bool TStrings::operator==(const TStrings& other) const
{
    return FBuffer == other.FBuffer && FEnds == other.FEnds;
}

std::vector<std::string> TStrings::ToVector() const
{
    std::vector<std::string> lines;
    lines.reserve(Count());
    for (auto line : *this)
        lines.emplace_back(line);
    return lines;
}
