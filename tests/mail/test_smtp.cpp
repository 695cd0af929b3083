// The SMTP dialogue against a scripted server: replies, failures, time-outs,
// Cancel in every phase, the session log and the status/progress events.
#include "smtp_session.h"

#include <QDir>
#include <QFile>
#include <QTimer>

#include <arpa/inet.h>

#include <chrono>
#include <optional>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const Lines Greeting = {"S: 220 fake.test ESMTP", "C: HELO example.org", "S: 250 fake.test"};
const Lines Quit = {"C: QUIT", "S: 221 bye"};
const Lines Envelope = {"C: MAIL FROM:<me@example.org>", "S: 250 ok", "C: RCPT TO:<you@example.net>", "S: 250 ok",
                        "C: DATA"};

// From "354" to the terminator's reply: the fixture's message under the
// header lines `fields`.
Lines Data(const Lines& fields, const std::string& domain = "example.org")
{
    Lines steps = {"S: 354 go ahead"};
    for (const auto& field : fields) {
        if (field.starts_with("Subject:"))
            steps.insert(steps.end(), {"C: " + FixedDate, "C: " + FixedMessageId(domain)});
        steps.push_back("C: " + field);
    }
    return Join({steps,
                 {"C: Mime-Version: 1.0", "C: Content-Type: text/plain; charset=\"us-ascii\"",
                  "C: Content-Transfer-Encoding: 7bit", "C: ", "C: first line", "C: ..a line with a dot", "C: ..",
                  "C: last line", "C: .", "S: 250 queued"}});
}

const Lines PlainMessage =
    Join({Envelope, Data({"From:     Me<me@example.org>", "To:       <you@example.net>", "Subject:  Hello"})});

// A session that the greeting opens and `helo` (with its reply) follows.
Lines Helo(const std::string& helo, const std::string& reply = "250 ok")
{
    return {"S: 220 fake.test", "C: " + helo, "S: " + reply};
}

class SMTPTest : public SMTPSessionTest {
public:
    void SetUp() override
    {
        SMTPSessionTest::SetUp();
        Smtp->SetFrom("me@example.org|Me");
        Smtp->SetRecipient("you@example.net");
        Smtp->SetSubject("Hello");
        Smtp->SetBody(TStrings{"first line", ".a line with a dot", ".", "last line"});
    }
};

// The session log holds commands, header lines and replies, no text line;
// it is written, CR LF, when the component goes, and only when named.
TEST_F(SMTPTest, PlainMessageWithItsLogStatusesAndProgress)
{
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    const Lines script = Join({Greeting, PlainMessage, Quit});
    Serve(script);
    Smtp->SetLogFileName("session.log");
    EXPECT_EQ(Session(), "ok");
    ExpectClientSent(script);
    EXPECT_FALSE(Smtp->TransferFailed());
    EXPECT_EQ(Boxes, Lines{"Information: All Done."});
    EXPECT_EQ(Statuses, (std::vector<TMailStatus>{msConnecting, msLoggingIn, msSendingCommands, msSendingHeaders,
                                                  msSendingBody, msLoggingOut, msIdle}));
    // Four text lines: 0, 33, 67, 100; then 0 after the terminator's reply
    // and 0 at the end of Logout.
    EXPECT_EQ(Progress, (std::vector<int>{0, 33, 67, 100, 0, 0}));
    const Lines log = {"220 fake.test ESMTP", "HELO example.org", "250 fake.test", "MAIL FROM:<me@example.org>",
                       "250 ok", "RCPT TO:<you@example.net>", "250 ok", "DATA", "354 go ahead",
                       "From:     Me<me@example.org>", "To:       <you@example.net>", FixedDate,
                       FixedMessageId("example.org"), "Subject:  Hello", "Mime-Version: 1.0", "Content-Type: text/plain; charset=\"us-ascii\"",
                       "Content-Transfer-Encoding: 7bit", "250 queued", "QUIT", "221 bye"};
    EXPECT_EQ(Smtp->SessionLog().ToVector(), log);
    EXPECT_FALSE(QFile::exists("session.log"));
    Smtp.reset();
    { TSMTP unnamed; }
    EXPECT_EQ(QDir().entryList(QDir::Files), QStringList{"session.log"});
    QFile file("session.log");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    std::string text;
    for (const auto& line : log)
        text += line + "\r\n";
    EXPECT_EQ(file.readAll().toStdString(), text);
}

