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
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

using TLines = std::vector<std::string>;

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
        Install(SetMessageBoxHandler, [this](const TMessageBox& box) {
            Boxes.push_back(box);
            if (OnBox)
                OnBox(box);
        });
        Install(SetDialogHandler, [this](QDialog& dialog) {
            DialogClasses.push_back(dialog.metaObject()->className());
            const TDialogStep step = NextAnswer(Dialogs, "dialog " + DialogClasses.back());
            return step ? step(dialog) : int(QDialog::Rejected);
        });
        Install(SetFileChooserHandler, [this](QWidget*, const TFileChooser& chooser) {
            Choosers.push_back(chooser);
            return NextAnswer(Files, "file chooser " + chooser.Title.toStdString());
        });
        Install(SetFontHandler, [this](QWidget*, const QFont&) { return NextAnswer(Fonts, "font dialog"); });
        Install(SetColorHandler, [this](QWidget*, const QColor&) { return NextAnswer(Colors, "colour dialog"); });
        Install(SetEditorHandler, [this](const QString& path) { Edited.push_back(path); });
    }
    ~TSeams()
    {
        for (auto restore = FRestore.rbegin(); restore != FRestore.rend(); ++restore)
            (*restore)();
    }

    std::vector<TMessageBox> Boxes;
    std::function<void(const TMessageBox&)> OnBox;   // runs after recording
    std::deque<TDialogStep> Dialogs;          // one step per dialog, in order
    TLines DialogClasses;                     // class name of each dialog shown
    std::vector<QString> Prompts;             // prompt of each address dialog
    std::deque<std::optional<QString>> Files; // nullopt: the user cancels
    std::vector<TFileChooser> Choosers;
    std::deque<std::optional<QFont>> Fonts;
    std::deque<std::optional<QColor>> Colors;
    std::vector<QString> Edited;

    TLines BoxTexts() const
    {
        TLines texts;
        for (const TMessageBox& box : Boxes)
            texts.push_back(box.Text);
        return texts;
    }

    // Lets `drive` work the dialog's controls as a D, then returns `result`;
    // with kShown the dialog is shown first and what its buttons left in
    // result() is returned.
    static constexpr int kShown = -1;
    template <class D>
    static TDialogStep Drive(std::function<void(D&)> drive, int result = kShown)
    {
        return [result, drive](QDialog& dialog) {
            auto* d = dynamic_cast<D*>(&dialog);
            EXPECT_NE(d, nullptr) << dialog.metaObject()->className();
            if (!d)
                return int(QDialog::Rejected);
            if (result == kShown)
                dialog.show();
            drive(*d);
            return result == kShown ? dialog.result() : result;
        };
    }
    // The address dialog: records its prompt, runs `prepare` (may press
    // "&Add To List"), then types `text` and returns `result`.
    TDialogStep Address(const QString& text, int result = QDialog::Accepted,
                        std::function<void(TAddressDlg&)> prepare = {})
    {
        return Drive<TAddressDlg>([this, text, prepare](TAddressDlg& d) {
            Prompts.push_back(d.lblPrompt->text());
            if (prepare)
                prepare(d);
            d.txtEmail->setText(text);
        }, result);
    }
    static TDialogStep Any(int result) { return [result](QDialog&) { return result; }; }

private:
    // Puts `handler` on the seam that `set` serves; the old one comes back
    // with the destructor.
    template <class H>
    void Install(H (*set)(H), std::type_identity_t<H> handler)
    {
        FRestore.push_back([set, old = set(std::move(handler))]() mutable { set(std::move(old)); });
    }
    std::vector<std::function<void()>> FRestore;
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
        QFile file(QPath(name));
        const qint64 size = qint64(content.size());
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(content.data(), size) == size) << name;
        return Path(name);
    }
    QString QWrite(const std::string& name, const std::string& content) const
    {
        return QString::fromStdString(Write(name, content));
    }
    std::string Read(const std::string& name) const
    {
        QFile file(QPath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
    }
    bool Holds(const std::string& name, const std::string& text) const
    {
        return Read(name).find(text) != std::string::npos;
    }

private:
    QTemporaryDir FDir;
};

