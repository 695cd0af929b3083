// Unit1: building the main window, start-up, close, compact mode, the
// list's look and the window-level keys. The mailing run is in
// unit1_sendmail.cpp, the address-list commands in unit1_addresses.cpp,
// drops and the helpers of the unit in unit1_drops.cpp.
#include "unit1.h"

#include "credentials.h"
#include "dialogs.h"
#include "msgbox.h"
#include "readme.h"
#include "settingspath.h"
#include "setpdlg.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QMoveEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStyledItemDelegate>
#include <QSizeGrip>
#include <QStyle>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {
const char* const kCaption = "Tessaly 1.0";
const char* const kEmptyListHint = "Add addresses above, select some, then drop files here";
// The status line's first caption: 13 blanks, then the word.
const char* const kStartingCaption = "             Starting...";
// The gauge prints its percentage in maroon, as the sending panel always did.
const QColor kGaugeColor(0x80, 0x00, 0x00);
// Room above and below the status text.
constexpr int kStatusPadding = 2;

// Normal mode: title bar with system menu, minimize and close, no maximize.
Qt::WindowFlags NormalFlags()
{
    return Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
         | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;
}
// Compact mode: no title bar, and a tool window, which the taskbar leaves
// out.
Qt::WindowFlags CompactFlags()
{
    return Qt::Tool | Qt::FramelessWindowHint;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, const char* hint = nullptr)
{
    auto* button = new QPushButton(QString::fromUtf8(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    if (hint)
        button->setToolTip(QString::fromUtf8(hint));
    // Enter on a focused button presses that button; elsewhere it presses
    // the window's default button (see keyPressEvent).
    button->setAutoDefault(true);
    // The style's 80-pixel minimum for text buttons would make the panel
    // wider than the window it was laid out for: a button may shrink to
    // its caption and a margin.
    const int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button)
                     + button->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button);
    const QString bare = QString(button->text()).remove(QLatin1Char('&'));
    button->setMinimumWidth(button->fontMetrics().horizontalAdvance(bare) + 2 * margin + 2);
    button->setSizePolicy(QSizePolicy::Preferred, button->sizePolicy().verticalPolicy());
    return button;
}

QAction* MakeAction(QWidget* owner, const char* name, const char* caption, const QKeySequence& keys = {})
{
    auto* action = new QAction(QString::fromUtf8(caption), owner);
    action->setObjectName(QString::fromLatin1(name));
    if (!keys.isEmpty()) {
        action->setShortcut(keys);
        // The menu's keys act while the address list has the focus.
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    }
    return action;
}

// Shows an entry "address|name" as "Name <address>"; the entry itself (its
// text, its sorting, the settings file) keeps the stored form.
class TAddressDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QString displayText(const QVariant& value, const QLocale&) const override
    {
        return QString::fromStdString(DisplayAddress(value.toString().toStdString()));
    }
};

QAction* MakeSeparator(QWidget* owner, const char* name)
{
    auto* action = new QAction(owner);
    action->setObjectName(QString::fromLatin1(name));
    action->setSeparator(true);
    return action;
}
}

// ---- status line ----------------------------------------------------------

TStatusPanel::TStatusPanel(QWidget* parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("pnlStatus"));
    FText = new QLabel(this);
    QFont bold = FText->font();
    bold.setBold(true);
    FText->setFont(bold);
    // In the theme's text colour (black on the usual light themes), so that
    // it stays readable on a dark one.
    FText->setTextFormat(Qt::PlainText);
    FText->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    FText->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    SetCaption(QString::fromLatin1(kStartingCaption));
    FCaptionChanges = 0;
}

QSize TStatusPanel::minimumSizeHint() const
{
    // Tall enough for the bold text and for the Cancel button beside it,
    // whatever the desktop's font: a fixed strip clipped both.
    const QSize inner = layout() ? layout()->minimumSize() : QSize();
    return inner.expandedTo(QSize(0, FText->fontMetrics().height() + 2 * kStatusPadding));
}

