// The three encoders against golden files: every tests/data/encoding/X.in
// with an X.b64, X.uu or X.qp beside it is one row, fed whole and in
// odd-sized reads. TESSALY_UPDATE_GOLDEN=1 rewrites the expected files;
// interop_encode.py decodes them with independent decoders. Then the line
// list and the streams that the encoders work on.
#include "../support/test_data.h"
#include "mime.h"
#include "uucode.h"

#include <gtest/gtest.h>

#include <cstring>
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

// The lines of `input` encoded as `kind` (b64, uu, qp) and read at most
// `most` bytes at a time, each line ended by CR LF.
std::string Encode(const std::string& kind, const std::string& input, std::size_t most)
{
    TTestStream stream(input, most);
    TStrings out;
    kind == "b64" ? TBase64(stream, out).Encode() : kind == "uu" ? TUUCode(stream, out).Encode()
                                                                 : TQuotedPrintable(stream, out).Encode();
    return out.Text();
}

class Encoding : public ::testing::TestWithParam<fs::path> {};

TEST_P(Encoding, IsTheGoldenFileWholeAndInOddSizedReads)
{
    const std::string input = ReadFile(fs::path(GetParam()).replace_extension(".in"));
    const std::string kind = GetParam().extension().string().substr(1);
    const std::string want = Golden(GetParam(), Encode(kind, input, 0));
    for (const std::size_t most : {0, 1, 7, 45, 57, 4093})
        ASSERT_EQ(Encode(kind, input, most), want) << "reads of at most " << most << " bytes";
}
// A row: the expected lines X.b64, X.uu or X.qp of the input X.in.
const auto RowName = [](const auto& info) { return info.param.stem().string(); };
INSTANTIATE_TEST_SUITE_P(Base64, Encoding, ::testing::ValuesIn(DataFiles("encoding", ".b64")), RowName);
INSTANTIATE_TEST_SUITE_P(UU, Encoding, ::testing::ValuesIn(DataFiles("encoding", ".uu")), RowName);
INSTANTIATE_TEST_SUITE_P(QP, Encoding, ::testing::ValuesIn(DataFiles("encoding", ".qp")), RowName);

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
        for (const std::string tail : {"\r\nend", "\rend", "\r"})
            for (const std::string kind : {"b64", "uu", "qp"}) {
                const std::string input = text.substr(0, cut - 1) + tail, want = Encode(kind, input, 0);
                for (const std::size_t most : {7, 4093})
                    ASSERT_EQ(Encode(kind, input, most), want) << kind << ", reads of " << most;
            }
}

// ---- progress, cancel, pump and read errors ---------------------------------

// `progress`: input sizes and the reports each gives, blank separated.
template <class TEncoder>
void ExpectProgressCancelPumpAndErrors(const std::vector<std::pair<std::size_t, std::string>>& progress)
{
    const auto reporting = [](TStream& input, const TEncoderEvent& report) {
        return Encoded<TEncoder>(input, [&](TEncoder& e) { e.OnProgress = report; });
    };
    for (const auto& [size, expected] : progress) {   // as it goes, and once more at the end
        TMemoryStream input(std::string(size, 'x'));
        std::string seen;
        reporting(input, [&](auto& s) { seen += std::to_string(s.Progress) + " "; });
        EXPECT_EQ(seen, expected) << size << " bytes";
    }
    TMemoryStream small(std::string(450, 'x'));
    int events = 0;
    EXPECT_TRUE(reporting(small, [&](auto& s) { s.Canceled |= ++events == 3; }).empty());
    EXPECT_EQ(events, 4);   // the third, then the closing report
    const std::string data(4 << 20, 'p');
    for (const bool cancel : {false, true}) {
        TMemoryStream input(data);
        std::size_t pumped = 0;
        const auto pump = [&](TEncoder& e) { e.ProcessMessages = [&] { ++pumped; e.Canceled = cancel; }; };
        const Lines out = Encoded<TEncoder>(input, pump);
        EXPECT_TRUE(pumped >= 1 && pumped <= data.size() / TEncoderPump::ClockCheckBytes + 1) << pumped;
        EXPECT_EQ(out.empty(), cancel);
        EXPECT_EQ(input.Position() < data.size(), cancel);
    }
    TMemoryStream from("--foo");   // from the position on, the output cleared
    from.Seek(2);
    EXPECT_EQ(Encoded<TEncoder>(from, nullptr, TStrings{"old"}).size(), 1u);
    TTestStream failing(std::string(300000, 'f'), 0, 200000);
    int last = -1;
    EXPECT_THROW(reporting(failing, [&](auto& s) { last = s.Progress; }), EReadError);
    EXPECT_EQ(last, 100);
    TTestStream shrunk(std::string(100, 's'), 0, -1, 101);
    EXPECT_THROW(Encoded<TEncoder>(shrunk), EReadError);
}
TEST(ProgressEncoders, Base64ReportsCancelsPumpsAndPassesReadErrors)
{
    ExpectProgressCancelPumpAndErrors<TBase64>({{0, "100 "}, {10, "10 20 30 40 50 60 70 80 90 100 100 "}});
}
TEST(ProgressEncoders, UUReportsCancelsPumpsAndPassesReadErrors)
{
    ExpectProgressCancelPumpAndErrors<TUUCode>({{100, "45 90 100 100 "}, {0, "100 100 "}});
}

