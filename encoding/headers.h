// Header values of an Internet message: encoded words (RFC 2047), quoted
// display names and folding (RFC 5322), parameter values of attachments
// (RFC 2231), the Date and Message-ID fields (RFC 5322 3.6.1, 3.6.4).
//
// Text comes in as UTF-8; every line that comes out is ASCII. A header
// made of several lines is returned as its lines, the continuation lines
// beginning with a blank (folding white space).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

using THeaderLines = std::vector<std::string>;

// RFC 5322 2.1.1: no line may exceed 998 octets.
inline constexpr std::size_t MaxHeaderLine = 998;
// RFC 2047 2: a line that holds an encoded word stays within 76 characters
// (inside the 78 columns that RFC 5322 asks for every line).
inline constexpr std::size_t EncodedLineWidth = 76;
// RFC 2047 2: an encoded word is at most 75 characters long.
inline constexpr std::size_t MaxEncodedWord = 75;
// RFC 5322 2.1.1: lines should stay within 78 columns.
inline constexpr std::size_t FoldWidth = 78;

bool IsAscii(std::string_view text);

// Whether `text` must go as encoded words: it is not ASCII, holds a control
// character or a "=?" that a reader would take for the start of one.
bool NeedsEncoding(std::string_view text);

// `text` (UTF-8) as encoded words "=?utf-8?B?...?=" or "=?utf-8?Q?...?=",
// whichever makes the shorter whole. The first word is at most `firstWidth`
// characters, every other one at most `width` (each at most 75); no UTF-8
// sequence is split between two words. Q uses only the characters that
// RFC 2047 5(3) allows in a phrase, so the words serve anywhere.
std::vector<std::string> EncodeWords(std::string_view text, std::size_t firstWidth, std::size_t width);

// `head` followed by the encoded words of `text`, one per line, and `tail`
// after the last word; every line within EncodedLineWidth.
THeaderLines FoldEncoded(std::string_view head, std::string_view text, std::string_view tail = {});

// The RFC 5322 specials that a display name cannot hold bare.
bool HasSpecials(std::string_view name);
// `name` as a quoted-string: '"' and '\' escaped, the whole in quotes.
std::string QuoteDisplayName(std::string_view name);

// One mailbox field: `head` + display name + "<" + address + ">" + `tail`.
// An ASCII name stays as it is (quoted when it holds specials); any other
// name goes as encoded words, folded, with the address after a blank.
THeaderLines MailboxLines(std::string_view head, std::string_view name, std::string_view address,
                          std::string_view tail = {});

// An unstructured field such as Subject: one line as it is when it needs no
// encoding and fits MaxHeaderLine, encoded words otherwise.
THeaderLines TextLines(std::string_view head, std::string_view text);

// A file-name parameter `name` of value `value` (UTF-8) after `head`
// ("Content-Disposition: attachment;"), RFC 2231: `name*=utf-8''...` on the
// head's line when it fits FoldWidth, else continued as `name*0*=`,
// `name*1*=`... on lines of their own.
THeaderLines Rfc2231Lines(std::string_view head, std::string_view name, std::string_view value);

// The date-time of RFC 5322 3.3, "Sun, 06 Dec 2026 23:41:07 +0100".
struct TDateTimeFields {
    int Year, Month, Day;        // Month 1..12
    int Hour, Minute, Second;
    int DayOfWeek;               // 1 = Monday .. 7 = Sunday (ISO 8601)
    int OffsetSeconds;           // local time minus UTC
};
std::string FormatDate(const TDateTimeFields& time);

// "<" + the random bytes in hexadecimal + "@" + domain + ">"; the domain
// "localhost.invalid" (RFC 2606) stands in when `domain` is empty or not a
// plain ASCII dot-atom.
std::string MessageId(std::span<const unsigned char> random, std::string_view domain);
inline constexpr std::string_view NoDomain = "localhost.invalid";
