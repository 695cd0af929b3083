#include "mailto.h"

#include "mailingrun.h"

#include <algorithm>
#include <cctype>

namespace {
constexpr std::string_view kScheme = "mailto:";
constexpr std::string_view kFileScheme = "file://";
constexpr std::string_view kLocalHost = "localhost";
constexpr std::string_view kBreaks("\r\n\0", 3);

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size()
        && std::equal(prefix.begin(), prefix.end(), text.begin(),
                      [](char a, char b) { return std::tolower((unsigned char)a) == std::tolower((unsigned char)b); });
}

std::string Lower(std::string text)
{
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = char(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// A comma inside a quoted display name ("Lee, Ann" <a@x.org>) separates
// nothing.
std::size_t CommaOutsideQuotes(std::string_view text)
{
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '"')
            quoted = !quoted;
        else if (text[i] == ',' && !quoted)
            return i;
    }
    return std::string_view::npos;
}

// Each comma-separated, decoded address; one holding a line break or NUL
// is dropped whole rather than mended.
void AddAddresses(std::string_view list, std::vector<std::string>& to)
{
    const std::string decoded = PercentDecode(list);
    std::string_view rest = decoded;
    for (;;) {
        const auto comma = CommaOutsideQuotes(rest);
        const std::string one = Trim(rest.substr(0, comma));
        if (!one.empty() && one.find_first_of(kBreaks) == std::string_view::npos)
            to.push_back(StoredAddress(one));
        if (comma == std::string_view::npos)
            break;
        rest.remove_prefix(comma + 1);
    }
}

void TakeField(const std::string& name, std::string_view value, TMailtoLink& link)
{
    if (name == "to")
        AddAddresses(value, link.To);
    else if (name == "cc")
        AddAddresses(value, link.CC);
    else if (name == "bcc")
        AddAddresses(value, link.BCC);
    else if (name == "subject" && !link.Subject) {
        std::string subject = PercentDecode(value);
        std::replace_if(subject.begin(), subject.end(), [](char c) { return kBreaks.find(c) != kBreaks.npos; }, ' ');
        link.Subject = subject;
    } else if (name == "body" && !link.Body)
        link.Body = SplitLines(PercentDecode(value));
    else if ((name == "attach" || name == "attachment") && !value.empty())
        link.Attachments.push_back(LocalPathFromArgument(PercentDecode(value)));
}
}

void TMailtoLink::Merge(const TMailtoLink& other)
{
    To.insert(To.end(), other.To.begin(), other.To.end());
    CC.insert(CC.end(), other.CC.begin(), other.CC.end());
    BCC.insert(BCC.end(), other.BCC.begin(), other.BCC.end());
    Attachments.insert(Attachments.end(), other.Attachments.begin(), other.Attachments.end());
    if (!Subject)
        Subject = other.Subject;
    if (!Body)
        Body = other.Body;
}

bool IsMailtoUrl(std::string_view text)
{
    return StartsWithNoCase(text, kScheme);
}

TMailtoLink ParseMailto(std::string_view url)
{
    TMailtoLink link;
    if (!IsMailtoUrl(url))
        return link;
    url.remove_prefix(kScheme.size());
    // A fragment is no part of a mailto: link.
    url = url.substr(0, url.find('#'));
    const auto question = url.find('?');
    AddAddresses(url.substr(0, question), link.To);
    std::string_view query = question == std::string_view::npos ? std::string_view() : url.substr(question + 1);
    while (!query.empty()) {
        const auto amp = query.find('&');
        const std::string_view field = query.substr(0, amp);
        const auto equals = field.find('=');
        if (equals != std::string_view::npos)
            TakeField(Lower(PercentDecode(field.substr(0, equals))), field.substr(equals + 1), link);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    }
    return link;
}

std::string PercentDecode(std::string_view text)
{
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const int high = text[i] == '%' && i + 2 < text.size() ? HexValue(text[i + 1]) : -1;
        const int low = high >= 0 ? HexValue(text[i + 2]) : -1;
        if (low < 0) {
            decoded += text[i];
            continue;
        }
        decoded += char(high * 16 + low);
        i += 2;
    }
    return decoded;
}

std::string LocalPathFromArgument(std::string_view text)
{
    if (!StartsWithNoCase(text, kFileScheme))
        return std::string(text);
    std::string_view rest = text.substr(kFileScheme.size());
    if (StartsWithNoCase(rest, kLocalHost))
        rest.remove_prefix(kLocalHost.size());
    // Only local files: a URL naming another host is no path here.
    if (rest.empty() || rest.front() != '/')
        return std::string(text);
    return PercentDecode(rest);
}

std::string DisplayAddress(std::string_view value)
{
    const auto bar = value.find('|');
    if (bar == std::string_view::npos || bar + 1 == value.size())
        return std::string(value.substr(0, bar));
    return std::string(value.substr(bar + 1)) + " <" + std::string(value.substr(0, bar)) + ">";
}

std::string StoredAddress(std::string_view shown)
{
    const std::string text = Trim(shown);
    const auto open = text.rfind('<');
    if (text.empty() || text.back() != '>' || open == std::string_view::npos)
        return std::string(shown);
    const std::string address = Trim(std::string_view(text).substr(open + 1, text.size() - open - 2));
    std::string name = Trim(std::string_view(text).substr(0, open));
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
        name = name.substr(1, name.size() - 2);
    return name.empty() ? address : address + "|" + name;
}
