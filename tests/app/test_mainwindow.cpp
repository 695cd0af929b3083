// The main window: layout and menu, drops, the close query, compact mode,
// Esc, font and colour, settings at start-up and close, and the address
// list with every command that adds, edits or removes entries.
#include "support_app.h"

#include <QAction>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

namespace {

class MainWindowTest : public AppWindowTest {
protected:
    // Delivers to a scripted server, with a@example.com the selected entry.
    TFakeSMTPServer& Ready(std::vector<std::string> script)
    {
        Fill({"a@example.com"});
        SelectEntries(*window, {"a@example.com"});
        return Serve(std::move(script));
    }
    // Drops `paths` on the window; returns whether the drag was welcome.
    bool Drop(const QStringList& paths)
    {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString& path : paths)
            urls << QUrl::fromLocalFile(path);
        data.setUrls(urls);
        const QPointF at(window->width() / 2.0, window->height() - 10.0);
        QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window.get(), &enter);
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window.get(), &drop);
        // The run starts once the drop has been answered.
        QCoreApplication::processEvents();
        return enter.isAccepted();
    }
    // A double-click on a row as the mouse delivers it: press, release,
    // then the double-click event and its release.
    void DoubleClick(int row)
    {
        QWidget* viewport = window->lstAddresses->viewport();
        const QPointF at = window->lstAddresses->visualItemRect(window->lstAddresses->item(row)).center();
        for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                                  QEvent::MouseButtonRelease}) {
            const Qt::MouseButtons down = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
            QMouseEvent event(type, at, viewport->mapToGlobal(at), Qt::LeftButton, down, Qt::NoModifier);
            QCoreApplication::sendEvent(viewport, &event);
        }
    }
};

// ---- layout -------------------------------------------------------------------

TEST_F(MainWindowTest, TheListFirstInTabOrderThenThePanelAndTheMenuWithItsKeys)
{
    EXPECT_EQ(window->lstAddresses->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_TRUE(window->pnlSending->isHidden());
    ShowActive(*window);
    EXPECT_EQ(QApplication::focusWidget(), window->lstAddresses);
    std::vector<QWidget*> order;
    for (QWidget* w = window->lstAddresses->nextInFocusChain(); w != window->lstAddresses && order.size() < 9;
         w = w->nextInFocusChain())
        if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(window.get()))
            order.push_back(w);
    EXPECT_EQ(order, (std::vector<QWidget*>{window->Button1, window->txtAddress, window->Button3,
                                            window->btnHidePanel, window->btnSetup, window->Button5,
                                            window->btnRemSelected, window->btnColor, window->btnFont}));

    std::vector<std::pair<QString, QString>> items;
    for (const QAction* action : window->popAddresses->actions())
        items.emplace_back(action->isSeparator() ? "-" : action->text(), action->shortcut().toString());
    EXPECT_EQ(items, (std::vector<std::pair<QString, QString>>{
                         {"&Add Address/List...", "Ins"}, {"&Edit Selected...", ""}, {"&Remove Selected", "Del"},
                         {"-", ""}, {"&Mail To Selected (no files)...", "Ctrl+M"}, {"-", ""}, {"&Hide Panel", ""},
                         {"&Show Panel", ""}, {"&Setup...", "Ctrl+S"}, {"-", ""}, {"E&xit", "Ctrl+X"}}));
}

// ---- drops -----------------------------------------------------------------------

TEST_F(MainWindowTest, DropOfThreeFilesAndAFolderMailsTheThreeFilesInNormalAndCompactMode)
{
    for (const bool compact : {false, true}) {
        SCOPED_TRACE(compact ? "compact" : "normal");
        Open();
        if (compact)
            window->popHidepanel->trigger();
        TFakeSMTPServer& server = Ready(SessionScript(1, 1));
        const QStringList dropped{QString::fromStdString(scratch.Write("one.txt", "1")), QString::fromStdString(scratch.Folder("f")),
                                  QString::fromStdString(scratch.Write("two.dat", "2")),
                                  QString::fromStdString(scratch.Write("three.txt", "3"))};
        Sent.clear();

        EXPECT_TRUE(Drop(dropped));

        ASSERT_EQ(Sent.size(), 1u);
        EXPECT_EQ(Sent[0].Attachments, (std::vector<std::string>{dropped[0].toStdString(), dropped[2].toStdString(),
                                                                 dropped[3].toStdString()}));
        EXPECT_TRUE(AnyLineHolds(server.Received(), "Subject:  Files: one.txt, two.dat, three.txt"));
        EXPECT_EQ(LinesStartingWith(server.Received(), "QUIT").size(), 1u);
        EXPECT_FALSE(window->TransferActive());
        // The run hides the panel and puts it back as it was.
        EXPECT_EQ(window->pnlControl->isHidden(), compact);
    }
}

