// Scripted seams for the dialog tests: message boxes are recorded, file
// choosers answer from a queue, the text editor records what it was asked
// to open, and a modal dialog runs a test function instead of a modal loop.
#pragma once

#include "dialogs.h"
#include "msgbox.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QWidget>

#include <deque>
#include <functional>
#include <optional>
#include <vector>

class TDlgSeams {
public:
    TDlgSeams()
    {
        FOldBox = SetMessageBoxHandler([this](const TMessageBox& box) { Boxes.push_back(box); });
        FOldChooser = SetFileChooserHandler([this](QWidget*, const TFileChooser& chooser) {
            Choosers.push_back(chooser);
            if (ChooserAnswers.empty())
                return std::optional<QString>();
            auto answer = ChooserAnswers.front();
            ChooserAnswers.pop_front();
            return answer;
        });
        FOldEditor = SetEditorHandler([this](const QString& path) { Edited.push_back(path); });
        FOldDialog = SetDialogHandler([this](QDialog& dialog) {
            ++DialogsShown;
            dialog.show();
            if (OnDialog)
                OnDialog(dialog);
            return dialog.result();
        });
    }
    ~TDlgSeams()
    {
        SetMessageBoxHandler(FOldBox);
        SetFileChooserHandler(FOldChooser);
        SetEditorHandler(FOldEditor);
        SetDialogHandler(FOldDialog);
    }
    TDlgSeams(const TDlgSeams&) = delete;
    TDlgSeams& operator=(const TDlgSeams&) = delete;

    std::vector<TMessageBox> Boxes;
    std::vector<TFileChooser> Choosers;
    std::deque<std::optional<QString>> ChooserAnswers;   // empty: the user cancels
    std::vector<QString> Edited;
    // Runs while the dialog is "modal"; what it leaves in dialog.result()
    // is the dialog's result.
    std::function<void(QDialog&)> OnDialog;
    int DialogsShown = 0;

private:
    TMessageBoxHandler FOldBox;
    TFileChooserHandler FOldChooser;
    TEditorHandler FOldEditor;
    TDialogHandler FOldDialog;
};

// Presses and releases one key on `widget`, as the keyboard would.
inline void PressKey(QWidget* widget, int key, const QString& text = QString(),
                     Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QApplication::sendEvent(widget, &release);
}

// Types `text` into `widget` one character at a time.
inline void TypeText(QWidget* widget, const QString& text)
{
    for (const QChar c : text) {
        const int key = c.isLetterOrNumber() ? int(c.toUpper().unicode()) : int(c.unicode());
        PressKey(widget, key, QString(c));
    }
}
