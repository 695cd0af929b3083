// The SMTP dialogue against a scripted server: replies, failures, time-outs,
// Cancel in every phase, the session log and the status/progress events.
#include "fake_smtp_server.h"
#include "msgbox.h"
#include "smtp.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace {

using Script = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

// Lets the server catch up with what the client sent before it failed.
void PumpUntil(const std::function<bool()>& done, int milliseconds = 3000)
{
    QDeadlineTimer deadline(milliseconds);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
}

Script Concat(std::initializer_list<Script> parts)
{
    Script all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

const Script Greeting = {"S: 220 fake.test ESMTP", "C: HELO example.org", "S: 250 fake.test"};
const Script Quit = {"C: QUIT", "S: 221 bye"};

// The envelope, header block and text of the plain message of MakePlain.
const Script PlainMessage = {
    "C: MAIL FROM:<me@example.org>", "S: 250 ok",
    "C: RCPT TO:<you@example.net>", "S: 250 ok",
    "C: DATA", "S: 354 go ahead",
    "C: From:     Me<me@example.org>",
    "C: To:       <you@example.net>",
    "C: Subject:  Hello",
    "C: Mime-Version: 1.0",
    "C: Content-Type: text/plain; charset=\"us-ascii\"",
    "C: Content-Transfer-Encoding: 7bit",
    "C: ",
    "C: first line",
    "C: ..a line with a dot",
    "C: ..",
    "C: last line",
    "C: .", "S: 250 queued",
};

class SMTPTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FOldBox = SetMessageBoxHandler([this](const TMessageBox& box) { Boxes.push_back(box); });
        Smtp = std::make_unique<TSMTP>();
        Smtp->SetTimeOut(5);
        Smtp->OnStatusChange = [this](QObject*) {
            Statuses.push_back(Smtp->Status());
            if (CancelAt && Smtp->Status() == *CancelAt)
                Smtp->Cancel();
        };
        Smtp->OnProgress = [this](QObject*) { Progress.push_back(Smtp->Progress()); };
    }
    void TearDown() override
    {
        Smtp.reset();
        SetMessageBoxHandler(FOldBox);
    }
    void Serve(const Script& script)
    {
        Server = std::make_unique<TFakeSMTPServer>(script);
        Smtp->SetServer(Server->Address());
    }
    void MakePlain()
    {
        Smtp->SetFrom("me@example.org|Me");
        Smtp->SetRecipient("you@example.net");
        Smtp->SetSubject("Hello");
        Smtp->SetBody(TStrings{"first line", ".a line with a dot", ".", "last line"});
    }
    void Session(bool transmit = true, bool logout = true)
    {
        Smtp->Open();
        Smtp->Login();
        if (transmit)
            Smtp->Transmit();
        if (logout)
            Smtp->Logout();
        Smtp->Close();
    }
    // Runs a session that must fail with E; closes the socket like a host.
    template <class E>
    std::string SessionFails(bool transmit = true)
    {
        try {
            Session(transmit);
        } catch (const E& e) {
            Smtp->Close();
            return e.what();
        } catch (const std::exception& e) {
            ADD_FAILURE() << "unexpected failure: " << e.what();
        }
        ADD_FAILURE() << "the session did not fail";
        return {};
    }
    void ExpectClientSent(const Script& script)
    {
        const auto expected = TFakeSMTPServer::ClientLines(script);
        PumpUntil([&] { return Server->Received().size() >= expected.size(); });
        EXPECT_EQ(Server->Received(), expected);
    }

    std::unique_ptr<TSMTP> Smtp;
    std::unique_ptr<TFakeSMTPServer> Server;
    std::vector<TMailStatus> Statuses;
    std::vector<int> Progress;
    std::vector<TMessageBox> Boxes;
    std::optional<TMailStatus> CancelAt;

private:
    TMessageBoxHandler FOldBox;
};

// ---- the normal dialogue -----------------------------------------------------

