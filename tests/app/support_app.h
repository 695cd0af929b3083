// Shared by the application tests: every box, dialog and chooser goes
// through a recording or scripted seam, and files live in a scratch folder.
#pragma once

#include "dialogs.h"
#include "emaildlg.h"
#include "msgbox.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <deque>
#include <functional>

using TLines = std::vector<std::string>;

inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

// The next scripted answer; an unscripted one fails the test and cancels.
template <class T> T Next(std::deque<T>& queue, const char* what)
{
    if (queue.empty())
        return ADD_FAILURE() << "unscripted " << what, T();
    T answer = std::move(queue.front());
    queue.pop_front();
    return answer;
}

inline const char* const kBoxKind[] = {"Error: ", "Warning: ", "Information: "};

// Scripted handlers on every seam for the life of the object; the previous
// ones come back afterwards. Nothing ever waits on a modal loop.
class TSeams {
public:
    using TStep = std::function<int(QDialog&)>;   // empty: the dialog is cancelled
    TSeams()
    {
        Use(SetMessageBoxHandler, [this](const TMessageBox& b) { Boxes.push_back(kBoxKind[int(b.Kind)] + b.Text); });
        Use(SetDialogHandler, [this](QDialog& d) {
            Shown.push_back(d.metaObject()->className());
            const TStep step = Next(Dialogs, "dialog");
            return step ? step(d) : int(QDialog::Rejected);
        });
        Use(SetFileChooserHandler, [this](QWidget*, const TFileChooser& c) {
            return Choosers.push_back(c), Next(Files, "file chooser");
        });
        Use(SetFontHandler, [this](QWidget*, const QFont&) { return Next(Fonts, "font"); });
        Use(SetColorHandler, [this](QWidget*, const QColor&) { return Next(Colors, "colour"); });
        Use(SetEditorHandler, [this](const QString& path) { Edited.push_back(path); });
        Use(SetQuestionHandler, [this](const TQuestion& q) { return Questions.push_back(q), Answer; });
    }
    ~TSeams() { for (const auto& restore : FRestore) restore(); }
    // Works the dialog as a D (shown first), then returns `result`, or with
    // -1 what its buttons left.
    template <class D> static TStep Drive(std::function<void(D&)> drive, int result = -1)
    {
        return [=](QDialog& dialog) {
            dialog.show();
            drive(dynamic_cast<D&>(dialog));   // another dialog: std::bad_cast fails the test
            return result == -1 ? dialog.result() : result;
        };
    }

    TLines Boxes, Shown;   // "Kind: text" of each box; class of each dialog
    std::deque<TStep> Dialogs;
    std::deque<std::optional<QString>> Files;   // nullopt: the user cancels
    std::vector<TFileChooser> Choosers;
    std::deque<std::optional<QFont>> Fonts;
    std::deque<std::optional<QColor>> Colors;
    std::vector<QString> Edited;
    std::vector<TQuestion> Questions;
    std::size_t Answer = 0;   // the button taken in every question

private:
    template <class H>
    void Use(H (*set)(H), std::type_identity_t<H> f) { FRestore.push_back([=, old = set(std::move(f))] { set(old); }); }
    std::vector<std::function<void()>> FRestore;
};

// A temporary folder with files written by the test.
class TScratch : public QTemporaryDir {
public:
    std::string Path(const std::string& name) const { return QPath(name).toStdString(); }
    QString QPath(const std::string& name) const { return filePath(QString::fromStdString(name)); }
    // Writes `content` byte for byte and returns the full path.
    std::string Write(const std::string& name, const std::string& content) const
    {
        QFile file(QPath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(content.data(), qint64(content.size())) == qint64(content.size()));
        return Path(name);
    }
    QString QWrite(const std::string& name, const std::string& content) const { return QString::fromStdString(Write(name, content)); }
    std::string Read(const std::string& name) const
    {
        QFile file(QPath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
    }
    bool Holds(const std::string& name, const std::string& text) const { return Read(name).find(text) != std::string::npos; }
};
