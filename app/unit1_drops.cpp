// Unit1: files dropped on the window, and the small helpers of the unit.
#include "unit1.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

namespace {
// The status texts start with blanks that keep them clear of the Cancel
// button lying over the line's left end.
constexpr int kStatusIndent = 14;

// The system colour that 0x80000000 + index names, as a palette role.
QPalette::ColorRole SystemColorRole(int index)
{
    switch (index) {
    case 0: return QPalette::Button;           // scroll bar
    case 1: return QPalette::Window;           // desktop
    case 2: return QPalette::Highlight;        // active caption
    case 3: return QPalette::Mid;              // inactive caption
    case 4: return QPalette::Window;           // menu
    case 5: return QPalette::Base;             // window background
    case 6: return QPalette::Shadow;           // window frame
    case 7: return QPalette::WindowText;       // menu text
    case 8: return QPalette::Text;             // window text
    case 9: return QPalette::HighlightedText;  // caption text
    case 10: case 11: return QPalette::Mid;    // borders
    case 12: return QPalette::Dark;            // application workspace
    case 13: return QPalette::Highlight;
    case 14: return QPalette::HighlightedText;
    case 15: return QPalette::Button;          // button face
    case 16: return QPalette::Dark;            // button shadow
    case 17: return QPalette::PlaceholderText; // grey text
    case 18: return QPalette::ButtonText;
    case 19: return QPalette::Text;            // inactive caption text
    case 20: return QPalette::Light;           // button highlight
    case 21: return QPalette::Shadow;          // 3-D dark shadow
    case 22: return QPalette::Midlight;        // 3-D light
    case 23: return QPalette::ToolTipText;
    case 24: return QPalette::ToolTipBase;
    default: return QPalette::Base;
    }
}

constexpr std::uint32_t kSystemColorReference = std::uint32_t(kSystemColorFlag);

QStringList LocalFiles(const QMimeData* data)
{
    QStringList names;
    if (!data || !data->hasUrls())
        return names;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile())
            names << url.toLocalFile();
    return names;
}
}

// ---- drops ------------------------------------------------------------------------

// Whether the window takes this drag, as a copy. Mailing a file never
// takes it away: a move would let the file manager delete the original
// once the drop is accepted.
bool TfrmMailTo::TakesDrop(QDropEvent* event) const
{
    if (FTransferActive || FDropPending || !(event->possibleActions() & Qt::CopyAction)
        || LocalFiles(event->mimeData()).isEmpty()) {
        event->ignore();
        return false;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    return true;
}

void TfrmMailTo::dragEnterEvent(QDragEnterEvent* event)
{
    // During a run the window takes no drop: the cursor says so.
    TakesDrop(event);
}

void TfrmMailTo::dragMoveEvent(QDragMoveEvent* event)
{
    TakesDrop(event);
}

void TfrmMailTo::dropEvent(QDropEvent* event)
{
    if (TakesDrop(event))
        AcceptDroppedFiles(LocalFiles(event->mimeData()));
}

void TfrmMailTo::AcceptDroppedFiles(const QStringList& names)
{
    // A drop during a run starts nothing and leaves the running one alone.
    if (FTransferActive || FDropPending)
        return;
    FDroppedFiles = names;
    FDropPending = true;
    // The run starts once the drop has been answered, so the file manager
    // is not kept waiting for the whole session.
    QMetaObject::invokeMethod(this, &TfrmMailTo::StartDroppedRun, Qt::QueuedConnection);
}

void TfrmMailTo::StartDroppedRun()
{
    FDropPending = false;
    // The window may have closed between the drop and now.
    if (FTransferActive || FClosed)
        return;
    Mailer.Attachments().Clear();
    for (const QString& name : std::exchange(FDroppedFiles, {}))
        if (IsExistingFile(name.toStdString()))
            Mailer.Attachments().Add(QFileInfo(name).absoluteFilePath().toStdString());
    // A drop without a usable file still starts the run (it then prompts).
    SendMail();
}

// ---- helpers ----------------------------------------------------------------------

QColor TColorToQColor(std::int32_t color, const QPalette& palette)
{
    const auto value = std::uint32_t(color);
    if ((value & 0xFF000000u) == kSystemColorReference)
        return palette.color(QPalette::Active, SystemColorRole(int(value & 0xFFu)));
    return QColor(int(value & 0xFFu), int((value >> 8) & 0xFFu), int((value >> 16) & 0xFFu));
}

std::int32_t QColorToTColor(const QColor& color)
{
    const QColor rgb = color.toRgb();
    return std::int32_t(std::uint32_t(rgb.red()) | std::uint32_t(rgb.green()) << 8 | std::uint32_t(rgb.blue()) << 16);
}

QString StatusText(int status)
{
    return QString(kStatusIndent, QLatin1Char(' ')) + QString::fromLatin1(MailStatusText(status));
}
