#include "integration.h"

#include "profile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>

namespace {
constexpr const char* kScriptName = "Send with Tessaly";

// A single-quoted shell word: a quote inside becomes '\''.
std::string ShellQuoted(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}
}

std::string NautilusScriptPath(const std::string& xdgDataHome, const std::string& home)
{
    std::string base = xdgDataHome;
    if (base.empty() || base.front() != '/')
        base = home + "/.local/share";
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    return base + "/nautilus/scripts/" + kScriptName;
}

std::string NautilusScript(const std::string& program)
{
    return "#!/bin/sh\n"
           "# Written by tessaly --install-integration: mails the selected files.\n"
           "exec " + ShellQuoted(program) + " \"$@\"\n";
}

std::string InstallNautilusScript(const std::string& program)
{
    const std::string home = Environment("HOME").empty() ? QDir::homePath().toStdString() : Environment("HOME");
    const std::string path = NautilusScriptPath(Environment("XDG_DATA_HOME"), home);
    const QString qpath = QString::fromStdString(path);
    const bool written = QDir().mkpath(QFileInfo(qpath).path()) && ReplaceFileAtomically(path, NautilusScript(program))
        && QFile::setPermissions(qpath, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                            | QFileDevice::ReadGroup | QFileDevice::ExeGroup
                                            | QFileDevice::ReadOther | QFileDevice::ExeOther);
    if (!written) {
        std::fprintf(stderr, "tessaly: cannot write %s\n", path.c_str());
        return {};
    }
    return path;
}
