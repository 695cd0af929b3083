// One session against a real SMTP server (aiosmtpd on 127.0.0.1).
#include "aiosmtpd_server.h"
#include "msgbox.h"
#include "smtp.h"

#include <gtest/gtest.h>

namespace {

TEST(RealServer, DeliversAPlainMessage)
{
    TAiosmtpdServer server;
    ASSERT_TRUE(server.Running()) << server.Error();
    std::vector<TMessageBox> boxes;
    const auto old = SetMessageBoxHandler([&](const TMessageBox& box) { boxes.push_back(box); });
    {
        TSMTP smtp;
        smtp.SetServer(server.Address());
        smtp.SetTimeOut(10);
        smtp.SetFrom("sender@example.org|Sender");
        smtp.SetRecipient("rcpt@example.net|Rcpt");
        smtp.SetBCC(TStrings{"hidden@example.net"});
        smtp.SetSubject("Plain test");
        smtp.SetBody(TStrings{"Hello,", ".starts with a dot", "", "bye"});
        try {
            smtp.Open();
            smtp.Login();
            smtp.Transmit();
            smtp.Logout();
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
        }
        smtp.Close();
    }
    SetMessageBoxHandler(old);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Text, "All Done.");
    EXPECT_EQ(server.Message(1),
              "From:     Sender<sender@example.org>\r\n"
              "To:       Rcpt<rcpt@example.net>\r\n"
              "Subject:  Plain test\r\n"
              "Mime-Version: 1.0\r\n"
              "Content-Type: text/plain; charset=\"us-ascii\"\r\n"
              "Content-Transfer-Encoding: 7bit\r\n"
              "\r\n"
              "Hello,\r\n"
              ".starts with a dot\r\n"
              "\r\n"
              "bye\r\n");
    const std::string envelope = server.Envelope(1);
    EXPECT_NE(envelope.find("\"mail_from\": \"sender@example.org\""), std::string::npos) << envelope;
    EXPECT_NE(envelope.find("\"rcpt_tos\": [\"rcpt@example.net\", \"hidden@example.net\"]"), std::string::npos)
        << envelope;
    EXPECT_NE(envelope.find("\"helo\": \"example.org\""), std::string::npos) << envelope;
}

} // namespace
