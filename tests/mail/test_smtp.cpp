// What a transcript cannot show: the session log file, Cancel from a handler
// in each phase, every wait ended by its TimeOut or a Cancel, large files sent
// slice by slice, the temporary file, refused addresses and host look-ups.
// Dialogues and messages are in tests/data/smtp/ and tests/data/compose/.
#include "mime.h"
#include "smtp_session.h"
#include "spool.h"
#include "test_data.h"
#include "uucode.h"

#include <QDir>
#include <QFile>
#include <QTimer>

#include <arpa/inet.h>

#include <chrono>
#include <optional>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// One message to a server that takes every command (no check of them).
const Lines Willing = {"S: 220 fake.test", "C:", "S: 250 ok", "C:", "S: 250 ok", "C:", "S: 250 ok", "C:",
                       "S: 354 go", "D:", "S: 250 ok", "C:", "S: 221 bye"};
Lines Until(std::size_t steps, const Lines& more = {})   // the first steps of Willing, then `more`
{
    Lines script(Willing.begin(), Willing.begin() + long(steps));
    script.insert(script.end(), more.begin(), more.end());
    return script;
}

struct SMTPTest : SMTPSessionTest {
    void SetUp() override
    {
        SMTPSessionTest::SetUp();
        Smtp->SetFrom("me@example.org|Me");
        Smtp->SetRecipient("you@example.net");
        Smtp->SetSubject("Hello");
        Smtp->SetBody(TStrings{"one", "two"});
    }
};

// The temporary file lives while its message is sent. The log is written,
// CR LF, when the component goes, and only when named.
TEST_F(SMTPTest, SpoolWhileSendingAndLogFileWhenTheComponentGoes)
{
    std::vector<int> spoolFiles;   // links of this process's open files into the temporary folder
    Smtp->OnStatusChange = [&](QObject*) {
        const auto fds = QDir("/proc/self/fd").entryInfoList(QDir::Files | QDir::System);
        if (Smtp->Status() == msSendingAttachments || Smtp->Status() == msLoggingOut)
            spoolFiles.push_back(int(std::ranges::count_if(fds, [](const QFileInfo& fd) {
                return fd.symLinkTarget().startsWith(QString::fromStdString(TSpool::Folder()) + "/#"); })));
    };
    Smtp->SetAttachments(TStrings{TestFile("k.zip", "k")});
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    Serve(Willing);
    Smtp->SetLogFileName("session.log");
    EXPECT_EQ(Session(), "ok");
    EXPECT_EQ(spoolFiles, (std::vector{1, 0}));
    const std::string log = Smtp->SessionLog().Text();
    EXPECT_FALSE(QFile::exists("session.log"));
    Smtp.reset();
    { TSMTP unnamed; }
    EXPECT_EQ(QDir().entryList(QDir::Files), QStringList{"session.log"});
    EXPECT_EQ(ReadFile("session.log"), log);
    EXPECT_TRUE(log.starts_with("220 fake.test\r\nEHLO example.org\r\n") && log.ends_with("QUIT\r\n221 bye\r\n"));
}

// ---- Cancel from the status handler, in each phase -------------------------

struct CancelCase { const char* Name; TMailStatus At; std::size_t LinesSent; };   // lines the server gets
class CancelFromHandlerTest : public SMTPTest, public ::testing::WithParamInterface<CancelCase> {};

