// Whole runs whose every output byte is pinned: the bundled sample and generated pictures
// of odd and even sides keep fixed SHA-256 digests for their five outputs, so that making
// the program faster can never silently change a picture or the profile.
//
// The digests were recorded with the GNU C library on x86-64; aarch64 and s390x with the
// same library give the same bytes. The outputs depend on the last bits of the library's
// sine and cosine, which another C library may round differently; there the test is
// skipped rather than wrong.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>

#include "tests/test_util.h"

namespace {

using testutil::Bytes;

// SHA-256 (FIPS 180-4) of a byte string, as 64 lower-case hex digits.
std::string sha256(const Bytes& data) {
    static const uint32_t k[64] = {
        0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
        0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
        0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
        0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
        0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
        0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
        0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
        0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
    uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                     0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    Bytes m = data;
    const uint64_t bits = uint64_t{data.size()} * 8;
    m.push_back(0x80);
    while (m.size() % 64 != 56) m.push_back(0);
    for (int i = 7; i >= 0; --i) m.push_back(static_cast<uint8_t>(bits >> (i * 8)));
    const auto rotr = [](uint32_t x, int n) { return (x >> n) | (x << (32 - n)); };
    for (std::size_t at = 0; at < m.size(); at += 64) {
        uint32_t w[64];
        for (int i = 0; i < 16; ++i) {
            w[i] = uint32_t{m[at + 4 * i]} << 24 | uint32_t{m[at + 4 * i + 1]} << 16 |
                   uint32_t{m[at + 4 * i + 2]} << 8 | m[at + 4 * i + 3];
        }
        for (int i = 16; i < 64; ++i) {
            const uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            const uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        uint32_t v[8];
        for (int i = 0; i < 8; ++i) v[i] = h[i];
        for (int i = 0; i < 64; ++i) {
            const uint32_t e = v[4], a = v[0];
            const uint32_t t1 =
                v[7] + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & v[5]) ^ (~e & v[6])) + k[i] + w[i];
            const uint32_t t2 =
                (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & v[1]) ^ (a & v[2]) ^ (v[1] & v[2]));
            for (int j = 7; j > 0; --j) v[j] = v[j - 1];
            v[4] += t1;
            v[0] = t1 + t2;
        }
        for (int i = 0; i < 8; ++i) h[i] += v[i];
    }
    std::string hex;
    for (uint32_t x : h) {
        char buf[9];
        std::snprintf(buf, sizeof buf, "%08x", x);
        hex += buf;
    }
    return hex;
}

