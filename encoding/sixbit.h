// Turning groups of three bytes into four characters of a 64-character
// alphabet (base64, RFC 2045 section 6.8; uuencode). Shared by the encoders.
//
// A table of all 4096 twelve-bit values gives two characters per lookup, so
// a group costs two loads and two stores instead of four of each. On x86-64
// processors with SSSE3, four groups at a time go through vector registers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

// The two alphabets that have a vector form.
enum class TSixBitAlphabet { Base64, UU };

using TCharPairs = std::array<std::array<char, 2>, 4096>;

inline char* EncodeGroupsScalar(const TCharPairs& pairs, const std::uint8_t* in, std::size_t groups, char* out)
{
    for (std::size_t g = 0; g < groups; ++g, in += 3, out += 4) {
        const std::uint32_t v = std::uint32_t(in[0]) << 16 | std::uint32_t(in[1]) << 8 | in[2];
        std::memcpy(out, pairs[v >> 12].data(), 2);
        std::memcpy(out + 2, pairs[v & 0xFFF].data(), 2);
    }
    return out;
}

// Set before main when the processor has the vector instructions; until
// then (and without them) the scalar loop runs.
extern const bool SixBitVectorAvailable;

// All `groups` groups, four at a time by vector instructions while at least
// 16 bytes of input remain readable, the rest by the table.
char* EncodeGroupsVector(TSixBitAlphabet alphabet, const TCharPairs& pairs, const std::uint8_t* in,
                         std::size_t groups, char* out);

class TPairTable {
public:
    constexpr TPairTable(std::string_view alphabet, TSixBitAlphabet kind) : FPairs{}, FKind(kind)
    {
        for (std::size_t v = 0; v < FPairs.size(); ++v) {
            FPairs[v][0] = alphabet[v >> 6];
            FPairs[v][1] = alphabet[v & 63];
        }
    }

    // Writes the four characters of each of `groups` three-byte groups.
    char* EncodeGroups(const std::uint8_t* in, std::size_t groups, char* out) const
    {
        if (SixBitVectorAvailable)
            return EncodeGroupsVector(FKind, FPairs, in, groups, out);
        return EncodeGroupsScalar(FPairs, in, groups, out);
    }

private:
    TCharPairs FPairs;
    TSixBitAlphabet FKind;
};
