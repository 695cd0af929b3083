// Faults of the main window: closing when the settings cannot be saved,
// long entries, keys after Hide Panel, the saved place, the text colour,
// the working directory after a chooser, Save As and move drops.
#include "../platform/platform_test_files.h"
#include "mesgdlg.h"
#include "setpdlg.h"
#include "support_app.h"
#include "unit1.h"

#include <QDragEnterEvent>
#include <QFileDialog>
#include <QListWidget>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <sys/stat.h>

namespace {
using ::PrintTo;

// One window per row, on a settings file in a scratch folder.
template <class TRow>
class WindowRows : public ::testing::TestWithParam<TRow> {
protected:
    TfrmMailTo& Open(const QStringList& arguments = {})
    {
        window = std::make_unique<TfrmMailTo>(arguments, scratch.Path("tessaly.ini"));
        return *window;
    }
    TSeams seams;
    TScratch scratch;
    std::unique_ptr<TfrmMailTo> window;
};
const auto kRowName = [](const auto& info) { return std::string(info.param.Name); };

struct TCloseCase { const char* Name; QStringList Arguments; std::size_t Answer; bool Closes; int Status; };
using CloseUnsaved = WindowRows<TCloseCase>;

TEST_P(CloseUnsaved, AsksOrEndsTheCommandLineRunWithAFailure)
{
    const std::string path = scratch.Write("tessaly.ini", "[Setup]\r\n");
    ::chmod(path.c_str(), 0444);   // read-only, for root as well
    seams.Answer = GetParam().Answer;
    EXPECT_EQ(Open(GetParam().Arguments).close(), GetParam().Closes);
    EXPECT_EQ(window->ExitCode(), GetParam().Status);
    const bool asks = GetParam().Arguments.isEmpty();
    ASSERT_EQ(seams.Questions.size(), asks ? 1u : 0u);
    if (asks) {
        EXPECT_EQ(seams.Questions[0].Text + "|" + seams.Questions[0].Buttons.at(0) + "|" + seams.Questions[0].Buttons.at(1) +
                      "|" + std::to_string(seams.Questions[0].Cancel),
                  "Unable to write to " + path + ": Permission denied.\n\n"
                  "Close without saving the settings and the address list?|Close &without saving|&Go back|1");
    }
    EXPECT_TRUE(seams.Boxes.empty());
    EXPECT_EQ(scratch.Read("tessaly.ini"), "[Setup]\r\n");
}

INSTANTIATE_TEST_SUITE_P(Rows, CloseUnsaved, ::testing::Values(
    TCloseCase{"close_without_saving", {}, 0, true, 0}, TCloseCase{"go_back", {}, 1, false, 0},
    TCloseCase{"command_line_run", {"boss@example.com"}, 1, true, TfrmMailTo::kExitFailed}), kRowName);

using TEnter = void (*)(TfrmMailTo&, TSeams&, const QString&);
struct TEntryCase { const char* Name; int Length; TEnter Enter; };
using LongEntry = WindowRows<TEntryCase>;

TEST_P(LongEntry, IsRefusedWhereItIsEnteredWhenTheSettingsCannotKeepIt)
{
    Open().AddEntry("old@example.org");
    // "é" counts as one character, two bytes.
    const QString text = QString(GetParam().Length - 12, QChar(0xE9)) + "@example.org";
    GetParam().Enter(*window, seams, text);
    const bool fits = GetParam().Length <= 1023;
    EXPECT_EQ(window->Entries().contains(text), fits);
    EXPECT_EQ(seams.Boxes, fits ? TLines{} : TLines{"Error: Entry is too long: the settings file keeps at most 1023 characters of it."});
}

void Typed(TfrmMailTo& w, TSeams&, const QString& text) { w.txtAddress->setText(text); w.Button1Click(); }
void Edited(TfrmMailTo& w, TSeams& s, const QString& text)
{
    SelectEntries(*w.lstAddresses, {"old@example.org"});
    s.Dialogs.push_back(s.Address(text, QDialog::Accepted));
    w.Editselected1Click();
}
void SetupName(TfrmMailTo& w, TSeams& s, const QString& text)
{
    s.Dialogs = {TSeams::Drive<TSetupDlg>([text](TSetupDlg& d) { d.UserNameEdit->setText(text); }, QDialog::Accepted),
                 TSeams::TStep{}};
    w.btnSetup->click();
    // The name that Setup kept goes in the list (unchecked), for the row's checks.
    w.lstAddresses->addItem(QString::fromStdString(w.Mailer.From()).section('|', 1));
}

INSTANTIATE_TEST_SUITE_P(Rows, LongEntry, ::testing::Values(
    TEntryCase{"setup_1024", 1024, SetupName}, TEntryCase{"typed_1023", 1023, Typed},
    TEntryCase{"typed_1024", 1024, Typed}, TEntryCase{"edited_1024", 1024, Edited}), kRowName);

struct TKeyCase { const char* Name; QKeySequence Keys; };
using KeysAfterHidePanel = WindowRows<TKeyCase>;

TEST_P(KeysAfterHidePanel, MenuKeysStillActOnTheFocusedList)
{
    Open().AddEntry("a@x.org");
    ShowActive(*window);
    window->lstAddresses->setFocus();
    window->btnHidePanel->click();
    QCoreApplication::processEvents();
    SelectEntries(*window->lstAddresses, {"a@x.org"});
    int fired = 0;
    for (QAction* action : window->lstAddresses->actions())
        if (action->shortcut() == GetParam().Keys)
            QObject::connect(action, &QAction::triggered, [&] { ++fired; });
    seams.Dialogs = {TSeams::TStep{}};
    QTest::keySequence(window->lstAddresses, GetParam().Keys);
    EXPECT_EQ(fired, 1);
}

INSTANTIATE_TEST_SUITE_P(Rows, KeysAfterHidePanel, ::testing::Values(
    TKeyCase{"del", QKeySequence(Qt::Key_Delete)}, TKeyCase{"ctrl_s", QKeySequence(Qt::CTRL | Qt::Key_S)}), kRowName);

// What a close saves after the window was opened on `Stored` and `Act` ran.
struct TSavedCase { const char* Name; std::string Stored; void (*Act)(TfrmMailTo&, TSeams&); std::string Saved; };
using SavedOnClose = WindowRows<TSavedCase>;

TEST_P(SavedOnClose, IsWhatTheWindowShows)
{
    scratch.Write("tessaly.ini", "[Setup]\r\n" + GetParam().Stored);
    ShowActive(Open());
    if (GetParam().Act)
        GetParam().Act(*window, seams);
    ASSERT_TRUE(window->close());
    EXPECT_TRUE(scratch.Holds("tessaly.ini", GetParam().Saved)) << scratch.Read("tessaly.ini");
}

void TextColor(TfrmMailTo& w, TSeams& s)
{
    EXPECT_LE(w.pnlControl->minimumSizeHint().width(), 432) << "the panel fits the default window";
    s.Colors = {QColor(0, 0, 255), std::nullopt};   // the second is cancelled
    w.btnTextColor->click();
    w.btnTextColor->click();
    EXPECT_EQ(w.lstAddresses->palette().color(QPalette::Text), QColor(0, 0, 255));
}

const std::string kPlace = "Top=150\r\nLeft=200\r\n";
INSTANTIATE_TEST_SUITE_P(Rows, SavedOnClose, ::testing::Values(
    TSavedCase{"compact_from_the_file", kPlace + "ShowPanel=0\r\n", nullptr, kPlace},
    TSavedCase{"moved_after_hiding", kPlace, [](TfrmMailTo& w, TSeams&) { w.btnHidePanelClick(); w.move(300, 250); }, "Top=250\r\nLeft=300\r\n"},
    TSavedCase{"off_screen", "Top=-5000\r\nLeft=-5000\r\n", nullptr, "Top=15\r\nLeft=15\r\n"},
    TSavedCase{"text_color", "", TextColor, "FontColor=16711680\r\n"}), kRowName);

TEST(FileChooser, LeavesTheWorkingDirectoryAndStartsWhereTheLastChoiceWas)
{
    TScratch scratch;
    const QString before = QDir::currentPath(), pick = scratch.QWrite("list.txt", "a@x.org\n");
    const TFileChooserHandler scripted = SetFileChooserHandler({});
    QString startedIn;
    for (int round = 0; round < 2; ++round) {
        // The real chooser, answered from inside its own modal loop.
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            startedIn = dialog->directory().absolutePath();
            dialog->selectFile(pick);
            QMetaObject::invokeMethod(dialog, "accept");
        });
        TFileChooser chooser;
        chooser.Title = "Pick", chooser.Filter = "All files (*.*)|*.*";
        EXPECT_EQ(ChooseFile(nullptr, chooser), pick);
        EXPECT_EQ(QDir::currentPath(), before);
    }
    SetFileChooserHandler(scripted);
    EXPECT_EQ(startedIn, QFileInfo(pick).absolutePath());
}

