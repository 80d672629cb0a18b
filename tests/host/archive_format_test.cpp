#include "archive_format.h"

#include <gtest/gtest.h>

#include <string.h>

#include "fake_platform.h"
#include "stream_builder.h"

namespace {

TEST(TrailerCodec, DecodesTheDocumentedByteLayout) {
  test::Slot slots[4] = {{100, 1}, {200, 2}, {300, 3}, {0x01020304, 0xA0B0C0D0}};
  std::string raw = test::Trailer(0x11223344, 0x55667788, 19, slots);
  ASSERT_EQ(raw.size(), kTrailerSize);
  ArchiveTrailer t;
  DecodeTrailer(reinterpret_cast<const uint8_t*>(raw.data()), &t);
  EXPECT_TRUE(HasTrailerMagic(t));
  EXPECT_EQ(t.archive_offset, 0x11223344u);
  EXPECT_EQ(t.archive_size, 0x55667788u);
  EXPECT_EQ(t.entry_count, 19u);
  EXPECT_EQ(t.admin.offset, 100u);
  EXPECT_EQ(t.client.size, 2u);
  EXPECT_EQ(t.net.offset, 300u);
  EXPECT_EQ(t.setup.offset, 0x01020304u);
  EXPECT_EQ(t.setup.size, 0xA0B0C0D0u);
}

TEST(TrailerCodec, EncodeWritesMagicZeroPadAndLittleEndianFields) {
  test::Slot slots[4] = {{1, 2}, {3, 4}, {5, 6}, {7, 8}};
  std::string expected = test::Trailer(72192, 4096, 3, slots);
  ArchiveTrailer t;
  DecodeTrailer(reinterpret_cast<const uint8_t*>(expected.data()), &t);
  uint8_t out[kTrailerSize];
  memset(out, 0xEE, sizeof out);
  EncodeTrailer(t, out);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), sizeof out), expected);
}

TEST(TrailerCheck, AcceptsStreamAndSlotsInFrontOfTheTrailer) {
  test::Slot slots[4] = {{150, 50}, {0, 999999}, {0, 0}, {100, 0}};
  std::string raw = test::Trailer(100, 50, 1, slots);
  ArchiveTrailer t;
  DecodeTrailer(reinterpret_cast<const uint8_t*>(raw.data()), &t);
  EXPECT_EQ(CheckTrailer(t, 200), TrailerProblem::kNone);
}

TEST(TrailerCheck, RefusesEachKindOfDamage) {
  auto check = [](uint32_t off, uint32_t size, test::Slot slot, uint64_t file_length) {
    test::Slot slots[4] = {{}, {}, slot, {}};
    std::string raw = test::Trailer(off, size, 1, slots);
    ArchiveTrailer t;
    DecodeTrailer(reinterpret_cast<const uint8_t*>(raw.data()), &t);
    int bad = -1;
    TrailerProblem p = CheckTrailer(t, file_length - kTrailerSize, &bad);
    if (p == TrailerProblem::kSlotOutsideFile) {
      EXPECT_EQ(bad, 2);
    }
    return p;
  };
  EXPECT_EQ(check(0, 0, {}, 1000), TrailerProblem::kEmptyArchive);
  EXPECT_EQ(check(900, 49, {}, 1000), TrailerProblem::kArchiveOutsideFile);  // reaches trailer
  EXPECT_EQ(check(900, 48, {}, 1000), TrailerProblem::kNone);
  // Offsets near 4 GiB must not wrap around to look small.
  EXPECT_EQ(check(0xFFFFFFF0u, 0x20, {}, 1000), TrailerProblem::kArchiveOutsideFile);
  EXPECT_EQ(check(10, 10, {0xFFFFFFFFu, 2}, 1000), TrailerProblem::kSlotOutsideFile);
  EXPECT_EQ(check(10, 10, {940, 9}, 1000), TrailerProblem::kSlotOutsideFile);
  EXPECT_EQ(check(10, 10, {0, 0xFFFFFFFFu}, 1000), TrailerProblem::kNone);  // absent slot

  ArchiveTrailer bad_magic;
  memset(&bad_magic, 0, sizeof bad_magic);
  bad_magic.archive_size = 1;
  EXPECT_EQ(CheckTrailer(bad_magic, 1000), TrailerProblem::kBadMagic);
  // Only the last byte differs.
  std::string raw = test::Trailer(10, 10, 1, {{}, {}, {}, {}});
  raw[5] = 'B';
  ArchiveTrailer kovseb;
  DecodeTrailer(reinterpret_cast<const uint8_t*>(raw.data()), &kovseb);
  EXPECT_EQ(CheckTrailer(kovseb, 1000), TrailerProblem::kBadMagic);
}

TEST(TrailerCheck, EachSlotMustEndBeforeTheTrailer) {
  for (int slot = 0; slot < 4; ++slot) {
    for (uint32_t size : {10u, 11u}) {
      test::Slot slots[4] = {};
      slots[slot] = {100, size};  // the trailer begins at 110
      std::string raw = test::Trailer(10, 90, 1, slots);
      ArchiveTrailer t;
      DecodeTrailer(reinterpret_cast<const uint8_t*>(raw.data()), &t);
      int bad = -1;
      EXPECT_EQ(CheckTrailer(t, 110, &bad), size == 10 ? TrailerProblem::kNone : TrailerProblem::kSlotOutsideFile)
          << slot << " " << size;
      if (size == 11) {
        EXPECT_EQ(bad, slot);
      }
    }
  }
}

