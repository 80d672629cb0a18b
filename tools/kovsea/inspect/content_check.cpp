#include "content_check.h"

#include <string.h>

#include <algorithm>
#include <vector>

#include "authenticode.h"
#include "content_digest.h"
#include "digest.h"
#include "json.h"
#include "side_files.h"
#include "trailer_locator.h"

ContentCheck FindContentDigest(const Sea& sea) {
  ContentCheck content;
  if (!HasTrailerMagic(sea.trailer)) {
    content.error = "no trailer to find it by";
    return content;
  }
  const uint64_t trailer_at = sea.TrailerAt();
  if (trailer_at < kContentDigestRecordSize) return content;
  const uint64_t record_at = trailer_at - kContentDigestRecordSize;
  // The record lies behind everything the stub reads; 40 bytes of a side file are not one.
  uint64_t payload_end = uint64_t{sea.trailer.archive_offset} + sea.trailer.archive_size;
  for (int i = 0; i < kSideFileCount; ++i) {
    const SideFileSlot& slot = SideFileAt(sea.trailer, i);
    if (slot.offset != 0) payload_end = std::max(payload_end, uint64_t{slot.offset} + slot.size);
  }
  char record[kContentDigestRecordSize];
  if (record_at < payload_end || !platform::SeekTo(sea.file, record_at) ||
      platform::ReadBytes(sea.file, record, sizeof record) != sizeof record ||
      memcmp(record, kContentDigestMagic, sizeof kContentDigestMagic) != 0) {
    return content;
  }
  // The stub's headers lie in its first bytes; a stub is far smaller than this.
  std::string headers(static_cast<size_t>(std::min<uint64_t>(sea.trailer.archive_offset, 1u << 20)), '\0');
  if (!platform::SeekTo(sea.file, 0) || platform::ReadBytes(sea.file, &headers[0], headers.size()) != headers.size() ||
      !pe::FindSignerFields(headers, &content.checksum_at, &content.table_entry_at)) {
    content.checksum_at = content.table_entry_at = 0;
  }
  content.present = true;
  content.digest_at = record_at + sizeof kContentDigestMagic;
  content.stored = HexBytes(std::string(record + sizeof kContentDigestMagic, kContentDigestSize));
  return content;
}

namespace {

// The content digest's holes as an image digest layout: the signer's fields, or none (placed
// behind the trailer, past what the digest covers).
pe::ImageDigestLayout ContentLayout(const Sea& sea, const ContentCheck& content) {
  pe::ImageDigestLayout layout;
  const bool fields = content.checksum_at != 0 || content.table_entry_at != 0;
  layout.end = sea.TrailerAt() + kTrailerSize;
  layout.checksum_at = fields ? content.checksum_at : layout.end;
  layout.table_entry_at = fields ? content.table_entry_at : layout.end;
  return layout;
}

void DigestContentAlone(const Sea& sea, ContentCheck* content) {
  const pe::ImageDigestLayout layout = ContentLayout(sea, *content);
  Sha256 digest;
  const bool read = pe::HashImageRange(sea.file, layout, 0, content->digest_at, {&digest}) &&
                    pe::HashImageRange(sea.file, layout, content->digest_at + kContentDigestSize, layout.end, {&digest});
  content->computed = read ? digest.HexDigest() : "";
  if (!read) content->error = "cannot read the file to check its content digest";
}

}  // namespace

void DigestFile(const Sea& sea, const pe::ImageDigestLayout& layout, const DigestAlgorithm* image_algorithm,
                std::string* image_digest, ContentCheck* content) {
  const bool with_content = content != nullptr && content->present;
  const pe::ImageDigestLayout own_layout = with_content ? ContentLayout(sea, *content) : layout;
  if (image_algorithm != nullptr && with_content &&
      (layout.end < content->digest_at || layout.checksum_at != own_layout.checksum_at ||
       layout.table_entry_at != own_layout.table_entry_at)) {
    // The two digests leave out different bytes (a file no signer wrote): no part to share.
    *image_digest = pe::ImageDigest(sea.file, layout, *image_algorithm);
    DigestContentAlone(sea, content);
    return;
  }
  if (image_algorithm == nullptr) {
    if (with_content) DigestContentAlone(sea, content);
    return;
  }
  Digest image(*image_algorithm);
  Sha256 own;
  // A SHA-256 image digest and the content digest are one digest up to the record.
  const bool shared = with_content && *image_algorithm == DigestAlgorithm::kSha256;
  std::vector<Digest*> prefix = {&image};
  if (with_content && !shared) prefix.push_back(&own);
  const uint64_t fork = with_content ? content->digest_at : layout.end;
  const bool prefix_read = pe::HashImageRange(sea.file, layout, 0, fork, prefix);
  if (shared) image.CopyTo(&own);
  if (with_content) {
    const bool read = prefix_read && pe::HashImageRange(sea.file, layout, content->digest_at + kContentDigestSize,
                                                        own_layout.end, {&own});
    content->computed = read ? own.HexDigest() : "";
    if (!read) content->error = "cannot read the file to check its content digest";
  }
  const bool read = prefix_read && pe::HashImageRange(sea.file, layout, fork, layout.end, {&image});
  const char zeros[kCertificateAlignment] = {};
  image.Update(zeros, layout.zero_padding);
  *image_digest = read ? image.Finish() : "";
}

void TakeContentDigest(const Sea& sea, ContentCheck* content) {
  if (content->present && content->computed.empty() && content->error.empty()) DigestContentAlone(sea, content);
}

Problems ContentProblems(const Sea& sea, const ContentCheck& content, bool required) {
  if (!content.present) {
    // Without a trailer, verify has said so already.
    if (!required || !content.error.empty()) return {};
    return {Problem{sea.path, std::nullopt,
                    "the file holds no content digest, and --require-digest asks for one: nothing shows whether "
                    "its bytes are the ones it was packed with",
                    "pack it again with this kovsea, or get a signed file from the vendor"}};
  }
  if (!content.error.empty()) return {sea.At(content.digest_at, content.error)};
  if (content.Matches()) return {};
  return {sea.At(content.digest_at,
                 "the content digest does not match this file: what the stub reads hashes to " + content.computed +
                     ", the file holds " + content.stored,
                 "the file was changed or damaged after it was packed: do not run it, get it again")};
}

std::string DescribeContent(const ContentCheck& content) {
  if (!content.present) return "  content: not checked (" + (content.error.empty() ? "no digest" : content.error) + ")";
  if (!content.error.empty()) return "  content: sha256 " + content.stored + ", not checked (" + content.error + ")";
  return "  content: sha256 " + content.stored +
         (content.Matches() ? ", matches the file" : ", does not match: the file's is " + content.computed);
}

std::string ContentJson(const ContentCheck& content) {
  if (!content.present) return "null";
  return JsonObject({{"sha256", JsonString(content.stored)},
                     {"file_sha256", content.computed.empty() ? "null" : JsonString(content.computed)},
                     {"matches", JsonBool(content.Matches())}});
}
