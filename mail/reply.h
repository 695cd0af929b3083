// SMTP replies (RFC 5321 4.2) and the EHLO keywords, parsed from bytes as
// they arrive. Pure functions: no socket, no Qt, so that they can be tested
// and fuzzed alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct TCapabilities;

// One reply: the code of its last line and every line as received.
struct TReply {
    int Code = 0;
    std::vector<std::string> Lines;
    // "550 5.1.1 <x@y>: Recipient address rejected": the code and the text
    // of every line, joined by blanks, without the separators.
    std::string Text() const;
};

enum class TReplyState { Incomplete, Complete, Malformed };

struct TReplyScan {
    TReplyState State = TReplyState::Incomplete;
    std::size_t Consumed = 0;   // bytes of the input that the reply took
    TReply Reply;               // when Complete; the offending line when Malformed
};

// Reads the first reply from `input`. Lines end at LF (a CR before it is
// dropped). A line is three digits and then "-" (more lines follow), a blank
// and text, or nothing: a bare code completes a reply. A NUL byte or a lone
// CR inside a line is shown as a blank.
TReplyScan ParseReply(std::string_view input);

// The keywords of an EHLO reply (RFC 5321 4.1.1.1): STARTTLS (RFC 3207),
// AUTH (RFC 4954, also the older "AUTH=" form), SIZE (RFC 1870), 8BITMIME,
// SMTPUTF8 and PIPELINING. The first line is the greeting, not a keyword.
TCapabilities ParseCapabilities(const TReply& reply);

// "31.2 MB": bytes in decimal megabytes with one decimal, as mail
// providers state their limits ("800.0 kB" below a megabyte).
std::string Megabytes(std::uint64_t bytes);
