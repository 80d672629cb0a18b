#include "cleanup_list.h"

#include "platform_files.h"
#include "text.h"

CleanupNode* NewCleanupNode(const char* path, CleanupKind kind) {
  const size_t capacity = TextLength(path) + 1;
  if (capacity > kPathCapacity) return nullptr;
  auto* node = static_cast<CleanupNode*>(platform::AllocateZeroed(sizeof(CleanupNode) + capacity));
  if (node == nullptr) return nullptr;
  CopyText(node->path, capacity, path);
  node->is_directory = kind == CleanupKind::kDirectory ? 1 : 0;
  return node;
}

void LinkCleanupNode(CleanupList* list, CleanupNode* node) {
  node->next = list->head;
  list->head = node;
}

void DiscardCleanupNode(CleanupNode* node) { platform::Release(node); }

bool PushCleanup(CleanupList* list, const char* path, CleanupKind kind) {
  CleanupNode* node = NewCleanupNode(path, kind);
  if (node == nullptr) return false;
  LinkCleanupNode(list, node);
  return true;
}

CleanupNode* PopCleanup(CleanupList* list) {
  CleanupNode* node = list->head;
  if (node != nullptr) list->head = node->next;
  return node;
}
