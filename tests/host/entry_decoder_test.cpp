#include "entry_decoder.h"

#include <gtest/gtest.h>

#include "decoder_harness.h"
#include "stream_builder.h"

namespace {

using test::DecoderRun;
using test::DirEntry;
using test::FileEntry;

class EntryDecoder : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }
};

TEST_F(EntryDecoder, CreatesDirectoriesFilesAndEmptyFilesInStreamOrder) {
  std::string stream = DirEntry("Disk1") + FileEntry("Disk1\\Setup.exe", "MZ-program") +
                       FileEntry("Disk1\\empty.txt", "") + DirEntry("Disk1\\sub") +
                       FileEntry("Disk1\\sub\\data1.cab", test::Pattern(3000));
  DecoderRun run;
  run.Run(stream, static_cast<uint32_t>(stream.size()));
  EXPECT_EQ(run.state.error_flag, 0);
  EXPECT_TRUE(fake::IsDirectory("C:\\Root\\Disk1"));
  EXPECT_EQ(fake::FileBytes("C:\\Root\\Disk1\\Setup.exe"), "MZ-program");
  EXPECT_EQ(fake::FileBytes("C:\\Root\\Disk1\\empty.txt"), "");
  EXPECT_EQ(fake::FileBytes("C:\\Root\\Disk1\\sub\\data1.cab"), test::Pattern(3000));
  EXPECT_EQ(run.state.output_file, nullptr);
  EXPECT_EQ(run.CleanupPaths(), (std::vector<std::string>{
                                    "F C:\\Root\\Disk1\\sub\\data1.cab", "D C:\\Root\\Disk1\\sub",
                                    "F C:\\Root\\Disk1\\empty.txt", "F C:\\Root\\Disk1\\Setup.exe",
                                    "D C:\\Root\\Disk1"}));
  EXPECT_EQ(run.state.failure.kind, EntryFailure::kNone);
}

TEST_F(EntryDecoder, FileEndingOnTheLastByteOfABlockIsClosedThen) {
  // Header 4 + 1 + 1 = 6 bytes, so 1018 data bytes end exactly at stream offset 1023.
  std::string stream = FileEntry("f", test::Pattern(1018));
  ASSERT_EQ(stream.size(), 1024u);
  DecoderRun run;
  run.Run(stream, 1024);
  EXPECT_EQ(fake::FileBytes("C:\\Root\\f"), test::Pattern(1018));
  EXPECT_EQ(run.state.output_file, nullptr);
  EXPECT_EQ(run.state.header_mode, 1);
  // A stream ending on a block boundary reads one more block before the end is seen.
  EXPECT_EQ(run.state.blocks_loaded, 3u);
}

TEST_F(EntryDecoder, ArchiveOfExactly512BytesReadsASecondBlock) {
  std::string stream = FileEntry("x.bin", test::Pattern(512 - 10));
  ASSERT_EQ(stream.size(), 512u);
  DecoderRun run;
  run.Run(stream + "TRAILING-BYTES", 512);
  EXPECT_EQ(fake::world().reads, 2);
  EXPECT_EQ(run.state.blocks_loaded, 2u);
  EXPECT_EQ(fake::FileBytes("C:\\Root\\x.bin"), test::Pattern(502));
}

TEST_F(EntryDecoder, ProgressIsAskedEveryTenBlocksAndNeverAbove100) {
  const uint32_t size = 25 * 512 + 100;
  std::string stream = FileEntry("big", test::Pattern(size - 8));
  ASSERT_EQ(stream.size(), size);
  DecoderRun run;
  run.Run(stream, size);
  EXPECT_EQ(run.progress, (std::vector<int32_t>{0, static_cast<int32_t>(5120ull * 100 / size),
                                                static_cast<int32_t>(10240ull * 100 / size)}));
  EXPECT_EQ(fake::world().reads, 26);

  // A stream of exactly 20 blocks asks for 100 before the extra block is read.
  fake::Reset();
  std::string exact = FileEntry("big", test::Pattern(20 * 512 - 8));
  DecoderRun run2;
  run2.Run(exact, 20 * 512);
  EXPECT_EQ(run2.progress, (std::vector<int32_t>{0, 50, 100}));
}

TEST_F(EntryDecoder, ProgressArithmeticDoesNotOverflowOnLargeArchives) {
  // Only the first blocks of a stream that claims nearly 4 GiB are present: the reads past
  // the file's end serve zeros, and the percentages stay small and exact.
  const uint32_t size = 0xFFFFFF00u;
  std::string stream = FileEntry("huge", test::Pattern(30 * 512));
  DecoderRun run;
  run.cancel_at_read = 25;  // stop the run early at the 30-block progress point
  run.Run(stream, size);
  ASSERT_EQ(run.progress.size(), 3u);
  EXPECT_EQ(run.progress[1], static_cast<int32_t>(5120ull * 100 / size));
  EXPECT_EQ(run.progress[2], static_cast<int32_t>(10240ull * 100 / size));
}

