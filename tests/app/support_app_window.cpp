#include "support_app_window.h"

#include "emaildlg.h"
#include "mesgdlg.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <gtest/gtest.h>

#include <fstream>
#include <ostream>
#include <sstream>

void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

// ---- seams ----------------------------------------------------------------

TSeams::TSeams()
{
    FOldBox = SetMessageBoxHandler([this](const TMessageBox& box) {
        Boxes.push_back(box);
        if (OnBox)
            OnBox(box);
    });
    FOldDialog = SetDialogHandler([this](QDialog& dialog) {
        DialogClasses.push_back(dialog.metaObject()->className());
        if (Dialogs.empty()) {
            ADD_FAILURE() << "unscripted dialog " << dialog.metaObject()->className();
            return int(QDialog::Rejected);
        }
        const TDialogStep step = std::move(Dialogs.front());
        Dialogs.pop_front();
        return step(dialog);
    });
    FOldFile = SetFileChooserHandler([this](QWidget*, const TFileChooser& chooser) -> std::optional<QString> {
        Choosers.push_back(chooser);
        if (Files.empty()) {
            ADD_FAILURE() << "unscripted file chooser " << chooser.Title.toStdString();
            return std::nullopt;
        }
        const bool picked = Files.front().has_value();
        const QString path = picked ? *Files.front() : QString();
        Files.pop_front();
        return picked ? std::optional<QString>(path) : std::nullopt;
    });
    FOldFont = SetFontHandler([this](QWidget*, const QFont&) -> std::optional<QFont> {
        if (Fonts.empty()) {
            ADD_FAILURE() << "unscripted font dialog";
            return std::nullopt;
        }
        auto answer = Fonts.front();
        Fonts.pop_front();
        return answer;
    });
    FOldColor = SetColorHandler([this](QWidget*, const QColor&) -> std::optional<QColor> {
        if (Colors.empty()) {
            ADD_FAILURE() << "unscripted colour dialog";
            return std::nullopt;
        }
        auto answer = Colors.front();
        Colors.pop_front();
        return answer;
    });
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
        auto* address = dynamic_cast<TAddressDlg*>(&dialog);
        if (!address) {
            ADD_FAILURE() << "expected the address dialog, got " << dialog.metaObject()->className();
            return int(QDialog::Rejected);
        }
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
        auto* message = dynamic_cast<TMsgDlg*>(&dialog);
        if (!message) {
            ADD_FAILURE() << "expected the message dialog, got " << dialog.metaObject()->className();
            return int(QDialog::Rejected);
        }
        if (inspect)
            inspect(*message);
        if (subject)
            message->txtSubject->setText(*subject);
        if (lines)
            message->SetLines(*lines);
        return result;
    };
}

TSeams::TDialogStep TSeams::Any(int result)
{
    return [result](QDialog&) { return result; };
}

// ---- files ------------------------------------------------------------------

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

std::string IniText(const std::vector<std::string>& setup, const std::vector<std::string>& addresses)
{
    std::string text = "[Setup]\r\n";
    for (const std::string& line : setup)
        text += line + "\r\n";
    if (!addresses.empty()) {
        text += "[Addresses]\r\n";
        for (std::size_t i = 0; i < addresses.size(); ++i)
            text += "anAddress" + std::to_string(i) + "=" + addresses[i] + "\r\n";
    }
    return text;
}

// ---- windows ------------------------------------------------------------------

std::unique_ptr<TfrmMailTo> MakeWindow(const std::string& iniPath, const QStringList& arguments)
{
    return std::make_unique<TfrmMailTo>(arguments, iniPath);
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
    for (int row = 0; row < window.lstAddresses->count(); ++row)
        if (window.lstAddresses->item(row)->isSelected())
            texts << window.lstAddresses->item(row)->text();
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
    for (int i = 0; i < recipients; ++i) {
        steps.push_back("C: RCPT TO:<...>");
        steps.push_back("S: 250 recipient ok");
    }
    for (const char* step : {"C: DATA", "S: 354 go ahead", "D:", "S: 250 queued"})
        steps.push_back(step);
    return steps;
}

std::vector<std::string> LogoutSteps()
{
    return {"C: QUIT", "S: 221 bye"};
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
    for (int i = 0; i < messages; ++i) {
        const auto message = MessageSteps(recipients);
        script.insert(script.end(), message.begin(), message.end());
    }
    const auto logout = LogoutSteps();
    script.insert(script.end(), logout.begin(), logout.end());
    return script;
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
    for (const std::string& line : lines)
        if (line.find(text) != std::string::npos)
            return true;
    return false;
}

std::vector<std::vector<std::string>> SplitMessages(const std::vector<std::string>& lines)
{
    std::vector<std::vector<std::string>> messages;
    bool inside = false;
    for (const std::string& line : lines) {
        if (!inside && line.rfind("MAIL FROM:", 0) == 0) {
            messages.emplace_back();
            inside = true;
        }
        if (!inside)
            continue;
        messages.back().push_back(line);
        if (line == ".")
            inside = false;
    }
    return messages;
}
