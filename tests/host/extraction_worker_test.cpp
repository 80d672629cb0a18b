#include "extraction_worker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "messages.h"
#include "resource_ids.h"
#include "sea_result.h"
#include "fake_platform.h"
#include "restart.h"
#include "stream_builder.h"

namespace {

void* const kDialog = reinterpret_cast<void*>(0xD1A1);

class ExtractionWorker : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    owned_record.reset(new ProgressDialogRecord{});
    record = owned_record.get();
    record->dialog_window = kDialog;
    fake::world().random_draws = {12345, 23456};  // root "C:\Temp\KOV11426\"
  }

  // The program's own file: a stand-in image, the stream, side-file bytes, the trailer.
  void WriteOwnFile(const std::string& stream, test::Slot setup_slot = {}) {
    std::string image(1000, 'M');
    std::string file = image + stream + "INI";
    test::Slot slots[4] = {{}, {}, {}, setup_slot};
    file += test::Trailer(1000, static_cast<uint32_t>(stream.size()), 1, slots);
    fake::PutFile(fake::world().own_path, file);
  }

  std::string StandardStream() {
    return test::DirEntry("Disk1") + test::FileEntry("Disk1\\Setup.exe", "MZ") +
           test::FileEntry("Disk1\\data1.cab", test::Pattern(30000));
  }

  // Only the fake's own fixtures remain: the run left nothing behind.
  void ExpectNothingLeft() {
    for (const std::string& p : fake::Paths()) {
      EXPECT_TRUE(p == "C:\\TEMP" || p == "C:\\DOWNLOADS" || p == fake::Upper(fake::world().own_path))
          << "left behind: " << p;
    }
    EXPECT_EQ(fake::world().open_files, 0);
    EXPECT_EQ(fake::world().live_allocations, 0);
  }

  int32_t Run() { return ExtractArchive(record, nullptr); }

  std::unique_ptr<ProgressDialogRecord> owned_record;
  ProgressDialogRecord* record = nullptr;
};

TEST_F(ExtractionWorker, CompleteRunExtractsHandsOffAndCleansUp) {
  WriteOwnFile(StandardStream(), {0, 0});
  std::string seen;
  fake::world().on_program_run = [&](const std::string& path) {
    seen = fake::FileBytes("C:\\Temp\\KOV11426\\Disk1\\data1.cab");
    EXPECT_EQ(path, "C:\\Temp\\KOV11426\\Disk1\\Setup.exe");
  };
  EXPECT_EQ(Run(), kSeaSuccess);
  EXPECT_EQ(seen, test::Pattern(30000));
  EXPECT_EQ(fake::world().bar_positions.back(), std::make_pair(kDialog, 100));
  EXPECT_TRUE(fake::world().boxes.empty());
  EXPECT_EQ(fake::world().seeds, 1);
  ExpectNothingLeft();
}

TEST_F(ExtractionWorker, SideFileSlotsAreCopiedFromTheOwnFile) {
  const std::string stream = StandardStream();
  WriteOwnFile(stream, {static_cast<uint32_t>(1000 + stream.size()), 3});
  std::string ini;
  fake::world().on_program_run = [&](const std::string&) {
    ini = fake::FileBytes("C:\\Temp\\KOV11426\\Disk1\\setup.ini");
  };
  EXPECT_EQ(Run(), kSeaSuccess);
  EXPECT_EQ(ini, "INI");
}

// A signed file: the image's header names a certificate table that ends the file, the
// trailer stands in front of it after 4 bytes of the signer's padding.
TEST_F(ExtractionWorker, SignedFileExtractsWithItsSideFiles) {
  const std::string stream = StandardStream();
  size_t gap = 0;  // zero bytes before the side file, so that the table lands 8-aligned
  while ((1024 + stream.size() + gap + 3 + kTrailerSize + 4) % 8 != 0) ++gap;
  test::Slot slots[4] = {{}, {}, {}, {static_cast<uint32_t>(1024 + stream.size() + gap), 3}};
  const std::string body = stream + std::string(gap, '\0') + "INI" +
                           test::Trailer(1024, static_cast<uint32_t>(stream.size()), 3, slots);
  const uint32_t table_at = static_cast<uint32_t>(1024 + body.size() + 4);
  fake::PutFile(fake::world().own_path, test::PeImage(1024, table_at, 16) + body +
                                            std::string(4, '\0') + std::string(16, 'C'));
  std::string ini;
  fake::world().on_program_run = [&](const std::string&) {
    ini = fake::FileBytes("C:\\Temp\\KOV11426\\Disk1\\setup.ini");
  };
  EXPECT_EQ(Run(), kSeaSuccess);
  EXPECT_TRUE(fake::world().boxes.empty());
  EXPECT_EQ(ini, "INI");
  ExpectNothingLeft();
}

