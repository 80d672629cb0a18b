// The extraction root: a fresh, private directory under the temporary directory, named "KOV"
// and one to five hex digits drawn at random. The worker makes it inline (MakeTempRoot);
// CreateTempRoot is the same step in a file of its own, for kovsea install, which runs the
// stub's steps from its own command and links nothing else of the worker.
#pragma once

#include <stdint.h>

#include "entry_decoder.h"
#include "error_box.h"
#include "messages.h"
#include "platform_run.h"
#include "sea_result.h"
#include "text.h"

// The temporary directory is asked for with room for one more character than a path holds,
// so that a directory too long to take the root's name is seen as such.
constexpr size_t kTempPathCapacity = kPathCapacity + 1;
// A drawn root name that is taken already (by another run, or left by one) is drawn again,
// this many times in all.
constexpr int kRootAttempts = 10;

// The root's suffix for two draws: r1 * r2 in lowercase hex, at most its first five digits.
void FormatRootSuffix(int r1, int r2, char out[kRootSuffixDigits + 1]);

// Makes the root into the state's root, made private as it is created, and records it first
// on its clean-up list; 0, or kSeaErrorAborted after the error box (owned by the state's
// dialog window).
int32_t CreateTempRoot(ExtractionState* state);

// CreateTempRoot's body, inlined into the worker as it was before others could call it.
__attribute__((always_inline)) inline int32_t MakeTempRoot(ExtractionState* state) {
  char* root = state->extraction_root;
  const size_t length = platform::TemporaryDirectory(root, kTempPathCapacity);
  // The root and its added characters must fit a clean-up node's path.
  bool ok = length > 0 && length < kTempPathCapacity &&
            length + kRootAddedCharacters <= kMaxPathLength;
  if (ok) {
    platform::SeedRandom();
    ok = false;
    for (int attempt = 0; attempt < kRootAttempts && !ok; ++attempt) {
      root[length] = '\0';
      const int r1 = platform::NextRandom();
      const int r2 = platform::NextRandom();
      char suffix[kRootSuffixDigits + 1];
      FormatRootSuffix(r1, r2, suffix);
      AppendText(root, sizeof state->extraction_root, kRootPrefix);
      AppendText(root, sizeof state->extraction_root, suffix);
      AppendText(root, sizeof state->extraction_root, "\\");
      CleanupNode* node = NewCleanupNode(root, CleanupKind::kDirectory);
      if (node == nullptr) break;
      ok = platform::MakePrivateDirectory(root);
      if (ok) {
        LinkCleanupNode(&state->cleanup_list, node);
      } else {
        DiscardCleanupNode(node);
      }
    }
  }
  if (ok) return kSeaSuccess;
  ShowErrorMessageTitled(state->dialog_window, IDS_ERR_TEMP_DIR, IDS_ERROR_TITLE);
  return kSeaErrorAborted;
}
