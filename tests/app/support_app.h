// Shared helpers for the application tests: every box, dialog and chooser
// goes through a recording or scripted seam, files live in a temporary
// folder, windows are built on a settings file there, and SMTP transcripts
// for the scripted server are put together here.
#pragma once

#include "dialogs.h"
#include "emaildlg.h"
#include "fake_smtp_server.h"
#include "mesgdlg.h"
#include "msgbox.h"
#include "unit1.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

// Readable QStrings in test failures.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

// The next scripted answer; an unscripted one fails the test and cancels.
template <class T>
T NextAnswer(std::deque<T>& queue, const std::string& what)
{
    if (queue.empty()) {
        ADD_FAILURE() << "unscripted " << what;
        return T();
    }
    T answer = std::move(queue.front());
    queue.pop_front();
    return answer;
}

// Installs recording and scripted handlers on every seam for the life of
// the object and puts the previous handlers back afterwards. A dialog,
// chooser, font or colour that the test did not script fails the test and
// is cancelled, so nothing ever waits on a modal loop.
class TSeams {
public:
    using TDialogStep = std::function<int(QDialog&)>;

    TSeams()
    {
        FOldBox = SetMessageBoxHandler([this](const TMessageBox& box) {
            Boxes.push_back(box);
            if (OnBox)
                OnBox(box);
        });
        FOldDialog = SetDialogHandler([this](QDialog& dialog) {
            DialogClasses.push_back(dialog.metaObject()->className());
            const TDialogStep step = NextAnswer(Dialogs, "dialog " + DialogClasses.back());
            return step ? step(dialog) : int(QDialog::Rejected);
        });
        FOldFile = SetFileChooserHandler([this](QWidget*, const TFileChooser& chooser) {
            Choosers.push_back(chooser);
            return NextAnswer(Files, "file chooser " + chooser.Title.toStdString());
        });
        FOldFont = SetFontHandler([this](QWidget*, const QFont&) { return NextAnswer(Fonts, "font dialog"); });
        FOldColor = SetColorHandler([this](QWidget*, const QColor&) { return NextAnswer(Colors, "colour dialog"); });
        FOldEditor = SetEditorHandler([this](const QString& path) { Edited.push_back(path); });
    }
    ~TSeams()
    {
        SetMessageBoxHandler(std::move(FOldBox));
        SetDialogHandler(std::move(FOldDialog));
        SetFileChooserHandler(std::move(FOldFile));
        SetFontHandler(std::move(FOldFont));
        SetColorHandler(std::move(FOldColor));
        SetEditorHandler(std::move(FOldEditor));
    }
    TSeams(const TSeams&) = delete;
    TSeams& operator=(const TSeams&) = delete;

    std::vector<TMessageBox> Boxes;
    std::function<void(const TMessageBox&)> OnBox;   // runs after recording
    std::deque<TDialogStep> Dialogs;          // one step per dialog, in order
    std::vector<std::string> DialogClasses;   // class name of each dialog shown
    std::vector<QString> Prompts;             // prompt of each address dialog
    std::deque<std::optional<QString>> Files; // nullopt: the user cancels
    std::vector<TFileChooser> Choosers;
    std::deque<std::optional<QFont>> Fonts;
    std::deque<std::optional<QColor>> Colors;
    std::vector<QString> Edited;

    std::vector<std::string> BoxTexts() const
    {
        std::vector<std::string> texts;
        for (const TMessageBox& box : Boxes)
            texts.push_back(box.Text);
        return texts;
    }