void TStatusPanel::SetCaption(const QString& caption)
{
    FCaption = caption;
    ++FCaptionChanges;
    FText->setText(caption.trimmed());
}

// ---- building the window ---------------------------------------------------

TfrmMailTo::TfrmMailTo(const QStringList& Arguments, const std::optional<std::string>& SettingsPath, QWidget* parent)
    : QWidget(parent, NormalFlags()), FArguments(Arguments), FLink(LinkFromArguments(Arguments))
{
    setObjectName(QStringLiteral("frmMailTo"));
    setWindowTitle(QString::fromLatin1(kCaption));
    resize(432, 321);

    Mailer.SetCharSet(csUSASCII);
    Mailer.SetDefaultPort(25);
    Mailer.OnStatusChange = [this](QObject* sender) { MailerStatusChange(sender); };
    Mailer.OnProgress = [this](QObject* sender) { MailerProgress(sender); };
    AttachCredentials(Mailer, this);   // password, keyring and certificate trust

    BuildControlPanel();
    BuildSendingPanel();
    BuildAddressList();
    BuildContextMenu();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(pnlControl);
    layout->addWidget(pnlSending);
    layout->addWidget(lstAddresses, 1);
    // The least size is fixed once, before the native window exists, from
    // the whole form: hiding a panel later (compact mode, a run) changes no
    // size hint of the window, which not every platform can pass on.
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    setMinimumSize(layout->minimumSize());

    // The window's tab order: the list, the control panel, the sending panel.
    QWidget* order[] = {lstAddresses, Button1, txtAddress, Button3, btnHidePanel, btnSetup,
                        Button5, btnRemSelected, btnColor, btnFont, btnTextColor, Button2};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);
    lstAddresses->setFocus();

    FCancelKey = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    FCancelKey->setContext(Qt::WindowShortcut);
    FCancelKey->setEnabled(false);
    connect(FCancelKey, &QShortcut::activated, this, [this] {
        if (!pnlSending->isHidden() && !Button2->isHidden())
            Button2->click();
    });

    // Compact mode has no frame to size the window by: a grip in the corner.
    FSizeGrip = new QSizeGrip(this);
    FSizeGrip->hide();

    FSettingsPath = SettingsPath ? *SettingsPath
                                 : SettingsFilePath(QCoreApplication::applicationFilePath().toStdString());
    FormCreate();
}

TfrmMailTo::~TfrmMailTo() = default;