// ---- one dialogue per case: what the client sends and how it ends ----------

struct DialogueCase {
    const char* Name;
    Lines Steps;
    std::function<void(TSMTP&)> Setup = nullptr;   // on top of the fixture's message
    bool Transmit = false;
    std::string Outcome = "ok";
    bool TransferFailed = false;
    const char* LogEnd = nullptr;        // the session log's last line
};
class DialogueTest : public SMTPTest, public ::testing::WithParamInterface<DialogueCase> {};

TEST_P(DialogueTest, SendsTheScriptedLinesAndEndsAsExpected)
{
    const auto& c = GetParam();
    Serve(c.Steps);
    if (c.Setup)
        c.Setup(*Smtp);
    EXPECT_EQ(Session(c.Transmit ? 1 : 0), c.Outcome);
    ExpectClientSent(c.Steps);
    EXPECT_EQ(Smtp->TransferFailed(), c.TransferFailed);
    const bool box = c.Outcome == "ok" && Smtp->ShowResult();
    EXPECT_EQ(Boxes, box ? Lines{"Information: All Done."} : Lines{});
    if (c.LogEnd) {
        EXPECT_EQ(Smtp->SessionLog().Last(), c.LogEnd);
    }
}

std::function<void(TSMTP&)> From(const std::string& from, bool useDomain = true)
{
    return [=](TSMTP& smtp) {
        smtp.SetFrom(from);
        smtp.SetUseDomainAddress(useDomain);
    };
}

