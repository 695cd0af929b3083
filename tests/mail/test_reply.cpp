// The pure parts of the dialogue: replies as they arrive, EHLO keywords,
// SASL responses, trusted fingerprints, hints and sizes.
#include "auth.h"
#include "reply.h"
#include "smtp.h"
#include "tls.h"

#include <gtest/gtest.h>

namespace {

using std::string_literals::operator""s;

struct ReplyCase {
    const char* Name;
    std::string Input;
    TReplyState State;
    int Code;
    std::size_t Consumed;
    std::string Text;   // Reply.Text() when complete, the line when malformed
};
class ReplyTest : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(ReplyTest, ReadsTheFirstReply)
{
    const auto& c = GetParam();
    const TReplyScan scan = ParseReply(c.Input);
    EXPECT_EQ(scan.State, c.State);
    EXPECT_EQ(scan.Reply.Code, c.Code);
    EXPECT_EQ(scan.Consumed, c.Consumed);
    if (c.State == TReplyState::Complete) {
        EXPECT_EQ(scan.Reply.Text(), c.Text);
    }
    if (c.State == TReplyState::Malformed) {
        EXPECT_EQ(scan.Reply.Lines, std::vector<std::string>{c.Text});
    }
}
INSTANTIATE_TEST_SUITE_P(
    Cases, ReplyTest,
    ::testing::Values(
        ReplyCase{"OneLine", "250 ok\r\n", TReplyState::Complete, 250, 8, "250 ok"},
        ReplyCase{"LineFeedOnly", "220 hi\n", TReplyState::Complete, 220, 7, "220 hi"},
        ReplyCase{"MultiLineJoined", "535-5.7.8 Username and\r\n535 5.7.8 password not accepted\r\n",
                  TReplyState::Complete, 535, 57, "535 5.7.8 Username and 5.7.8 password not accepted"},
        ReplyCase{"OnlyTheFirstReply", "250 a\r\n250 b\r\n", TReplyState::Complete, 250, 7, "250 a"},
        ReplyCase{"NulAndCrShownAsBlanks", "550 a\0b\rc\r\n"s, TReplyState::Complete, 550, 11, "550 a b c"},
        ReplyCase{"WithoutLineEnd", "250 ok", TReplyState::Incomplete, 0, 0, ""},
        ReplyCase{"NotACode", "hello\r\n", TReplyState::Malformed, 0, 7, "hello"},
        ReplyCase{"ShortLine", "25\r\n", TReplyState::Malformed, 0, 4, "25"},
        ReplyCase{"BadContinuation", "250-a\r\nxyz\r\n", TReplyState::Malformed, 0, 12, "xyz"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(Capabilities, KeywordsOfAnEhloReply)
{
    const TReply reply{250, {"250-mx.example Hello", "250-PIPELINING", "250-SIZE 35882577", "250-8BITMIME",
                             "250-auth=LOGIN", "250-AUTH PLAIN login XOAUTH2", "250-starttls", "250 SMTPUTF8"}};
    const TCapabilities caps = ParseCapabilities(reply);
    EXPECT_TRUE(caps.StartTLS && caps.EightBitMIME && caps.SMTPUTF8 && caps.Pipelining && caps.SizeExtension);
    EXPECT_EQ(caps.Size, 35882577u);
    EXPECT_EQ(caps.AuthMechanisms, (std::vector<std::string>{"LOGIN", "PLAIN", "XOAUTH2"}));
    const TCapabilities bare = ParseCapabilities(TReply{250, {"250-STARTTLS greets", "250 SIZE"}});
    EXPECT_TRUE(!bare.StartTLS && bare.SizeExtension && bare.Size == 0);   // the greeting line is no keyword
}

TEST(Sasl, ResponsesAndTheChoiceOfMechanism)
{
    EXPECT_EQ(PlainResponse("alice", "secret"), "AGFsaWNlAHNlY3JldA==");
    EXPECT_EQ(FromBase64(XOAuth2Response("a@b", "T")), "user=a@b\1auth=Bearer T\1\1");
    EXPECT_EQ(FromBase64(OAuthBearerResponse("u,=v", "h.test", 587, "T")),
              "n,a=u=2C=3Dv,\1host=h.test\1port=587\1auth=Bearer T\1\1");
    EXPECT_EQ(FromBase64("VXNlcm5hbWU6"), "Username:");
    EXPECT_EQ(FromBase64("not base64"), "");
    const std::vector<std::string> both = {"LOGIN", "PLAIN"}, login = {"LOGIN"}, oauth = {"XOAUTH2"};
    EXPECT_EQ(ChooseMechanism(amAuto, both), amPLAIN);
    EXPECT_EQ(ChooseMechanism(amAuto, login), amLOGIN);
    EXPECT_EQ(ChooseMechanism(amAuto, oauth), std::nullopt);   // OAuth only when chosen
    EXPECT_EQ(ChooseMechanism(amXOAUTH2, oauth), amXOAUTH2);
    EXPECT_EQ(ChooseMechanism(amOAUTHBEARER, oauth), std::nullopt);
}

TEST(TrustedCertificates, MatchHostPortAndFingerprint)
{
    const std::string list = " mx.test:465=ab:CD:01  [::1]:587=ABCD02 ";
    EXPECT_TRUE(IsTrustedCertificate(list, "MX.test:465", "AB:CD:01"));
    EXPECT_TRUE(IsTrustedCertificate(list, "[::1]:587", "ab:cd:02"));
    EXPECT_FALSE(IsTrustedCertificate(list, "mx.test:587", "AB:CD:01"));   // another port
    EXPECT_FALSE(IsTrustedCertificate(list, "mx.test:465", "AB:CD:02"));
    EXPECT_FALSE(IsTrustedCertificate("mx.test:465=", "mx.test:465", ""));
}

TEST(Hints, FromTheWordsOfARefusal)
{
    EXPECT_NE(RefusalHint(534, "5.7.9 Application-specific password required"), "");
    EXPECT_NE(RefusalHint(535, "5.7.139 Authentication unsuccessful, basic authentication is disabled"), "");
    EXPECT_EQ(RefusalHint(535, "5.7.8 Authentication credentials invalid"), "");
    EXPECT_EQ(Megabytes(31234567), "31.2 MB");
    EXPECT_EQ(Megabytes(25000000), "25.0 MB");
}

} // namespace
