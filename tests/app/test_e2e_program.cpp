// The real program, end to end: started with a file and an address, it
// mails the file through a real SMTP server on 127.0.0.1 and ends by
// itself with exit code 0.
#include "aiosmtpd_server.h"
#include "support_app_window.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

namespace {

// Generous: the run itself takes well under a second.
constexpr int kProgramDeadlineMs = 60000;

TEST(Program, CommandLineRunDeliversAndExitsByItself)
{
    TAiosmtpdServer server;
    ASSERT_TRUE(server.Running()) << server.Error();
    TScratch scratch;
    // A copy of the program, so that its settings file lies beside it.
    const QString program = QString::fromStdString(scratch.Path("tessaly"));
    ASSERT_TRUE(QFile::copy(TESSALY_BINARY_DIR "/app/tessaly", program));
    const std::string text = scratch.Write("text.txt", "Here is the report.\r\n");
    scratch.Write("tessaly.ini",
                  IniText({"Server=" + server.Address(), "EMail Address=sender@example.com", "Name=Sender",
                           "MsgText=1", "MsgTextFile=" + text, "MsgSubject=1", "ShowSuccess=0"},
                          {"kept@example.com"}));
    const std::string report = scratch.Write("report.txt", "numbers 1 2 3\r\n");

    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(QString::fromStdString(scratch.Path("")));
    process.start(program, {QString::fromStdString(report), "boss@example.com"});
    ASSERT_TRUE(process.waitForStarted());
    const bool finished = process.waitForFinished(kProgramDeadlineMs);
    if (!finished)
        process.kill();
    ASSERT_TRUE(finished) << process.readAllStandardError().toStdString();

    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    const std::string message = server.Message(1);
    EXPECT_NE(message.find("Subject:  Files: report.txt"), std::string::npos) << message;
    EXPECT_NE(message.find("Here is the report."), std::string::npos);
    EXPECT_NE(message.find("report.txt"), std::string::npos);
    EXPECT_NE(server.Envelope(1).find("boss@example.com"), std::string::npos) << server.Envelope(1);
    EXPECT_EQ(server.Message(2), "");
    // The run closed the window, which saved the settings.
    EXPECT_NE(scratch.Read("tessaly.ini").find("anAddress0=kept@example.com"), std::string::npos);
}

}