void TfrmMailTo::BuildControlPanel()
{
    pnlControl = new QWidget(this);
    pnlControl->setObjectName(QStringLiteral("pnlControl"));

    Button1 = MakeButton(pnlControl, "Button1", "&Add:", "Add email address at right to list...");
    txtAddress = new QLineEdit(pnlControl);
    txtAddress->setObjectName(QStringLiteral("txtAddress"));
    txtAddress->setToolTip(QStringLiteral("Enter email address to add..."));
    // Files dropped on the edit belong to the window, not into the text.
    txtAddress->setAcceptDrops(false);
    Button3 = MakeButton(pnlControl, "Button3", "Add &Email List...");
    btnHidePanel = MakeButton(pnlControl, "btnHidePanel", "Hi&de Panel", "Hide this panel...");
    btnSetup = MakeButton(pnlControl, "btnSetup", "&Setup...");
    Button5 = MakeButton(pnlControl, "Button5", "&Help");
    btnRemSelected = MakeButton(pnlControl, "btnRemSelected", "&Remove selected");
    btnColor = MakeButton(pnlControl, "btnColor", "&Color", "Set background color...");
    btnFont = MakeButton(pnlControl, "btnFont", "&Font", "Set font and properties...");
    btnTextColor = MakeButton(pnlControl, "btnTextColor", "&Text Color", "Set text color...");
    Label1 = new QLabel(QStringLiteral("Select addresses to mail dragged files to:"), pnlControl);
    Label1->setObjectName(QStringLiteral("Label1"));

    // The right-hand column of buttons shares one width.
    int column = 0;
    for (QPushButton* b : {btnHidePanel, btnSetup, Button5})
        column = std::max(column, b->minimumWidth());
    for (QPushButton* b : {btnHidePanel, btnSetup, Button5})
        b->setFixedWidth(column);

    auto* rows = new QVBoxLayout(pnlControl);
    rows->setContentsMargins(5, 5, 5, 3);
    rows->setSpacing(4);
    auto* top = new QHBoxLayout;
    // "&Add:" labels the edit beside it: no wider than its caption.
    Button1->setFixedWidth(Button1->minimumWidth());
    top->addWidget(Button1);
    top->addWidget(txtAddress, 1);
    top->addSpacing(6);
    top->addWidget(btnHidePanel);
    auto* middle = new QHBoxLayout;
    middle->addWidget(btnRemSelected);
    middle->addWidget(Button3);
    middle->addStretch(1);
    middle->addWidget(btnFont);
    middle->addWidget(btnColor);
    middle->addWidget(btnSetup);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(Label1);
    bottom->addStretch(1);
    // Below Font and Color: the middle row has no room left in the
    // default width.
    bottom->addWidget(btnTextColor);
    bottom->addWidget(Button5);
    rows->addLayout(top);
    rows->addLayout(middle);
    rows->addLayout(bottom);

    connect(Button1, &QPushButton::clicked, this, &TfrmMailTo::Button1Click);
    connect(Button3, &QPushButton::clicked, this, &TfrmMailTo::Button3Click);
    connect(btnHidePanel, &QPushButton::clicked, this, &TfrmMailTo::btnHidePanelClick);
    connect(btnSetup, &QPushButton::clicked, this, &TfrmMailTo::btnSetupClick);
    connect(Button5, &QPushButton::clicked, this, &TfrmMailTo::Button5Click);
    connect(btnRemSelected, &QPushButton::clicked, this, &TfrmMailTo::btnRemSelectedClick);
    connect(btnColor, &QPushButton::clicked, this, &TfrmMailTo::btnColorClick);
    connect(btnFont, &QPushButton::clicked, this, &TfrmMailTo::Button7Click);
    connect(btnTextColor, &QPushButton::clicked, this, &TfrmMailTo::btnTextColorClick);
}

void TfrmMailTo::BuildSendingPanel()
{
    pnlSending = new QWidget(this);
    pnlSending->setObjectName(QStringLiteral("pnlSending"));

    pnlStatus = new TStatusPanel(pnlSending);
    Button2 = MakeButton(pnlStatus, "Button2", "Cancel");
    auto* status = new QHBoxLayout(pnlStatus);
    status->setContentsMargins(2, 2, 2, 2);
    status->setSpacing(8);
    status->addWidget(Button2);
    status->addWidget(pnlStatus->TextLabel(), 1);

    pnlPercmeter = new QFrame(pnlSending);
    pnlPercmeter->setObjectName(QStringLiteral("pnlPercmeter"));
    // The gauge draws its own lowered frame; a second bevel around it would
    // only double the border.
    pnlPercmeter->setFrameStyle(QFrame::NoFrame);
    prcMeter = new QProgressBar(pnlPercmeter);
    prcMeter->setObjectName(QStringLiteral("prcMeter"));
    prcMeter->setRange(0, 100);
    prcMeter->setValue(0);
    prcMeter->setTextVisible(true);
    prcMeter->setAlignment(Qt::AlignCenter);
    QPalette gauge = prcMeter->palette();
    gauge.setColor(QPalette::Highlight, kGaugeColor);
    prcMeter->setPalette(gauge);
    auto* meter = new QHBoxLayout(pnlPercmeter);
    meter->setContentsMargins(0, 0, 0, 0);
    meter->addWidget(prcMeter);

    auto* rows = new QVBoxLayout(pnlSending);
    rows->setContentsMargins(3, 2, 3, 3);
    rows->setSpacing(2);
    rows->addWidget(pnlStatus);
    rows->addWidget(pnlPercmeter);
    pnlSending->hide();

    connect(Button2, &QPushButton::clicked, this, &TfrmMailTo::btnCancelClick);
}

