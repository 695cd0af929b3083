// The main window: layout and menu, drops, the close query, compact mode,
// Esc, font and colour, settings at start-up and close.
#include "fake_smtp_server.h"
#include "support_app_window.h"

#include <QAction>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override { window = MakeWindow(Ini()); }
    std::string Ini() const { return scratch.Path("tessaly.ini"); }
    void Ready(TFakeSMTPServer& server)
    {
        window->Mailer.SetServer(server.Address());
        window->Mailer.SetFrom("sender@example.com");
        window->Mailer.SetShowResult(false);
        window->Mailer.SetTimeOut(10);
        window->Run.MsgText = 1;
        window->Run.MsgSubject = 1;
        window->AddEntry("a@example.com");
        SelectEntries(*window, {"a@example.com"});
    }
    // Runs `action` each time the mailer reports `status`.
    void AtStatus(TMailStatus status, std::function<void()> action)
    {
        const TNotifyEvent shown = window->Mailer.OnStatusChange;
        window->Mailer.OnStatusChange = [this, shown, status, action](QObject* sender) {
            shown(sender);
            if (window->Mailer.Status() == status)
                action();
        };
    }
    void Drop(const QStringList& paths)
    {
        auto* data = new QMimeData;
        QList<QUrl> urls;
        for (const QString& path : paths)
            urls << QUrl::fromLocalFile(path);
        data->setUrls(urls);
        const QPointF at(window->width() / 2.0, window->height() - 10.0);
        QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window.get(), &enter);
        lastEnterAccepted = enter.isAccepted();
        QDropEvent drop(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window.get(), &drop);
        delete data;
        // The run starts once the drop has been answered.
        QCoreApplication::processEvents();
    }

    TSeams seams;
    TScratch scratch;
    std::unique_ptr<TfrmMailTo> window;
    bool lastEnterAccepted = false;
};

// ---- layout -------------------------------------------------------------------

TEST_F(MainWindowTest, CaptionsHintsAndTheListFirstInTabOrder)
{
    EXPECT_EQ(window->windowTitle(), "Tessaly 1.0");
    const std::vector<std::tuple<QPushButton*, QString, QString>> buttons{
        {window->Button1, "&Add:", "Add email address at right to list..."},
        {window->Button3, "Add &Email List...", ""},
        {window->btnHidePanel, "Hi&de Panel", "Hide this panel..."},
        {window->btnSetup, "&Setup...", ""},
        {window->Button5, "&Help", ""},
        {window->btnRemSelected, "&Remove selected", ""},
        {window->btnColor, "&Color", "Set background color..."},
        {window->btnFont, "&Font", "Set font and properties..."},
        {window->Button2, "Cancel", ""},
    };
    for (const auto& [button, caption, hint] : buttons) {
        EXPECT_EQ(button->text(), caption);
        EXPECT_EQ(button->toolTip(), hint) << caption.toStdString();
    }
    EXPECT_EQ(window->txtAddress->toolTip(), "Enter email address to add...");
    EXPECT_EQ(window->Label1->text(), "Select addresses to mail dragged files to:");
    EXPECT_EQ(window->lstAddresses->toolTip(), "RightClick for more options...");
    EXPECT_EQ(window->lstAddresses->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(window->prcMeter->minimum(), 0);
    EXPECT_EQ(window->prcMeter->maximum(), 100);
    EXPECT_TRUE(window->prcMeter->isTextVisible());
    EXPECT_TRUE(window->pnlSending->isHidden());

    ShowActive(*window);
    EXPECT_EQ(QApplication::focusWidget(), window->lstAddresses);
    // The tab order from the list: the control panel's controls as listed.
    std::vector<QWidget*> order;
    for (QWidget* w = window->lstAddresses->nextInFocusChain(); w != window->lstAddresses && order.size() < 9;
         w = w->nextInFocusChain())
        if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(window.get()))
            order.push_back(w);
    EXPECT_EQ(order, (std::vector<QWidget*>{window->Button1, window->txtAddress, window->Button3,
                                            window->btnHidePanel, window->btnSetup, window->Button5,
                                            window->btnRemSelected, window->btnColor, window->btnFont}));
}

TEST_F(MainWindowTest, ContextMenuHoldsEveryItemInOrderWithItsKeys)
{
    std::vector<std::pair<QString, QString>> items;
    for (const QAction* action : window->popAddresses->actions())
        items.emplace_back(action->isSeparator() ? "-" : action->text(), action->shortcut().toString());
    const std::vector<std::pair<QString, QString>> expected{
        {"&Add Address/List...", "Ins"}, {"&Edit Selected...", ""}, {"&Remove Selected", "Del"}, {"-", ""},
        {"&Mail To Selected (no files)...", "Ctrl+M"}, {"-", ""}, {"&Hide Panel", ""}, {"&Show Panel", ""},
        {"&Setup...", "Ctrl+S"}, {"-", ""}, {"E&xit", "Ctrl+X"}};
    EXPECT_EQ(items, expected);
}

