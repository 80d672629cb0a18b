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
};

Outcome Decode(const std::string& file, uint32_t size, bool byte_wise, int cancel_at_read) {
  fake::Reset();
  test::DecoderRun run;
  run.cancel_at_read = cancel_at_read;
  run.Run(file, size, byte_wise);
  Outcome o{fake::world().files, run.CleanupPaths(), run.progress, fake::world().events,
            run.state.error_flag, run.state.blocks_loaded, run.state.block_position,
            run.state.header_mode, run.state.header_bytes_seen, run.state.output_file != nullptr,
            fake::world().reads};
  CloseOutputFile(&run.state);
  return o;
}

void ExpectSame(const std::string& file, uint32_t size, int cancel_at_read, const std::string& what) {
  const Outcome fast = Decode(file, size, false, cancel_at_read);
  const Outcome reference = Decode(file, size, true, cancel_at_read);
  ASSERT_EQ(fast.files.size(), reference.files.size()) << what;
  for (const auto& entry : reference.files) {
    auto it = fast.files.find(entry.first);
    ASSERT_NE(it, fast.files.end()) << what << ": " << entry.first;
    EXPECT_EQ(it->second.is_directory, entry.second.is_directory) << what;
    EXPECT_EQ(it->second.bytes, entry.second.bytes) << what << ": " << entry.first;
  }
  EXPECT_EQ(fast.cleanup, reference.cleanup) << what;
  EXPECT_EQ(fast.progress, reference.progress) << what;
  EXPECT_EQ(fast.events, reference.events) << what;
  EXPECT_EQ(fast.error_flag, reference.error_flag) << what;
  EXPECT_EQ(fast.blocks_loaded, reference.blocks_loaded) << what;
  EXPECT_EQ(fast.block_position, reference.block_position) << what;
  EXPECT_EQ(fast.header_mode, reference.header_mode) << what;
  EXPECT_EQ(fast.header_bytes_seen, reference.header_bytes_seen) << what;
  EXPECT_EQ(fast.output_open, reference.output_open) << what;
  EXPECT_EQ(fast.reads, reference.reads) << what;
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

TEST(DecoderEquivalence, DamagedNamesAndUncreatableFiles) {
  std::string stream = test::DirEntry("D") + test::FileEntry("D\\ok", test::Pattern(600)) +
                       test::FileEntry("D\\..\\bad", "x") + test::FileEntry("D\\never", "y");
  ExpectSame(stream, static_cast<uint32_t>(stream.size()), 0, "damaged name");
  std::string orphan = test::FileEntry("Missing\\f", test::Pattern(900));
  ExpectSame(orphan, static_cast<uint32_t>(orphan.size()), 0, "file before its directory");
}

}  // namespace
