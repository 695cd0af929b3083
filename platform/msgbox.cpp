#include "msgbox.h"

#include <cstdio>
#include <utility>

namespace {
TMessageBoxHandler& Handler()
{
    static TMessageBoxHandler handler;
    return handler;
}
TQuestionHandler& QuestionHandler()
{
    static TQuestionHandler handler;
    return handler;
}
std::string& Title()
{
    static std::string title = "Tessaly";
    return title;
}
const char* KindTitle(TMsgKind kind)
{
    switch (kind) {
    case TMsgKind::Error: return "Error";
    case TMsgKind::Warning: return "Warning";
    case TMsgKind::Information: return "Information";
    }
    return "";
}
}

TMessageBoxHandler SetMessageBoxHandler(TMessageBoxHandler handler)
{
    return std::exchange(Handler(), std::move(handler));
}

void ShowMessageBox(TMsgKind kind, const std::string& title, const std::string& text)
{
    if (Handler()) {
        Handler()(TMessageBox{kind, title, text});
        return;
    }
    std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
}

TQuestionHandler SetQuestionHandler(TQuestionHandler handler)
{
    return std::exchange(QuestionHandler(), std::move(handler));
}

std::size_t AskQuestion(const TQuestion& question)
{
    if (QuestionHandler())
        return QuestionHandler()(question);
    std::fprintf(stderr, "%s: %s\n", question.Title.c_str(), question.Text.c_str());
    return question.Cancel;
}

void MessageDlg(TMsgKind kind, const std::string& text)
{
    ShowMessageBox(kind, KindTitle(kind), text);
}

void ShowStandardError(const std::string& message)
{
    std::string text = message;
    if (text.empty() || text.back() != '.')
        text += '.';
    ShowMessageBox(TMsgKind::Error, Title(), text);
}

void SetApplicationTitle(const std::string& title)
{
    Title() = title;
}

const std::string& ApplicationTitle()
{
    return Title();
}