TEST_F(MainWindowTest, DuringARunDropsAndCloseAreRefusedAndTheSendingGoesOn)
{
    TFakeSMTPServer& server = Ready(SessionScript(1, 1));
    ShowActive(*window);
    const std::string first = scratch.Write("one.txt", "1");
    std::vector<bool> refused;
    std::vector<std::string> attached;
    OnStatus = [&](TMailStatus status) {
        if (status == msLoggingIn) {
            refused.push_back(!Drop({QString::fromStdString(scratch.Write("two.txt", "2"))}));
            attached = window->Mailer.Attachments().ToVector();
        }
        if (status == msSendingBody) {
            refused.push_back(!window->close());
            window->Exit1->trigger();
            refused.push_back(window->isVisible());
        }
    };

    Drop({QString::fromStdString(first)});

    EXPECT_EQ(refused, (std::vector<bool>{true, true, true}));
    EXPECT_EQ(attached, std::vector<std::string>{first});
    EXPECT_EQ(seams.BoxTexts(), std::vector<std::string>(2, "Transfer in Progress.  Click Cancel button first."));
    EXPECT_EQ(seams.Boxes[0].Kind, TMsgKind::Error);
    EXPECT_EQ(server.Connections(), 1);
    EXPECT_EQ(SplitMessages(server.Received()).size(), 1u);
    EXPECT_EQ(LinesStartingWith(server.Received(), "QUIT").size(), 1u);
    EXPECT_TRUE(window->close());
}

TEST_F(MainWindowTest, FailedSaveOnCloseKeepsTheWindowOpen)
{
    const std::string unwritable = scratch.Path("no-such-folder/tessaly.ini");
    window = std::make_unique<TfrmMailTo>(QStringList{}, unwritable);
    ShowActive(*window);

    EXPECT_FALSE(window->close());

    ASSERT_EQ(seams.Boxes.size(), 1u);
    EXPECT_EQ(seams.Boxes[0].Title, ApplicationTitle());
    EXPECT_EQ(seams.Boxes[0].Text, "Unable to write to " + unwritable + ".");
    EXPECT_TRUE(window->isVisible());
}

TEST_F(MainWindowTest, StartUpLoadsBoundsLookAndASortedListAndCloseSavesThem)
{
    // First start: the defaults, written on close.
    EXPECT_EQ(QRect(window->pos(), window->size()), QRect(15, 15, 432, 321));
    EXPECT_FALSE(window->CompactMode());
    EXPECT_EQ(window->lstAddresses->font().family(), "MS Sans Serif");
    EXPECT_EQ(window->lstAddresses->font().pointSize(), 10);
    QSignalSpy closed(window.get(), &TfrmMailTo::Closed);
    EXPECT_TRUE(window->close());
    EXPECT_EQ(closed.count(), 1);
    std::string ini = scratch.Read("tessaly.ini");
    EXPECT_NE(ini.find("BackColor=-2147483643"), std::string::npos) << ini;
    EXPECT_NE(ini.find("ShowPanel=1"), std::string::npos);
    EXPECT_EQ(ini.find("[Addresses]"), std::string::npos);

    scratch.Write("tessaly.ini", IniText({"Height=300", "Width=500", "Top=40", "Left=60", "FontColor=0xFF",
                                          "FontName=DejaVu Sans", "FontSize=12", "BackColor=65280"},
                                         {"Zed@example.com", "b@example.com", "Ann@example.com", "b@example.com"}));
    Open();
    EXPECT_EQ(QRect(window->pos(), window->size()), QRect(60, 40, 500, 300));
    // Sorted without regard to case; duplicates stay.
    const QStringList sorted{"Ann@example.com", "b@example.com", "b@example.com", "Zed@example.com"};
    EXPECT_EQ(window->Entries(), sorted);
    EXPECT_EQ(window->lstAddresses->font().family(), "DejaVu Sans");
    EXPECT_EQ(window->lstAddresses->font().pointSize(), 12);
    EXPECT_EQ(window->lstAddresses->palette().color(QPalette::Text), QColor(255, 0, 0));
    EXPECT_EQ(window->lstAddresses->palette().color(QPalette::Base), QColor(0, 255, 0));
    EXPECT_TRUE(window->close());
    EXPECT_NE(scratch.Read("tessaly.ini").find("FontColor=255"), std::string::npos);
    Open();
    EXPECT_EQ(window->Entries(), sorted);
}

