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

void TfrmMailTo::AddLinkRecipients(bool& first, std::string& result, TStrings& list)
{
    if (!FLink)
        return;
    for (const std::string& to : FLink->To)
        AddRecipient(to, first, result, list);
    // The link says which copies are blind; UseBCC decides only for the
    // further To addresses, as for every other argument.
    for (const std::string& cc : FLink->CC)
        Mailer.CC().Add(cc);
    for (const std::string& bcc : FLink->BCC)
        Mailer.BCC().Add(bcc);
    for (const std::string& file : FLink->Attachments)
        if (IsExistingFile(file))
            Mailer.Attachments().Add(QFileInfo(QString::fromStdString(file)).absoluteFilePath().toStdString());
}

QStringList TfrmMailTo::RunSummary() const
{
    QStringList lines;
    const auto add = [&lines](const char* label, std::string_view value) {
        lines << QString::fromLatin1(label) + QString::fromStdString(DisplayAddress(value));
    };
    if (!Mailer.Recipient().empty())
        add("To: ", Mailer.Recipient());
    for (std::string_view cc : Mailer.CC())
        add("Cc: ", cc);
    for (std::string_view bcc : Mailer.BCC())
        add("Bcc: ", bcc);
    for (std::string_view file : Mailer.Attachments())
        lines << QStringLiteral("File: ") + QString::fromStdString(std::string(file));
    // A file the link names that does not exist is not sent; say so, so
    // that nobody believes it went out.
    if (FLink)
        for (const std::string& file : FLink->Attachments)
            if (!IsExistingFile(file))
                lines << QStringLiteral("Not found, not sent: ") + QString::fromStdString(file);
    return lines;
}