TEST_F(ExtractionWorker, InvalidFilesAreRefusedBeforeAnythingIsCreated) {
  const std::string stream = StandardStream();
  struct Case {
    std::string what;
    std::string file;
  };
  std::vector<Case> cases = {
      {"wrong magic", std::string(2000, 'x')},
      {"magic off by its last byte",
       std::string(100, 'M') + "KOVSEB" + test::Trailer(10, 10, 1, {{}, {}, {}, {}}).substr(6)},
      {"side file over the stream", std::string(100, 'M') + test::Trailer(0, 10, 1, {{}, {}, {}, {5, 10}})},
      {"shorter than a trailer", "KOVSEA"},
      {"archive size 0", std::string(100, 'M') + test::Trailer(10, 0, 0, {{}, {}, {}, {}})},
      {"stream past the trailer", std::string(100, 'M') + test::Trailer(90, 20, 1, {{}, {}, {}, {}})},
      {"offset wraps", std::string(100, 'M') + test::Trailer(0xFFFFFFF0u, 0x20, 1, {{}, {}, {}, {}})},
      // Signed: the stream may not reach into the certificate table behind the trailer.
      {"stream into the certificate table",
       test::PeImage(1024, 1024 + 4 + kTrailerSize, 8) + "abcd" +
           test::Trailer(1024, 4 + kTrailerSize + 1, 1, {{}, {}, {}, {}}) + std::string(8, 'C')},
  };
  for (int slot = 0; slot < 4; ++slot) {
    test::Slot slots[4] = {};
    slots[slot] = {95, 6};  // one byte into the trailer at 100
    cases.push_back({"slot " + std::to_string(slot) + " past the trailer",
                     std::string(100, 'M') + test::Trailer(0, 10, 1, slots)});
  }
  for (const Case& c : cases) {
    SetUp();
    fake::PutFile(fake::world().own_path, c.file);
    EXPECT_EQ(Run(), kSeaErrorAborted) << c.what;
    ASSERT_EQ(fake::world().boxes.size(), 1u) << c.what;
    EXPECT_EQ(fake::world().boxes[0].text, MessageText(IDS_ERR_NOT_SEA));
    EXPECT_EQ(fake::world().boxes[0].caption, MessageText(IDS_ERROR_TITLE));
    EXPECT_EQ(fake::world().boxes[0].owner, kDialog);
    EXPECT_EQ(fake::EventIndex("mkdir"), -1) << c.what;
    EXPECT_EQ(fake::EventIndex("set Reboot"), -1) << "no hand-off: " << c.what;
    ExpectNothingLeft();
  }
}

TEST_F(ExtractionWorker, FileWhoseCloseFailsFailsItsEntry) {
  // A small file on a full disk: every write lands in the stream's buffer, the close fails.
  WriteOwnFile(StandardStream());
  fake::world().fail_close.insert("C:\\TEMP\\KOV11426\\DISK1\\SETUP.EXE");
  EXPECT_EQ(Run(), kSeaErrorAborted);
  ASSERT_EQ(fake::world().boxes.size(), 1u);
  EXPECT_EQ(fake::world().boxes[0].text, "Cannot create the current file.");
  EXPECT_EQ(fake::world().boxes[0].caption, "C:\\Temp\\KOV11426\\Disk1\\Setup.exe");
  EXPECT_TRUE(fake::world().started_programs.empty());
  ExpectNothingLeft();
}

TEST_F(ExtractionWorker, UnreadableOwnFileIsNotAValidArchive) {
  fake::world().own_path = "C:\\Downloads\\vanished.exe";
  EXPECT_EQ(Run(), kSeaErrorAborted);
  ASSERT_EQ(fake::world().boxes.size(), 1u);
  EXPECT_EQ(fake::world().boxes[0].text, MessageText(IDS_ERR_NOT_SEA));
}