    // Shows the dialog and lets `drive` work its controls: what the buttons
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
    // Lets `prepare` see the dialog as a D, then returns `result`.
    template <class D>
    static TDialogStep Answer(int result, std::function<void(D&)> prepare)
    {
        return [result, prepare](QDialog& dialog) {
            auto* d = dynamic_cast<D*>(&dialog);
            if (!d)
                ADD_FAILURE() << "unexpected dialog " << dialog.metaObject()->className();
            else
                prepare(*d);
            return d ? result : int(QDialog::Rejected);
        };
    }
    // The address dialog: records its prompt, runs `prepare` (may press
    // "&Add To List"), then types `text` and returns `result`.
    TDialogStep Address(const QString& text, int result = QDialog::Accepted,
                        std::function<void(TAddressDlg&)> prepare = {})
    {
        return Answer<TAddressDlg>(result, [this, text, prepare](TAddressDlg& d) {
            Prompts.push_back(d.lblPrompt->text());
            if (prepare)
                prepare(d);
            d.txtEmail->setText(text);
        });
    }
    // The message dialog: subject and lines left as filled in unless given.
    static TDialogStep Message(int result = QDialog::Accepted, std::optional<QString> subject = std::nullopt,
                               std::optional<QStringList> lines = std::nullopt,
                               std::function<void(TMsgDlg&)> inspect = {})
    {
        return Answer<TMsgDlg>(result, [subject, lines, inspect](TMsgDlg& d) {
            if (inspect)
                inspect(d);
            if (subject)
                d.txtSubject->setText(*subject);
            if (lines)
                d.SetLines(*lines);
        });
    }
    static TDialogStep Any(int result) { return [result](QDialog&) { return result; }; }

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
    TScratch() { EXPECT_TRUE(FDir.isValid()); }
    std::string Path(const std::string& name) const { return QPath(name).toStdString(); }
    QString QPath(const std::string& name) const { return FDir.filePath(QString::fromStdString(name)); }
    // Writes `content` byte for byte and returns the full path.
    std::string Write(const std::string& name, const std::string& content) const
    {
        std::ofstream out(Path(name), std::ios::binary);
        out << content;
        EXPECT_TRUE(out.good()) << name;
        return Path(name);
    }
    std::string Folder(const std::string& name) const
    {
        EXPECT_TRUE(QDir(FDir.path()).mkpath(QString::fromStdString(name)));
        return Path(name);
    }
    std::string Read(const std::string& name) const
    {
        std::ifstream in(Path(name), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    QTemporaryDir FDir;
};

// Presses and releases one key on `widget`, as the keyboard would.
inline void PressKey(QWidget* widget, int key, const QString& text = QString())
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(widget, &release);
}

// Types `text` into `widget` one character at a time.
inline void TypeText(QWidget* widget, const QString& text)
{
    for (const QChar c : text)
        PressKey(widget, c.isLetterOrNumber() ? int(c.toUpper().unicode()) : int(c.unicode()), QString(c));
}

// A settings file text: "[Setup]" with `setup` lines (each "Key=Value"),
// then "[Addresses]" with one anAddressN per address.
inline std::string IniText(const std::vector<std::string>& setup, const std::vector<std::string>& addresses = {})
{
    std::string text = "[Setup]\r\n";
    for (const std::string& line : setup)
        text += line + "\r\n";
    if (!addresses.empty())
        text += "[Addresses]\r\n";
    for (std::size_t i = 0; i < addresses.size(); ++i)
        text += "anAddress" + std::to_string(i) + "=" + addresses[i] + "\r\n";
    return text;
}

// Shows the window and makes it the active window (the keys of the
// window and of the list need an active window).
inline void ShowActive(QWidget& window)
{
    window.show();
    window.activateWindow();
    QApplication::setActiveWindow(&window);
    QCoreApplication::processEvents();
}

// Selects exactly the entries with these texts (each first match).
inline void SelectEntries(TfrmMailTo& window, const QStringList& texts)
{
    window.lstAddresses->clearSelection();
    for (const QString& text : texts) {
        const auto found = window.lstAddresses->findItems(text, Qt::MatchExactly);
        ASSERT_FALSE(found.isEmpty()) << text.toStdString();
        found.first()->setSelected(true);
    }
}

inline QStringList SelectedEntries(const TfrmMailTo& window)
{
    QStringList texts;
    for (const QListWidgetItem* item : window.lstAddresses->selectedItems())
        texts << item->text();
    return texts;
}

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
    void Open(const QStringList& arguments = {})
    {
        window = std::make_unique<TfrmMailTo>(arguments, Ini());
        TSMTP& mailer = window->Mailer;
        mailer.SetFrom("sender@example.com");
        mailer.SetShowResult(false);
        mailer.SetTimeOut(10);   // small enough that a silent server fails fast
        window->Run.MsgText = 1;
        window->Run.MsgSubject = 1;
        window->Run.MsgTextFile = scratch.Write("text.txt", "Hello,\r\nthe files.\r\n");
        const TNotifyEvent shown = mailer.OnStatusChange;
        mailer.OnStatusChange = [this, shown, &mailer](QObject* sender) {
            shown(sender);
            Captions.push_back(window->pnlStatus->Caption().toStdString());
            if (mailer.Status() == msSendingCommands)
                Sent.push_back({mailer.Recipient(), mailer.Subject(), mailer.CC().ToVector(),
                                mailer.BCC().ToVector(), mailer.Attachments().ToVector(), mailer.Body().ToVector()});
            if (OnStatus)
                OnStatus(mailer.Status());
        };
    }
    void ServeAt(const std::string& address) { window->Mailer.SetServer(address); }
    // Starts a scripted server for the life of the test and delivers to it.
    TFakeSMTPServer& Serve(std::vector<std::string> script)
    {
        servers.push_back(std::make_unique<TFakeSMTPServer>(std::move(script)));
        ServeAt(servers.back()->Address());
        return *servers.back();
    }
    void Fill(const QStringList& entries)
    {
        for (const QString& entry : entries)
            window->AddEntry(entry);
    }
    void Attach(const std::vector<std::string>& paths)
    {
        window->Mailer.Attachments().Clear();
        for (const std::string& path : paths)
            window->Mailer.Attachments().Add(path);
    }
    std::string Ini() const { return scratch.Path("tessaly.ini"); }

