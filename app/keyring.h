// The desktop keyring: where a remembered password lives, never in the
// settings file. Reached through one seam so that tests put an in-memory
// keyring in its place.
#pragma once

#include <memory>
#include <optional>
#include <string>

class TKeyring {
public:
    virtual ~TKeyring() = default;
    // False where there is no keyring to talk to (no session bus): callers
    // then ask the user, with no error and no wait.
    virtual bool Available() = 0;
    // The secret stored under `key`, or nothing (none stored, or the keyring
    // refused to hand it out).
    virtual std::optional<std::string> Read(const std::string& key) = 0;
    // Stores `secret` under `key`; false when the keyring did not take it.
    virtual bool Write(const std::string& key, const std::string& secret) = 0;
    virtual void Forget(const std::string& key) = 0;
};

// The keyring of the desktop session, through QtKeychain (Secret Service or
// KWallet), under the service name "tessaly".
class TDesktopKeyring : public TKeyring {
public:
    bool Available() override;
    std::optional<std::string> Read(const std::string& key) override;
    bool Write(const std::string& key, const std::string& secret) override;
    void Forget(const std::string& key) override;
};

// Whether this process can reach a D-Bus session bus. Without
// DBUS_SESSION_BUS_ADDRESS nothing is tried, so no bus daemon is started on
// the way and nothing is written to the terminal.
bool SessionBusPresent();

// The keyring in use: the desktop's unless a test put another in place.
TKeyring& Keyring();
// Puts `keyring` in place (nullptr: the desktop's) and returns the old one.
std::unique_ptr<TKeyring> SetKeyring(std::unique_ptr<TKeyring> keyring);
