#include "emaildlg.h"

#include "formhelpers.h"
#include "dialogs.h"
#include "msgbox.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <stdexcept>

namespace {
// The entry's width on the form, at 96 pixels per inch: room for a long address.
constexpr int kEntryWidth = 194;

}

TAddressDlg::TAddressDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("AddressDlg"));
    setWindowTitle(QStringLiteral("Email Dialog"));
    // A fixed dialog frame; the desktop's dialog font stands in for the
    // form's 8-point "MS Sans Serif".
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);

    lblPrompt = Named<QLabel>("lblPrompt", QStringLiteral("Enter email address:"));
    txtEmail = Named<QLineEdit>("txtEmail");
    OKBtn = Named<QPushButton>("OKBtn", QStringLiteral("OK"));
    CancelBtn = Named<QPushButton>("CancelBtn", QStringLiteral("Cancel"));
    btnBrowse = Named<QPushButton>("btnBrowse", QStringLiteral("&Browse..."));
    btnAddtolist = Named<QPushButton>("btnAddtolist", QStringLiteral("&Add To List"));
    OKBtn->setDefault(true);
    btnAddtolist->hide();

    auto* entry = new QHBoxLayout;
    entry->addWidget(txtEmail, 1);
    entry->addWidget(btnBrowse);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnAddtolist);
    buttons->addStretch();
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);
    auto* main = new QVBoxLayout(this);
    main->addWidget(lblPrompt);
    main->addLayout(entry);
    main->addLayout(buttons);
    main->setSizeConstraint(QLayout::SetFixedSize);
    txtEmail->setMinimumWidth(kEntryWidth);

    setTabOrder(txtEmail, OKBtn);
    setTabOrder(OKBtn, CancelBtn);
    setTabOrder(CancelBtn, btnBrowse);
    setTabOrder(btnBrowse, btnAddtolist);
    txtEmail->setFocus();

    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    connect(btnBrowse, &QPushButton::clicked, this, &TAddressDlg::btnBrowseClick);
    connect(btnAddtolist, &QPushButton::clicked, this, &TAddressDlg::btnAddtolistClick);
}

void TAddressDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    CenterOnScreen(*this);
}

void TAddressDlg::btnBrowseClick()
{
    if (const auto chosen = ChooseFile(this, OpenTextChooser(QStringLiteral("Select text list of email addresses..."))))
        txtEmail->setText(*chosen);
}

void TAddressDlg::btnAddtolistClick()
{
    // The text goes in unchanged: no "@" test, no test for an empty text or
    // a duplicate. The dialog stays open.
    try {
        if (!OnAddToList)
            throw std::runtime_error("no address list");
        OnAddToList(txtEmail->text());
    } catch (...) {
        ShowStandardError("Unable to insert a line");
    }
}