const std::string Refused = "EMailError: ";
const std::string Invalid = "EMailError: Invalid address: ";
// "220-" + text + CR LF, then "220 ok" CR LF: exactly the 1024-byte buffer.
const std::string FullBuffer = "220-" + std::string(1024 - 4 - 2 - 8, 'y') + "\\r\\n220 ok\\r\\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, DialogueTest,
    ::testing::Values(
        DialogueCase{"ReplySplitJustAfterAContinuationLine",
                     Join({{"R: 220-fake.test first\\r\\n", "P: 100", "R: 220-second\\r\\n220 ", "P: 100",
                            "R: last\\r\\n", "C: HELO example.org", "S: 250 ok"}, Quit})},
        DialogueCase{"ReplyFillingTheBuffer", Join({{"R: " + FullBuffer, "C: HELO example.org", "S: 250 ok"}, Quit})},
        DialogueCase{"ReplyLongerThanTheBuffer", {"R: 220-" + std::string(1100, 'x')}, nullptr, false,
                     Refused + "Server reply is longer than 1024 bytes", true},
        DialogueCase{"Accepts354AfterAnyCommandAndNoBoxWithoutShowResult", Join({Helo("HELO example.org", "354 go"), Quit}),
                     [](TSMTP& smtp) { smtp.SetShowResult(false); }},
        DialogueCase{"Refuses334", Helo("HELO example.org", "334 VXNlcm5hbWU6"), nullptr, false,
                     Refused + " VXNlcm5hbWU6", true, "HELO example.org"},
        DialogueCase{"RefusedRecipientStaysOutOfTheLog",
                     Join({Greeting, {"C: MAIL FROM:<me@example.org>", "S: 250 ok", "C: RCPT TO:<you@example.net>",
                                      "S: 550 no such user here"}}),
                     nullptr, true, Refused + " no such user here", true, "RCPT TO:<you@example.net>"},
        DialogueCase{"HeloNamesTheSendersDomain", Join({Helo("HELO mail.example.org"), Quit}),
                     From("me@mail.example.org|Me Myself")},
        DialogueCase{"HeloWithoutAnAt", Join({Helo("HELO "), Quit}), From("nobody")},
        DialogueCase{"HeloAfterTheFirstAt", Join({Helo("HELO b@c"), Quit}), From("a@b@c")},
        DialogueCase{"HeloAloneWithoutUseDomainAddress", Join({Helo("HELO"), Quit}), From("me@example.org", false)},
        DialogueCase{"EmptySenderSendsNoMailFrom",
                     Join({Helo("HELO "), {"C: RCPT TO:<you@example.net>", "S: 250 ok", "C: DATA"},
                           Data({"From:     Only A Name<>", "To:       <you@example.net>", "Subject:  Hello"}, "localhost.invalid"),
                           Quit}),
                     From("|Only A Name"), true},
        // Without a status handler every status change pumps the event
        // loop instead, and the session completes all the same.
        DialogueCase{"RecipientThenCopiesThenBlindCopies",
                     Join({Greeting,
                           {"C: MAIL FROM:<me@example.org>", "S: 250 ok", "C: RCPT TO:<to@x.test>", "S: 250 ok",
                            "C: RCPT TO:<cc1@x.test>", "S: 250 ok", "C: RCPT TO:<cc2@x.test>", "S: 250 ok",
                            "C: RCPT TO:<bcc@x.test>", "S: 250 ok", "C: DATA"},
                           Data({"From:     Me<me@example.org>", "To:       To<to@x.test>", "CC:       <cc1@x.test>,",
                                 "          Second<cc2@x.test>", "Subject:  Hello"}),
                           Quit}),
                     [](TSMTP& smtp) {
                         smtp.SetRecipient("to@x.test|To");
                         smtp.SetCC(TStrings{"cc1@x.test", "cc2@x.test|Second"});
                         smtp.SetBCC(TStrings{"bcc@x.test|Hidden"});
                         smtp.OnStatusChange = nullptr;
                     },
                     true},
        // Addresses that would inject commands: refused before anything of
        // the message, the offending characters shown as blanks.
        DialogueCase{"RecipientWithALineBreak", Greeting,
                     [](TSMTP& smtp) { smtp.SetRecipient("you@x.test\r\nRCPT TO:<evil@x.test>"); }, true,
                     Invalid + "you@x.test  RCPT TO:<evil@x.test>"},
        DialogueCase{"CopyWithALineFeed", Greeting, [](TSMTP& smtp) { smtp.SetCC(TStrings{"ok@x.test", "a@x.test\n|N"}); },
                     true, Invalid + "a@x.test "},
        DialogueCase{"BlindCopyWithAZeroByte", Greeting,
                     [](TSMTP& smtp) { smtp.SetBCC(TStrings{std::string("b@x.test\0z", 10)}); }, true,
                     Invalid + "b@x.test z"},
        DialogueCase{"SenderWithALineBreakGetsNoHelo", {"S: 220 fake.test"}, From("me@example.org\r\nRSET"), false,
                     Invalid + "me@example.org  RSET"},
        // Fails at once, not after the time-out.
        DialogueCase{"RefusedConnection", {},
                     [](TSMTP& smtp) { smtp.SetServer("127.0.0.1:" + std::to_string(ClosedPort())); }, false,
                     "ESocketError: Connection refused"},
        DialogueCase{"ServerClosesWhileAReplyIsAwaited", Join({Greeting, {"C: MAIL FROM:<me@example.org>", "X:"}}),
                     nullptr, true, "ESocketError: Connection closed by server", true}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- Cancel from the status handler, in each phase -------------------------

struct CancelCase {
    TMailStatus At;
    std::size_t LinesSent;   // client lines the server sees before the socket closes
};
class CancelFromHandlerTest : public SMTPTest, public ::testing::WithParamInterface<CancelCase> {};

TEST_P(CancelFromHandlerTest, StopsTheSessionInThatPhase)
{
    const Lines script = Join({Greeting, PlainMessage, Quit});
    Serve(script);
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
    const Lines all = TFakeSMTPServer::ClientLines(script);
    EXPECT_EQ(Server->Received(), Lines(all.begin(), all.begin() + long(GetParam().LinesSent)));
    // Every later wait of the session ends at once.
    const auto start = Clock::now();
    EXPECT_THROW(Smtp->Logout(), ECanceledError);
    EXPECT_LT(Clock::now() - start, milliseconds(500));
}
// The first send of a line goes out even after a Cancel.
INSTANTIATE_TEST_SUITE_P(Phases, CancelFromHandlerTest,
                         ::testing::Values(CancelCase{msLoggingIn, 0}, CancelCase{msSendingCommands, 2},
                                           CancelCase{msSendingHeaders, 5}, CancelCase{msSendingBody, 4 + 8},
                                           CancelCase{msLoggingOut, 19}));

// ---- every wait, ended by its TimeOut and by a Cancel from a timer ---------

void BigBody(TSMTP& smtp)   // far more than the socket buffers of both ends hold
{
    TStrings body;
    for (int i = 0; i < 400000; ++i)
        body.Add(std::string(76, 'b'));
    smtp.SetBody(body);
}

void BigAttachment(TSMTP& smtp)
{
    static const std::string path = TestFile("big.zip", std::string(16 << 20, 'z'));
    smtp.SetAttachments(TStrings{path});
}

struct WaitCase {
    const char* Name;
    Lines Steps;                     // none: a connect that never completes
    void (*Setup)(TSMTP&);
    int TimeOut;
    TMailStatus Phase;               // the status while the wait runs
    bool TransferFailed;             // after the time-out
};
enum TEnd { Timeout, Canceled };
class WaitTest : public SMTPTest, public ::testing::WithParamInterface<std::tuple<WaitCase, TEnd>> {};

TEST_P(WaitTest, EndsAtTheTimeOutOrAtOnceOnCancel)
{
    const auto& [c, end] = GetParam();
    std::optional<TFullListener> listener;
    if (c.Phase == msConnecting) {
        if (!listener.emplace().Ready())
            GTEST_SKIP() << "the kernel accepted every connection; no pending connect";
        Smtp->SetServer("127.0.0.1:" + std::to_string(listener->Port()));
    } else {
        Serve(c.Steps);
    }
    if (c.Setup)
        c.Setup(*Smtp);
    Smtp->SetTimeOut(end == Timeout ? c.TimeOut : 20);
    // Time and the Cancel count from the moment the wait's phase begins, so
    // a slow build that takes long to compose the message stays exact.
    std::optional<Clock::time_point> entered;
    const TMailStatus phase = c.Phase;
    const bool cancel = end == Canceled;
    const TNotifyEvent record = Smtp->OnStatusChange;
    Smtp->OnStatusChange = [this, record, phase, cancel, &entered](QObject* sender) {
        record(sender);
        if (Smtp->Status() != phase || entered)
            return;
        entered = Clock::now();
        if (cancel)
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
    EXPECT_EQ(Statuses.end()[-2], c.Phase);
    EXPECT_EQ(Statuses.back(), msCanceled);
    EXPECT_FALSE(Smtp->TransferFailed());
}
const Lines UntilData = Join({Greeting, Envelope, {"H:", "S: 354 go"}});   // then stops reading
INSTANTIATE_TEST_SUITE_P(
    Waits, WaitTest,
    ::testing::Combine(
        ::testing::Values(WaitCase{"Connect", {}, nullptr, 1, msConnecting, false},
                          WaitCase{"Greeting", {}, nullptr, 1, msLoggingIn, false},
                          WaitCase{"Reply", Join({Greeting, {"C: MAIL FROM:<me@example.org>"}}), nullptr, 2,
                                   msSendingCommands, false},
                          // Replies of four characters or fewer never complete.
                          WaitCase{"ReplyOfACodeAndABlank", Helo("HELO example.org", "250 "), nullptr, 1,
                                   msLoggingIn, true},
                          WaitCase{"SendText", UntilData, BigBody, 1, msSendingBody, false},
                          WaitCase{"SendAttachment", UntilData, BigAttachment, 1, msSendingAttachments, false}),
        ::testing::Values(Timeout, Canceled)),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).Name) + (std::get<1>(info.param) == Timeout ? "TimesOut" : "Canceled");
    });

