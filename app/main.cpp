// Tessaly: the program. Creates the main window and runs the event loop
// until the main window closes.
#include "dialogs.h"
#include "msgbox.h"
#include "unit1.h"

#include <QApplication>
#include <QIcon>
#include <exception>

namespace {
// A failure that escapes an event handler ends that action only: it is
// shown in the standard error box and the program goes on.
class TApplication : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override
    {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            ShowStandardError(e.what());
        } catch (...) {
            ShowStandardError("Unknown failure");
        }
        return false;
    }
};
}

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    // The application title names the general error box. It is not made
    // Qt's display name: the window systems append that to every caption
    // ("Tessaly 1.0 - Tessaly", "Error - Tessaly"), and the captions
    // are the program's own texts.
    SetApplicationTitle("Tessaly");
    QApplication::setApplicationName(QStringLiteral("tessaly"));
    QApplication::setApplicationVersion(QStringLiteral("1.0"));
    // Ties the windows to tessaly.desktop (its icon and name in the shell).
    QGuiApplication::setDesktopFileName(QStringLiteral("tessaly"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("tessaly")));
    InstallWidgetMessageBoxes();

    // The window decides when the program ends: a compact (tool) window
    // does not count as the last window for Qt.
    QApplication::setQuitOnLastWindowClosed(false);
    TfrmMailTo frmMailTo(QApplication::arguments().mid(1));
    QObject::connect(&frmMailTo, &TfrmMailTo::Closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    frmMailTo.show();
    const int status = app.exec();
    return status != 0 ? status : frmMailTo.ExitStatus();
}
