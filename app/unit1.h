// Unit1: the main window. It keeps the address list, takes files dropped on
// it (or named on the command line) and mails them through its SMTP client
// `Mailer` in one mailing run (`SendMail`).
#pragma once

#include "mailingrun.h"
#include "mailto.h"
#include "settings.h"
#include "smtp.h"

#include <QColor>
#include <QPoint>
#include <QFrame>
#include <QPalette>
#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QProgressBar;
class QPushButton;
class QShortcut;
class QSizeGrip;

// The status line of the sending panel. Its caption keeps the leading
// blanks that the status texts carry (they clear the Cancel button that
// lies over the line's left end); on screen the button sits in the layout
// beside the text, so the blanks are not painted.
class TStatusPanel : public QFrame {
    Q_OBJECT
public:
    explicit TStatusPanel(QWidget* parent = nullptr);
    const QString& Caption() const { return FCaption; }
    void SetCaption(const QString& caption);
    // How many times the caption was changed (a repeated status must not
    // change it again).
    int CaptionChanges() const { return FCaptionChanges; }
    QLabel* TextLabel() const { return FText; }
    QSize minimumSizeHint() const override;

private:
    QString FCaption;
    QLabel* FText = nullptr;
    int FCaptionChanges = 0;
};

class TfrmMailTo : public QWidget {
    Q_OBJECT
public:
    // `Arguments`: the program's command-line arguments (without the program
    // name); when there is at least one, the first activation performs one
    // mailing run with them and then closes the window.
    // `SettingsPath`: where the settings live; by default the file beside
    // the program (computed once, here).
    explicit TfrmMailTo(const QStringList& Arguments = {},
                        const std::optional<std::string>& SettingsPath = std::nullopt,
                        QWidget* parent = nullptr);
    ~TfrmMailTo() override;

    // ---- components (public as in the form, so that tests reach them) ----
    TSMTP Mailer;

    QWidget* pnlControl = nullptr;
    QPushButton* Button1 = nullptr;        // "&Add:"
    QLineEdit* txtAddress = nullptr;
    QPushButton* Button3 = nullptr;        // "Add &Email List..."
    QPushButton* btnHidePanel = nullptr;
    QPushButton* btnSetup = nullptr;
    QPushButton* Button5 = nullptr;        // "&Help"
    QPushButton* btnRemSelected = nullptr;
    QPushButton* btnColor = nullptr;
    QPushButton* btnFont = nullptr;
    QPushButton* btnTextColor = nullptr;   // the font dialog has no colour
    QLabel* Label1 = nullptr;

    QWidget* pnlSending = nullptr;
    TStatusPanel* pnlStatus = nullptr;
    QPushButton* Button2 = nullptr;        // "Cancel" while sending
    QFrame* pnlPercmeter = nullptr;
    QProgressBar* prcMeter = nullptr;

    QListWidget* lstAddresses = nullptr;

    QMenu* popAddresses = nullptr;
    QAction* popAddAddress = nullptr;
    QAction* Editselected1 = nullptr;
    QAction* Removeselected1 = nullptr;
    QAction* N3 = nullptr;
    QAction* MailtoSelected1 = nullptr;
    QAction* N1 = nullptr;
    QAction* popHidepanel = nullptr;
    QAction* ShowPanel1 = nullptr;
    QAction* Setup1 = nullptr;
    QAction* N2 = nullptr;
    QAction* Exit1 = nullptr;

    // ---- settings of the mailing run (keys of the settings file) ----
    TRunSettings Run;

    bool TransferActive() const { return FTransferActive; }
    // The mailto: links among the arguments, merged; a run started from one
    // always asks for confirmation in the message dialog.
    const std::optional<TMailtoLink>& Link() const { return FLink; }
    // What the message dialog lists for confirmation: recipients and files.
    QStringList RunSummary(const TMessageDraft& draft) const;
    // The program's exit status once the window has closed: 0, or
    // kExitFailed after a command-line run that did not send everything or
    // could not save the settings.
    int ExitCode() const { return FExitCode; }
    static constexpr int kExitFailed = 1;
    const std::string& SettingsPath() const { return FSettingsPath; }
    const QStringList& Arguments() const { return FArguments; }
    bool CompactMode() const { return FCompact; }
    std::int32_t FontColor() const { return FFontColor; }
    std::int32_t BackColor() const { return FBackColor; }

