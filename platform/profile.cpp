#include "profile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kBlanks = " \t";
// A 32-bit number has at most 8 hexadecimal digits.
constexpr std::size_t kMaxHexDigits = 8;

std::string_view Trim(std::string_view text)
{
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool ParseHex(std::string_view digits, std::uint32_t& value)
{
    const auto significant = digits.find_first_not_of('0');
    if (digits.empty() || (significant != std::string_view::npos && digits.size() - significant > kMaxHexDigits))
        return false;
    value = 0;
    for (char c : digits) {
        const int d = HexDigit(c);
        if (d < 0)
            return false;
        value = (value << 4) | std::uint32_t(d);
    }
    return true;
}

bool ParseDecimal(std::string_view digits, bool negative, std::int32_t& value)
{
    if (digits.empty())
        return false;
    const std::int64_t limit = negative ? -std::int64_t(std::numeric_limits<std::int32_t>::min())
                                        : std::numeric_limits<std::int32_t>::max();
    std::int64_t magnitude = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > limit)
            return false;
    }
    value = std::int32_t(negative ? -magnitude : magnitude);
    return true;
}

// A header line "[name]": the name between the brackets, blanks dropped.
bool IsHeader(std::string_view line, std::string& name)
{
    const std::string_view text = Trim(line);
    if (text.empty() || text.front() != '[')
        return false;
    const auto close = text.find(']');
    name = std::string(Trim(text.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1)));
    return true;
}

bool IsComment(std::string_view line)
{
    const std::string_view text = Trim(line);
    return !text.empty() && (text.front() == ';' || text.front() == '#');
}

// A value goes on one line: line breaks inside it become blanks.
std::string OneLine(std::string_view value)
{
    std::string text(value);
    std::replace_if(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return text;
}

// Splits at CR LF, a lone LF or a lone CR.
std::vector<std::string_view> SplitLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
    }
    return lines;
}

std::string UnableToWrite(const std::string& fileName, const std::string& reason)
{
    return "Unable to write to " + fileName + ": " + reason;
}

// ---- replacing a file whole ------------------------------------------------
// How many temporary names are tried before giving up.
constexpr int kTemporaryNameAttempts = 100;

bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes.remove_prefix(std::size_t(written));
    }
    return true;
}

// Symbolic links followed before a save gives up: the system's own bound.
constexpr int kMaxLinkHops = 40;

std::string FolderOfPath(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

// The file that a save really replaces: the target of a symbolic link,
// followed link by link so that a link whose target does not exist yet
// names the file to create (realpath() gives up on it).
std::string ResolvedTarget(const std::string& fileName)
{
    std::string path = fileName;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved))
            return resolved;
        char link[PATH_MAX];
        const ssize_t size = ::readlink(path.c_str(), link, sizeof link - 1);
        if (size <= 0)
            return path;
        const std::string target(link, std::size_t(size));
        path = target.front() == '/' ? target : FolderOfPath(path) + "/" + target;
    }
    return path;
}

