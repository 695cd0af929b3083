// One session against a real SMTP server (aiosmtpd on 127.0.0.1).
#include "aiosmtpd_server.h"
#include "smtp_session.h"

namespace {

TEST_F(SMTPSessionTest, RealServerDeliversAPlainMessage)
{
    TAiosmtpdServer server;
    ASSERT_TRUE(server.Running()) << server.Error();
    Smtp->SetServer(server.Address());
    Smtp->SetFrom("sender@example.org|Sender");
    Smtp->SetRecipient("rcpt@example.net|Rcpt");
    Smtp->SetBCC(TStrings{"hidden@example.net"});
    Smtp->SetSubject("Plain test");
    Smtp->SetBody(TStrings{"Hello,", ".starts with a dot", "", "bye"});
    EXPECT_EQ(Session(), "ok");
    EXPECT_EQ(Boxes, Lines{"Information: All Done."});
    EXPECT_EQ(server.Message(1), std::string("From:     Sender<sender@example.org>\r\n"
                                             "To:       Rcpt<rcpt@example.net>\r\n")
                                     + FixedDate + "\r\n" + FixedMessageId("example.org") + "\r\n"
                                     "Subject:  Plain test\r\n"
                                 "Mime-Version: 1.0\r\n"
                                 "Content-Type: text/plain; charset=\"us-ascii\"\r\n"
                                 "Content-Transfer-Encoding: 7bit\r\n"
                                 "\r\n"
                                 "Hello,\r\n"
                                 ".starts with a dot\r\n"
                                 "\r\n"
                                 "bye\r\n");
    EXPECT_EQ(server.Envelope(1), "{\"mail_from\": \"sender@example.org\", "
                                  "\"rcpt_tos\": [\"rcpt@example.net\", \"hidden@example.net\"], "
                                  "\"helo\": \"example.org\"}");
}

} // namespace
