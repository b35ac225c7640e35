#include "util/md5.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/file_system.h"
#include "tests/support/sandbox.h"

namespace {

using testing_support::Sandbox;

std::string Pattern(size_t size) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 131 + (i >> 9)) & 0xff);
  return s;
}

TEST(Md5Text, Rfc1321Vectors) {
  const struct {
    const char* text;
    const char* digest;
  } kCases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  MD5Computer md5;
  for (const auto& c : kCases) {
    std::string digest = "stale";
    ASSERT_TRUE(md5.TextMD5(digest, c.text)) << c.text;
    EXPECT_EQ(digest, c.digest) << c.text;
  }
}

TEST(Md5Text, BytesAfterAZeroCount) {
  MD5Computer md5;
  std::string digest;
  ASSERT_TRUE(md5.TextMD5(digest, std::string("a\0b", 3)));
  EXPECT_EQ(digest, "70350f6027bce3713f6b76473084309b");
}

TEST(Md5Computer, FailedSetUpFailsEveryDigest) {
  for (const char* name : {"no-such-digest", "SHA256"}) {
    MD5Computer md5(name);
    EXPECT_FALSE(md5.IsUsable()) << name;
    std::string digest;
    EXPECT_FALSE(md5.TextMD5(digest, "abc")) << name;
    EXPECT_FALSE(md5.FileMD5(digest, "/dev/null")) << name;
  }
  EXPECT_TRUE(MD5Computer().IsUsable());
}

using Md5File = Sandbox;

TEST_F(Md5File, MatchesTextDigestForEveryChunkBoundary) {
  const struct {
    size_t chunk, size;
  } kCases[] = {
      {MD5Computer::kDefaultChunkSize, 0},
      {MD5Computer::kDefaultChunkSize, 1},
      {MD5Computer::kDefaultChunkSize, MD5Computer::kDefaultChunkSize - 1},
      {MD5Computer::kDefaultChunkSize, MD5Computer::kDefaultChunkSize},
      {MD5Computer::kDefaultChunkSize, 3 * MD5Computer::kDefaultChunkSize + 17},
      {64, 64 * 5 + 63},
      {1, 300},
      {1 << 20, 100},
  };
  MD5Computer md5;  // one object for all, so a buffer left from a larger chunk is exercised
  for (const auto& c : kCases) {
    const std::string content = Pattern(c.size);
    WriteFile("f.bin", content);
    md5.SetChunkSize(c.chunk);
    std::string expected, digest;
    ASSERT_TRUE(md5.TextMD5(expected, content));
    ASSERT_TRUE(md5.FileMD5(digest, Path("f.bin"))) << c.chunk << "/" << c.size;
    EXPECT_EQ(digest, expected) << c.chunk << "/" << c.size;
  }
}

TEST_F(Md5File, ZeroChunkSizeStillReads) {
  WriteFile("f.bin", "abc");
  MD5Computer md5;
  md5.SetChunkSize(0);
  EXPECT_EQ(md5.chunk_size(), 1u);
  std::string digest;
  ASSERT_TRUE(md5.FileMD5(digest, Path("f.bin")));
  EXPECT_EQ(digest, "900150983cd24fb0d6963f7d28e17f72");
}

TEST_F(Md5File, UnreadablePathsFail) {
  MD5Computer md5;
  std::string digest;
  EXPECT_FALSE(md5.FileMD5(digest, Path("missing.bin")));
  EXPECT_FALSE(md5.FileMD5(digest, dir()));
  // The object stays usable after a failure.
  WriteFile("f.bin", "abc");
  EXPECT_TRUE(md5.FileMD5(digest, Path("f.bin")));
}

TEST_F(Md5File, NameInCodePage936) {
  const std::string name = "课本.zip";  // stored as GBK bytes
  testing_support::WriteBytes(dir() + "/" + platform::ToNativePath(name), "abc");
  MD5Computer md5;
  std::string digest;
  ASSERT_TRUE(md5.FileMD5(digest, Path(name)));
  EXPECT_EQ(digest, "900150983cd24fb0d6963f7d28e17f72");
}

// A file that ends before the size it reported, as one truncated while it is
// read does. Files of sysfs report a page's size but hold a few bytes.
TEST(Md5FileShrinking, EndBeforeReportedSizeFails) {
  const char* path = "/sys/devices/system/cpu/online";
  platform::File probe(path, platform::OpenMode::kRead);
  char buffer[8192];
  if (!probe.IsOpen() || probe.Size() <= probe.Read(buffer, sizeof buffer)) {
    GTEST_SKIP() << path << " does not report more than it holds here";
  }
  MD5Computer md5;
  std::string digest;
  EXPECT_FALSE(md5.FileMD5(digest, path));
}

// A size kept in 32 bits would hash only the 3 bytes past 4 GiB. Reading
// 4 GiB takes many seconds and fills the page cache, so it runs on request.
TEST_F(Md5File, SparseFileOver4GiB) {
  if (std::getenv("TOMERACK_LARGE_FILE_TESTS") == nullptr) {
    GTEST_SKIP() << "set TOMERACK_LARGE_FILE_TESTS=1 to hash a 4 GiB file";
  }
  {
    platform::File file(Path("big.bin"), platform::OpenMode::kCreateTruncate);
    ASSERT_TRUE(file.IsOpen());
    ASSERT_EQ(file.Seek(int64_t{1} << 32), int64_t{1} << 32);
    ASSERT_TRUE(file.Write("end", 3));
  }
  MD5Computer md5;
  md5.SetChunkSize(1 << 20);
  std::string digest;
  ASSERT_TRUE(md5.FileMD5(digest, Path("big.bin")));
  EXPECT_EQ(digest, "29f9fe6f34f27cd12fbdee8ce0645c90");
}

TEST(Md5HexEncodeLower, Table) {
  const struct {
    std::string bytes, hex;
  } kCases[] = {
      {"", ""},
      {std::string("\x00\xab\xff", 3), "00abff"},
      {"\x01\x23\x45\x67\x89\xab\xcd\xef", "0123456789abcdef"},
      {"\xfe\xdc\xba\x98\x76\x54\x32\x10", "fedcba9876543210"},
  };
  for (const auto& c : kCases) {
    std::string out(c.hex.size() + 1, '#');
    EXPECT_EQ(HexEncodeLower(c.bytes.data(), c.bytes.size(), out.data()), c.hex.size());
    EXPECT_EQ(out, c.hex + "#");  // no terminator written
  }
}

}  // namespace
