// The reply parser: any bytes from a server either make a complete reply,
// a malformed line or a wait for more, and never more than they hold. A
// complete reply's text starts with its three-digit code, carries no line break
// (it goes into a message box and the log), and reading the same bytes in
// two pieces ends where reading them whole does.
#include "fuzz_check.h"
#include "reply.h"
#include "smtp.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {
void CheckOne(std::string_view input)
{
    const TReplyScan scan = ParseReply(input);
    FuzzCheck(scan.Consumed <= input.size(), "the reply took more bytes than it was given");
    if (scan.State != TReplyState::Complete)
        return;
    FuzzCheck(scan.Consumed > 0, "a complete reply took no bytes");
    // The text a user is shown starts with the code the client acts on.
    const std::string text = scan.Reply.Text();
    FuzzCheck(text.size() >= 3 && text.find_first_not_of("0123456789") >= 3
                  && std::stoi(text.substr(0, 3)) == scan.Reply.Code,
              "a complete reply whose text does not start with its code");
    FuzzCheck(text.find_first_of("\r\n") == std::string::npos, "a line break in the reply text");
    ParseCapabilities(scan.Reply);
    // A reply cut short before its end waits for the rest.
    const TReplyScan cut = ParseReply(input.substr(0, scan.Consumed - 1));
    FuzzCheck(cut.State != TReplyState::Complete || cut.Consumed < scan.Consumed,
              "a reply cut short was complete at the same length");
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    // Replies follow one another on the connection: read them all.
    for (int replies = 0; replies < 64 && !input.empty(); ++replies) {
        CheckOne(input);
        const TReplyScan scan = ParseReply(input);
        if (scan.State != TReplyState::Complete)
            break;
        input.remove_prefix(scan.Consumed);
    }
    return 0;
}
