// Unit1: the mailing run. One run takes the files in Mailer.Attachments
// (or those named on the command line), the recipients from the selected
// entries, and sends everything in one SMTP session.
#include "unit1.h"

#include "dialogs.h"
#include "emaildlg.h"
#include "mesgdlg.h"
#include "msgbox.h"
#include "setpdlg.h"
#include "textcodec.h"

#include <QDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <algorithm>

namespace {
const char* const kSetupFirst = "Please setup default message options \r\nand then try again.";
const char* const kRecipientPrompt = "Enter recipient or list to mail to:";
const char* const kPerFileSubject = "File: ";
}

// ---- the run -----------------------------------------------------------------

void TfrmMailTo::SendMail()
{
    // The mailer holds one session at a time: a second request is ignored.
    if (FTransferActive)
        return;
    FTransferActive = true;
    const bool panelWasVisible = !pnlControl->isHidden();
    const bool listHadFocus = lstAddresses->hasFocus();
    pnlControl->hide();
    lstAddresses->setEnabled(false);

    std::string failure;
    bool failed = false;
    try {
        RunSteps();
    } catch (const std::exception& e) {
        failed = true;
        failure = e.what();
    } catch (...) {
        failed = true;
        failure = "Unknown failure";
    }
    RestoreAfterRun(panelWasVisible);
    // Disabling the list took its focus away; its keys should work again.
    if (listHadFocus)
        lstAddresses->setFocus();
    // A failure of no transport kind goes to the general error report, once
    // the window is usable again.
    if (failed)
        ShowStandardError(failure);
    // A start with arguments performs exactly one run, whatever its outcome.
    if (!FArguments.isEmpty())
        close();
}

void TfrmMailTo::RunSteps()
{
    Mailer.BCC().Clear();
    Mailer.CC().Clear();
    Mailer.SetRecipient(GetRecipients(Run.UseBCC ? Mailer.BCC() : Mailer.CC()));
    Mailer.SetSubject(GetSubject());
    LoadMsgText(Mailer.Body());

    if (Mailer.Server().empty() || Mailer.From().empty()) {
        MessageDlg(TMsgKind::Information, kSetupFirst);
        // Nothing is sent now, whatever the user sets up: the next run uses it.
        ShowSetup(this, Mailer, Run);
        return;
    }
    if (Mailer.Recipient().empty() && !AskRecipient())
        return;
    // A run without files always asks, so that a bare message gets a text.
    const bool prompt = Run.MsgText == 0 || Run.MsgSubject == 0 || Mailer.Attachments().Empty();
    if (prompt && !PromptMessage())
        return;
    RunSession();
}

void TfrmMailTo::RunSession()
{
    pnlSending->show();
    FCancelKey->setEnabled(true);
    const TStrings files = Mailer.Attachments();   // the run's file list
    try {
        try {
            Mailer.Open();
            Mailer.Login();
            TransmitAll(files);
            Mailer.Logout();
        } catch (...) {
            // No QUIT after a failure: only the socket is closed.
            Mailer.Close();
            throw;
        }
        Mailer.Close();
    } catch (const EMailError& e) {
        MessageDlg(TMsgKind::Error, std::string("Mail error (check setup):\r\n") + e.what());
    } catch (const ESocketError& e) {
        MessageDlg(TMsgKind::Error, std::string("Socket error (check setup and try again):\r\n") + e.what());
    } catch (const ETimedOutError& e) {
        MessageDlg(TMsgKind::Error, std::string("Connection timed out:\r\n") + e.what());
    } catch (const ECanceledError& e) {
        if (Mailer.ShowResult())
            MessageDlg(TMsgKind::Error, std::string("Send aborted:\r\n") + e.what());
    }
    FCancelKey->setEnabled(false);
    pnlSending->hide();
}

void TfrmMailTo::TransmitAll(const TStrings& files)
{
    if (!Run.OneFilePerMsg || files.Count() < 2) {
        Mailer.Transmit();
        return;
    }
    for (std::string_view file : files) {
        Mailer.Attachments().Clear();
        if (Run.MsgSubject == 1)
            Mailer.SetSubject(kPerFileSubject + Utf8Left(ExtractFileName(std::string(file)), 255));
        Mailer.Attachments().Add(file);
        Mailer.Transmit();
    }
}

void TfrmMailTo::RestoreAfterRun(bool panelWasVisible)
{
    Mailer.Body().Clear();
    Mailer.SetSubject({});
    Mailer.Attachments().Clear();
    Mailer.CC().Clear();
    Mailer.BCC().Clear();
    FCancelKey->setEnabled(false);
    pnlSending->hide();
    pnlControl->setVisible(panelWasVisible);
    lstAddresses->setEnabled(true);
    FTransferActive = false;
}

// ---- recipients ------------------------------------------------------------------

std::string TfrmMailTo::GetRecipients(TStrings& List)
{
    List.Clear();
    std::string result;
    bool first = true;   // shared by the whole pass
    if (!FArguments.isEmpty())
        CommandLineRecipients(first, result, List);
    else
        SelectedRecipients(first, result, List);
    return result;
}