TEST_F(SMTPTest, PlainMessageGoesOutLineForLine)
{
    const Script script = Concat({Greeting, PlainMessage, Quit});
    Serve(script);
    MakePlain();
    Session();
    ExpectClientSent(script);
    EXPECT_FALSE(Smtp->TransferFailed());
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Kind, TMsgKind::Information);
    EXPECT_EQ(Boxes[0].Text, "All Done.");
}

TEST_F(SMTPTest, StatusSequenceAndProgressOfAMessage)
{
    Serve(Concat({Greeting, PlainMessage, Quit}));
    MakePlain();
    Session();
    EXPECT_EQ(Statuses, (std::vector<TMailStatus>{msConnecting, msLoggingIn, msSendingCommands, msSendingHeaders,
                                                  msSendingBody, msLoggingOut, msIdle}));
    // Four text lines: 0, 33, 67, 100; then 0 after the terminator's reply
    // and 0 at the end of Logout.
    EXPECT_EQ(Progress, (std::vector<int>{0, 33, 67, 100, 0, 0}));
    EXPECT_EQ(Smtp->Status(), msIdle);
}

TEST_F(SMTPTest, SessionLogHoldsCommandsHeadersAndRepliesButNoText)
{
    Serve(Concat({Greeting, PlainMessage, Quit}));
    MakePlain();
    Session();
    const std::vector<std::string> expected = {
        "220 fake.test ESMTP", "HELO example.org", "250 fake.test",
        "MAIL FROM:<me@example.org>", "250 ok", "RCPT TO:<you@example.net>", "250 ok", "DATA", "354 go ahead",
        "From:     Me<me@example.org>", "To:       <you@example.net>", "Subject:  Hello", "Mime-Version: 1.0",
        "Content-Type: text/plain; charset=\"us-ascii\"", "Content-Transfer-Encoding: 7bit",
        "250 queued", "QUIT", "221 bye"};
    EXPECT_EQ(Smtp->SessionLog().ToVector(), expected);
}

TEST_F(SMTPTest, NoStatusHandlerStillCompletes)
{
    const Script script = Concat({Greeting, PlainMessage, Quit});
    Serve(script);
    MakePlain();
    Smtp->OnStatusChange = nullptr;
    Session();
    ExpectClientSent(script);
}

TEST_F(SMTPTest, ShowResultFalseShowsNoBox)
{
    Serve(Concat({Greeting, Quit}));
    Smtp->SetFrom("me@example.org");
    Smtp->SetShowResult(false);
    Session(false);
    EXPECT_TRUE(Boxes.empty());
}

// ---- replies -------------------------------------------------------------------

TEST_F(SMTPTest, MultiLineGreetingIsReadToItsEnd)
{
    const Script script = {"S: 220-fake.test first", "S: 220-second", "S: 220 last", "C: HELO example.org",
                           "S: 250 ok", "C: QUIT", "S: 221 bye"};
    Serve(script);
    Smtp->SetFrom("me@example.org");
    Session(false);
    ExpectClientSent(script);
    EXPECT_EQ(Smtp->SessionLog()[2], "220 last");
}

TEST_F(SMTPTest, ReplySplitJustAfterAContinuationLineIsReadToItsEnd)
{
    const Script script = {"R: 220-fake.test first\\r\\n", "P: 100", "R: 220-second\\r\\n220 ", "P: 100",
                           "R: last\\r\\n", "C: HELO example.org", "S: 250 ok", "C: QUIT", "S: 221 bye"};
    Serve(script);
    Smtp->SetFrom("me@example.org");
    Session(false);
    ExpectClientSent(script);
    const std::vector<std::string> log = Smtp->SessionLog().ToVector();
    EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 3),
              (std::vector<std::string>{"220-fake.test first", "220-second", "220 last"}));
}

