#include "dialogs.h"

#include "msgbox.h"

#include <QApplication>
#include <QColorDialog>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QUrl>
#include <algorithm>
#include <utility>
#include <vector>

namespace {
template <typename T>
T& Slot()
{
    static T handler;
    return handler;
}
}

TDialogHandler SetDialogHandler(TDialogHandler handler)
{
    return std::exchange(Slot<TDialogHandler>(), std::move(handler));
}

int ExecDialog(QDialog& dialog)
{
    if (auto& handler = Slot<TDialogHandler>())
        return handler(dialog);
    return dialog.exec();
}

QString QtFilterFromPairs(const QString& pairs)
{
    const QStringList parts = pairs.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i];
        const QString pattern = QString(parts[i + 1]).replace(QLatin1Char(';'), QLatin1Char(' '));
        // "*.*" means every file; on this platform that is "*".
        QString qtPattern = pattern == QLatin1String("*.*") ? QStringLiteral("*") : pattern;
        if (description.contains(QLatin1Char('(')))
            description = description.left(description.indexOf(QLatin1Char('('))).trimmed();
        filters << QStringLiteral("%1 (%2)").arg(description, qtPattern);
    }
    return filters.join(QStringLiteral(";;"));
}

TFileChooserHandler SetFileChooserHandler(TFileChooserHandler handler)
{
    return std::exchange(Slot<TFileChooserHandler>(), std::move(handler));
}

namespace {
// The folder of the last file chosen: a chooser that starts in "." opens
// there. The process's working directory stays as it was, or relative list
// entries and the log file would resolve somewhere else afterwards.
QString& LastChosenFolder()
{
    static QString folder;
    return folder;
}
}

std::optional<QString> ChooseFile(QWidget* parent, const TFileChooser& chooser)
{
    if (auto& handler = Slot<TFileChooserHandler>())
        return handler(parent, chooser);

    QFileDialog dialog(parent, chooser.Title);
    const QString initial = chooser.InitialDir == QLatin1String(".") && !LastChosenFolder().isEmpty()
        ? LastChosenFolder() : chooser.InitialDir;
    const QString start = chooser.FileName.isEmpty()
        ? initial
        : QFileInfo(chooser.FileName).absoluteFilePath();
    dialog.setDirectory(QFileInfo(chooser.FileName.isEmpty() ? start + QStringLiteral("/") : start).absolutePath());
    if (!chooser.FileName.isEmpty())
        dialog.selectFile(QFileInfo(chooser.FileName).fileName());
    dialog.setNameFilter(QtFilterFromPairs(chooser.Filter));
    dialog.setNameFilters(QtFilterFromPairs(chooser.Filter).split(QStringLiteral(";;")));
    if (chooser.ChooserKind == TFileChooser::Open) {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(chooser.MustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        if (!chooser.DefaultSuffix.isEmpty())
            dialog.setDefaultSuffix(chooser.DefaultSuffix);
        if (!chooser.ConfirmOverwrite)
            dialog.setOption(QFileDialog::DontConfirmOverwrite);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    const QString chosen = QFileInfo(dialog.selectedFiles().first()).absoluteFilePath();
    LastChosenFolder() = QFileInfo(chosen).absolutePath();
    return chosen;
}

TFontHandler SetFontHandler(TFontHandler handler)
{
    return std::exchange(Slot<TFontHandler>(), std::move(handler));
}

std::optional<QFont> ChooseFont(QWidget* parent, const QFont& initial)
{
    if (auto& handler = Slot<TFontHandler>())
        return handler(parent, initial);
    bool ok = false;
    const QFont font = QFontDialog::getFont(&ok, initial, parent);
    if (!ok)
        return std::nullopt;
    return font;
}

TColorHandler SetColorHandler(TColorHandler handler)
{
    return std::exchange(Slot<TColorHandler>(), std::move(handler));
}

std::optional<QColor> ChooseColor(QWidget* parent, const QColor& initial)
{
    if (auto& handler = Slot<TColorHandler>())
        return handler(parent, initial);
    const QColor color = QColorDialog::getColor(initial, parent);
    if (!color.isValid())
        return std::nullopt;
    return color;
}

TEditorHandler SetEditorHandler(TEditorHandler handler)
{
    return std::exchange(Slot<TEditorHandler>(), std::move(handler));
}

void OpenInTextEditor(const QString& path)
{
    if (auto& handler = Slot<TEditorHandler>()) {
        handler(path);
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
}

void CenterOnScreen(QWidget& widget)
{
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        widget.move(screen->availableGeometry().center() - widget.rect().center());
}

void WidenForTitle(QMessageBox& box)
{
    // Window managers draw titles in a bold face, often a little larger
    // than the dialog's own font.
    QFont font = box.font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.2);
    const int width = BoxWidthForTitle(QFontMetrics(font).horizontalAdvance(box.windowTitle()));
    // QMessageBox sizes itself to its text on showing; a spacer across the
    // bottom of its grid is what it keeps.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Minimum), grid->rowCount(), 0, 1,
                      grid->columnCount());
}

namespace {
QMessageBox::Icon KindIcon(TMsgKind kind)
{
    switch (kind) {
    case TMsgKind::Error: return QMessageBox::Critical;
    case TMsgKind::Warning: return QMessageBox::Warning;
    case TMsgKind::Information: return QMessageBox::Information;
    }
    return QMessageBox::NoIcon;
}

std::size_t ShowQuestion(const TQuestion& question)
{
    QMessageBox box(KindIcon(question.Kind), QString::fromStdString(question.Title),
                    QString::fromStdString(question.Text), QMessageBox::NoButton);
    std::vector<QPushButton*> buttons;
    for (const std::string& caption : question.Buttons)
        buttons.push_back(box.addButton(QString::fromStdString(caption), QMessageBox::ActionRole));
    if (question.Cancel < buttons.size()) {
        box.setEscapeButton(buttons[question.Cancel]);
        box.setDefaultButton(buttons[question.Cancel]);
    }
    WidenForTitle(box);
    box.adjustSize();
    CenterOnScreen(box);
    box.exec();
    const auto chosen = std::find(buttons.begin(), buttons.end(), box.clickedButton());
    return chosen == buttons.end() ? question.Cancel : std::size_t(chosen - buttons.begin());
}
} // namespace

void InstallWidgetMessageBoxes()
{
    SetQuestionHandler(ShowQuestion);
    SetMessageBoxHandler([](const TMessageBox& box) {
        const QMessageBox::Icon icon = KindIcon(box.Kind);
        QMessageBox message(icon, QString::fromStdString(box.Title),
                            QString::fromStdString(box.Text), QMessageBox::Ok);
        WidenForTitle(message);
        message.adjustSize();
        CenterOnScreen(message);
        message.exec();
    });
}
