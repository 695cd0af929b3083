#include "sixbit.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>

namespace {

// Twelve input bytes to sixteen six-bit values, one per byte, in order:
// each group b0 b1 b2 is spread over a 32-bit lane as b1 b0 b2 b1 and the
// four fields are cut out by two multiplies. Sixteen bytes are read; the
// twelve are the first ones (HeadOffset) or the last ones (TailOffset).
constexpr int HeadOffset = 0;
constexpr int TailOffset = 4;

template <int Offset>
__attribute__((target("ssse3"))) __m128i SixBitValues(const std::uint8_t* in)
{
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i spread = _mm_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10);
    const __m128i lanes = _mm_shuffle_epi8(bytes, _mm_add_epi8(spread, _mm_set1_epi8(Offset)));
    const __m128i high = _mm_mulhi_epu16(_mm_and_si128(lanes, _mm_set1_epi32(0x0FC0FC00)), _mm_set1_epi32(0x04000040));
    const __m128i low = _mm_mullo_epi16(_mm_and_si128(lanes, _mm_set1_epi32(0x003F03F0)), _mm_set1_epi32(0x01000010));
    return _mm_or_si128(high, low);
}

// RFC 4648 alphabet: the offset from the value to its character depends on
// the range the value lies in (A-Z, a-z, 0-9, "+", "/").
__attribute__((target("ssse3"))) __m128i Base64Characters(__m128i values)
{
    const __m128i offsets = _mm_setr_epi8('a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                                          '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0);
    __m128i range = _mm_subs_epu8(values, _mm_set1_epi8(51));
    const __m128i upper = _mm_cmpgt_epi8(_mm_set1_epi8(26), values);
    range = _mm_or_si128(range, _mm_and_si128(upper, _mm_set1_epi8(13)));
    return _mm_add_epi8(values, _mm_shuffle_epi8(offsets, range));
}

// uuencode alphabet: 0x20 + value, the value 0 as the backquote (0x60).
__attribute__((target("ssse3"))) __m128i UUCharacters(__m128i values)
{
    const __m128i zero = _mm_cmpeq_epi8(values, _mm_setzero_si128());
    return _mm_add_epi8(_mm_add_epi8(values, _mm_set1_epi8(0x20)), _mm_and_si128(zero, _mm_set1_epi8(0x40)));
}

constexpr std::size_t VectorGroups = 4;    // 12 input bytes, 16 characters
constexpr std::size_t MinimumGroups = 6;   // 18 bytes: the 16-byte load stays inside

bool DetectSSSE3()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3");
}

} // namespace

const bool SixBitVectorAvailable = DetectSSSE3();

__attribute__((target("ssse3"))) void Store(TSixBitAlphabet alphabet, __m128i values, char* out)
{
    const __m128i text = alphabet == TSixBitAlphabet::Base64 ? Base64Characters(values) : UUCharacters(values);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), text);
}

__attribute__((target("ssse3")))
char* EncodeGroupsVector(TSixBitAlphabet alphabet, const TCharPairs& pairs, const std::uint8_t* in,
                         std::size_t groups, char* out)
{
    if (groups < MinimumGroups)
        return EncodeGroupsScalar(pairs, in, groups, out);
    for (; groups >= MinimumGroups; groups -= VectorGroups, in += 12, out += 16)
        Store(alphabet, SixBitValues<HeadOffset>(in), out);
    // 2 to 5 groups are left: the last four come from the sixteen bytes that
    // end the input (a group done twice gives the same characters).
    if (groups > VectorGroups) {
        out = EncodeGroupsScalar(pairs, in, 1, out);
        in += 3;
        --groups;
    }
    const std::size_t back = VectorGroups - groups;
    Store(alphabet, SixBitValues<TailOffset>(in + 3 * groups - 16), out - 4 * back);
    return out + 4 * groups;
}

#else

const bool SixBitVectorAvailable = false;

char* EncodeGroupsVector(TSixBitAlphabet, const TCharPairs& pairs, const std::uint8_t* in, std::size_t groups, char* out)
{
    return EncodeGroupsScalar(pairs, in, groups, out);
}

#endif