class ShortReplyTest : public SMTPTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ShortReplyTest, NeverCompletesAndTimesOut)
{
    Serve({"S: 220 fake.test", "C: HELO example.org", std::string("S: ") + GetParam()});
    Smtp->SetFrom("me@example.org");
    Smtp->SetTimeOut(1);
    const auto start = Clock::now();
    EXPECT_EQ(SessionFails<ETimedOutError>(false), "Operation timed out");
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(900));
    EXPECT_TRUE(Smtp->TransferFailed());
}
INSTANTIATE_TEST_SUITE_P(FourCharactersOrFewer, ShortReplyTest, ::testing::Values("250", "250 ", "2"));

struct RefusalCase {
    const char* Reply;
    const char* Message;
};
class RefusalTest : public SMTPTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(RefusalTest, HeloReplyIsCheckedByItsCode)
{
    Serve({"S: 220 fake.test", "C: HELO example.org", std::string("S: ") + GetParam().Reply, "C: QUIT",
           "S: 221 bye"});
    Smtp->SetFrom("me@example.org");
    if (!*GetParam().Message) {
        Session(false);   // accepted
        return;
    }
    EXPECT_EQ(SessionFails<EMailError>(false), GetParam().Message);
    EXPECT_TRUE(Smtp->TransferFailed());
}
INSTANTIATE_TEST_SUITE_P(Codes, RefusalTest,
                         ::testing::Values(RefusalCase{"354 go on", ""}, RefusalCase{"250 fine", ""},
                                           RefusalCase{"334 VXNlcm5hbWU6", " VXNlcm5hbWU6"},
                                           RefusalCase{"421 closing", " closing"},
                                           RefusalCase{"199 huh", " huh"}));

TEST_F(SMTPTest, RefusedRecipientRaisesItsTextAndStaysOutOfTheLog)
{
    const Script script = Concat({Greeting, {"C: MAIL FROM:<me@example.org>", "S: 250 ok",
                                             "C: RCPT TO:<you@example.net>", "S: 550 no such user here"}});
    Serve(script);
    MakePlain();
    EXPECT_EQ(SessionFails<EMailError>(), " no such user here");
    EXPECT_TRUE(Smtp->TransferFailed());
    EXPECT_EQ(Smtp->SessionLog().Last(), "RCPT TO:<you@example.net>");
    ExpectClientSent(script);
}

TEST_F(SMTPTest, ReplyOfTheBufferSizeIsRefusedWithoutOverrun)
{
    // 1100 bytes without a line end: the reply cannot fit the 1024-byte buffer.
    Serve({"R: 220-" + std::string(1100, 'x')});
    Smtp->SetFrom("me@example.org");
    const auto start = Clock::now();
    EXPECT_EQ(SessionFails<EMailError>(false), "Server reply is longer than 1024 bytes");
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
    EXPECT_TRUE(Smtp->TransferFailed());
}

TEST_F(SMTPTest, ReplyEndingExactlyAtTheBufferSizeIsAccepted)
{
    // "220-" + text + CR LF continuation, then "220 ok" CR LF: 1024 bytes.
    const std::string first = "220-" + std::string(1024 - 4 - 2 - 8, 'y');
    const Script script = {"R: " + first + "\\r\\n220 ok\\r\\n", "C: HELO example.org", "S: 250 ok", "C: QUIT",
                           "S: 221 bye"};
    ASSERT_EQ(first.size() + 2 + 8, 1024u);
    Serve(script);
    Smtp->SetFrom("me@example.org");
    Session(false);
    ExpectClientSent(script);
}

// ---- HELO and the envelope -------------------------------------------------------

struct HeloCase {
    const char* From;
    bool UseDomain;
    const char* Helo;
};
class HeloTest : public SMTPTest, public ::testing::WithParamInterface<HeloCase> {};

TEST_P(HeloTest, CarriesTheSendersDomain)
{
    const Script script = {"S: 220 fake.test", std::string("C: ") + GetParam().Helo, "S: 250 ok", "C: QUIT",
                           "S: 221 bye"};
    Serve(script);
    Smtp->SetFrom(GetParam().From);
    Smtp->SetUseDomainAddress(GetParam().UseDomain);
    Session(false);
    ExpectClientSent(script);
}
INSTANTIATE_TEST_SUITE_P(Variants, HeloTest,
                         ::testing::Values(HeloCase{"me@mail.example.org|Me Myself", true, "HELO mail.example.org"},
                                           HeloCase{"nobody", true, "HELO "}, HeloCase{"", true, "HELO "},
                                           HeloCase{"me@example.org", false, "HELO"},
                                           HeloCase{"a@b@c", true, "HELO b@c"}));

