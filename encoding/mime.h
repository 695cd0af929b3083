// The MIME encoders and lookups: base64 (RFC 2045 section 6.8),
// quoted-printable (RFC 2045 section 6.7), the content type of a file, and
// the boundary between the parts of a multipart message (RFC 2046).
#pragma once

#include "encoder.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>

// Raised by the quoted-printable encoder for an overlong input line.
class EMIMEError : public std::runtime_error {
public:
    EMIMEError() : std::runtime_error("Paragraph is too large") {}
};

// TBase64: one attachment as the data lines of a base64 part.
//
// Every line holds 76 characters (57 input bytes), the line length limit of
// RFC 2045; the rest line follows, also when it is empty (input length a
// multiple of 57, the empty input included). OnProgress fires whenever the
// bytes consumed reach a multiple of (size div 100, at least 1) and once
// more at the end with Progress 100. A Cancel stops at once and leaves
// Output empty. The input is read in chunks; only the encoded lines are held.
class TBase64 : public TProgressEncoder {
public:
    static constexpr std::size_t LineBytes = 57;
    static constexpr std::size_t LineLength = LineBytes / 3 * 4;   // 76
    static constexpr std::string_view Alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

    TBase64(TStream& input, TStrings& output) : TProgressEncoder(input, output) {}

private:
    void EncodeInput() override;
    void AddBytes(const std::uint8_t* bytes, std::size_t count);
    void AddRestLine();

    std::array<std::uint8_t, LineBytes> FCarry{};   // bytes of the line in progress
    std::size_t FCarryCount = 0;
};

// TQuotedPrintable: text as quoted-printable lines, appended to Output.
//
// Each CR LF, lone CR and lone LF of the input ends one line (so blank lines
// survive); a break at the very end ends the last line, and input that does
// not end with a break (the empty input too) has its last encoded line end
// with the soft line break "=", so decoding adds nothing. Lines are wrapped
// at spaces into pieces of at most 65 input characters, each continued with
// "=". Control characters (TAB and NUL included), "=", DEL and bytes
// 0x80..0xFF are escaped as "=XX"; a space that would end a line before a
// hard break is written "=20" (RFC 2045 rule 3), other spaces stay. A piece
// whose escapes would make its line longer than 76 characters is cut
// before the escape that would pass 75, plus the soft break.
class TQuotedPrintable {
public:
    // Input characters per encoded line before escapes: with up to five
    // escapes a line stays within the 76 characters of RFC 2045; pieces
    // with more are cut further.
    static constexpr std::size_t WrapWidth = 65;
    // The longest input line taken (a 24576-byte line buffer with room for a
    // terminating zero); longer ones are not text and raise EMIMEError.
    static constexpr std::size_t MaxLineLength = 24575;

    TQuotedPrintable(TStream& input, TStrings& output) : FInput(input), FOutput(output) {}
    TQuotedPrintable(const TQuotedPrintable&) = delete;
    TQuotedPrintable& operator=(const TQuotedPrintable&) = delete;

    // Encodes the input from its position to its end, appending to Output;
    // stops after the current line when Canceled is set. Raises EMIMEError
    // for a line of more than MaxLineLength characters (the lines before it
    // stay in Output) and EReadError when the input cannot be read.
    void Encode();

    // Replaces `pieces` with the encoded lines of one input line (without
    // its break) that ends with a hard line break.
    static void WrapLine(std::string_view line, std::size_t width, TStrings& pieces);
    // Replaces every byte of `piece` that must be escaped by its escape.
    static void EscapeLine(std::string& piece);

    bool Canceled = false;
    TProcessMessages ProcessMessages;   // may be empty

private:
    TStream& FInput;
    TStrings& FOutput;
};

// Content types by file-name extension, in the format of mime.types(5):
// a type followed by its extensions, "#" starting a comment.
class TContentTypeTable {
public:
    TContentTypeTable() = default;
    static TContentTypeTable Parse(std::string_view mimeTypesText);
    // The table of a file; an empty table when it cannot be read.
    static TContentTypeTable Load(const std::string& fileName);

    // The type of a dotted extension (".txt"), letter case ignored; empty
    // when there is none.
    std::string_view Find(std::string_view dottedExtension) const;
    std::size_t Count() const { return FTypes.size(); }

private:
    std::unordered_map<std::string, std::string> FTypes;   // lower-case extension without the dot
};

inline constexpr std::string_view DefaultContentType = "application/octet-stream";
inline constexpr const char* SystemMimeTypesFile = "/etc/mime.types";

// The extension of the last path component ("/" ends a component; a
// backslash or colon is an ordinary character), from its last "." on, the
// dot included; empty when that component has no dot.
std::string_view FileExtension(std::string_view fileName);

// The content type of a file by its extension, never empty: the type from
// the table, or DefaultContentType. The first call without a table reads
// SystemMimeTypesFile unless SetContentTypeTable has given one.
std::string GetContentType(std::string_view fileName);
std::string GetContentType(std::string_view fileName, const TContentTypeTable& table);
// Replaces the table that GetContentType(fileName) uses.
void SetContentTypeTable(TContentTypeTable table);
void SetContentTypeTable(std::string_view mimeTypesText);

// Eight digits "0".."8": the pseudo-random generator is seeded from the
// milliseconds since local midnight on every call, so two calls within the
// same millisecond give the same boundary.
inline constexpr std::size_t BoundaryLength = 8;
std::string MakeBoundary();
std::string MakeBoundary(std::uint32_t millisecondsSinceMidnight);
std::uint32_t MillisecondsSinceMidnight();
