#include "setpdlg.h"

#include "formhelpers.h"
#include "dialogs.h"
#include "mailbase.h"
#include "credentials.h"
#include "msgbox.h"
#include "readme.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>

namespace {
constexpr int kMaxPort = std::numeric_limits<std::uint16_t>::max();
// The form's proportions at 96 pixels per inch: its client width, and a spin
// box wide enough for a five-digit port.
constexpr int kFormWidth = 363;
constexpr int kSpinWidth = 60;
// Until the dialog has been shown the window manager's frame is unknown; two
// lines of the dialog's font leave room for a title bar, which is usually
// drawn in a larger, bold face.
constexpr int kTitleBarLines = 2;
// Room kept around a field scrolled into view, so its neighbours show too.
constexpr int kScrollMargin = 8;

QLabel* RightLabel(const char* name, const QString& text)
{
    QLabel* label = Named<QLabel>(name, text);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

QString FromStd(const std::string& text)
{
    return QString::fromStdString(text);
}

// A scroll area that asks for all of its contents' room (a plain one asks for
// at most 24 lines), so on a screen that has the room the dialog keeps its
// full size and shows no scroll bar.
class TFieldsArea : public QScrollArea {
public:
    QSize sizeHint() const override
    {
        const int frame = 2 * frameWidth();
        return widget()->sizeHint() + QSize(frame, frame);
    }
};

QScrollArea* ScrollingFields(QWidget* fields)
{
    auto* area = new TFieldsArea;
    area->setObjectName(QStringLiteral("scrFields"));
    area->setFrameShape(QFrame::NoFrame);
    area->setFocusPolicy(Qt::NoFocus);   // not a stop of its own in the tab order
    area->setWidgetResizable(true);
    area->setWidget(fields);
    return area;
}
}

// ---- TSpinEdit -----------------------------------------------------------

TSpinEdit::TSpinEdit(QWidget* parent) : QAbstractSpinBox(parent)
{
    setAccelerated(true);
    SetValue(0);
}

bool TSpinEdit::Accepts(QChar c)
{
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('+') || c == QLatin1Char('-')
        || QLocale().decimalPoint() == QString(c);
}

int TSpinEdit::Value() const
{
    bool ok = false;
    const int value = text().toInt(&ok, 10);
    return ok ? value : 0;
}

void TSpinEdit::SetValue(int value)
{
    SetText(QString::number(value));
}

void TSpinEdit::SetText(const QString& text)
{
    lineEdit()->setText(text);
}

QValidator::State TSpinEdit::validate(QString& input, int&) const
{
    for (const QChar c : input)
        if (!Accepts(c))
            return QValidator::Invalid;
    // Whatever it holds counts: a text that is not a number reads as 0.
    return QValidator::Acceptable;
}

void TSpinEdit::stepBy(int steps)
{
    const long long next = (long long)Value() + steps;
    constexpr long long kLow = std::numeric_limits<int>::min();
    constexpr long long kHigh = std::numeric_limits<int>::max();
    SetValue(int(next < kLow ? kLow : (next > kHigh ? kHigh : next)));
    selectAll();
}

QAbstractSpinBox::StepEnabled TSpinEdit::stepEnabled() const
{
    return StepUpEnabled | StepDownEnabled;
}

void TSpinEdit::keyPressEvent(QKeyEvent* event)
{
    const QString typed = event->text();
    const bool printable = !typed.isEmpty() && typed.at(0).isPrint();
    if (printable && !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        for (const QChar c : typed) {
            if (!Accepts(c)) {
                QApplication::beep();
                event->accept();
                return;
            }
        }
    }
    QAbstractSpinBox::keyPressEvent(event);
}

// ---- TRadioGroup ---------------------------------------------------------

TRadioGroup::TRadioGroup(const QString& name, const QString& caption, const QStringList& items, QWidget* parent)
    : QGroupBox(caption, parent), FButtons(new QButtonGroup(this))
{
    setObjectName(name);
    auto* rows = new QVBoxLayout(this);
    for (int i = 0; i < items.size(); ++i) {
        auto* item = new QRadioButton(items[i], this);
        item->setObjectName(QStringLiteral("%1_item%2").arg(name).arg(i));
        FButtons->addButton(item, i);
        auto* row = new QHBoxLayout;
        row->addWidget(item);
        row->addStretch(1);
        rows->addLayout(row);
        FItems.push_back(item);
        FRows.push_back(row);
        FRowStretched.push_back(false);
    }
}

void TRadioGroup::AddBeside(int index, QWidget* widget, int stretch)
{
    QHBoxLayout* row = FRows.at(std::size_t(index));
    if (stretch > 0 && !FRowStretched[std::size_t(index)]) {
        // The widget takes the room the trailing stretch held.
        delete row->takeAt(row->count() - 1);
        FRowStretched[std::size_t(index)] = true;
        row->addWidget(widget, stretch);
        return;
    }
    row->insertWidget(FRowStretched[std::size_t(index)] ? row->count() : row->count() - 1, widget, stretch);
}

int TRadioGroup::ItemIndex() const
{
    return FButtons->checkedId();
}

void TRadioGroup::SetItemIndex(int index)
{
    if (index >= 0 && index < Count()) {
        FItems[std::size_t(index)]->setChecked(true);
        return;
    }
    // No item may be shown for this index: none is chosen.
    FButtons->setExclusive(false);
    for (QRadioButton* item : FItems)
        item->setChecked(false);
    FButtons->setExclusive(true);
}

// ---- TSetupDlg -----------------------------------------------------------

TSetupDlg::TSetupDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("SetupDlg"));
    setWindowTitle(QStringLiteral("Setup..."));
    // A fixed dialog frame: no resizing, no minimise or maximise box. The
    // form's 8-point "MS Sans Serif" does not exist here; the desktop's
    // dialog font is used instead.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    CreateControls();
    LayOut();
    SetTabOrder();
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
    connect(Button3, &QPushButton::clicked, this, &TSetupDlg::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &TSetupDlg::Button4Click);
    connect(btnTest, &QPushButton::clicked, this, &TSetupDlg::btnTestClick);
}