TEST_F(SMTPTest, EmptySenderSendsNoMailFrom)
{
    const Script script = {"S: 220 fake.test", "C: HELO ", "S: 250 ok", "C: RCPT TO:<you@example.net>", "S: 250 ok",
                           "C: DATA", "S: 354 go", "C: To:       <you@example.net>", "C: Mime-Version: 1.0",
                           "C: Content-Type: text/plain; charset=\"us-ascii\"", "C: Content-Transfer-Encoding: 7bit",
                           "C: ", "C: .", "S: 250 ok"};
    Serve(script);
    Smtp->SetFrom("|Only A Name");
    Smtp->SetRecipient("you@example.net");
    // "From:" still names the display name.
    Session(true, false);
    auto expected = TFakeSMTPServer::ClientLines(script);
    expected.insert(expected.begin() + 3, "From:     Only A Name<>");
    PumpUntil([&] { return Server->Received().size() >= expected.size(); });
    EXPECT_EQ(Server->Received(), expected);
}

TEST_F(SMTPTest, RecipientThenCopiesThenBlindCopiesInOrder)
{
    const Script script = Concat({Greeting,
                                  {"C: MAIL FROM:<me@example.org>", "S: 250 ok", "C: RCPT TO:<to@x.test>", "S: 250 ok",
                                   "C: RCPT TO:<cc1@x.test>", "S: 250 ok", "C: RCPT TO:<cc2@x.test>", "S: 250 ok",
                                   "C: RCPT TO:<bcc@x.test>", "S: 250 ok", "C: DATA", "S: 354 go",
                                   "C: From:     <me@example.org>", "C: To:       To<to@x.test>",
                                   "C: CC:       <cc1@x.test>,", "C:           Second<cc2@x.test>",
                                   "C: Mime-Version: 1.0", "C: Content-Type: text/plain; charset=\"us-ascii\"",
                                   "C: Content-Transfer-Encoding: 7bit", "C: ", "C: .", "S: 250 ok"},
                                  Quit});
    Serve(script);
    Smtp->SetFrom("me@example.org");
    Smtp->SetRecipient("to@x.test|To");
    Smtp->SetCC(TStrings{"cc1@x.test", "cc2@x.test|Second"});
    Smtp->SetBCC(TStrings{"bcc@x.test|Hidden"});
    Session();
    ExpectClientSent(script);
}

struct BadAddressCase {
    const char* Field;
    std::string Value;
    const char* Message;
};
class BadAddressTest : public SMTPTest, public ::testing::WithParamInterface<BadAddressCase> {};

TEST_P(BadAddressTest, IsRefusedBeforeAnythingOfTheMessage)
{
    const Script script = {"S: 220 fake.test", "C: HELO example.org", "S: 250 ok"};
    Serve(script);
    MakePlain();
    const auto& c = GetParam();
    const std::string field = c.Field;
    if (field == "Recipient")
        Smtp->SetRecipient(c.Value);
    else if (field == "CC")
        Smtp->SetCC(TStrings{"ok@x.test", c.Value});
    else
        Smtp->SetBCC(TStrings{c.Value});
    EXPECT_EQ(SessionFails<EMailError>(), c.Message);
    ExpectClientSent(script);
}
INSTANTIATE_TEST_SUITE_P(
    Injection, BadAddressTest,
    ::testing::Values(BadAddressCase{"Recipient", "you@x.test\r\nRCPT TO:<evil@x.test>", "Invalid address: you@x.test  RCPT TO:<evil@x.test>"},
                      BadAddressCase{"CC", "a@x.test\n|Name", "Invalid address: a@x.test "},
                      BadAddressCase{"BCC", std::string("b@x.test\0z", 10), "Invalid address: b@x.test z"}));

