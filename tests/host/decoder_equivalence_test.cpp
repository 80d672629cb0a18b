// The run-copying decoder must be indistinguishable from the byte-at-a-time reference:
// same files and bytes, same clean-up list, same progress calls, same platform calls, same
// end state, for every stream and every moment of cancellation.
#include <gtest/gtest.h>

#include <random>

#include "decoder_harness.h"
#include "stream_builder.h"

namespace {

struct Outcome {
  std::map<std::string, fake::Node> files;
  std::vector<std::string> cleanup;
  std::vector<int32_t> progress;
  std::vector<std::string> events;
  int32_t error_flag;
  uint32_t blocks_loaded;
  int32_t block_position;
  int32_t header_mode;
  uint32_t header_bytes_seen;
  bool output_open;
  int reads;
  int32_t last_requested;  // a progress value asked for after the last read, else -1
  EntryFailure failure;
  std::string failure_path;
};

Outcome Decode(const std::string& file, uint32_t size, bool byte_wise, int cancel_at_read,
               bool copy_between_files = false, int cancel_at_copy = 0) {
  fake::Reset();
  fake::world().copies_between_files = copy_between_files;
  test::DecoderRun run;
  fake::world().on_copy = [&run, cancel_at_copy](int n) {
    if (n == cancel_at_copy) run.cancelled = true;
  };
  run.cancel_at_read = cancel_at_read;
  run.Run(file, size, byte_wise);
  Outcome o{fake::world().files, run.CleanupPaths(), run.progress, fake::world().events,
            run.state.error_flag, run.state.blocks_loaded, run.state.block_position,
            run.state.header_mode, run.state.header_bytes_seen, run.state.output_file != nullptr,
            fake::world().reads, run.requested, run.state.failure.kind, run.state.failure.path};
  CloseOutputFile(&run.state);
  return o;
}

void ExpectSameFilesAndEndState(const Outcome& fast, const Outcome& reference, const std::string& what) {
  ASSERT_EQ(fast.files.size(), reference.files.size()) << what;
  for (const auto& entry : reference.files) {
    auto it = fast.files.find(entry.first);
    ASSERT_NE(it, fast.files.end()) << what << ": " << entry.first;
    EXPECT_EQ(it->second.is_directory, entry.second.is_directory) << what;
    EXPECT_EQ(it->second.bytes, entry.second.bytes) << what << ": " << entry.first;
  }
  EXPECT_EQ(fast.cleanup, reference.cleanup) << what;
  EXPECT_EQ(fast.events, reference.events) << what;
  EXPECT_EQ(fast.error_flag, reference.error_flag) << what;
  EXPECT_EQ(fast.failure, reference.failure) << what;
  EXPECT_EQ(fast.failure_path, reference.failure_path) << what;
  EXPECT_EQ(fast.blocks_loaded, reference.blocks_loaded) << what;
  EXPECT_EQ(fast.block_position, reference.block_position) << what;
  EXPECT_EQ(fast.header_mode, reference.header_mode) << what;
  EXPECT_EQ(fast.header_bytes_seen, reference.header_bytes_seen) << what;
  EXPECT_EQ(fast.output_open, reference.output_open) << what;
}

void ExpectSame(const std::string& file, uint32_t size, int cancel_at_read, const std::string& what) {
  const Outcome fast = Decode(file, size, false, cancel_at_read);
  const Outcome reference = Decode(file, size, true, cancel_at_read);
  ExpectSameFilesAndEndState(fast, reference, what);
  EXPECT_EQ(fast.progress, reference.progress) << what;
  EXPECT_EQ(fast.reads, reference.reads) << what;
}

// Whether `part` appears in `whole` in order (not necessarily next to each other).
bool IsSubsequence(const std::vector<int32_t>& part, const std::vector<int32_t>& whole) {
  size_t i = 0;
  for (int32_t v : whole) {
    if (i < part.size() && part[i] == v) ++i;
  }
  return i == part.size();
}

// A random mix of directories, empty files and files of awkward sizes.
std::string RandomStream(std::mt19937* rng, int entries) {
  std::string stream = test::DirEntry("D");
  std::uniform_int_distribution<int> kind(0, 9);
  std::uniform_int_distribution<int> small(1, 700);
  std::uniform_int_distribution<int> large(1, 9000);
  for (int i = 0; i < entries; ++i) {
    const std::string name = "D\\e" + std::to_string(i);
    const int k = kind(*rng);
    if (k == 0) {
      stream += test::DirEntry(name);
    } else if (k == 1) {
      stream += test::FileEntry(name, "");
    } else {
      stream += test::FileEntry(name, test::Pattern(k < 6 ? small(*rng) : large(*rng), i));
    }
  }
  return stream;
}

TEST(DecoderEquivalence, RandomEntryMixes) {
  std::mt19937 rng(20261207);
  for (int round = 0; round < 40; ++round) {
    const std::string stream = RandomStream(&rng, 1 + round % 13);
    ExpectSame(stream, static_cast<uint32_t>(stream.size()), 0, "round " + std::to_string(round));
  }
}

TEST(DecoderEquivalence, EntriesEndingOnBlockBoundariesAndStreamsOf512And1024Bytes) {
  for (uint32_t total : {512u, 1024u, 5120u, 5121u, 10240u}) {
    // One file whose last byte is the stream's last byte, then two files splitting it.
    std::string one = test::FileEntry("f", test::Pattern(total - 6));
    ExpectSame(one, total, 0, "one file of " + std::to_string(total));
    std::string two = test::FileEntry("a", test::Pattern(512 - 6)) +
                      test::FileEntry("b", test::Pattern(total - 512 - 6 > total ? 0 : total - 512 - 6));
    if (total > 512 + 6) ExpectSame(two, static_cast<uint32_t>(two.size()), 0, "two files " + std::to_string(total));
  }
}

TEST(DecoderEquivalence, TruncatedStreamsAndStreamsLongerThanTheFile) {
  std::mt19937 rng(7);
  const std::string stream = RandomStream(&rng, 12);
  for (uint32_t cut : {1u, 3u, 4u, 9u, 511u, 512u, 513u, 2000u}) {
    if (cut < stream.size()) {
      ExpectSame(stream, static_cast<uint32_t>(stream.size() - cut), 0, "cut " + std::to_string(cut));
    }
  }
  ExpectSame(stream, static_cast<uint32_t>(stream.size() + 700), 0, "longer than the file");
}

TEST(DecoderEquivalence, CancelAtEveryProgressPoint) {
  const std::string stream = test::DirEntry("D") + test::FileEntry("D\\big", test::Pattern(45 * 512)) +
                             test::FileEntry("D\\tail", "t");
  for (int read = 1; read <= 48; ++read) {
    ExpectSame(stream, static_cast<uint32_t>(stream.size()), read, "cancel during read " + std::to_string(read));
  }
}

// Long runs of file data copied file to file by the platform: the same files, clean-up list
// and end state as the reference, and no progress point out of order.
TEST(CopyBetweenFiles, LongRunsEndLikeTheBlockPath) {
  const uint32_t shortcut = kCopyShortcutBlocks * kBlockSize;
  struct Case {
    const char* what;
    std::string stream;
    uint32_t cut;  // bytes the trailer's size leaves off the end
  } cases[] = {
      {"exactly the shortest run", test::FileEntry("a", test::Pattern(shortcut + 512 - 6)), 0},
      {"one block too short", test::DirEntry("D") + test::FileEntry("D\\a", test::Pattern(shortcut - 1)), 0},
      {"several chunks, then small files",
       test::DirEntry("D") + test::FileEntry("D\\big", test::Pattern(3 * kCopyChunkBlocks * kBlockSize + 777)) +
           test::FileEntry("D\\small", "s") + test::FileEntry("D\\mid", test::Pattern(200000, 5)),
       0},
      {"stream ends inside a long entry", test::FileEntry("big", test::Pattern(400000)), 150000},
      {"long entries back to back",
       test::FileEntry("x", test::Pattern(300001, 2)) + test::FileEntry("y", test::Pattern(299999, 3)), 0},
  };
  for (const Case& c : cases) {
    const uint32_t size = static_cast<uint32_t>(c.stream.size() - c.cut);
    const Outcome shortcut_run = Decode(c.stream, size, false, 0, true);
    const bool copied = !fake::world().copies.empty();
    const Outcome reference = Decode(c.stream, size, true, 0);
    ExpectSameFilesAndEndState(shortcut_run, reference, c.what);
    EXPECT_EQ(copied, std::string(c.what) != "one block too short") << c.what;
    EXPECT_TRUE(IsSubsequence(shortcut_run.progress, reference.progress)) << c.what;
    if (copied) {
      EXPECT_LT(shortcut_run.reads, reference.reads) << c.what;
    }
  }
}

// A cancel during a copy is seen at the next progress point: the run ends exactly where the
// block path ends when the cancel comes during the block before that point's ten.
TEST(CopyBetweenFiles, CancelStopsAtTheNextProgressPoint) {
  const std::string stream = test::DirEntry("D") +
                             test::FileEntry("D\\big", test::Pattern(5 * kCopyChunkBlocks * kBlockSize)) +
                             test::FileEntry("D\\after", "a");
  for (int copy = 1; copy <= 4; ++copy) {
    const Outcome cancelled = Decode(stream, static_cast<uint32_t>(stream.size()), false, 0, true, copy);
    ASSERT_EQ(cancelled.error_flag, 1) << copy;
    ASSERT_EQ(cancelled.blocks_loaded % kBlocksPerProgressStep, 0u) << copy;
    EXPECT_EQ(fake::world().copies.size(), static_cast<size_t>(copy + 1)) << "one more copy, cut short";
    const int read_before_point = static_cast<int>(cancelled.blocks_loaded) - 9;
    const Outcome reference =
        Decode(stream, static_cast<uint32_t>(stream.size()), true, read_before_point);
    ExpectSameFilesAndEndState(cancelled, reference, "cancel during copy " + std::to_string(copy));
    // The point that saw the cancel asked for the same value.
    EXPECT_EQ(cancelled.last_requested, reference.last_requested);
    EXPECT_NE(cancelled.last_requested, -1);
  }
}

// A copy that fails part-way is a failed write of that entry.
TEST(CopyBetweenFiles, FailedCopyFailsTheEntry) {
  const std::string stream = test::DirEntry("D") + test::FileEntry("D\\big", test::Pattern(300000)) +
                             test::FileEntry("D\\never", "n");
  fake::Reset();
  fake::world().copies_between_files = true;
  fake::world().write_budget = 100000;
  test::DecoderRun run;
  run.Run(stream, static_cast<uint32_t>(stream.size()));
  EXPECT_EQ(run.state.error_flag, 1);
  EXPECT_EQ(run.state.failure.kind, EntryFailure::kCannotWrite);
  EXPECT_STREQ(run.state.failure.path, (std::string(test::kRoot) + "D\\big").c_str());
  EXPECT_FALSE(fake::Exists(std::string(test::kRoot) + "D\\never"));
  EXPECT_EQ(run.CleanupPaths().front(), std::string("F ") + test::kRoot + "D\\big");
  CloseOutputFile(&run.state);
}

TEST(DecoderEquivalence, DamagedNamesAndUncreatableFiles) {
  std::string stream = test::DirEntry("D") + test::FileEntry("D\\ok", test::Pattern(600)) +
                       test::FileEntry("D\\..\\bad", "x") + test::FileEntry("D\\never", "y");
  ExpectSame(stream, static_cast<uint32_t>(stream.size()), 0, "damaged name");
  std::string orphan = test::FileEntry("Missing\\f", test::Pattern(900));
  ExpectSame(orphan, static_cast<uint32_t>(orphan.size()), 0, "file before its directory");
}

}  // namespace