// ---- drops -----------------------------------------------------------------------

TEST_F(MainWindowTest, DropOfThreeFilesAndAFolderMailsTheThreeFiles)
{
    TFakeSMTPServer server(SessionScript(1, 1));
    Ready(server);
    const QStringList dropped{QString::fromStdString(scratch.Write("one.txt", "1")),
                              QString::fromStdString(scratch.Folder("folder")),
                              QString::fromStdString(scratch.Write("two.dat", "2")),
                              QString::fromStdString(scratch.Write("three.txt", "3"))};
    std::vector<std::string> attached;
    AtStatus(msSendingCommands, [&] { attached = window->Mailer.Attachments().ToVector(); });

    Drop(dropped);

    EXPECT_TRUE(lastEnterAccepted);
    EXPECT_EQ(attached, (std::vector<std::string>{dropped[0].toStdString(), dropped[2].toStdString(),
                                                  dropped[3].toStdString()}));
    EXPECT_TRUE(AnyLineHolds(server.Received(), "Subject:  Files: one.txt, two.dat, three.txt"));
    EXPECT_EQ(LinesStartingWith(server.Received(), "QUIT").size(), 1u);
    EXPECT_FALSE(window->TransferActive());
}

TEST_F(MainWindowTest, DropWithNothingSelectedOpensTheRecipientPrompt)
{
    TFakeSMTPServer server(SessionScript(1, 1));
    Ready(server);
    window->lstAddresses->clearSelection();
    seams.Dialogs.push_back(seams.Address("", QDialog::Rejected));

    Drop({QString::fromStdString(scratch.Write("one.txt", "1"))});

    EXPECT_EQ(seams.Prompts, std::vector<QString>{"Enter recipient or list to mail to:"});
    EXPECT_EQ(server.Connections(), 0);
}

TEST_F(MainWindowTest, DropIsRefusedWhileARunIsActive)
{
    TFakeSMTPServer server(SessionScript(1, 1));
    Ready(server);
    const QString first = QString::fromStdString(scratch.Write("one.txt", "1"));
    const QString second = QString::fromStdString(scratch.Write("two.txt", "2"));
    bool refused = false;
    std::vector<std::string> attached;
    AtStatus(msLoggingIn, [&] {
        Drop({second});
        refused = !lastEnterAccepted;
        attached = window->Mailer.Attachments().ToVector();
    });

    Drop({first});

    EXPECT_TRUE(refused);
    EXPECT_EQ(attached, std::vector<std::string>{first.toStdString()});
    EXPECT_EQ(server.Connections(), 1);
    EXPECT_EQ(SplitMessages(server.Received()).size(), 1u);
}

// ---- close query ------------------------------------------------------------------------

TEST_F(MainWindowTest, CloseIsRefusedDuringARunAndTheSendingGoesOn)
{
    TFakeSMTPServer server(SessionScript(1, 1));
    Ready(server);
    ShowActive(*window);
    std::vector<bool> closed;
    AtStatus(msSendingBody, [&] {
        closed.push_back(window->close());
        window->Exit1->trigger();
        closed.push_back(!window->isVisible());
    });
    window->Mailer.Attachments().Add(scratch.Write("one.txt", "1"));

    window->SendMail();

    EXPECT_EQ(closed, (std::vector<bool>{false, false}));
    EXPECT_EQ(seams.BoxTexts(), (std::vector<std::string>{"Transfer in Progress.  Click Cancel button first.",
                                                          "Transfer in Progress.  Click Cancel button first."}));
    EXPECT_EQ(seams.Boxes[0].Kind, TMsgKind::Error);
    EXPECT_EQ(LinesStartingWith(server.Received(), "QUIT").size(), 1u);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->close());
}

TEST_F(MainWindowTest, CloseSavesTheSettingsAndAFailedSaveKeepsTheWindowOpen)
{
    const std::string unwritable = scratch.Path("no-such-folder/tessaly.ini");
    window = MakeWindow(unwritable);
    ShowActive(*window);

    EXPECT_FALSE(window->close());

    ASSERT_EQ(seams.Boxes.size(), 1u);
    EXPECT_EQ(seams.Boxes[0].Title, ApplicationTitle());
    EXPECT_EQ(seams.Boxes[0].Text, "Unable to write to " + unwritable + ".");
    EXPECT_TRUE(window->isVisible());
}