TEST_F(SMTPTest, SenderWithLineBreakIsRefusedBeforeHelo)
{
    Serve({"S: 220 fake.test"});
    Smtp->SetFrom("me@example.org\r\nRSET");
    EXPECT_EQ(SessionFails<EMailError>(false), "Invalid address: me@example.org  RSET");
    PumpUntil([] { return false; }, 100);
    EXPECT_TRUE(Server->Received().empty());
}

// ---- failures of the connection ------------------------------------------------------

TEST_F(SMTPTest, RefusedConnectionFailsAtOnce)
{
    Smtp->SetServer("127.0.0.1:" + std::to_string(ClosedPort()));
    Smtp->SetTimeOut(10);
    const auto start = Clock::now();
    EXPECT_EQ(SessionFails<ESocketError>(false), "Connection refused");
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
}

TEST_F(SMTPTest, ServerClosingWhileAReplyIsAwaitedFailsAtOnce)
{
    Serve(Concat({Greeting, {"C: MAIL FROM:<me@example.org>", "X:"}}));
    MakePlain();
    Smtp->SetTimeOut(10);
    const auto start = Clock::now();
    EXPECT_EQ(SessionFails<ESocketError>(), "Connection closed by server");
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    EXPECT_TRUE(Smtp->TransferFailed());
}

TEST_F(SMTPTest, ConnectTimesOut)
{
    TFullListener listener;
    if (!listener.Ready())
        GTEST_SKIP() << "the kernel accepted every connection; no pending connect to time out";
    Smtp->SetServer("127.0.0.1:" + std::to_string(listener.Port()));
    Smtp->SetTimeOut(1);
    const auto start = Clock::now();
    EXPECT_EQ(SessionFails<ETimedOutError>(false), "Operation timed out");
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(900));
    EXPECT_EQ(Statuses, (std::vector<TMailStatus>{msConnecting}));
}

TEST_F(SMTPTest, GreetingTimesOut)
{
    Serve({});
    Smtp->SetTimeOut(1);
    const auto start = Clock::now();
    EXPECT_EQ(SessionFails<ETimedOutError>(false), "Operation timed out");
    const auto took = Clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(900));
    EXPECT_LT(took, std::chrono::milliseconds(2500));
    // The first wait of a reply leaves TransferFailed alone.
    EXPECT_FALSE(Smtp->TransferFailed());
}

TEST_F(SMTPTest, ReplyTimesOutWithTimeOutTwo)
{
    Serve(Concat({Greeting, {"C: MAIL FROM:<me@example.org>"}}));
    MakePlain();
    Smtp->SetTimeOut(2);
    const auto start = Clock::now();
    EXPECT_EQ(SessionFails<ETimedOutError>(), "Operation timed out");
    const auto took = Clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(1900));
    EXPECT_LT(took, std::chrono::milliseconds(3500));
}

TEST_F(SMTPTest, SendTimesOutWhenTheServerStopsReading)
{
    Serve(Concat({Greeting, {"C: MAIL FROM:<me@example.org>", "S: 250 ok", "C: RCPT TO:<you@example.net>",
                             "S: 250 ok", "C: DATA", "H:", "S: 354 go"}}));
    MakePlain();
    // Far more than the socket buffers of both ends hold.
    TStrings body;
    for (int i = 0; i < 400000; ++i)
        body.Add(std::string(76, 'a'));
    Smtp->SetBody(body);
    Smtp->SetTimeOut(1);
    EXPECT_EQ(SessionFails<ETimedOutError>(), "Operation timed out");
    EXPECT_FALSE(Smtp->Connected());
}

// ---- Cancel ------------------------------------------------------------------------

struct CancelCase {
    TMailStatus At;
    std::size_t LinesSent;   // client lines the server sees before the socket closes
};
class CancelFromHandlerTest : public SMTPTest, public ::testing::WithParamInterface<CancelCase> {};