// ---- host, service and port ------------------------------------------------

// Looks up `service`; with `cancel`, cancels right after Open's Reset, so
// that the host look-up starts canceled.
class TProbe : public TSMTP {
public:
    TProbe(const char* service, bool cancel) : FCancel(cancel) { FService = service; }

protected:
    void Reset() override
    {
        TSMTP::Reset();
        if (FCancel)
            Cancel();
    }
    bool FCancel;
};

// A look-up only for a name; the port from Server, Service or DefaultPort.
TEST(HostLookup, FindsTheAddressAndPortOrFailsClearly)
{
    const std::string notFound = "ESocketError: Host not found";
    struct { const char* Server; const char* Service; bool Cancel; int Lookups; std::uint16_t Port; std::string Outcome; }
    const cases[] = {{"127.0.0.1", "smtp", false, 0, 25, "ok"},
                     {"localhost:2525", "smtp", false, 1, 2525, "ok"},
                     {"127.0.0.1", "no-such-service-name", false, 0, 2626, "ok"},
                     {"localhost", "smtp", true, 1, 0, "ECanceledError: Operation has been canceled"},
                     {"no-such-host.invalid", "smtp", false, 1, 0, notFound}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Server) + " " + c.Service);
        TProbe smtp(c.Service, c.Cancel);
        smtp.SetServer(c.Server);
        smtp.SetDefaultPort(2626);
        smtp.SetTimeOut(5);
        const std::string outcome = Outcome([&] { smtp.Open(); });
        // A resolver that cannot be reached: the clock ends the look-up.
        if (outcome != "ETimedOutError: Operation timed out" || c.Outcome != notFound) {
            EXPECT_EQ(outcome, c.Outcome);
        }
        EXPECT_EQ(smtp.HostLookupCount(), c.Lookups);
        if (c.Port) {
            EXPECT_EQ(smtp.HostAddress(), htonl(INADDR_LOOPBACK));
            EXPECT_EQ(smtp.Port(), c.Port);
        }
        smtp.Close();
    }
}