TEST_F(EntryDecoder, CancelIsSeenAtTheNextProgressPoint) {
  std::string stream = FileEntry("big", test::Pattern(40 * 512));
  DecoderRun run;
  run.cancel_at_read = 5;
  run.Run(stream, static_cast<uint32_t>(stream.size()));
  EXPECT_EQ(run.state.error_flag, 1);
  EXPECT_EQ(fake::world().reads, 10);  // block 11 is never read
  EXPECT_EQ(run.state.failure.kind, EntryFailure::kNone) << "a cancel is not a failure";
  EXPECT_EQ(DecoderRun::failures_reported(), 0);
  EXPECT_NE(run.state.output_file, nullptr);  // left for the worker to close
  platform::CloseFile(run.state.output_file);
}

TEST_F(EntryDecoder, CancelAfterTheLastProgressPointDoesNotStopTheStream) {
  std::string stream = FileEntry("a", test::Pattern(14 * 512)) + FileEntry("b", "tail");
  DecoderRun run;
  run.cancel_at_read = 12;
  run.Run(stream, static_cast<uint32_t>(stream.size()));
  EXPECT_EQ(run.state.error_flag, 0);
  EXPECT_EQ(fake::FileBytes("C:\\Root\\b"), "tail");
}

TEST_F(EntryDecoder, StreamEndingRightAfterANameLeavesTheEmptyFileOpen) {
  std::string stream = FileEntry("cut.bin", "");
  stream[0] = 100;  // promises 100 data bytes that never come
  DecoderRun run;
  run.Run(stream, static_cast<uint32_t>(stream.size()));
  EXPECT_EQ(run.state.error_flag, 0);
  EXPECT_TRUE(fake::Exists("C:\\Root\\cut.bin"));
  EXPECT_EQ(fake::FileBytes("C:\\Root\\cut.bin"), "");
  ASSERT_NE(run.state.output_file, nullptr);
  EXPECT_EQ(run.CleanupPaths(), (std::vector<std::string>{"F C:\\Root\\cut.bin"}));
  CloseOutputFile(&run.state);
  EXPECT_EQ(run.state.error_flag, 0);
}

TEST_F(EntryDecoder, SecondEntryOfTheSameNameOverwritesAndIsRecordedTwice) {
  std::string stream = FileEntry("same", "first-version") + FileEntry("SAME", "second");
  DecoderRun run;
  run.Run(stream, static_cast<uint32_t>(stream.size()));
  EXPECT_EQ(fake::FileBytes("C:\\Root\\same"), "second");
  EXPECT_EQ(run.CleanupPaths().size(), 2u);
}

TEST_F(EntryDecoder, BytesBeyondTheStreamAreNeverInterpreted) {
  std::string stream = FileEntry("inside", "data");
  std::string after = FileEntry("outside", "must not appear");
  DecoderRun run;
  run.Run(stream + after, static_cast<uint32_t>(stream.size()));
  EXPECT_TRUE(fake::Exists("C:\\Root\\inside"));
  EXPECT_FALSE(fake::Exists("C:\\Root\\outside"));
}

TEST_F(EntryDecoder, StreamLongerThanTheFileDecodesZerosAndFailsOnTheEmptyName) {
  std::string stream = FileEntry("a", "xyz");
  DecoderRun run;
  run.Run(stream, static_cast<uint32_t>(stream.size() + 40));
  EXPECT_EQ(run.state.error_flag, 1);
  EXPECT_EQ(run.state.failure.kind, EntryFailure::kBadName);
  EXPECT_EQ(run.state.failure.name_problem, NameProblem::kEmpty);
  EXPECT_STREQ(run.state.failure.path, "C:\\Root\\");
  EXPECT_EQ(DecoderRun::failures_reported(), 1);
}

TEST_F(EntryDecoder, AByteAfterTheErrorFlagHasNoEffect) {
  DecoderRun run;
  run.Run(DirEntry("d"), 6);
  run.state.error_flag = 1;
  run.state.header_bytes_seen = 0;
  for (int b : {0, 0, 0, 0, int{'z'}, 0}) EXPECT_EQ(DecodeArchiveByte(b, &run.state), 1);
  EXPECT_FALSE(fake::Exists("C:\\Root\\z"));
  EXPECT_EQ(ReadArchiveByte(&run.state), -1);
}

TEST_F(EntryDecoder, UncreatableDirectoryIsRecordedAndItsFilesFail) {
  fake::world().fail_all_directories = true;
  std::string stream = DirEntry("Disk1") + FileEntry("Disk1\\a", "1") + FileEntry("b", "2");
  DecoderRun run;
  run.Run(stream, static_cast<uint32_t>(stream.size()));
  EXPECT_EQ(run.state.error_flag, 1);
  EXPECT_EQ(run.state.failure.kind, EntryFailure::kCannotCreate);
  EXPECT_STREQ(run.state.failure.path, "C:\\Root\\Disk1\\a");
  EXPECT_EQ(run.CleanupPaths(), (std::vector<std::string>{"D C:\\Root\\Disk1"}));
  EXPECT_FALSE(fake::Exists("C:\\Root\\b"));  // nothing after the failure
}

