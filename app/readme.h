// The start-up directory, the program's data folder and the help file.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Stores the start-up directory with a trailing "/" unless it is empty or
// already ends in one.
void SetStartDir(const QString& dir);
const QString& StartDir();

// Where the data files (read-me, icon) may be, for a program in
// `programFolder`, most likely first: "../share/tessaly" beside it (an
// installed program, wherever the prefix; the build tree stages its copy
// at the same place for build/app/tessaly), then two folders up (the build
// tree's programs one folder deeper, such as the tests). Nothing is fixed
// when the program is built.
QStringList DataFolderCandidates(const QString& programFolder);
// The path of data file `name`: in the first candidate folder where
// `exists` finds it, else in the first candidate (the installed place).
QString DataFilePath(const QString& name, const QString& programFolder,
                     const std::function<bool(const QString&)>& exists);
// The same for the running program.
QString DataFilePath(const QString& name);

// The help file Help opens: "readme.txt" in the start-up directory, or, when
// there is none there, the one in the data folder.
QString ReadmePath();

// Opens ReadmePath() in the desktop's text editor; the outcome is not
// reported.
void ShowReadme();
