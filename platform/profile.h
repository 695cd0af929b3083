// TIniFile: the profile file (INI text) that holds the program's settings.
//
// Reading follows the classic profile rules: section and key names are
// matched without regard to letter case; blanks around a value and one pair
// of enclosing quotation marks are dropped; a value is read up to
// kMaxProfileValue characters. The text is single-byte as it stands: no
// recoding happens here.
//
// Writing never touches the file key by key. The writes change the text held
// in memory and UpdateFile() puts the whole of it into a temporary file
// beside the old one, which is then renamed over it, so a save that fails
// half-way leaves the old file as it was. Sections, keys, comments and blank
// lines that the program does not write are kept as they stand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Raised when the file cannot be written: "Unable to write to <path>".
class EIniFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A value is read into a buffer of 1024 characters with its closing zero,
// so at most 1023 characters of it come back. Characters, not bytes: a
// UTF-8 sequence is never cut.
inline constexpr std::size_t kMaxProfileValue = 1023;

// ---- the pure rules, shared with tests -----------------------------------
// The value as the reader returns it: blanks (spaces and tabs) around it and
// one pair of matching enclosing quotation marks (" or ') dropped, then cut
// to kMaxProfileValue characters.
std::string ProfileValue(std::string_view raw);
// Whether a value comes back whole from the reader: at most
// kMaxProfileValue characters, where a UTF-8 lead byte with its
// continuation bytes is one character and any other byte is one on its own.
bool FitsProfileValue(std::string_view value);
// `value` as it is written after "key=": quoted when the reader would
// otherwise change it (blanks around it, enclosing quotation marks), so
// that ProfileValue(ProfileText(v)) == v for every v that fits.
std::string ProfileText(std::string_view value);
// A whole number in decimal ("-12", "+7") or hexadecimal ("0x1F", "0X1f",
// "$1F"; up to 8 digits, read as a 32-bit pattern so 0x80000005 is
// negative). Blanks around the text are allowed. Anything else is no number.
bool ParseProfileInteger(std::string_view text, std::int32_t& value);
// ASCII letters compared without case: names in the file are 8-bit text.
bool SameProfileName(std::string_view a, std::string_view b);

// Writes `bytes` to a temporary file beside `fileName`, flushes it to disk
// and renames it over `fileName` (the target of `fileName`, when that is a
// symbolic link, also one whose target does not exist yet), keeping the
// old file's permissions. Any failure removes the temporary file, leaves
// the old file as it was, puts the system's error number in `*error` (when
// given) and returns false. A read-only old file is refused: the user
// marked it so to keep it.
bool ReplaceFileAtomically(const std::string& fileName, std::string_view bytes, int* error = nullptr);
// Whether `fileName` is a regular file that a save may replace: not marked
// read-only by its mode bits (root's access() says yes to every file) and
// writable by this user. Returns the error number that refuses it, or 0.
int FileReplaceRefusal(const std::string& fileName);

class TIniFile {
public:
    // Reads `fileName`. A file that does not exist reads as empty; one that
    // exists but cannot be read also reads as empty, and is marked so that
    // UpdateFile() refuses to replace what it could not see.
    explicit TIniFile(std::string fileName);

    const std::string& FileName() const { return FFileName; }
    // Whether the file existed but could not be read.
    bool ReadFailed() const { return FReadFailed; }

    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view defaultValue) const;
    std::int32_t ReadInteger(std::string_view section, std::string_view key,
                             std::int32_t defaultValue) const;
    // Read as an integer with default 1 or 0: true exactly when it is not 0.
    bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;

    // The key names of `section` in file order (every section of that name).
    // Unlike the classic call there is no 8192-byte bound: long lists are
    // read whole.
    std::vector<std::string> ReadSection(std::string_view section) const;
    // Key names and values of `section` in file order, values as ReadString
    // returns them. Keys that appear twice are both listed.
    std::vector<std::pair<std::string, std::string>> ReadSectionValues(std::string_view section) const;
    bool SectionExists(std::string_view section) const;
    // The names of the sections in file order, as their headers give them.
    std::vector<std::string> SectionNames() const;

    // Setting a key creates the section when needed. CR and LF cannot stand
    // inside a value of a line-based file; each is written as a blank. A
    // value that the reader would not give back whole (FitsProfileValue)
    // raises EIniFileError naming the key: it is never saved cut.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);
    void WriteBool(std::string_view section, std::string_view key, bool value);
    void EraseSection(std::string_view section);

    // The file's text as it will be written, lines ended by CR LF.
    std::string Text() const;
    // Writes Text() to the file through a temporary file and a rename.
    // Raises EIniFileError("Unable to write to <path>: <reason>") on any
    // failure, the reason being the system's text for it ("Permission
    // denied"); the old file is then untouched.
    void UpdateFile() const;
    // A file built from `text` as if read from `fileName`.
    static TIniFile FromText(std::string fileName, std::string_view text);

private:
    struct TLine {
        std::string Raw;     // the line as it stands, without its line end
        std::string Key;     // the key name, when the line is "key=value"
        bool IsKey = false;
    };
    struct TSection {
        std::string Name;
        std::string Header;  // the header line as it stands ("" for the lines before any section)
        std::vector<TLine> Lines;
    };

    void Parse(std::string_view text);
    const TLine* FindKey(std::string_view section, std::string_view key) const;
    TLine* FindKey(std::string_view section, std::string_view key);
    TSection& SectionForWrite(std::string_view section);

    std::string FFileName;
    bool FReadFailed = false;
    int FReadError = 0;                // why the file could not be read
    std::vector<TSection> FSections;   // FSections[0] holds the lines before the first header
};