// ---- compact mode ----------------------------------------------------------------------

TEST_F(MainWindowTest, CompactModeSurvivesARestart)
{
    ShowActive(*window);
    const int outer = window->frameGeometry().height();
    const QRect place = window->geometry();
    const auto flags = window->windowFlags();
    window->ShowPanel1->trigger();   // in normal mode: nothing changes
    EXPECT_EQ(window->geometry(), place);
    EXPECT_EQ(window->windowFlags(), flags);

    window->btnHidePanel->click();

    EXPECT_TRUE(window->pnlControl->isHidden());
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(window->windowType(), Qt::Tool);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->acceptDrops());
    EXPECT_EQ(window->height(), outer);
    ASSERT_TRUE(window->close());
    EXPECT_NE(scratch.Read("tessaly.ini").find("ShowPanel=0"), std::string::npos);

    Open();
    EXPECT_TRUE(window->CompactMode());
    EXPECT_TRUE(window->pnlControl->isHidden());
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(window->height(), outer);

    window->ShowPanel1->trigger();
    EXPECT_FALSE(window->CompactMode());
    EXPECT_FALSE(window->pnlControl->isHidden());
    EXPECT_EQ(window->windowType(), Qt::Window);
}

// ---- Esc ----------------------------------------------------------------------------------

TEST_F(MainWindowTest, EscCancelsOnlyWhileSending)
{
    Ready({"S: 220 ready", "C: HELO"});   // the HELO reply never comes
    window->Mailer.SetShowResult(true);
    Attach({scratch.Write("one.txt", "1")});
    ShowActive(*window);

    QTest::keyClick(window->lstAddresses, Qt::Key_Escape);
    EXPECT_EQ(window->Mailer.Status(), msIdle);

    OnStatus = [&](TMailStatus status) {
        if (status == msLoggingIn)
            QTest::keyClick(window.get(), Qt::Key_Escape);
    };
    window->SendMail();

    EXPECT_EQ(seams.BoxTexts(), std::vector<std::string>{"Send aborted:\r\nOperation has been canceled"});
    EXPECT_TRUE(window->pnlSending->isHidden());
}

// ---- font and colour ----------------------------------------------------------------------

TEST_F(MainWindowTest, ColourAndFontCancelLeaveTheListAndConfirmedOnesAreKept)
{
    const QColor before = window->lstAddresses->palette().color(QPalette::Base);
    QFont chosen("DejaVu Serif", 14);
    chosen.setBold(true);
    seams.Colors = {std::nullopt, QColor(0x12, 0x34, 0x56)};
    seams.Fonts = {std::nullopt, chosen};

    window->btnColor->click();
    window->btnFont->click();
    EXPECT_EQ(window->BackColor(), std::int32_t(0x80000005u));
    EXPECT_EQ(window->lstAddresses->palette().color(QPalette::Base), before);
    EXPECT_EQ(window->lstAddresses->font().family(), "MS Sans Serif");

    window->btnColor->click();
    window->btnFont->click();
    EXPECT_EQ(window->BackColor(), 0x563412);
    EXPECT_EQ(window->lstAddresses->palette().color(QPalette::Base), QColor(0x12, 0x34, 0x56));
    EXPECT_EQ(window->lstAddresses->font().family(), "DejaVu Serif");
    EXPECT_EQ(window->lstAddresses->font().pointSize(), 14);
    EXPECT_TRUE(window->lstAddresses->font().bold());
    EXPECT_NE(window->Button1->font().family(), "DejaVu Serif") << "only the list's font changes";
    ASSERT_TRUE(window->close());
    EXPECT_NE(scratch.Read("tessaly.ini").find("BackColor=5649426"), std::string::npos);
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
}

