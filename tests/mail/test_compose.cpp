// What goes between DATA and ".": header block, text part, attachment
// blocks, as the scripted server receives them, line for line.
#include "mime.h"
#include "smtp_session.h"
#include "uucode.h"

#include <QDir>

#include <filesystem>

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

const Lines Headers = {"From:     Sender Name<sender@example.org>", "To:       <rcpt@example.net>", FixedDate,
                       FixedMessageId("example.org"), "Subject:  Files"};
const Lines PlainText = {"Mime-Version: 1.0", "Content-Type: text/plain; charset=\"us-ascii\"",
                         "Content-Transfer-Encoding: 7bit", "", "L1", "L2"};
const Lines MimeHead = {"Mime-Version: 1.0", "Content-Type: multipart/mixed; boundary=\"31415926\"", "X-Encoding: MIME",
                        "", "This is a multi-part message in MIME format.", "", "--31415926",
                        "Content-Type: text/plain; charset=\"us-ascii\"", "Content-Transfer-Encoding: 7bit", "", "L1",
                        "L2"};
const Lines UUHead = {"X-Encoding:      UUENCODE", "", "L1", "L2"};

// The encoding-failure note for `files` attachments, naming the file
// that failed and why.
Lines Note(int files, const std::string& failure)
{
    return {"", "**" + std::to_string(files) + " file(s) were attached to this",
            "**message.  They could not be sent due to error during encoding", "**" + failure};
}

// The text part of a MIME message without files: its charset label,
// transfer encoding and lines.
Lines TextPart(const std::string& charset, const std::string& transfer, const Lines& text)
{
    return Join({{"Mime-Version: 1.0", "Content-Type: text/plain; charset=\"" + charset + "\"",
                  "Content-Transfer-Encoding: " + transfer, ""},
                 text});
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
        Lines s = {"S: 220 fake.test", "C: HELO example.org", "S: 250 ok"};
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
    std::string Failure{};   // "PATH: REASON" of the encoding-failure note
};
class MessageTest : public ComposeTest, public ::testing::WithParamInterface<MessageCase> {};