TEST_F(ExtractionWorker, RootThatCannotBeMadeStopsTheRunWithoutAHandOff) {
  struct Case {
    const char* what;
    std::function<void()> arrange;
  } cases[] = {
      {"every root drawn exists",
       [] {
         fake::PutDirectory("C:\\Temp\\KOV11426");
         fake::PutDirectory("C:\\Temp\\KOV14b5a");  // the fake's draw once the scripted ones are used
       }},
      {"no temporary path", [] { fake::world().temp_available = false; }},
      {"temporary path longer than asked for", [] { fake::world().temp_reported_length = 300; }},
      {"root would not fit a clean-up path",
       [] {
         fake::world().temp_dir = "C:\\" + std::string(248, 't') + "\\";
         fake::PutDirectory(fake::world().temp_dir);
       }},
  };
  for (const Case& c : cases) {
    SetUp();
    WriteOwnFile(StandardStream());
    c.arrange();
    const size_t paths_before = fake::Paths().size();
    EXPECT_EQ(Run(), kSeaErrorAborted) << c.what;
    ASSERT_EQ(fake::world().boxes.size(), 1u) << c.what;
    EXPECT_EQ(fake::world().boxes[0].text, MessageText(IDS_ERR_TEMP_DIR));
    EXPECT_EQ(fake::world().boxes[0].caption, MessageText(IDS_ERROR_TITLE));
    EXPECT_EQ(fake::EventIndex("set Reboot"), -1) << c.what;
    EXPECT_EQ(fake::Paths().size(), paths_before) << c.what;
    EXPECT_EQ(fake::world().open_files, 0);
  }
}

TEST_F(ExtractionWorker, LongestTemporaryPathThatStillFitsIsUsed) {
  // 249 characters, "KOV", five digits and "\" make a root of 258, and the entry "f" a
  // path of exactly 259.
  fake::world().temp_dir = "C:\\" + std::string(245, 't') + "\\";
  ASSERT_EQ(fake::world().temp_dir.size(), 249u);
  fake::PutDirectory(fake::world().temp_dir);
  WriteOwnFile(test::FileEntry("f", "x"));
  EXPECT_EQ(Run(), kSeaSuccess);
  EXPECT_GE(fake::EventIndex("mkdir private " + fake::world().temp_dir + "KOV11426\\"), 0);
}

TEST(RootSuffix, IsAtMostTheFirstFiveHexDigitsOfTheProduct) {
  char out[6];
  FormatRootSuffix(12345, 23456, out);  // 289564320 = 0x114266a0
  EXPECT_STREQ(out, "11426");
  FormatRootSuffix(0, 32767, out);
  EXPECT_STREQ(out, "0");
  FormatRootSuffix(255, 1, out);
  EXPECT_STREQ(out, "ff");
  FormatRootSuffix(0xFFFF, 1, out);
  EXPECT_STREQ(out, "ffff");
  FormatRootSuffix(32767, 32767, out);  // 1073676289 = 0x3fff0001
  EXPECT_STREQ(out, "3fff0");
}

TEST_F(ExtractionWorker, ShortSuffixNamesTheRootDirectory) {
  fake::world().random_draws = {0, 777};
  WriteOwnFile(test::FileEntry("f", "x"));
  EXPECT_EQ(Run(), kSeaSuccess);
  EXPECT_GE(fake::EventIndex("mkdir private C:\\Temp\\KOV0\\"), 0);
}

TEST_F(ExtractionWorker, FailureInTheMiddleDeletesEverythingAndShowsFullProgress) {
  WriteOwnFile(StandardStream() + test::FileEntry("Disk1\\later", "x"));
  fake::world().fail_create.insert("C:\\TEMP\\KOV11426\\DISK1\\DATA1.CAB");
  EXPECT_EQ(Run(), kSeaErrorAborted);
  ASSERT_EQ(fake::world().boxes.size(), 1u);
  EXPECT_EQ(fake::world().boxes[0].caption, "C:\\Temp\\KOV11426\\Disk1\\data1.cab");
  EXPECT_TRUE(fake::world().started_programs.empty());
  EXPECT_EQ(fake::world().bar_positions.back().second, 100);
  EXPECT_TRUE(fake::HasEvent("set Reboot 0"));
  ExpectNothingLeft();
}

