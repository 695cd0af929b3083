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
#include <QTimeZone>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <numeric>
#include <typeinfo>

using Lines = std::vector<std::string>;

// Runs the event loop until `done` holds, so that the server catches up
// with what the client sent; gives up after 3 s.
inline void PumpUntil(const std::function<bool()>& done)
{
    for (QDeadlineTimer deadline(3000); !done() && !deadline.hasExpired();)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
}

// Writes `bytes` to a file of that name in a folder that lives as long as
// the test program; returns its path. The name is taken byte for byte (it
// need not be UTF-8), so the folder is removed by its bytes too.
inline std::string TestFile(const std::string& name, const std::string& bytes)
{
    static const struct TFolder {
        QTemporaryDir Dir;
        ~TFolder() { std::filesystem::remove_all(Dir.path().toStdString()); }
    } folder;
    const std::string path = folder.Dir.path().toStdString() + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

// "ok", or the failure of `run` as "EClass: message" (the class from its
// mangled name, which for a global class is its length and then the name).
inline std::string Outcome(const std::function<void()>& run)
{
    try {
        run();
    } catch (const std::exception& e) {
        const std::string type = typeid(e).name();
        return type.substr(type.find_first_not_of("0123456789")) + ": " + e.what();
    }
    return "ok";
}

struct SMTPSessionTest : ::testing::Test {
    void SetUp() override
    {
        FOldBox = SetMessageBoxHandler([this](const TMessageBox& box) {
            static const char* const kinds[] = {"Error: ", "Warning: ", "Information: "};
            Boxes.push_back(kinds[int(box.Kind)] + box.Text);
        });
        Smtp = std::make_unique<TSMTP>();
        Smtp->SetTimeOut(5);
        // Every message is dated by this clock and identified from these
        // random bytes (00 01 .. 0f), so that whole messages compare exactly.
        Smtp->Clock = [] { return QDateTime(QDate(2026, 12, 6), QTime(23, 41, 7), QTimeZone(3600)); };
        Smtp->RandomBytes = [](std::span<unsigned char> bytes) { std::iota(bytes.begin(), bytes.end(), 0); };
        Smtp->OnStatusChange = [this](QObject*) { Statuses.push_back(Smtp->Status()); };
        Smtp->OnProgress = [this](QObject*) { Progress.push_back(Smtp->Progress()); };
    }
    void TearDown() override { Smtp.reset(), SetMessageBoxHandler(FOldBox); }
    void Serve(const Lines& script) { Server.reset(new TFakeSMTPServer(script)), Smtp->SetServer(Server->Address()); }
    // Open, Login, Transmit, Logout and Close, as Outcome.
    std::string Session()
    {
        const std::string outcome = Outcome([&] { Smtp->Open(), Smtp->Login(), Smtp->Transmit(), Smtp->Logout(); });
        Smtp->Close();
        return outcome;
    }
    std::unique_ptr<TSMTP> Smtp;
    std::unique_ptr<TFakeSMTPServer> Server;
    std::vector<TMailStatus> Statuses;
    std::vector<int> Progress;
    Lines Boxes;   // "Kind: text"
    TMessageBoxHandler FOldBox;
};
