#include "app/sealed_file.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <iterator>

#include "tests/support/sandbox.h"

namespace {

using testing_support::ReadBytes;
using testing_support::Sandbox;
using testing_support::WriteBytes;

class ConfigKeyScope {
 public:
  ConfigKeyScope() { BuildConfigKey(); }
  ~ConfigKeyScope() { FreeConfigKey(); }
};

// A header whose byte 3 gives the wanted k; the other bytes vary a little.
void HeaderFor(size_t k, uint8_t (&header)[32]) {
  for (size_t i = 0; i < 32; ++i) header[i] = static_cast<uint8_t>(i * 37 + 11);
  header[3] = static_cast<uint8_t>(250 + k);  // 250 mod 5 == 0
}

TEST(ConfigKey, IsThePassPhraseScrambled) {
  ConfigKeyScope scope;
  KeyView key = ConfigKey();
  ASSERT_EQ(key.length, 512u);
  // The first bytes follow from the phrase "qmr..." and the running value 47.
  EXPECT_EQ(key.data[0], 0x71);
  EXPECT_EQ(key.data[1], 0x7F);
  EXPECT_EQ(key.data[2], 0x5E);
  FreeConfigKey();
  EXPECT_EQ(ConfigKey().data, nullptr);
}

TEST(SealBuffer, LayoutOfAKnownHeader) {
  // All-zero random bytes and tick 0: k = 0, no key layer (flag 2), step 1.
  uint8_t header[32] = {};
  std::string s = SealBufferWith("AB", KeyView{}, 71, 53, 73, header, 0);
  ASSERT_EQ(s.size(), 34u);
  std::string plain_header(32, '\0');
  plain_header[5] = 2;
  plain_header[13] = 71;
  plain_header[17] = 53;
  plain_header[21] = 73;
  for (size_t i = 0; i < 28; ++i) {
    EXPECT_EQ(static_cast<uint8_t>(s[i]), static_cast<uint8_t>(plain_header[i] ^ kPassPhrase[i]))
        << "header byte " << i;
  }
  for (size_t i = 28; i < 32; ++i) EXPECT_EQ(s[i], 0) << "header byte " << i;
  // W = 71 gives 0 in bits 8-15; then W = (71 + 'A') * 53 + 73 = 7281 -> 28.
  EXPECT_EQ(s[32], 'A');
  EXPECT_EQ(static_cast<uint8_t>(s[33]), 'B' ^ 28);
}

TEST(SealBuffer, RoundTripsForEveryStartAndStep) {
  ConfigKeyScope scope;
  const std::string texts[] = {
      "",
      "x",
      "ab",
      std::string(31, 'q'),
      std::string(32, 'r'),
      "[{\"Type\":\"SystemPara\",\"Key\":\"uid\",\"Value\":\"\xD5\xC5\xC8\xFD\"}]",
      std::string(1000, '\xFF')};
  for (size_t k = 0; k < 5; ++k) {
    for (uint32_t step_byte = 0; step_byte < 5; ++step_byte) {  // steps 1,1,2,3,4
      for (bool with_key : {true, false}) {
        for (const auto& text : texts) {
          uint8_t header[32];
          HeaderFor(k, header);
          uint32_t tick = (step_byte << 8) | 0x42;
          KeyView key = with_key ? ConfigKey() : KeyView{};
          std::string sealed = SealBufferWith(text, key, 12345, 0x9E3779B9u, 17, header, tick);
          ASSERT_EQ(sealed.size(), text.size() + 32);
          std::string plain;
          ASSERT_EQ(UnsealBuffer(sealed, ConfigKey(), 0, plain), kSealOk);
          EXPECT_EQ(plain, text) << "k=" << k << " step byte=" << step_byte << " key=" << with_key
                                 << " length=" << text.size();
        }
      }
    }
  }
}

TEST(SealBuffer, FlagKeepsItsResidueWhenTheTickEndsIn255) {
  ConfigKeyScope scope;
  uint8_t header[32] = {};
  for (bool with_key : {true, false}) {
    KeyView key = with_key ? ConfigKey() : KeyView{};
    std::string sealed = SealBufferWith("hello", key, 1, 2, 3, header, 0x03FF);
    uint8_t flag = static_cast<uint8_t>(sealed[5]) ^ static_cast<uint8_t>(kPassPhrase[5]);
    EXPECT_EQ(flag % 3, with_key ? 1 : 2);
    std::string plain;
    ASSERT_EQ(UnsealBuffer(sealed, key, 0, plain), kSealOk);
    EXPECT_EQ(plain, "hello");
  }
}

// Every value of the two header bytes that decide the first two stored
// bytes, for Config.EF (no outer layer) and for book files: exactly one pair
// would store two blanks, which read back as a plain file; that draw is
// thrown away and the next one used.
TEST(SealForStorage, NeverStoresTwoLeadingBlanks) {
  ConfigKeyScope scope;
  const std::string text = "[{\"Type\":\"SystemPara\",\"Key\":\"uid\",\"Value\":\"u1\"}]";
  for (uint8_t outer : {uint8_t{0}, kRecordOuterByte}) {
    int redrawn = 0;
    for (unsigned pair = 0; pair < 0x10000; ++pair) {
      unsigned draws = 0;
      auto draw = [&](unsigned attempt, uint8_t (&header)[32]) {
        EXPECT_EQ(attempt, draws++);
        HeaderFor(attempt % 5, header);
        if (attempt == 0) {
          header[0] = static_cast<uint8_t>(pair);
          header[1] = static_cast<uint8_t>(pair >> 8);
        }
      };
      std::string stored = SealForStorage(text, ConfigKey(), 71, 53, 73, outer, draw);
      ASSERT_FALSE(stored[0] == ' ' && stored[1] == ' ') << "pair " << pair << " outer " << +outer;
      if (draws > 1) {
        ++redrawn;
        EXPECT_EQ(draws, 2u);
      }
      std::string plain;
      ASSERT_EQ(UnsealBuffer(stored, ConfigKey(), outer, plain), kSealOk);
      ASSERT_EQ(plain, text);
    }
    EXPECT_EQ(redrawn, 1) << "outer " << +outer;
  }
}

// A source that always draws the blank-making header still gives a file
// that unseals, after a bounded number of draws.
TEST(SealForStorage, EndsWhenEveryDrawWouldReadAsPlainText) {
  ConfigKeyScope scope;
  for (uint8_t outer : {uint8_t{0}, kRecordOuterByte}) {
    uint8_t blank_header[32];
    HeaderFor(3, blank_header);
    auto stored_of = [&](const uint8_t (&header)[32]) {
      std::string bytes = SealBufferWith("text", ConfigKey(), 1, 2, 3, header, 0);
      if (outer != 0) ApplyOuterLayer(bytes, outer);
      return bytes;
    };
    // Stored byte i follows from header bytes 0..i, and from header byte i
    // by an XOR: fix byte 0, then byte 1.
    for (int i = 0; i < 2; ++i) {
      std::string probe = stored_of(blank_header);
      blank_header[i] ^= static_cast<uint8_t>(static_cast<uint8_t>(probe[i]) ^ ' ');
    }
    unsigned draws = 0;
    auto draw = [&](unsigned, uint8_t (&header)[32]) {
      ++draws;
      std::copy(std::begin(blank_header), std::end(blank_header), header);
    };
    ASSERT_TRUE(ReadsAsPlainText(stored_of(blank_header)));  // the header really is the bad one
    std::string stored = SealForStorage("text", ConfigKey(), 1, 2, 3, outer, draw);
    EXPECT_FALSE(ReadsAsPlainText(stored));
    EXPECT_GT(draws, 1u);
    EXPECT_LE(draws, 16u);
    std::string plain;
    ASSERT_EQ(UnsealBuffer(stored, ConfigKey(), outer, plain), kSealOk);
    EXPECT_EQ(plain, "text");
  }
}

TEST(UnsealBuffer, ShortInputsAndMissingKeys) {
  ConfigKeyScope scope;
  std::string plain = "left over";
  EXPECT_EQ(UnsealBuffer(std::string(31, 'a'), ConfigKey(), 0, plain), kSealTooShort);

  std::string empty_sealed = SealBuffer("", ConfigKey(), 5, 6, 7);
  ASSERT_EQ(empty_sealed.size(), 32u);
  ASSERT_EQ(UnsealBuffer(empty_sealed, ConfigKey(), 0, plain), kSealOk);
  EXPECT_EQ(plain, "");

  std::string keyed = SealBuffer("secret", ConfigKey(), 5, 6, 7);
  EXPECT_EQ(UnsealBuffer(keyed, KeyView{}, 0, plain), kSealNeedsKey);
  uint8_t zero_length_key[1] = {0};
  EXPECT_EQ(UnsealBuffer(keyed, KeyView{zero_length_key, 0}, 0, plain), kSealNeedsKey);

  std::string unkeyed = SealBuffer("open", KeyView{}, 5, 6, 7);
  ASSERT_EQ(UnsealBuffer(unkeyed, KeyView{}, 0, plain), kSealOk);
  EXPECT_EQ(plain, "open");
}

TEST(UnsealBuffer, OuterLayerRoundTripsOnlyWithItsByte) {
  ConfigKeyScope scope;
  std::string sealed = SealBuffer("record text", ConfigKey(), 71, 53, 73);
  std::string outer = sealed;
  ApplyOuterLayer(outer, kRecordOuterByte);
  EXPECT_NE(outer, sealed);
  std::string plain;
  ASSERT_EQ(UnsealBuffer(outer, ConfigKey(), kRecordOuterByte, plain), kSealOk);
  EXPECT_EQ(plain, "record text");
}

class SealedFileTest : public Sandbox {
 protected:
  ConfigKeyScope key_;
};

TEST_F(SealedFileTest, ReadsPlainSealedMissingAndEmptyFiles) {
  std::string text;
  EXPECT_EQ(ReadSealedFile(Path("missing"), 0, text), kSealNoFile);
  WriteFile("empty", "");
  EXPECT_EQ(ReadSealedFile(Path("empty"), 0, text), kSealNoFile);

  // Two leading blanks mark a plain file, handed back unchanged.
  WriteFile("plain.EF", "  [{\"Type\":\"SystemPara\"}]");
  ASSERT_EQ(ReadSealedFile(Path("plain.EF"), 0, text), kSealOk);
  EXPECT_EQ(text, "  [{\"Type\":\"SystemPara\"}]");

  WriteFile("short", "0123456789");
  EXPECT_EQ(ReadSealedFile(Path("short"), 0, text), kSealTooShort);
}

TEST_F(SealedFileTest, WriteSealedFileRoundTripsAndReplacesAtomically) {
  const std::string path = Path("data/u1/book.dat");
  ASSERT_EQ(WriteSealedFile("first", path), kSealOk);
  ASSERT_EQ(WriteSealedFile("second version", path), kSealOk);
  std::string text;
  ASSERT_EQ(ReadSealedFile(path, kRecordOuterByte, text), kSealOk);
  EXPECT_EQ(text, "second version");
  // Nothing but the file itself is left in its directory.
  int entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(Path("data/u1"))) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 1);
  // Without the outer byte the same file does not read back as its text.
  ASSERT_EQ(ReadSealedFile(path, 0, text), kSealOk);
  EXPECT_NE(text, "second version");
}

