#include "mesgdlg.h"

#include "formhelpers.h"
#include "textcodec.h"

#include "dialogs.h"
#include "msgbox.h"
#include "profile.h"

#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringDecoder>
#include <QTextDocument>
#include <QVBoxLayout>

#include <algorithm>

namespace {
// The text box's size on the form, at 96 pixels per inch.
constexpr int kTextBoxWidth = 375;
constexpr int kTextBoxHeight = 196;
// Recipients and files listed before the list scrolls: enough for a
// normal link, and the dialog stays on a small screen.
constexpr int kMaxSummaryRows = 8;
constexpr const char* kTextFilesFirst = "Text files (*.txt)|*.txt|All files (*.*)|*.*";

// A typed name without extension gets ".txt", as the save chooser does.
QString WithDefaultSuffix(const QString& path, const QString& suffix)
{
    if (suffix.isEmpty() || QFileInfo(path).fileName().contains(QLatin1Char('.')))
        return path;
    return path + QLatin1Char('.') + suffix;
}

bool ConfirmReplace(const QString& path)
{
    enum { kReplace, kKeep };
    const TQuestion question{TMsgKind::Warning, "Save as text file...",
                             QFileInfo(path).fileName().toStdString() + " already exists.\nDo you want to replace it?",
                             {"&Yes", "&No"}, kKeep};
    return AskQuestion(question) == kReplace;
}
}

std::string LineBreaksToCrLf(std::string_view bytes)
{
    std::string text;
    text.reserve(bytes.size() + bytes.size() / 32);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\r') {
            text += "\r\n";
            if (i + 1 < bytes.size() && bytes[i + 1] == '\n')
                ++i;
        } else if (c == '\n') {
            text += "\r\n";
        } else {
            text += c;
        }
    }
    return text;
}

QString DecodeFileText(const QByteArray& bytes)
{
    return DecodeText(std::string_view(bytes.constData(), std::size_t(bytes.size())));
}

TMsgDlg::TMsgDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("MsgDlg"));
    setWindowTitle(QStringLiteral("Message To Send"));
    // A fixed dialog frame; the desktop's dialog font stands in for the
    // form's 8-point "MS Sans Serif".
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);

    Bevel1 = Named<QFrame>("Bevel1");
    Bevel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Label1 = Named<QLabel>("Label1", QStringLiteral("Subject:"));
    txtSubject = Named<QLineEdit>("txtSubject");
    txtText = Named<QPlainTextEdit>("txtText");
    // Both scroll bars, no word wrap; Enter starts a new line and Tab moves
    // on to the next control.
    txtText->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtText->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtText->setTabChangesFocus(true);
    Button1 = Named<QPushButton>("Button1", QStringLiteral("&Open..."));
    Button2 = Named<QPushButton>("Button2", QStringLiteral("&Save As..."));
    OKBtn = Named<QPushButton>("OKBtn", QStringLiteral("OK"));
    CancelBtn = Named<QPushButton>("CancelBtn", QStringLiteral("Cancel"));
    OKBtn->setDefault(true);
    lstSummary = Named<QListWidget>("lstSummary");
    lstSummary->setSelectionMode(QAbstractItemView::NoSelection);
    lstSummary->setFocusPolicy(Qt::NoFocus);
    lstSummary->hide();
    LayOut();

    // OK comes first, so Enter at once accepts the dialog as it was filled.
    setTabOrder(OKBtn, CancelBtn);
    setTabOrder(CancelBtn, txtSubject);
    setTabOrder(txtSubject, txtText);
    setTabOrder(txtText, Button1);
    setTabOrder(Button1, Button2);
    OKBtn->setFocus();

    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    connect(Button1, &QPushButton::clicked, this, &TMsgDlg::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TMsgDlg::Button2Click);
}

void TMsgDlg::LayOut()
{
    auto* subject = new QHBoxLayout;
    subject->addWidget(Label1);
    subject->addWidget(txtSubject, 1);
    auto* fileButtons = new QHBoxLayout;
    fileButtons->addWidget(Button1);
    fileButtons->addWidget(Button2);
    fileButtons->addStretch();
    auto* upper = new QVBoxLayout(Bevel1);
    upper->addLayout(subject);
    upper->addWidget(txtText, 1);
    upper->addLayout(fileButtons);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);
    auto* main = new QVBoxLayout(this);
    main->addWidget(Bevel1, 1);
    main->addWidget(lstSummary);
    main->addLayout(buttons);
    main->setSizeConstraint(QLayout::SetFixedSize);
    txtText->setFixedSize(kTextBoxWidth, kTextBoxHeight);
}