TEST(SplitServer, NamesHostAndAValidPort)
{
    struct { const char* Server; const char* Host; std::uint16_t Port; } const cases[] = {
        {"mail.example.org", "mail.example.org", 0}, {"mail.example.org:2525", "mail.example.org", 2525},
        {"10.0.0.1:587", "10.0.0.1", 587}, {"host:", "host:", 0}, {"host:0", "host:0", 0},
        {"host:65536", "host:65536", 0}, {"host:25x", "host:25x", 0}};
    for (const auto& c : cases)
        EXPECT_EQ(SplitServer(c.Server), std::make_pair(std::string(c.Host), c.Port)) << c.Server;
}

// ---- error texts, progress, properties ------------------------------------------

TEST(ErrorText, PosixErrorsMapToWinsockNumbersWithClearTexts)
{
    struct { int Errno; std::uint16_t Number; const char* Text; } const cases[] = {   // Errno 0: none maps to it
        {ECONNREFUSED, 10061, "Connection refused"}, {ECONNRESET, 10054, "Connection reset by peer"},
        {ETIMEDOUT, 10060, "Connection timed out"}, {EHOSTUNREACH, 10065, "No route to host"},
        {ENETUNREACH, 10051, "Network is unreachable"}, {EPIPE, 10058, "Cannot send after socket shutdown"},
        {EWOULDBLOCK, 10035, "Resource temporarily unavailable"}, {0, 11001, "Host not found"},
        {0, 12345, "Winsock Error No. 12345"}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.Errno ? WinsockErrorFromErrno(c.Errno) : c.Number, c.Number);
        EXPECT_EQ(WinsockErrorText(c.Number), c.Text);
    }
    std::string text = "kept";   // 0 leaves the text as it is
    WinsockErrorText(0, text);
    EXPECT_EQ(text, "kept");
}

TEST(LineProgress, RoundsHalvesToEven)
{
    struct { std::size_t Index, Count; int Percent; } const cases[] = {
        {0, 1, 0}, {0, 4, 0}, {1, 4, 33}, {2, 4, 67}, {3, 4, 100},
        {1, 201, 0 /* 0.5 */}, {3, 201, 2 /* 1.5 */}, {5, 201, 2 /* 2.5 */}, {1, 9, 12 /* 12.5 */}};
    for (const auto& c : cases)
        EXPECT_EQ(LineProgress(c.Index, c.Count), c.Percent) << c.Index << " of " << c.Count;
}

TEST(Properties, DefaultsCharSetAndBoundary)
{
    TSMTP smtp;
    EXPECT_TRUE(smtp.TimeOut() == 60 && smtp.DefaultPort() == 25 && smtp.Encoding() == etMIME
                && smtp.CharSet() == csUSASCII && smtp.Priority() == ptNormal && smtp.UseDomainAddress()
                && smtp.ShowResult());
    const std::string boundary = smtp.Boundary();   // eight digits from 0 to 8, made once
    EXPECT_TRUE(boundary.size() == 8 && boundary.find_first_not_of("012345678") == std::string::npos) << boundary;
    EXPECT_EQ(smtp.Boundary(), boundary);
    smtp.SetCharSet(csISO8859);
    EXPECT_EQ(smtp.CharSet(), csISO8859);
    smtp.SetEncoding(etUU);   // resets the character set, and keeps it so
    smtp.SetCharSet(csISO8859);
    EXPECT_EQ(smtp.CharSet(), csUSASCII);
}

} // namespace