// Creates a new file beside `target`; returns its descriptor or -1.
int CreateTemporaryBeside(const std::string& target, std::string& temporary)
{
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        temporary = target + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

void SyncFolderOf(const std::string& target)
{
    const int fd = ::open(FolderOfPath(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}

int FileReplaceRefusal(const std::string& fileName)
{
    struct stat info {};
    if (::stat(fileName.c_str(), &info) != 0)
        return errno;
    if (S_ISDIR(info.st_mode))
        return EISDIR;
    if (!S_ISREG(info.st_mode))
        return EINVAL;
    // Without a single write bit the file is read-only for everybody:
    // root's access() would say yes all the same.
    if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        return EACCES;
    return ::access(fileName.c_str(), W_OK) == 0 ? 0 : errno;
}

namespace {
// Writes the temporary file and renames it over `target`; 0 or the error.
int WriteAndRename(const std::string& target, std::string_view bytes, const struct stat* old)
{
    std::string temporary;
    const int fd = CreateTemporaryBeside(target, temporary);
    if (fd < 0)
        return errno;
    int error = WriteAll(fd, bytes) ? 0 : (errno ? errno : EIO);
    if (!error && old && ::fchmod(fd, old->st_mode & 07777) != 0)
        error = errno;
    if (!error && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && !error)
        error = errno;
    if (!error && ::rename(temporary.c_str(), target.c_str()) != 0)
        error = errno;
    if (error)
        ::unlink(temporary.c_str());
    return error;
}
}

bool ReplaceFileAtomically(const std::string& fileName, std::string_view bytes, int* error)
{
    const std::string target = ResolvedTarget(fileName);
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    int failure = exists ? FileReplaceRefusal(target) : 0;
    if (!failure)
        failure = WriteAndRename(target, bytes, exists ? &old : nullptr);
    if (error)
        *error = failure;
    if (failure)
        return false;
    SyncFolderOf(target);
    return true;
}

namespace {
// Where the character after the first `count` characters of `text` begins.
std::size_t CharacterOffset(std::string_view text, std::size_t count)
{
    // A UTF-8 sequence is a lead byte and at most three continuation bytes.
    constexpr int kMaxContinuation = 3;
    std::size_t at = 0;
    for (std::size_t n = 0; n < count && at < text.size(); ++n) {
        const auto lead = static_cast<unsigned char>(text[at++]);
        for (int i = 0; lead >= 0xC0 && i < kMaxContinuation && at < text.size()
                        && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80; ++i)
            ++at;
    }
    return at;
}

std::string_view Unquoted(std::string_view raw)
{
    std::string_view value = Trim(raw);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return value;
}
}

bool FitsProfileValue(std::string_view value)
{
    return CharacterOffset(value, kMaxProfileValue) == value.size();
}

std::string ProfileValue(std::string_view raw)
{
    const std::string_view value = Unquoted(raw);
    return std::string(value.substr(0, CharacterOffset(value, kMaxProfileValue)));
}

std::string ProfileText(std::string_view value)
{
    if (Unquoted(value) == value)
        return std::string(value);
    // The reader drops exactly one enclosing pair and nothing inside it.
    return "\"" + std::string(value) + "\"";
}

bool ParseProfileInteger(std::string_view text, std::int32_t& value)
{
    text = Trim(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    std::string_view hex;
    bool isHex = false;
    if (!text.empty() && text.front() == '$') {
        hex = text.substr(1);
        isHex = true;
    } else if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        hex = text.substr(2);
        isHex = true;
    }
    if (!isHex)
        return ParseDecimal(text, negative, value);
    std::uint32_t pattern = 0;
    if (!ParseHex(hex, pattern))
        return false;
    // The digits are a 32-bit pattern: 0x80000005 is the negative number
    // that a colour reference is stored as.
    value = std::int32_t(negative ? 0u - pattern : pattern);
    return true;
}

bool SameProfileName(std::string_view a, std::string_view b)
{
    return a.size() == b.size()
        && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

namespace {
// The whole file, or the error number that kept it from being read
// (ENOENT when there is no file).
int ReadFileBytes(const std::string& fileName, std::string& bytes)
{
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    char buffer[65536];
    int error = 0;
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            error = got < 0 ? errno : 0;
            break;
        }
        bytes.append(buffer, std::size_t(got));
    }
    ::close(fd);
    return error;
}
}

TIniFile::TIniFile(std::string fileName) : FFileName(std::move(fileName))
{
    FSections.push_back(TSection{});
    std::string bytes;
    const int error = ReadFileBytes(FFileName, bytes);
    // A dangling link or a missing folder reads as no file; the save says
    // what is wrong with it.
    if (error == ENOENT || error == ENOTDIR)
        return;
    if (error) {
        FReadFailed = true;
        FReadError = error;
        return;
    }
    Parse(bytes);
}

TIniFile TIniFile::FromText(std::string fileName, std::string_view text)
{
    TIniFile ini(std::string{});
    ini.FFileName = std::move(fileName);
    ini.Parse(text);
    return ini;
}

void TIniFile::Parse(std::string_view text)
{
    // A UTF-8 byte order mark written by an editor is not part of the first line.
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark)
        text.remove_prefix(kByteOrderMark.size());
    for (std::string_view raw : SplitLines(text)) {
        std::string name;
        if (IsHeader(raw, name)) {
            FSections.push_back(TSection{name, std::string(raw), {}});
            continue;
        }
        TLine line{std::string(raw), {}, false};
        const auto equals = raw.find('=');
        if (equals != std::string_view::npos && !IsComment(raw)) {
            line.Key = std::string(Trim(raw.substr(0, equals)));
            line.IsKey = !line.Key.empty();
        }
        FSections.back().Lines.push_back(std::move(line));
    }
}

const TIniFile::TLine* TIniFile::FindKey(std::string_view section, std::string_view key) const
{
    for (std::size_t s = 1; s < FSections.size(); ++s) {
        if (!SameProfileName(FSections[s].Name, section))
            continue;
        for (const TLine& line : FSections[s].Lines)
            if (line.IsKey && SameProfileName(line.Key, key))
                return &line;
    }
    return nullptr;
}

TIniFile::TLine* TIniFile::FindKey(std::string_view section, std::string_view key)
{
    return const_cast<TLine*>(std::as_const(*this).FindKey(section, key));
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view defaultValue) const
{
    const TLine* line = FindKey(section, key);
    if (!line)
        return std::string(defaultValue);
    return ProfileValue(std::string_view(line->Raw).substr(line->Raw.find('=') + 1));
}

std::int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key,
                                   std::int32_t defaultValue) const
{
    std::int32_t value = 0;
    if (!ParseProfileInteger(ReadString(section, key, {}), value))
        return defaultValue;
    return value;
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool defaultValue) const
{
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

std::vector<std::pair<std::string, std::string>> TIniFile::ReadSectionValues(std::string_view section) const
{
    std::vector<std::pair<std::string, std::string>> entries;
    for (std::size_t s = 1; s < FSections.size(); ++s) {
        if (!SameProfileName(FSections[s].Name, section))
            continue;
        for (const TLine& line : FSections[s].Lines)
            if (line.IsKey)
                entries.emplace_back(line.Key, ProfileValue(std::string_view(line.Raw).substr(line.Raw.find('=') + 1)));
    }
    return entries;
}

std::vector<std::string> TIniFile::ReadSection(std::string_view section) const
{
    std::vector<std::string> keys;
    for (auto& entry : ReadSectionValues(section))
        keys.push_back(std::move(entry.first));
    return keys;
}

bool TIniFile::SectionExists(std::string_view section) const
{
    return std::any_of(FSections.begin() + 1, FSections.end(),
                       [&](const TSection& s) { return SameProfileName(s.Name, section); });
}

std::vector<std::string> TIniFile::SectionNames() const
{
    std::vector<std::string> names;
    for (std::size_t s = 1; s < FSections.size(); ++s)
        names.push_back(FSections[s].Name);
    return names;
}

TIniFile::TSection& TIniFile::SectionForWrite(std::string_view section)
{
    for (std::size_t s = 1; s < FSections.size(); ++s)
        if (SameProfileName(FSections[s].Name, section))
            return FSections[s];
    // A new section goes at the end, set off by one blank line.
    for (auto s = FSections.rbegin(); s != FSections.rend(); ++s) {
        if (s->Lines.empty() && s->Header.empty())
            continue;
        if (s->Lines.empty() || !Trim(s->Lines.back().Raw).empty())
            s->Lines.push_back(TLine{});
        break;
    }
    // Appended piece by piece: "[" + std::string(...) inserts at the front
    // of a temporary, which GCC 12 misreads as an overlapping copy.
    std::string header;
    header.reserve(section.size() + 2);
    header.append(1, '[').append(section).append(1, ']');
    FSections.push_back(TSection{std::string(section), std::move(header), {}});
    return FSections.back();
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value)
{
    if (!FitsProfileValue(value))
        throw EIniFileError(UnableToWrite(FFileName, "the value of " + std::string(key) + " is longer than "
                                                     + std::to_string(kMaxProfileValue) + " characters"));
    const std::string raw = std::string(key) + "=" + ProfileText(OneLine(value));
    if (TLine* line = FindKey(section, key)) {
        line->Raw = raw;
        line->Key = std::string(key);
        return;
    }
    // A new key follows the section's last line that is not blank, so the
    // blank line that sets off the next section stays in its place.
    std::vector<TLine>& lines = SectionForWrite(section).Lines;
    auto at = lines.end();
    while (at != lines.begin() && Trim(std::prev(at)->Raw).empty())
        --at;
    lines.insert(at, TLine{raw, std::string(key), true});
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, std::int32_t value)
{
    WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(std::string_view section, std::string_view key, bool value)
{
    WriteString(section, key, value ? "1" : "0");
}

void TIniFile::EraseSection(std::string_view section)
{
    auto erased = std::remove_if(FSections.begin() + 1, FSections.end(),
                                 [&](const TSection& s) { return SameProfileName(s.Name, section); });
    FSections.erase(erased, FSections.end());
}

std::string TIniFile::Text() const
{
    std::string text;
    for (std::size_t s = 0; s < FSections.size(); ++s) {
        if (s > 0)
            text.append(FSections[s].Header).append(kLineEnd);
        for (const TLine& line : FSections[s].Lines)
            text.append(line.Raw).append(kLineEnd);
    }
    return text;
}

void TIniFile::UpdateFile() const
{
    // A file that exists but could not be read is not replaced by what we
    // hold: that would lose whatever it contains.
    if (FReadFailed)
        throw EIniFileError(UnableToWrite(FFileName, std::strerror(FReadError)));
    int error = 0;
    if (!ReplaceFileAtomically(FFileName, Text(), &error))
        throw EIniFileError(UnableToWrite(FFileName, std::strerror(error)));
}
