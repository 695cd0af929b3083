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

// The settings file for the executable at exePath: beside it, named after
// it with ".ini", when that file exists or its folder is writable (a
// portable copy or one run from its build tree). An installed program's
// folder is not writable by its user, and a settings file that cannot be
// written would keep the main window from closing, so otherwise the file is
// the per-user one, whose folder is created here; so it is when the
// executable's path is unknown (empty). The environment is read
// once; the caller keeps the result for the whole run.
std::string SettingsFilePath(const std::string& exePath);
// The same with the facts passed in, for tests.
std::string SettingsFilePath(const std::string& exePath, const TFolderWritable& folderWritable,
                             const std::string& xdgConfigHome, const std::string& home);