void TfrmMailTo::BuildAddressList()
{
    lstAddresses = new QListWidget(this);
    lstAddresses->setObjectName(QStringLiteral("lstAddresses"));
    lstAddresses->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lstAddresses->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lstAddresses->setToolTip(QStringLiteral("RightClick for more options..."));
    lstAddresses->setUniformItemSizes(true);
    lstAddresses->setContextMenuPolicy(Qt::CustomContextMenu);
    lstAddresses->setItemDelegate(new TAddressDelegate(lstAddresses));
    connect(lstAddresses, &QListWidget::itemDoubleClicked, this, &TfrmMailTo::lstAddressesDblClick);
    // A first start shows an empty list: say what it is for.
    FEmptyHint = new QLabel(QString::fromLatin1(kEmptyListHint), lstAddresses->viewport());
    FEmptyHint->setObjectName(QStringLiteral("lblEmptyHint"));
    FEmptyHint->setAlignment(Qt::AlignCenter);
    FEmptyHint->setWordWrap(true);
    FEmptyHint->setEnabled(false);   // drawn in the theme's muted text colour
    FEmptyHint->setAttribute(Qt::WA_TransparentForMouseEvents);
    // Tied to the hint, so that the list's destruction (which resets its
    // model after the hint is gone) calls nothing.
    QAbstractItemModel* model = lstAddresses->model();
    const auto update = [this] { UpdateEmptyHint(); };
    connect(model, &QAbstractItemModel::rowsInserted, FEmptyHint, update);
    connect(model, &QAbstractItemModel::rowsRemoved, FEmptyHint, update);
    connect(model, &QAbstractItemModel::modelReset, FEmptyHint, update);
    lstAddresses->viewport()->installEventFilter(this);
    connect(lstAddresses, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        popAddresses->popup(lstAddresses->viewport()->mapToGlobal(at));
    });
}

void TfrmMailTo::BuildContextMenu()
{
    popAddresses = new QMenu(this);
    popAddresses->setObjectName(QStringLiteral("popAddresses"));
    popAddAddress = MakeAction(lstAddresses, "popAddAddress", "&Add Address/List...", QKeySequence(Qt::Key_Insert));
    Editselected1 = MakeAction(lstAddresses, "Editselected1", "&Edit Selected...");
    Removeselected1 = MakeAction(lstAddresses, "Removeselected1", "&Remove Selected", QKeySequence(Qt::Key_Delete));
    N3 = MakeSeparator(lstAddresses, "N3");
    MailtoSelected1 = MakeAction(lstAddresses, "MailtoSelected1", "&Mail To Selected (no files)...",
                                 QKeySequence(Qt::CTRL | Qt::Key_M));
    N1 = MakeSeparator(lstAddresses, "N1");
    popHidepanel = MakeAction(lstAddresses, "popHidepanel", "&Hide Panel");
    ShowPanel1 = MakeAction(lstAddresses, "ShowPanel1", "&Show Panel");
    Setup1 = MakeAction(lstAddresses, "Setup1", "&Setup...", QKeySequence(Qt::CTRL | Qt::Key_S));
    N2 = MakeSeparator(lstAddresses, "N2");
    Exit1 = MakeAction(lstAddresses, "Exit1", "E&xit", QKeySequence(Qt::CTRL | Qt::Key_X));

    const QList<QAction*> items{popAddAddress, Editselected1, Removeselected1, N3, MailtoSelected1, N1,
                                popHidepanel, ShowPanel1, Setup1, N2, Exit1};
    popAddresses->addActions(items);
    // Added to the list as well, so that the keys work while it has focus.
    lstAddresses->addActions(items);

    connect(popAddAddress, &QAction::triggered, this, &TfrmMailTo::popAddAddressClick);
    connect(Editselected1, &QAction::triggered, this, &TfrmMailTo::Editselected1Click);
    connect(Removeselected1, &QAction::triggered, this, &TfrmMailTo::Removeselected1Click);
    connect(MailtoSelected1, &QAction::triggered, this, &TfrmMailTo::MailtoSelected1Click);
    connect(popHidepanel, &QAction::triggered, this, &TfrmMailTo::btnHidePanelClick);
    connect(ShowPanel1, &QAction::triggered, this, &TfrmMailTo::ShowPanel1Click);
    connect(Setup1, &QAction::triggered, this, &TfrmMailTo::Setup1Click);
    connect(Exit1, &QAction::triggered, this, &TfrmMailTo::Exit1Click);
}