TEST_F(EntryDecoder, DamagedNamesAreNeverCreated) {
  for (const char* name : {"..\\evil.exe", "Disk1\\..\\..\\evil", "\\abs", "C:\\abs", "a/b",
                           "NUL", "Disk1\\com3.txt", "a\\\\b", "x:y", "", "..\\x (directory)"}) {
    fake::Reset();
    // The last name stands for a directory entry "..\x".
    const bool directory = std::string(name) == "..\\x (directory)";
    if (directory) name = "..\\x";
    std::string stream = directory ? DirEntry(name) : FileEntry(name, "payload");
    DecoderRun run;
    run.Run(stream, static_cast<uint32_t>(stream.size()));
    EXPECT_EQ(run.state.error_flag, 1) << name;
    EXPECT_EQ(run.state.failure.kind, EntryFailure::kBadName) << name;
    EXPECT_NE(run.state.failure.name_problem, NameProblem::kNone) << name;
    EXPECT_EQ(std::string(run.state.failure.path), std::string(test::kRoot) + name);
    EXPECT_EQ(DecoderRun::failures_reported(), 1) << name;
    EXPECT_TRUE(run.CleanupPaths().empty()) << name;
    // Only the fixture's own paths exist: nothing was created anywhere.
    EXPECT_EQ(fake::Paths().size(), 4u) << name;
  }
}

TEST_F(EntryDecoder, OverlongNamesAndPathsFailWithoutOverrunningBuffers) {
  // A name that never ends within 264 bytes.
  std::string endless;
  test::Put32(&endless, 5);
  endless += std::string(400, 'n');
  DecoderRun run;
  run.Run(endless, static_cast<uint32_t>(endless.size()));
  EXPECT_EQ(run.state.error_flag, 1);
  EXPECT_EQ(run.state.failure.kind, EntryFailure::kNameTooLong);
  EXPECT_EQ(strlen(run.state.failure.path), kMaxPathLength);

  // A valid name whose full path is longer than 259 characters.
  fake::Reset();
  std::string name(259 - 8 + 1, 'p');  // the root is 8 characters
  std::string stream = FileEntry(name, "x");
  DecoderRun run2;
  run2.Run(stream, static_cast<uint32_t>(stream.size()));
  EXPECT_EQ(run2.state.error_flag, 1);
  EXPECT_FALSE(fake::Exists(std::string(test::kRoot) + name));

  fake::Reset();
  std::string fits(259 - 8, 'p');
  std::string stream3 = FileEntry(fits, "x");
  DecoderRun run3;
  run3.Run(stream3, static_cast<uint32_t>(stream3.size()));
  EXPECT_EQ(run3.state.error_flag, 0);
  EXPECT_TRUE(fake::Exists(std::string(test::kRoot) + fits));
}

TEST_F(EntryDecoder, FailedWriteOrCloseIsAnErrorAndTheFileIsStillDeletedLater) {
  for (bool byte_wise : {false, true}) {
    fake::Reset();
    fake::world().write_budget = 700;  // the disk fills up inside the file
    std::string stream = FileEntry("full.bin", test::Pattern(2000)) + FileEntry("next", "n");
    DecoderRun run;
    run.Run(stream, static_cast<uint32_t>(stream.size()), byte_wise);
    EXPECT_EQ(run.state.error_flag, 1);
    EXPECT_EQ(run.state.failure.kind, EntryFailure::kCannotWrite);
    EXPECT_STREQ(run.state.failure.path, "C:\\Root\\full.bin");
    EXPECT_EQ(run.CleanupPaths(), (std::vector<std::string>{"F C:\\Root\\full.bin"}));
    EXPECT_FALSE(fake::Exists("C:\\Root\\next"));
    CloseOutputFile(&run.state);
    EXPECT_EQ(DecoderRun::failures_reported(), 1);  // reported once
  }
}

TEST_F(EntryDecoder, UnallocatableCleanupNodeStopsBeforeCreatingAnything) {
  fake::world().allocations_left = 1;
  std::string stream = DirEntry("Disk1") + FileEntry("Disk1\\a", "1");
  DecoderRun run;
  run.Run(stream, static_cast<uint32_t>(stream.size()));
  EXPECT_EQ(run.state.error_flag, 1);
  EXPECT_TRUE(fake::IsDirectory("C:\\Root\\Disk1"));
  EXPECT_FALSE(fake::Exists("C:\\Root\\Disk1\\a"));
  EXPECT_EQ(run.CleanupPaths().size(), 1u);
}

TEST_F(EntryDecoder, ReadErrorIsReportedOnceAsADamagedFile) {
  std::string stream = FileEntry("a", test::Pattern(3000));
  fake::world().read_error_from = 1500;
  DecoderRun run;
  run.Run(stream, static_cast<uint32_t>(stream.size()));
  EXPECT_EQ(run.state.error_flag, 1);
  EXPECT_EQ(run.state.failure.kind, EntryFailure::kArchiveUnreadable);
  EXPECT_EQ(DecoderRun::failures_reported(), 1);
  EXPECT_EQ(ReadArchiveByte(&run.state), -1);
  platform::CloseFile(run.state.output_file);
}

}  // namespace
