// The address dialog: asks for one e-mail address or the path of an
// address-list file.
#pragma once

#include <QDialog>
#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

class TAddressDlg : public QDialog {
    Q_OBJECT
public:
    explicit TAddressDlg(QWidget* parent = nullptr);

    QLabel* lblPrompt;
    QLineEdit* txtEmail;
    QPushButton* OKBtn;
    QPushButton* CancelBtn;
    QPushButton* btnBrowse;
    QPushButton* btnAddtolist;   // hidden unless the caller shows it

    // Adds a text to the main window's address list; called by "&Add To List"
    // with the text of txtEmail as it stands. A failure (an exception) is
    // reported as "Unable to insert a line" and the dialog stays open.
    std::function<void(const QString&)> OnAddToList;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void btnBrowseClick();
    void btnAddtolistClick();
};
