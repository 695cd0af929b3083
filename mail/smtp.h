// TSMTP: delivers mail to one SMTP server over the session of TMailBase.
#pragma once

#include "mailbase.h"
#include "spool.h"
#include "streams.h"
#include "tstrings.h"

#include <QDateTime>

#include <cstdint>

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

enum TEncoding { etUU, etMIME };
enum TCharSet { csUSASCII, csISO8859, csUTF8 };
enum TPriority { ptLow, ptNormal, ptHigh };
enum TMailStatus {
    msIdle, msConnecting, msLoggingIn, msLoggingOut, msSendingHeaders,
    msSendingCommands, msSendingBody, msSendingAttachments, msCanceled, msEncoding
};

// Event shape: the component as the sender; the handler reads its properties.
using TNotifyEvent = std::function<void(QObject* Sender)>;

// How the session is protected (the "Security" setting).
//   secAuto: STARTTLS when the server offers it, plain otherwise;
//   secNone: never TLS; secSTARTTLS: required (RFC 3207); secTLS: implicit TLS.
enum TSecurity { secAuto, secNone, secSTARTTLS, secTLS };
// SASL mechanism for AUTH (RFC 4954). amAuto picks the best of PLAIN and
// LOGIN that the server offers; the OAuth mechanisms only when chosen.
enum TAuthMethod { amAuto, amPLAIN, amLOGIN, amXOAUTH2, amOAUTHBEARER };

// A server certificate that did not verify, as shown to the user.
struct TCertificateInfo {
    std::string Host;
    std::uint16_t Port = 0;
    std::string Problem;       // "unknown issuer", "name mismatch", "expired"...
    std::string Fingerprint;   // SHA-256, upper-case hex pairs joined by ':'
};

// What the server announced in its EHLO reply (RFC 5321 4.1.1.1).
struct TCapabilities {
    bool StartTLS = false;
    bool EightBitMIME = false;
    bool SMTPUTF8 = false;
    bool Pipelining = false;
    std::vector<std::string> AuthMechanisms;
    std::uint64_t Size = 0;    // RFC 1870 limit; 0 = none announced
};

class TSMTP : public TMailBase {
    Q_OBJECT
public:
    explicit TSMTP(QObject* Owner = nullptr);
    ~TSMTP() override;

    // ---- properties ----
    const std::string& From() const { return FFrom; }
    void SetFrom(const std::string& value) { FFrom = value; }
    const std::string& Recipient() const { return FRecipient; }
    void SetRecipient(const std::string& value) { FRecipient = value; }
    const std::string& Subject() const { return FSubject; }
    void SetSubject(const std::string& value) { FSubject = value; }
    // The component owns its lists; assigning one copies its lines.
    TStrings& CC() { return FCC; }
    TStrings& BCC() { return FBCC; }
    TStrings& Body() { return FBody; }
    TStrings& Attachments() { return FAttachments; }
    const TStrings& CC() const { return FCC; }
    const TStrings& BCC() const { return FBCC; }
    const TStrings& Body() const { return FBody; }
    const TStrings& Attachments() const { return FAttachments; }
    void SetCC(const TStrings& value) { FCC.Assign(value); }
    void SetBCC(const TStrings& value) { FBCC.Assign(value); }
    void SetBody(const TStrings& value) { FBody.Assign(value); }
    void SetAttachments(const TStrings& value) { FAttachments.Assign(value); }

    TEncoding Encoding() const { return FEncoding; }
    // A change to etUU also sets CharSet to csUSASCII.
    void SetEncoding(TEncoding value);
    TCharSet CharSet() const { return FCharSet; }
    // Taken only when it differs and Encoding is etMIME.
    void SetCharSet(TCharSet value);
    bool ReturnReceipt() const { return FReturnReceipt; }
    void SetReturnReceipt(bool value) { FReturnReceipt = value; }
    TPriority Priority() const { return FPriority; }
    void SetPriority(TPriority value) { FPriority = value; }
    bool UseDomainAddress() const { return FUseDomainAddress; }
    void SetUseDomainAddress(bool value) { FUseDomainAddress = value; }
    bool ShowResult() const { return FShowResult; }
    void SetShowResult(bool value) { FShowResult = value; }

    TNotifyEvent OnStatusChange;
    TNotifyEvent OnProgress;

    // ---- submission: TLS and authentication ----
    TSecurity Security() const { return FSecurity; }
    void SetSecurity(TSecurity value) { FSecurity = value; }
    // The login name; empty means no AUTH.
    const std::string& User() const { return FUser; }
    void SetUser(const std::string& value) { FUser = value; }
    TAuthMethod AuthMethod() const { return FAuthMethod; }
    void SetAuthMethod(TAuthMethod value) { FAuthMethod = value; }
    // Run with /bin/sh when set; the first line of its output is the
    // password or the OAuth2 access token. It comes before OnPassword.
    const std::string& PasswordCommand() const { return FPasswordCommand; }
    void SetPasswordCommand(const std::string& value) { FPasswordCommand = value; }
    // Extra trust anchors (PEM), beside the system's store.
    const std::string& CAFile() const { return FCAFile; }
    void SetCAFile(const std::string& value) { FCAFile = value; }
    // "host:port=SHA256 host:port=SHA256 ...": certificates the user trusts
    // as they are (hex, colons allowed).
    const std::string& TrustedCertificates() const { return FTrustedCertificates; }
    void SetTrustedCertificates(const std::string& value) { FTrustedCertificates = value; }