TEST_P(CancelFromHandlerTest, StopsTheSessionInThatPhase)
{
    Serve(Concat({Greeting, PlainMessage, Quit}));
    MakePlain();
    CancelAt = GetParam().At;
    EXPECT_EQ(SessionFails<ECanceledError>(), "Operation has been canceled");
    EXPECT_EQ(Statuses.back(), msCanceled);
    EXPECT_EQ(Progress.back(), 0);
    PumpUntil([&] { return Server->ClientClosed(); });
    EXPECT_EQ(Server->Received().size(), GetParam().LinesSent);
    // Every later wait of the session ends at once.
    const auto start = Clock::now();
    EXPECT_THROW(Smtp->Logout(), ECanceledError);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
}
INSTANTIATE_TEST_SUITE_P(Phases, CancelFromHandlerTest,
                         ::testing::Values(CancelCase{msLoggingIn, 0},
                                           // The first send of a line goes out even after a Cancel.
                                           CancelCase{msSendingCommands, 2}, CancelCase{msSendingHeaders, 5},
                                           CancelCase{msSendingBody, 4 + 6}));

TEST_F(SMTPTest, CancelWhileLoggingOut)
{
    Serve(Concat({Greeting, Quit}));
    Smtp->SetFrom("me@example.org");
    CancelAt = msLoggingOut;
    EXPECT_EQ(SessionFails<ECanceledError>(false), "Operation has been canceled");
    EXPECT_TRUE(Boxes.empty());
}

// A Cancel from a timer, as from a button, while the client waits.
struct TimerCancelCase {
    const char* Name;
    Script Steps;
    bool Transmit;
};
class CancelFromTimerTest : public SMTPTest, public ::testing::WithParamInterface<TimerCancelCase> {};

