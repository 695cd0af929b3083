// The main window: layout and menu, drops, the close query, compact mode,
// Esc, font and colour, settings at start-up and close, and the address
// list with every command that adds, edits or removes entries.
#include "support_app.h"

#include <QAction>
#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QUrl>

namespace {

class MainWindowTest : public AppWindowTest {
protected:
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
    // A double-click on a row as the mouse delivers it (QTest's leaves out
    // the first release): press, release, double-click, release.
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
    bool NoneSelected() const { return window->lstAddresses->selectedItems().isEmpty(); }
    QFont ListFont() const { return window->lstAddresses->font(); }
    QColor ListColor(QPalette::ColorRole role) const { return window->lstAddresses->palette().color(role); }
};

// ---- layout -------------------------------------------------------------------

TEST_F(MainWindowTest, TheListFirstInTabOrderThenThePanelAndTheMenuWithItsKeys)
{
    EXPECT_EQ(window->lstAddresses->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_TRUE(window->pnlSending->isHidden());
    ShowActive(*window);
    EXPECT_EQ(QApplication::focusWidget(), window->lstAddresses);
    const std::vector<QWidget*> order{window->lstAddresses, window->Button1,   window->txtAddress,
                                      window->Button3,      window->btnHidePanel, window->btnSetup,
                                      window->Button5,      window->btnRemSelected, window->btnColor,
                                      window->btnFont};
    EXPECT_EQ(FocusChain(order), order);

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
    ASSERT_TRUE(QDir(scratch.QPath("")).mkdir("f"));
    const QStringList dropped{scratch.QWrite("one.txt", "1"), scratch.QPath("f"), scratch.QWrite("two.dat", "2"),
                              scratch.QWrite("three.txt", "3")};
    for (const bool compact : {false, true}) {
        SCOPED_TRACE(compact ? "compact" : "normal");
        Open();
        if (compact)
            window->popHidepanel->trigger();
        TFakeSMTPServer& server = Serve(SessionScript(1, 1));
        Select({"a@example.com"}, {"a@example.com"});

        EXPECT_TRUE(Drop(dropped));

        ASSERT_EQ(Sent.size(), 1u);
        EXPECT_EQ(Sent[0].Attachments, (TLines{dropped[0].toStdString(), dropped[2].toStdString(),
                                               dropped[3].toStdString()}));
        EXPECT_EQ(Count(server, "Subject:  Files: one.txt, two.dat, three.txt") + Count(server, "QUIT"), 2u);
        EXPECT_FALSE(window->TransferActive());
        // The run hides the panel and puts it back as it was.
        EXPECT_EQ(window->pnlControl->isHidden(), compact);
    }
}

TEST_F(MainWindowTest, DuringARunDropsAndCloseAreRefusedAndTheSendingGoesOn)
{
    TFakeSMTPServer& server = Serve(SessionScript(1, 1));
    Select({"a@example.com"}, {"a@example.com"});
    ShowActive(*window);
    const std::string first = scratch.Write("one.txt", "1");
    std::vector<bool> refused;
    TLines attached;
    OnStatus = [&](TMailStatus status) {
        if (status == msLoggingIn) {
            refused.push_back(!Drop({scratch.QWrite("two.txt", "2")}));
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
    EXPECT_EQ(attached, TLines{first});
    EXPECT_EQ(seams.BoxTexts(), TLines(2, "Transfer in Progress.  Click Cancel button first."));
    EXPECT_EQ(seams.Boxes[0].Kind, TMsgKind::Error);
    EXPECT_EQ(server.Connections(), 1);
    EXPECT_EQ(Count(server, "DATA") + Count(server, "QUIT"), 2u);
    EXPECT_TRUE(window->close());
}

TEST_F(MainWindowTest, StartUpLoadsBoundsLookAndASortedListAndCloseSavesThem)
{
    // The defaults of a first start are those the settings tests check.
    scratch.Write("tessaly.ini", "[Setup]\r\nHeight=300\r\nWidth=500\r\nTop=40\r\nLeft=60\r\nFontColor=0xFF\r\n"
                                 "FontName=DejaVu Sans\r\nFontSize=12\r\nBackColor=65280\r\n[Addresses]\r\n"
                                 "a0=Zed@example.com\r\na1=b@example.com\r\na2=Ann@example.com\r\na3=b@example.com\r\n");
    Open();
    EXPECT_EQ(QRect(window->pos(), window->size()), QRect(60, 40, 500, 300));
    // Sorted without regard to case; duplicates stay.
    const QStringList sorted{"Ann@example.com", "b@example.com", "b@example.com", "Zed@example.com"};
    EXPECT_EQ(window->Entries(), sorted);
    EXPECT_EQ(ListFont().family() + QString::number(ListFont().pointSize()), "DejaVu Sans12");
    EXPECT_EQ(ListColor(QPalette::Text), QColor(255, 0, 0));
    EXPECT_EQ(ListColor(QPalette::Base), QColor(0, 255, 0));
    EXPECT_TRUE(window->close());
    EXPECT_TRUE(scratch.Holds("tessaly.ini", "FontColor=255"));
    Open();
    EXPECT_EQ(window->Entries(), sorted);
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
    EXPECT_TRUE(window->isVisible() && window->acceptDrops());
    EXPECT_EQ(window->height(), outer);
    ASSERT_TRUE(window->close());
    EXPECT_TRUE(scratch.Holds("tessaly.ini", "ShowPanel=0"));

    Open();
    EXPECT_TRUE(window->CompactMode() && window->pnlControl->isHidden());
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(window->height(), outer);

    window->ShowPanel1->trigger();
    EXPECT_FALSE(window->CompactMode() || window->pnlControl->isHidden());
    EXPECT_EQ(window->windowType(), Qt::Window);
}

// ---- Esc ----------------------------------------------------------------------------------

TEST_F(MainWindowTest, EscCancelsOnlyWhileSending)
{
    Serve({"S: 220 ready", "C: HELO"});   // the HELO reply never comes
    Select({"a@example.com"}, {"a@example.com"});
    window->Mailer.SetShowResult(true);
    ShowActive(*window);

    QTest::keyClick(window->lstAddresses, Qt::Key_Escape);
    EXPECT_EQ(window->Mailer.Status(), msIdle);

    OnStatus = [&](TMailStatus status) {
        if (status == msLoggingIn)
            QTest::keyClick(window.get(), Qt::Key_Escape);
    };
    window->SendMail();

    EXPECT_EQ(seams.BoxTexts(), TLines{"Send aborted:\r\nOperation has been canceled"});
    ExpectRestored();
}

// ---- font and colour ----------------------------------------------------------------------

TEST_F(MainWindowTest, ColourAndFontCancelLeaveTheListAndConfirmedOnesAreKept)
{
    const QColor before = ListColor(QPalette::Base);
    QFont chosen("DejaVu Serif", 14);
    chosen.setBold(true);
    seams.Colors = {std::nullopt, QColor(0x12, 0x34, 0x56)};
    seams.Fonts = {std::nullopt, chosen};

    window->btnColor->click();
    window->btnFont->click();
    EXPECT_EQ(window->BackColor(), std::int32_t(0x80000005u));
    EXPECT_EQ(ListColor(QPalette::Base), before);
    EXPECT_EQ(ListFont().family(), "MS Sans Serif");

    window->btnColor->click();
    window->btnFont->click();
    EXPECT_EQ(ListColor(QPalette::Base), QColor(0x12, 0x34, 0x56));
    EXPECT_EQ(ListFont(), chosen);
    EXPECT_NE(window->Button1->font().family(), "DejaVu Serif") << "only the list's font changes";
    ASSERT_TRUE(window->close());
    EXPECT_TRUE(scratch.Holds("tessaly.ini", "BackColor=5649426"));
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
    QApplication::setPalette(original);

    EXPECT_EQ(themed.color(QPalette::Base), QColor(30, 30, 30));
    EXPECT_EQ(themed.color(QPalette::Text), QColor(230, 230, 230));
    EXPECT_EQ(ListColor(QPalette::Base), QColor(255, 255, 255));
    EXPECT_EQ(ListColor(QPalette::Text), QColor(0, 0, 0));
}

// ---- the address list -------------------------------------------------------------------

TEST_F(MainWindowTest, TypedTextWithoutAtShowsTheErrorAndEnterAddsAnAddressTwice)
{
    Select({"c@example.com", "z@example.com"}, {"z@example.com"});
    window->AddEntry("a@example.com");   // keeps the other selections
    EXPECT_EQ(window->lstAddresses->selectedItems().value(0)->text(), "z@example.com");
    EXPECT_EQ(window->lstAddresses->selectedItems().size(), 1);
    window->txtAddress->setText("nobody");
    window->Button1->click();
    EXPECT_EQ(seams.BoxTexts(), TLines{"Email address must have \"@\" part."});
    EXPECT_EQ(seams.Boxes.at(0).Kind, TMsgKind::Error);
    EXPECT_EQ(window->txtAddress->text(), "nobody");

    ShowActive(*window);
    window->txtAddress->setFocus();
    window->txtAddress->setText("m@example.com");
    QTest::keyClick(window->txtAddress, Qt::Key_Return);
    QTest::keyClick(window->txtAddress, Qt::Key_Return);
    EXPECT_EQ(window->Entries(),
              (QStringList{"a@example.com", "c@example.com", "m@example.com", "m@example.com", "z@example.com"}));
    EXPECT_EQ(window->txtAddress->text(), "m@example.com");
    EXPECT_TRUE(NoneSelected()) << "the list is sorted anew";
}

TEST_F(MainWindowTest, DelButtonAndMenuRemoveEverySelectedEntryAndEditTakesTheTopmost)
{
    Select({"a@x.org", "b@x.org", "c@x.org", "d@x.org", "e@x.org", "f@x.org"}, {"a@x.org", "c@x.org", "d@x.org"});
    ShowActive(*window);
    window->lstAddresses->setFocus();
    QTest::keyClick(window->lstAddresses, Qt::Key_Delete);
    EXPECT_EQ(window->Entries(), (QStringList{"b@x.org", "e@x.org", "f@x.org"}));
    window->Editselected1->trigger();   // nothing selected: nothing happens
    window->Removeselected1->trigger();
    EXPECT_TRUE(seams.DialogClasses.empty());

    // Edit: Cancel keeps the entry; an emptied one sorts to the top.
    QString shown;
    seams.Dialogs = {seams.Address("z@x.org", QDialog::Rejected, [&](TAddressDlg& d) { shown = d.txtEmail->text(); }),
                     seams.Address("", QDialog::Accepted)};
    SelectEntries(*window, {"f@x.org", "e@x.org"});
    window->Editselected1->trigger();
    EXPECT_EQ(shown, "e@x.org");
    EXPECT_EQ(window->Entries(), (QStringList{"b@x.org", "e@x.org", "f@x.org"}));
    window->Editselected1->trigger();
    EXPECT_EQ(window->Entries(), (QStringList{"", "b@x.org", "f@x.org"}));

    SelectEntries(*window, {""});
    window->btnRemSelected->click();
    SelectEntries(*window, {"b@x.org"});
    window->Removeselected1->trigger();
    EXPECT_EQ(window->Entries(), QStringList{"f@x.org"});
    EXPECT_TRUE(seams.Boxes.empty());
}

TEST_F(MainWindowTest, InsAndAddEmailListAddAnyTextOrTheChosenFile)
{
    Select({"a@x.org"}, {});
    ShowActive(*window);
    window->lstAddresses->setFocus();
    bool addHidden = false;
    QString shown = "unset";
    seams.Dialogs = {seams.Address("/lists/team", QDialog::Accepted,
                                   [&](TAddressDlg& d) {
                                       addHidden = d.btnAddtolist->isHidden();
                                       shown = d.txtEmail->text();
                                   }),
                     seams.Address("never added", QDialog::Rejected)};
    const QString list = scratch.QWrite("team.txt", "a@x.org\n");
    seams.Files = {list, std::nullopt};

    QTest::keyClick(window->lstAddresses, Qt::Key_Insert);
    window->popAddAddress->trigger();
    window->Button3->click();
    window->Button3->click();   // offers the last choice again; cancelled

    EXPECT_EQ(seams.Prompts, std::vector<QString>(2, "Enter address/list file to add:"));
    EXPECT_TRUE(addHidden);
    EXPECT_EQ(shown, "");
    EXPECT_EQ(window->Entries(), (QStringList{"/lists/team", list, "a@x.org"}));
    // The chooser is the address dialog's Browse one.
    ASSERT_EQ(seams.Choosers.size(), 2u);
    EXPECT_EQ(seams.Choosers[0].Title, "Select text list of email addresses...");
    EXPECT_EQ(seams.Choosers[1].FileName, list);
}

TEST_F(MainWindowTest, MenuKeysActWhileTheListHasTheFocusOnlyAndHelpAndSetupOpen)
{
    Select({"a@x.org"}, {});
    window->Mailer.SetServer("127.0.0.1:" + std::to_string(ClosedPort()));
    ShowActive(*window);
    // Ctrl+M asks for a recipient; Ctrl+S, the Setup button and menu item
    // open Setup.
    seams.Dialogs = std::deque<TSeams::TDialogStep>(4, TSeams::Any(QDialog::Rejected));

    window->txtAddress->setFocus();
    QTest::keyClick(window->txtAddress, Qt::Key_M, Qt::ControlModifier);
    EXPECT_TRUE(seams.DialogClasses.empty());

    window->lstAddresses->setFocus();
    QTest::keyClick(window->lstAddresses, Qt::Key_M, Qt::ControlModifier);
    // The run gives the focus back to the list, so its keys go on working.
    QTest::keyClick(window->lstAddresses, Qt::Key_S, Qt::ControlModifier);
    window->btnSetup->click();
    window->Setup1->trigger();
    EXPECT_EQ(seams.DialogClasses, (TLines{"TAddressDlg", "TSetupDlg", "TSetupDlg", "TSetupDlg"}));
    window->Button5->click();   // Help
    ASSERT_EQ(seams.Edited.size(), 1u);
    EXPECT_TRUE(seams.Edited[0].endsWith("/readme.txt")) << seams.Edited[0].toStdString();

    QTest::keyClick(window->lstAddresses, Qt::Key_X, Qt::ControlModifier);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(MainWindowTest, DoubleClickOpensAListFileInTheEditorAndAnythingElseInTheEditDialog)
{
    const QString list = scratch.QWrite("team", "a@x.org\n");
    Select({list, "missing-list", "b@x.org"}, {list});
    ShowActive(*window);
    QString shown;
    seams.Dialogs = {seams.Address("a@x.org", QDialog::Accepted, [&](TAddressDlg& d) { shown = d.txtEmail->text(); })};

    DoubleClick(0);
    EXPECT_EQ(seams.Edited, std::vector<QString>{list});
    EXPECT_TRUE(seams.DialogClasses.empty());

    SelectEntries(*window, {"missing-list"});
    DoubleClick(2);

    EXPECT_EQ(seams.Prompts, std::vector<QString>{"Edit address/list:"});
    EXPECT_EQ(shown, "missing-list");
    EXPECT_EQ(seams.Edited.size(), 1u);
    EXPECT_EQ(window->Entries(), (QStringList{list, "a@x.org", "b@x.org"}));
    EXPECT_TRUE(NoneSelected());
}


}
