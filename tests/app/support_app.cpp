#include "support_app.h"

#include "emaildlg.h"
#include "mesgdlg.h"

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <gtest/gtest.h>

#include <fstream>
#include <ostream>
#include <sstream>

void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

// ---- seams ----------------------------------------------------------------

namespace {

// The next scripted answer; an unscripted one fails the test and cancels.
template <class T>
T Next(std::deque<T>& queue, const std::string& what)
{
    if (queue.empty()) {
        ADD_FAILURE() << "unscripted " << what;
        return T();
    }
    T answer = std::move(queue.front());
    queue.pop_front();
    return answer;
}

// The dialog as a D, or a failure naming what came instead.
template <class D>
D* Expect(QDialog& dialog)
{
    auto* d = dynamic_cast<D*>(&dialog);
    if (!d)
        ADD_FAILURE() << "unexpected dialog " << dialog.metaObject()->className();
    return d;
}

}

TSeams::TSeams()
{
    FOldBox = SetMessageBoxHandler([this](const TMessageBox& box) {
        Boxes.push_back(box);
        if (OnBox)
            OnBox(box);
    });
    FOldDialog = SetDialogHandler([this](QDialog& dialog) {
        DialogClasses.push_back(dialog.metaObject()->className());
        const TDialogStep step = Next(Dialogs, "dialog " + DialogClasses.back());
        return step ? step(dialog) : int(QDialog::Rejected);
    });
    FOldFile = SetFileChooserHandler([this](QWidget*, const TFileChooser& chooser) {
        Choosers.push_back(chooser);
        return Next(Files, "file chooser " + chooser.Title.toStdString());
    });
    FOldFont = SetFontHandler([this](QWidget*, const QFont&) { return Next(Fonts, "font dialog"); });
    FOldColor = SetColorHandler([this](QWidget*, const QColor&) { return Next(Colors, "colour dialog"); });
    FOldEditor = SetEditorHandler([this](const QString& path) { Edited.push_back(path); });
}

TSeams::~TSeams()
{
    SetMessageBoxHandler(std::move(FOldBox));
    SetDialogHandler(std::move(FOldDialog));
    SetFileChooserHandler(std::move(FOldFile));
    SetFontHandler(std::move(FOldFont));
    SetColorHandler(std::move(FOldColor));
    SetEditorHandler(std::move(FOldEditor));
}

std::vector<std::string> TSeams::BoxTexts() const
{
    std::vector<std::string> texts;
    for (const TMessageBox& box : Boxes)
        texts.push_back(box.Text);
    return texts;
}

TSeams::TDialogStep TSeams::Address(const QString& text, int result, std::function<void(TAddressDlg&)> prepare)
{
    return [this, text, result, prepare](QDialog& dialog) {
        auto* address = Expect<TAddressDlg>(dialog);
        if (!address)
            return int(QDialog::Rejected);
        Prompts.push_back(address->lblPrompt->text());
        if (prepare)
            prepare(*address);
        address->txtEmail->setText(text);
        return result;
    };
}

TSeams::TDialogStep TSeams::Message(int result, std::optional<QString> subject, std::optional<QStringList> lines,
                                    std::function<void(TMsgDlg&)> inspect)
{
    return [result, subject, lines, inspect](QDialog& dialog) {
        auto* message = Expect<TMsgDlg>(dialog);
        if (!message)
            return int(QDialog::Rejected);
        if (inspect)
            inspect(*message);
        if (subject)
            message->txtSubject->setText(*subject);
        if (lines)
            message->SetLines(*lines);
        return result;
    };
}

// ---- files and keys -----------------------------------------------------------

TScratch::TScratch()
{
    EXPECT_TRUE(FDir.isValid());
}

std::string TScratch::Path(const std::string& name) const
{
    return FDir.filePath(QString::fromStdString(name)).toStdString();
}

std::string TScratch::Write(const std::string& name, const std::string& content) const
{
    const std::string path = Path(name);
    std::ofstream out(path, std::ios::binary);
    out << content;
    EXPECT_TRUE(out.good()) << path;
    return path;
}

std::string TScratch::Folder(const std::string& name) const
{
    EXPECT_TRUE(QDir(FDir.path()).mkpath(QString::fromStdString(name)));
    return Path(name);
}

