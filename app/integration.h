// "Send with Tessaly" for Nautilus, which reads scripts only from the
// user's own folder: `tessaly --install-integration` writes it there.
#pragma once

#include <string>

// $XDG_DATA_HOME/nautilus/scripts/Send with Tessaly, where an unset, empty
// or relative XDG_DATA_HOME means `home`/.local/share (XDG base
// directories).
std::string NautilusScriptPath(const std::string& xdgDataHome, const std::string& home);

// The script: Nautilus runs it in the folder shown, with the selected
// files as arguments, which it hands on to the program at `program`.
std::string NautilusScript(const std::string& program);

// Writes the script (mode 0755) for the running program; returns its path,
// or an empty text after printing why it could not.
std::string InstallNautilusScript(const std::string& program);
