// The address dialog and the message dialog: results, Browse, Add To List,
// and the message text's file round trips.
#include "../platform/platform_test_files.h"
#include "emaildlg.h"
#include "mesgdlg.h"
#include "support_dlg_seams.h"

#include <QDir>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

std::string Std(const QString& text)
{
    return text.toStdString();
}

// The widgets of `known` in the order of the focus chain, from the first.
std::vector<QWidget*> FocusChain(const std::vector<QWidget*>& known)
{
    std::vector<QWidget*> chain;
    QWidget* w = known.front();
    do {
        if (std::find(known.begin(), known.end(), w) != known.end())
            chain.push_back(w);
        w = w->nextInFocusChain();
    } while (w != known.front() && chain.size() <= known.size());
    return chain;
}

// ---- address dialog --------------------------------------------------------

class AddressDialog : public ::testing::Test {
protected:
    TDlgSeams Seams;
    TAddressDlg Dialog;
};

TEST_F(AddressDialog, FormHasItsControls)
{
    EXPECT_EQ(Dialog.windowTitle(), "Email Dialog");
    for (const char* name : {"lblPrompt", "txtEmail", "OKBtn", "CancelBtn", "btnBrowse", "btnAddtolist"})
        EXPECT_NE(Dialog.findChild<QWidget*>(name), nullptr) << name;
    EXPECT_EQ(Dialog.lblPrompt->text(), "Enter email address:");
    EXPECT_EQ(Dialog.btnBrowse->text(), "&Browse...");
    EXPECT_EQ(Dialog.btnAddtolist->text(), "&Add To List");
    EXPECT_TRUE(Dialog.OKBtn->isDefault());
    EXPECT_TRUE(Dialog.btnAddtolist->isHidden());
    EXPECT_EQ(Dialog.layout()->sizeConstraint(), QLayout::SetFixedSize);
    const std::vector<QWidget*> order = {Dialog.txtEmail, Dialog.OKBtn, Dialog.CancelBtn, Dialog.btnBrowse,
                                         Dialog.btnAddtolist};
    EXPECT_EQ(FocusChain(order), order);
    Dialog.show();
    EXPECT_EQ(Dialog.focusWidget(), Dialog.txtEmail);
}

TEST_F(AddressDialog, OkWithAnEmptyBoxReturnsAnEmptyText)
{
    Seams.OnDialog = [](QDialog& dialog) { PressKey(static_cast<TAddressDlg&>(dialog).txtEmail, Qt::Key_Return); };
    EXPECT_EQ(ExecDialog(Dialog), QDialog::Accepted);
    EXPECT_EQ(Dialog.txtEmail->text(), "");
}

TEST_F(AddressDialog, EscAndCloseBoxCancel)
{
    Seams.OnDialog = [](QDialog& dialog) { PressKey(&dialog, Qt::Key_Escape); };
    EXPECT_EQ(ExecDialog(Dialog), QDialog::Rejected);
    TAddressDlg other;
    Seams.OnDialog = [](QDialog& dialog) { dialog.close(); };
    EXPECT_EQ(ExecDialog(other), QDialog::Rejected);
}

TEST_F(AddressDialog, BrowseReplacesTheTextAndCancelKeepsIt)
{
    Dialog.txtEmail->setText("typed by hand");
    Dialog.btnBrowse->click();   // the chooser is cancelled
    EXPECT_EQ(Dialog.txtEmail->text(), "typed by hand");
    Seams.ChooserAnswers = {QString("/home/me/friends.txt")};
    Dialog.btnBrowse->click();
    EXPECT_EQ(Dialog.txtEmail->text(), "/home/me/friends.txt");
    ASSERT_EQ(Seams.Choosers.size(), 2u);
    const TFileChooser& chooser = Seams.Choosers[0];
    EXPECT_EQ(chooser.ChooserKind, TFileChooser::Open);
    EXPECT_EQ(chooser.Title, "Select text list of email addresses...");
    EXPECT_EQ(chooser.Filter, "All files (*.*)|*.*|Text files (*.txt)|*.txt");
    EXPECT_EQ(chooser.InitialDir, ".");
    EXPECT_TRUE(chooser.MustExist);
}