TEST_F(SealedFileTest, WriteFailureIsReported) {
  WriteFile("blocker", "a file where a directory should be");
  EXPECT_EQ(WriteSealedFile("x", Path("blocker/book.dat")), kSealWriteFailed);
}

// A record or Config.EF that someone made read-only is not replaced, for
// root as well (the mode bits decide, not access(2)).
TEST_F(SealedFileTest, WriteProtectedFileIsRefusedAndKept) {
  const std::string path = Path("data/bookinf/10101.inf");
  ASSERT_EQ(WriteSealedFile("locked record", path), kSealOk);
  const std::string before = ReadBytes(path);
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  EXPECT_EQ(WriteSealedFile("new record", path), kSealWriteFailed);
  EXPECT_EQ(ReadBytes(path), before);
  std::string text;
  ASSERT_EQ(ReadSealedFile(path, kRecordOuterByte, text), kSealOk);
  EXPECT_EQ(text, "locked record");
  ASSERT_EQ(chmod(path.c_str(), 0644), 0);
  EXPECT_EQ(WriteSealedFile("new record", path), kSealOk);
}

}  // namespace

namespace {

// Whatever bytes a damaged file holds, unsealing gives a code and a text of
// the right length, never a crash.
TEST(UnsealBuffer, ArbitraryBytesAreHandled) {
  BuildConfigKey();
  uint32_t x = 12345;
  for (int round = 0; round < 2000; ++round) {
    size_t n = 32 + round % 97;
    std::string junk(n, '\0');
    for (auto& c : junk) {
      x = x * 1103515245u + 12345u;
      c = static_cast<char>(x >> 16);
    }
    for (uint8_t outer : {uint8_t{0}, kRecordOuterByte}) {
      std::string plain;
      int code = UnsealBuffer(junk, ConfigKey(), outer, plain);
      if (code == kSealOk)
        EXPECT_EQ(plain.size(), n - 32);
      else
        EXPECT_EQ(code, kSealNeedsKey);
    }
  }
  FreeConfigKey();
}

}  // namespace