void TMsgDlg::ShowSummary(const QStringList& lines)
{
    lstSummary->clear();
    lstSummary->addItems(lines);
    // Every line in view without scrolling, up to a screenful of them.
    const int rows = std::min(int(lines.size()), kMaxSummaryRows);
    lstSummary->setFixedHeight(lstSummary->sizeHintForRow(0) * std::max(rows, 1) + 2 * lstSummary->frameWidth());
    lstSummary->setVisible(true);
}

void TMsgDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    CenterOnScreen(*this);
}

namespace {
// The box's text with every line end as "\n" (a paragraph or a line
// separator each ends a line). Raw text keeps non-breaking spaces.
QString BoxText(const QPlainTextEdit& box)
{
    QString text = box.document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    text.replace(QChar::LineSeparator, QLatin1Char('\n'));
    return text;
}
}

QStringList TMsgDlg::Lines() const
{
    const QString text = BoxText(*txtText);
    if (text.isEmpty())
        return {};
    QStringList lines = text.split(QLatin1Char('\n'));
    if (lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

void TMsgDlg::SetLines(const QStringList& lines)
{
    QString text = lines.join(QLatin1Char('\n'));
    // A last line that is empty needs its own line end to be seen.
    if (!lines.isEmpty() && lines.last().isEmpty())
        text += QLatin1Char('\n');
    txtText->setPlainText(text);
}

QByteArray TMsgDlg::TextBytes() const
{
    return BoxText(*txtText).replace(QLatin1Char('\n'), QLatin1String("\r\n")).toUtf8();
}

bool TMsgDlg::LoadFromFile(const QString& path)
{
    const std::string cannotOpen = "Cannot open file " + path.toStdString();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ShowStandardError(cannotOpen);
        return false;
    }
    // At most one byte more than fits is read, so a device without an end
    // (a character device) is refused instead of read for ever.
    const QByteArray bytes = file.read(qint64(kMemoCapacity) + 1);
    if (file.error() != QFileDevice::NoError) {
        ShowStandardError(cannotOpen);
        return false;
    }
    const std::string text = LineBreaksToCrLf(std::string_view(bytes.constData(), std::size_t(bytes.size())));
    if (text.size() > kMemoCapacity) {
        ShowStandardError("Text exceeds memo capacity");
        return false;
    }
    const QString decoded = DecodeFileText(QByteArray::fromRawData(text.data(), qsizetype(text.size())));
    txtText->setPlainText(QString(decoded).replace(QLatin1String("\r\n"), QLatin1String("\n")));
    return true;
}

bool TMsgDlg::SaveToFile(const QString& path)
{
    // Written through a temporary file, so a failed save does not destroy
    // the file it was to replace.
    const QByteArray bytes = TextBytes();
    if (!ReplaceFileAtomically(path.toStdString(), std::string_view(bytes.constData(), std::size_t(bytes.size())))) {
        ShowStandardError("Cannot create file " + path.toStdString());
        return false;
    }
    return true;
}

void TMsgDlg::Button1Click()
{
    if (const auto chosen = ChooseFile(this, OpenTextChooser(QStringLiteral("Select text file..."))))
        LoadFromFile(*chosen);
}

void TMsgDlg::Button2Click()
{
    TFileChooser chooser;
    chooser.ChooserKind = TFileChooser::Save;
    chooser.Title = QStringLiteral("Save as text file...");
    chooser.Filter = QLatin1String(kTextFilesFirst);
    chooser.InitialDir = QStringLiteral(".");
    chooser.DefaultSuffix = QStringLiteral("txt");
    chooser.MustExist = false;
    chooser.ConfirmOverwrite = true;
    const auto chosen = ChooseFile(this, chooser);
    if (!chosen)
        return;
    // The chooser asked about the name it returned; a name that gets its
    // ".txt" only now may meet another file, which is not replaced unasked.
    const QString path = WithDefaultSuffix(*chosen, chooser.DefaultSuffix);
    if (path != *chosen && QFileInfo::exists(path) && !ConfirmReplace(path))
        return;
    SaveToFile(path);
}
