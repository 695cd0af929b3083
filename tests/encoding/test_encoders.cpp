// The three encoders against golden files: every tests/data/encoding/X.in
// with an X.b64, X.uu or X.qp beside it is one row, fed whole and in
// odd-sized reads. TESSALY_UPDATE_GOLDEN=1 rewrites the expected files;
// interop_encode.py checks them with independent decoders.
#include "mime.h"
#include "uucode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// Delivers at most `most` bytes per Read (0: as many as asked).
class TChunkStream : public TMemoryStream {
public:
    TChunkStream(std::string data, std::size_t most) : TMemoryStream(std::move(data)), FMost(most) {}
    std::size_t Read(void* buffer, std::size_t count) override
    {
        return TMemoryStream::Read(buffer, FMost ? std::min(count, FMost) : count);
    }

private:
    std::size_t FMost;
};

// Delivers `good` bytes, then raises EReadError as a failing disk would.
class TFailingStream : public TMemoryStream {
public:
    TFailingStream(std::string data, std::size_t good) : TMemoryStream(std::move(data)), FGood(good) {}
    std::size_t Read(void* buffer, std::size_t count) override
    {
        if (Position() >= FGood)
            throw EReadError("Error reading file \"test\". Input/output error");
        return TMemoryStream::Read(buffer, std::min<std::size_t>(count, FGood - Position()));
    }

private:
    std::size_t FGood;
};

// States a size larger than its data (a file cut short while it is read).
class TShrunkStream : public TMemoryStream {
public:
    TShrunkStream(std::string data, std::uint64_t stated) : TMemoryStream(std::move(data)), FStated(stated) {}
    std::uint64_t Size() const override { return FStated; }

private:
    std::uint64_t FStated;
};

template <class TEncoder>
Lines Encoded(TStream& input, const std::function<void(TEncoder&)>& setup = nullptr, TStrings output = {})
{
    TEncoder encoder(input, output);
    if (setup)
        setup(encoder);
    encoder.Encode();
    return output.ToVector();
}

Lines Encode(const std::string& kind, TStream& input)
{
    return kind == "b64" ? Encoded<TBase64>(input) : kind == "uu" ? Encoded<TUUCode>(input) : Encoded<TQuotedPrintable>(input);
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct TGolden {
    fs::path Expected;   // X.b64, X.uu or X.qp
};
void PrintTo(const TGolden& g, std::ostream* out) { *out << g.Expected.filename(); }

std::vector<TGolden> Goldens()
{
    std::vector<TGolden> all;
    for (const auto& entry : fs::directory_iterator(fs::path(TESSALY_TEST_DATA) / "encoding"))
        if (entry.path().extension() != ".in")
            all.push_back({entry.path()});
    std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.Expected < b.Expected; });
    return all;
}

class Golden : public ::testing::TestWithParam<TGolden> {};

TEST_P(Golden, WholeAndInOddSizedReads)
{
    const fs::path expected = GetParam().Expected;
    const std::string kind = expected.extension().string().substr(1);
    const std::string input = ReadFile(fs::path(expected).replace_extension(".in"));
    std::string want = ReadFile(expected);
    for (const std::size_t most : {0, 1, 7, 45, 57, 4093}) {
        TChunkStream stream(input, most);
        std::string got;
        for (const auto& line : Encode(kind, stream))
            got += line + "\r\n";
        if (most == 0 && std::getenv("TESSALY_UPDATE_GOLDEN"))
            std::ofstream(expected, std::ios::binary) << (want = got);
        ASSERT_EQ(got, want) << "reads of at most " << most << " bytes";
    }
}
INSTANTIATE_TEST_SUITE_P(Files, Golden, ::testing::ValuesIn(Goldens()), [](const auto& info) {
    const fs::path& file = info.param.Expected;
    return file.stem().string() + "_" + file.extension().string().substr(1);
});

// Beyond the encoders' read buffers (base64 2048 lines, UU 4096 blocks, QP
// 256 KiB): reads of any size give the lines of one whole read.
TEST(Encoders, LargeInputsGiveTheSameLinesInAnyReadSize)
{
    std::mt19937 random(9);
    const char* ends[] = {"\n", "\r\n", "\r", "\n\r", "\r\r", "\n\n"};
    std::string text;
    while (text.size() < 700000) {
        for (std::size_t i = 0, length = random() % 200; i < length; ++i)
            text += " =\t\xe9xyz"[random() % 7];
        text += ends[random() % 6];
    }
    for (const std::string kind : {"b64", "uu", "qp"}) {
        TChunkStream whole(text, 0);
        const Lines want = Encode(kind, whole);
        for (const std::size_t most : {7, 4093}) {
            TChunkStream parts(text, most);
            ASSERT_EQ(Encode(kind, parts), want) << kind << ", reads of " << most;
        }
    }
}

// ---- progress, cancel, pump and read errors ---------------------------------

