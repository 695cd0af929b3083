// The login secret and the server certificate, as the window (and the
// Setup dialog's Test) hand them to TSMTP.
//
// The secret comes, in this order, from the client's PasswordCommand (TSMTP
// runs it itself; then nothing here is touched), from the desktop keyring
// under "user@server", or from the password dialog. A secret the server
// refuses is forgotten, so the next run asks again and says why; a typed
// secret with "Remember password" is stored only once the server took it.
#pragma once

#include <string>

class QWidget;
class TSMTP;
struct TCertificateInfo;

// Sets OnPassword, OnAuthResult and OnUntrustedCertificate of `smtp`;
// dialogs open over `parent`. `smtp` must outlive its use of them.
void AttachCredentials(TSMTP& smtp, QWidget* parent = nullptr);

// Asks through the trust dialog whether to trust `info`'s certificate; on
// yes, puts "host:port=FINGERPRINT" into `smtp`'s TrustedCertificates (in
// place of an older entry for the same host and port) and returns true.
bool AskTrust(TSMTP& smtp, const TCertificateInfo& info, QWidget* parent = nullptr);

// `trusted` ("host:port=SHA256 ...") with the entry for `host`:`port`
// replaced by `fingerprint`, or that entry added at the end.
std::string WithTrusted(const std::string& trusted, const std::string& hostPort, const std::string& fingerprint);

// Forgets what this program run remembered of every secret (those kept in
// memory where there is no keyring, and which were refused).
void ForgetSessionSecrets();
