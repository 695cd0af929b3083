// Unit1: the address list. Entries are addresses or paths of address-list
// files, kept sorted without regard to letter case; duplicates are allowed.
#include "unit1.h"

#include "formhelpers.h"
#include "dialogs.h"
#include "emaildlg.h"
#include "msgbox.h"

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <algorithm>

namespace {
const char* const kNeedsAt = "Email address must have \"@\" part.";
const char* const kListFileTitle = "Select text list of email addresses...";

bool Before(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) < 0;
}

// Sets up the address dialog as the list's commands use it: "&Browse..."
// on, "&Add To List" hidden.
void PrepareAddressDialog(TAddressDlg& dialog, const char* prompt, const QString& text)
{
    dialog.lblPrompt->setText(QString::fromLatin1(prompt));
    dialog.txtEmail->setText(text);
    dialog.btnBrowse->setEnabled(true);
    dialog.btnAddtolist->setVisible(false);
}
}

// ---- list operations ----------------------------------------------------------

void TfrmMailTo::AddEntry(const QString& typed)
{
    // "Name <address>" as typed is kept as the address value "address|name".
    const QString text = QString::fromStdString(StoredAddress(typed.toStdString()));
    if (!FitsTheSettings(text))
        return;
    int row = 0;
    while (row < lstAddresses->count() && !Before(text, lstAddresses->item(row)->text()))
        ++row;
    lstAddresses->insertItem(row, text);
}

void TfrmMailTo::ReSort()
{
    QStringList texts = Entries();
    std::stable_sort(texts.begin(), texts.end(), Before);
    const int scroll = lstAddresses->verticalScrollBar()->value();
    lstAddresses->clear();
    lstAddresses->addItems(texts);
    lstAddresses->verticalScrollBar()->setValue(scroll);
}

QStringList TfrmMailTo::Entries() const
{
    QStringList texts;
    texts.reserve(lstAddresses->count());
    for (int row = 0; row < lstAddresses->count(); ++row)
        texts << lstAddresses->item(row)->text();
    return texts;
}

std::vector<std::string> TfrmMailTo::EntryStrings() const
{
    std::vector<std::string> entries;
    for (const QString& text : Entries())
        entries.push_back(text.toStdString());
    return entries;
}

int TfrmMailTo::FirstSelectedRow() const
{
    for (int row = 0; row < lstAddresses->count(); ++row)
        if (lstAddresses->item(row)->isSelected())
            return row;
    return -1;
}

// ---- commands --------------------------------------------------------------------

void TfrmMailTo::Button1Click()
{
    const QString text = txtAddress->text();
    // The only command that checks for "@": a typed address.
    if (!text.contains(QLatin1Char('@'))) {
        MessageDlg(TMsgKind::Error, kNeedsAt);
        return;
    }
    AddEntry(text);
    ReSort();
}

void TfrmMailTo::Button3Click()
{
    TFileChooser chooser = OpenTextChooser(QString::fromLatin1(kListFileTitle));
    // The chooser lives as long as the window: it offers the last file again.
    chooser.FileName = FLastListFile;
    const auto chosen = ChooseFile(this, chooser);
    if (!chosen)
        return;
    FLastListFile = *chosen;
    AddEntry(*chosen);
    ReSort();
}

void TfrmMailTo::popAddAddressClick()
{
    TAddressDlg dialog(this);
    PrepareAddressDialog(dialog, "Enter address/list file to add:", QString());
    if (ExecDialog(dialog) != QDialog::Accepted)
        return;
    AddEntry(dialog.txtEmail->text());
    ReSort();
}

void TfrmMailTo::Editselected1Click()
{
    EditEntry(FirstSelectedRow());
}

void TfrmMailTo::lstAddressesDblClick()
{
    EditEntry(FirstSelectedRow());
}

void TfrmMailTo::EditEntry(int row)
{
    if (row < 0)
        return;
    const QString entry = lstAddresses->item(row)->text();
    // A list file is edited in the text editor; the entry stays as it is.
    if (!entry.contains(QLatin1Char('@')) && IsExistingFile(entry.toStdString())) {
        OpenInTextEditor(entry);
        return;
    }
    TAddressDlg dialog(this);
    PrepareAddressDialog(dialog, "Edit address/list:", QString::fromStdString(DisplayAddress(entry.toStdString())));
    if (ExecDialog(dialog) != QDialog::Accepted)
        return;
    const QString text = QString::fromStdString(StoredAddress(dialog.txtEmail->text().toStdString()));
    if (!FitsTheSettings(text))
        return;
    lstAddresses->item(row)->setText(text);
    ReSort();
}

void TfrmMailTo::btnRemSelectedClick()
{
    RemoveSelected();
}

void TfrmMailTo::Removeselected1Click()
{
    RemoveSelected();
}

void TfrmMailTo::RemoveSelected()
{
    int row = 0;
    while (row < lstAddresses->count()) {
        if (lstAddresses->item(row)->isSelected())
            delete lstAddresses->takeItem(row);
        else
            ++row;
    }
}
