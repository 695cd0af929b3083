// Helpers for the main-window tests: every box, dialog and chooser goes
// through a recording or scripted seam, windows are built on a settings
// file in a temporary folder, and SMTP transcripts are put together here.
#pragma once

#include "dialogs.h"
#include "msgbox.h"
#include "unit1.h"

#include <QDialog>
#include <QStringList>
#include <QTemporaryDir>

#include <deque>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TAddressDlg;
class TMsgDlg;

// Readable QStrings in test failures.
void PrintTo(const QString& text, std::ostream* out);

// Installs recording and scripted handlers on every seam for the life of
// the object and puts the previous handlers back afterwards. A dialog,
// chooser, font or colour that the test did not script fails the test and
// is cancelled, so nothing ever waits on a modal loop.
class TSeams {
public:
    using TDialogStep = std::function<int(QDialog&)>;

    TSeams();
    ~TSeams();
    TSeams(const TSeams&) = delete;
    TSeams& operator=(const TSeams&) = delete;

    std::vector<TMessageBox> Boxes;
    std::function<void(const TMessageBox&)> OnBox;   // runs after recording

    std::deque<TDialogStep> Dialogs;       // one step per dialog, in order
    std::vector<std::string> DialogClasses; // class name of each dialog shown
    std::vector<QString> Prompts;          // prompt of each address dialog

    std::deque<std::optional<QString>> Files;
    std::vector<TFileChooser> Choosers;
    std::deque<std::optional<QFont>> Fonts;
    std::deque<std::optional<QColor>> Colors;
    std::vector<QString> Edited;

    // Texts of the recorded boxes.
    std::vector<std::string> BoxTexts() const;

    // Scripted answers.
    // The address dialog: records its set-up, then `prepare` (may press
    // "&Add To List"), then the text typed and the result.
    TDialogStep Address(const QString& text, int result = QDialog::Accepted,
                        std::function<void(TAddressDlg&)> prepare = {});
    // The message dialog: subject and lines left as filled in unless given.
    TDialogStep Message(int result = QDialog::Accepted, std::optional<QString> subject = std::nullopt,
                        std::optional<QStringList> lines = std::nullopt,
                        std::function<void(TMsgDlg&)> inspect = {});
    // Any dialog: records it and returns `result`.
    static TDialogStep Any(int result);

private:
    TMessageBoxHandler FOldBox;
    TDialogHandler FOldDialog;
    TFileChooserHandler FOldFile;
    TFontHandler FOldFont;
    TColorHandler FOldColor;
    TEditorHandler FOldEditor;
};

// A temporary folder with files written by the test.
class TScratch {
public:
    TScratch();
    std::string Path(const std::string& name) const;
    // Writes `content` byte for byte and returns the full path.
    std::string Write(const std::string& name, const std::string& content) const;
    std::string Folder(const std::string& name) const;
    std::string Read(const std::string& name) const;

private:
    QTemporaryDir FDir;
};

// A settings file text: "[Setup]" with `setup` lines (each "Key=Value"),
// then "[Addresses]" with one anAddressN per address.
std::string IniText(const std::vector<std::string>& setup, const std::vector<std::string>& addresses = {});

// The window on the settings file `iniPath`, not shown.
std::unique_ptr<TfrmMailTo> MakeWindow(const std::string& iniPath, const QStringList& arguments = {});

// Shows the window and makes it the active window (the keys of the
// window and of the list need an active window).
void ShowActive(QWidget& window);

// Selects exactly the entries with these texts (each first match).
void SelectEntries(TfrmMailTo& window, const QStringList& texts);
QStringList SelectedEntries(const TfrmMailTo& window);

// ---- transcripts for the scripted server ----------------------------------
// The greeting and HELO.
std::vector<std::string> LoginSteps();
// One accepted message with `recipients` RCPT TO commands.
std::vector<std::string> MessageSteps(int recipients);
// QUIT and its reply.
std::vector<std::string> LogoutSteps();
// A whole session: login, `messages` messages, logout.
std::vector<std::string> SessionScript(int messages, int recipients);
std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> parts);

// Lines the client sent that begin with `prefix`.
std::vector<std::string> LinesStartingWith(const std::vector<std::string>& lines, const std::string& prefix);
// Whether any line holds `text`.
bool AnyLineHolds(const std::vector<std::string>& lines, const std::string& text);
// The client's lines split into messages (each from MAIL FROM / first RCPT
// TO to the lone ".").
std::vector<std::vector<std::string>> SplitMessages(const std::vector<std::string>& lines);
