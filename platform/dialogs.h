// Modal dialogs and choosers, reached through one seam.
//
// Every modal thing the program opens goes through these functions. The
// defaults run the real Qt dialog; tests install handlers that fill in the
// dialog's widgets (or pick a file, a font, a colour) and return at once.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QDialog;
class QMessageBox;
class QWidget;

// ---- modal dialogs -------------------------------------------------------
// Runs `dialog` modally and returns its result (QDialog::Accepted or
// Rejected). A test handler receives the dialog, already filled in by its
// caller, and returns the result it wants.
using TDialogHandler = std::function<int(QDialog&)>;
TDialogHandler SetDialogHandler(TDialogHandler handler);
int ExecDialog(QDialog& dialog);

// ---- file choosers -------------------------------------------------------
struct TFileChooser {
    enum Kind { Open, Save };
    Kind ChooserKind = Open;
    QString Title;
    // Description and pattern pairs separated by "|", the first preselected:
    // "All files (*.*)|*.*|Text files (*.txt)|*.txt".
    QString Filter;
    QString InitialDir = QStringLiteral(".");
    QString FileName;            // offered name (the last one chosen)
    QString DefaultSuffix;       // added to a typed name without extension
    bool MustExist = true;       // Open: path and file must exist
    bool ConfirmOverwrite = true; // Save: ask before replacing a file
};
// Returns the chosen file's full path, or nothing when cancelled.
using TFileChooserHandler = std::function<std::optional<QString>(QWidget* parent, const TFileChooser&)>;
TFileChooserHandler SetFileChooserHandler(TFileChooserHandler handler);
std::optional<QString> ChooseFile(QWidget* parent, const TFileChooser& chooser);

// "A|B|C|D" -> "A (B);;C (D)" style filter for QFileDialog.
QString QtFilterFromPairs(const QString& pairs);

// ---- font and colour -----------------------------------------------------
using TFontHandler = std::function<std::optional<QFont>(QWidget* parent, const QFont& initial)>;
TFontHandler SetFontHandler(TFontHandler handler);
std::optional<QFont> ChooseFont(QWidget* parent, const QFont& initial);

using TColorHandler = std::function<std::optional<QColor>(QWidget* parent, const QColor& initial)>;
TColorHandler SetColorHandler(TColorHandler handler);
std::optional<QColor> ChooseColor(QWidget* parent, const QColor& initial);

// ---- text editor ---------------------------------------------------------
// Opens `path` in the desktop's text editor; the outcome is not reported.
using TEditorHandler = std::function<void(const QString& path)>;
TEditorHandler SetEditorHandler(TEditorHandler handler);
void OpenInTextEditor(const QString& path);

// ---- placement -----------------------------------------------------------
// The program's dialogs and boxes open centred on the screen.
void CenterOnScreen(QWidget& widget);

// ---- message boxes -------------------------------------------------------
// Installs the QMessageBox handler of the message-box seam (msgbox.h):
// the kind's icon, one OK button, centred on the screen.
void InstallWidgetMessageBoxes();
// Makes `box` wide enough for its title: a box sized to a short text
// ("All Done.") would clip "Information" to "I...".
void WidenForTitle(QMessageBox& box);