TEST(TQuotedPrintable, AppendsStopsAfterTheLineOnCancelAndPassesReadErrors)
{
    TMemoryStream input("one\ntwo\nthree\n");
    int pumped = 0;
    const auto cancel = [&](TQuotedPrintable& e) { e.ProcessMessages = [&] { ++pumped; e.Canceled = true; }; };
    EXPECT_EQ(Encoded<TQuotedPrintable>(input, cancel, TStrings{"kept"}), (Lines{"kept", "one"}));
    EXPECT_EQ(pumped, 1);
    TTestStream failing("one\ntwo\n" + std::string(300000, 'z'), 0, 5);
    TTestStream shrunk("one\n", 0, -1, 10);
    EXPECT_THROW(Encoded<TQuotedPrintable>(failing), EReadError);
    EXPECT_THROW(Encoded<TQuotedPrintable>(shrunk), EReadError);
}

// One character over the limit, at the end or after many lines (across
// read buffers): refused, and the lines before it stay.
TEST(TQuotedPrintable, ParagraphOverTheLimitIsRefusedAndKeepsTheLinesBefore)
{
    const std::string many = Repeat("word word word word word word word word word word word word word word \r\n", 3500);
    for (const std::string& before : {std::string("first\n"), many})
        for (const std::string tail : {"\n", ""}) {
            TMemoryStream input(before + std::string(TQuotedPrintable::MaxLineLength + 1, 'x') + tail + "never\n");
            TMemoryStream alone(before);
            TStrings output;
            EXPECT_THROW(TQuotedPrintable(input, output).Encode(), EMIMEError);
            EXPECT_EQ(output.ToVector(), Encoded<TQuotedPrintable>(alone));
        }
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

// ---- the line list and the streams ---------------------------------------

TEST(LineListAndStreams, KeepLinesInOrderEditInPlaceCopyAndReadBack)
{
    TStrings list{"alpha", "", "gamma"};
    EXPECT_EQ(list[1], "");
    list.Insert(1, "beta");
    list.Put(0, "ALPHA");
    list.Delete(2);
    EXPECT_EQ(list.Text(), "ALPHA\r\nbeta\r\ngamma\r\n");
    EXPECT_THROW(list[3], std::out_of_range);
    // Lines of the list itself as arguments: the buffer may move meanwhile.
    list.Put(0, list[2]);
    list.AddStrings(list);
    EXPECT_EQ(list.ToVector(), (Lines{"gamma", "beta", "gamma", "gamma", "beta", "gamma"}));
    // Assign copies; lines added uninitialized are writable.
    TStrings source;
    std::memcpy(source.AddUninitialized(3), "abc", 3);
    source.Add("def");
    list.Assign(source);
    source.Clear();
    EXPECT_EQ(list.ToVector(), (Lines{"abc", "def"}));
    EXPECT_TRUE(source.Empty());
    // A memory stream reads, writes and seeks; a file stream needs a file.
    TMemoryStream stream;
    stream.Write("hello");
    stream.Seek(0);
    char buffer[8] = {};
    EXPECT_EQ(stream.Read(buffer, 8), 5u);
    EXPECT_EQ(std::string(buffer, 5), "hello");
    EXPECT_EQ(stream.Read(buffer, 8), 0u);
    stream.Seek(1);
    EXPECT_THROW(stream.ReadBuffer(buffer, 5), EReadError);
    EXPECT_THROW(TFileStream("/nonexistent/file"), EFOpenError);
    EXPECT_THROW(TFileStream("/tmp"), EFOpenError);
}

} // namespace
