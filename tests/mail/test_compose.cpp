// What goes between DATA and ".": header block, text part, attachment
// blocks, as the scripted server receives them, line for line.
#include "fake_smtp_server.h"
#include "mime.h"
#include "msgbox.h"
#include "smtp.h"
#include "uucode.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>

namespace {

using Lines = std::vector<std::string>;

constexpr const char* FixedBoundary = "31415926";
const char* const ContentTypes = "application/zip zip\n"
                                 "text/plain txt\n"
                                 "image/png png\n";

void PumpUntil(const std::function<bool()>& done, int milliseconds = 3000)
{
    QDeadlineTimer deadline(milliseconds);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
}

Lines Base64Of(const std::string& bytes)
{
    TMemoryStream in(bytes);
    TStrings out;
    TBase64 encoder(in, out);
    encoder.Encode();
    return out.ToVector();
}

Lines UUOf(const std::string& bytes)
{
    TMemoryStream in(bytes);
    TStrings out;
    TUUCode encoder(in, out);
    encoder.Encode();
    return out.ToVector();
}

Lines QPOf(const std::string& bytes)
{
    TMemoryStream in(bytes);
    TStrings out;
    TQuotedPrintable encoder(in, out);
    encoder.Encode();
    return out.ToVector();
}

std::string RandomBytes(std::size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    unsigned x = seed * 2654435761u + 1;
    for (auto& c : bytes) {
        x = x * 1103515245u + 12345u;
        c = char(x >> 23);
    }
    return bytes;
}

Lines Join(std::initializer_list<Lines> parts)
{
    Lines all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// RFC 821 transparency, as the client must apply it.
Lines Stuffed(Lines lines)
{
    for (auto& line : lines)
        if (line.starts_with('.'))
            line.insert(0, ".");
    return lines;
}

class ComposeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { SetContentTypeTable(std::string_view(ContentTypes)); }

    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        FOldBox = SetMessageBoxHandler([this](const TMessageBox& box) { Boxes.push_back(box); });
        Smtp = std::make_unique<TSMTP>();
        Smtp->SetBoundary(FixedBoundary);
        Smtp->SetTimeOut(5);
        Smtp->SetFrom("sender@example.org|Sender Name");
        Smtp->SetRecipient("rcpt@example.net");
        Smtp->SetSubject("Files");
        Smtp->SetBody(TStrings{"L1", "L2"});
        Smtp->OnStatusChange = [this](QObject*) { Statuses.push_back(Smtp->Status()); };
        Smtp->OnProgress = [this](QObject*) {
            Progress.push_back({Smtp->Status(), Smtp->Progress()});
            if (CancelOnProgress && Smtp->Status() == msEncoding) {
                CancelOnProgress = false;   // Cancel reports progress 0 itself
                Smtp->Cancel();
            }
        };
    }
    void TearDown() override
    {
        Smtp.reset();
        SetMessageBoxHandler(FOldBox);
    }
    std::string File(const std::string& name, const std::string& bytes)
    {
        const std::string path = Dir.filePath(QString::fromStdString(name)).toStdString();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    // The envelope for the default sender and recipient, replies included.
    // With `anyData` the server takes whatever lines come up to ".".
    static std::vector<std::string> Dialogue(const Lines& data, int messages = 1, bool anyData = false,
                                             const Lines& copies = {})
    {
        std::vector<std::string> s = {"S: 220 fake.test", "C: HELO example.org", "S: 250 ok"};
        for (int m = 0; m < messages; ++m) {
            Lines envelope = {"MAIL FROM:<sender@example.org>", "RCPT TO:<rcpt@example.net>"};
            for (const auto& copy : copies)
                envelope.push_back("RCPT TO:<" + copy + ">");
            for (const auto& cmd : envelope) {
                s.push_back("C: " + cmd);
                s.push_back("S: 250 ok");
            }
            s.push_back("C: DATA");
            s.push_back("S: 354 go ahead");
            for (const auto& line : data)
                s.push_back("C: " + line);
            s.push_back(anyData ? "D:" : "C: .");
            s.push_back("S: 250 queued");
        }
        s.push_back("C: QUIT");
        s.push_back("S: 221 bye");
        return s;
    }
    // Runs Open, Login, Transmit (times), Logout, Close against `script`
    // and returns the lines the server received.
    Lines Run(const std::vector<std::string>& script, int transmits = 1)
    {
        Server = std::make_unique<TFakeSMTPServer>(script);
        Smtp->SetServer(Server->Address());
        try {
            Smtp->Open();
            Smtp->Login();
            for (int i = 0; i < transmits; ++i)
                Smtp->Transmit();
            Smtp->Logout();
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
        }
        Smtp->Close();
        const std::size_t expected = TFakeSMTPServer::ClientLines(script).size();
        PumpUntil([&] { return Server->Received().size() >= expected; });
        return Server->Received();
    }
    void ExpectMessage(const Lines& data, int transmits = 1)
    {
        const auto script = Dialogue(data, transmits);
        EXPECT_EQ(Run(script, transmits), TFakeSMTPServer::ClientLines(script));
    }

    QTemporaryDir Dir;
    std::unique_ptr<TSMTP> Smtp;
    std::unique_ptr<TFakeSMTPServer> Server;
    std::vector<TMessageBox> Boxes;
    std::vector<TMailStatus> Statuses;
    std::vector<std::pair<TMailStatus, int>> Progress;
    bool CancelOnProgress = false;

private:
    TMessageBoxHandler FOldBox;
};

const Lines Headers = {"From:     Sender Name<sender@example.org>", "To:       <rcpt@example.net>", "Subject:  Files"};
const Lines MultipartHead = {"Mime-Version: 1.0",
                             "Content-Type: multipart/mixed; boundary=\"31415926\"",
                             "X-Encoding: MIME",
                             "",
                             "This is a multi-part message in MIME format.",
                             "",
                             "--31415926",
                             "Content-Type: text/plain; charset=\"us-ascii\"",
                             "Content-Transfer-Encoding: 7bit",
                             "",
                             "L1",
                             "L2"};

Lines Base64Part(const std::string& name, const std::string& type, const std::string& bytes)
{
    return Join({{"--31415926", "Content-Type: " + type + "; name=\"" + name + "\"",
                  "Content-Transfer-Encoding: base64",
                  "Content-Disposition: attachment; filename=\"" + name + "\"", ""},
                 Base64Of(bytes),
                 {""}});
}

// ---- the two transcripts ----------------------------------------------------------

TEST_F(ComposeTest, MimeMessageWithOneBinaryFile)
{
    using namespace std::string_literals;
    const std::string bytes = "\x00\x01\x02 binary \xff\xfe data, sixty and more bytes so that it takes two lines of base64\n"s;
    ASSERT_GT(bytes.size(), 57u);
    Smtp->SetAttachments(TStrings{File("data.bin", bytes)});
    ExpectMessage(Join({Headers, MultipartHead, {""}, Base64Part("data.bin", "application/octet-stream", bytes),
                        {"--31415926--"}}));
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "All Done.");
}