TEST(TrailerCheck, SideFilesLieBehindTheStreamAndApart) {
  // Stream 100..200, trailer at 300.
  struct Case {
    test::Slot slots[4];
    TrailerProblem problem;
    int bad;
  } cases[] = {
      {{{200, 10}, {210, 10}, {220, 0}, {220, 80}}, TrailerProblem::kNone, -1},  // back to back
      {{{}, {}, {199, 5}, {}}, TrailerProblem::kSlotInsideArchive, 2},          // into the stream
      {{{50, 5}, {}, {}, {}}, TrailerProblem::kSlotInsideArchive, 0},           // in the stub
      {{{}, {150, 0}, {}, {}}, TrailerProblem::kNone, -1},                      // empty: no bytes
      {{{200, 20}, {}, {}, {219, 5}}, TrailerProblem::kSlotsOverlap, 3},
      {{{250, 10}, {240, 11}, {}, {}}, TrailerProblem::kSlotsOverlap, 1},
  };
  for (const Case& c : cases) {
    std::string raw = test::Trailer(100, 100, 1, c.slots);
    ArchiveTrailer t;
    DecodeTrailer(reinterpret_cast<const uint8_t*>(raw.data()), &t);
    int bad = -1;
    EXPECT_EQ(CheckTrailer(t, 300, &bad), c.problem) << c.bad;
    EXPECT_EQ(bad, c.bad);
  }
}

TEST(EntryNames, AcceptsOrdinaryInstallerNames) {
  for (const char* name : {"Disk1", "Disk1\\Setup.exe", "Disk1\\data1.cab", "a b\\c.d.e",
                           "CONFIG.SYS", "console", "COM10", "LPT0.txt", ".hidden", "\xe9t\xe9"}) {
    EXPECT_EQ(CheckEntryName(name), NameProblem::kNone) << name;
  }
}

TEST(EntryNames, RefusesNamesThatLeaveTheRootOrAliasDevices) {
  struct Case {
    const char* name;
    NameProblem problem;
  } cases[] = {
      {"", NameProblem::kEmpty},
      {"\\Windows\\evil.dll", NameProblem::kAbsolute},
      {"C:evil", NameProblem::kAbsolute},
      {"Disk1\\a:stream", NameProblem::kForbiddenCharacter},
      {"Disk1/evil", NameProblem::kForbiddenCharacter},
      {"Disk1\\x*y", NameProblem::kForbiddenCharacter},
      {"Disk1\\x<y", NameProblem::kForbiddenCharacter},
      {"Disk1\\x>y", NameProblem::kForbiddenCharacter},
      {"Disk1\\x\"y", NameProblem::kForbiddenCharacter},
      {"Disk1\\x|y", NameProblem::kForbiddenCharacter},
      {"Disk1\\x?y", NameProblem::kForbiddenCharacter},
      {"Disk1\\tab\there", NameProblem::kForbiddenCharacter},
      {"Disk1\\\\x", NameProblem::kEmptyComponent},
      {"Disk1\\", NameProblem::kEmptyComponent},
      {"..\\..\\evil.exe", NameProblem::kDotComponent},
      {"Disk1\\..\\..\\x", NameProblem::kDotComponent},
      {".\\x", NameProblem::kDotComponent},
      {"Disk1\\x.", NameProblem::kTrailingDotOrSpace},
      {"Disk1\\...", NameProblem::kTrailingDotOrSpace},
      {"Disk1\\x ", NameProblem::kTrailingDotOrSpace},
      {"CON", NameProblem::kReservedName},
      {"Disk1\\nul.txt", NameProblem::kReservedName},
      {"Disk1\\Com1", NameProblem::kReservedName},
      {"lpt9.log", NameProblem::kReservedName},
      {"aux .txt", NameProblem::kReservedName},
      {"COM\xb9", NameProblem::kReservedName},
      {"conout$", NameProblem::kReservedName},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CheckEntryName(c.name), c.problem) << c.name;
  }
}

TEST(EntryNames, LengthLimitIs263Characters) {
  std::string ok(263, 'a');
  EXPECT_EQ(CheckEntryName(ok.c_str()), NameProblem::kNone);
  std::string too_long(264, 'a');
  EXPECT_EQ(CheckEntryName(too_long.c_str()), NameProblem::kTooLong);
}

}  // namespace

TEST(EntryNames, DoubleByteCharactersAreCheckedWholeNotByteByByte) {
  // Code page 932: "\x83\x7c" is one katakana whose second byte is '|', "\x83\x5c" one whose
  // second byte is the backslash; "\x83" alone at the end is a cut character.
  fake::world().lead_bytes = "\x81\x82\x83";
  EXPECT_EQ(CheckEntryName("Disk1\\\x83\x8c\x83\x7c\x81\x5b\x83\x67.txt"), NameProblem::kNone);
  EXPECT_EQ(CheckEntryName("Disk1\\\x83\x5c.txt"), NameProblem::kNone) << "one character, not a separator";
  EXPECT_EQ(CheckEntryName("Disk1\\a|b"), NameProblem::kForbiddenCharacter) << "ASCII is still checked";
  fake::world().lead_bytes.clear();
  EXPECT_EQ(CheckEntryName("Disk1\\\x83\x7c.txt"), NameProblem::kForbiddenCharacter) << "in 1252 it is a '|'";
}
