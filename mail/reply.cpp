#include "reply.h"

#include "smtp.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// A reply line: three digits, then nothing or a separator.
bool IsReplyLine(std::string_view line)
{
    return line.size() >= 3 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]);
}

std::string Printable(std::string_view line)
{
    std::string text(line);
    std::replace(text.begin(), text.end(), '\0', ' ');
    std::replace(text.begin(), text.end(), '\r', ' ');
    return text;
}

std::string Upper(std::string_view word)
{
    std::string text(word);
    for (char& c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::vector<std::string> Words(std::string_view text)
{
    std::vector<std::string> words;
    std::size_t start = 0;
    while ((start = text.find_first_not_of(' ', start)) != std::string_view::npos) {
        const std::size_t end = std::min(text.find(' ', start), text.size());
        words.emplace_back(text.substr(start, end - start));
        start = end;
    }
    return words;
}

} // namespace

std::string TReply::Text() const
{
    std::string text = std::to_string(Code);
    text.insert(0, 3 - std::min<std::size_t>(3, text.size()), '0');   // "054" as the server wrote it
    for (const std::string& line : Lines)
        if (line.size() > 4)
            text += ' ' + line.substr(4);
    return text;
}

TReplyScan ParseReply(std::string_view input)
{
    TReplyScan scan;
    std::size_t start = 0;
    for (std::size_t end; (end = input.find('\n', start)) != std::string_view::npos; start = end + 1) {
        std::string_view line = input.substr(start, end - start);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        scan.Reply.Lines.push_back(Printable(line));
        if (!IsReplyLine(line)) {
            scan.State = TReplyState::Malformed;
            scan.Reply.Lines = {Printable(line)};
            scan.Consumed = end + 1;
            return scan;
        }
        if (line.size() == 3 || line[3] != '-') {
            scan.State = TReplyState::Complete;
            scan.Consumed = end + 1;
            std::from_chars(line.data(), line.data() + 3, scan.Reply.Code);
            return scan;
        }
    }
    scan.Reply.Lines.clear();
    return scan;
}

TCapabilities ParseCapabilities(const TReply& reply)
{
    TCapabilities caps;
    for (std::size_t i = 1; i < reply.Lines.size(); ++i) {
        const std::string_view line = reply.Lines[i];
        std::vector<std::string> words = Words(line.size() > 4 ? line.substr(4) : std::string_view());
        if (words.empty())
            continue;
        std::string keyword = Upper(words[0]);
        if (keyword.starts_with("AUTH=")) {   // the older form: "AUTH=LOGIN PLAIN"
            words[0] = keyword.substr(5);
            keyword = "AUTH";
        } else {
            words.erase(words.begin());
        }
        if (keyword == "STARTTLS")
            caps.StartTLS = true;
        else if (keyword == "8BITMIME")
            caps.EightBitMIME = true;
        else if (keyword == "SMTPUTF8")
            caps.SMTPUTF8 = true;
        else if (keyword == "PIPELINING")
            caps.Pipelining = true;
        else if (keyword == "SIZE") {
            caps.SizeExtension = true;
            if (!words.empty())
                std::from_chars(words[0].data(), words[0].data() + words[0].size(), caps.Size);
        } else if (keyword == "AUTH") {
            for (const std::string& word : words)
                if (!word.empty() && std::find(caps.AuthMechanisms.begin(), caps.AuthMechanisms.end(), Upper(word))
                                         == caps.AuthMechanisms.end())
                    caps.AuthMechanisms.push_back(Upper(word));
        }
    }
    return caps;
}

std::string Megabytes(std::uint64_t bytes)
{
    char text[32];
    if (bytes < 1000000)
        std::snprintf(text, sizeof text, "%.1f kB", double(bytes) / 1e3);
    else
        std::snprintf(text, sizeof text, "%.1f MB", double(bytes) / 1e6);
    return text;
}
