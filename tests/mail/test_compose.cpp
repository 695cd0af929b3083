// What goes between DATA and ".": header block, text part, attachment
// blocks, as the scripted server receives them, line for line.
#include "mime.h"
#include "smtp_session.h"
#include "uucode.h"

namespace {

using namespace std::string_literals;

template <class TEncoder>
Lines Encoded(const std::string& bytes)
{
    TMemoryStream in(bytes);
    TStrings out;
    TEncoder encoder(in, out);
    encoder.Encode();
    return out.ToVector();
}

// RFC 821 transparency, as the client must apply it.
Lines Stuffed(Lines lines)
{
    for (auto& line : lines)
        if (line.starts_with('.'))
            line.insert(0, ".");
    return lines;
}

std::string RandomBytes(std::size_t size)
{
    std::string bytes(size, '\0');
    unsigned x = unsigned(size) * 2654435761u + 1;
    for (auto& c : bytes) {
        x = x * 1103515245u + 12345u;
        c = char(x >> 23);
    }
    return bytes;
}

const Lines Headers = {"From:     Sender Name<sender@example.org>", "To:       <rcpt@example.net>", "Subject:  Files"};
const Lines PlainText = {"Mime-Version: 1.0", "Content-Type: text/plain; charset=\"us-ascii\"",
                         "Content-Transfer-Encoding: 7bit", "", "L1", "L2"};
const Lines MimeHead = {"Mime-Version: 1.0", "Content-Type: multipart/mixed; boundary=\"31415926\"", "X-Encoding: MIME",
                        "", "This is a multi-part message in MIME format.", "", "--31415926",
                        "Content-Type: text/plain; charset=\"us-ascii\"", "Content-Transfer-Encoding: 7bit", "", "L1",
                        "L2"};
const Lines UUHead = {"X-Encoding:      UUENCODE", "", "L1", "L2"};

// The encoding-failure note for `files` attachments.
Lines Note(int files)
{
    return {"", "**" + std::to_string(files) + " file(s) were attached to this",
            "**message.  They could not be sent due to error during encoding"};
}

// The fixture's headers, `head` and text, then `blocks`, each after the
// empty line of the sending step.
Lines Message(const Lines& head, std::initializer_list<Lines> blocks)
{
    Lines all = Join({Headers, head});
    for (const auto& block : blocks)
        all = Join({all, {""}, block});
    return all;
}

// A base64 block; the last one closes the multipart.
Lines Base64Block(const std::string& name, const std::string& type, const std::string& bytes, bool last = true)
{
    return Join({{"--31415926", "Content-Type: " + type + "; name=\"" + name + "\"", "Content-Transfer-Encoding: base64",
                  "Content-Disposition: attachment; filename=\"" + name + "\"", ""},
                 Encoded<TBase64>(bytes), {""}, last ? Lines{"--31415926--"} : Lines{}});
}

// A quoted-printable text block, without a disposition. Before a following
// block it has no empty line of its own: the CR LF before a boundary
// belongs to the boundary (RFC 2046), so a second one would add a line.
Lines TextBlock(const std::string& name, const std::string& text, bool last = true)
{
    return Join({{"--31415926", "Content-Type: TEXT/Plain; name=\"" + name + "\"",
                  "Content-Transfer-Encoding: quoted-printable", ""},
                 Stuffed(Encoded<TQuotedPrintable>(text)), last ? Lines{"", "--31415926--"} : Lines{}});
}

// A UU block ends with exactly one zero-length line (length character "`")
// before "end": uudecode takes the first as the end of the data and wants
// "end" next. The encoder ends a file of whole 45-byte blocks with one.
Lines UUBlock(const std::string& name, const std::string& bytes, bool last = true)
{
    Lines lines = Stuffed(Encoded<TUUCode>(bytes));
    if (lines.empty() || !lines.back().starts_with('`'))
        lines.push_back("`");
    return Join({{"begin 600 " + name}, lines, {"end"}, last ? Lines{} : Lines{""}});
}

class ComposeTest : public SMTPSessionTest {
public:
    static void SetUpTestSuite() { SetContentTypeTable(std::string_view("application/zip zip\nTEXT/Plain txt\n")); }
    void SetUp() override
    {
        SMTPSessionTest::SetUp();
        Smtp->SetBoundary("31415926");
        Smtp->SetFrom("sender@example.org|Sender Name");
        Smtp->SetRecipient("rcpt@example.net");
        Smtp->SetSubject("Files");
        Smtp->SetBody(TStrings{"L1", "L2"});
    }
    // The session for `messages` messages; without `data` the server takes
    // any lines up to ".".
    Lines Dialogue(const Lines& data, int messages = 1) const
    {
        Lines s = {"S: 220 fake.test", "C: EHLO example.org", "S: 250 ok"};
        for (int m = 0; m < messages; ++m) {
            s = Join({s, {"C: MAIL FROM:<sender@example.org>", "S: 250 ok", "C: RCPT TO:<rcpt@example.net>", "S: 250 ok",
                          "C: DATA", "S: 354 go ahead"}});
            for (const auto& line : data)
                s.push_back("C: " + line);
            s = Join({s, {data.empty() ? "D:" : "C: .", "S: 250 queued"}});
        }
        return Join({s, {"C: QUIT", "S: 221 bye"}});
    }
    void ExpectMessage(const Lines& data, int messages = 1)
    {
        const Lines script = Dialogue(data, messages);
        Serve(script);
        EXPECT_EQ(Session(messages), "ok");
        ExpectClientSent(script);
    }
};

// ---- messages, line for line -----------------------------------------------

struct MessageCase {
    const char* Name;
    std::function<void(TSMTP&)> Setup;
    Lines Data;   // between "DATA" and ".", as sent
    int Messages = 1;
    bool Failed = false;   // the encoding-failure note was added
};
class MessageTest : public ComposeTest, public ::testing::WithParamInterface<MessageCase> {};

TEST_P(MessageTest, IsSentLineForLine)
{
    const auto& c = GetParam();
    if (c.Setup)
        c.Setup(*Smtp);
    ExpectMessage(c.Data, c.Messages);
    EXPECT_EQ(Smtp->TransferFailed(), c.Failed);
    EXPECT_EQ(Boxes, Lines{c.Failed ? "Warning: Transfer not completed." : "Information: All Done."});
    // One block per file; none after an encoding failure.
    EXPECT_EQ(Smtp->EncodedAttachments().size(), c.Failed ? 0u : Smtp->Attachments().Count());
}

template <class... Files>
std::function<void(TSMTP&)> Attach(TEncoding encoding, Files... files)
{
    return [=](TSMTP& smtp) {
        smtp.SetEncoding(encoding);
        smtp.SetAttachments(TStrings{TestFile(files.first, files.second)...});
    };
}
using File = std::pair<std::string, std::string>;

const std::string Binary = "\x00\x01\x02 binary \xff\xfe data, sixty and more bytes so that it takes two lines\n"s;
const std::string Photo(200, '\x7f');
const std::string Latin1Text = "caf\xe9 = cost\r\n.hidden line\r\nend";
const std::string Text = "first line\nlast line\n";

const std::string A45(45, 'A'), A90(90, 'A');
INSTANTIATE_TEST_SUITE_P(
    Cases, MessageTest,
    ::testing::Values(
        // The two transcripts of the message layouts, written out.
        MessageCase{"MimeWithOneBinaryFile", Attach(etMIME, File{"data.bin", Binary}),
                    Join({Headers, MimeHead,
                          {"", "--31415926", "Content-Type: application/octet-stream; name=\"data.bin\"",
                           "Content-Transfer-Encoding: base64", "Content-Disposition: attachment; filename=\"data.bin\"",
                           ""},
                          Encoded<TBase64>(Binary), {"", "--31415926--"}})},
        MessageCase{"UUWithOneFile", Attach(etUU, File{"Photo.PNG", Photo}),
                    Join({Headers, UUHead, {"", "begin 600 photo.png"}, Stuffed(Encoded<TUUCode>(Photo)), {"`", "end"}})},
        // The name after the last "/" in lower case; backslash and colon are
        // ordinary. Files of whole 45-byte blocks.
        MessageCase{"UUFilesOneAfterAnother",
                    Attach(etUU, File{"A.bin", "first"}, File{"c:\\Dir\\X.bin", "2"}, File{"zero.bin", ""},
                           File{"one.bin", A45}, File{"two.bin", A90}),
                    Message(UUHead, {UUBlock("a.bin", "first", false), UUBlock("c:\\dir\\x.bin", "2", false),
                                     UUBlock("zero.bin", "", false), UUBlock("one.bin", A45, false),
                                     UUBlock("two.bin", A90)})},
        MessageCase{"UUWithoutFilesHasNoEncodingHeader", Attach(etUU), Join({Headers, {"", "L1", "L2"}})},
        MessageCase{"TextFilesAreQuotedPrintableOthersBase64",
                    Attach(etMIME, File{"a.txt", Latin1Text}, File{"b.zip", "zz"}, File{"c.zip", "second"},
                           File{"d.txt", Text}, File{"empty.txt", ""}),
                    Message(MimeHead, {TextBlock("a.txt", Latin1Text, false),
                                       Base64Block("b.zip", "application/zip", "zz", false),
                                       Base64Block("c.zip", "application/zip", "second", false),
                                       TextBlock("d.txt", Text, false), TextBlock("empty.txt", "")})},
        MessageCase{"UnreadableSecondFileSendsTheNote",
                    [](TSMTP& smtp) {
                        const std::string one = TestFile("one.zip", "1");
                        smtp.SetAttachments(TStrings{one, one + ".missing", TestFile("three.zip", "3")});
                    },
                    Join({Headers, PlainText, Note(3)}), 1, true},
        MessageCase{"OverlongLineOfATextFileSendsTheNote",
                    Attach(etMIME, File{"long.txt", std::string(TQuotedPrintable::MaxLineLength + 1, 'a')}),
                    Join({Headers, PlainText, Note(1)}), 1, true},
        MessageCase{"IsoTextIsTheSameQuotedPrintableThreeTimes",
                    [](TSMTP& smtp) {
                        smtp.SetCharSet(csISO8859);
                        smtp.SetBody(TStrings{"Gr\xfc\xdf" "e", "a=b"});
                    },
                    Join({Headers,
                          {"Mime-Version: 1.0", "Content-Type: text/plain; charset=\"iso-8859-1\"",
                           "Content-Transfer-Encoding: quoted-printable", "", "Gr=FC=DFe", "a=3Db"}}),
                    3},
        // Transparency dots on text lines.
        MessageCase{"ReceiptHighPriorityAndDotLines",
                    [](TSMTP& smtp) {
                        smtp.SetReturnReceipt(true);
                        smtp.SetPriority(ptHigh);
                        smtp.SetBody(TStrings{".", "..two", ".x", "x."});
                    },
                    Join({{Headers[0], Headers[1], "Return-Receipt-To: <sender@example.org>", "X-Priority: 1", Headers[2]},
                          {PlainText.begin(), PlainText.end() - 2}, {"..", "...two", "..x", "x."}})},
        MessageCase{"LowPriorityAndNoSubject",
                    [](TSMTP& smtp) {
                        smtp.SetPriority(ptLow);
                        smtp.SetSubject("");
                    },
                    Join({{Headers[0], Headers[1], "X-Priority: 5"}, PlainText})},
        MessageCase{"UUEncodingForcesUSASCII",
                    [](TSMTP& smtp) {
                        smtp.SetCharSet(csISO8859);
                        smtp.SetEncoding(etUU);
                        smtp.SetBody(TStrings{"caf\xe9"});
                    },
                    Join({Headers, {"", "caf\xe9"}})},
        // Header values cannot inject lines: CR and LF become blanks; '"'
        // and '\' in a quoted file name are escaped (RFC 2045).
        MessageCase{"LineBreaksInHeaderValues",
                    [](TSMTP& smtp) {
                        smtp.SetFrom("sender@example.org|Evil\r\nBcc: x@y.test");
                        smtp.SetRecipient("rcpt@example.net|Two\nLines");
                        smtp.SetSubject("Hi\r\nX-Injected: yes");
                        Attach(etUU, File{"bad\r\nname.bin", "x"})(smtp);
                    },
                    Join({{"From:     Evil  Bcc: x@y.test<sender@example.org>", "To:       Two Lines<rcpt@example.net>",
                           "Subject:  Hi  X-Injected: yes"},
                          UUHead, {""}, UUBlock("bad  name.bin", "x")})},
        MessageCase{"QuotesBackslashesAndLineBreaksInAMimeFileName",
                    Attach(etMIME, File{"say \"hi\" \\ now\nplease.zip", "q"}),
                    Message(MimeHead, {Base64Block("say \\\"hi\\\" \\\\ now please.zip", "application/zip", "q")})}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- large files: encoded slice by slice, sent as if encoded whole ----------

// The component encodes 4 MiB of input per step, rounded down to whole
// base64 lines (57 bytes) and UU blocks (45 bytes).
constexpr std::size_t Base64Slice = 4 * 1024 * 1024 / 57 * 57;
constexpr std::size_t UUSlice = 4 * 1024 * 1024 / 45 * 45;

class LargeFileTest : public ComposeTest, public ::testing::WithParamInterface<std::pair<TEncoding, std::size_t>> {};

TEST_P(LargeFileTest, LinesAreThoseOfTheWholeFile)
{
    const auto [encoding, size] = GetParam();
    const std::string bytes = RandomBytes(size);
    Attach(encoding, File{"large.bin", bytes})(*Smtp);
    ExpectMessage(encoding == etMIME ? Message(MimeHead, {Base64Block("large.bin", "application/octet-stream", bytes)})
                                     : Message(UUHead, {UUBlock("large.bin", bytes)}));
}
INSTANTIATE_TEST_SUITE_P(
    Slices, LargeFileTest,
    ::testing::Values(std::pair(etMIME, Base64Slice), std::pair(etMIME, Base64Slice + 1),
                      std::pair(etMIME, Base64Slice + 57), std::pair(etMIME, 2 * Base64Slice + 1000),
                      std::pair(etUU, UUSlice), std::pair(etUU, UUSlice + 1), std::pair(etUU, UUSlice + 44),
                      std::pair(etUU, UUSlice + 45), std::pair(etUU, 2 * UUSlice)));

TEST_F(ComposeTest, LargeTextFileIsQuotedPrintableAsAWhole)
{
    // Over two slices of text with every kind of line break, and a CR LF
    // that straddles the first slice's end.
    std::string text;
    const char* breaks[] = {"\r\n", "\n", "\r", "\n\r"};
    unsigned x = 7;
    while (text.size() < 9 * 1024 * 1024) {
        x = x * 1103515245u + 12345u;
        text += std::string((x >> 16) % 120, char('a' + (x >> 8) % 26));
        text += (x >> 4) % 5 == 0 ? "=\t. " : " ";
        text += breaks[(x >> 20) % 4];
    }
    text.insert(4 * 1024 * 1024 - 1, "\r\n");
    Attach(etMIME, File{"large.txt", text})(*Smtp);
    ExpectMessage(Message(MimeHead, {TextBlock("large.txt", text)}));
}

// ---- status, progress, cancel -----------------------------------------------

TEST_F(ComposeTest, StatusAndProgressOfAMessageWithAFile)
{
    const std::string bytes(57 * 10, 'k');   // ten full base64 lines and an empty rest line
    std::vector<int> attachment;
    bool encoded = false;
    Smtp->OnProgress = [&](QObject*) {
        encoded |= Smtp->Status() == msEncoding && Smtp->Progress() == 100;
        if (Smtp->Status() == msSendingAttachments)
            attachment.push_back(Smtp->Progress());
    };
    Attach(etMIME, File{"k.zip", bytes})(*Smtp);
    ExpectMessage(Message(MimeHead, {Base64Block("k.zip", "application/zip", bytes)}));
    EXPECT_EQ(Statuses, (std::vector<TMailStatus>{msConnecting, msLoggingIn, msEncoding, msSendingCommands,
                                                  msSendingHeaders, msSendingBody, msSendingAttachments,
                                                  msLoggingOut, msIdle}));
    EXPECT_TRUE(encoded);
    // Block: 5 head lines, 11 base64 lines, empty line, closing boundary =
    // 18 lines, then 0 after the terminator's reply.
    ASSERT_EQ(attachment.size(), 19u);
    EXPECT_EQ((std::vector{attachment[0], attachment[1], attachment[17], attachment[18]}), (std::vector{0, 6, 100, 0}));
}

// A Cancel from the progress handler while encoding sends nothing of the
// message; halfway through the file it closes at once, the message unended.
class CancelTest : public ComposeTest, public ::testing::WithParamInterface<TMailStatus> {};

TEST_P(CancelTest, LeavesTheMessageUnfinished)
{
    const TMailStatus at = GetParam();
    Attach(etMIME, File{"big.zip", RandomBytes(3 << 20)})(*Smtp);
    Smtp->OnProgress = [this, at, once = true](QObject*) mutable {
        // (A Cancel reports progress 0 itself, still in the same status.)
        if (Smtp->Status() == at && Smtp->Progress() >= (at == msEncoding ? 0 : 50) && std::exchange(once, false))
            Smtp->Cancel();
    };
    Serve(Dialogue({}));
    EXPECT_EQ(Session(), "ECanceledError: Operation has been canceled");
    EXPECT_EQ(Smtp->Status(), msCanceled);
    PumpUntil([&] { return Server->ClientClosed(); });
    EXPECT_EQ(std::count(Server->Received().begin(), Server->Received().end(), "."), 0);
    if (at == msEncoding) {
        EXPECT_TRUE(Smtp->EncodedAttachments().empty());
        EXPECT_EQ(Server->Received(), Lines{"EHLO example.org"});
    }
}
INSTANTIATE_TEST_SUITE_P(Phases, CancelTest, ::testing::Values(msEncoding, msSendingAttachments));

} // namespace