    // Asked for the secret when no command is set; nullopt = the user
    // cancelled (the run ends as canceled).
    std::function<std::optional<std::string>()> OnPassword;
    // Told whether the server took the secret, so a stored one can be kept
    // or forgotten.
    std::function<void(bool Accepted)> OnAuthResult;
    // A certificate that does not verify: true = trust this exact one.
    std::function<bool(const TCertificateInfo&)> OnUntrustedCertificate;

    const TCapabilities& Capabilities() const { return FCapabilities; }
    bool Encrypted() const { return FEncrypted; }

    // ---- facts of each message, injectable so tests stay byte-exact ----
    // The local time with its zone offset, for the Date header.
    std::function<QDateTime()> Clock;
    // Fills the span with random bytes (the system CSPRNG by default), for
    // the Message-ID.
    std::function<void(std::span<unsigned char>)> RandomBytes;

    TMailStatus Status() const { return FStatus; }
    int Progress() const { return FProgress; }
    const std::string& Boundary() const { return FBoundary; }
    // Replaces the boundary made at creation, so that tests can compare
    // whole messages byte for byte.
    void SetBoundary(const std::string& value) { FBoundary = value; }
    bool TransferFailed() const { return FTransferFailed; }
    // "PATH: REASON" for each attachment that could not be encoded since
    // Open, one per line (lines joined by CR LF); empty when none failed.
    const std::string& EncodingFailures() const { return FEncodingFailures; }

    // ---- operations ----
    void Open() override;
    void Login();
    void Transmit();
    void Logout();
    void Cancel() override;
    // Also drops the temporary file of the attachments: a message that
    // ends with the session keeps nothing on disk.
    int Close() override;
    // Raises EMailError when the temporary folder cannot hold the encoded
    // form of the largest attachment, so that a run stops before it
    // connects rather than half-way through its files.
    void CheckSpoolRoom() const;

    // One encoded attachment as it is sent: the part headers, the encoded
    // lines and the closing lines. The (large) encoded lines live in the
    // message's spool file, in wire form, so that a message holds only a
    // slice of one file in memory while it is encoded.
    struct TEncodedBlock {
        TStrings Head;
        std::uint64_t Offset = 0;     // where the encoded lines start in the spool
        std::uint64_t Bytes = 0;      // their bytes there, CR LF included
        std::size_t LineCount = 0;
        TStrings Tail;
        std::size_t Count() const { return Head.Count() + LineCount + Tail.Count(); }
    };
    const std::vector<std::unique_ptr<TEncodedBlock>>& EncodedAttachments() const { return FEncodedAttachments; }

protected:
    void Reset() override;
    void SetStatus(TMailStatus value);
    void SetProgress(int value);

    // ---- the dialogue ----
    void SendLine(std::string_view line);
    // Writes `bytes` as they are, under one TimeOut (lines already ended).
    void SendData(std::string_view bytes);
    void ReadReply();
    void CheckReply(std::string_view line);
    void SendCommand(const std::string& line) { SendLine(line); ReadReply(); }

    // ---- composition ----
    // Refuses an address that would inject commands (all, or the sender only).
    void CheckAddresses(bool senderOnly = false) const;
    void EncodeBody();
    // Encodes `text` as the message text, choosing its charset and
    // transfer encoding.
    void SetMessageText(const TStrings& text);
    void EncodeAttachments();
    void EncodeMIMEBlock(std::size_t index, bool last);
    void EncodeUUBlock(std::size_t index, bool last);
    // Encodes `file` slice by slice with a base64 or UU encoder into the
    // spool; every slice but the last is a whole number of `unit` bytes.
    template <class TEncoder>
    void SpoolEncoded(TStream& file, std::size_t unit, TEncodedBlock& block);
    void SpoolQuotedPrintable(TStream& file, TEncodedBlock& block);
    void SendSpooled(const TEncodedBlock& block, std::size_t& index, std::size_t lines);
    virtual void SendHeaders();
    void SendMessageText();
    bool HasAttachments() const { return FHasAttachments; }

    TSecurity FSecurity = secAuto;
    std::string FUser;
    TAuthMethod FAuthMethod = amAuto;
    std::string FPasswordCommand, FCAFile, FTrustedCertificates;
    TCapabilities FCapabilities;
    bool FEncrypted = false;

    std::string FFrom, FRecipient, FSubject;
    TStrings FCC, FBCC, FBody, FAttachments;
    TEncoding FEncoding = etMIME;
    TCharSet FCharSet = csUSASCII;
    bool FReturnReceipt = false;
    TPriority FPriority = ptNormal;
    bool FUseDomainAddress = true;
    bool FShowResult = true;
    TMailStatus FStatus = msIdle;
    int FProgress = 0;
    std::string FBoundary;
    bool FTransferFailed = false;
    // The text of the message being composed.
    TStrings FMessageText;
    std::vector<std::unique_ptr<TEncodedBlock>> FEncodedAttachments;
    TSpool FSpool;
    bool FHasAttachments = false;
    // How the text part goes, chosen by EncodeBody: the charset label and
    // the transfer encoding; no label for a plain UU message.
    std::string FTextCharset = "us-ascii", FTextTransfer = "7bit";
    std::string FEncodingFailures;
    // The Canceled flag of the encoder that works for this component now.
    bool* FEncoderCanceled = nullptr;
};

// The percentage after line `index` of `count` lines: index * 100 / (count - 1),
// rounded to the nearest integer with halves to the even neighbour; 0 for a
// single line.
int LineProgress(std::size_t index, std::size_t count);

// The boundary that a new component uses for all its messages.
std::string NewBoundary();
