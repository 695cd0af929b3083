#include "settings.h"

#include "mailbase.h"
#include "profile.h"

#include <limits>

// Values outside a key's range are not refused on reading; each falls back
// to its key's default (not clamped to the nearest edge, which could turn a
// damaged "Port" of 70000 into 65535, a port nobody asked for):
//   Port          outside 0..65535 (0 stays: the Setup dialog accepts it)
//   TimeOut       0 or less (every wait would time out at once)
//   Encoding      other than 0 or 1; CharSet other than 0, 1 or 2
//   MsgText       other than 0 or 1; MsgSubject other than 0, 1 or 2
//   Height, Width outside kMinWindowExtent..kMaxWindowExtent
//   Top, Left     beyond +-kMaxWindowExtent
//   FontSize      outside 1..kMaxFontSize
//   FontColor, BackColor  neither a direct colour nor a system colour
// A window placed off the visible screens is the main window's to move back.

namespace {
constexpr const char* kSetup = "Setup";
constexpr const char* kAddresses = "Addresses";
constexpr const char* kAddressKey = "anAddress";

// Limits of what the file may say about the window and its list.
constexpr int kMaxPort = std::numeric_limits<std::uint16_t>::max();
constexpr int kMinWindowExtent = 20;       // smaller cannot show the caption bar
constexpr int kMaxWindowExtent = 32767;    // the largest coordinate window systems take
constexpr int kMaxFontSize = 400;          // points; larger cannot show one line of the list
constexpr int kMaxSystemColorIndex = 30;   // the system colours run from 0 to 30

int InRange(int value, int low, int high, int fallback)
{
    return (value >= low && value <= high) ? value : fallback;
}

void LoadConnection(const TIniFile& ini, TSMTP& mailer, TRunSettings& run)
{
    mailer.SetDefaultPort(std::uint16_t(InRange(ini.ReadInteger(kSetup, "Port", 25), 0, kMaxPort, 25)));
    const int timeOut = ini.ReadInteger(kSetup, "TimeOut", 60);
    mailer.SetTimeOut(timeOut > 0 ? timeOut : 60);
    mailer.SetUseDomainAddress(ini.ReadBool(kSetup, "UseDomainAddress", true));
    run.UseBCC = ini.ReadBool(kSetup, "UseBCC", true);
    mailer.SetShowResult(ini.ReadBool(kSetup, "ShowSuccess", true));
    run.OneFilePerMsg = ini.ReadBool(kSetup, "OneFilePerMsg", false);
    run.MsgTextFile = ini.ReadString(kSetup, "MsgTextFile", "");
    run.MsgText = InRange(ini.ReadInteger(kSetup, "MsgText", 0), 0, 1, 0);
    run.MsgSubjectDef = ini.ReadString(kSetup, "MsgSubjectDef", "");
    run.MsgSubject = InRange(ini.ReadInteger(kSetup, "MsgSubject", 0), 0, 2, 0);
}

std::int32_t ReadColor(const TIniFile& ini, const char* key, std::int32_t fallback)
{
    const std::int32_t color = ini.ReadInteger(kSetup, key, fallback);
    return IsValidColor(color) ? color : fallback;
}

void LoadWindow(const TIniFile& ini, TWindowSettings& window)
{
    const TWindowSettings defaults;
    window.Height = InRange(ini.ReadInteger(kSetup, "Height", defaults.Height), kMinWindowExtent, kMaxWindowExtent, defaults.Height);
    window.Width = InRange(ini.ReadInteger(kSetup, "Width", defaults.Width), kMinWindowExtent, kMaxWindowExtent, defaults.Width);
    window.Top = InRange(ini.ReadInteger(kSetup, "Top", defaults.Top), -kMaxWindowExtent, kMaxWindowExtent, defaults.Top);
    window.Left = InRange(ini.ReadInteger(kSetup, "Left", defaults.Left), -kMaxWindowExtent, kMaxWindowExtent, defaults.Left);
    window.ShowPanel = ini.ReadBool(kSetup, "ShowPanel", defaults.ShowPanel);
    window.FontColor = ReadColor(ini, "FontColor", defaults.FontColor);
    window.FontName = ini.ReadString(kSetup, "FontName", defaults.FontName);
    window.FontSize = InRange(ini.ReadInteger(kSetup, "FontSize", defaults.FontSize), 1, kMaxFontSize, defaults.FontSize);
    window.BackColor = ReadColor(ini, "BackColor", defaults.BackColor);
}

void LoadServer(const TIniFile& ini, TSMTP& mailer)
{
    mailer.SetServer(ini.ReadString(kSetup, "Server", ""));
    mailer.SetFrom(JoinAddress(ini.ReadString(kSetup, "EMail Address", ""), ini.ReadString(kSetup, "Name", "")));
    mailer.SetLogFileName(ini.ReadString(kSetup, "Log File", ""));
    // Encoding first: the client forces US-ASCII with UUencode and takes a
    // character set only while the encoding is MIME.
    mailer.SetEncoding(TEncoding(InRange(ini.ReadInteger(kSetup, "Encoding", etMIME), etUU, etMIME, etMIME)));
    mailer.SetCharSet(TCharSet(InRange(ini.ReadInteger(kSetup, "CharSet", csUSASCII), csUSASCII, csUTF8, csUSASCII)));
}

// ---- submission: TLS, login and certificates (after the first 25 keys) ----
// The enumerations are stored as their numbers; an unknown number (a file
// from a later version, or edited by hand) loads as Auto. No secret is ever
// stored here: the password lives in the desktop keyring or comes from
// PasswordCommand. Texts that the reader would trim or unquote are
// written quoted by the profile itself, so a command line such as
// "pass" show "mail" comes back as it was.
constexpr int kMaxSecurity = secTLS;
constexpr int kMaxAuthMethod = amOAUTHBEARER;

void LoadSubmission(const TIniFile& ini, TSMTP& mailer)
{
    mailer.SetSecurity(TSecurity(InRange(ini.ReadInteger(kSetup, "Security", secAuto), 0, kMaxSecurity, secAuto)));
    mailer.SetUser(ini.ReadString(kSetup, "User", ""));
    mailer.SetAuthMethod(TAuthMethod(InRange(ini.ReadInteger(kSetup, "AuthMethod", amAuto), 0, kMaxAuthMethod, amAuto)));
    mailer.SetPasswordCommand(ini.ReadString(kSetup, "PasswordCommand", ""));
    mailer.SetCAFile(ini.ReadString(kSetup, "CAFile", ""));
    mailer.SetTrustedCertificates(ini.ReadString(kSetup, "TrustedCertificate", ""));
}

void SaveSubmission(TIniFile& ini, const TSMTP& mailer)
{
    ini.WriteInteger(kSetup, "Security", mailer.Security());
    ini.WriteString(kSetup, "User", mailer.User());
    ini.WriteInteger(kSetup, "AuthMethod", mailer.AuthMethod());
    ini.WriteString(kSetup, "PasswordCommand", mailer.PasswordCommand());
    ini.WriteString(kSetup, "CAFile", mailer.CAFile());
    ini.WriteString(kSetup, "TrustedCertificate", mailer.TrustedCertificates());
}

void LoadAddresses(const TIniFile& ini, std::vector<std::string>& addresses)
{
    addresses.clear();
    // Values straight from the section, so that two keys of the same name
    // (a file edited by hand) still give two entries.
    for (auto& [key, value] : ini.ReadSectionValues(kAddresses))
        if (!value.empty())
            addresses.push_back(std::move(value));
}

void SaveConnection(TIniFile& ini, const TSMTP& mailer, const TRunSettings& run, const TWindowSettings& window)
{
    ini.WriteInteger(kSetup, "Port", mailer.DefaultPort());
    ini.WriteInteger(kSetup, "TimeOut", mailer.TimeOut());
    ini.WriteBool(kSetup, "UseDomainAddress", mailer.UseDomainAddress());
    ini.WriteBool(kSetup, "UseBCC", run.UseBCC);
    ini.WriteBool(kSetup, "ShowSuccess", mailer.ShowResult());
    ini.WriteBool(kSetup, "OneFilePerMsg", run.OneFilePerMsg);
    ini.WriteBool(kSetup, "ShowPanel", window.ShowPanel);
    ini.WriteString(kSetup, "MsgTextFile", run.MsgTextFile);
    ini.WriteInteger(kSetup, "MsgText", run.MsgText);
    ini.WriteString(kSetup, "MsgSubjectDef", run.MsgSubjectDef);
    ini.WriteInteger(kSetup, "MsgSubject", run.MsgSubject);
}

void SaveWindow(TIniFile& ini, const TWindowSettings& window)
{
    ini.WriteInteger(kSetup, "BackColor", window.BackColor);
    ini.WriteInteger(kSetup, "Height", window.Height);
    ini.WriteInteger(kSetup, "Width", window.Width);
    ini.WriteInteger(kSetup, "Top", window.Top);
    ini.WriteInteger(kSetup, "Left", window.Left);
    ini.WriteInteger(kSetup, "FontColor", window.FontColor);
    ini.WriteString(kSetup, "FontName", window.FontName);
    ini.WriteInteger(kSetup, "FontSize", window.FontSize);
}

void SaveServer(TIniFile& ini, const TSMTP& mailer)
{
    ini.WriteString(kSetup, "Server", mailer.Server());
    const auto [address, name] = SplitAddress(mailer.From());
    ini.WriteString(kSetup, "EMail Address", address);
    ini.WriteString(kSetup, "Name", name);
    ini.WriteString(kSetup, "Log File", mailer.LogFileName());
    ini.WriteInteger(kSetup, "Encoding", mailer.Encoding());
    ini.WriteInteger(kSetup, "CharSet", mailer.CharSet());
}

void SaveAddresses(TIniFile& ini, const std::vector<std::string>& addresses)
{
    // Renumbered from 0 at every save: the file holds exactly the list.
    ini.EraseSection(kAddresses);
    for (std::size_t i = 0; i < addresses.size(); ++i)
        ini.WriteString(kAddresses, kAddressKey + std::to_string(i), addresses[i]);
}
}

