// The start-up directory and the help file kept there.
#pragma once

#include <QString>

// Stores the start-up directory with a trailing "/" unless it is empty or
// already ends in one.
void SetStartDir(const QString& dir);
const QString& StartDir();

// The help file Help opens: "readme.txt" in the start-up directory, or, when
// there is none there, the copy installed with the program.
QString ReadmePath();

// Opens ReadmePath() in the desktop's text editor; the outcome is not
// reported.
void ShowReadme();
