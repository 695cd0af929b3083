// TSMTP: delivers mail to one SMTP server over the session of TMailBase.
#pragma once

#include "mailbase.h"
#include "spool.h"
#include "streams.h"
#include "tstrings.h"

#include <cstdint>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

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
    // Replaces the boundary made at creation, so that tests can compare
    // whole messages byte for byte.
    void SetBoundary(const std::string& value) { FBoundary = value; }
    bool TransferFailed() const { return FTransferFailed; }

    // ---- operations ----
    void Open() override;
    void Login();
    void Transmit();
    void Logout();
    void Cancel() override;

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
    // The Canceled flag of the encoder that works for this component now.
    bool* FEncoderCanceled = nullptr;
};

// The percentage after line `index` of `count` lines: index * 100 / (count - 1),
// rounded to the nearest integer with halves to the even neighbour; 0 for a
// single line.
int LineProgress(std::size_t index, std::size_t count);

// The boundary that a new component uses for all its messages.
std::string NewBoundary();
