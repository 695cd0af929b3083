// The password dialog: asks for the login secret when no password command
// is set and none is remembered, or after the server refused the last one.
#pragma once

#include <QDialog>

#include <string>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

class TPasswordDlg : public QDialog {
    Q_OBJECT
public:
    explicit TPasswordDlg(QWidget* parent = nullptr);

    // Fills the prompt for `user` at `server`; `refused` adds the line that
    // says the server refused the last password.
    void SetAccount(const std::string& user, const std::string& server, bool refused);
    std::string Password() const;
    bool Remember() const;

    QLabel* lblRefused;
    QLabel* lblPrompt;
    QLineEdit* txtPassword;
    QCheckBox* chkRemember;
    QPushButton* OKBtn;
    QPushButton* CancelBtn;

protected:
    void showEvent(QShowEvent* event) override;
};

// The certificate-trust dialog: a server certificate did not verify; the
// user may trust that exact certificate (by its SHA-256 fingerprint) for
// that server.
struct TCertificateInfo;

class TTrustDlg : public QDialog {
    Q_OBJECT
public:
    explicit TTrustDlg(const TCertificateInfo& info, QWidget* parent = nullptr);

    QLabel* lblQuestion;
    QLabel* lblProblem;
    QLabel* lblFingerprint;
    QPushButton* btnTrust;
    QPushButton* CancelBtn;

protected:
    void showEvent(QShowEvent* event) override;
};