TEST_F(AddressDialog, AddToListTwiceAddsTwoEntriesThatStayAfterCancel)
{
    std::vector<QString> list;
    Dialog.OnAddToList = [&](const QString& text) { list.push_back(text); };
    Dialog.btnAddtolist->show();
    Seams.OnDialog = [](QDialog& dialog) {
        auto& d = static_cast<TAddressDlg&>(dialog);
        d.txtEmail->setText(" no-at-sign ");
        d.btnAddtolist->click();
        d.btnAddtolist->click();
        EXPECT_TRUE(d.isVisible()) << "the dialog stays open";
        d.CancelBtn->click();
    };
    EXPECT_EQ(ExecDialog(Dialog), QDialog::Rejected);
    EXPECT_EQ(list, (std::vector<QString>{" no-at-sign ", " no-at-sign "}));
    EXPECT_TRUE(Seams.Boxes.empty());
}

TEST_F(AddressDialog, ListThatRefusesTheEntryIsReported)
{
    Dialog.OnAddToList = [](const QString&) { throw std::runtime_error("list full"); };
    Dialog.show();
    Dialog.btnAddtolist->click();
    ASSERT_EQ(Seams.Boxes.size(), 1u);
    EXPECT_EQ(Seams.Boxes[0].Kind, TMsgKind::Error);
    EXPECT_EQ(Seams.Boxes[0].Title, ApplicationTitle());
    EXPECT_EQ(Seams.Boxes[0].Text, "Unable to insert a line.");
    EXPECT_TRUE(Dialog.isVisible());

    TAddressDlg unconnected;
    unconnected.btnAddtolist->click();
    EXPECT_EQ(Seams.Boxes.size(), 2u);
}

// ---- message dialog: pure helpers ------------------------------------------

TEST(LineBreaks, LoneCrAndLoneLfBecomeCrLf)
{
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"one", "one"},
        {"a\nb", "a\r\nb"},
        {"a\rb", "a\r\nb"},
        {"a\r\nb", "a\r\nb"},
        {"a\n\rb", "a\r\n\r\nb"},
        {"\r\r\n\n", "\r\n\r\n\r\n"},
        {"end\n", "end\r\n"},
        {"end\r", "end\r\n"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(LineBreaksToCrLf(in), out) << in;
}

TEST(FileText, Utf8OrElseOneCharacterPerByte)
{
    EXPECT_EQ(DecodeFileText(QByteArray("caf\xC3\xA9")), QString::fromUtf8("caf\xC3\xA9"));
    EXPECT_EQ(DecodeFileText(QByteArray("caf\xE9")), QString::fromUtf8("caf\xC3\xA9"));
}

// ---- message dialog ----------------------------------------------------------

class MessageDialog : public ::testing::Test {
protected:
    std::string In(const std::string& name) const { return Std(FDir.path()) + "/" + name; }
    TDlgSeams Seams;
    QTemporaryDir FDir;
    TMsgDlg Dialog;
};

TEST_F(MessageDialog, FormHasItsControlsAndOkHasTheFocus)
{
    EXPECT_EQ(Dialog.windowTitle(), "Message To Send");
    for (const char* name : {"Bevel1", "Label1", "OKBtn", "CancelBtn", "txtSubject", "txtText", "Button1", "Button2"})
        EXPECT_NE(Dialog.findChild<QWidget*>(name), nullptr) << name;
    EXPECT_EQ(Dialog.Label1->text(), "Subject:");
    EXPECT_EQ(Dialog.Button1->text(), "&Open...");
    EXPECT_EQ(Dialog.Button2->text(), "&Save As...");
    EXPECT_TRUE(Dialog.OKBtn->isDefault());
    EXPECT_EQ(Dialog.txtText->lineWrapMode(), QPlainTextEdit::NoWrap);
    const std::vector<QWidget*> order = {Dialog.OKBtn, Dialog.CancelBtn, Dialog.txtSubject, Dialog.txtText,
                                         Dialog.Button1, Dialog.Button2};
    EXPECT_EQ(FocusChain(order), order);
    EXPECT_TRUE(Dialog.Lines().isEmpty());
    Dialog.show();
    EXPECT_EQ(Dialog.focusWidget(), Dialog.OKBtn);
}