void TfrmMailTo::AddRecipient(const std::string& address, bool& first, std::string& result, TStrings& list)
{
    if (first) {
        result = address;
        first = false;
    } else {
        list.Add(address);
    }
}

void TfrmMailTo::CommandLineRecipients(bool& first, std::string& result, TStrings& list)
{
    Mailer.Attachments().Clear();
    for (const QString& argument : FArguments) {
        const std::string text = argument.toStdString();
        if (text.find('@') != std::string::npos) {
            AddRecipient(text, first, result, list);
        } else if (IsExistingFile(text)) {
            // Kept absolute: a file chooser opened during the run moves the
            // working directory.
            Mailer.Attachments().Add(QFileInfo(argument).absoluteFilePath().toStdString());
        }
    }
}

void TfrmMailTo::SelectedRecipients(bool& first, std::string& result, TStrings& list)
{
    for (int row = 0; row < lstAddresses->count(); ++row) {
        const QListWidgetItem* item = lstAddresses->item(row);
        if (!item->isSelected())
            continue;
        const std::string entry = item->text().toStdString();
        if (entry.find('@') != std::string::npos) {
            AddRecipient(entry, first, result, list);
        } else if (IsExistingFile(entry)) {
            // An address-list file: every line that holds an address.
            for (const std::string& line : ReadAddressLines(item->text()))
                AddRecipient(line, first, result, list);
        }
    }
}

std::vector<std::string> ReadAddressLines(const QString& path)
{
    // A blank line would become the empty path "RCPT TO:<>", which servers
    // refuse (RFC 5321 allows it only in MAIL FROM), and so fail the whole
    // run; it names no recipient and is passed over.
    std::vector<std::string> addresses;
    if (const auto lines = ReadTextLines(path))
        for (const std::string& line : *lines)
            if (line.find_first_not_of(" \t") != std::string::npos)
                addresses.push_back(line);
    return addresses;
}

bool TfrmMailTo::AskRecipient()
{
    TAddressDlg dialog(this);
    dialog.lblPrompt->setText(QString::fromLatin1(kRecipientPrompt));
    dialog.txtEmail->clear();
    dialog.btnBrowse->setEnabled(true);
    dialog.btnAddtolist->setVisible(true);
    dialog.OnAddToList = [this](const QString& text) { AddEntry(text); };
    if (ExecDialog(dialog) != QDialog::Accepted)
        return false;

    const QString entered = dialog.txtEmail->text();
    std::string recipient;
    std::vector<std::string> further;
    if (IsExistingFile(entered.toStdString())) {
        if (const auto lines = ReadAddressLines(entered); !lines.empty()) {
            recipient = lines.front();
            further.assign(lines.begin() + 1, lines.end());
        }
    } else {
        recipient = entered.toStdString();
    }
    Mailer.SetRecipient(recipient);
    TStrings& copies = Run.UseBCC ? Mailer.BCC() : Mailer.CC();
    for (const std::string& line : further)
        copies.Add(line);
    // An entry added with "&Add To List" takes its sorted place.
    ReSort();
    return true;
}

// ---- subject and text ---------------------------------------------------------------

std::string TfrmMailTo::GetSubject()
{
    switch (Run.MsgSubject) {
    case 1: return SubjectFromFiles(Mailer.Attachments());
    case 2: return Run.MsgSubjectDef;
    default: return {};
    }
}

void TfrmMailTo::LoadMsgText(TStrings& List)
{
    List.Clear();
    if (Run.MsgText != 0 && Run.MsgText != 1)
        return;
    if (!IsExistingFile(Run.MsgTextFile))
        return;
    // The file is read again at every run, so edits to it count at once.
    if (const auto lines = ReadTextLines(QString::fromStdString(Run.MsgTextFile)))
        for (const std::string& line : *lines)
            List.Add(line);
}

bool TfrmMailTo::PromptMessage()
{
    TMsgDlg dialog(this);
    dialog.txtSubject->setText(QString::fromStdString(GetSubject()));
    dialog.txtSubject->setEnabled(true);
    TStrings text;
    LoadMsgText(text);
    QStringList lines;
    for (std::string_view line : text)
        lines << DecodeText(line);
    dialog.SetLines(lines);
    if (ExecDialog(dialog) != QDialog::Accepted)
        return false;

    Mailer.SetSubject(dialog.txtSubject->text().toStdString());
    Mailer.Body().Clear();
    for (const QString& line : dialog.Lines())
        Mailer.Body().Add(line.toStdString());
    return true;
}

// ---- the mailer's reports and Cancel ---------------------------------------------------

void TfrmMailTo::MailerStatusChange(QObject* /*Sender*/)
{
    const QString text = StatusText(Mailer.Status());
    if (pnlStatus->Caption() != text)
        pnlStatus->SetCaption(text);
}

void TfrmMailTo::MailerProgress(QObject* /*Sender*/)
{
    prcMeter->setValue(std::clamp(Mailer.Progress(), 0, 100));
}

void TfrmMailTo::btnCancelClick()
{
    Mailer.Cancel();
}