TEST_P(CancelFromHandlerTest, StopsTheSessionInThatPhase)
{
    Serve(Willing);
    Smtp->OnStatusChange = [this](QObject*) {
        Statuses.push_back(Smtp->Status());
        if (Smtp->Status() == GetParam().At)
            Smtp->Cancel();
    };
    EXPECT_EQ(Session(), "ECanceledError: Operation has been canceled");
    EXPECT_EQ(Statuses.back(), msCanceled);
    EXPECT_EQ(Progress.back(), 0);
    EXPECT_TRUE(Boxes.empty());
    PumpUntil([&] { return Server->ClientClosed(); });
    EXPECT_EQ(Server->Received().size(), GetParam().LinesSent);
    // Every later wait of the session ends at once.
    const auto start = Clock::now();
    EXPECT_THROW(Smtp->Logout(), ECanceledError);
    EXPECT_LT(Clock::now() - start, milliseconds(500));
}
// The first send of a line goes out even after a Cancel.
INSTANTIATE_TEST_SUITE_P(
    Phases, CancelFromHandlerTest,
    ::testing::Values(CancelCase{"LoggingIn", msLoggingIn, 0}, CancelCase{"SendingCommands", msSendingCommands, 2},
                      CancelCase{"SendingHeaders", msSendingHeaders, 5}, CancelCase{"SendingBody", msSendingBody, 12},
                      CancelCase{"LoggingOut", msLoggingOut, 17}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- every wait, ended by its TimeOut and by a Cancel from a timer ---------

// Phase is the status while the wait runs (msConnecting: a connect that never
// completes), TransferFailed the flag after the time-out.
struct WaitCase {
    const char* Name; Lines Steps; void (*Setup)(TSMTP&); int TimeOut; TMailStatus Phase; bool TransferFailed; };
enum TEnd { Timeout, Canceled };
class WaitTest : public SMTPTest, public ::testing::WithParamInterface<std::tuple<WaitCase, TEnd>> {};

TEST_P(WaitTest, EndsAtTheTimeOutOrAtOnceOnCancel)
{
    const auto& [c, end] = GetParam();
    if (c.Phase != msConnecting)
        Serve(c.Steps);
    else if (PendingPort())
        Smtp->SetServer("127.0.0.1:" + std::to_string(PendingPort()));
    else
        GTEST_SKIP() << "the kernel accepted every connection; no pending connect";
    if (c.Setup)
        c.Setup(*Smtp);
    Smtp->SetTimeOut(end == Timeout ? c.TimeOut : 20);
    // Time and the Cancel count from the moment the wait's phase begins, so
    // a slow build that takes long to compose the message stays exact.
    std::optional<Clock::time_point> entered;
    Smtp->OnStatusChange = [this, phase = c.Phase, cancel = end == Canceled, &entered](QObject*) {
        Statuses.push_back(Smtp->Status());
        if (Smtp->Status() == phase && !entered && (entered = Clock::now(), cancel))
            QTimer::singleShot(200, Smtp.get(), [this] { Smtp->Cancel(); });
    };
    const std::string outcome = Session();
    ASSERT_TRUE(entered.has_value());
    const auto took = Clock::now() - *entered;
    if (end == Timeout) {
        EXPECT_EQ(outcome, "ETimedOutError: Operation timed out");
        EXPECT_GE(took, milliseconds(c.TimeOut * 1000 - 100));
        EXPECT_LT(took, milliseconds(c.TimeOut * 1000 + 1500));
        EXPECT_EQ(Statuses.back(), c.Phase);
        EXPECT_EQ(Smtp->TransferFailed(), c.TransferFailed);
        return;
    }
    EXPECT_EQ(outcome, "ECanceledError: Operation has been canceled");
    EXPECT_LT(took, milliseconds(3000));
    ASSERT_GE(Statuses.size(), 2u);
    EXPECT_EQ(std::vector(Statuses.end() - 2, Statuses.end()), (std::vector{c.Phase, msCanceled}));
    EXPECT_FALSE(Smtp->TransferFailed());
}
const Lines UntilData = Until(8, {"H:", "S: 354 go"});   // then stops reading
const WaitCase Waits[] = {
    {"Connect", {}, nullptr, 1, msConnecting, false}, {"Greeting", {}, nullptr, 1, msLoggingIn, false},
    {"Reply", Until(4), nullptr, 2, msSendingCommands, false},
    {"ReplyCutShort", Until(2, {"R: 250-more"}), nullptr, 1, msLoggingIn, true},   // a reply begun, never ended
    // Far more than the socket buffers of both ends hold.
    {"SendText", UntilData, [](TSMTP& smtp) { for (int i = 0; i < 400000; ++i) smtp.Body().Add(std::string(76, 'b')); },
     1, msSendingBody, false},
    {"SendAttachment", UntilData, [](TSMTP& s) { s.Attachments().Add(TestFile("big.zip", std::string(1 << 24, 'z'))); },
     1, msSendingAttachments, false}};
INSTANTIATE_TEST_SUITE_P(
    Waits, WaitTest, ::testing::Combine(::testing::ValuesIn(Waits), ::testing::Values(Timeout, Canceled)),
    [](const auto& info) {
        return std::get<0>(info.param).Name + std::string(std::get<1>(info.param) == Timeout ? "TimesOut" : "Canceled");
    });

// ---- large files: encoded slice by slice, sent as if encoded whole ----------

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

std::string Noise(std::size_t size)   // bytes that are no text
{
    std::string bytes(size, '\0');
    for (unsigned x = unsigned(size) * 2654435761u + 1; auto& c : bytes)
        c = char((x = x * 1103515245u + 12345u) >> 23);
    return bytes;
}

// The component encodes 4 MiB of input per step, rounded down to whole
// base64 lines (57 bytes) and UU blocks (45 bytes).
constexpr std::size_t Base64Slice = 4 * 1024 * 1024 / 57 * 57, UUSlice = 4 * 1024 * 1024 / 45 * 45;

struct LargeCase {
    const char* Name; TEncoding Encoding; std::size_t Size; bool Text = false; const char* Path = nullptr; };
struct LargeFileTest : SMTPTest, ::testing::WithParamInterface<LargeCase> {
    static void SetUpTestSuite() { SetContentTypeTable(std::string_view("text/plain txt\n")); }
};

// Over two slices of text, and a CR LF that straddles the first slice's
// end (one kind of line break, or the file would go base64).
std::string LargeText()
{
    std::string text;
    for (unsigned x = 7; text.size() < 9 * 1024 * 1024;) {
        x = x * 1103515245u + 12345u;
        text += std::string((x >> 16) % 120, char('a' + (x >> 8) % 26)) + ((x >> 4) % 5 == 0 ? "=\t. \r\n" : " \r\n");
    }
    const std::size_t slice = 4 * 1024 * 1024, pair = text.find("\r\n", slice - 200);
    return text.insert(pair, slice - 1 - pair, 'a');
}

TEST_P(LargeFileTest, LinesAreThoseOfTheWholeFile)
{
    const auto& c = GetParam();
    // Noise is no text, and one line of c.Size letters none that QP takes.
    const std::string bytes = c.Path ? ReadFile(c.Path) : c.Text ? LargeText()
                              : c.Size < (1 << 20) ? std::string(c.Size, 'a') : Noise(c.Size);
    Smtp->SetEncoding(c.Encoding);
    Smtp->SetAttachments(TStrings{c.Path ? c.Path : TestFile("large.txt", bytes)});
    Serve(Willing);
    EXPECT_EQ(Session(), "ok");
    PumpUntil([&] { return Server->ClientClosed(); });
    const Lines want = c.Text ? Encoded<TQuotedPrintable>(bytes)
                              : c.Encoding == etMIME ? Encoded<TBase64>(bytes) : Encoded<TUUCode>(bytes);
    EXPECT_FALSE(std::ranges::search(Server->Received(), want).empty()) << "the file encoded whole is not sent";
}
INSTANTIATE_TEST_SUITE_P(
    Slices, LargeFileTest,
    ::testing::Values(LargeCase{"Base64OneSlice", etMIME, Base64Slice},
                      LargeCase{"Base64SliceAndOne", etMIME, Base64Slice + 1},
                      LargeCase{"Base64SliceAndALine", etMIME, Base64Slice + 57},
                      LargeCase{"Base64TwoSlicesAndMore", etMIME, 2 * Base64Slice + 1000},
                      LargeCase{"UUOneSlice", etUU, UUSlice}, LargeCase{"UUSliceAndOne", etUU, UUSlice + 1},
                      LargeCase{"UUSliceAndABlock", etUU, UUSlice + 45}, LargeCase{"UUTwoSlices", etUU, 2 * UUSlice},
                      LargeCase{"QuotedPrintableText", etMIME, 0, true},
                      LargeCase{"OverlongTextLineGoesBase64", etMIME, TQuotedPrintable::MaxLineLength + 1},
                      // A file that reports size 0, as /proc files do, is read to its end.
                      LargeCase{"ProcFileOfSizeZero", etMIME, 0, false, "/proc/version"}),
    [](const auto& info) { return std::string(info.param.Name); });

// A Cancel from the progress handler while encoding sends nothing of the
// message; halfway through the file it closes at once, the message unended.
class CancelWhileEncodingTest : public SMTPTest, public ::testing::WithParamInterface<TMailStatus> {};

TEST_P(CancelWhileEncodingTest, LeavesTheMessageUnfinished)
{
    const TMailStatus at = GetParam();
    Smtp->SetAttachments(TStrings{TestFile("big.zip", Noise(3 << 20))});
    Smtp->OnProgress = [this, at, once = true](QObject*) mutable {
        // (A Cancel reports progress 0 itself, still in the same status.)
        if (Smtp->Status() == at && Smtp->Progress() >= (at == msEncoding ? 0 : 50) && std::exchange(once, false))
            Smtp->Cancel();
    };
    Serve(Until(9));
    EXPECT_EQ(Session(), "ECanceledError: Operation has been canceled");
    EXPECT_EQ(Smtp->Status(), msCanceled);
    PumpUntil([&] { return Server->ClientClosed(); });
    EXPECT_EQ(std::count(Server->Received().begin(), Server->Received().end(), "."), 0);
    if (at == msEncoding) {
        EXPECT_TRUE(Smtp->EncodedAttachments().empty());
        EXPECT_EQ(Server->Received(), Lines{"EHLO example.org"});
    }
}
INSTANTIATE_TEST_SUITE_P(Phases, CancelWhileEncodingTest, ::testing::Values(msEncoding, msSendingAttachments),
                         [](const auto& info) { return info.param == msEncoding ? "Encoding" : "SendingAttachments"; });

TEST_F(SMTPTest, TooLittleRoomForTheSpoolStopsBeforeConnecting)
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

// Addresses that would inject into the envelope are refused before it, the
// sender's before EHLO; CR, LF and NUL are shown as blanks.
TEST_F(SMTPTest, AddressesThatWouldInjectAreRefusedBeforeTheEnvelope)
{
    struct { char Field; std::string Address, Shown = {}; } const cases[] = {
        {'T', "bob@x> NOTIFY=NEVER"}, {'T', "<bob@x"}, {'T', "bo b@x"}, {'T', "bob\t@x"}, {'T', "bob\x7F@x"},
        {'T', std::string(250, 'b') + "@x.de"},
        {'T', "you@x.test\r\nRCPT TO:<evil@x.test>", "you@x.test  RCPT TO:<evil@x.test>"},
        {'C', "a@x.test\n|N", "a@x.test "}, {'B', std::string("b@x.test\0z", 10), "b@x.test z"},
        {'F', "me@example.org\r\nRSET", "me@example.org  RSET"}};
    for (const auto& c : cases) {
        Smtp->SetFrom(c.Field == 'F' ? c.Address : "me@example.org");
        Smtp->SetRecipient(c.Field == 'T' ? c.Address : "you@example.net");
        Smtp->SetCC(c.Field == 'C' ? TStrings{"ok@x.test", c.Address} : TStrings{"ok@x.test"});
        Smtp->SetBCC(c.Field == 'B' ? TStrings{c.Address} : TStrings{});
        Serve({"S: 220 fake.test", "C: EHLO example.org", "S: 250 ok"});
        EXPECT_EQ(Session(), "EMailError: Invalid address: " + (c.Shown.empty() ? c.Address : c.Shown));
        PumpUntil([&] { return Server->ClientClosed() || !Server->Connections(); });
        EXPECT_EQ(Server->Received(), c.Field == 'F' ? Lines{} : Lines{"EHLO example.org"});
    }
}

// ---- host, service and port ------------------------------------------------

// Looks up `service`; with `cancel`, cancels right after Open's Reset, so
// that the host look-up starts canceled.
struct TProbe : TSMTP {
    TProbe(const char* service, bool cancel) : FCancel(cancel) { FService = service; }
    void Reset() override { TSMTP::Reset(), FCancel ? Cancel() : void(); }
    bool FCancel;
};

// A look-up only for a name; the port from Server, Service or DefaultPort.
TEST(HostLookup, FindsTheAddressAndPortOrFailsClearly)
{
    const std::string notFound = "ESocketError: Host not found";
    struct { const char *Server, *Service; bool Cancel; int Lookups; std::uint16_t Port; std::string Outcome; }
    const cases[] = {{"127.0.0.1", "smtp", false, 0, 25, "ok"}, {"localhost:2525", "smtp", false, 1, 2525, "ok"},
                     {"127.0.0.1", "no-such-service-name", false, 0, 2626, "ok"},
                     {"no-such-host.invalid", "smtp", false, 1, 0, notFound},
                     {"localhost", "smtp", true, 1, 0, "ECanceledError: Operation has been canceled"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Server) + " " + c.Service);
        TProbe smtp(c.Service, c.Cancel);
        smtp.SetServer(c.Server);
        smtp.SetDefaultPort(2626);
        smtp.SetTimeOut(5);
        const std::string outcome = Outcome([&] { smtp.Open(); });
        // A resolver that cannot be reached: the clock ends the look-up.
        const bool unreachable = outcome == "ETimedOutError: Operation timed out" && c.Outcome == notFound;
        EXPECT_EQ(unreachable ? notFound : outcome, c.Outcome);
        EXPECT_EQ(smtp.HostLookupCount(), c.Lookups);
        if (c.Port) {
            EXPECT_EQ(std::pair(smtp.HostAddress(), smtp.Port()), std::pair(htonl(INADDR_LOOPBACK), c.Port));
        }
        smtp.Close();
    }
}

} // namespace
