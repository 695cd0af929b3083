// The pure parts of the dialogue: replies as they arrive, EHLO keywords,
// SASL responses, trusted fingerprints, hints, sizes, server names, socket
// error texts and line progress. One table: what a call gives, what it must.
#include "auth.h"
#include "reply.h"
#include "smtp_session.h"
#include "test_data.h"
#include "tls.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

// "State Code Consumed Text": the text of a complete reply, else its lines.
std::string Scan(std::string_view input)
{
    const TReplyScan scan = ParseReply(input);
    const bool complete = scan.State == TReplyState::Complete;
    return std::string(complete ? "Complete " : scan.State == TReplyState::Malformed ? "Malformed " : "Incomplete ") +
           std::to_string(scan.Reply.Code) + " " + std::to_string(scan.Consumed) + " " +
           (complete ? scan.Reply.Text() : Joined(scan.Reply.Lines, [](const std::string& l) { return l; }));
}

std::string Caps(const std::vector<std::string>& lines)
{
    const TCapabilities c = ParseCapabilities(TReply{250, lines});
    return std::string(c.StartTLS ? "starttls " : "") + (c.EightBitMIME ? "8bitmime " : "") +
           (c.SMTPUTF8 ? "smtputf8 " : "") + (c.Pipelining ? "pipelining " : "") +
           (c.SizeExtension ? "size " + std::to_string(c.Size) : "") + " auth " +
           Joined(c.AuthMechanisms, [](const std::string& m) { return m; });
}

// "host port", or the failure for a server that names no valid port.
std::string Split(std::string_view server)
{
    std::string split;
    const std::string outcome = Outcome([&] {
        const auto [host, port] = SplitServer(server);
        split = host + " " + std::to_string(port); });
    return outcome == "ok" ? split : outcome;
}