// ---- start-up ------------------------------------------------------------

void TfrmMailTo::FormCreate()
{
    setAcceptDrops(true);
    SetStartDir(QDir::currentPath());

    TWindowSettings window;
    std::vector<std::string> addresses;
    LoadSettings(FSettingsPath, Mailer, Run, window, addresses);
    ApplyBounds(window);
    // After the bounds: compact mode sets the height from the current one.
    if (!window.ShowPanel)
        btnHidePanelClick();
    ApplyListFont(window);
    for (const std::string& address : addresses)
        lstAddresses->addItem(QString::fromStdString(address));
    ReSort();
}

namespace {
// How much of the window a screen must show for the window to be found and
// dragged back: its top edge on the screen and this much of it in view.
constexpr int kMinVisibleExtent = 50;

bool SeenOnAScreen(const QRect& wanted)
{
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect area = screen->availableGeometry();
        const QRect seen = area.intersected(wanted);
        if (wanted.top() >= area.top() && wanted.top() < area.bottom()
            && seen.width() >= std::min(kMinVisibleExtent, wanted.width())
            && seen.height() >= std::min(kMinVisibleExtent, wanted.height()))
            return true;
    }
    return QGuiApplication::screens().isEmpty();
}
}

void TfrmMailTo::ApplyBounds(const TWindowSettings& window)
{
    resize(window.Width, window.Height);
    QRect wanted(window.Left, window.Top, width(), height());
    // A place that no screen shows (a monitor that was unplugged, a title
    // bar above the screen's top) would hide the window: start at the
    // default place instead.
    if (!SeenOnAScreen(wanted)) {
        const TWindowSettings defaults;
        wanted.moveTopLeft(QGuiApplication::primaryScreen()->availableGeometry().topLeft()
                           + QPoint(defaults.Left, defaults.Top));
    }
    move(wanted.topLeft());
    FPlace = wanted.topLeft();
}

void TfrmMailTo::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    if (isVisible() && !FChangingMode)
        FPlace = pos();
}

void TfrmMailTo::ApplyListFont(const TWindowSettings& window)
{
    QFont font = lstAddresses->font();
    font.setFamily(QString::fromStdString(window.FontName));
    if (window.FontSize > 0)
        font.setPointSize(window.FontSize);
    font.setBold(false);
    font.setItalic(false);
    lstAddresses->setFont(font);
    SetListColors(window.FontColor, window.BackColor);
}

TWindowSettings TfrmMailTo::CurrentWindowSettings() const
{
    TWindowSettings window;
    window.Height = height();
    window.Width = width();
    window.Top = FPlace.y();
    window.Left = FPlace.x();
    window.ShowPanel = !pnlControl->isHidden();
    window.FontColor = FFontColor;
    const QFont font = lstAddresses->font();
    window.FontName = font.family().toStdString();
    window.FontSize = font.pointSize() > 0 ? font.pointSize() : int(std::lround(font.pointSizeF()));
    window.BackColor = FBackColor;
    return window;
}

void TfrmMailTo::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Without a window manager nobody gives the new window the focus, and
    // the command-line run waits for the first activation.
    if (!FActivated)
        activateWindow();
}

