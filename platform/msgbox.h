// Message boxes, reached through one seam.
//
// The transport (which has no widgets) and the application both show their
// boxes through ShowMessageBox. The application installs a handler that
// opens a real QMessageBox; tests install one that records the box and
// returns at once, so no test ever waits on a modal loop. Without a handler
// (command-line tools) the box is written to standard error.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

enum class TMsgKind { Error, Warning, Information };

struct TMessageBox {
    TMsgKind Kind;
    std::string Title;
    std::string Text;
};

using TMessageBoxHandler = std::function<void(const TMessageBox&)>;

// Installs `handler` and returns the one it replaces.
TMessageBoxHandler SetMessageBoxHandler(TMessageBoxHandler handler);

// Shows a modal box with one OK button and returns when it is closed.
void ShowMessageBox(TMsgKind kind, const std::string& title, const std::string& text);

// A question with buttons of its own, answered with the index of the
// chosen button. Esc and the close box give `Cancel`, which is also the
// default button, so a hasty Enter takes the safe way.
struct TQuestion {
    TMsgKind Kind;
    std::string Title;
    std::string Text;
    std::vector<std::string> Buttons;   // captions; "&" marks the key
    std::size_t Cancel = 0;
};
using TQuestionHandler = std::function<std::size_t(const TQuestion&)>;
TQuestionHandler SetQuestionHandler(TQuestionHandler handler);
// Without a handler (command-line tools) the question is written to
// standard error and answered with `Cancel`.
std::size_t AskQuestion(const TQuestion& question);

// The program's own boxes: titled by their kind ("Error", "Warning",
// "Information").
void MessageDlg(TMsgKind kind, const std::string& text);

// The standard error box for a failure that no handler caught: titled with
// the application title, the failure's message followed by a full stop.
void ShowStandardError(const std::string& message);

// The least width of a box so that its title bar shows the whole title:
// `titleWidth` is the title's width in pixels in the title bar's font; the
// bar also holds the window menu, the close button and the frame's margins.
inline constexpr int kTitleBarExtra = 120;
inline int BoxWidthForTitle(int titleWidth) { return titleWidth + kTitleBarExtra; }

void SetApplicationTitle(const std::string& title);
const std::string& ApplicationTitle();