TEST_F(MessageDialog, EnterInTheTextStartsALineAndEnterOnOkAccepts)
{
    Seams.OnDialog = [](QDialog& dialog) {
        auto& d = static_cast<TMsgDlg&>(dialog);
        d.txtText->setPlainText("first");
        d.txtText->moveCursor(QTextCursor::End);
        PressKey(d.txtText, Qt::Key_Return);
        EXPECT_EQ(d.result(), QDialog::Rejected) << "Enter in the text does not accept";
        EXPECT_EQ(d.Lines(), QStringList{"first"});
        EXPECT_EQ(d.TextBytes(), "first\r\n");
        PressKey(d.OKBtn, Qt::Key_Return);
    };
    EXPECT_EQ(ExecDialog(Dialog), QDialog::Accepted);
}

TEST_F(MessageDialog, LinesRoundTrip)
{
    const QStringList cases[] = {{}, {""}, {"a"}, {"a", ""}, {"", "b"}, {"a", "b", "c"}, {"", ""}};
    for (const auto& lines : cases) {
        Dialog.SetLines(lines);
        EXPECT_EQ(Dialog.Lines(), lines) << Std(lines.join('|'));
    }
}

TEST_F(MessageDialog, OpenWithLoneLfThenSaveAsWritesCrLfAndAddsTxt)
{
    WriteWholeFile(In("lf.txt"), "one\ntwo\n\nfour");
    Dialog.txtSubject->setText("kept subject");
    Seams.ChooserAnswers = {QString::fromStdString(In("lf.txt")), QString::fromStdString(In("typed"))};
    Dialog.Button1->click();
    EXPECT_EQ(Dialog.Lines(), (QStringList{"one", "two", "", "four"}));
    EXPECT_EQ(Dialog.txtSubject->text(), "kept subject");
    Dialog.Button2->click();
    EXPECT_EQ(ReadWholeFile(In("typed.txt")), "one\r\ntwo\r\n\r\nfour");
    EXPECT_FALSE(QFile::exists(QString::fromStdString(In("typed"))));
    EXPECT_EQ(Dialog.Lines(), (QStringList{"one", "two", "", "four"})) << "the text is unchanged";
    EXPECT_TRUE(Seams.Boxes.empty());

    ASSERT_EQ(Seams.Choosers.size(), 2u);
    const TFileChooser& open = Seams.Choosers[0];
    EXPECT_EQ(open.ChooserKind, TFileChooser::Open);
    EXPECT_EQ(open.Title, "Select text file...");
    EXPECT_EQ(open.Filter, "All files (*.*)|*.*|Text files (*.txt)|*.txt");
    EXPECT_EQ(open.InitialDir, ".");
    EXPECT_TRUE(open.MustExist);
    const TFileChooser& save = Seams.Choosers[1];
    EXPECT_EQ(save.ChooserKind, TFileChooser::Save);
    EXPECT_EQ(save.Title, "Save as text file...");
    EXPECT_EQ(save.Filter, "Text files (*.txt)|*.txt|All files (*.*)|*.*");
    EXPECT_EQ(save.InitialDir, ".");
    EXPECT_EQ(save.DefaultSuffix, "txt");
    EXPECT_TRUE(save.ConfirmOverwrite);
}

TEST_F(MessageDialog, LoneCrAndMixedLineEndsEachEndALine)
{
    WriteWholeFile(In("mixed.txt"), "a\rb\r\nc\nd\r");
    ASSERT_TRUE(Dialog.LoadFromFile(QString::fromStdString(In("mixed.txt"))));
    EXPECT_EQ(Dialog.Lines(), (QStringList{"a", "b", "c", "d"}));
    EXPECT_EQ(Dialog.TextBytes(), "a\r\nb\r\nc\r\nd\r\n");
}

