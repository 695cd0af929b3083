// Where the settings file lives.
#pragma once

#include <functional>
#include <string>

// The executable's path with its extension replaced by ".ini": the extension
// is everything from the last "." of the final path component; a component
// without "." gets ".ini" appended ("/opt/tessaly/tessaly" ->
// "/opt/tessaly/tessaly.ini").
std::string IniNameBeside(const std::string& exePath);

// The per-user settings file: $XDG_CONFIG_HOME/tessaly/tessaly.ini, where an
// unset, empty or relative XDG_CONFIG_HOME means `home`/.config (the XDG
// base directory rules).
std::string UserSettingsFilePath(const std::string& xdgConfigHome, const std::string& home);

// Whether a folder exists and the user may create files in it.
using TFolderWritable = std::function<bool(const std::string& folder)>;
bool FolderIsWritable(const std::string& folder);

// The settings file for the executable at exePath. Beside it, named after
// it with ".ini", only for a portable install: that file exists already, a
// save may replace it (not read-only by its mode bits, which root's
// access() ignores) and its folder takes the new file of an atomic save.
// Otherwise the per-user file, whose folder is created here; when it does
// not exist yet it starts as a copy of the file beside the program, if
// there is one. An installed program's folder must never receive a file,
// even when root runs it. The environment is read once; the caller keeps
// the result for the whole run.
std::string SettingsFilePath(const std::string& exePath);
// The same with the facts passed in, for tests.
std::string SettingsFilePath(const std::string& exePath, const TFolderWritable& folderWritable,
                             const std::string& xdgConfigHome, const std::string& home);