TEST_F(ComposeTest, UUMessageWithOneFile)
{
    const std::string bytes(200, '\x7f');
    Smtp->SetEncoding(etUU);
    Smtp->SetAttachments(TStrings{File("Photo.PNG", bytes)});
    ExpectMessage(Join({Headers, {"X-Encoding:      UUENCODE", "", "L1", "L2", "", "begin 600 photo.png"},
                        Stuffed(UUOf(bytes)), {"`", "end"}}));
}

// ---- other layouts ---------------------------------------------------------------------

TEST_F(ComposeTest, TwoFilesInMime)
{
    Smtp->SetAttachments(TStrings{File("a.zip", "first"), File("b.zip", "second")});
    ExpectMessage(Join({Headers, MultipartHead, {""}, Base64Part("a.zip", "application/zip", "first"), {""},
                        Base64Part("b.zip", "application/zip", "second"), {"--31415926--"}}));
}

TEST_F(ComposeTest, TwoFilesInUU)
{
    Smtp->SetEncoding(etUU);
    Smtp->SetAttachments(TStrings{File("A.bin", "first"), File("b.bin", "second")});
    ExpectMessage(Join({Headers, {"X-Encoding:      UUENCODE", "", "L1", "L2", "", "begin 600 a.bin"},
                        Stuffed(UUOf("first")), {"`", "end", "", "", "begin 600 b.bin"}, Stuffed(UUOf("second")),
                        {"`", "end"}}));
}

TEST_F(ComposeTest, MimeWithoutFilesIsOneTextPart)
{
    ExpectMessage(Join({Headers,
                        {"Mime-Version: 1.0", "Content-Type: text/plain; charset=\"us-ascii\"",
                         "Content-Transfer-Encoding: 7bit", "", "L1", "L2"}}));
}

