// The clean-up list: every path a run creates, so that all of them can be deleted at the end.
//
// A singly linked list reached through one head pointer, new nodes in front, so it reads
// newest first: files come before the directories that hold them. Deleting the list is the
// owner's business: the stub's hand-off deletes everything, the packer only what it made.
#pragma once

#include <stdint.h>

#include "text.h"

enum class CleanupKind { kFile = 0, kDirectory = 1 };

// Each node is allocated to the length of its path (at most kMaxPathLength characters and
// the terminator): a run that creates 100,000 files keeps 100,000 nodes until its end.
struct CleanupNode {
  CleanupNode* next;
  int32_t is_directory;  // 1 for a directory, 0 for a file
  char path[];           // the terminated path, as long as it is
};

struct CleanupList {
  CleanupNode* head;
};

// Allocates a zero-filled node holding `path` without linking it; null when the memory
// cannot be had or the path does not fit. Callers that create something allocate the node
// first, so a path is never created that nobody would delete.
CleanupNode* NewCleanupNode(const char* path, CleanupKind kind);
void LinkCleanupNode(CleanupList* list, CleanupNode* node);
void DiscardCleanupNode(CleanupNode* node);
// Allocates and links in front; false when the node could not be allocated.
bool PushCleanup(CleanupList* list, const char* path, CleanupKind kind);
// Takes the newest node off the list (null when empty); the caller discards it.
CleanupNode* PopCleanup(CleanupList* list);