void TSetupDlg::CreateControls()
{
    CreateEdits();
    CreateOptions();
    CreateLoginControls();
}

void TSetupDlg::CreateEdits()
{
    Label1 = RightLabel("Label1", QStringLiteral("SMTP server:"));
    ServerEdit = Named<QLineEdit>("ServerEdit");
    Label8 = Named<QLabel>("Label8", QStringLiteral("Port:"));
    spnPort = Named<TSpinEdit>("spnPort");
    Label2 = RightLabel("Label2", QStringLiteral("From email:"));
    UserAddressEdit = Named<QLineEdit>("UserAddressEdit");
    Label3 = RightLabel("Label3", QStringLiteral("From name:"));
    UserNameEdit = Named<QLineEdit>("UserNameEdit");
    Label4 = RightLabel("Label4", QStringLiteral("Log file name:"));
    LogFileNameEdit = Named<QLineEdit>("LogFileNameEdit");
    Label5 = RightLabel("Label5", QStringLiteral("Encoding:"));
    EncodeComboBox = Named<QComboBox>("EncodeComboBox");
    EncodeComboBox->addItems({QStringLiteral("UUEncode"), QStringLiteral("MIME")});
    Label6 = RightLabel("Label6", QStringLiteral("Character set:"));
    CharSetComboBox = Named<QComboBox>("CharSetComboBox");
    CharSetComboBox->addItems({QStringLiteral("US-ASCII"), QStringLiteral("ISO-8859-1"), QStringLiteral("UTF-8")});
    Label7 = RightLabel("Label7", QStringLiteral("Time-out:"));
    spnTimeOut = Named<TSpinEdit>("spnTimeOut");
    Label9 = Named<QLabel>("Label9", QStringLiteral("seconds"));
}

void TSetupDlg::CreateOptions()
{
    chkUseDomainAddress = Named<QCheckBox>("chkUseDomainAddress", QStringLiteral("Use domain with server"));
    chkUseBCC = Named<QCheckBox>("chkUseBCC", QStringLiteral("Use blind carbon copy"));
    chkShowSuccess = Named<QCheckBox>("chkShowSuccess", QStringLiteral("Show result of transfer"));
    chkoneFilePerMsg = Named<QCheckBox>("chkoneFilePerMsg", QStringLiteral("Send one file per message"));
    radMsgText = new TRadioGroup(QStringLiteral("radMsgText"), QStringLiteral("Standard message text"),
        QStringList{QStringLiteral("Prompt for message text"), QStringLiteral("Use file for text:")});
    txtMsgTextFile = Named<QLineEdit>("txtMsgTextFile");
    Button3 = Named<QPushButton>("Button3", QStringLiteral("Browse..."));
    radMsgSubject = new TRadioGroup(QStringLiteral("radMsgSubject"), QStringLiteral("Standard message subject"),
        QStringList{QStringLiteral("Prompt for message subject"), QStringLiteral("Use attachment filename(s)"),
                    QStringLiteral("Use text:")});
    txtMsgSubjectDef = Named<QLineEdit>("txtMsgSubjectDef");
    Button4 = Named<QPushButton>("Button4", QStringLiteral("&Help"));
    Button1 = Named<QPushButton>("Button1", QStringLiteral("OK"));
    Button2 = Named<QPushButton>("Button2", QStringLiteral("Cancel"));
    Button1->setDefault(true);
}

