// Unit1: the window's side of the mailing run. TMailingRun holds the rules;
// the window hides and restores its panels, answers the run's prompts with
// its dialogs and shows the mailer's reports.
#include "unit1.h"

#include "dialogs.h"
#include "emaildlg.h"
#include "mesgdlg.h"
#include "setpdlg.h"
#include "textcodec.h"

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <algorithm>
#include <cstdio>

namespace {
const char* const kRecipientPrompt = "Enter recipient or list to mail to:";
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
    TRunOutcome outcome = TRunOutcome::Failed;
    try {
        outcome = MakeRun()->Execute();
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
    // A start with arguments performs exactly one run, whatever its outcome;
    // a script learns from the exit status whether it sent.
    if (!FArguments.isEmpty()) {
        FExitCode = outcome == TRunOutcome::Sent ? 0 : kExitFailed;
        close();
    }
}

std::unique_ptr<TMailingRun> TfrmMailTo::MakeRun()
{
    auto run = std::make_unique<TMailingRun>(Mailer, Run);
    for (const QString& argument : FArguments)
        if (!IsMailtoUrl(argument.toStdString()))   // links are taken whole, below
            run->Arguments.push_back(argument.toStdString());
    TakeLink(*run);
    run->OnSelectedEntries = [this] { return SelectedEntries(); };
    run->OnAskRecipient = [this] { return AskRecipientDialog(); };
    run->OnPromptMessage = [this](TMessageDraft& draft) { return MessageDialog(draft); };
    run->OnSetup = [this] { ShowSetup(this, Mailer, Run); };
    run->OnWarning = [](const std::string& text) { std::fprintf(stderr, "tessaly: %s\n", text.c_str()); };
    run->OnSending = [this](bool sending) { ShowSending(sending); };
    run->Session.Logout = [this] { LogoutShowingDone(); };
    return run;
}

void TfrmMailTo::ShowSending(bool sending)
{
    pnlSending->setVisible(sending);
    FCancelKey->setEnabled(sending);
}

void TfrmMailTo::RestoreAfterRun(bool panelWasVisible)
{
    ShowSending(false);
    pnlControl->setVisible(panelWasVisible);
    lstAddresses->setEnabled(true);
    FTransferActive = false;
}

// ---- what the run asks ----------------------------------------------------------

std::vector<std::string> TfrmMailTo::SelectedEntries() const
{
    // A run started from a link mails to the link's recipients only.
    if (FLink)
        return {};
    std::vector<std::string> entries;
    for (int row = 0; row < lstAddresses->count(); ++row)
        if (lstAddresses->item(row)->isSelected())
            entries.push_back(lstAddresses->item(row)->text().toStdString());
    return entries;
}

std::optional<std::string> TfrmMailTo::AskRecipientDialog()
{
    TAddressDlg dialog(this);
    dialog.lblPrompt->setText(QString::fromLatin1(kRecipientPrompt));
    dialog.txtEmail->clear();
    dialog.btnBrowse->setEnabled(true);
    dialog.btnAddtolist->setVisible(true);
    dialog.OnAddToList = [this](const QString& text) { AddEntry(text); };
    if (ExecDialog(dialog) != QDialog::Accepted)
        return std::nullopt;
    // An entry added with "&Add To List" takes its sorted place.
    ReSort();
    // Typed as the list shows it ("Ann Lee <a@x.org>"), kept as it stores it.
    return StoredAddress(dialog.txtEmail->text().toStdString());
}

bool TfrmMailTo::MessageDialog(TMessageDraft& draft)
{
    TMsgDlg dialog(this);
    dialog.txtSubject->setText(QString::fromStdString(draft.Subject));
    dialog.txtSubject->setEnabled(true);
    QStringList lines;
    for (const std::string& line : draft.Text)
        lines << DecodeText(line);
    dialog.SetLines(lines);
    if (FLink)
        dialog.ShowSummary(RunSummary(draft));
    if (ExecDialog(dialog) != QDialog::Accepted)
        return false;
    draft.Subject = dialog.txtSubject->text().toStdString();
    draft.Text.clear();
    for (const QString& line : dialog.Lines())
        draft.Text.push_back(line.toStdString());
    return true;
}

// ---- the run's steps, as the window names them -----------------------------------

std::string TfrmMailTo::GetRecipients(TStrings& List)
{
    return MakeRun()->GetRecipients(List);
}

std::string TfrmMailTo::GetSubject()
{
    return MakeRun()->GetSubject();
}

void TfrmMailTo::LoadMsgText(TStrings& List)
{
    MakeRun()->LoadMsgText(List);
}

bool TfrmMailTo::PromptMessage()
{
    return MakeRun()->PromptMessage();
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
