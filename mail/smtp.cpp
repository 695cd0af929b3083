// Placeholder implementation: replaced by the SMTP client.
#include "smtp.h"

TSMTP::TSMTP(QObject* Owner) : TMailBase(Owner)
{
    FService = "smtp";
    FDefaultPort = 25;
    FBoundary = "00000000";
}
TSMTP::~TSMTP() = default;

void TSMTP::SetEncoding(TEncoding value)
{
    if (value == FEncoding)
        return;
    FEncoding = value;
    if (value == etUU)
        FCharSet = csUSASCII;
}
void TSMTP::SetCharSet(TCharSet value)
{
    if (value != FCharSet && FEncoding == etMIME)
        FCharSet = value;
}
void TSMTP::SetStatus(TMailStatus value)
{
    FStatus = value;
    if (OnStatusChange)
        OnStatusChange(this);
}
void TSMTP::SetProgress(int value)
{
    FProgress = value;
    if (OnProgress)
        OnProgress(this);
}
void TSMTP::Reset() { TMailBase::Reset(); FTransferFailed = false; }
void TSMTP::Open() { SetStatus(msConnecting); Reset(); TMailBase::Open(); }
void TSMTP::Login() { throw ESocketError("not implemented"); }
void TSMTP::Transmit() { throw ESocketError("not implemented"); }
void TSMTP::Logout() { throw ESocketError("not implemented"); }
void TSMTP::Cancel() { TMailBase::Cancel(); SetProgress(0); SetStatus(msCanceled); }