QGridLayout* TSetupDlg::FieldGrid()
{
    // Columns: labels, the narrow fields, the check boxes, "Port:", the port.
    auto* grid = new QGridLayout;
    grid->addWidget(Label1, 0, 0);
    grid->addWidget(ServerEdit, 0, 1, 1, 2);
    grid->addWidget(Label8, 0, 3);
    grid->addWidget(spnPort, 0, 4);
    grid->addWidget(Label2, 1, 0);
    grid->addWidget(UserAddressEdit, 1, 1, 1, 4);
    grid->addWidget(Label3, 2, 0);
    grid->addWidget(UserNameEdit, 2, 1, 1, 4);
    grid->addWidget(Label4, 3, 0);
    grid->addWidget(LogFileNameEdit, 3, 1, 1, 4);
    grid->addWidget(Label5, 4, 0);
    grid->addWidget(EncodeComboBox, 4, 1);
    grid->addWidget(chkUseDomainAddress, 4, 2, 1, 3);
    grid->addWidget(Label6, 5, 0);
    grid->addWidget(CharSetComboBox, 5, 1);
    grid->addWidget(chkUseBCC, 5, 2, 1, 3);
    auto* timeOut = new QHBoxLayout;
    timeOut->addWidget(spnTimeOut);
    timeOut->addWidget(Label9);
    timeOut->addStretch();
    grid->addWidget(chkShowSuccess, 6, 2, 1, 3);
    grid->addWidget(Label7, 7, 0);
    grid->addLayout(timeOut, 7, 1);
    grid->addWidget(chkoneFilePerMsg, 7, 2, 1, 3);
    grid->setColumnStretch(2, 1);
    spnPort->setMinimumWidth(kSpinWidth);
    spnTimeOut->setMinimumWidth(kSpinWidth);
    return grid;
}

void TSetupDlg::LayOut()
{
    // The file-name and subject edits sit beside their radio items.
    radMsgText->AddBeside(1, txtMsgTextFile, 1);
    radMsgText->AddBeside(1, Button3);
    radMsgSubject->AddBeside(2, txtMsgSubjectDef, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Button4);
    buttons->addWidget(btnTest);
    buttons->addStretch();
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);

    // The fields scroll on a screen too small for the form (a large scale
    // factor); the buttons stay in sight below them.
    auto* fields = new QWidget;
    auto* column = new QVBoxLayout(fields);
    column->setContentsMargins(0, 0, 0, 0);
    QGridLayout* grid = FieldGrid();
    AddLoginRows(*grid);
    column->addLayout(grid);
    column->addWidget(radMsgText);
    column->addWidget(radMsgSubject);
    FFields = ScrollingFields(fields);

    auto* main = new QVBoxLayout(this);
    main->addWidget(FFields);
    main->addLayout(buttons);
    setMinimumWidth(kFormWidth);
    // A field that gets the focus (Tab, a click, a shortcut) scrolls into
    // view whole: ensureWidgetVisible would settle for an edit's text cursor
    // and could leave the rest of the edit cut off.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (!now || !FFields->widget()->isAncestorOf(now))
            return;
        const QRect field(now->mapTo(FFields->widget(), QPoint()), now->size());
        FFields->ensureVisible(field.center().x(), field.center().y(), field.width() / 2 + kScrollMargin,
                               field.height() / 2 + kScrollMargin);
    });
}