TEST_P(MessageTest, IsSentLineForLine)
{
    const auto& c = GetParam();
    if (c.Setup)
        c.Setup(*Smtp);
    ExpectMessage(c.Data, c.Messages);
    const bool failed = !c.Failure.empty();
    EXPECT_EQ(Smtp->TransferFailed(), failed);
    EXPECT_EQ(Boxes, Lines{failed ? "Warning: Transfer not completed.\r\n" + c.Failure : "Information: All Done."});
    // One block per file; none after an encoding failure.
    EXPECT_EQ(Smtp->EncodedAttachments().size(), failed ? 0u : Smtp->Attachments().Count());
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
const std::string Missing = TestFile("one.zip", "1") + ".missing";
const std::string MissingFailure = Missing + ": Cannot open file \"" + Missing + "\". No such file or directory";

std::function<void(TSMTP&)> WithText(TCharSet charSet, const std::string& body)
{
    return [=](TSMTP& smtp) {
        smtp.SetCharSet(charSet);
        smtp.SetBody(TStrings{body});
    };
}

std::string FileBytes(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}
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
                    Message(MimeHead, {Base64Block("a.txt", "TEXT/Plain", Latin1Text, false),
                                       Base64Block("b.zip", "application/zip", "zz", false),
                                       Base64Block("c.zip", "application/zip", "second", false),
                                       TextBlock("d.txt", Text, false), TextBlock("empty.txt", "")})},
        MessageCase{"UnreadableSecondFileSendsTheNote",
                    [](TSMTP& smtp) {
                        smtp.SetAttachments(TStrings{TestFile("one.zip", "1"), Missing, TestFile("three.zip", "3")});
                    },
                    Join({Headers, PlainText, Note(3, MissingFailure)}), 1, MissingFailure},
        // Text files go quoted-printable only when decoding gives back
        // their bytes: no NUL, UTF-8, breaks of one kind, lines the encoder
        // takes; all else base64.
        MessageCase{"TextThatQuotedPrintableWouldChangeGoesBase64",
                    Attach(etMIME, File{"long.txt", std::string(TQuotedPrintable::MaxLineLength + 1, 'a')},
                           File{"utf16.txt", "\xFF\xFEh\0i\0\r\0\n\0"s}, File{"cells.txt", "a,\"x\ry\"\r\nb\r\n"},
                           File{"cr.txt", "one\rtwo\r"}),
                    Message(MimeHead, {Base64Block("long.txt", "TEXT/Plain", std::string(24576, 'a'), false),
                                       Base64Block("utf16.txt", "TEXT/Plain", "\xFF\xFEh\0i\0\r\0\n\0"s, false),
                                       Base64Block("cells.txt", "TEXT/Plain", "a,\"x\ry\"\r\nb\r\n", false),
                                       Base64Block("cr.txt", "TEXT/Plain", "one\rtwo\r")})},
        MessageCase{"ProcFileOfSizeZeroIsReadToItsEnd", [](TSMTP& smtp) { smtp.SetAttachments(TStrings{"/proc/version"}); },
                    Message(MimeHead, {Base64Block("version", "application/octet-stream", FileBytes("/proc/version"))})},
        // A file name that is not UTF-8 on disk is taken as Latin-1.
        MessageCase{"LatinOneFileName",
                    [](TSMTP& smtp) {
                        // Removed by hand: the temporary folder cannot remove a
                        // name that is not UTF-8.
                        static const struct TLatin1File {
                            std::string Path;
                            ~TLatin1File() { std::remove(Path.c_str()); }
                        } latin1{TestFile("x", "").append("\xE9.zip")};
                        std::ofstream(latin1.Path, std::ios::binary) << "z";
                        smtp.SetAttachments(TStrings{latin1.Path});
                    },
                    Join({Headers, MimeHead,
                          {"", "--31415926", "Content-Type: application/zip;", " name=\"=?utf-8?B?eMOpLnppcA==?=\"",
                           "Content-Transfer-Encoding: base64", "Content-Disposition: attachment; filename*=utf-8''x%C3%A9.zip",
                           "", "eg==", "", "--31415926--"}})},
        // The text goes in the chosen set when that set can carry it, as
        // UTF-8 otherwise; ASCII stays us-ascii 7bit.
        MessageCase{"AsciiSetWithUtf8Text", WithText(csUSASCII, "Gr\xC3\xBC\xC3\x9F" "e"),
                    Join({Headers, TextPart("utf-8", "quoted-printable", {"Gr=C3=BC=C3=9Fe"})})},
        MessageCase{"LatinSetWithUtf8TextItCarries", WithText(csISO8859, "Gr\xC3\xBC\xC3\x9F" "e"),
                    Join({Headers, TextPart("iso-8859-1", "quoted-printable", {"Gr=FC=DFe"})})},
        MessageCase{"LatinSetWithTextBeyondLatin", WithText(csISO8859, "5 \xE2\x82\xAC"),
                    Join({Headers, TextPart("utf-8", "quoted-printable", {"5 =E2=82=AC"})})},
        MessageCase{"Utf8SetWithAsciiText", WithText(csUTF8, "plain"), Join({Headers, TextPart("us-ascii", "7bit", {"plain"})})},
        MessageCase{"Utf8SetWithLatinOneBytes", WithText(csUTF8, "caf\xE9"),
                    Join({Headers, TextPart("utf-8", "quoted-printable", {"caf=C3=A9"})})},
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
                    Join({{Headers[0], Headers[1], Headers[2], Headers[3], "Return-Receipt-To: <sender@example.org>",
                           "X-Priority: 1", Headers[4]},
                          {PlainText.begin(), PlainText.end() - 2}, {"..", "...two", "..x", "x."}})},
        MessageCase{"LowPriorityAndNoSubject",
                    [](TSMTP& smtp) {
                        smtp.SetPriority(ptLow);
                        smtp.SetSubject("");
                    },
                    Join({{Headers[0], Headers[1], Headers[2], Headers[3], "X-Priority: 5"}, PlainText})},
        // A UU message has no MIME parts: text beyond ASCII is labelled
        // UTF-8 8bit for the whole message.
        MessageCase{"UUEncodingForcesUSASCIIAndLabelsOtherText",
                    [](TSMTP& smtp) {
                        smtp.SetCharSet(csISO8859);
                        smtp.SetEncoding(etUU);
                        smtp.SetBody(TStrings{"caf\xe9"});
                    },
                    Join({Headers, TextPart("utf-8", "8bit", {"caf\xC3\xA9"})})},
        // Header values cannot inject lines: CR and LF become blanks; '"'
        // and '\' in a quoted file name are escaped (RFC 2045).
        MessageCase{"LineBreaksInHeaderValues",
                    [](TSMTP& smtp) {
                        smtp.SetFrom("sender@example.org|Evil\r\nBcc: x@y.test");
                        smtp.SetRecipient("rcpt@example.net|Two\nLines");
                        smtp.SetSubject("Hi\r\nX-Injected: yes");
                        Attach(etUU, File{"bad\r\nname.bin", "x"})(smtp);
                    },
                    Join({{"From:     \"Evil  Bcc: x@y.test\"<sender@example.org>", "To:       Two Lines<rcpt@example.net>",
                           FixedDate, FixedMessageId("example.org"), "Subject:  Hi  X-Injected: yes"},
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
    // Over two slices of text, and a CR LF that straddles the first
    // slice's end.
    std::string text;
    unsigned x = 7;
    while (text.size() < 9 * 1024 * 1024) {
        x = x * 1103515245u + 12345u;
        text += std::string((x >> 16) % 120, char('a' + (x >> 8) % 26));
        text += (x >> 4) % 5 == 0 ? "=\t. \r\n" : " \r\n";
    }
    const std::size_t slice = 4 * 1024 * 1024, pair = text.find("\r\n", slice - 200);
    text.insert(pair, slice - 1 - pair, 'a');
    Attach(etMIME, File{"large.txt", text})(*Smtp);
    ExpectMessage(Message(MimeHead, {TextBlock("large.txt", text)}));
}

// ---- status, progress, cancel -----------------------------------------------

// Links of this process's open files into the temporary folder.
int SpoolFiles()
{
    int count = 0;
    for (const QFileInfo& fd : QDir("/proc/self/fd").entryInfoList(QDir::Files | QDir::System))
        count += fd.symLinkTarget().startsWith(QString::fromStdString(TSpool::Folder()) + "/#");
    return count;
}


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
    // The temporary file lives while the message is sent, not after it.
    std::vector<int> spoolFiles;
    Smtp->OnStatusChange = [&](QObject*) {
        Statuses.push_back(Smtp->Status());
        if (Smtp->Status() == msSendingAttachments || Smtp->Status() == msLoggingOut)
            spoolFiles.push_back(SpoolFiles());
    };
    Attach(etMIME, File{"k.zip", bytes})(*Smtp);
    ExpectMessage(Message(MimeHead, {Base64Block("k.zip", "application/zip", bytes)}));
    EXPECT_EQ(Statuses, (std::vector<TMailStatus>{msConnecting, msLoggingIn, msEncoding, msSendingCommands,
                                                  msSendingHeaders, msSendingBody, msSendingAttachments,
                                                  msLoggingOut, msIdle}));
    EXPECT_TRUE(encoded);
    EXPECT_EQ(spoolFiles, (std::vector{1, 0}));
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
        EXPECT_EQ(Server->Received(), Lines{"HELO example.org"});
    }
}
INSTANTIATE_TEST_SUITE_P(Phases, CancelTest, ::testing::Values(msEncoding, msSendingAttachments));

} // namespace