// ---- the address list -------------------------------------------------------------------

TEST_F(MainWindowTest, TypedTextWithoutAtShowsTheErrorAndEnterAddsAnAddressTwice)
{
    Fill({"c@example.com", "z@example.com"});
    SelectEntries(*window, {"z@example.com"});
    window->AddEntry("a@example.com");   // keeps the other selections
    EXPECT_EQ(SelectedEntries(*window), QStringList{"z@example.com"});
    window->txtAddress->setText("nobody");
    window->Button1->click();
    ASSERT_EQ(seams.Boxes.size(), 1u);
    EXPECT_EQ(seams.Boxes[0].Kind, TMsgKind::Error);
    EXPECT_EQ(seams.Boxes[0].Title, "Error");
    EXPECT_EQ(seams.Boxes[0].Text, "Email address must have \"@\" part.");
    EXPECT_EQ(window->txtAddress->text(), "nobody");
    EXPECT_EQ(window->Entries(), (QStringList{"a@example.com", "c@example.com", "z@example.com"}));

    ShowActive(*window);
    window->txtAddress->setFocus();
    window->txtAddress->setText("m@example.com");
    QTest::keyClick(window->txtAddress, Qt::Key_Return);
    QTest::keyClick(window->txtAddress, Qt::Key_Return);
    EXPECT_EQ(window->Entries(),
              (QStringList{"a@example.com", "c@example.com", "m@example.com", "m@example.com", "z@example.com"}));
    EXPECT_EQ(window->txtAddress->text(), "m@example.com");
    EXPECT_TRUE(SelectedEntries(*window).isEmpty()) << "the list is sorted anew";
    EXPECT_EQ(seams.Boxes.size(), 1u);
}

TEST_F(MainWindowTest, DelButtonAndMenuRemoveEverySelectedEntryAtOnce)
{
    Fill({"a@x.org", "b@x.org", "c@x.org", "d@x.org", "e@x.org", "f@x.org"});
    SelectEntries(*window, {"a@x.org", "c@x.org", "d@x.org"});
    ShowActive(*window);
    window->lstAddresses->setFocus();
    QTest::keyClick(window->lstAddresses, Qt::Key_Delete);
    EXPECT_EQ(window->Entries(), (QStringList{"b@x.org", "e@x.org", "f@x.org"}));

    SelectEntries(*window, {"b@x.org"});
    window->btnRemSelected->click();
    SelectEntries(*window, {"e@x.org"});
    window->Removeselected1->trigger();
    window->lstAddresses->clearSelection();
    window->Removeselected1->trigger();
    EXPECT_EQ(window->Entries(), QStringList{"f@x.org"});
    EXPECT_TRUE(seams.Boxes.empty());
}

TEST_F(MainWindowTest, InsAndAddEmailListAddAnyTextOrTheChosenFile)
{
    Fill({"a@x.org"});
    ShowActive(*window);
    window->lstAddresses->setFocus();
    bool addHidden = false;
    seams.Dialogs.push_back(seams.Address("/lists/team", QDialog::Accepted, [&](TAddressDlg& d) {
        addHidden = d.btnAddtolist->isHidden();
        EXPECT_TRUE(d.btnBrowse->isEnabled());
        EXPECT_EQ(d.txtEmail->text(), "");
    }));
    seams.Dialogs.push_back(seams.Address("never added", QDialog::Rejected));
    const QString list = QString::fromStdString(scratch.Write("team.txt", "a@x.org\n"));
    seams.Files = {list, std::nullopt};

    QTest::keyClick(window->lstAddresses, Qt::Key_Insert);
    window->popAddAddress->trigger();
    window->Button3->click();
    window->Button3->click();   // offers the last choice again; cancelled

    EXPECT_EQ(seams.Prompts, std::vector<QString>(2, "Enter address/list file to add:"));
    EXPECT_TRUE(addHidden);
    EXPECT_EQ(window->Entries(), (QStringList{"/lists/team", list, "a@x.org"}));
    ASSERT_EQ(seams.Choosers.size(), 2u);
    EXPECT_EQ(seams.Choosers[0].Title, "Select text list of email addresses...");
    EXPECT_EQ(seams.Choosers[0].Filter, "All files (*.*)|*.*|Text files (*.txt)|*.txt");
    EXPECT_TRUE(seams.Choosers[0].MustExist);
    EXPECT_EQ(seams.Choosers[1].FileName, list);
}