void TSetupDlg::SetTabOrder()
{
    std::vector<QWidget*> order = {ServerEdit, UserAddressEdit, UserNameEdit, LogFileNameEdit,
                                   SecurityComboBox, txtUser, AuthMethodComboBox, txtPasswordCommand,
                                   EncodeComboBox, CharSetComboBox, Button1, Button2, chkShowSuccess,
                                   txtMsgTextFile, Button3};
    for (int i = 0; i < radMsgText->Count(); ++i)
        order.push_back(radMsgText->Item(i));
    for (int i = 0; i < radMsgSubject->Count(); ++i)
        order.push_back(radMsgSubject->Item(i));
    order.insert(order.end(), {txtMsgSubjectDef, chkUseBCC, spnPort, spnTimeOut, chkUseDomainAddress,
                               chkoneFilePerMsg, Button4, btnTest});
    for (std::size_t i = 0; i + 1 < order.size(); ++i)
        setTabOrder(order[i], order[i + 1]);
    ServerEdit->setFocus();
}

void TSetupDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    FitOnScreen();
}

// The dialog keeps a fixed frame: its whole form where the screen has the
// room, else capped to the screen's available area, with room added beside
// the fields for the vertical scroll bar. It opens centred, but never with
// its frame's bottom below the available area.
void TSetupDlg::FitOnScreen()
{
    const QScreen* screen = QGuiApplication::primaryScreen();   // the one CenterOnScreen uses
    if (!screen)
        return;
    QSize frame = frameGeometry().size() - size();
    if (frame.isNull())
        frame.setHeight(kTitleBarLines * fontMetrics().height());
    const QRect area = screen->availableGeometry();
    const QSize room = area.size() - frame;
    QSize wanted = sizeHint();
    if (wanted.height() > room.height())
        wanted.rwidth() += style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, FFields);
    setFixedSize(wanted.boundedTo(room));
    CenterOnScreen(*this);
    const int outer = height() + frame.height();
    if (y() + outer > area.bottom() + 1)
        move(x(), std::max(area.top(), area.bottom() + 1 - outer));
}

void TSetupDlg::Fill(const TSMTP& mailer, const TRunSettings& run)
{
    spnPort->SetValue(mailer.DefaultPort());
    spnTimeOut->SetValue(mailer.TimeOut());
    chkUseDomainAddress->setChecked(mailer.UseDomainAddress());
    chkUseBCC->setChecked(run.UseBCC);
    chkShowSuccess->setChecked(mailer.ShowResult());
    chkoneFilePerMsg->setChecked(run.OneFilePerMsg);
    txtMsgTextFile->setText(FromStd(run.MsgTextFile));
    radMsgText->SetItemIndex(run.MsgText);
    txtMsgSubjectDef->setText(FromStd(run.MsgSubjectDef));
    radMsgSubject->SetItemIndex(run.MsgSubject);
    ServerEdit->setText(FromStd(mailer.Server()));
    const auto [address, name] = SplitAddress(mailer.From());
    UserAddressEdit->setText(FromStd(address));
    UserNameEdit->setText(FromStd(name));
    LogFileNameEdit->setText(FromStd(mailer.LogFileName()));
    EncodeComboBox->setCurrentIndex(mailer.Encoding());
    CharSetComboBox->setCurrentIndex(mailer.CharSet());
    FillLogin(mailer);
}

// The boxes do not refuse what they cannot store: a port outside 0..65535,
// a time-out of 0 or less, or a radio group with no item chosen keeps the
// setting it had, instead of wrapping to some other port or timing out at
// once.
void TSetupDlg::CopyBack(TSMTP& mailer, TRunSettings& run) const
{
    const int port = spnPort->Value();
    if (port >= 0 && port <= kMaxPort)
        mailer.SetDefaultPort(std::uint16_t(port));
    if (spnTimeOut->Value() > 0)
        mailer.SetTimeOut(spnTimeOut->Value());
    mailer.SetUseDomainAddress(chkUseDomainAddress->isChecked());
    run.UseBCC = chkUseBCC->isChecked();
    mailer.SetShowResult(chkShowSuccess->isChecked());
    run.OneFilePerMsg = chkoneFilePerMsg->isChecked();
    run.MsgTextFile = txtMsgTextFile->text().toStdString();
    if (radMsgText->ItemIndex() >= 0)
        run.MsgText = radMsgText->ItemIndex();
    run.MsgSubjectDef = txtMsgSubjectDef->text().toStdString();
    if (radMsgSubject->ItemIndex() >= 0)
        run.MsgSubject = radMsgSubject->ItemIndex();
    mailer.SetServer(ServerEdit->text().toStdString());
    mailer.SetFrom(JoinAddress(UserAddressEdit->text().toStdString(), UserNameEdit->text().toStdString()));
    mailer.SetLogFileName(LogFileNameEdit->text().toStdString());
    // Encoding first: UUencode forces US-ASCII, and a character set is
    // taken only with MIME.
    mailer.SetEncoding(TEncoding(EncodeComboBox->currentIndex()));
    mailer.SetCharSet(TCharSet(CharSetComboBox->currentIndex()));
    CopyLogin(mailer);
}