    TSeams seams;
    TScratch scratch;
    std::vector<std::unique_ptr<TFakeSMTPServer>> servers;
    std::unique_ptr<TfrmMailTo> window;
    std::vector<TSent> Sent;             // at each msSendingCommands
    std::vector<std::string> Captions;   // the status line after each report
    std::function<void(TMailStatus)> OnStatus;
};

// ---- transcripts for the scripted server ----------------------------------

inline std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

inline const std::vector<std::string> kLogin{"S: 220 test.local ESMTP ready", "C: HELO example.com",
                                             "S: 250 test.local"};

// One accepted message with `recipients` RCPT TO commands.
inline std::vector<std::string> MessageSteps(int recipients)
{
    std::vector<std::string> steps{"C: MAIL FROM:<sender@example.com>", "S: 250 sender ok"};
    for (int i = 0; i < recipients; ++i)
        steps.insert(steps.end(), {"C: RCPT TO:<...>", "S: 250 recipient ok"});
    return Concat({steps, {"C: DATA", "S: 354 go ahead", "D:", "S: 250 queued"}});
}

// A whole session: login, `messages` messages, QUIT.
inline std::vector<std::string> SessionScript(int messages, int recipients)
{
    std::vector<std::string> script = kLogin;
    for (int i = 0; i < messages; ++i)
        script = Concat({script, MessageSteps(recipients)});
    return Concat({script, {"C: QUIT", "S: 221 bye"}});
}

// Lines the client sent that begin with `prefix`.
inline std::vector<std::string> LinesStartingWith(const std::vector<std::string>& lines, const std::string& prefix)
{
    std::vector<std::string> found;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(found),
                 [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
    return found;
}

inline bool AnyLineHolds(const std::vector<std::string>& lines, const std::string& text)
{
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

// The client's lines split into messages (each from MAIL FROM to the lone ".").
inline std::vector<std::vector<std::string>> SplitMessages(const std::vector<std::string>& lines)
{
    std::vector<std::vector<std::string>> messages;
    bool inside = false;
    for (const std::string& line : lines) {
        if (!inside && line.rfind("MAIL FROM:", 0) == 0)
            messages.emplace_back();
        inside = inside || line.rfind("MAIL FROM:", 0) == 0;
        if (inside)
            messages.back().push_back(line);
        inside = inside && line != ".";
    }
    return messages;
}
