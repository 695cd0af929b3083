// TSMTP: delivers mail to one SMTP server over the session of TMailBase.
#pragma once

#include "mailbase.h"
#include "tstrings.h"

#include <functional>
#include <string>

enum TEncoding { etUU, etMIME };
enum TCharSet { csUSASCII, csISO8859 };
enum TPriority { ptLow, ptNormal, ptHigh };
enum TMailStatus {
    msIdle, msConnecting, msLoggingIn, msLoggingOut, msSendingHeaders,
    msSendingCommands, msSendingBody, msSendingAttachments, msCanceled, msEncoding
};

// Event shape: the component as the sender; the handler reads its properties.
using TNotifyEvent = std::function<void(QObject* Sender)>;

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

    TMailStatus Status() const { return FStatus; }
    int Progress() const { return FProgress; }
    const std::string& Boundary() const { return FBoundary; }
    bool TransferFailed() const { return FTransferFailed; }

    // ---- operations ----
    void Open() override;
    void Login();
    void Transmit();
    void Logout();
    void Cancel() override;

protected:
    void Reset() override;
    void SetStatus(TMailStatus value);
    void SetProgress(int value);

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
};