void TfrmMailTo::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && !FActivated)
        QMetaObject::invokeMethod(this, &TfrmMailTo::FormActivate, Qt::QueuedConnection);
}

void TfrmMailTo::FormActivate()
{
    if (FActivated)
        return;
    FActivated = true;
    if (!FArguments.isEmpty())
        SendMail();
}

// ---- closing -------------------------------------------------------------

bool TfrmMailTo::FormCloseQuery()
{
    if (!FTransferActive)
        return true;
    MessageDlg(TMsgKind::Error, "Transfer in Progress.  Click Cancel button first.");
    return false;
}

bool TfrmMailTo::FormClose()
{
    try {
        SaveSettings(FSettingsPath, Mailer, Run, CurrentWindowSettings(), EntryStrings());
        return true;
    } catch (const ESettingsError& e) {
        return CloseWithoutSaving(e.what());
    }
}

// Whether the window closes after the settings could not be saved. A
// window that can never close is worse than lost settings, so the user
// chooses; a command-line run has nobody to ask, so it reports the failure
// and ends with a status that says so.
bool TfrmMailTo::CloseWithoutSaving(const std::string& failure)
{
    if (!FArguments.isEmpty()) {
        std::fprintf(stderr, "%s: %s.\n", ApplicationTitle().c_str(), failure.c_str());
        FExitCode = kExitFailed;
        return true;
    }
    enum { kClose, kGoBack };
    const TQuestion question{TMsgKind::Error, ApplicationTitle(),
                             failure + ".\n\nClose without saving the settings and the address list?",
                             {"Close &without saving", "&Go back"}, kGoBack};
    return AskQuestion(question) == kClose;
}

void TfrmMailTo::closeEvent(QCloseEvent* event)
{
    if (!FormCloseQuery() || !FormClose()) {
        event->ignore();
        return;
    }
    event->accept();
    FClosed = true;
    emit Closed();
}

void TfrmMailTo::LogoutShowingDone()
{
    // Logout shows its result box after the QUIT reply: by then the status
    // line must not still read "Logging out..." at 0 %.
    const TMessageBoxHandler previous = SetMessageBoxHandler({});
    SetMessageBoxHandler([this, &previous](const TMessageBox& box) {
        pnlStatus->SetCaption(StatusText(msIdle));
        prcMeter->setValue(prcMeter->maximum());
        if (previous)
            previous(box);
        else
            std::fprintf(stderr, "%s: %s\n", box.Title.c_str(), box.Text.c_str());
    });
    try {
        Mailer.Logout();
    } catch (...) {
        SetMessageBoxHandler(previous);
        throw;
    }
    SetMessageBoxHandler(previous);
}

void TfrmMailTo::Exit1Click()
{
    close();
}

// ---- compact mode ----------------------------------------------------------

void TfrmMailTo::SetCompactFlags(bool compact)
{
    const bool shown = isVisible();
    const bool active = isActiveWindow();
    setWindowFlags(compact ? CompactFlags() : NormalFlags());
    // Compact, the window may shrink to the list alone.
    setMinimumSize(layout()->minimumSize());
    FCompact = compact;
    FSizeGrip->setVisible(compact);
    FSizeGrip->raise();
    // Changing the flags rebuilds the native window, hidden: show it again.
    // Drops stay accepted (the widget keeps its acceptDrops). The new window
    // must be the active one again, with the list focused when the focus was
    // on the panel that just went away, or the menu's keys reach nothing.
    if (!shown)
        return;
    show();
    if (active) {
        activateWindow();
        // The new native window may take the focus without the widget layer
        // hearing of it: the shortcuts would then see no active window.
        QApplication::setActiveWindow(this);
    }
    if (!focusWidget() || !focusWidget()->isVisibleTo(this))
        lstAddresses->setFocus();
}