    // ---- the mailing run ----
    void SendMail();
    std::string GetRecipients(TStrings& List);
    std::string GetSubject();
    void LoadMsgText(TStrings& List);
    bool PromptMessage();
    void MailerStatusChange(QObject* Sender);
    void MailerProgress(QObject* Sender);
    void btnCancelClick();

    // ---- window commands ----
    void FormActivate();
    void btnHidePanelClick();
    void ShowPanel1Click();
    void Button7Click();       // "&Font"
    void btnColorClick();
    void btnTextColorClick();
    void Button5Click();       // "&Help"
    void Exit1Click();
    void MailtoSelected1Click();
    void btnSetupClick();
    void Setup1Click();
    // Takes a drop of local file names as the shell hands them over.
    void AcceptDroppedFiles(const QStringList& names);

    // ---- address list ----
    void Button1Click();
    void Button3Click();
    void btnRemSelectedClick();
    void lstAddressesDblClick();
    void popAddAddressClick();
    void Editselected1Click();
    void Removeselected1Click();
    // Inserts `text` at its sorted place, keeping the other selections; a
    // text too long for the settings file is refused with a message.
    void AddEntry(const QString& text);
    // Sorts the whole list again; no entry stays selected.
    void ReSort();
    QStringList Entries() const;
    std::vector<std::string> EntryStrings() const;

    // ---- list look ----
    void SetListColors(std::int32_t fontColor, std::int32_t backColor);

signals:
    // The window has closed (its settings are saved); the program ends.
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // start-up
    void BuildControlPanel();
    void BuildSendingPanel();
    void BuildAddressList();
    void BuildContextMenu();
    void FormCreate();
    void ApplyBounds(const TWindowSettings& window);
    void ApplyListFont(const TWindowSettings& window);
    bool FormCloseQuery();
    bool FormClose();
    bool CloseWithoutSaving(const std::string& failure);
    TWindowSettings CurrentWindowSettings() const;
    void SetCompactFlags(bool compact);

    // the run: TMailingRun does the work, the window answers its questions
    std::unique_ptr<TMailingRun> MakeRun();
    std::vector<std::string> SelectedEntries() const;
    std::optional<std::string> AskRecipientDialog();
    bool MessageDialog(TMessageDraft& draft);
    void ShowSending(bool sending);
    void RestoreAfterRun(bool panelWasVisible);
    void StartDroppedRun();
    bool TakesDrop(QDropEvent* event) const;
    void TakeLink(TMailingRun& run) const;
    void LogoutShowingDone();
    void UpdateEmptyHint();

    // address list
    void EditEntry(int row);
    int FirstSelectedRow() const;
    void RemoveSelected();

    std::string FSettingsPath;
    QStringList FArguments;
    std::optional<TMailtoLink> FLink;
    QLabel* FEmptyHint = nullptr;
    bool FTransferActive = false;
    int FExitCode = 0;
    bool FActivated = false;
    bool FDropPending = false;
    bool FClosed = false;
    // Where the window was last put or moved by the user, outer top-left:
    // what the settings keep. Moves while the mode changes rebuild the
    // native window and say nothing about where the user wants it.
    QPoint FPlace;
    bool FChangingMode = false;
    bool FCompact = false;
    std::int32_t FFontColor = 0;
    std::int32_t FBackColor = std::int32_t(0x80000005u);
    QStringList FDroppedFiles;
    QString FLastListFile;       // the list-file chooser offers it again
    QShortcut* FCancelKey = nullptr;
    QSizeGrip* FSizeGrip = nullptr;
};

// ---- helpers of the unit, pure where they can be ------------------------

// Colours as the settings file stores them: 0x00BBGGRR for a direct colour,
// 0x80000000 + index for a system colour.
QColor TColorToQColor(std::int32_t color, const QPalette& palette);
std::int32_t QColorToTColor(const QColor& color);

// The status-line text for a mailer status (with its 14 leading blanks).
QString StatusText(int status);
// The mailto: arguments merged into one link; nothing when there are none.
std::optional<TMailtoLink> LinkFromArguments(const QStringList& arguments);
