// The three encoders against golden files: every tests/data/encoding/X.in
// with an X.b64, X.uu or X.qp beside it is one row, fed whole and in
// odd-sized reads. TESSALY_UPDATE_GOLDEN=1 rewrites the expected files;
// interop_encode.py decodes the same inputs with independent decoders.
#include "../support/test_data.h"
#include "mime.h"
#include "uucode.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// A file as it may behave: at most `most` bytes per Read (0: as many as
// asked); EReadError past `good` bytes, as a failing disk; a stated size
// larger than its data (0: none), as a file cut short while it is read.
class TTestStream : public TMemoryStream {
public:
    TTestStream(std::string data, std::size_t most, std::size_t good = -1, std::uint64_t stated = 0)
        : TMemoryStream(std::move(data)), FMost(most), FGood(good), FStated(stated) {}
    std::size_t Read(void* buffer, std::size_t count) override
    {
        if (Position() >= FGood)
            throw EReadError("Error reading file \"test\". Input/output error");
        return TMemoryStream::Read(buffer, std::min({count, FMost ? FMost : count, FGood - Position()}));
    }
    std::uint64_t Size() const override { return FStated ? FStated : TMemoryStream::Size(); }

private:
    std::size_t FMost, FGood;
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

// A row: the expected lines X.b64, X.uu or X.qp of the input X.in.
std::vector<fs::path> Goldens()
{
    std::vector<fs::path> all;
    for (const auto& kind : {".b64", ".uu", ".qp"})
        for (auto& file : DataFiles("encoding", kind))
            all.push_back(file);
    return all;
}

class Encoding : public ::testing::TestWithParam<fs::path> {};

TEST_P(Encoding, IsTheGoldenFileWholeAndInOddSizedReads)
{
    const fs::path expected = GetParam();
    const std::string input = ReadFile(fs::path(expected).replace_extension(".in"));
    std::string want;
    for (const std::size_t most : {0, 1, 7, 45, 57, 4093}) {
        TTestStream stream(input, most);
        std::string got;
        for (const auto& line : Encode(expected.extension().string().substr(1), stream))
            got += line + "\r\n";
        if (most == 0)
            want = Golden(expected, got);
        ASSERT_EQ(got, want) << "reads of at most " << most << " bytes";
    }
}
INSTANTIATE_TEST_SUITE_P(Files, Encoding, ::testing::ValuesIn(Goldens()), [](const auto& info) {
    return info.param.stem().string() + "_" + info.param.extension().string().substr(1);
});

// Beyond the encoders' read buffers (base64 2048 lines, UU 4096 blocks, QP
// 256 KiB): reads of any size give the lines of one whole read.
TEST(Encoders, LargeInputsGiveTheSameLinesInAnyReadSize)
{
    std::mt19937 random(9);
    const char* ends[] = {"\n", "\r\n", "\r", "\n\r", "\r\r", "\n\n"};
    std::string text;
    while (text.size() < 700000) {
        for (std::size_t i = 0, length = random() % 200; i < length; ++i) {
            const unsigned r = random() % 100;
            text += r < 15 ? ' ' : r < 17 ? '=' : r < 18 ? '\t' : r < 20 ? char(0xA0 + r) : char('a' + r % 26);
        }
        text += ends[random() % 6];
    }
    // A CR at the end of the quoted-printable encoder's first read, then an
    // LF, other text or nothing in the next.
    for (const std::size_t cut : {262143, 262144, 262145, 700000})
    for (const std::string tail : {"\r\nend", "\rend", "\r"}) {
        const std::string input = text.substr(0, cut - 1) + tail;
        for (const std::string kind : {"b64", "uu", "qp"}) {
            TTestStream whole(input, 0);
            const Lines want = Encode(kind, whole);
            for (const std::size_t most : {7, 4093}) {
                TTestStream parts(input, most);
                ASSERT_EQ(Encode(kind, parts), want) << kind << ", reads of " << most;
            }
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
    TTestStream failing(std::string(300000, 'f'), 0, 200000);
    int last = -1;
    EXPECT_THROW(Encoded<TEncoder>(failing, [&](TEncoder& e) { e.OnProgress = [&](TProgressEncoder& s) { last = s.Progress; }; }),
                 EReadError);
    EXPECT_EQ(last, 100);
    TTestStream shrunk(std::string(100, 's'), 0, -1, 101);
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
    TTestStream failing("one\ntwo\n" + std::string(300000, 'z'), 0, 5);
    EXPECT_THROW(Encoded<TQuotedPrintable>(failing), EReadError);
    TTestStream shrunk("one\n", 0, -1, 10);
    EXPECT_THROW(Encoded<TQuotedPrintable>(shrunk), EReadError);
}

// The line helpers on their own: the value past a zero-byte UU block comes
// from the buffer; wrapping clears the list it fills.
TEST(Encoders, LineHelpersWorkAlone)
{
    TMemoryStream none;
    TStrings pieces{"stale"};
    EXPECT_EQ(TUUCode(none, pieces).EncodeLine(TUUCode::TBlock{'a', 'b', 'c'}, 0), "`8");
    TQuotedPrintable::WrapLine("abcdef ", 4, pieces);
    EXPECT_EQ(pieces.ToVector(), (Lines{"abcd=", "ef=20"}));
    std::string piece = "a=b\t\xFF c";
    TQuotedPrintable::EscapeLine(piece);
    EXPECT_EQ(piece, "a=3Db=09=FF c");
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