std::string TScratch::Read(const std::string& name) const
{
    std::ifstream in(Path(name), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void PressKey(QWidget* widget, int key, const QString& text)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(widget, &release);
}

void TypeText(QWidget* widget, const QString& text)
{
    for (const QChar c : text)
        PressKey(widget, c.isLetterOrNumber() ? int(c.toUpper().unicode()) : int(c.unicode()), QString(c));
}

std::string IniText(const std::vector<std::string>& setup, const std::vector<std::string>& addresses)
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

// ---- windows ------------------------------------------------------------------

void AppWindowTest::Open(const QStringList& arguments)
{
    window = std::make_unique<TfrmMailTo>(arguments, Ini());
    TSMTP& mailer = window->Mailer;
    mailer.SetFrom("sender@example.com");
    mailer.SetShowResult(false);
    // Small enough that a test whose server stays silent fails fast.
    mailer.SetTimeOut(10);
    window->Run.MsgText = 1;
    window->Run.MsgSubject = 1;
    window->Run.MsgTextFile = scratch.Write("text.txt", "Hello,\r\nthe files.\r\n");
    const TNotifyEvent shown = mailer.OnStatusChange;
    mailer.OnStatusChange = [this, shown, &mailer](QObject* sender) {
        shown(sender);
        Captions.push_back(window->pnlStatus->Caption().toStdString());
        if (mailer.Status() == msSendingCommands)
            Sent.push_back({mailer.Recipient(), mailer.Subject(), mailer.CC().ToVector(), mailer.BCC().ToVector(),
                            mailer.Attachments().ToVector(), mailer.Body().ToVector()});
        if (OnStatus)
            OnStatus(mailer.Status());
    };
}

void AppWindowTest::Fill(const QStringList& entries)
{
    for (const QString& entry : entries)
        window->AddEntry(entry);
}

void AppWindowTest::Attach(const std::vector<std::string>& paths)
{
    window->Mailer.Attachments().Clear();
    for (const std::string& path : paths)
        window->Mailer.Attachments().Add(path);
}

void ShowActive(QWidget& window)
{
    window.show();
    window.activateWindow();
    QApplication::setActiveWindow(&window);
    QCoreApplication::processEvents();
}

void SelectEntries(TfrmMailTo& window, const QStringList& texts)
{
    window.lstAddresses->clearSelection();
    for (const QString& text : texts) {
        const auto found = window.lstAddresses->findItems(text, Qt::MatchExactly);
        ASSERT_FALSE(found.isEmpty()) << text.toStdString();
        found.first()->setSelected(true);
    }
}

QStringList SelectedEntries(const TfrmMailTo& window)
{
    QStringList texts;
    for (const QListWidgetItem* item : window.lstAddresses->selectedItems())
        texts << item->text();
    return texts;
}

// ---- transcripts ----------------------------------------------------------------

std::vector<std::string> LoginSteps()
{
    return {"S: 220 test.local ESMTP ready", "C: HELO example.com", "S: 250 test.local"};
}

std::vector<std::string> MessageSteps(int recipients)
{
    std::vector<std::string> steps{"C: MAIL FROM:<sender@example.com>", "S: 250 sender ok"};
    for (int i = 0; i < recipients; ++i)
        steps.insert(steps.end(), {"C: RCPT TO:<...>", "S: 250 recipient ok"});
    steps.insert(steps.end(), {"C: DATA", "S: 354 go ahead", "D:", "S: 250 queued"});
    return steps;
}

std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

std::vector<std::string> SessionScript(int messages, int recipients)
{
    std::vector<std::string> script = LoginSteps();
    for (int i = 0; i < messages; ++i)
        script = Concat({script, MessageSteps(recipients)});
    return Concat({script, {"C: QUIT", "S: 221 bye"}});
}

std::vector<std::string> LinesStartingWith(const std::vector<std::string>& lines, const std::string& prefix)
{
    std::vector<std::string> found;
    for (const std::string& line : lines)
        if (line.rfind(prefix, 0) == 0)
            found.push_back(line);
    return found;
}

bool AnyLineHolds(const std::vector<std::string>& lines, const std::string& text)
{
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

std::vector<std::vector<std::string>> SplitMessages(const std::vector<std::string>& lines)
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
