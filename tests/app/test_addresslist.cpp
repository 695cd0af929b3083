// The address list: sorted without regard to case, duplicates allowed,
// and every command that adds, edits or removes entries, with its keys.
#include "emaildlg.h"
#include "fake_smtp_server.h"
#include "support_app_window.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class AddressListTest : public ::testing::Test {
protected:
    void SetUp() override { window = MakeWindow(scratch.Path("tessaly.ini")); }
    void Fill(const QStringList& entries)
    {
        for (const QString& entry : entries)
            window->AddEntry(entry);
    }
    // A double-click on a row as the mouse delivers it: press, release,
    // then the double-click event and its release.
    void DoubleClick(int row)
    {
        QWidget* viewport = window->lstAddresses->viewport();
        const QPointF at = window->lstAddresses->visualItemRect(window->lstAddresses->item(row)).center();
        const QPointF global = viewport->mapToGlobal(at);
        for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                                  QEvent::MouseButtonRelease}) {
            const bool down = type != QEvent::MouseButtonRelease;
            QMouseEvent event(type, at, global, Qt::LeftButton, down ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
            QCoreApplication::sendEvent(viewport, &event);
        }
    }

    TSeams seams;
    TScratch scratch;
    std::unique_ptr<TfrmMailTo> window;
};

TEST_F(AddressListTest, EntriesAreSortedWithoutRegardToCaseAndDuplicatesStay)
{
    Fill({"b@example.com", "C@example.com", "a@example.com", "B@example.com", "b@example.com"});
    const QStringList entries = window->Entries();
    ASSERT_EQ(entries.size(), 5);
    EXPECT_EQ(entries[0], "a@example.com");
    EXPECT_EQ(entries[4], "C@example.com");
    EXPECT_EQ(entries.mid(1, 3).join(",").toLower(), "b@example.com,b@example.com,b@example.com");
}

TEST_F(AddressListTest, AddingKeepsTheOtherSelectionsAndReSortClearsThem)
{
    Fill({"a@example.com", "c@example.com"});
    SelectEntries(*window, {"c@example.com"});
    window->AddEntry("b@example.com");
    EXPECT_EQ(SelectedEntries(*window), QStringList{"c@example.com"});
    window->ReSort();
    EXPECT_TRUE(SelectedEntries(*window).isEmpty());
}

TEST_F(AddressListTest, TypedTextWithoutAtShowsTheErrorAndChangesNothing)
{
    Fill({"a@example.com"});
    window->txtAddress->setText("nobody");

    window->Button1->click();

    ASSERT_EQ(seams.Boxes.size(), 1u);
    EXPECT_EQ(seams.Boxes[0].Kind, TMsgKind::Error);
    EXPECT_EQ(seams.Boxes[0].Title, "Error");
    EXPECT_EQ(seams.Boxes[0].Text, "Email address must have \"@\" part.");
    EXPECT_EQ(window->txtAddress->text(), "nobody");
    EXPECT_EQ(window->Entries(), QStringList{"a@example.com"});
}

TEST_F(AddressListTest, EnterInTheEditAddsTheAddressTwiceAsTwoEntries)
{
    Fill({"z@example.com"});
    SelectEntries(*window, {"z@example.com"});
    ShowActive(*window);
    window->txtAddress->setFocus();
    window->txtAddress->setText("m@example.com");

    QTest::keyClick(window->txtAddress, Qt::Key_Return);
    QTest::keyClick(window->txtAddress, Qt::Key_Return);

    EXPECT_EQ(window->Entries(), (QStringList{"m@example.com", "m@example.com", "z@example.com"}));
    EXPECT_EQ(window->txtAddress->text(), "m@example.com");
    EXPECT_TRUE(SelectedEntries(*window).isEmpty());
    EXPECT_TRUE(seams.Boxes.empty());
}

TEST_F(AddressListTest, DelWithTheListFocusedRemovesEverySelectedEntryAtOnce)
{
    Fill({"a@x.org", "b@x.org", "c@x.org", "d@x.org", "e@x.org"});
    SelectEntries(*window, {"a@x.org", "c@x.org", "d@x.org"});
    ShowActive(*window);
    window->lstAddresses->setFocus();

    QTest::keyClick(window->lstAddresses, Qt::Key_Delete);

    EXPECT_EQ(window->Entries(), (QStringList{"b@x.org", "e@x.org"}));
    EXPECT_TRUE(seams.Boxes.empty());
}

TEST_F(AddressListTest, RemoveSelectedButtonAndMenuRemoveTheSelection)
{
    Fill({"a@x.org", "b@x.org", "c@x.org"});
    SelectEntries(*window, {"b@x.org"});
    window->btnRemSelected->click();
    EXPECT_EQ(window->Entries(), (QStringList{"a@x.org", "c@x.org"}));
    SelectEntries(*window, {"c@x.org"});
    window->Removeselected1->trigger();
    EXPECT_EQ(window->Entries(), QStringList{"a@x.org"});
    window->lstAddresses->clearSelection();
    window->Removeselected1->trigger();
    EXPECT_EQ(window->Entries(), QStringList{"a@x.org"});
}

TEST_F(AddressListTest, InsOpensTheAddDialogWhichTakesAnyText)
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

    QTest::keyClick(window->lstAddresses, Qt::Key_Insert);
    window->popAddAddress->trigger();

    EXPECT_EQ(seams.Prompts, (std::vector<QString>{"Enter address/list file to add:", "Enter address/list file to add:"}));
    EXPECT_TRUE(addHidden);
    EXPECT_EQ(window->Entries(), (QStringList{"/lists/team", "a@x.org"}));
}