TEST_F(ComposeTest, UUWithoutFilesHasNoEncodingHeader)
{
    Smtp->SetEncoding(etUU);
    ExpectMessage(Join({Headers, {"", "L1", "L2"}}));
}

TEST_F(ComposeTest, TextFileIsQuotedPrintableWithoutDisposition)
{
    SetContentTypeTable(std::string_view("TEXT/Plain txt\n"));
    const std::string text = "caf\xe9 = cost\r\n.hidden line\r\nend";
    Smtp->SetAttachments(TStrings{File("notes.txt", text)});
    const auto lines = Run(Dialogue({}, 1, true));
    SetContentTypeTable(std::string_view(ContentTypes));
    const Lines expected = Join({Headers, MultipartHead, {""},
                                 {"--31415926", "Content-Type: TEXT/Plain; name=\"notes.txt\"",
                                  "Content-Transfer-Encoding: quoted-printable", ""},
                                 Stuffed(QPOf(text)), {"", "--31415926--"}});
    ASSERT_GE(lines.size(), 4u + expected.size());
    EXPECT_EQ(Lines(lines.begin() + 4, lines.begin() + 4 + long(expected.size())), expected);
    EXPECT_EQ(QPOf(text)[1], ".hidden line");   // so the transparency dot was needed
}

TEST_F(ComposeTest, TextPartBeforeAnotherBlockEndsWithoutItsEmptyLine)
{
    // The CR LF before a boundary belongs to the boundary: a second empty
    // line after a quoted-printable part would add a line to the text.
    SetContentTypeTable(std::string_view("text/plain txt\napplication/zip zip\n"));
    const std::string text = "first line\nlast line\n";
    Smtp->SetAttachments(TStrings{File("a.txt", text), File("b.zip", "zz"), File("c.txt", text)});
    const auto lines = Run(Dialogue({}, 1, true));
    SetContentTypeTable(std::string_view(ContentTypes));
    const Lines textHead = {"Content-Type: text/plain; name=\"a.txt\"", "Content-Transfer-Encoding: quoted-printable", ""};
    const Lines expected = Join({Headers, MultipartHead, {"", "--31415926"}, textHead, Stuffed(QPOf(text)),
                                 {""}, Base64Part("b.zip", "application/zip", "zz"),
                                 {"", "--31415926", "Content-Type: text/plain; name=\"c.txt\"",
                                  "Content-Transfer-Encoding: quoted-printable", ""},
                                 Stuffed(QPOf(text)), {"", "--31415926--"}});
    ASSERT_GE(lines.size(), 4u + expected.size());
    EXPECT_EQ(Lines(lines.begin() + 4, lines.begin() + 4 + long(expected.size())), expected);
}

TEST_F(ComposeTest, UUFileOfWholeBlocksEndsAtTheEncodersZeroLengthLine)
{
    // uudecode takes the first zero-length line as the end of the data and
    // wants "end" right after it.
    Smtp->SetEncoding(etUU);
    for (const std::size_t size : {std::size_t(0), std::size_t(45), std::size_t(90)}) {
        SCOPED_TRACE(size);
        const std::string bytes(size, 'A');
        Smtp->SetAttachments(TStrings{File("whole.bin", bytes)});
        const Lines encoded = UUOf(bytes);
        ASSERT_EQ(encoded.back().front(), '`');
        ExpectMessage(Join({Headers, {"X-Encoding:      UUENCODE", "", "L1", "L2", "", "begin 600 whole.bin"},
                            Stuffed(encoded), {"end"}}));
    }
}

TEST_F(ComposeTest, PathInAttachmentsNamesTheFileOnly)
{
    const std::string path = File("Report.Final.zip", "zz");
    Smtp->SetAttachments(TStrings{path});
    ExpectMessage(Join({Headers, MultipartHead, {""}, Base64Part("Report.Final.zip", "application/zip", "zz"),
                        {"--31415926--"}}));
}

TEST_F(ComposeTest, BackslashAndColonAreOrdinaryCharactersOfAName)
{
    const std::string path = File("c:\\dir\\x.bin", "q");
    Smtp->SetEncoding(etUU);
    Smtp->SetAttachments(TStrings{path});
    const auto lines = Run(Dialogue(Join({Headers, {"X-Encoding:      UUENCODE", "", "L1", "L2", "",
                                                    "begin 600 c:\\dir\\x.bin"},
                                          Stuffed(UUOf("q")), {"`", "end"}})));
    EXPECT_NE(std::find(lines.begin(), lines.end(), "begin 600 c:\\dir\\x.bin"), lines.end());
}

