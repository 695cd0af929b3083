// Large files go into the message slice by slice; the lines sent must be
// those of the whole file encoded at once. A Cancel while a file is encoded
// or sent leaves the message unended.
#include "mime.h"
#include "smtp_session.h"
#include "uucode.h"

namespace {

template <class TEncoder>
Lines Encoded(const std::string& bytes)
{
    TMemoryStream in(bytes);
    TStrings out;
    TEncoder(in, out).Encode();
    Lines lines = out.ToVector();
    for (auto& line : lines)   // RFC 5321 transparency, as the client applies it
        if (line.starts_with('.'))
            line.insert(0, ".");
    return lines;
}

std::string Noise(std::size_t size)
{
    std::string bytes(size, '\0');
    unsigned x = unsigned(size) * 2654435761u + 1;
    for (auto& c : bytes)
        c = char((x = x * 1103515245u + 12345u) >> 23);
    return bytes;
}

// The component encodes 4 MiB of input per step, rounded down to whole
// base64 lines (57 bytes) and UU blocks (45 bytes).
constexpr std::size_t Base64Slice = 4 * 1024 * 1024 / 57 * 57, UUSlice = 4 * 1024 * 1024 / 45 * 45;

// One message to a server that takes every command (no check of them).
const Lines Script = {"S: 220 fake.test", "C:", "S: 250 ok", "C:", "S: 250 ok", "C:", "S: 250 ok", "C:",
                      "S: 354 go", "D:", "S: 250 ok", "C:", "S: 221 bye"};

struct LargeCase {
    const char* Name;
    TEncoding Encoding;
    std::size_t Size;
    bool Text = false;
};
class LargeFileTest : public SMTPSessionTest, public ::testing::WithParamInterface<LargeCase> {
public:
    static void SetUpTestSuite() { SetContentTypeTable(std::string_view("text/plain txt\n")); }
};

// Over two slices of text with every kind of line break, and a CR LF that
// straddles the first slice's end.
std::string LargeText()
{
    std::string text;
    const char* breaks[] = {"\r\n", "\n", "\r", "\n\r"};
    for (unsigned x = 7; text.size() < 9 * 1024 * 1024;) {
        x = x * 1103515245u + 12345u;
        text += std::string((x >> 16) % 120, char('a' + (x >> 8) % 26)) + ((x >> 4) % 5 == 0 ? "=\t. " : " ");
        text += breaks[(x >> 20) % 4];
    }
    return text.insert(4 * 1024 * 1024 - 1, "\r\n");
}

TEST_P(LargeFileTest, LinesAreThoseOfTheWholeFile)
{
    const auto& c = GetParam();
    const std::string bytes = c.Text ? LargeText() : Noise(c.Size);
    Smtp->SetEncoding(c.Encoding);
    Smtp->SetFrom("a@example.org");
    Smtp->SetRecipient("b@example.org");
    Smtp->SetAttachments(TStrings{TestFile(c.Text ? "large.txt" : "large.bin", bytes)});
    Serve(Script);
    EXPECT_EQ(Session(), "ok");
    PumpUntil([&] { return Server->ClientClosed(); });
    const Lines& got = Server->Received();
    const Lines want = c.Text ? Encoded<TQuotedPrintable>(bytes)
                              : c.Encoding == etMIME ? Encoded<TBase64>(bytes) : Encoded<TUUCode>(bytes);
    EXPECT_NE(std::search(got.begin(), got.end(), want.begin(), want.end()), got.end())
        << "the lines of the whole file encoded at once are not in the message";
}
INSTANTIATE_TEST_SUITE_P(
    Slices, LargeFileTest,
    ::testing::Values(LargeCase{"Base64OneSlice", etMIME, Base64Slice}, LargeCase{"Base64SliceAndOne", etMIME, Base64Slice + 1},
                      LargeCase{"Base64SliceAndALine", etMIME, Base64Slice + 57},
                      LargeCase{"Base64TwoSlicesAndMore", etMIME, 2 * Base64Slice + 1000},
                      LargeCase{"UUOneSlice", etUU, UUSlice}, LargeCase{"UUSliceAndOne", etUU, UUSlice + 1},
                      LargeCase{"UUSliceAndABlock", etUU, UUSlice + 45}, LargeCase{"UUTwoSlices", etUU, 2 * UUSlice},
                      LargeCase{"QuotedPrintableText", etMIME, 0, true}),
    [](const auto& info) { return std::string(info.param.Name); });

// A Cancel from the progress handler while encoding sends nothing of the
// message; halfway through the file it closes at once, the message unended.
class CancelTest : public SMTPSessionTest, public ::testing::WithParamInterface<TMailStatus> {};

TEST_P(CancelTest, LeavesTheMessageUnfinished)
{
    const TMailStatus at = GetParam();
    Smtp->SetFrom("a@example.org");
    Smtp->SetRecipient("b@example.org");
    Smtp->SetAttachments(TStrings{TestFile("big.zip", Noise(3 << 20))});
    Smtp->OnProgress = [this, at, once = true](QObject*) mutable {
        // (A Cancel reports progress 0 itself, still in the same status.)
        if (Smtp->Status() == at && Smtp->Progress() >= (at == msEncoding ? 0 : 50) && std::exchange(once, false))
            Smtp->Cancel();
    };
    Serve(Lines(Script.begin(), Script.begin() + 9));
    EXPECT_EQ(Session(), "ECanceledError: Operation has been canceled");
    EXPECT_EQ(Smtp->Status(), msCanceled);
    PumpUntil([&] { return Server->ClientClosed(); });
    EXPECT_EQ(std::count(Server->Received().begin(), Server->Received().end(), "."), 0);
    if (at == msEncoding) {
        EXPECT_TRUE(Smtp->EncodedAttachments().empty());
        EXPECT_EQ(Server->Received(), Lines{"HELO example.org"});
    }
}
INSTANTIATE_TEST_SUITE_P(Phases, CancelTest, ::testing::Values(msEncoding, msSendingAttachments),
                         [](const auto& info) { return info.param == msEncoding ? "Encoding" : "SendingAttachments"; });

} // namespace