TEST_F(MainWindowTest, FirstStartUsesTheDefaultsAndCloseWritesThem)
{
    EXPECT_EQ(window->width(), 432);
    EXPECT_EQ(window->height(), 321);
    EXPECT_EQ(window->pos(), QPoint(15, 15));
    EXPECT_FALSE(window->CompactMode());
    EXPECT_EQ(window->BackColor(), std::int32_t(0x80000005u));
    EXPECT_EQ(window->lstAddresses->font().family(), "MS Sans Serif");
    EXPECT_EQ(window->lstAddresses->font().pointSize(), 10);
    QSignalSpy closed(window.get(), &TfrmMailTo::Closed);

    EXPECT_TRUE(window->close());

    EXPECT_EQ(closed.count(), 1);
    const std::string ini = scratch.Read("tessaly.ini");
    EXPECT_NE(ini.find("BackColor=-2147483643"), std::string::npos) << ini;
    EXPECT_NE(ini.find("ShowPanel=1"), std::string::npos);
    EXPECT_EQ(ini.find("[Addresses]"), std::string::npos);
}

TEST_F(MainWindowTest, StartUpLoadsBoundsLookAndASortedList)
{
    scratch.Write("tessaly.ini", IniText({"Height=300", "Width=500", "Top=40", "Left=60", "FontColor=0xFF",
                                          "FontName=DejaVu Sans", "FontSize=12", "BackColor=65280"},
                                         {"zed@example.com", "Ann@example.com", "bob@example.com"}));
    window = MakeWindow(Ini());

    EXPECT_EQ(window->size(), QSize(500, 300));
    EXPECT_EQ(window->pos(), QPoint(60, 40));
    EXPECT_EQ(window->Entries(), (QStringList{"Ann@example.com", "bob@example.com", "zed@example.com"}));
    EXPECT_EQ(window->lstAddresses->font().family(), "DejaVu Sans");
    EXPECT_EQ(window->lstAddresses->font().pointSize(), 12);
    EXPECT_EQ(window->lstAddresses->palette().color(QPalette::Text), QColor(255, 0, 0));
    EXPECT_EQ(window->lstAddresses->palette().color(QPalette::Base), QColor(0, 255, 0));
    EXPECT_TRUE(window->close());
    const std::string ini = scratch.Read("tessaly.ini");
    EXPECT_NE(ini.find("FontColor=255"), std::string::npos) << ini;
    EXPECT_NE(ini.find("anAddress0=Ann@example.com"), std::string::npos);
}

// ---- compact mode ----------------------------------------------------------------------

TEST_F(MainWindowTest, CompactModeSurvivesARestart)
{
    ShowActive(*window);
    const int outer = window->frameGeometry().height();

    window->btnHidePanel->click();

    EXPECT_TRUE(window->pnlControl->isHidden());
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(window->windowType(), Qt::Tool);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->acceptDrops());
    EXPECT_EQ(window->height(), outer);
    ASSERT_TRUE(window->close());
    EXPECT_NE(scratch.Read("tessaly.ini").find("ShowPanel=0"), std::string::npos);

    window = MakeWindow(Ini());
    EXPECT_TRUE(window->CompactMode());
    EXPECT_TRUE(window->pnlControl->isHidden());
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(window->height(), outer);

    window->ShowPanel1->trigger();
    EXPECT_FALSE(window->CompactMode());
    EXPECT_FALSE(window->pnlControl->isHidden());
    EXPECT_FALSE(window->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(window->windowType(), Qt::Window);
}

TEST_F(MainWindowTest, ShowPanelInNormalModeChangesNothing)
{
    ShowActive(*window);
    const auto flags = window->windowFlags();
    const QRect place = window->geometry();

    window->ShowPanel1->trigger();

    EXPECT_EQ(window->windowFlags(), flags);
    EXPECT_EQ(window->geometry(), place);
    EXPECT_FALSE(window->pnlControl->isHidden());
}

TEST_F(MainWindowTest, DropsInCompactModeAreMailedAsInNormalMode)
{
    TFakeSMTPServer server(SessionScript(1, 1));
    Ready(server);
    window->popHidepanel->trigger();
    ASSERT_TRUE(window->CompactMode());
    SelectEntries(*window, {"a@example.com"});

    Drop({QString::fromStdString(scratch.Write("one.txt", "1"))});

    EXPECT_TRUE(AnyLineHolds(server.Received(), "Subject:  Files: one.txt"));
    // The run hides the panel and puts it back as it was: hidden.
    EXPECT_TRUE(window->pnlControl->isHidden());
    EXPECT_TRUE(window->CompactMode());
}

// ---- Esc --------------------------------------------------------------------------------

