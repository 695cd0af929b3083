// TUUCode: one attachment file as the body lines of a uuencoded attachment.
//
// The caller writes the "begin 600 " line, the closing line (FTable[0]) and
// "end" around the lines. Every block of 45 input bytes becomes one line: the
// length character and 60 data characters. The last, short block gives the
// length character and (4n div 3 + 1) data characters; the values past its n
// bytes come from the previous block still in the buffer, and an input whose
// length is a multiple of 45 (the empty input too) ends with the line for a
// zero-byte block.
//
// Progress: OnProgress fires after every block and once more at the end with
// Progress 100. An empty input reports 100 throughout, having nothing left
// to do. A Cancel (Canceled set by a handler) stops after the current block
// and leaves Output empty.
#pragma once

#include "encoder.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class TUUCode : public TProgressEncoder {
public:
    // 45 bytes a line: the traditional uuencode line of 60 data characters,
    // whose length character is "M".
    static constexpr std::size_t BlockSize = 45;
    static constexpr std::size_t FullLineLength = 1 + BlockSize / 3 * 4;

    // Value 0 is the backquote (a space would be lost by mail gateways that
    // strip trailing blanks); 1..63 are "!" to "_" in code order.
    static constexpr std::string_view FTable =
        "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";

    using TBlock = std::array<std::uint8_t, BlockSize>;

    TUUCode(TStream& input, TStrings& output) : TProgressEncoder(input, output) {}

    // The line for a block of which the first `count` (0..45) bytes are new.
    std::string EncodeLine(const TBlock& block, std::size_t count) const;
    // Length of that line: 61 for a full block, 2 + 4n div 3 otherwise.
    static std::size_t LineLength(std::size_t count);

private:
    void EncodeInput() override;
    void ReserveOutput(std::uint64_t inputSize);
    void WriteLine(const std::uint8_t* block, std::size_t count, char* out) const;
};