void TSetupDlg::Button3Click()
{
    if (const auto chosen = ChooseFile(this, OpenTextChooser(QStringLiteral("Select text file..."))))
        txtMsgTextFile->setText(*chosen);
}

void TSetupDlg::Button4Click()
{
    ShowReadme();
    reject();
}

void ShowSetup(QWidget* parent, TSMTP& mailer, TRunSettings& run)
{
    TSetupDlg dialog(parent);
    dialog.Fill(mailer, run);
    // A text too long for the settings file keeps the dialog open.
    const auto fits = [&dialog] {
        const auto edits = dialog.findChildren<QLineEdit*>();
        return std::all_of(edits.begin(), edits.end(), [](const QLineEdit* e) { return FitsTheSettings(e->text()); });
    };
    while (ExecDialog(dialog) == QDialog::Accepted)
        if (fits()) {
            dialog.CopyBack(mailer, run);
            return;
        }
}

// ---- submission: TLS and login ---------------------------------------------

void TSetupDlg::CreateLoginControls()
{
    lblSecurity = RightLabel("lblSecurity", QStringLiteral("Security:"));
    SecurityComboBox = Named<QComboBox>("SecurityComboBox");
    SecurityComboBox->addItems({QStringLiteral("Auto"), QStringLiteral("None"), QStringLiteral("STARTTLS"),
                                QStringLiteral("TLS")});
    SecurityComboBox->setToolTip(QStringLiteral("Auto: STARTTLS when the server offers it. TLS: encrypted "
                                                "from the first byte (usually port 465)."));
    lblUser = RightLabel("lblUser", QStringLiteral("User name:"));
    txtUser = Named<QLineEdit>("txtUser");
    txtUser->setPlaceholderText(QStringLiteral("empty: no login"));
    lblAuthMethod = RightLabel("lblAuthMethod", QStringLiteral("Login method:"));
    AuthMethodComboBox = Named<QComboBox>("AuthMethodComboBox");
    AuthMethodComboBox->addItems({QStringLiteral("Auto"), QStringLiteral("PLAIN"), QStringLiteral("LOGIN"),
                                  QStringLiteral("XOAUTH2"), QStringLiteral("OAUTHBEARER")});
    lblPasswordCommand = RightLabel("lblPasswordCommand", QStringLiteral("Password command:"));
    txtPasswordCommand = Named<QLineEdit>("txtPasswordCommand");
    txtPasswordCommand->setPlaceholderText(QStringLiteral("empty: ask, or use the keyring"));
    txtPasswordCommand->setToolTip(QStringLiteral("Run with /bin/sh; the first line it prints is the password "
                                                  "or the OAuth2 access token."));
    // The Port box keeps its old meaning; say plainly how to reach another
    // port, since on this system the service look-up does not fail.
    lblPortHint = Named<QLabel>("lblPortHint", QStringLiteral("Another port: write host:port as the server. "
        "The Port box counts only if the \"smtp\" service is unknown."));
    lblPortHint->setWordWrap(true);
    lblPortHint->setToolTip(QStringLiteral("The Port box is used only when the system does not know the "
                                           "\"smtp\" service, which here is never the case."));
    ServerEdit->setPlaceholderText(QStringLiteral("host or host:port"));
    spnPort->setToolTip(lblPortHint->toolTip());
    btnTest = Named<QPushButton>("btnTest", QStringLiteral("&Test"));
    btnTest->setToolTip(QStringLiteral("Connect, log in and log out with these settings; nothing is sent."));
}

void TSetupDlg::AddLoginRows(QGridLayout& grid)
{
    // Below the existing rows, in the same label column.
    const int row = grid.rowCount();
    auto* method = new QHBoxLayout;
    method->addWidget(lblAuthMethod);
    method->addWidget(AuthMethodComboBox);
    method->addStretch();
    grid.addWidget(lblSecurity, row, 0);
    grid.addWidget(SecurityComboBox, row, 1);
    grid.addLayout(method, row, 2, 1, 3);
    grid.addWidget(lblUser, row + 1, 0);
    grid.addWidget(txtUser, row + 1, 1, 1, 4);
    grid.addWidget(lblPasswordCommand, row + 2, 0);
    grid.addWidget(txtPasswordCommand, row + 2, 1, 1, 4);
    grid.addWidget(lblPortHint, row + 3, 1, 1, 4);
}