bool IsValidColor(std::int32_t color)
{
    const auto bits = std::uint32_t(color);
    if ((bits & 0xFF000000u) == 0)
        return true;
    return (bits & 0xFFFFFF00u) == std::uint32_t(kSystemColorFlag) && (bits & 0xFFu) <= kMaxSystemColorIndex;
}

void LoadSettings(const std::string& path, TSMTP& mailer, TRunSettings& run,
                  TWindowSettings& window, std::vector<std::string>& addresses)
{
    // Reading never reports an error: what cannot be read reads as absent.
    const TIniFile ini(path);
    LoadConnection(ini, mailer, run);
    LoadWindow(ini, window);
    LoadServer(ini, mailer);
    LoadSubmission(ini, mailer);
    LoadAddresses(ini, addresses);
}

void SaveSettings(const std::string& path, const TSMTP& mailer, const TRunSettings& run,
                  const TWindowSettings& window, const std::vector<std::string>& addresses)
{
    // The file is read again now, so keys that another program wrote since
    // the start-up are kept unless we write them ourselves.
    try {
        TIniFile ini(path);
        SaveConnection(ini, mailer, run, window);
        SaveWindow(ini, window);
        SaveServer(ini, mailer);
        SaveSubmission(ini, mailer);
        SaveAddresses(ini, addresses);
        ini.UpdateFile();
    } catch (const EIniFileError& error) {
        throw ESettingsError(error.what());
    }
}
