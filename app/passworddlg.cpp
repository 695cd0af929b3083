#include "passworddlg.h"

#include "formhelpers.h"
#include "smtp.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
// Wide enough for a long fingerprint line at the dialog font; the layouts
// grow it further where the text needs more.
constexpr int kMinDialogWidth = 360;

QString FromStd(const std::string& text)
{
    return QString::fromStdString(text);
}

// A SHA-256 fingerprint is 32 pairs; shown as two lines of 16 so that the
// dialog stays narrow at any scale.
constexpr int kPairsPerLine = 16;

QString FingerprintLines(const std::string& fingerprint)
{
    QString text = FromStd(fingerprint);
    int pairs = 0;
    for (qsizetype i = 0; i < text.size(); ++i)
        if (text[i] == QLatin1Char(':') && ++pairs % kPairsPerLine == 0)
            text[i] = QLatin1Char('\n');
    return text;
}

QHBoxLayout* ButtonRow(QPushButton* accept, QPushButton* cancel)
{
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(accept);
    row->addWidget(cancel);
    accept->setDefault(true);
    return row;
}

void FixFrame(QDialog& dialog)
{
    dialog.setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    dialog.layout()->setSizeConstraint(QLayout::SetFixedSize);
    dialog.setMinimumWidth(kMinDialogWidth);
}
}

// ---- TPasswordDlg -------------------------------------------------------------

TPasswordDlg::TPasswordDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("PasswordDlg"));
    setWindowTitle(QStringLiteral("Password"));
    lblRefused = Named<QLabel>("lblRefused");
    lblPrompt = Named<QLabel>("lblPrompt");
    txtPassword = Named<QLineEdit>("txtPassword");
    txtPassword->setEchoMode(QLineEdit::Password);
    chkRemember = Named<QCheckBox>("chkRemember", QStringLiteral("Remember password"));
    OKBtn = Named<QPushButton>("OKBtn", QStringLiteral("OK"));
    CancelBtn = Named<QPushButton>("CancelBtn", QStringLiteral("Cancel"));
    lblRefused->setWordWrap(true);
    lblRefused->hide();

    auto* main = new QVBoxLayout(this);
    main->addWidget(lblRefused);
    main->addWidget(lblPrompt);
    main->addWidget(txtPassword);
    main->addWidget(chkRemember);
    main->addLayout(ButtonRow(OKBtn, CancelBtn));
    FixFrame(*this);
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    txtPassword->setFocus();
}

void TPasswordDlg::SetAccount(const std::string& user, const std::string& server, bool refused)
{
    lblPrompt->setText(QStringLiteral("Password for %1 at %2:").arg(FromStd(user), FromStd(server)));
    lblRefused->setText(QStringLiteral("The server refused the password for %1.").arg(FromStd(user)));
    lblRefused->setVisible(refused);
}

std::string TPasswordDlg::Password() const
{
    return txtPassword->text().toStdString();
}

bool TPasswordDlg::Remember() const
{
    return chkRemember->isChecked();
}

void TPasswordDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    CenterOnScreen(*this);
}

// ---- TTrustDlg ----------------------------------------------------------------

TTrustDlg::TTrustDlg(const TCertificateInfo& info, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("TrustDlg"));
    setWindowTitle(QStringLiteral("Certificate"));
    lblQuestion = Named<QLabel>("lblQuestion", QStringLiteral("Trust this certificate for %1?").arg(FromStd(info.Host)));
    lblProblem = Named<QLabel>("lblProblem", QStringLiteral("The certificate of %1, port %2, did not verify: %3.")
                                                 .arg(FromStd(info.Host)).arg(info.Port).arg(FromStd(info.Problem)));
    lblFingerprint = Named<QLabel>("lblFingerprint", QStringLiteral("SHA-256 fingerprint:\n%1").arg(FingerprintLines(info.Fingerprint)));
    btnTrust = Named<QPushButton>("btnTrust", QStringLiteral("&Trust"));
    CancelBtn = Named<QPushButton>("CancelBtn", QStringLiteral("Cancel"));
    lblProblem->setWordWrap(true);
    // The fingerprint is what the user compares with the server's owner:
    // selectable, in a fixed-pitch font, never broken inside a pair.
    lblFingerprint->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblFingerprint->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    auto* main = new QVBoxLayout(this);
    main->addWidget(lblQuestion);
    main->addWidget(lblProblem);
    main->addWidget(lblFingerprint);
    main->addLayout(ButtonRow(btnTrust, CancelBtn));
    FixFrame(*this);
    // Trusting is the exception: Enter must not do it by accident.
    btnTrust->setAutoDefault(false);
    btnTrust->setDefault(false);
    CancelBtn->setDefault(true);
    CancelBtn->setFocus();
    connect(btnTrust, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
}

void TTrustDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    CenterOnScreen(*this);
}