std::string Progress(const std::string& kind, std::size_t size)
{
    TMemoryStream input(std::string(size, 'x'));
    std::string seen;
    const auto record = [&](TProgressEncoder& e) {
        e.OnProgress = [&](TProgressEncoder& sender) { seen += std::to_string(sender.Progress) + " "; };
    };
    kind == "b64" ? Encoded<TBase64>(input, record) : Encoded<TUUCode>(input, record);
    return seen;
}

TEST(ProgressEncoders, ReportAsTheyGoAndOnceMoreAtTheEnd)
{
    EXPECT_EQ(Progress("b64", 0), "100 ");
    EXPECT_EQ(Progress("b64", 10), "10 20 30 40 50 60 70 80 90 100 100 ");
    EXPECT_EQ(Progress("uu", 100), "45 90 100 100 ");
    EXPECT_EQ(Progress("uu", 0), "100 100 ");
}

template <class TEncoder>
void ExpectCancelPumpAndErrors()
{
    TMemoryStream small(std::string(450, 'x'));
    int events = 0;
    EXPECT_TRUE(Encoded<TEncoder>(small, [&](TEncoder& e) {
                    e.OnProgress = [&](TProgressEncoder& sender) { sender.Canceled |= ++events == 3; };
                }).empty());
    EXPECT_EQ(events, 4);   // the third, then the closing report
    const std::string data(4 << 20, 'p');
    for (const bool cancel : {false, true}) {
        TMemoryStream input(data);
        std::size_t pumped = 0;
        const Lines out = Encoded<TEncoder>(input, [&](TEncoder& e) { e.ProcessMessages = [&] { ++pumped; e.Canceled = cancel; }; });
        EXPECT_TRUE(pumped >= 1 && pumped <= data.size() / TEncoderPump::ClockCheckBytes + 1) << pumped;
        EXPECT_EQ(out.empty(), cancel);
        EXPECT_EQ(input.Position() < data.size(), cancel);
    }
    TMemoryStream from("--foo");   // from the position on, the output cleared
    from.Seek(2);
    EXPECT_EQ(Encoded<TEncoder>(from, nullptr, TStrings{"old"}).size(), 1u);
    TFailingStream failing(std::string(300000, 'f'), 200000);
    int last = -1;
    EXPECT_THROW(Encoded<TEncoder>(failing, [&](TEncoder& e) { e.OnProgress = [&](TProgressEncoder& s) { last = s.Progress; }; }),
                 EReadError);
    EXPECT_EQ(last, 100);
    TShrunkStream shrunk(std::string(100, 's'), 101);
    EXPECT_THROW(Encoded<TEncoder>(shrunk), EReadError);
}
TEST(ProgressEncoders, Base64CancelPumpAndReadErrors) { ExpectCancelPumpAndErrors<TBase64>(); }
TEST(ProgressEncoders, UUCancelPumpAndReadErrors) { ExpectCancelPumpAndErrors<TUUCode>(); }

TEST(TQuotedPrintable, AppendsStopsAfterTheLineOnCancelAndPassesReadErrors)
{
    TMemoryStream input("one\ntwo\nthree\n");
    int pumped = 0;
    const Lines out = Encoded<TQuotedPrintable>(input, [&](TQuotedPrintable& e) {
        e.ProcessMessages = [&] { ++pumped; e.Canceled = true; };
    }, TStrings{"kept"});
    EXPECT_EQ(out, (Lines{"kept", "one"}));
    EXPECT_EQ(pumped, 1);
    TFailingStream failing("one\ntwo\n" + std::string(300000, 'z'), 5);
    EXPECT_THROW(Encoded<TQuotedPrintable>(failing), EReadError);
    TShrunkStream shrunk("one\n", 10);
    EXPECT_THROW(Encoded<TQuotedPrintable>(shrunk), EReadError);
}

// One character over the limit, at the end or after many lines (across
// read buffers): refused, and the lines before it stay.
TEST(TQuotedPrintable, ParagraphOverTheLimitIsRefusedAndKeepsTheLinesBefore)
{
    std::string many;
    for (int i = 0; i < 3500; ++i)
        many += "word word word word word word word word word word word word word word \r\n";
    for (const std::string& before : {std::string("first\n"), many}) {
        for (const std::string tail : {"\n", ""}) {
            TMemoryStream input(before + std::string(TQuotedPrintable::MaxLineLength + 1, 'x') + tail + "never\n");
            TMemoryStream alone(before);
            TStrings output;
            try {
                TQuotedPrintable(input, output).Encode();
                ADD_FAILURE() << "no error for an overlong paragraph";
            } catch (const EMIMEError& e) {
                EXPECT_STREQ(e.what(), "Paragraph is too large");
            }
            EXPECT_EQ(output.ToVector(), Encoded<TQuotedPrintable>(alone));
        }
    }
}

} // namespace
