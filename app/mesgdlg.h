// The message dialog: the subject and the text of a message, with buttons
// to load the text from a file and save it to one.
#pragma once

#include <QByteArray>
#include <QDialog>
#include <QStringList>

#include <cstddef>
#include <string>
#include <string_view>

class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

// The most text the text box takes from a file, in bytes after the line
// ends are made CR LF. Far above any message typed by hand, and small enough
// that the editor stays responsive and the encoders' copies fit in memory.
inline constexpr std::size_t kMemoCapacity = 16 * 1024 * 1024;

// Every lone CR and every lone LF becomes CR LF; CR LF stays.
std::string LineBreaksToCrLf(std::string_view bytes);
// A file's bytes as text: UTF-8 when they are valid UTF-8, otherwise each
// byte is one Latin-1 character, so no byte is lost to a replacement mark.
QString DecodeFileText(const QByteArray& bytes);

class TMsgDlg : public QDialog {
    Q_OBJECT
public:
    explicit TMsgDlg(QWidget* parent = nullptr);

    QFrame* Bevel1;
    QLabel* Label1;
    QLineEdit* txtSubject;
    QPlainTextEdit* txtText;
    QPushButton* OKBtn;
    QPushButton* CancelBtn;
    QPushButton* Button1;   // "&Open..."
    QPushButton* Button2;   // "&Save As..."
    // Read-only list of the run's recipients and files, shown only when a
    // caller asks for confirmation (a run started from a link).
    QListWidget* lstSummary;

    void ShowSummary(const QStringList& lines);

    // The text's lines, one string per line; a line end after the last line
    // does not start another one, and an empty box has no lines.
    QStringList Lines() const;
    void SetLines(const QStringList& lines);
    // The text as the box holds it, lines separated by CR LF, no line end
    // after the last line: what Save As writes (UTF-8).
    QByteArray TextBytes() const;

    // Open and Save As after the chooser: each reports its own failure in
    // the standard error box and returns false, leaving the box as it was.
    bool LoadFromFile(const QString& path);
    bool SaveToFile(const QString& path);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void LayOut();
    void Button1Click();
    void Button2Click();
};
