// The next CR or LF at or after a position of a chunk, remembering where
// each was last found so that each byte is searched once: a long text with
// rare breaks costs one memchr pass per kind of break, not one per line.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>

class TBreakFinder {
public:
    TBreakFinder(const char* data, std::size_t size) : FData(data), FSize(size) {}
    std::size_t Next(std::size_t pos) { return std::min(Find('\r', FCR, pos), Find('\n', FLF, pos)); }

private:
    std::size_t Find(char c, std::ptrdiff_t& cache, std::size_t pos)
    {
        if (cache < std::ptrdiff_t(pos)) {
            const void* hit = std::memchr(FData + pos, c, FSize - pos);
            cache = hit ? static_cast<const char*>(hit) - FData : std::ptrdiff_t(FSize);
        }
        return std::size_t(cache);
    }
    const char* FData;
    std::size_t FSize;
    std::ptrdiff_t FCR = -1, FLF = -1;   // -1: not searched yet
};
