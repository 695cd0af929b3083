// Shared by the transport tests: a TSMTP talking to a scripted server, its
// status changes, progress values and result boxes recorded. Header-only,
// so that only the programs that include it need the mail library.
#pragma once

#include "fake_smtp_server.h"
#include "msgbox.h"
#include "smtp.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using Lines = std::vector<std::string>;

inline Lines Join(std::initializer_list<Lines> parts)
{
    Lines all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// Runs the event loop until `done` holds, so that the server catches up
// with what the client sent; gives up after `milliseconds`.
inline void PumpUntil(const std::function<bool()>& done, int milliseconds = 3000)
{
    QDeadlineTimer deadline(milliseconds);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
}

// Writes `bytes` to a file of that name in a folder that lives as long as
// the test program; returns its path.
inline std::string TestFile(const std::string& name, const std::string& bytes)
{
    static QTemporaryDir dir;
    const std::string path = dir.filePath(QString::fromStdString(name)).toStdString();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

// Long line lists (large files) compared without printing them whole.
inline void ExpectSameLines(const Lines& got, const Lines& expected)
{
    if (expected.size() < 200) {
        EXPECT_EQ(got, expected);
        return;
    }
    const auto diff = std::mismatch(got.begin(), got.end(), expected.begin(), expected.end());
    if (diff.first == got.end() && diff.second == expected.end())
        return;
    ADD_FAILURE() << "lines differ from line " << diff.first - got.begin() << " on: got "
                  << (diff.first == got.end() ? "<end>" : '"' + *diff.first + '"') << ", expected "
                  << (diff.second == expected.end() ? "<end>" : '"' + *diff.second + '"');
}

class SMTPSessionTest : public ::testing::Test {
public:
    void SetUp() override
    {
        FOldBox = SetMessageBoxHandler([this](const TMessageBox& box) {
            static const char* const kinds[] = {"Error: ", "Warning: ", "Information: "};
            Boxes.push_back(kinds[int(box.Kind)] + box.Text);
        });
        Smtp = std::make_unique<TSMTP>();
        Smtp->SetTimeOut(5);
        Smtp->OnStatusChange = [this](QObject*) { Statuses.push_back(Smtp->Status()); };
        Smtp->OnProgress = [this](QObject*) { Progress.push_back(Smtp->Progress()); };
    }
    void TearDown() override
    {
        Smtp.reset();
        SetMessageBoxHandler(FOldBox);
    }
    void Serve(const Lines& script)
    {
        Server = std::make_unique<TFakeSMTPServer>(script);
        Smtp->SetServer(Server->Address());
    }
    // Open, Login, Transmit `transmits` times, Logout and Close; "ok", or
    // the failure as "EClass: message" after closing the socket as a host
    // would.
    std::string Session(int transmits = 1)
    {
        std::string outcome = "ok";
        try {
            Smtp->Open();
            Smtp->Login();
            for (int i = 0; i < transmits; ++i)
                Smtp->Transmit();
            Smtp->Logout();
        } catch (const ECanceledError& e) {
            outcome = std::string("ECanceledError: ") + e.what();
        } catch (const ETimedOutError& e) {
            outcome = std::string("ETimedOutError: ") + e.what();
        } catch (const ESocketError& e) {
            outcome = std::string("ESocketError: ") + e.what();
        } catch (const EMailError& e) {
            outcome = std::string("EMailError: ") + e.what();
        } catch (const std::exception& e) {
            outcome = std::string("unexpected: ") + e.what();
        }
        Smtp->Close();
        return outcome;
    }
    // Once the client has closed: the server received the "C:" lines of
    // `script` and nothing else.
    void ExpectClientSent(const Lines& script)
    {
        PumpUntil([&] { return Server->ClientClosed(); });
        ExpectSameLines(Server->Received(), TFakeSMTPServer::ClientLines(script));
    }

    std::unique_ptr<TSMTP> Smtp;
    std::unique_ptr<TFakeSMTPServer> Server;
    std::vector<TMailStatus> Statuses;
    std::vector<int> Progress;
    Lines Boxes;   // "Kind: text"

private:
    TMessageBoxHandler FOldBox;
};