TEST(Sha256, KnownVectors) {
    const std::string abc = "abc";
    // 56 bytes: the length no longer fits the first block.
    const std::string two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(sha256(Bytes(abc.begin(), abc.end())),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(sha256(Bytes()), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256(Bytes(two.begin(), two.end())),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

// The pictures the digests below are taken of come from make_sample; its default picture
// is the bundled sample, byte for byte.
TEST(Sample, GeneratorReproducesTheBundledPicture) {
    testutil::TempDir dir;
    const auto r = testutil::run_program(MAKE_SAMPLE_EXE, {"sample.bmp"}, dir.root.string());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(testutil::read_file(dir.path("sample.bmp")),
              testutil::read_file(std::string(VARLOX_SOURCE_DIR) + "/examples/sample.bmp"));
}

struct Pinned {
    int side;                            // 0: the bundled sample; else make_sample's side
    std::array<const char*, 5> digests;  // -as-bw, -as-tg, -ps-bw, -ps-tg, .csv
};

const Pinned kPinned[] = {
    {0,
     {"d974ae40b1d4e0393486947d5c66054b31505b3cd16741f407cde0d63713520a",
      "fbd7ad3781eda5e015dfc58f52b7fce6ba3e8b78e71bac561f2b94d383ad855d",
      "f39e6faa4726636ab794c262758e4d43b8c3393a51e356b5a451f48ec4adedc1",
      "c8c3a68fae1a7f999860e76d444a7b8d69d6cfdf876030e0c13337c80886c623",
      "6a9fe6e4bce2a4e9eec19539b8fa4137a16e7410ee1ab9fd3e500c78bd0b1308"}},
    {1,
     {"1747c52729b10282ed49007a1fdd14b0a191dbf7b3d83ece6676ad7db214ce87",
      "1747c52729b10282ed49007a1fdd14b0a191dbf7b3d83ece6676ad7db214ce87",
      "1747c52729b10282ed49007a1fdd14b0a191dbf7b3d83ece6676ad7db214ce87",
      "1747c52729b10282ed49007a1fdd14b0a191dbf7b3d83ece6676ad7db214ce87",
      "d50098841ff3ee899635a8e5d0558196a70e7e94dacc490620db547fd072571b"}},
    {2,
     {"a4f5bfc73f1bdb7ea328cebc6bdf54d7ef0cc18b8d8d978703cbe88e6312ab14",
      "a4f5bfc73f1bdb7ea328cebc6bdf54d7ef0cc18b8d8d978703cbe88e6312ab14",
      "a4f5bfc73f1bdb7ea328cebc6bdf54d7ef0cc18b8d8d978703cbe88e6312ab14",
      "a4f5bfc73f1bdb7ea328cebc6bdf54d7ef0cc18b8d8d978703cbe88e6312ab14",
      "d50098841ff3ee899635a8e5d0558196a70e7e94dacc490620db547fd072571b"}},
    {3,
     {"2ade586e3f05f628188c4cba9093808b4c05183497f001d149e95ee8d4e34582",
      "2ade586e3f05f628188c4cba9093808b4c05183497f001d149e95ee8d4e34582",
      "2ade586e3f05f628188c4cba9093808b4c05183497f001d149e95ee8d4e34582",
      "2ade586e3f05f628188c4cba9093808b4c05183497f001d149e95ee8d4e34582",
      "d50098841ff3ee899635a8e5d0558196a70e7e94dacc490620db547fd072571b"}},
    {16,
     {"9fcc96ea6dc914b179cb75eb542d046cc1ecddd21d08ccbece51997a5b12ddce",
      "7d45ccfb4f677aec1fd22ae1f64a8fb052dc3a56a00b9d3a34ecd85424f52cd3",
      "944867d66c974373e5c4a3189e6d95cd7890421d27f25f42d1d4346306239c30",
      "0ea1d3a51a944f7ededabb47918b041e0ef7714385aeb2b0ad842d6a1f836aa9",
      "97e336b83a6296594baaa2f78b845da69410e23be20412fc0750ba19224d896f"}},
    {17,
     {"8b90b6f85afa97f3421d36b389534ba87b0e070123576d35e1e4cdcb039b443d",
      "a32562ca0b26dfac7b19d331015bc52ade0960d2c532ccc648fb6a436417f23f",
      "854ede2137a752973d669fc638add810e4b77639e0e265a02d98a4522654fe1d",
      "8eee45a605f59f96b0a753d5ed4d063bc23c5aa94c306158068b58f873f2c034",
      "2f4c239cfba11aa9164b5ac510d40bfbb3302c1d6202ad4b108c3af1ec6e7214"}},
    {64,
     {"d634dc2b2370e7f986cc913d624ab2301503338f9b8ffdda123bea1757df7d7d",
      "48d6191e0233ccd9be82728fd9bf5b4c97356bd34a70eed1d353da306d1f8ee6",
      "ccf08831546361450d9875c4ff7f03f13956fb7dbf9f9bbdb60783e7aaaa05a4",
      "5e99a194d0e6dc6dbdc19186f2fae6629e26c7d82561cb375365c75323320bb7",
      "960a1138b36707e3cf1f3608ec5a1f3f8a7c80b84fcc1dac75bc8bdf0aa5e94f"}},
    {99,
     {"7c1227bd19bb9b571131bf66c1df72857775fbf0955670a875bede4a9a3129e6",
      "1e5127da889ed5aaa11fe61075deff4c02bc6d838672051eecd68dfc181cbbb9",
      "a8137891225b1998ee75d902a1a30d60a1883e90bf3e0f7e775456a52b2b30f2",
      "16ad4b1f9dad8ad2848d834ede42977aa5dbc177e2726b5ff7bc7b05b667a27c",
      "4b41e558a4ef6a11ee705b7994dfe516a5f0e32344ae493ff317a3afb33b4bb2"}},
    {128,
     {"5c51ce14cc8f610d65cf77e9d7e305f1fa95dcbc47fa8e305bf71bf88df78692",
      "67e6d532e89287406a8f77ba443ae6af7a216ac139f5891761688d2be4a217d6",
      "5f531dac7d440e2c50650e6730e85d45c04d17a87eabe0002494d75e6ec97a24",
      "51f3aa66af25bc08420d3695452693ab4aa8175025273fba032e978eebf4b4f4",
      "62180cc3cadc4a88d3c08f41e03970260d1f1a5acacb1f580ddecf8ebd68ea6a"}},
};

TEST(OutputDigests, SampleAndOddAndEvenSidesKeepEveryByte) {
#ifndef __GLIBC__
    GTEST_SKIP() << "digests recorded with the GNU C library";
#endif
    const char* const suffixes[5] = {"-as-bw.bmp", "-as-tg.bmp", "-ps-bw.bmp", "-ps-tg.bmp", ".csv"};
    testutil::TempDir dir;
    for (const Pinned& p : kPinned) {
        const std::string base = p.side == 0 ? "sample" : "g" + std::to_string(p.side);
        if (p.side == 0) {
            testutil::write_file(dir.path("sample.bmp"), testutil::read_file(std::string(VARLOX_SOURCE_DIR) +
                                                                             "/examples/sample.bmp"));
        } else {
            const auto made = testutil::run_program(MAKE_SAMPLE_EXE, {base + ".bmp", std::to_string(p.side)},
                                                    dir.root.string());
            ASSERT_EQ(made.status, 0) << made.err;
        }
        const auto run = testutil::run_program(VARLOX_EXE, {base + ".bmp"}, dir.root.string());
        ASSERT_EQ(run.status, 0) << run.err;
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(sha256(testutil::read_file(dir.path(base + suffixes[i]))), p.digests[i])
                << base << suffixes[i];
        }
    }
}

}  // namespace
