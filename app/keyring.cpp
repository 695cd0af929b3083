#include "keyring.h"

#include <QDBusConnection>
#include <QEventLoop>
#include <QtGlobal>

#include <qt6keychain/keychain.h>

namespace {
const QString kService = QStringLiteral("tessaly");

std::unique_ptr<TKeyring>& Slot()
{
    static std::unique_ptr<TKeyring> keyring = std::make_unique<TDesktopKeyring>();
    return keyring;
}

// Runs `job` and waits for it in the event loop (the jobs are asynchronous:
// a locked keyring may ask the user to unlock it first).
bool Run(QKeychain::Job& job, const std::string& key)
{
    job.setAutoDelete(false);
    job.setKey(QString::fromStdString(key));
    QEventLoop loop;
    bool finished = false;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    job.start();
    if (!finished)
        loop.exec();
    return job.error() == QKeychain::NoError;
}
}

bool SessionBusPresent()
{
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return false;
    return QDBusConnection::sessionBus().isConnected();
}

bool TDesktopKeyring::Available()
{
    // Cheap after the first time: Qt keeps the bus connection.
    return SessionBusPresent();
}

std::optional<std::string> TDesktopKeyring::Read(const std::string& key)
{
    if (!Available())
        return std::nullopt;
    QKeychain::ReadPasswordJob job(kService);
    if (!Run(job, key))
        return std::nullopt;
    return job.textData().toStdString();
}

bool TDesktopKeyring::Write(const std::string& key, const std::string& secret)
{
    if (!Available())
        return false;
    QKeychain::WritePasswordJob job(kService);
    job.setTextData(QString::fromStdString(secret));
    return Run(job, key);
}

void TDesktopKeyring::Forget(const std::string& key)
{
    if (!Available())
        return;
    QKeychain::DeletePasswordJob job(kService);
    Run(job, key);
}

TKeyring& Keyring()
{
    return *Slot();
}

std::unique_ptr<TKeyring> SetKeyring(std::unique_ptr<TKeyring> keyring)
{
    if (!keyring)
        keyring = std::make_unique<TDesktopKeyring>();
    return std::exchange(Slot(), std::move(keyring));
}