TEST_F(MainWindowTest, EscCancelsOnlyWhileSending)
{
    TFakeSMTPServer server({"S: 220 ready", "C: HELO"});   // the HELO reply never comes
    Ready(server);
    window->Mailer.SetShowResult(true);
    window->Mailer.Attachments().Add(scratch.Write("one.txt", "1"));
    ShowActive(*window);

    // Idle: Esc does nothing.
    QTest::keyClick(window->lstAddresses, Qt::Key_Escape);
    EXPECT_EQ(window->Mailer.Status(), msIdle);

    AtStatus(msLoggingIn, [&] { QTest::keyClick(window.get(), Qt::Key_Escape); });
    window->SendMail();

    EXPECT_EQ(seams.BoxTexts(), std::vector<std::string>{"Send aborted:\r\nOperation has been canceled"});
    EXPECT_TRUE(window->pnlSending->isHidden());
}

// ---- font and colour ----------------------------------------------------------------------

TEST_F(MainWindowTest, ColourCancelLeavesTheListAndAConfirmedColourIsKept)
{
    const QColor before = window->lstAddresses->palette().color(QPalette::Base);
    seams.Colors = {std::nullopt, QColor(0x12, 0x34, 0x56)};

    window->btnColor->click();
    EXPECT_EQ(window->BackColor(), std::int32_t(0x80000005u));
    EXPECT_EQ(window->lstAddresses->palette().color(QPalette::Base), before);

    window->btnColor->click();
    EXPECT_EQ(window->BackColor(), 0x563412);
    EXPECT_EQ(window->lstAddresses->palette().color(QPalette::Base), QColor(0x12, 0x34, 0x56));
    ASSERT_TRUE(window->close());
    EXPECT_NE(scratch.Read("tessaly.ini").find("BackColor=5649426"), std::string::npos);
}

TEST_F(MainWindowTest, FontButtonSetsTheListFontAndCancelKeepsIt)
{
    QFont chosen("DejaVu Serif", 14);
    chosen.setBold(true);
    seams.Fonts = {std::nullopt, chosen};

    window->btnFont->click();
    EXPECT_EQ(window->lstAddresses->font().family(), "MS Sans Serif");

    window->btnFont->click();
    EXPECT_EQ(window->lstAddresses->font().family(), "DejaVu Serif");
    EXPECT_EQ(window->lstAddresses->font().pointSize(), 14);
    EXPECT_TRUE(window->lstAddresses->font().bold());
    // Only the list's font changes.
    EXPECT_NE(window->Button1->font().family(), "DejaVu Serif");
}

TEST_F(MainWindowTest, DefaultBlackOnTheSystemColourFollowsADarkTheme)
{
    const QPalette original = QApplication::palette();
    QPalette dark = original;
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    dark.setColor(QPalette::Text, QColor(230, 230, 230));
    QApplication::setPalette(dark);

    window->SetListColors(0, std::int32_t(0x80000005u));
    const QPalette themed = window->lstAddresses->palette();
    window->SetListColors(0, 0xFFFFFF);
    const QPalette chosen = window->lstAddresses->palette();
    QApplication::setPalette(original);

    EXPECT_EQ(themed.color(QPalette::Base), QColor(30, 30, 30));
    EXPECT_EQ(themed.color(QPalette::Text), QColor(230, 230, 230));
    EXPECT_EQ(chosen.color(QPalette::Base), QColor(255, 255, 255));
    EXPECT_EQ(chosen.color(QPalette::Text), QColor(0, 0, 0));
    EXPECT_EQ(window->FontColor(), 0);
}

TEST(TColor, DirectAndSystemColours)
{
    QPalette palette;
    palette.setColor(QPalette::Base, QColor(1, 2, 3));
    palette.setColor(QPalette::Text, QColor(4, 5, 6));
    EXPECT_EQ(TColorToQColor(0x0000FF, palette), QColor(255, 0, 0));
    EXPECT_EQ(TColorToQColor(0xFF0000, palette), QColor(0, 0, 255));
    EXPECT_EQ(TColorToQColor(std::int32_t(0x80000005u), palette), QColor(1, 2, 3));
    EXPECT_EQ(TColorToQColor(std::int32_t(0x80000008u), palette), QColor(4, 5, 6));
    EXPECT_EQ(QColorToTColor(QColor(0x12, 0x34, 0x56)), 0x563412);
}

// ---- help and setup ----------------------------------------------------------------------

TEST_F(MainWindowTest, HelpOpensTheReadmeAndSetupOpensTheSetupDialog)
{
    window->Button5->click();
    ASSERT_EQ(seams.Edited.size(), 1u);
    EXPECT_TRUE(seams.Edited[0].endsWith("readme.txt")) << seams.Edited[0].toStdString();

    seams.Dialogs.push_back(TSeams::Any(QDialog::Rejected));
    seams.Dialogs.push_back(TSeams::Any(QDialog::Rejected));
    window->btnSetup->click();
    window->Setup1->trigger();
    EXPECT_EQ(seams.DialogClasses, (std::vector<std::string>{"TSetupDlg", "TSetupDlg"}));
}

}
