// Placeholder implementation: replaced by the socket session.
#include "mailbase.h"

void WinsockErrorText(std::uint16_t Number, std::string& Text)
{
    if (Number != 0 && Text.empty())
        Text = "Winsock Error No. " + std::to_string(Number);
}
std::string WinsockErrorText(std::uint16_t Number)
{
    std::string text;
    WinsockErrorText(Number, text);
    return text;
}
std::uint16_t WinsockErrorFromErrno(int error) { return std::uint16_t(error); }

std::pair<std::string, std::string> SplitAddress(std::string_view value)
{
    const auto bar = value.find('|');
    if (bar == std::string_view::npos)
        return {std::string(value), {}};
    return {std::string(value.substr(0, bar)), std::string(value.substr(bar + 1))};
}
std::string JoinAddress(std::string_view address, std::string_view name)
{
    std::string value(address);
    if (!name.empty()) {
        value += '|';
        value += name;
    }
    return value;
}

TMailBase::TMailBase(QObject* Owner) : QObject(Owner) {}
TMailBase::~TMailBase() = default;
void TMailBase::Reset() {}
void TMailBase::Cancel() {}
void TMailBase::Open() { throw ESocketError("not implemented"); }
int TMailBase::Close() { return -1; }