TEST_F(ComposeTest, UnreadableFileSendsTheNoteWithoutAttachments)
{
    Smtp->SetAttachments(TStrings{File("one.zip", "1"), Dir.filePath("missing.zip").toStdString(),
                                  File("three.zip", "3")});
    ExpectMessage(Join({Headers,
                        {"Mime-Version: 1.0", "Content-Type: text/plain; charset=\"us-ascii\"",
                         "Content-Transfer-Encoding: 7bit", "", "L1", "L2", "",
                         "**3 file(s) were attached to this",
                         "**message.  They could not be sent due to error during encoding"}}));
    EXPECT_TRUE(Smtp->TransferFailed());
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Kind, TMsgKind::Warning);
    EXPECT_EQ(Boxes[0].Text, "Transfer not completed.");
    EXPECT_TRUE(Smtp->EncodedAttachments().empty());
}

TEST_F(ComposeTest, OverlongTextLineInATextFileSendsTheNote)
{
    Smtp->SetEncoding(etUU);
    Smtp->SetEncoding(etMIME);
    Smtp->SetAttachments(TStrings{File("long.txt", std::string(TQuotedPrintable::MaxLineLength + 1, 'a'))});
    ExpectMessage(Join({Headers,
                        {"Mime-Version: 1.0", "Content-Type: text/plain; charset=\"us-ascii\"",
                         "Content-Transfer-Encoding: 7bit", "", "L1", "L2", "",
                         "**1 file(s) were attached to this",
                         "**message.  They could not be sent due to error during encoding"}}));
    EXPECT_TRUE(Smtp->TransferFailed());
}

TEST_F(ComposeTest, IsoTextIsTheSameQuotedPrintableThreeTimes)
{
    Smtp->SetCharSet(csISO8859);
    Smtp->SetBody(TStrings{"Gr\xfc\xdf" "e", "a=b"});
    const Lines message = {"From:     Sender Name<sender@example.org>", "To:       <rcpt@example.net>",
                           "Subject:  Files", "Mime-Version: 1.0",
                           "Content-Type: text/plain; charset=\"iso-8859-1\"",
                           "Content-Transfer-Encoding: quoted-printable", "", "Gr=FC=DFe", "a=3Db"};
    ExpectMessage(message, 3);
    EXPECT_EQ(Smtp->Body().ToVector(), (Lines{"Gr\xfc\xdf" "e", "a=b"}));
}

TEST_F(ComposeTest, DotLinesGetOneMoreDot)
{
    Smtp->SetBody(TStrings{".", "..two", ".x", "x."});
    ExpectMessage(Join({Headers,
                        {"Mime-Version: 1.0", "Content-Type: text/plain; charset=\"us-ascii\"",
                         "Content-Transfer-Encoding: 7bit", "", "..", "...two", "..x", "x."}}));
}

struct HeaderCase {
    const char* Name;
    bool Receipt;
    TPriority Priority;
    const char* Subject;
    Lines Expected;
};
class HeaderLinesTest : public ComposeTest, public ::testing::WithParamInterface<HeaderCase> {};