void TfrmMailTo::btnHidePanelClick()
{
    pnlControl->hide();
    if (FCompact)
        return;
    const QRect outer = frameGeometry();
    FChangingMode = true;
    SetCompactFlags(true);
    // The client area takes the height the whole window had, title bar
    // included, so the list gains the room of the panel and the title.
    resize(width(), outer.height());
    move(FPlace);
    FChangingMode = false;
}

void TfrmMailTo::ShowPanel1Click()
{
    pnlControl->show();
    if (!FCompact)
        return;
    FChangingMode = true;
    SetCompactFlags(false);
    move(FPlace);
    FChangingMode = false;
}

bool TfrmMailTo::eventFilter(QObject* watched, QEvent* event)
{
    if (FEmptyHint && watched == lstAddresses->viewport() && event->type() == QEvent::Resize)
        UpdateEmptyHint();
    // Without a title bar the window is moved by dragging the list's empty
    // part (below its entries).
    if (FCompact && watched == lstAddresses->viewport() && event->type() == QEvent::MouseButtonPress) {
        const auto* press = static_cast<QMouseEvent*>(event);
        if (press->button() == Qt::LeftButton && !lstAddresses->indexAt(press->position().toPoint()).isValid()
            && windowHandle() && windowHandle()->startSystemMove())
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TfrmMailTo::UpdateEmptyHint()
{
    FEmptyHint->setGeometry(lstAddresses->viewport()->rect().adjusted(8, 8, -8, -8));
    FEmptyHint->setVisible(lstAddresses->count() == 0);
}

void TfrmMailTo::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (FSizeGrip) {
        FSizeGrip->resize(FSizeGrip->sizeHint());
        FSizeGrip->move(width() - FSizeGrip->width(), height() - FSizeGrip->height());
    }
}

// ---- font, colour, help, setup ----------------------------------------------

void TfrmMailTo::Button7Click()
{
    if (const auto font = ChooseFont(this, lstAddresses->font()))
        lstAddresses->setFont(*font);
}

void TfrmMailTo::btnColorClick()
{
    const QColor current = TColorToQColor(FBackColor, QApplication::palette(lstAddresses));
    if (const auto color = ChooseColor(this, current))
        SetListColors(FFontColor, QColorToTColor(*color));
}

void TfrmMailTo::btnTextColorClick()
{
    const QColor current = lstAddresses->palette().color(QPalette::Text);
    if (const auto color = ChooseColor(this, current))
        SetListColors(QColorToTColor(*color), FBackColor);
}

void TfrmMailTo::SetListColors(std::int32_t fontColor, std::int32_t backColor)
{
    FFontColor = fontColor;
    FBackColor = backColor;
    const QPalette system = QApplication::palette(lstAddresses);
    QPalette palette = lstAddresses->palette();
    palette.setColor(QPalette::Base, TColorToQColor(backColor, system));
    // Black type on the system's window colour is the plain default look;
    // on a dark theme that pair means the theme's own text colour, or the
    // list could not be read. The stored value stays as it is.
    const bool plainDefault = fontColor == clBlack && (std::uint32_t(backColor) & 0xFF000000u) == std::uint32_t(kSystemColorFlag);
    palette.setColor(QPalette::Text, plainDefault ? system.color(QPalette::Text) : TColorToQColor(fontColor, system));
    lstAddresses->setPalette(palette);
}

void TfrmMailTo::Button5Click()
{
    ShowReadme();
}

void TfrmMailTo::btnSetupClick()
{
    ShowSetup(this, Mailer, Run);
}

void TfrmMailTo::Setup1Click()
{
    ShowSetup(this, Mailer, Run);
}

void TfrmMailTo::MailtoSelected1Click()
{
    SendMail();
}

// ---- keys ----------------------------------------------------------------

void TfrmMailTo::keyPressEvent(QKeyEvent* event)
{
    // "&Add:" is the window's default button: Enter that no control took
    // (the address edit passes it on) presses it.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && event->modifiers() == Qt::NoModifier && Button1->isVisible() && Button1->isEnabled()) {
        Button1->click();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}
