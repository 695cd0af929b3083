// Faults of the main window: closing when the settings cannot be saved,
// keys after Hide Panel, the saved place, the list's text colour, the
// working directory after a chooser, Save As and move drops.
#include "setpdlg.h"
#include "support_app.h"

#include <QDragEnterEvent>
#include <QFileDialog>
#include <QMimeData>
#include <QUrl>
#include <QPlainTextEdit>
#include <QTimer>

#include <sys/stat.h>

namespace {

// Table rows print as their names in test lists and failures.
template <class TRow>
    requires requires(const TRow& row) { row.Name; }
void PrintTo(const TRow& row, std::ostream* out)
{
    *out << row.Name;
}

// Answers every question with `Answer` and records it.
class TQuestions {
public:
    explicit TQuestions(std::size_t answer) : Answer(answer)
    {
        FOld = SetQuestionHandler([this](const TQuestion& q) { Asked.push_back(q); return Answer; });
    }
    ~TQuestions() { SetQuestionHandler(std::move(FOld)); }
    std::size_t Answer;
    std::vector<TQuestion> Asked;

private:
    TQuestionHandler FOld;
};

struct TCloseCase {
    const char* Name;
    QStringList Arguments;
    std::size_t Answer;   // 0 close without saving, 1 go back
    bool Closes;
    int ExitStatus;
    bool Asks;
};

class CloseUnsaved : public ::testing::TestWithParam<TCloseCase> {};

TEST_P(CloseUnsaved, AsksOrEndsTheCommandLineRunWithAFailure)
{
    const TCloseCase& c = GetParam();
    TSeams seams;
    TScratch scratch;
    const std::string path = scratch.Write("tessaly.ini", "[Setup]\r\n");
    ::chmod(path.c_str(), 0444);   // read-only, for root as well
    TQuestions questions(c.Answer);
    TfrmMailTo window(c.Arguments, path);
    window.show();

    EXPECT_EQ(window.close(), c.Closes);
    EXPECT_EQ(window.ExitStatus(), c.ExitStatus);
    ASSERT_EQ(questions.Asked.size(), c.Asks ? 1u : 0u);
    if (c.Asks) {
        EXPECT_EQ(questions.Asked[0].Text, "Unable to write to " + path + ": Permission denied.\n\n"
                                           "Close without saving the settings and the address list?");
        EXPECT_EQ(questions.Asked[0].Buttons, TLines({"Close &without saving", "&Go back"}));
        EXPECT_EQ(questions.Asked[0].Cancel, 1u);
    }
    EXPECT_TRUE(seams.Boxes.empty());
    EXPECT_EQ(scratch.Read("tessaly.ini"), "[Setup]\r\n");
}

INSTANTIATE_TEST_SUITE_P(Rows, CloseUnsaved, ::testing::Values(
    TCloseCase{"close_without_saving", {}, 0, true, 0, true},
    TCloseCase{"go_back", {}, 1, false, 0, true},
    TCloseCase{"command_line_run", {"boss@example.com"}, 1, true, TfrmMailTo::kExitSettingsNotSaved, false}),
    [](const auto& info) { return std::string(info.param.Name); });

// An entry of `length` characters, ending in "@example.org" ("é" counts once).
QString LongAddress(int length)
{
    const QString domain = QStringLiteral("@example.org");
    return QString(length - domain.size(), QChar(0xE9)) + domain;
}

struct TEntryCase {
    const char* Name;
    int Length;
    std::function<void(TfrmMailTo&, TSeams&, const QString&)> Enter;
};

class LongEntry : public ::testing::TestWithParam<TEntryCase> {};

TEST_P(LongEntry, IsRefusedWhereItIsEnteredWhenTheSettingsCannotKeepIt)
{
    TSeams seams;
    TScratch scratch;
    TfrmMailTo window({}, scratch.Path("tessaly.ini"));
    window.AddEntry("old@example.org");
    const QString text = LongAddress(GetParam().Length);
    GetParam().Enter(window, seams, text);
    const bool fits = GetParam().Length <= 1023;
    EXPECT_EQ(window.Entries().contains(text), fits);
    EXPECT_EQ(window.lstAddresses->count(), 1 + (fits && window.Entries().contains("old@example.org")));
    EXPECT_EQ(seams.BoxTexts(), fits ? TLines{} : TLines{"Entry is too long: the settings file keeps at most 1023 characters of it."});
}

void Typed(TfrmMailTo& w, TSeams&, const QString& text) { w.txtAddress->setText(text); w.Button1Click(); }
void Dialog(TfrmMailTo& w, TSeams& s, const QString& text) { s.Dialogs.push_back(s.Address(text)); w.popAddAddressClick(); }
void Edited(TfrmMailTo& w, TSeams& s, const QString& text)
{
    SelectEntries(w, {"old@example.org"});
    s.Dialogs.push_back(s.Address(text));
    w.Editselected1Click();
}

void SetupName(TfrmMailTo& w, TSeams& s, const QString& text)
{
    s.Dialogs = {TSeams::Drive<TSetupDlg>([text](TSetupDlg& d) { d.UserNameEdit->setText(text); }, QDialog::Accepted),
                 TSeams::Any(QDialog::Rejected)};
    w.btnSetup->click();
    // The name that Setup kept goes in the list (unchecked), for the row's checks.
    if (w.Mailer.From().find('|') != std::string::npos)
        w.lstAddresses->addItem(QString::fromStdString(w.Mailer.From()).section('|', 1));
}

INSTANTIATE_TEST_SUITE_P(Rows, LongEntry, ::testing::Values(
    TEntryCase{"setup_1023", 1023, SetupName}, TEntryCase{"setup_1024", 1024, SetupName},
    TEntryCase{"typed_1023", 1023, Typed}, TEntryCase{"typed_1024", 1024, Typed},
    TEntryCase{"dialog_1024", 1024, Dialog}, TEntryCase{"edited_1023", 1023, Edited},
    TEntryCase{"edited_1024", 1024, Edited}),
    [](const auto& info) { return std::string(info.param.Name); });

struct TKeyCase {
    const char* Name;
    bool Compact;
    QKeySequence Keys;
};

class KeysAfterHidePanel : public ::testing::TestWithParam<TKeyCase> {};

// Del removes the selected entry: the plainest proof that the menu's keys
// reach the list.
TEST_P(KeysAfterHidePanel, MenuKeysStillActOnTheFocusedList)
{
    TSeams seams;
    TScratch scratch;
    TfrmMailTo window({}, scratch.Path("tessaly.ini"));
    window.AddEntry("a@x.org");
    ShowActive(window);
    window.lstAddresses->setFocus();
    if (GetParam().Compact)
        window.btnHidePanel->click();
    QCoreApplication::processEvents();
    SelectEntries(window, {"a@x.org"});
    int fired = 0;
    for (QAction* action : window.lstAddresses->actions())
        if (action->shortcut() == GetParam().Keys)
            QObject::connect(action, &QAction::triggered, [&] { ++fired; });
    seams.Dialogs = {TSeams::Any(QDialog::Rejected)};
    QTest::keySequence(window.lstAddresses, GetParam().Keys);
    EXPECT_EQ(fired, 1);
}

INSTANTIATE_TEST_SUITE_P(Rows, KeysAfterHidePanel, ::testing::Values(
    TKeyCase{"normal_del", false, QKeySequence(Qt::Key_Delete)},
    TKeyCase{"compact_del", true, QKeySequence(Qt::Key_Delete)},
    TKeyCase{"compact_ins", true, QKeySequence(Qt::Key_Insert)},
    TKeyCase{"compact_ctrl_s", true, QKeySequence(Qt::CTRL | Qt::Key_S)},
    TKeyCase{"compact_ctrl_x", true, QKeySequence(Qt::CTRL | Qt::Key_X)}),
    [](const auto& info) { return std::string(info.param.Name); });

struct TPlaceCase {
    const char* Name;
    std::string Stored;        // Left, Top and ShowPanel in the file
    std::function<void(TfrmMailTo&)> Act;
    std::string Saved;         // the place written at close
};

class SavedPlace : public ::testing::TestWithParam<TPlaceCase> {};

TEST_P(SavedPlace, IsWhereTheWindowIsAndOnAScreen)
{
    TSeams seams;
    TScratch scratch;
    scratch.Write("tessaly.ini", "[Setup]\r\n" + GetParam().Stored);
    TfrmMailTo window({}, scratch.Path("tessaly.ini"));
    ShowActive(window);
    if (GetParam().Act)
        GetParam().Act(window);
    ASSERT_TRUE(window.close());
    const std::string text = scratch.Read("tessaly.ini");
    EXPECT_NE(text.find(GetParam().Saved), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(Rows, SavedPlace, ::testing::Values(
    TPlaceCase{"normal", "Top=150\r\nLeft=200\r\n", {}, "Top=150\r\nLeft=200\r\n"},
    TPlaceCase{"compact_from_the_file", "Top=150\r\nLeft=200\r\nShowPanel=0\r\n", {}, "Top=150\r\nLeft=200\r\n"},
    TPlaceCase{"hidden_at_run_time", "Top=150\r\nLeft=200\r\n", [](TfrmMailTo& w) { w.btnHidePanelClick(); }, "Top=150\r\nLeft=200\r\n"},
    TPlaceCase{"shown_again", "Top=150\r\nLeft=200\r\nShowPanel=0\r\n", [](TfrmMailTo& w) { w.ShowPanel1Click(); }, "Top=150\r\nLeft=200\r\n"},
    TPlaceCase{"moved_after_hiding", "Top=150\r\nLeft=200\r\n", [](TfrmMailTo& w) { w.btnHidePanelClick(); w.move(300, 250); }, "Top=250\r\nLeft=300\r\n"},
    TPlaceCase{"off_screen_comes_back", "Top=-5000\r\nLeft=-5000\r\n", {}, "Top=15\r\nLeft=15\r\n"},
    TPlaceCase{"mostly_off_screen_comes_back", "Top=-300\r\nLeft=-420\r\n", {}, "Top=15\r\nLeft=15\r\n"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(TextColor, IsChosenFromTheWindowAndSavedAsFontColor)
{
    TSeams seams;
    TScratch scratch;
    TfrmMailTo window({}, scratch.Path("tessaly.ini"));
    EXPECT_LE(window.pnlControl->minimumSizeHint().width(), 432) << "the panel fits the default window";
    seams.Colors = {QColor(0, 0, 255), std::nullopt};
    window.btnTextColor->click();
    window.btnTextColor->click();   // cancelled: no change
    EXPECT_EQ(window.FontColor(), 0xFF0000);
    EXPECT_EQ(window.lstAddresses->palette().color(QPalette::Text), QColor(0, 0, 255));
    ASSERT_TRUE(window.close());
    EXPECT_TRUE(scratch.Holds("tessaly.ini", "FontColor=16711680\r\n"));
}

// The real chooser, answered from inside its own modal loop.
std::optional<QString> ChooseWithTheRealDialog(const QString& pick, QString& startedIn)
{
    const TFileChooserHandler scripted = SetFileChooserHandler({});
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        startedIn = dialog->directory().absolutePath();
        dialog->selectFile(pick);
        QMetaObject::invokeMethod(dialog, "accept");
    });
    TFileChooser chooser;
    chooser.Title = "Pick";
    chooser.Filter = "All files (*.*)|*.*";
    const auto chosen = ChooseFile(nullptr, chooser);
    SetFileChooserHandler(scripted);
    return chosen;
}

TEST(FileChooser, LeavesTheWorkingDirectoryAndStartsWhereTheLastChoiceWas)
{
    TScratch scratch;
    const QString before = QDir::currentPath();
    const QString pick = scratch.QWrite("list.txt", "a@x.org\n");
    QString startedIn;
    EXPECT_EQ(ChooseWithTheRealDialog(pick, startedIn), std::optional<QString>(pick));
    EXPECT_EQ(QDir::currentPath(), before);
    EXPECT_EQ(ChooseWithTheRealDialog(pick, startedIn), std::optional<QString>(pick));
    EXPECT_EQ(startedIn, QFileInfo(pick).absolutePath());
}

struct TSaveAsCase {
    const char* Name;
    bool Exists;
    std::size_t Answer;   // 0 replace, 1 keep
    std::string After;    // notes.txt afterwards
};

class SaveAsSuffix : public ::testing::TestWithParam<TSaveAsCase> {};

TEST_P(SaveAsSuffix, AsksBeforeTheAddedTxtReplacesAFile)
{
    TSeams seams;
    TScratch scratch;
    if (GetParam().Exists)
        scratch.Write("notes.txt", "old");
    TQuestions questions(GetParam().Answer);
    TMsgDlg dialog;
    dialog.txtText->setPlainText("new");
    seams.Files = {scratch.QPath("notes")};
    dialog.Button2->click();
    EXPECT_EQ(scratch.Read("notes.txt"), GetParam().After);
    ASSERT_EQ(questions.Asked.size(), GetParam().Exists ? 1u : 0u);
    if (GetParam().Exists)
        EXPECT_EQ(questions.Asked[0].Text, "notes.txt already exists.\nDo you want to replace it?");
}

INSTANTIATE_TEST_SUITE_P(Rows, SaveAsSuffix, ::testing::Values(
    TSaveAsCase{"new_file", false, 1, "new"},
    TSaveAsCase{"kept", true, 1, "old"},
    TSaveAsCase{"replaced", true, 0, "new"}),
    [](const auto& info) { return std::string(info.param.Name); });

struct TDropCase {
    const char* Name;
    Qt::DropActions Possible;
    Qt::KeyboardModifiers Keys;   // Shift proposes a move
    bool Taken;
};

class DropAction : public ::testing::TestWithParam<TDropCase> {};

TEST_P(DropAction, IsAlwaysACopy)
{
    TSeams seams;
    TScratch scratch;
    TfrmMailTo window({}, scratch.Path("tessaly.ini"));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(scratch.QWrite("plan.txt", "plan"))});
    const TDropCase& c = GetParam();
    QDragEnterEvent enter(QPoint(5, 5), c.Possible, &data, Qt::LeftButton, c.Keys);
    QDragMoveEvent move(QPoint(6, 6), c.Possible, &data, Qt::LeftButton, c.Keys);
    QDropEvent drop(QPointF(6, 6), c.Possible, &data, Qt::LeftButton, c.Keys);
    for (QDropEvent* event : std::initializer_list<QDropEvent*>{&enter, &move, &drop}) {
        QCoreApplication::sendEvent(&window, event);
        EXPECT_EQ(event->isAccepted(), c.Taken) << event->type();
        if (c.Taken)
            EXPECT_EQ(event->dropAction(), Qt::CopyAction) << event->type();
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, DropAction, ::testing::Values(
    TDropCase{"copy", Qt::CopyAction | Qt::MoveAction, Qt::NoModifier, true},
    TDropCase{"move_proposed", Qt::CopyAction | Qt::MoveAction, Qt::ShiftModifier, true},
    TDropCase{"move_only", Qt::MoveAction, Qt::NoModifier, false}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
