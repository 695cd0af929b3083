// mailto: links (RFC 6068) handed to the program by the desktop, and the
// "Name <address>" form in which the window shows address values.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What a link asks for. Addresses are address values ("address" or
// "address|name"); attachments are local paths.
struct TMailtoLink {
    std::vector<std::string> To, CC, BCC;
    std::optional<std::string> Subject;          // one line
    std::optional<std::vector<std::string>> Body; // its lines
    std::vector<std::string> Attachments;

    // Appends the fields of `other`; a subject or text this link has
    // already is kept.
    void Merge(const TMailtoLink& other);
};

// Whether `text` is a mailto: URL (the scheme is case-insensitive).
bool IsMailtoUrl(std::string_view text);

// Parses a mailto: URL. The addresses before "?" and those of the fields
// "to", "cc" and "bcc" are comma-separated lists; "subject", "body" and
// "attach"/"attachment" (the extension that desktop mail helpers use for
// files) are taken once each, repeated "attach" fields all count. Field
// names are case-insensitive; unknown fields are ignored. Every part is
// percent-decoded (UTF-8); "+" stays a plus. A CR, LF or NUL in the subject
// becomes a blank, as in every other header line; an address that holds
// one is dropped, so a link cannot inject header lines or commands.
TMailtoLink ParseMailto(std::string_view url);

// %XX sequences decoded; a "%" not followed by two hex digits stays.
std::string PercentDecode(std::string_view text);

// "file:///p%20q" and "file://localhost/p" -> "/p q"; any other text is
// returned as it is. Desktops pass files as such URLs (the launcher's %U).
std::string LocalPathFromArgument(std::string_view text);

// "a@x.org|Ann Lee" -> "Ann Lee <a@x.org>"; a value without a name is
// shown as it is.
std::string DisplayAddress(std::string_view value);
// The reverse: "Ann Lee <a@x.org>" -> "a@x.org|Ann Lee"; text that is not
// of that form is returned as it is.
std::string StoredAddress(std::string_view shown);