// The widgets of `known` in the order of the focus chain, from the first.
inline std::vector<QWidget*> FocusChain(const std::vector<QWidget*>& known)
{
    std::vector<QWidget*> chain;
    QWidget* w = known.front();
    do {
        if (std::find(known.begin(), known.end(), w) != known.end())
            chain.push_back(w);
        w = w->nextInFocusChain();
    } while (w != known.front() && chain.size() <= known.size());
    return chain;
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

// What the mailer held when a message went out.
struct TSent {
    std::string Recipient, Subject;
    TLines CC, BCC, Attachments, Body;
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
        window = std::make_unique<TfrmMailTo>(arguments, scratch.Path("tessaly.ini"));
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
    // Starts a scripted server for the life of the test and delivers to it.
    TFakeSMTPServer& Serve(TLines script)
    {
        servers.push_back(std::make_unique<TFakeSMTPServer>(std::move(script)));
        window->Mailer.SetServer(servers.back()->Address());
        Sent.clear();
        return *servers.back();
    }
    // Adds `entries`, selects `selected` of all entries and attaches one
    // file, ready for a run.
    void Select(const QStringList& entries, const QStringList& selected)
    {
        for (const QString& entry : entries)
            window->AddEntry(entry);
        SelectEntries(*window, selected);
        Attach({scratch.Write("plan.txt", "plan")});
    }
    void Attach(const TLines& paths)
    {
        window->Mailer.Attachments().Clear();
        for (const std::string& path : paths)
            window->Mailer.Attachments().Add(path);
    }
    // What a finished run puts back.
    void ExpectRestored()
    {
        EXPECT_FALSE(window->TransferActive());
        EXPECT_FALSE(window->pnlControl->isHidden());
        EXPECT_TRUE(window->pnlSending->isHidden());
        EXPECT_TRUE(window->lstAddresses->isEnabled());
        const TSMTP& m = window->Mailer;
        EXPECT_TRUE(m.Attachments().Empty() && m.Body().Empty() && m.CC().Empty() && m.BCC().Empty());
        EXPECT_EQ(m.Subject(), "");
    }

    TSeams seams;
    TScratch scratch;
    std::vector<std::unique_ptr<TFakeSMTPServer>> servers;
    std::unique_ptr<TfrmMailTo> window;
    std::vector<TSent> Sent;   // at each msSendingCommands
    TLines Captions;           // the status line after each report
    std::function<void(TMailStatus)> OnStatus;
};

// ---- transcripts for the scripted server ----------------------------------

// A whole session: login, `messages` messages with `recipients` RCPT TO
// each, QUIT.
inline TLines SessionScript(int messages, int recipients)
{
    TLines script{"S: 220 test.local ESMTP ready", "C: EHLO example.com", "S: 250 test.local"};
    for (int i = 0; i < messages; ++i) {
        script.insert(script.end(), {"C: MAIL FROM:<sender@example.com>", "S: 250 sender ok"});
        for (int r = 0; r < recipients; ++r)
            script.insert(script.end(), {"C: RCPT TO:<...>", "S: 250 recipient ok"});
        script.insert(script.end(), {"C: DATA", "S: 354 go ahead", "D:", "S: 250 queued"});
    }
    script.insert(script.end(), {"C: QUIT", "S: 221 bye"});
    return script;
}

// Lines the client sent that begin with `prefix`.
inline TLines Starting(const TFakeSMTPServer& server, const std::string& prefix)
{
    TLines found;
    for (const std::string& line : server.Received())
        if (line.rfind(prefix, 0) == 0)
            found.push_back(line);
    return found;
}
inline std::size_t Count(const TFakeSMTPServer& server, const std::string& prefix)
{
    return Starting(server, prefix).size();
}