TEST_F(ExtractionWorker, CancelSeenAtAProgressPointStopsQuietly) {
  WriteOwnFile(StandardStream() + test::FileEntry("Disk1\\big", test::Pattern(20000)));
  fake::world().on_read = [this](int n) {
    if (n == 4) record->cancelled = 1;  // the own file's reads: trailer, then blocks
  };
  EXPECT_EQ(Run(), kSeaErrorAborted);
  EXPECT_TRUE(fake::world().boxes.empty());
  EXPECT_TRUE(fake::world().started_programs.empty());
  EXPECT_EQ(fake::world().bar_positions.back().second, 100);
  ExpectNothingLeft();
}

TEST_F(ExtractionWorker, CancelAfterTheLastProgressPointStillStartsTheInstaller) {
  const std::string stream = test::FileEntry("Disk1\\pad", test::Pattern(11 * 512));
  WriteOwnFile(test::DirEntry("Disk1") + test::FileEntry("Disk1\\Setup.exe", "MZ") + stream);
  fake::world().on_read = [this](int n) {
    // Read 1 to 3 find the trailer, read 4 looks the stream over; block 12 of 12 is read 14,
    // after the progress point before block 11.
    if (n == 14) record->cancelled = 1;
  };
  EXPECT_EQ(Run(), kSeaSuccess);
  EXPECT_EQ(fake::world().started_programs.size(), 1u);
}

TEST_F(ExtractionWorker, BothBlockBuffersAreZeroWhenTheHandOffBegins) {
  WriteOwnFile(StandardStream());
  bool checked = false;
  fake::world().on_program_run = [&](const std::string&) {
    // The read buffer is the one that the block reads filled; it lives in the worker's frame.
    const auto* read_buffer = static_cast<const uint8_t*>(fake::world().read_buffers.back());
    EXPECT_TRUE(std::all_of(read_buffer, read_buffer + kBlockSize, [](uint8_t b) { return b == 0; }));
    checked = true;
  };
  EXPECT_EQ(Run(), kSeaSuccess);
  EXPECT_TRUE(checked);
}

TEST_F(ExtractionWorker, ARootNameAlreadyTakenIsDrawnAgain) {
  WriteOwnFile(StandardStream());
  fake::PutDirectory("C:\\Temp\\KOV11426");
  fake::world().random_draws = {12345, 23456, 16, 16};  // then 16 * 16 = 0x100
  std::string seen;
  fake::world().on_program_run = [&](const std::string& path) { seen = path; };
  EXPECT_EQ(Run(), kSeaSuccess);
  EXPECT_EQ(seen, "C:\\Temp\\KOV100\\Disk1\\Setup.exe");
  EXPECT_TRUE(fake::world().boxes.empty());
  EXPECT_TRUE(fake::IsDirectory("C:\\Temp\\KOV11426")) << "the directory that was there stays";
}

TEST_F(ExtractionWorker, AStreamThatEndsInsideAnEntryIsRefusedBeforeAnythingIsCreated) {
  const std::string whole = StandardStream();
  const std::string cases[] = {
      whole.substr(0, whole.size() - 10),                     // inside data1.cab's data
      whole + std::string("\x05\0\0\0Disk1\\x", 12),        // inside a name
      whole + std::string("\x05\0", 2),                       // inside a size
  };
  for (const std::string& stream : cases) {
    SetUp();
    WriteOwnFile(stream);
    EXPECT_EQ(Run(), kSeaErrorAborted) << stream.size();
    ASSERT_EQ(fake::world().boxes.size(), 1u) << stream.size();
    EXPECT_EQ(fake::world().boxes[0].text, MessageText(IDS_ERR_NOT_SEA));
    EXPECT_EQ(fake::EventIndex("mkdir private C:\\Temp\\KOV11426\\"), -1) << "nothing is created";
    EXPECT_TRUE(fake::world().started_programs.empty());
    ExpectNothingLeft();
  }
}

}  // namespace