namespace {

using namespace std::string_literals;

// ---- addresses that would inject into the envelope are refused first -------

TEST_F(ComposeTest, AddressesThatWouldInjectAreRefusedBeforeTheEnvelope)
{
    for (const std::string& address : {"bob@x> NOTIFY=NEVER"s, "<bob@x"s, "bo b@x"s, "bob\t@x"s, "bob\x7F@x"s,
                                      std::string(250, 'b') + "@x.de"}) {
        Smtp->SetRecipient(address);
        Serve({"S: 220 fake.test", "C: HELO example.org", "S: 250 ok"});
        EXPECT_EQ(Session(), "EMailError: Invalid address: " + address);
        ExpectClientSent({"C: HELO example.org"});
    }
}

// ---- the temporary file: checked for room ------------------------------------

TEST_F(ComposeTest, TooLittleRoomForTheSpoolStopsBeforeConnecting)
{
    // A sparse file as large as the room left: its base64 needs a third more.
    const std::string path = TestFile("huge.bin", "");
    std::filesystem::resize_file(path, *TSpool::FreeBytes());
    Smtp->SetAttachments(TStrings{path});
    Serve({});
    const std::string outcome = Session();
    std::filesystem::resize_file(path, 0);
    EXPECT_TRUE(outcome.starts_with("EMailError: Not enough room for the temporary file in " + TSpool::Folder()))
        << outcome;
    EXPECT_EQ(Server->Connections(), 0);
}

} // namespace