void TSetupDlg::FillLogin(const TSMTP& mailer)
{
    SecurityComboBox->setCurrentIndex(mailer.Security());
    txtUser->setText(FromStd(mailer.User()));
    AuthMethodComboBox->setCurrentIndex(mailer.AuthMethod());
    txtPasswordCommand->setText(FromStd(mailer.PasswordCommand()));
    FCAFile = mailer.CAFile();
    FTrustedCertificates = mailer.TrustedCertificates();
}

void TSetupDlg::CopyLogin(TSMTP& smtp) const
{
    // A list with nothing chosen keeps what the client holds.
    if (SecurityComboBox->currentIndex() >= 0)
        smtp.SetSecurity(TSecurity(SecurityComboBox->currentIndex()));
    smtp.SetUser(txtUser->text().toStdString());
    if (AuthMethodComboBox->currentIndex() >= 0)
        smtp.SetAuthMethod(TAuthMethod(AuthMethodComboBox->currentIndex()));
    smtp.SetPasswordCommand(txtPasswordCommand->text().toStdString());
    smtp.SetCAFile(FCAFile);
    smtp.SetTrustedCertificates(FTrustedCertificates);
}

void TSetupDlg::SetTesting(TSMTP* test)
{
    FTest = test;
    for (QPushButton* button : {Button1, Button4, btnTest})
        button->setEnabled(!test);
}

void TSetupDlg::reject()
{
    if (FTest) {
        FTest->Cancel();
        return;
    }
    QDialog::reject();
}

// Connects with the fields as they stand (not yet copied back): greeting,
// EHLO, STARTTLS, AUTH and QUIT, nothing sent. The password and an
// untrusted certificate are asked for as in a mailing run.
void TSetupDlg::btnTestClick()
{
    TSMTP test;
    test.SetServer(ServerEdit->text().toStdString());
    if (const int port = spnPort->Value(); port >= 0 && port <= kMaxPort)
        test.SetDefaultPort(std::uint16_t(port));
    if (spnTimeOut->Value() > 0)
        test.SetTimeOut(spnTimeOut->Value());
    test.SetUseDomainAddress(chkUseDomainAddress->isChecked());
    test.SetFrom(UserAddressEdit->text().toStdString());
    CopyLogin(test);
    test.SetShowResult(false);
    AttachCredentials(test, this);
    SetTesting(&test);
    std::string failure;
    try {
        test.Open();
        test.Login();
        test.Logout();
    } catch (const std::exception& error) {
        failure = error.what();
    }
    test.Close();
    SetTesting(nullptr);
    FTrustedCertificates = test.TrustedCertificates();
    MessageDlg(failure.empty() ? TMsgKind::Information : TMsgKind::Error,
               ConnectionReport(test.Server(), test.Capabilities(), test.Encrypted(), test.User(), failure));
}

namespace {
std::string Offered(const TCapabilities& offered)
{
    std::string list;
    const auto add = [&list](const std::string& item) { list += (list.empty() ? "" : ", ") + item; };
    if (offered.StartTLS)
        add("STARTTLS");
    if (offered.EightBitMIME)
        add("8BITMIME");
    if (offered.SMTPUTF8)
        add("SMTPUTF8");
    if (offered.Pipelining)
        add("PIPELINING");
    if (offered.Size > 0)
        add("SIZE " + std::to_string(offered.Size));
    std::string auth = "AUTH";
    for (const std::string& mechanism : offered.AuthMechanisms)
        auth += " " + mechanism;
    if (!offered.AuthMechanisms.empty())
        add(auth);
    return list.empty() ? "no extensions" : list;
}
}

std::string ConnectionReport(const std::string& server, const TCapabilities& offered, bool encrypted,
                             const std::string& user, const std::string& failure)
{
    std::string report = "Server: " + server + "\n";
    report += encrypted ? "The connection is encrypted (TLS).\n" : "The connection is not encrypted.\n";
    report += "The server offers: " + Offered(offered) + ".\n";
    if (!failure.empty())
        return report + "The test failed: " + failure;
    if (user.empty())
        return report + "No user name is set, so no login was tried.";
    return report + "Login as " + user + " works.";
}
