#include "trailer_locator.h"

#include <gtest/gtest.h>

#include <string>

#include "fake_platform.h"
#include "stream_builder.h"

namespace {

constexpr char kPath[] = "C:\\DOWNLOADS\\SETUP.EXE";
constexpr uint32_t kImageSize = 0x400;

std::string StandardTrailer(uint32_t stream_size) {
  test::Slot slots[4] = {};
  return test::Trailer(kImageSize, stream_size, 1, slots);
}

// Locates the trailer of `bytes`; the expectations read `location` and `trailer`.
class Locator : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }

  bool Locate(const std::string& bytes) {
    fake::PutFile(kPath, bytes);
    platform::File* file = platform::OpenForReading(kPath);
    EXPECT_NE(file, nullptr);
    const bool found = LocateTrailer(file, &location, raw);
    platform::CloseFile(file);
    DecodeTrailer(raw, &trailer);
    return found;
  }

  TrailerLocation location;
  uint8_t raw[kTrailerSize];
  ArchiveTrailer trailer;
};

TEST_F(Locator, WithoutATableTheTrailerIsTheLastBytes) {
  const std::string stream = test::FileEntry("a", "xyz");
  for (const std::string& image : {std::string(kImageSize, 'M'), test::PeImage(kImageSize, 0, 0)}) {
    const std::string file = image + stream + StandardTrailer(stream.size());
    ASSERT_TRUE(Locate(file));
    EXPECT_FALSE(location.is_signed);
    EXPECT_EQ(location.logical_end, file.size());
    EXPECT_EQ(location.trailer_offset, file.size() - kTrailerSize);
    EXPECT_EQ(CheckTrailer(trailer, location.trailer_offset), TrailerProblem::kNone);
  }
}

TEST_F(Locator, SignedFilesFindTheTrailerInFrontOfTheTableWithAnyPadding) {
  for (uint32_t padding = 0; padding < kCertificateAlignment; ++padding) {
    for (bool pe32_plus : {false, true}) {
      // Choose the stream's length so that the trailer plus the padding ends 8-aligned.
      std::string stream = test::FileEntry("Disk1", "");
      while ((kImageSize + stream.size() + kTrailerSize + padding) % kCertificateAlignment != 0) {
        stream.push_back('\0');
      }
      const uint32_t table_at = static_cast<uint32_t>(kImageSize + stream.size() + kTrailerSize + padding);
      const std::string table(0x30, '\x5A');
      const std::string file = test::PeImage(kImageSize, table_at, table.size(), pe32_plus) + stream +
                               StandardTrailer(stream.size()) + std::string(padding, '\0') + table;
      ASSERT_TRUE(Locate(file)) << padding;
      EXPECT_TRUE(location.is_signed);
      EXPECT_EQ(location.table.offset, table_at);
      EXPECT_EQ(location.logical_end, table_at);
      EXPECT_EQ(location.padding, padding);
      EXPECT_EQ(location.trailer_offset, table_at - padding - kTrailerSize);
      EXPECT_EQ(CheckTrailer(trailer, location.trailer_offset), TrailerProblem::kNone) << padding;
    }
  }
}

TEST_F(Locator, ATableThatDoesNotEndTheFileIsNotASignature) {
  const std::string stream(16, 'S');
  const uint32_t table_at = kImageSize + 16 + kTrailerSize + 4;  // 8-aligned
  const std::string signed_file = test::PeImage(kImageSize, table_at, 8) + stream +
                                  StandardTrailer(16) + std::string(4, '\0') + std::string(8, 'T');
  // Bytes appended after the table: no trailer is taken from them.
  ASSERT_TRUE(Locate(signed_file + "appended"));
  EXPECT_FALSE(location.is_signed);
  EXPECT_EQ(location.table.offset, table_at);
  EXPECT_EQ(location.trailer_offset, signed_file.size() + 8 - kTrailerSize);
  EXPECT_EQ(CheckTrailer(trailer, location.trailer_offset), TrailerProblem::kBadMagic);
  // A table that is not 8-aligned is not one a signer wrote.
  const std::string misaligned = test::PeImage(kImageSize, table_at + 1, 7) + stream +
                                 StandardTrailer(16) + std::string(5, '\0') + std::string(7, 'T');
  ASSERT_TRUE(Locate(misaligned));
  EXPECT_FALSE(location.is_signed);
  // A table named past the end of the file.
  ASSERT_TRUE(Locate(test::PeImage(kImageSize, 0x10000, 8) + stream + StandardTrailer(16)));
  EXPECT_FALSE(location.is_signed);
  EXPECT_EQ(CheckTrailer(trailer, location.trailer_offset), TrailerProblem::kNone);
}

TEST_F(Locator, AnArchiveAppendedAfterASignatureIsNoTrailer) {
  const std::string stream(16, 'S');
  const uint32_t table_at = kImageSize + 16 + kTrailerSize + 4;  // 8-aligned
  const std::string signed_file = test::PeImage(kImageSize, table_at, 8) + stream +
                                  StandardTrailer(16) + std::string(4, '\0') + std::string(8, 'T');
  // A whole payload and a well-formed trailer for it, added where the signature does not reach.
  const std::string payload = test::FileEntry("Disk1", "");
  test::Slot slots[4] = {};
  const std::string file = signed_file + payload +
                           test::Trailer(static_cast<uint32_t>(signed_file.size()), payload.size(), 1, slots);
  ASSERT_TRUE(Locate(file));
  EXPECT_FALSE(location.is_signed);
  EXPECT_EQ(location.table.offset, table_at);
  EXPECT_EQ(CheckTrailer(trailer, location.trailer_offset), TrailerProblem::kBadMagic);
}

TEST_F(Locator, PaddingMustBeZeroAndNoLongerThanSevenBytes) {
  const std::string stream(16, 'S');
  for (const std::string& gap : {std::string("\0\0\0X", 4), std::string(8, '\0')}) {
    const uint32_t table_at = static_cast<uint32_t>(kImageSize + 16 + kTrailerSize + gap.size());
    std::string file = test::PeImage(kImageSize, table_at, 8) + stream + StandardTrailer(16) + gap;
    while (file.size() % 8 != 0) file.push_back('\0');
    file = test::PeImage(kImageSize, static_cast<uint32_t>(file.size()), 8) +
           file.substr(kImageSize) + std::string(8, 'T');
    ASSERT_TRUE(Locate(file));
    EXPECT_TRUE(location.is_signed);
    EXPECT_EQ(CheckTrailer(trailer, location.trailer_offset), TrailerProblem::kBadMagic);
  }
}

TEST_F(Locator, DamagedHeadersNameNoTable) {
  const std::string stream(16, 'S');
  const std::string tail = stream + StandardTrailer(16);
  // Too few directory entries to hold the security entry.
  ASSERT_TRUE(Locate(test::PeImage(kImageSize, kImageSize + 16 + kTrailerSize, 8, false, 4) + tail +
                     std::string(8, 'T')));
  EXPECT_EQ(location.table.offset, 0u);
  // The PE header pointer leads past the end of the file.
  std::string far = test::PeImage(kImageSize, 0, 0) + tail;
  far[0x3C] = '\xF0';
  far[0x3D] = '\xFF';
  far[0x3E] = '\xFF';
  far[0x3F] = '\x7F';
  ASSERT_TRUE(Locate(far));
  EXPECT_EQ(location.table.offset, 0u);
  EXPECT_EQ(CheckTrailer(trailer, location.trailer_offset), TrailerProblem::kNone);
  // Not even room for a trailer.
  EXPECT_FALSE(Locate("MZ" + std::string(40, '\0')));
}

}  // namespace