TEST_P(HeaderLinesTest, FollowTheOrder)
{
    Smtp->SetEncoding(etUU);
    Smtp->SetReturnReceipt(GetParam().Receipt);
    Smtp->SetPriority(GetParam().Priority);
    Smtp->SetSubject(GetParam().Subject);
    ExpectMessage(Join({GetParam().Expected, {"", "L1", "L2"}}));
}
INSTANTIATE_TEST_SUITE_P(
    Cases, HeaderLinesTest,
    ::testing::Values(
        HeaderCase{"ReceiptHigh", true, ptHigh, "S",
                   {"From:     Sender Name<sender@example.org>", "To:       <rcpt@example.net>",
                    "Return-Receipt-To: <sender@example.org>", "X-Priority: 1", "Subject:  S"}},
        HeaderCase{"Low", false, ptLow, "S",
                   {"From:     Sender Name<sender@example.org>", "To:       <rcpt@example.net>", "X-Priority: 5",
                    "Subject:  S"}},
        HeaderCase{"EmptySubject", false, ptNormal, "",
                   {"From:     Sender Name<sender@example.org>", "To:       <rcpt@example.net>"}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(ComposeTest, ThreeCopiesContinueWithTenBlanks)
{
    Smtp->SetEncoding(etUU);
    Smtp->SetCC(TStrings{"a@x.test|A", "b@x.test", "c@x.test|C C"});
    Run(Dialogue({}, 1, true, {"a@x.test", "b@x.test", "c@x.test"}));
    const Lines expected = {"CC:       A<a@x.test>,", "          <b@x.test>,", "          C C<c@x.test>"};
    const auto& got = Server->Received();
    const auto to = std::find(got.begin(), got.end(), "To:       <rcpt@example.net>");
    ASSERT_NE(to, got.end());
    EXPECT_EQ(Lines(to + 1, to + 4), expected);
    // The copies also went through RCPT TO, in order, after the recipient.
    EXPECT_EQ(Lines(got.begin() + 2, got.begin() + 6),
              (Lines{"RCPT TO:<rcpt@example.net>", "RCPT TO:<a@x.test>", "RCPT TO:<b@x.test>", "RCPT TO:<c@x.test>"}));
}

TEST_F(ComposeTest, UUEncodingForcesUSASCII)
{
    Smtp->SetCharSet(csISO8859);
    Smtp->SetEncoding(etUU);
    Smtp->SetBody(TStrings{"caf\xe9"});
    ExpectMessage(Join({Headers, {"", "caf\xe9"}}));
}

// ---- mended header cases ----------------------------------------------------------------

TEST_F(ComposeTest, LineBreaksInHeaderValuesBecomeBlanks)
{
    Smtp->SetFrom("sender@example.org|Evil\r\nBcc: x@y.test");
    Smtp->SetRecipient("rcpt@example.net|Two\nLines");
    Smtp->SetSubject("Hi\r\nX-Injected: yes");
    Smtp->SetEncoding(etUU);
    const std::string path = File("bad\r\nname.bin", "x");
    Smtp->SetAttachments(TStrings{path});
    ExpectMessage(Join({{"From:     Evil  Bcc: x@y.test<sender@example.org>", "To:       Two Lines<rcpt@example.net>",
                         "Subject:  Hi  X-Injected: yes", "X-Encoding:      UUENCODE", "", "L1", "L2", "",
                         "begin 600 bad  name.bin"},
                        Stuffed(UUOf("x")), {"`", "end"}}));
}

TEST_F(ComposeTest, QuotesAndBackslashesInFileNamesAreEscaped)
{
    const std::string path = File("say \"hi\" \\ now.zip", "q");
    Smtp->SetAttachments(TStrings{path});
    ExpectMessage(Join({Headers, MultipartHead, {""},
                        Base64Part("say \\\"hi\\\" \\\\ now.zip", "application/zip", "q"), {"--31415926--"}}));
}

TEST_F(ComposeTest, LineBreakInAFileNameOfAMimePartBecomesABlank)
{
    const std::string path = File("two\nlines.zip", "q");
    Smtp->SetAttachments(TStrings{path});
    ExpectMessage(Join({Headers, MultipartHead, {""}, Base64Part("two lines.zip", "application/zip", "q"),
                        {"--31415926--"}}));
}

// ---- status, progress, cancel -----------------------------------------------------------

TEST_F(ComposeTest, StatusAndProgressOfAMessageWithAFile)
{
    const std::string bytes(57 * 10, 'k');   // ten full base64 lines and an empty rest line
    Smtp->SetAttachments(TStrings{File("k.zip", bytes)});
    Run(Dialogue(Join({Headers, MultipartHead, {""}, Base64Part("k.zip", "application/zip", bytes),
                       {"--31415926--"}})));
    EXPECT_EQ(Statuses, (std::vector<TMailStatus>{msConnecting, msLoggingIn, msEncoding, msSendingCommands,
                                                  msSendingHeaders, msSendingBody, msSendingAttachments,
                                                  msLoggingOut, msIdle}));
    std::vector<int> attachment;
    for (const auto& [status, percent] : Progress)
        if (status == msSendingAttachments)
            attachment.push_back(percent);
    // Block: 5 head lines, 11 base64 lines, empty line, closing boundary = 18.
    ASSERT_EQ(attachment.size(), 19u);   // 18 lines, then 0 after the terminator's reply
    EXPECT_EQ(attachment.front(), 0);
    EXPECT_EQ(attachment[17], 100);
    EXPECT_EQ(attachment[1], LineProgress(1, 18));
    EXPECT_EQ(attachment.back(), 0);
    bool sawEncodingProgress = false;
    for (const auto& [status, percent] : Progress)
        sawEncodingProgress |= status == msEncoding && percent == 100;
    EXPECT_TRUE(sawEncodingProgress);
}

TEST_F(ComposeTest, CancelWhileEncodingSendsNothingOfTheMessage)
{
    Smtp->SetAttachments(TStrings{File("big.zip", std::string(1 << 20, 'z'))});
    CancelOnProgress = true;
    Server = std::make_unique<TFakeSMTPServer>(std::vector<std::string>{"S: 220 fake.test", "C: HELO example.org",
                                                                        "S: 250 ok"});
    Smtp->SetServer(Server->Address());
    Smtp->Open();
    Smtp->Login();
    EXPECT_THROW(Smtp->Transmit(), ECanceledError);
    EXPECT_EQ(Smtp->Status(), msCanceled);
    EXPECT_TRUE(Smtp->EncodedAttachments().empty());
    Smtp->Close();
    PumpUntil([&] { return Server->ClientClosed(); });
    EXPECT_EQ(Server->Received(), (Lines{"HELO example.org"}));
}

TEST_F(ComposeTest, CancelWhileSendingAnAttachmentClosesAtOnce)
{
    Smtp->SetAttachments(TStrings{File("big.zip", RandomBytes(3 << 20, 3))});
    Smtp->OnProgress = [this](QObject*) {
        if (Smtp->Status() == msSendingAttachments && Smtp->Progress() == 50)
            Smtp->Cancel();
    };
    Server = std::make_unique<TFakeSMTPServer>(Dialogue({}, 1, true));
    Smtp->SetServer(Server->Address());
    Smtp->Open();
    Smtp->Login();
    EXPECT_THROW(Smtp->Transmit(), ECanceledError);
    EXPECT_EQ(Smtp->Status(), msCanceled);
    EXPECT_FALSE(Smtp->Connected());
    PumpUntil([&] { return Server->ClientClosed(); });
    // The message never ended: no terminator reached the server.
    EXPECT_EQ(std::count(Server->Received().begin(), Server->Received().end(), "."), 0);
}

TEST_F(ComposeTest, SendOfAnAttachmentTimesOutWhenTheServerStopsReading)
{
    Smtp->SetAttachments(TStrings{File("big.zip", RandomBytes(16 << 20, 4))});
    auto script = Dialogue({}, 1, true);
    const auto data = std::find(script.begin(), script.end(), "S: 354 go ahead");
    script.insert(data, "H:");
    Smtp->SetTimeOut(1);
    Server = std::make_unique<TFakeSMTPServer>(script);
    Smtp->SetServer(Server->Address());
    Smtp->Open();
    Smtp->Login();
    EXPECT_THROW(Smtp->Transmit(), ETimedOutError);
    EXPECT_FALSE(Smtp->Connected());
}

TEST_F(ComposeTest, OneMessagePerFileInOneSession)
{
    const auto a = File("a.zip", "A"), b = File("b.zip", "B");
    Smtp->SetAttachments(TStrings{a});
    auto script = Dialogue(Join({Headers, MultipartHead, {""}, Base64Part("a.zip", "application/zip", "A"),
                                 {"--31415926--"}}));
    // The second message replaces the first's block.
    const auto second = Dialogue(Join({Headers, MultipartHead, {""}, Base64Part("b.zip", "application/zip", "B"),
                                       {"--31415926--"}}));
    script.erase(script.end() - 2, script.end());
    script.insert(script.end(), second.begin() + 3, second.end());
    Server = std::make_unique<TFakeSMTPServer>(script);
    Smtp->SetServer(Server->Address());
    Smtp->Open();
    Smtp->Login();
    Smtp->Transmit();
    Smtp->SetAttachments(TStrings{b});
    Smtp->Transmit();
    EXPECT_EQ(Smtp->EncodedAttachments().size(), 1u);
    Smtp->Logout();
    Smtp->Close();
    const auto expected = TFakeSMTPServer::ClientLines(script);
    PumpUntil([&] { return Server->Received().size() >= expected.size(); });
    EXPECT_EQ(Server->Received(), expected);
}

// ---- large files: encoded slice by slice, sent as if encoded whole ----------

// The input bytes per encoding step of the component (4 MiB), rounded down
// to whole base64 lines (57 bytes) and UU blocks (45 bytes).
constexpr std::size_t Base64Slice = 4 * 1024 * 1024 / 57 * 57;
constexpr std::size_t UUSlice = 4 * 1024 * 1024 / 45 * 45;


struct LargeCase {
    const char* Name;
    TEncoding Encoding;
    std::size_t Size;
};
class LargeFileTest : public ComposeTest, public ::testing::WithParamInterface<LargeCase> {};

TEST_P(LargeFileTest, LinesAreThoseOfTheWholeFile)
{
    const auto& c = GetParam();
    const std::string bytes = RandomBytes(c.Size, unsigned(c.Size));
    Smtp->SetEncoding(c.Encoding);
    Smtp->SetAttachments(TStrings{File("large.bin", bytes)});
    const Lines got = Run(Dialogue({}, 1, true));
    const std::string first = c.Encoding == etMIME ? "Content-Disposition: attachment; filename=\"large.bin\""
                                                   : "begin 600 large.bin";
    const auto at = std::find(got.begin(), got.end(), first);
    ASSERT_NE(at, got.end());
    const auto begin = at + (c.Encoding == etMIME ? 2 : 1);
    const Lines expected = Stuffed(c.Encoding == etMIME ? Base64Of(bytes) : UUOf(bytes));
    ASSERT_GE(got.end() - begin, long(expected.size()));
    const Lines sent(begin, begin + long(expected.size()));
    EXPECT_EQ(sent.size(), expected.size());
    EXPECT_TRUE(sent == expected);
    const bool wholeBlocks = c.Encoding == etUU && c.Size % 45 == 0;
    EXPECT_EQ(*(begin + long(expected.size())), c.Encoding == etMIME ? "" : wholeBlocks ? "end" : "`");
}
INSTANTIATE_TEST_SUITE_P(
    Slices, LargeFileTest,
    ::testing::Values(LargeCase{"Base64OneSlice", etMIME, Base64Slice},
                      LargeCase{"Base64SliceAndOne", etMIME, Base64Slice + 1},
                      LargeCase{"Base64SliceAndALine", etMIME, Base64Slice + 57},
                      LargeCase{"Base64TwoSlicesAndSome", etMIME, 2 * Base64Slice + 1000},
                      LargeCase{"UUOneSlice", etUU, UUSlice},
                      LargeCase{"UUSliceAndOne", etUU, UUSlice + 1},
                      LargeCase{"UUSliceAndABlockLessOne", etUU, UUSlice + 44},
                      LargeCase{"UUSliceAndABlock", etUU, UUSlice + 45},
                      LargeCase{"UUTwoSlices", etUU, 2 * UUSlice}),
    [](const auto& info) { return std::string(info.param.Name); });

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
    Smtp->SetAttachments(TStrings{File("large.txt", text)});
    const Lines got = Run(Dialogue({}, 1, true));
    const auto at = std::find(got.begin(), got.end(), "Content-Transfer-Encoding: quoted-printable");
    ASSERT_NE(at, got.end());
    const Lines expected = Stuffed(QPOf(text));
    ASSERT_GE(got.end() - (at + 2), long(expected.size()));
    EXPECT_TRUE(Lines(at + 2, at + 2 + long(expected.size())) == expected);
    EXPECT_EQ(*(at + 2 + long(expected.size())), "");
}

TEST_F(ComposeTest, EmptyTextFileIsOneSoftBreak)
{
    Smtp->SetAttachments(TStrings{File("empty.txt", "")});
    ExpectMessage(Join({Headers, MultipartHead, {""},
                        {"--31415926", "Content-Type: text/plain; name=\"empty.txt\"",
                         "Content-Transfer-Encoding: quoted-printable", ""},
                        QPOf(""), {"", "--31415926--"}}));
}

TEST(Boundary, IsMadeOnceAndKeptForEveryMessage)
{
    TSMTP smtp;
    const std::string boundary = smtp.Boundary();
    ASSERT_EQ(boundary.size(), BoundaryLength);
    EXPECT_EQ(boundary.find_first_not_of("012345678"), std::string::npos);
    EXPECT_EQ(smtp.Boundary(), boundary);
}

} // namespace
