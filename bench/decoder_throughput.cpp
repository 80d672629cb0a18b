// Throughput of the entry decoder on a large stream, through the host platform's real
// files: the run-copying path against the byte-at-a-time reference.
//
//   decoder_throughput [MiB] [directory]      (default 256 MiB under $TMPDIR or /tmp)
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "entry_decoder.h"
#include "host_files.h"

namespace fs = std::filesystem;

namespace {

void Put32(FILE* f, uint32_t v) {
  for (int i = 0; i < 4; ++i) fputc(static_cast<int>((v >> (8 * i)) & 0xFF), f);
}

// A stream like an installer's: a directory, a few large cabinets, many small files.
uint32_t WriteStream(const fs::path& path, uint64_t total) {
  FILE* f = fopen(path.c_str(), "wb");
  std::vector<char> chunk(1 << 20);
  for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>(i * 2654435761u >> 24);
  uint64_t written = 0;
  Put32(f, 0xFFFFFFFFu);
  fwrite("Disk1", 1, 6, f);
  written += 10;
  int n = 0;
  while (written < total) {
    const uint64_t left = total - written;
    uint64_t size = (n % 4 == 0) ? (37u << 20) + 123 : 40000 + n * 7;
    const std::string name = "Disk1\\f" + std::to_string(n++);
    const uint64_t header = 4 + name.size() + 1;
    if (header >= left) break;
    if (size > left - header) size = left - header;
    Put32(f, static_cast<uint32_t>(size));
    fwrite(name.c_str(), 1, name.size() + 1, f);
    for (uint64_t done = 0; done < size;) {
      const size_t step = static_cast<size_t>(std::min<uint64_t>(chunk.size(), size - done));
      fwrite(chunk.data(), 1, step, f);
      done += step;
    }
    written += header + size;
  }
  fclose(f);
  return static_cast<uint32_t>(written);
}

double Decode(const fs::path& stream, uint32_t size, const fs::path& out, bool byte_wise) {
  fs::remove_all(out);
  fs::create_directories(out);
  ArchiveTrailer trailer{};
  trailer.archive_size = size;
  uint8_t decode_buffer[kBlockSize];
  uint8_t read_buffer[kBlockSize];
  ExtractionState state;
  platform::File* file = platform::host::OpenHostFile(stream.string());
  platform::host::TargetDirectory(out.string(), "CP1252");
  PrepareExtractionState(&state, file, &trailer, decode_buffer, read_buffer);
  const auto start = std::chrono::steady_clock::now();
  if (byte_wise) {
    for (int byte = ReadArchiveByte(&state); byte != -1; byte = ReadArchiveByte(&state)) {
      DecodeArchiveByte(byte, &state);
    }
  } else {
    DecodeArchive(&state);
  }
  CloseOutputFile(&state);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  platform::CloseFile(file);
  platform::host::ClearTarget();
  if (state.error_flag != 0) {
    fprintf(stderr, "decoding failed\n");
    exit(1);
  }
  while (CleanupNode* node = PopCleanup(&state.cleanup_list)) DiscardCleanupNode(node);
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const uint64_t mib = argc > 1 ? strtoull(argv[1], nullptr, 10) : 256;
  const fs::path dir = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path() / "kovsea-bench";
  fs::create_directories(dir);
  const fs::path stream = dir / "stream.bin";
  const uint32_t size = WriteStream(stream, mib << 20);
  printf("stream: %u bytes\n", size);
  for (bool byte_wise : {false, true, false, true}) {
    const double s = Decode(stream, size, dir / "out", byte_wise);
    printf("%-22s %7.2f s  %8.1f MiB/s\n", byte_wise ? "byte at a time" : "run copying", s,
           size / 1048576.0 / s);
  }
  fs::remove_all(dir);
  return 0;
}