TEST_P(CancelFromTimerTest, EndsTheWaitAtOnce)
{
    Serve(GetParam().Steps);
    MakePlain();
    if (GetParam().Transmit) {
        TStrings body;
        for (int i = 0; i < 400000; ++i)
            body.Add(std::string(76, 'b'));
        Smtp->SetBody(body);
    }
    Smtp->SetTimeOut(20);
    QTimer::singleShot(200, [this] { Smtp->Cancel(); });
    const auto start = Clock::now();
    EXPECT_EQ(SessionFails<ECanceledError>(GetParam().Transmit), "Operation has been canceled");
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
    EXPECT_THROW(Smtp->Logout(), ECanceledError);
}
INSTANTIATE_TEST_SUITE_P(
    Waits, CancelFromTimerTest,
    ::testing::Values(TimerCancelCase{"greeting", {}, false},
                      TimerCancelCase{"helo", {"S: 220 fake.test", "C: HELO example.org"}, false},
                      TimerCancelCase{"send", Concat({Greeting, {"C: MAIL FROM:<me@example.org>", "S: 250 ok",
                                                                 "C: RCPT TO:<you@example.net>", "S: 250 ok",
                                                                 "C: DATA", "H:", "S: 354 go"}}),
                                      true}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(SMTPTest, CancelWhileConnecting)
{
    TFullListener listener;
    if (!listener.Ready())
        GTEST_SKIP() << "the kernel accepted every connection; no pending connect to cancel";
    Smtp->SetServer("127.0.0.1:" + std::to_string(listener.Port()));
    Smtp->SetTimeOut(20);
    QTimer::singleShot(200, [this] { Smtp->Cancel(); });
    const auto start = Clock::now();
    EXPECT_EQ(SessionFails<ECanceledError>(false), "Operation has been canceled");
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
}

// ---- host and service -------------------------------------------------------------

// Cancels right after Open's Reset, so that the host look-up starts canceled.
class TCancelAfterReset : public TSMTP {
public:
    using TSMTP::TSMTP;
    bool Armed = false;

protected:
    void Reset() override
    {
        TSMTP::Reset();
        if (Armed)
            Cancel();
    }
};

TEST(HostLookup, NumericAddressMakesNoLookUp)
{
    TSMTP smtp;
    smtp.SetServer("127.0.0.1");
    smtp.Open();
    EXPECT_EQ(smtp.HostLookupCount(), 0);
    EXPECT_EQ(smtp.HostAddress(), htonl(INADDR_LOOPBACK));
    EXPECT_EQ(smtp.Port(), 25);   // "smtp" from the services database
    smtp.Close();
}

TEST(HostLookup, LocalhostIsLookedUpOnce)
{
    TSMTP smtp;
    smtp.SetServer("localhost:2525");
    smtp.Open();
    EXPECT_EQ(smtp.HostLookupCount(), 1);
    EXPECT_EQ(smtp.HostAddress(), htonl(INADDR_LOOPBACK));
    EXPECT_EQ(smtp.Port(), 2525);
    smtp.Close();
}

TEST(HostLookup, NameThatDoesNotResolveFails)
{
    TSMTP smtp;
    smtp.SetServer("no-such-host.invalid");
    smtp.SetTimeOut(5);
    try {
        smtp.Open();
        FAIL() << "resolved";
    } catch (const ESocketError& e) {
        EXPECT_EQ(std::string(e.what()), "Host not found");
    } catch (const ETimedOutError&) {
        // A resolver that cannot be reached: the clock ends the look-up.
    }
    EXPECT_EQ(smtp.HostLookupCount(), 1);
}

TEST(HostLookup, CancelEndsTheLookUp)
{
    TCancelAfterReset smtp;
    smtp.SetServer("localhost");
    smtp.Armed = true;
    EXPECT_THROW(smtp.Open(), ECanceledError);
    EXPECT_EQ(smtp.HostLookupCount(), 1);
}

struct ServerCase {
    const char* Server;
    const char* Host;
    std::uint16_t Port;
};
class SplitServerTest : public ::testing::TestWithParam<ServerCase> {};
TEST_P(SplitServerTest, NamesHostAndPort)
{
    const auto [host, port] = SplitServer(GetParam().Server);
    EXPECT_EQ(host, GetParam().Host);
    EXPECT_EQ(port, GetParam().Port);
}
INSTANTIATE_TEST_SUITE_P(Forms, SplitServerTest,
                         ::testing::Values(ServerCase{"mail.example.org", "mail.example.org", 0},
                                           ServerCase{"mail.example.org:2525", "mail.example.org", 2525},
                                           ServerCase{"10.0.0.1:587", "10.0.0.1", 587},
                                           ServerCase{"host:", "host:", 0}, ServerCase{"host:0", "host:0", 0},
                                           ServerCase{"host:65536", "host:65536", 0},
                                           ServerCase{"host:25x", "host:25x", 0}));

TEST(Service, FallsBackToDefaultPortWithoutAnEntry)
{
    class TNoService : public TSMTP {
    public:
        TNoService() { FService = "no-such-service-name"; }
    } smtp;
    smtp.SetServer("127.0.0.1");
    smtp.SetDefaultPort(2626);
    smtp.Open();
    EXPECT_EQ(smtp.Port(), 2626);
    smtp.Close();
}

// ---- session log file ----------------------------------------------------------------

TEST_F(SMTPTest, LogFileIsWrittenAtDestructionWithCRLF)
{
    QTemporaryDir dir;
    const std::string name = dir.filePath("session.log").toStdString();
    Serve(Concat({Greeting, Quit}));
    Smtp->SetFrom("me@example.org");
    Smtp->SetLogFileName(name);
    Session(false);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(name)));
    Smtp.reset();
    QFile file(QString::fromStdString(name));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().toStdString(),
              "220 fake.test ESMTP\r\nHELO example.org\r\n250 fake.test\r\nQUIT\r\n221 bye\r\n");
}

TEST(SessionLog, NoFileWithoutAName)
{
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    {
        TSMTP smtp;
    }
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());
}

// ---- error texts and progress ------------------------------------------------------------