TEST_F(MainWindowTest, MenuKeysActWhileTheListHasTheFocusOnlyAndHelpAndSetupOpen)
{
    Fill({"a@x.org"});
    ServeAt("127.0.0.1:" + std::to_string(ClosedPort()));
    ShowActive(*window);
    // Ctrl+M asks for a recipient; Ctrl+S, the Setup button and menu item
    // open Setup.
    seams.Dialogs = std::deque<TSeams::TDialogStep>(4, TSeams::Any(QDialog::Rejected));

    window->txtAddress->setFocus();
    QTest::keyClick(window->txtAddress, Qt::Key_M, Qt::ControlModifier);
    EXPECT_TRUE(seams.DialogClasses.empty());

    window->lstAddresses->setFocus();
    QTest::keyClick(window->lstAddresses, Qt::Key_M, Qt::ControlModifier);
    QTest::keyClick(window->lstAddresses, Qt::Key_S, Qt::ControlModifier);
    // The run gives the focus back to the list, so its keys go on working.
    window->btnSetup->click();
    window->Setup1->trigger();
    EXPECT_EQ(seams.DialogClasses, (std::vector<std::string>{"TAddressDlg", "TSetupDlg", "TSetupDlg", "TSetupDlg"}));
    window->Button5->click();   // Help
    ASSERT_EQ(seams.Edited.size(), 1u);
    EXPECT_TRUE(seams.Edited[0].endsWith("/readme.txt")) << seams.Edited[0].toStdString();

    QTest::keyClick(window->lstAddresses, Qt::Key_X, Qt::ControlModifier);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(MainWindowTest, DoubleClickOpensAListFileInTheEditorAndAnythingElseInTheEditDialog)
{
    const QString list = QString::fromStdString(scratch.Write("team", "a@x.org\n"));
    Fill({list, "missing-list", "b@x.org"});
    ShowActive(*window);
    QString shown;
    seams.Dialogs.push_back(seams.Address("a@x.org", QDialog::Accepted, [&](TAddressDlg& d) { shown = d.txtEmail->text(); }));

    SelectEntries(*window, {list});
    DoubleClick(0);
    EXPECT_EQ(seams.Edited, std::vector<QString>{list});
    EXPECT_TRUE(seams.DialogClasses.empty());

    SelectEntries(*window, {"missing-list"});
    DoubleClick(2);

    EXPECT_EQ(seams.Prompts, std::vector<QString>{"Edit address/list:"});
    EXPECT_EQ(shown, "missing-list");
    EXPECT_EQ(seams.Edited.size(), 1u);
    EXPECT_EQ(window->Entries(), (QStringList{list, "a@x.org", "b@x.org"}));
    EXPECT_TRUE(SelectedEntries(*window).isEmpty());
}

TEST_F(MainWindowTest, EditTakesTheTopmostSelectedEntryCancelKeepsItAndEmptySortsToTheTop)
{
    Fill({"a@x.org", "b@x.org", "c@x.org"});
    window->Editselected1->trigger();   // nothing selected: nothing happens
    EXPECT_TRUE(seams.DialogClasses.empty());

    QString shown;
    seams.Dialogs = {seams.Address("z@x.org", QDialog::Rejected, [&](TAddressDlg& d) { shown = d.txtEmail->text(); }),
                     seams.Address("", QDialog::Accepted)};
    SelectEntries(*window, {"c@x.org", "b@x.org"});
    window->Editselected1->trigger();
    EXPECT_EQ(shown, "b@x.org");
    EXPECT_EQ(window->Entries(), (QStringList{"a@x.org", "b@x.org", "c@x.org"}));
    window->Editselected1->trigger();
    EXPECT_EQ(window->Entries(), (QStringList{"", "a@x.org", "c@x.org"}));
}

}
