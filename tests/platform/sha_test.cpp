#include "platform/sha.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "platform/sha_blocks.h"
#include "support/scratch.h"

namespace launcher {
namespace {

using test::ScratchDir;
using test::WriteFile;

// Bytes that differ from one position to the next, so that a word read in the wrong order or a
// block taken twice changes the digest.
std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 167 + 13 + (i >> 8));
  return bytes;
}

std::vector<uint8_t> Text(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

struct DigestCase {
  const char* name;
  std::vector<uint8_t> message;
  const char* sha1;
  const char* sha256;
};

// The standard's examples, then lengths around the padding's extra block and a few larger ones
// (digests from sha1sum/sha256sum and Python's hashlib).
const std::vector<DigestCase>& DigestCases() {
  static const std::vector<DigestCase> cases = {
      {"empty", {}, "da39a3ee5e6b4b0d3255bfef95601890afd80709",
       "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", Text("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d",
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"448 bits", Text("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"896 bits",
       Text("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmno"
            "ijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu"),
       "a49b2446a02c645bf419f995b67091253a04a259",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {"one million a", std::vector<uint8_t>(1000000, 'a'),
       "34aa973cd4c4daa4f61eeb2bdbad27316534016f",
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      {"1 byte", Pattern(1), "11f4de6b8b45cf8051b1d17fa4cde9ad935cea41",
       "9d1e0e2d9459d06523ad13e28a4093c2316baafe7aec5b25f30eba2e113599c4"},
      {"55 bytes", Pattern(55), "f223d32a2821747cda0c953869fd4e80cca94476",
       "b2ca0adc388a66d3a5a7f6541239331d5a867eede554e11262241271faaf36c5"},
      {"56 bytes", Pattern(56), "a4e4673ac7e9635f02f2290c408782276f2b74f3",
       "3768eff44f1df02704a832cf708935fbed9bb74d0714fbe75454c266c4e12856"},
      {"63 bytes", Pattern(63), "a2659af75500214170228bc208373a7fa71187db",
       "dc06ea9e456da9f9fc2276564018231c36196ff7745bf505fd7f503aec5c67fd"},
      {"64 bytes", Pattern(64), "03876d2bfc87786e413d3db303deb59e5eb0e44a",
       "b68fe543b0b5a544e32eb08712e697bfcd3a3cb491563c3b1cba112d378f4bdb"},
      {"65 bytes", Pattern(65), "cc2db95e81ddadc0da1832c505d12f06b2a81582",
       "587cdb9ad9be371721f2f84a84eb09f2b698ec19bbe2d7c222179996547a04a6"},
      {"119 bytes", Pattern(119), "8aec39954938bf6253cf65927542e1018e4b53e7",
       "b27b61037be684924f5497ee79c784f09c971d8c8c3136f6270e0fd34775aa1b"},
      {"120 bytes", Pattern(120), "04e6fb9a58832afb30aaa51a8e30ee17316de414",
       "00c666e960132985e9c99dc98bf25782df791138d0f1252b69781694ed97d693"},
      {"127 bytes", Pattern(127), "ed31e9f2976bb919fce07a4e7db6051bb90711e9",
       "805f2702e76ff5d578052c965ded05a689d9293fd86c5584b0db399d33e9745c"},
      {"128 bytes", Pattern(128), "947f065ae440d3b4d479a77442e8841b94f9a22d",
       "cd77acfc16d0964a4c3ef06f0678a5c88d2d610de00f7b997676fea5b4d2ae9e"},
      {"1000 bytes", Pattern(1000), "3cb67fa2c5861a03918148ce4ee9707d5180bc26",
       "bd790412b244c97819ec37ab109dd64e1e51ea53b08d56dc176d096c4b0bdd1e"},
      {"4113 bytes", Pattern(4113), "dae7e60decdf7555e9c37cfce6da1f53893b8407",
       "622739e1464bb36d8a97b69dc1934f4d7204250c112d4585ad2d87b0b56a23df"},
      {"100003 bytes", Pattern(100003), "0e9dfe3487e5842f8d8a02537a5b3494a380a339",
       "825f838322952cca0a167cf3416553abaf5a45cee9f58f4d2f1cb411d360a6ed"},
  };
  return cases;
}

enum class Feed { kWhole, kByteByByte, kOddChunks };

const char* FeedName(Feed feed) {
  switch (feed) {
    case Feed::kWhole: return "whole";
    case Feed::kByteByByte: return "byte by byte";
    case Feed::kOddChunks: return "odd chunks";
  }
  return "";
}

// Feeds `message` to a fresh context the way `feed` says and returns its digest. The odd chunks
// start and end at every position within a block and include empty updates.
template <typename Digest>
std::string DigestOf(const std::vector<uint8_t>& message, Feed feed) {
  Digest digest;
  const uint8_t* data = message.data();
  const size_t size = message.size();
  switch (feed) {
    case Feed::kWhole:
      digest.Update(data, size);
      break;
    case Feed::kByteByByte:
      for (size_t i = 0; i < size; ++i) digest.Update(data + i, 1);
      break;
    case Feed::kOddChunks: {
      static const size_t kChunks[] = {3, 0, 61, 64, 67, 129, 1, 200, 5, 1031};
      size_t at = 0;
      for (size_t i = 0; at < size; ++i) {
        const size_t chunk = std::min(kChunks[i % std::size(kChunks)], size - at);
        digest.Update(data + at, chunk);
        at += chunk;
      }
      break;
    }
  }
  return digest.FinalHex();
}

// Every test below runs once with the portable block code and once with the CPU's SHA
// instructions (skipped on a CPU without them).
enum class Code { kPortable, kAccelerated };

const char* CodeName(Code code) { return code == Code::kPortable ? "Portable" : "Accelerated"; }
void PrintTo(Code code, std::ostream* out) { *out << CodeName(code); }

class ShaTest : public ::testing::TestWithParam<Code> {
 protected:
  void SetUp() override {
    if (GetParam() == Code::kAccelerated && !sha_blocks::Sha256Accelerated()) {
      GTEST_SKIP() << "this CPU has no SHA instructions";
    }
    sha_blocks::UsePortable(GetParam() == Code::kPortable);
  }
  void TearDown() override { sha_blocks::UsePortable(false); }
};

TEST_P(ShaTest, UsesTheChosenBlockCode) {
  if (GetParam() == Code::kPortable) {
    EXPECT_EQ(sha_blocks::Sha1Active(), &sha_blocks::Sha1Portable);
    EXPECT_EQ(sha_blocks::Sha256Active(), &sha_blocks::Sha256Portable);
  } else {
    EXPECT_EQ(sha_blocks::Sha1Active(), sha_blocks::Sha1Accelerated());
    EXPECT_EQ(sha_blocks::Sha256Active(), sha_blocks::Sha256Accelerated());
  }
}

TEST_P(ShaTest, GivesTheStandardDigestsHoweverTheBytesArrive) {
  for (const DigestCase& c : DigestCases()) {
    for (Feed feed : {Feed::kWhole, Feed::kByteByByte, Feed::kOddChunks}) {
      SCOPED_TRACE(std::string(c.name) + ", " + FeedName(feed));
      EXPECT_EQ(DigestOf<Sha1>(c.message, feed), c.sha1);
      EXPECT_EQ(DigestOf<Sha256>(c.message, feed), c.sha256);
    }
  }
}

TEST_P(ShaTest, InitStartsANewDigestAfterFinalHex) {
  const std::vector<uint8_t> abc = Text("abc");
  const std::vector<uint8_t> other = Pattern(100);
  Sha1 sha1;
  Sha256 sha256;
  sha1.Update(other.data(), other.size());
  sha256.Update(other.data(), other.size());
  sha1.FinalHex();
  sha256.FinalHex();
  sha1.Init();
  sha256.Init();
  sha1.Update(abc.data(), abc.size());
  sha256.Update(abc.data(), abc.size());
  EXPECT_EQ(sha1.FinalHex(), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(sha256.FinalHex(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST_P(ShaTest, FileOfNoBytesHasTheEmptyDigest) {
  ScratchDir dir;
  WriteFile(dir / "empty", std::string());
  EXPECT_EQ(Sha256File(dir / "empty"),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST_P(ShaTest, FileThatCannotBeReadHasNoDigest) {
  ScratchDir dir;
  std::filesystem::create_directories(dir / "folder");
  EXPECT_EQ(Sha256File(dir / "missing"), "");
  EXPECT_EQ(Sha256File(dir / "folder"), "");
}

// Larger than the 1 MiB read buffer and not a multiple of it, so the last read is short.
TEST_P(ShaTest, LargeFileMatchesTheDigestOfItsBytes) {
  ScratchDir dir;
  const std::vector<uint8_t> bytes = Pattern(20 * 1024 * 1024 + 12345);
  WriteFile(dir / "large", bytes);
  Sha256 in_memory;
  in_memory.Update(bytes.data(), bytes.size());
  const std::string expected = "9ef9597da940c7e1c6ce7eb3e993cd6c4a077137b6c92a267e882fae86c90ece";
  EXPECT_EQ(in_memory.FinalHex(), expected);
  EXPECT_EQ(Sha256File(dir / "large"), expected);
}

INSTANTIATE_TEST_SUITE_P(BlockCode, ShaTest,
                         ::testing::Values(Code::kPortable, Code::kAccelerated),
                         [](const ::testing::TestParamInfo<Code>& info) {
                           return std::string(CodeName(info.param));
                         });

// The accelerated block functions carry their state across many blocks in one call; compare
// them with the portable ones on random blocks, from a random state, for every count up to 40.
TEST(ShaBlocksTest, AcceleratedBlocksMatchPortableBlocks) {
  const sha_blocks::Sha1BlocksFn sha1 = sha_blocks::Sha1Accelerated();
  const sha_blocks::Sha256BlocksFn sha256 = sha_blocks::Sha256Accelerated();
  if (!sha1 || !sha256) GTEST_SKIP() << "this CPU has no SHA instructions";
  std::mt19937 random(12345);
  for (size_t count = 1; count <= 40; ++count) {
    SCOPED_TRACE("blocks: " + std::to_string(count));
    std::vector<uint8_t> blocks(count * 64);
    for (uint8_t& byte : blocks) byte = static_cast<uint8_t>(random());
    uint32_t portable[8], accelerated[8];
    for (uint32_t& word : portable) word = static_cast<uint32_t>(random());
    std::copy(std::begin(portable), std::end(portable), std::begin(accelerated));

    sha_blocks::Sha1Portable(portable, blocks.data(), count);
    sha1(accelerated, blocks.data(), count);
    EXPECT_EQ(HexDigest(accelerated, 5), HexDigest(portable, 5));

    sha_blocks::Sha256Portable(portable, blocks.data(), count);
    sha256(accelerated, blocks.data(), count);
    EXPECT_EQ(HexDigest(accelerated, 8), HexDigest(portable, 8));
  }
}

TEST(HexDigestTest, WritesEachWordAsEightLowercaseDigits) {
  const uint32_t words[] = {0x0123abcd, 0, 0xffffffff, 0x9};
  EXPECT_EQ(HexDigest(words, 4), "0123abcd00000000ffffffff00000009");
  EXPECT_EQ(HexDigest(words, 0), "");
}

}  // namespace
}  // namespace launcher
