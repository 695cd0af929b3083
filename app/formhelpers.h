// Small pieces that the program's forms share.
#pragma once

#include "dialogs.h"
#include "msgbox.h"
#include "profile.h"

#include <QLatin1String>
#include <QString>
#include <utility>

// A new widget carrying the object name it has on its form.
template <typename T, typename... Args>
T* Named(const char* name, Args&&... args)
{
    T* widget = new T(std::forward<Args>(args)...);
    widget->setObjectName(QLatin1String(name));
    return widget;
}

// The chooser behind every Open and Browse button: all files first, then
// text files; it starts in the current folder and takes an existing file.
inline TFileChooser OpenTextChooser(const QString& title)
{
    TFileChooser chooser;
    chooser.ChooserKind = TFileChooser::Open;
    chooser.Title = title;
    chooser.Filter = QStringLiteral("All files (*.*)|*.*|Text files (*.txt)|*.txt");
    chooser.InitialDir = QStringLiteral(".");
    chooser.MustExist = true;
    return chooser;
}

// A text that the settings file could not give back whole is refused where
// it is entered, with a message, instead of losing its end at the next
// start.
inline bool FitsTheSettings(const QString& text)
{
    static_assert(kMaxProfileValue == 1023, "the message names the limit");
    if (FitsProfileValue(text.toStdString()))
        return true;
    MessageDlg(TMsgKind::Error, "Entry is too long: the settings file keeps at most 1023 characters of it.");
    return false;
}