TEST_F(MessageDialog, SaveAsWritesTheBoxByteForByte)
{
    const std::pair<QString, std::string> cases[] = {
        {"", ""},                                   // an empty box: an empty file
        {"no final enter", "no final enter"},
        {"two\nlines\n", "two\r\nlines\r\n"},
        {QString::fromUtf8("caf\xC3\xA9\xC2\xA0!"), "caf\xC3\xA9\xC2\xA0!"},   // a non-breaking space stays
    };
    for (const auto& [text, bytes] : cases) {
        WriteWholeFile(In("out.txt"), "old content");
        Dialog.txtText->setPlainText(text);
        ASSERT_TRUE(Dialog.SaveToFile(QString::fromStdString(In("out.txt"))));
        EXPECT_EQ(ReadWholeFile(In("out.txt")), bytes) << Std(text);
    }
    Seams.ChooserAnswers = {QString::fromStdString(In("given.name"))};
    Dialog.Button2->click();
    EXPECT_TRUE(QFile::exists(QString::fromStdString(In("given.name")))) << "a name with an extension is kept";
}

TEST_F(MessageDialog, CancelledChoosersChangeNothing)
{
    Dialog.SetLines({"keep"});
    Dialog.Button1->click();
    Dialog.Button2->click();
    EXPECT_EQ(Dialog.Lines(), QStringList{"keep"});
    EXPECT_EQ(QDir(FDir.path()).entryList(QDir::Files), QStringList{});
    EXPECT_TRUE(Seams.Boxes.empty());
}

TEST_F(MessageDialog, FileThatCannotBeOpenedIsReportedAndTheTextStays)
{
    Dialog.SetLines({"previous"});
    const QString missing = QString::fromStdString(In("missing.txt"));
    Seams.ChooserAnswers = {missing, FDir.path()};
    Dialog.Button1->click();
    Dialog.Button1->click();   // a folder is no text file either
    ASSERT_EQ(Seams.Boxes.size(), 2u);
    EXPECT_EQ(Seams.Boxes[0].Kind, TMsgKind::Error);
    EXPECT_EQ(Seams.Boxes[0].Text, "Cannot open file " + Std(missing) + ".");
    EXPECT_EQ(Seams.Boxes[1].Text, "Cannot open file " + Std(FDir.path()) + ".");
    EXPECT_EQ(Dialog.Lines(), QStringList{"previous"});
}

TEST_F(MessageDialog, TextAboveTheCapacityIsRefused)
{
    Dialog.SetLines({"previous"});
    WriteWholeFile(In("big.txt"), std::string(kMemoCapacity + 1, 'x'));
    // Fits as it stands, but not once every LF has become CR LF.
    WriteWholeFile(In("lf.txt"), std::string(kMemoCapacity / 2 + 1, '\n'));
    EXPECT_FALSE(Dialog.LoadFromFile(QString::fromStdString(In("big.txt"))));
    EXPECT_FALSE(Dialog.LoadFromFile(QString::fromStdString(In("lf.txt"))));
    // A device that never ends is refused too, and does not hang the dialog.
    EXPECT_FALSE(Dialog.LoadFromFile("/dev/zero"));
    ASSERT_EQ(Seams.Boxes.size(), 3u);
    for (const TMessageBox& box : Seams.Boxes)
        EXPECT_EQ(box.Text, "Text exceeds memo capacity.");
    EXPECT_EQ(Dialog.Lines(), QStringList{"previous"});
}

TEST_F(MessageDialog, FileThatCannotBeCreatedIsReported)
{
    WriteWholeFile(In("plain"), "a file, not a folder");
    Dialog.SetLines({"text"});
    const QString target = QString::fromStdString(In("plain") + "/out.txt");
    Seams.ChooserAnswers = {target};
    Dialog.Button2->click();
    ASSERT_EQ(Seams.Boxes.size(), 1u);
    EXPECT_EQ(Seams.Boxes[0].Text, "Cannot create file " + Std(target) + ".");
    EXPECT_EQ(Dialog.Lines(), QStringList{"text"});
    EXPECT_EQ(ReadWholeFile(In("plain")), "a file, not a folder");
}

}