struct ErrorCase {
    std::uint16_t Number;
    const char* Text;
};
class ErrorTextTest : public ::testing::TestWithParam<ErrorCase> {};
TEST_P(ErrorTextTest, IsClear)
{
    EXPECT_EQ(WinsockErrorText(GetParam().Number), GetParam().Text);
}
INSTANTIATE_TEST_SUITE_P(Numbers, ErrorTextTest,
                         ::testing::Values(ErrorCase{0, ""}, ErrorCase{10061, "Connection refused"},
                                           ErrorCase{10054, "Connection reset by peer"},
                                           ErrorCase{10060, "Connection timed out"},
                                           ErrorCase{10065, "No route to host"},
                                           ErrorCase{11001, "Host not found"},
                                           ErrorCase{12345, "Winsock Error No. 12345"}));

TEST(ErrorText, PosixErrorsMapToWinsockNumbers)
{
    EXPECT_EQ(WinsockErrorFromErrno(ECONNREFUSED), 10061);
    EXPECT_EQ(WinsockErrorFromErrno(ECONNRESET), 10054);
    EXPECT_EQ(WinsockErrorFromErrno(ETIMEDOUT), 10060);
    EXPECT_EQ(WinsockErrorFromErrno(EHOSTUNREACH), 10065);
    EXPECT_EQ(WinsockErrorFromErrno(ENETUNREACH), 10051);
    EXPECT_EQ(WinsockErrorFromErrno(EWOULDBLOCK), 10035);
    EXPECT_EQ(WinsockErrorFromErrno(EPIPE), 10058);
}

TEST(ErrorText, ZeroLeavesTheTextUnchanged)
{
    std::string text = "kept";
    WinsockErrorText(0, text);
    EXPECT_EQ(text, "kept");
}

struct ProgressCase {
    std::size_t Index, Count;
    int Percent;
};
class LineProgressTest : public ::testing::TestWithParam<ProgressCase> {};
TEST_P(LineProgressTest, RoundsHalvesToEven)
{
    EXPECT_EQ(LineProgress(GetParam().Index, GetParam().Count), GetParam().Percent);
}
INSTANTIATE_TEST_SUITE_P(Cases, LineProgressTest,
                         ::testing::Values(ProgressCase{0, 1, 0}, ProgressCase{0, 4, 0}, ProgressCase{1, 4, 33},
                                           ProgressCase{2, 4, 67}, ProgressCase{3, 4, 100},
                                           ProgressCase{1, 201, 0},    // 0.5 -> 0
                                           ProgressCase{3, 201, 2},    // 1.5 -> 2
                                           ProgressCase{5, 201, 2},    // 2.5 -> 2
                                           ProgressCase{1, 9, 12}));   // 12.5 -> 12

// ---- properties ------------------------------------------------------------------------

TEST(Properties, DefaultsAndEncodingCharSetRules)
{
    TSMTP smtp;
    EXPECT_EQ(smtp.TimeOut(), 60);
    EXPECT_EQ(smtp.DefaultPort(), 25);
    EXPECT_EQ(smtp.Encoding(), etMIME);
    EXPECT_EQ(smtp.CharSet(), csUSASCII);
    EXPECT_EQ(smtp.Priority(), ptNormal);
    EXPECT_TRUE(smtp.UseDomainAddress());
    EXPECT_TRUE(smtp.ShowResult());
    EXPECT_EQ(smtp.Boundary().size(), 8u);
    smtp.SetCharSet(csISO8859);
    EXPECT_EQ(smtp.CharSet(), csISO8859);
    smtp.SetEncoding(etUU);
    EXPECT_EQ(smtp.CharSet(), csUSASCII);
    smtp.SetCharSet(csISO8859);   // ignored with etUU
    EXPECT_EQ(smtp.CharSet(), csUSASCII);
}

TEST(Properties, ComponentIsOwnedByItsParent)
{
    auto* owner = new QObject;
    QPointer<TSMTP> smtp = new TSMTP(owner);
    delete owner;
    EXPECT_TRUE(smtp.isNull());
}

} // namespace
