// The body as the workers cut it: prefix, file or text, suffix, chunk by chunk.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_files.h"
#include "transport/body_source.h"

namespace vemtu {
namespace {

struct Cut {
  std::uint32_t declared = 0;
  std::vector<std::string> chunks;  // every pass, the empty last one included
};

Cut CutBody(BodySource& body, std::size_t chunk_size) {
  Cut cut;
  std::uint32_t error = 0;
  EXPECT_TRUE(body.Start(cut.declared, error)) << error;
  std::vector<char> chunk(kChunkBufferSize);
  for (;;) {
    long long n = body.Fill(chunk.data(), chunk_size, error);
    EXPECT_GE(n, 0);
    if (n < 0) break;
    cut.chunks.emplace_back(chunk.data(), static_cast<std::size_t>(n));
    if (static_cast<std::size_t>(n) != chunk_size) break;
  }
  return cut;
}

std::string Join(const std::vector<std::string>& parts) {
  std::string all;
  for (const auto& p : parts) all += p;
  return all;
}

std::string Pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 26);
  return s;
}

TEST(BodySource, FileOfExactlyOneChunkGivesAFullChunkThenAnEmptyPass) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "b", Pattern(4096));
  BodySource body(dir / "b", "", "", "");
  Cut cut = CutBody(body, kWinInetChunkSize);
  EXPECT_EQ(cut.declared, 4096u);
  ASSERT_EQ(cut.chunks.size(), 2u);
  EXPECT_EQ(cut.chunks[0].size(), 4096u);
  EXPECT_EQ(cut.chunks[1].size(), 0u);
}

TEST(BodySource, PrefixFileAndSuffixFollowEachOtherAcrossChunks) {
  test::TempDir dir;
  std::string content = Pattern(5000);
  test::WriteFileBytes(dir / "b", content);
  std::string prefix = "<pre>", suffix = "</suf>";
  for (std::size_t chunk_size : {std::size_t{1000}, kWinInetChunkSize, kChunkBufferSize}) {
    BodySource body(dir / "b", prefix, "", suffix);
    Cut cut = CutBody(body, chunk_size);
    EXPECT_EQ(cut.declared, prefix.size() + content.size() + suffix.size());
    EXPECT_EQ(Join(cut.chunks), prefix + content + suffix) << chunk_size;
    for (std::size_t i = 0; i + 1 < cut.chunks.size(); ++i) EXPECT_EQ(cut.chunks[i].size(), chunk_size);
  }
}

TEST(BodySource, APrefixLongerThanAChunkIsSentWholeBeforeTheFile) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "b", "FILE");
  std::string prefix = Pattern(9000);
  BodySource body(dir / "b", prefix, "", "END");
  Cut cut = CutBody(body, kWinInetChunkSize);
  EXPECT_EQ(Join(cut.chunks), prefix + "FILE" + "END");
  EXPECT_EQ(cut.declared, prefix.size() + 7);
}

TEST(BodySource, TextBodyAndEmptyBody) {
  BodySource text("", "p", "body", "s");
  Cut cut = CutBody(text, 3);
  EXPECT_EQ(Join(cut.chunks), "pbodys");
  EXPECT_EQ(cut.chunks.size(), 3u);  // two full chunks, then an empty pass
  BodySource empty("", "", "", "");
  Cut none = CutBody(empty, kWinInetChunkSize);
  EXPECT_EQ(none.declared, 0u);
}

TEST(BodySource, StartAgainSendsTheSameBytesAndAMissingFileGivesItsCode) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "b", Pattern(6000));
  BodySource body(dir / "b", "P", "", "S");
  std::string first = Join(CutBody(body, 1000).chunks);
  std::string second = Join(CutBody(body, 1000).chunks);
  EXPECT_EQ(first, second);

  BodySource missing(dir / "nope", "", "", "");
  std::uint32_t declared = 0, error = 0;
  EXPECT_FALSE(missing.Start(declared, error));
  EXPECT_EQ(error, 2u);  // file not found, on both platforms
}

// Opened by its path, or held open by the caller with its first 64 KiB read already.
class ManyReadBlocks : public ::testing::TestWithParam<bool> {};

TEST_P(ManyReadBlocks, AFileOfManyReadBlocksComesInFullChunksWhateverTheChunkSize) {
  test::TempDir dir;
  std::string content = Pattern(200 * 1024 + 7);
  test::WriteFileBytes(dir / "b", content);
  BodySource body(dir / "b", "<p>", "", "</p>");
  platform::File file = platform::File::Open(dir / "b", platform::OpenMode::kReadExisting);
  HeldBody held{&file, file.IdentityAtOpen(), {}};
  const std::string head = ReadBodyHead(held);
  ASSERT_EQ(head, content.substr(0, 64 * 1024));
  held.head = head;
  if (GetParam()) body.UseHeldBody(held);
  for (std::size_t size : {kWinInetChunkSize, std::size_t{3000}, std::size_t{1}}) {
    Cut cut = CutBody(body, size);
    EXPECT_EQ(Join(cut.chunks), "<p>" + content + "</p>") << size;
    for (std::size_t i = 0; i + 1 < cut.chunks.size(); ++i) {
      ASSERT_EQ(cut.chunks[i].size(), size) << "chunk " << i << " of size " << size;
    }
  }
  // Started again half-way, it sends from the first byte.
  std::uint32_t declared = 0, error = 0;
  ASSERT_TRUE(body.Start(declared, error));
  std::vector<char> chunk(kChunkBufferSize);
  for (int i = 0; i < 20; ++i) body.Fill(chunk.data(), kWinInetChunkSize, error);
  EXPECT_EQ(Join(CutBody(body, kWinInetChunkSize).chunks), "<p>" + content + "</p>");
}

INSTANTIATE_TEST_SUITE_P(BodySource, ManyReadBlocks, ::testing::Bool());

TEST(BodySource, AFileThatGrowsAfterStartGivesOnlyTheDeclaredBytes) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "b", "12345");
  BodySource body(dir / "b", "", "", "");
  std::uint32_t declared = 0, error = 0;
  ASSERT_TRUE(body.Start(declared, error));
  test::WriteFileBytes(dir / "b", "1234567890");
  std::vector<char> chunk(kChunkBufferSize);
  long long n = body.Fill(chunk.data(), kWinInetChunkSize, error);
  EXPECT_EQ(n, 5);
  EXPECT_EQ(declared, 5u);
}

}  // namespace
}  // namespace vemtu
