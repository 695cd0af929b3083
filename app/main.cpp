// Tessaly: the program. Creates the main window and runs the event loop
// until the main window closes.
#include "dialogs.h"
#include "integration.h"
#include "mailto.h"
#include "msgbox.h"
#include "readme.h"
#include "unit1.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>

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

// The arguments as the run takes them: the launcher passes files as
// file:// URLs (so that it can pass mailto: links too).
QStringList RunArguments(const QStringList& arguments)
{
    QStringList run;
    for (const QString& argument : arguments)
        run << QString::fromStdString(LocalPathFromArgument(argument.toStdString()));
    return run;
}

// Options answered without a window (and so without a display); nullopt
// for a normal start.
std::optional<int> TerminalOption(int argc, char** argv)
{
    if (argc != 2)
        return std::nullopt;
    const std::string option = argv[1];
    if (option == "--version") {
        std::puts("tessaly 1.0");
        return 0;
    }
    if (option == "--install-integration") {
        const QString program = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
        const std::string path = InstallNautilusScript(program.toStdString());
        if (!path.empty())
            std::printf("Nautilus: \"Send with Tessaly\" installed as %s\n", path.c_str());
        constexpr int kCannotCreate = 73;   // EX_CANTCREAT
        return path.empty() ? kCannotCreate : 0;
    }
    return std::nullopt;
}
}

int main(int argc, char** argv)
{
    if (const auto status = TerminalOption(argc, argv))
        return *status;
    TApplication app(argc, argv);
    const QStringList arguments = QApplication::arguments().mid(1);
    // The application title names the general error box. It is not made
    // Qt's display name: the window systems append that to every caption
    // ("Tessaly 1.0 - Tessaly", "Error - Tessaly"), and the captions
    // are the program's own texts.
    SetApplicationTitle("Tessaly");
    QApplication::setApplicationName(QStringLiteral("tessaly"));
    QApplication::setApplicationVersion(QStringLiteral("1.0"));
    // Ties the windows to tessaly.desktop (its icon and name in the shell).
    QGuiApplication::setDesktopFileName(QStringLiteral("tessaly"));
    // The theme's icon once installed; the program's own copy otherwise
    // (a build tree, or a prefix the icon theme does not search).
    const QString ownIcon = DataFilePath(QStringLiteral("tessaly.svg"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("tessaly"),
                                                 QFileInfo::exists(ownIcon) ? QIcon(ownIcon) : QIcon()));
    InstallWidgetMessageBoxes();

    // The window decides when the program ends: a compact (tool) window
    // does not count as the last window for Qt.
    QApplication::setQuitOnLastWindowClosed(false);
    TfrmMailTo frmMailTo(RunArguments(arguments));
    // A command-line run tells its caller whether it sent and saved (ExitCode).
    QObject::connect(
        &frmMailTo, &TfrmMailTo::Closed, &app, [&] { QCoreApplication::exit(frmMailTo.ExitCode()); },
        Qt::QueuedConnection);
    frmMailTo.show();
    return app.exec();
}