TEST_F(AddressListTest, MenuKeysActWhileTheListHasTheFocusOnly)
{
    Fill({"a@x.org"});
    window->Mailer.SetServer("127.0.0.1:" + std::to_string(ClosedPort()));
    window->Mailer.SetFrom("sender@example.com");
    ShowActive(*window);
    seams.Dialogs.push_back(TSeams::Any(QDialog::Rejected));   // Ctrl+M: asks for a recipient
    seams.Dialogs.push_back(TSeams::Any(QDialog::Rejected));   // Ctrl+S: Setup

    window->txtAddress->setFocus();
    QTest::keyClick(window->txtAddress, Qt::Key_M, Qt::ControlModifier);
    EXPECT_TRUE(seams.DialogClasses.empty());

    window->lstAddresses->setFocus();
    QTest::keyClick(window->lstAddresses, Qt::Key_M, Qt::ControlModifier);
    QTest::keyClick(window->lstAddresses, Qt::Key_S, Qt::ControlModifier);
    // The run gives the focus back to the list, so its keys go on working.
    EXPECT_EQ(seams.DialogClasses, (std::vector<std::string>{"TAddressDlg", "TSetupDlg"}));

    QTest::keyClick(window->lstAddresses, Qt::Key_X, Qt::ControlModifier);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(AddressListTest, AddEmailListAddsTheChosenPathAndOffersItAgain)
{
    const QString list = QString::fromStdString(scratch.Write("team.txt", "a@x.org\n"));
    seams.Files = {list, std::nullopt};

    window->Button3->click();
    window->Button3->click();

    EXPECT_EQ(window->Entries(), QStringList{list});
    ASSERT_EQ(seams.Choosers.size(), 2u);
    EXPECT_EQ(seams.Choosers[0].Title, "Select text list of email addresses...");
    EXPECT_EQ(seams.Choosers[0].Filter, "All files (*.*)|*.*|Text files (*.txt)|*.txt");
    EXPECT_EQ(seams.Choosers[0].InitialDir, ".");
    EXPECT_TRUE(seams.Choosers[0].MustExist);
    EXPECT_EQ(seams.Choosers[1].FileName, list);
}

TEST_F(AddressListTest, DoubleClickOnAListFileOpensTheEditorAndLeavesTheList)
{
    const QString list = QString::fromStdString(scratch.Write("team", "a@x.org\n"));
    Fill({list, "b@x.org"});
    ShowActive(*window);
    SelectEntries(*window, {list});

    DoubleClick(0);

    EXPECT_EQ(seams.Edited, std::vector<QString>{list});
    EXPECT_TRUE(seams.DialogClasses.empty());
    EXPECT_EQ(window->Entries(), (QStringList{list, "b@x.org"}));
}

TEST_F(AddressListTest, DoubleClickOnANameThatIsNoFileOpensTheEditDialog)
{
    Fill({"missing-list", "b@x.org"});
    ShowActive(*window);
    SelectEntries(*window, {"missing-list"});
    QString shown;
    seams.Dialogs.push_back(seams.Address("a@x.org", QDialog::Accepted, [&](TAddressDlg& d) { shown = d.txtEmail->text(); }));

    DoubleClick(1);

    EXPECT_EQ(seams.Prompts, std::vector<QString>{"Edit address/list:"});
    EXPECT_EQ(shown, "missing-list");
    EXPECT_TRUE(seams.Edited.empty());
    EXPECT_EQ(window->Entries(), (QStringList{"a@x.org", "b@x.org"}));
    EXPECT_TRUE(SelectedEntries(*window).isEmpty());
}

TEST_F(AddressListTest, EditTakesTheTopmostSelectedEntryOnly)
{
    Fill({"a@x.org", "b@x.org", "c@x.org"});
    SelectEntries(*window, {"c@x.org", "b@x.org"});
    QString shown;
    seams.Dialogs.push_back(seams.Address("z@x.org", QDialog::Accepted, [&](TAddressDlg& d) { shown = d.txtEmail->text(); }));

    window->Editselected1->trigger();

    EXPECT_EQ(shown, "b@x.org");
    EXPECT_EQ(window->Entries(), (QStringList{"a@x.org", "c@x.org", "z@x.org"}));
}

TEST_F(AddressListTest, EditWithNothingSelectedDoesNothingAndCancelKeepsTheEntry)
{
    Fill({"a@x.org"});
    window->Editselected1->trigger();
    EXPECT_TRUE(seams.DialogClasses.empty());

    SelectEntries(*window, {"a@x.org"});
    seams.Dialogs.push_back(seams.Address("changed@x.org", QDialog::Rejected));
    window->Editselected1->trigger();
    EXPECT_EQ(window->Entries(), QStringList{"a@x.org"});
}

TEST_F(AddressListTest, AnEntryEditedToEmptyStaysAndSortsToTheTop)
{
    Fill({"a@x.org", "b@x.org"});
    SelectEntries(*window, {"b@x.org"});
    seams.Dialogs.push_back(seams.Address("", QDialog::Accepted));

    window->Editselected1->trigger();

    EXPECT_EQ(window->Entries(), (QStringList{"", "a@x.org"}));
}

TEST_F(AddressListTest, EntriesAreSavedAndLoadedAsTheyAre)
{
    Fill({"b@x.org", "b@x.org", "A@x.org"});
    ASSERT_TRUE(window->close());
    window = MakeWindow(scratch.Path("tessaly.ini"));
    EXPECT_EQ(window->Entries(), (QStringList{"A@x.org", "b@x.org", "b@x.org"}));
}

}