TEST(Dialogue, PureParts)
{
    const std::string list = " mx.test:465=ab:CD:01  [::1]:587=ABCD02 ";
    const auto trust = [](auto list, auto key, auto print) {
        return std::to_string(IsTrustedCertificate(list, key, print)); };
    const auto hint = [](int code, auto text) { return std::to_string(!RefusalHint(code, text).empty()); };
    const auto mechanism = [](TAuthMethod wanted, const std::vector<std::string>& offered) {
        const auto chosen = ChooseMechanism(wanted, offered);
        return chosen ? std::to_string(*chosen) : "none"; };
    std::string kept = "kept";   // error 0 leaves the text as it is
    WinsockErrorText(0, kept);
    const std::pair<std::string, std::string> rows[] = {
        {Scan("250 ok\r\n"), "Complete 250 8 250 ok"},
        {Scan("220 hi\n"), "Complete 220 7 220 hi"},   // LF alone ends a line
        {Scan("535-5.7.8 Username and\r\n535 5.7.8 password not accepted\r\n"),
         "Complete 535 57 535 5.7.8 Username and 5.7.8 password not accepted"},
        {Scan("250 a\r\n250 b\r\n"), "Complete 250 7 250 a"},   // only the first reply
        {Scan(std::string_view("550 a\0b\rc\r\n", 11)), "Complete 550 11 550 a b c"},   // NUL and CR shown as blanks
        {Scan("220\r\n"), "Complete 220 5 220"},   // the text is optional (RFC 5321 4.2)
        {Scan("250 \r\n"), "Complete 250 6 250"},
        {Scan("250 ok"), "Incomplete 0 0 "},
        {Scan("hello\r\n"), "Malformed 0 7 hello"},
        {Scan("25\r\n"), "Malformed 0 4 25"},
        {Scan("250-a\r\nxyz\r\n"), "Malformed 0 12 xyz"},
        {Caps({"250-mx.example Hello", "250-PIPELINING", "250-SIZE 35882577", "250-8BITMIME", "250-auth=LOGIN",
               "250-AUTH PLAIN login XOAUTH2", "250-starttls", "250 SMTPUTF8"}),
         "starttls 8bitmime smtputf8 pipelining size 35882577 auth LOGIN PLAIN XOAUTH2"},
        {Caps({"250-STARTTLS greets", "250 SIZE"}), "size 0 auth "},   // the greeting line is no keyword
        {PlainResponse("alice", "secret"), "AGFsaWNlAHNlY3JldA=="},
        {FromBase64(XOAuth2Response("a@b", "T")), "user=a@b\1auth=Bearer T\1\1"},
        {FromBase64(OAuthBearerResponse("u,=v", "h.test", 587, "T")),
         "n,a=u=2C=3Dv,\1host=h.test\1port=587\1auth=Bearer T\1\1"},
        {FromBase64("VXNlcm5hbWU6") + "|" + FromBase64("not base64"), "Username:|"},
        {mechanism(amAuto, {"LOGIN", "PLAIN"}) + mechanism(amAuto, {"LOGIN"}),
         std::to_string(amPLAIN) + std::to_string(amLOGIN)},
        {mechanism(amAuto, {"XOAUTH2"}), "none"},   // OAuth only when chosen
        {mechanism(amXOAUTH2, {"XOAUTH2"}) + mechanism(amOAUTHBEARER, {"XOAUTH2"}), std::to_string(amXOAUTH2) + "none"},
        // Host and port must match, the fingerprint in any case and with or without colons.
        {trust(list, "MX.test:465", "AB:CD:01") + trust(list, "[::1]:587", "ab:cd:02") +
             trust(list, "mx.test:587", "AB:CD:01") + trust(list, "mx.test:465", "AB:CD:02") +
             trust("mx.test:465=", "mx.test:465", ""), "11000"},
        {hint(534, "5.7.9 Application-specific password required") +
             hint(535, "5.7.8 Authentication credentials invalid") +
             hint(535, "5.7.139 Authentication unsuccessful, basic authentication is disabled"), "101"},
        {Megabytes(31234567) + " " + Megabytes(25000000), "31.2 MB 25.0 MB"},
        // A port that is not 1 to 65535 is an error, not part of the host name.
        {Split("mail.example.org") + ", " + Split("mail.example.org:2525") + ", " + Split("10.0.0.1:587"),
         "mail.example.org 0, mail.example.org 2525, 10.0.0.1 587"},
        {Split("[2001:db8::1]:587") + ", " + Split("[::1]") + ", " + Split("2001:db8::1"),
         "2001:db8::1 587, ::1 0, 2001:db8::1 0"},
        {Split("host:"), "EMailError: The port \"\" of the server host: is not a number from 1 to 65535"},
        {Split("host:0"), "EMailError: The port \"0\" of the server host:0 is not a number from 1 to 65535"},
        {Split("host:65536"),
         "EMailError: The port \"65536\" of the server host:65536 is not a number from 1 to 65535"},
        {Split("host:25x"), "EMailError: The port \"25x\" of the server host:25x is not a number from 1 to 65535"},
        {Split("[::1]x"), "EMailError: The server name [::1]x has text after its \"]\""},
        {Split("[::1:25"), "EMailError: The server name [::1:25 lacks its closing \"]\""},
        {WinsockErrorText(WinsockErrorFromErrno(ECONNREFUSED)), "Connection refused"},
        {WinsockErrorText(WinsockErrorFromErrno(EPIPE)), "Cannot send after socket shutdown"},
        {WinsockErrorText(11001) + ", " + WinsockErrorText(12345) + ", " + kept,
         "Host not found, Winsock Error No. 12345, kept"},
        // Line progress rounds halves to even: 0.5 1.5 2.5 12.5.
        {Joined(std::vector<std::pair<int, int>>{{0, 1}, {2, 4}, {1, 201}, {3, 201}, {5, 201}, {1, 9}},
                [](auto c) { return std::to_string(LineProgress(c.first, c.second)); }),
         "0 67 0 2 2 12"},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i)
        EXPECT_EQ(rows[i].first, rows[i].second) << "row " << i;
}

} // namespace