struct TSaveAsCase { const char* Name; std::size_t Answer; std::string After; };
using SaveAsSuffix = WindowRows<TSaveAsCase>;

TEST_P(SaveAsSuffix, AsksBeforeTheAddedTxtReplacesAFile)
{
    scratch.Write("notes.txt", "old");
    seams.Answer = GetParam().Answer;
    TMsgDlg dialog;
    dialog.txtText->setPlainText("new");
    seams.Files = {scratch.QPath("notes")};
    dialog.Button2->click();
    EXPECT_EQ(scratch.Read("notes.txt"), GetParam().After);
    ASSERT_EQ(seams.Questions.size(), 1u);
    EXPECT_EQ(seams.Questions[0].Text, "notes.txt already exists.\nDo you want to replace it?");
}

INSTANTIATE_TEST_SUITE_P(Rows, SaveAsSuffix, ::testing::Values(TSaveAsCase{"kept", 1, "old"}, TSaveAsCase{"replaced", 0, "new"}), kRowName);

struct TDropCase { const char* Name; Qt::DropActions Possible; Qt::KeyboardModifiers Keys; bool Taken; };
using DropAction = WindowRows<TDropCase>;

TEST_P(DropAction, IsAlwaysACopy)
{
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(scratch.QWrite("plan.txt", "plan"))});
    const TDropCase& c = GetParam();   // Shift proposes a move
    QDragEnterEvent enter(QPoint(5, 5), c.Possible, &data, Qt::LeftButton, c.Keys);
    QDragMoveEvent move(QPoint(6, 6), c.Possible, &data, Qt::LeftButton, c.Keys);
    QDropEvent drop(QPointF(6, 6), c.Possible, &data, Qt::LeftButton, c.Keys);
    Open();
    for (QDropEvent* event : std::initializer_list<QDropEvent*>{&enter, &move, &drop}) {
        QCoreApplication::sendEvent(window.get(), event);
        EXPECT_EQ(event->isAccepted(), c.Taken) << event->type();
        EXPECT_EQ(event->dropAction(), c.Taken ? Qt::CopyAction : event->dropAction()) << event->type();
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, DropAction, ::testing::Values(
    TDropCase{"copy", Qt::CopyAction | Qt::MoveAction, Qt::NoModifier, true},
    TDropCase{"move_proposed", Qt::CopyAction | Qt::MoveAction, Qt::ShiftModifier, true},
    TDropCase{"move_only", Qt::MoveAction, Qt::NoModifier, false}), kRowName);

} // namespace
