// The settings file: every persistent setting and the address list, read
// once when the main window is created and written once when it closes.
#pragma once

#include "smtp.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// The main window's six settings, named by their keys.
struct TRunSettings {
    bool UseBCC = true;           // recipients after the first go out as blind copies
    bool OneFilePerMsg = false;   // each file in a message of its own
    std::string MsgTextFile;      // the standard message-text file
    int MsgText = 0;              // 0 = prompt for the text, 1 = use MsgTextFile
    std::string MsgSubjectDef;    // the fixed subject
    int MsgSubject = 0;           // 0 = prompt, 1 = attachment names, 2 = MsgSubjectDef
};

// Colours are 32-bit values: a direct colour (red in the lowest byte, then
// green and blue, top byte 0) or 0x80000000 plus a system-colour index.
inline constexpr std::int32_t kSystemColorFlag = std::int32_t(0x80000000u);
inline constexpr std::int32_t clWindow = std::int32_t(0x80000005u);   // system colour 5, the window background
inline constexpr std::int32_t clBlack = 0;

// The look and place of the main window.
struct TWindowSettings {
    int Height = 321, Width = 432, Top = 15, Left = 15;
    bool ShowPanel = true;
    std::int32_t FontColor = clBlack;
    std::string FontName = "MS Sans Serif";
    int FontSize = 10;
    std::int32_t BackColor = clWindow;
};

// "Unable to write to <path>".
class ESettingsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads the file at `path`. A missing file, section or key gives each key's
// default and never an error; so does a value outside its key's range (see
// settings.cpp). "Encoding" is applied before "CharSet" through the client's
// setters. `addresses` receives every non-empty value of the section
// "Addresses" in file order, whatever its key; they are not sorted here.
void LoadSettings(const std::string& path, TSMTP& mailer, TRunSettings& run,
                  TWindowSettings& window, std::vector<std::string>& addresses);

// Writes the settings in the save order and the addresses as anAddress0,
// anAddress1, ... (no section "Addresses" when there are none). The whole
// file is replaced at once, keeping what it holds besides our keys; on any
// failure ESettingsError("Unable to write to " + path) is raised and the old
// file is left as it was.
void SaveSettings(const std::string& path, const TSMTP& mailer, const TRunSettings& run,
                  const TWindowSettings& window, const std::vector<std::string>& addresses);

// Whether a stored colour is one the program can show: a direct colour or a
// reference to one of the system colours.
bool IsValidColor(std::int32_t color);
