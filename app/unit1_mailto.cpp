// Unit1: runs started from mailto: links. A link only fills in the run; the
// message dialog always asks before anything is sent, listing every
// recipient and every file, because a web page can hand the desktop a link
// that attaches any file of the user's.
#include "unit1.h"

#include <QFileInfo>

std::optional<TMailtoLink> LinkFromArguments(const QStringList& arguments)
{
    std::optional<TMailtoLink> link;
    for (const QString& argument : arguments) {
        const std::string text = argument.toStdString();
        if (!IsMailtoUrl(text))
            continue;
        if (!link)
            link.emplace();
        link->Merge(ParseMailto(text));
    }
    return link;
}

void TfrmMailTo::TakeLink(TMailingRun& run) const
{
    if (!FLink)
        return;
    // A link (from a web page, perhaps) never sends without confirmation.
    run.AlwaysPrompt = true;
    // The addresses among the other arguments come first, then the link's
    // To; the first is the recipient, UseBCC decides for the further ones.
    // The link itself says which of its copies are blind.
    std::vector<std::string> to;
    for (const std::string& argument : run.Arguments)
        if (argument.find('@') != std::string::npos && !QFileInfo::exists(QString::fromStdString(argument)))
            to.push_back(argument);
    to.insert(to.end(), FLink->To.begin(), FLink->To.end());
    TGivenMessage given{to.empty() ? std::string() : to.front(), {}, {}, FLink->Subject, FLink->Body};
    for (std::size_t i = 1; i < to.size(); ++i)
        (Run.UseBCC ? given.BCC : given.CC).push_back(to[i]);
    given.CC.insert(given.CC.end(), FLink->CC.begin(), FLink->CC.end());
    given.BCC.insert(given.BCC.end(), FLink->BCC.begin(), FLink->BCC.end());
    run.Given = std::move(given);
    for (const std::string& file : FLink->Attachments)
        if (IsExistingFile(file))
            run.Arguments.push_back(file);
}

QStringList TfrmMailTo::RunSummary(const TMessageDraft& draft) const
{
    QStringList lines;
    const auto add = [&lines](const char* label, std::string_view value) {
        lines << QString::fromLatin1(label) + QString::fromStdString(DisplayAddress(value));
    };
    if (!draft.Recipient.empty())
        add("To: ", draft.Recipient);
    for (const std::string& cc : draft.CC)
        add("Cc: ", cc);
    for (const std::string& bcc : draft.BCC)
        add("Bcc: ", bcc);
    for (const std::string& file : draft.Attachments)
        lines << QStringLiteral("File: ") + QString::fromStdString(file);
    // A file the link names that does not exist is not sent; say so, so
    // that nobody believes it went out.
    if (FLink)
        for (const std::string& file : FLink->Attachments)
            if (!IsExistingFile(file))
                lines << QStringLiteral("Not found, not sent: ") + QString::fromStdString(file);
    return lines;
}
