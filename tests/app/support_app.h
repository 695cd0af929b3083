// Shared helpers for the application tests: every box, dialog and chooser
// goes through a recording or scripted seam, files live in a temporary
// folder, windows are built on a settings file there, and SMTP transcripts
// for the scripted server are put together here.
#pragma once

#include "dialogs.h"
#include "msgbox.h"
#include "unit1.h"

#include <QDialog>
#include <gtest/gtest.h>
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
    std::deque<TDialogStep> Dialogs;        // one step per dialog, in order
    std::vector<std::string> DialogClasses; // class name of each dialog shown
    std::vector<QString> Prompts;           // prompt of each address dialog
    std::deque<std::optional<QString>> Files; // nullopt: the user cancels
    std::vector<TFileChooser> Choosers;
    std::deque<std::optional<QFont>> Fonts;
    std::deque<std::optional<QColor>> Colors;
    std::vector<QString> Edited;

    std::vector<std::string> BoxTexts() const;

    // The address dialog: records its prompt, runs `prepare` (may press
    // "&Add To List"), then types `text` and returns `result`.
    TDialogStep Address(const QString& text, int result = QDialog::Accepted,
                        std::function<void(TAddressDlg&)> prepare = {});
    // The message dialog: subject and lines left as filled in unless given.
    static TDialogStep Message(int result = QDialog::Accepted, std::optional<QString> subject = std::nullopt,
                               std::optional<QStringList> lines = std::nullopt,
                               std::function<void(TMsgDlg&)> inspect = {});
    static TDialogStep Any(int result) { return [result](QDialog&) { return result; }; }
    // Shows the dialog and lets `drive` press its buttons: what the buttons
    // leave in result() is the dialog's result.
    template <class D>
    static TDialogStep Drive(std::function<void(D&)> drive)
    {
        return [drive](QDialog& dialog) {
            dialog.show();
            drive(dynamic_cast<D&>(dialog));
            return dialog.result();
        };
    }

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
    QString QPath(const std::string& name) const { return QString::fromStdString(Path(name)); }
    // Writes `content` byte for byte and returns the full path.
    std::string Write(const std::string& name, const std::string& content) const;
    std::string Folder(const std::string& name) const;
    std::string Read(const std::string& name) const;

private:
    QTemporaryDir FDir;
};

// Presses and releases one key on `widget`, as the keyboard would.
void PressKey(QWidget* widget, int key, const QString& text = QString());
// Types `text` into `widget` one character at a time.
void TypeText(QWidget* widget, const QString& text);

// A settings file text: "[Setup]" with `setup` lines (each "Key=Value"),
// then "[Addresses]" with one anAddressN per address.
std::string IniText(const std::vector<std::string>& setup, const std::vector<std::string>& addresses = {});

// What the mailer held when a message went out.
struct TSent {
    std::string Recipient, Subject;
    std::vector<std::string> CC, BCC, Attachments, Body;
};

// A main window on a settings file in a scratch folder, with every seam
// scripted. The mailer's reports are watched as the window gets them.
class AppWindowTest : public ::testing::Test {
protected:
    void SetUp() override { Open(); }
    // (Re)builds the window with these command-line arguments; its mailer
    // sends as sender@example.com, takes the text from a file and the
    // subject from the file names, and shows no result box.
    void Open(const QStringList& arguments = {});
    void Serve(const std::string& address) { window->Mailer.SetServer(address); }
    void Fill(const QStringList& entries);
    void Attach(const std::vector<std::string>& paths);
    std::string Ini() const { return scratch.Path("tessaly.ini"); }

    TSeams seams;
    TScratch scratch;
    std::unique_ptr<TfrmMailTo> window;
    std::vector<TSent> Sent;             // at each msSendingCommands
    std::vector<std::string> Captions;   // the status line after each report
    std::function<void(TMailStatus)> OnStatus;
};

// Shows the window and makes it the active window (the keys of the
// window and of the list need an active window).
void ShowActive(QWidget& window);
// Selects exactly the entries with these texts (each first match).
void SelectEntries(TfrmMailTo& window, const QStringList& texts);
QStringList SelectedEntries(const TfrmMailTo& window);

// ---- transcripts for the scripted server ----------------------------------
std::vector<std::string> LoginSteps();                 // greeting and HELO
std::vector<std::string> MessageSteps(int recipients); // one accepted message
// A whole session: login, `messages` messages, QUIT.
std::vector<std::string> SessionScript(int messages, int recipients);
std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> parts);

// Lines the client sent that begin with `prefix`.
std::vector<std::string> LinesStartingWith(const std::vector<std::string>& lines, const std::string& prefix);
bool AnyLineHolds(const std::vector<std::string>& lines, const std::string& text);
// The client's lines split into messages (each from MAIL FROM to the lone ".").
std::vector<std::vector<std::string>> SplitMessages(const std::vector<std::string>& lines);
