#include "dialog_template.h"

#include "bytes.h"

namespace pe {

namespace {

constexpr uint32_t kSetFont = 0x40;  // DS_SETFONT: the template names its font
constexpr size_t kHeaderSize = 26;
constexpr size_t kItemSize = 24;

// Walks a template, copying it to `out` (when given) with the texts of `replace` put in, and
// collecting what it reads into `read` (when given).
class Walker {
 public:
  Walker(const std::string& data, const DialogTexts* replace, std::string* out, DialogTexts* read)
      : data_(data), replace_(replace), out_(out), read_(read) {}

  bool Run(Problem* problem) {
    if (data_.size() < kHeaderSize || Get16(data_, 0) != 1 || Get16(data_, 2) != 0xFFFF) {
      return Fail(problem, 0, "not an extended dialog template");
    }
    const uint32_t style = Get32(data_, 12);
    const uint16_t items = Get16(data_, 16);
    Copy(kHeaderSize);
    std::u16string text;
    if (!NameOrOrdinal(&text) || !NameOrOrdinal(&text) || !String(&text)) return Fail(problem, at_, "cut short in its header");
    Put(text, replace_ != nullptr ? replace_->caption : std::nullopt);
    if (read_ != nullptr) read_->caption = text;
    if (style & kSetFont) {
      if (at_ + 6 > data_.size()) return Fail(problem, at_, "cut short in its font");
      Copy(6);
      if (!String(&text)) return Fail(problem, at_, "cut short in its font");
      Put(text, replace_ != nullptr ? replace_->typeface : std::nullopt);
      if (read_ != nullptr) read_->typeface = text;
    }
    for (uint16_t i = 0; i < items; ++i) {
      at_ = (at_ + 3) & ~size_t{3};
      if (out_ != nullptr) PadTo(out_, 4);
      if (at_ + kItemSize > data_.size()) return Fail(problem, at_, "cut short in control " + std::to_string(i + 1));
      const uint16_t id = static_cast<uint16_t>(Get32(data_, at_ + 20));
      Copy(kItemSize);
      bool is_string = false;
      if (!NameOrOrdinal(&text) || !NameOrOrdinal(&text, &is_string) || at_ + 2 > data_.size()) {
        return Fail(problem, at_, "cut short in control " + std::to_string(i + 1));
      }
      if (is_string) {
        std::optional<std::u16string> with;
        if (replace_ != nullptr && replace_->controls.count(id)) with = replace_->controls.at(id);
        // The text was copied as read; put the replacement in its place.
        if (with && out_ != nullptr) {
          out_->resize(out_->size() - 2 * (text.size() + 1));
          Put(*with, std::nullopt);
        }
        if (read_ != nullptr) read_->controls[id] = text;
      }
      const uint16_t extra = Get16(data_, at_);
      if (at_ + 2 + extra > data_.size()) return Fail(problem, at_, "cut short in control " + std::to_string(i + 1));
      Copy(2 + extra);
    }
    return true;
  }

 private:
  bool Fail(Problem* problem, size_t offset, const std::string& what) {
    problem->offset = offset;
    problem->what = "the dialog template is " + what;
    return false;
  }
  void Copy(size_t n) {
    if (out_ != nullptr) out_->append(data_, at_, n);
    at_ += n;
  }
  // A zero-terminated UTF-16 string, read without copying.
  bool String(std::u16string* text) {
    text->clear();
    for (;;) {
      if (at_ + 2 > data_.size()) return false;
      const uint16_t c = Get16(data_, at_);
      at_ += 2;
      if (c == 0) return true;
      text->push_back(static_cast<char16_t>(c));
    }
  }
  // A string, or 0xFFFF and an ordinal, or 0 (none); copied as read.
  bool NameOrOrdinal(std::u16string* text, bool* is_string = nullptr) {
    text->clear();
    if (at_ + 2 > data_.size()) return false;
    const uint16_t first = Get16(data_, at_);
    if (first == 0xFFFF) {
      if (at_ + 4 > data_.size()) return false;
      Copy(4);
      return true;
    }
    const size_t start = at_;
    if (!String(text)) return false;
    if (out_ != nullptr) out_->append(data_, start, at_ - start);
    if (is_string != nullptr) *is_string = true;
    return true;
  }
  // Writes `text`, or `with` in its place, with its terminator.
  void Put(const std::u16string& text, const std::optional<std::u16string>& with) {
    if (out_ == nullptr) return;
    for (char16_t c : with ? *with : text) Put16(out_, c);
    Put16(out_, 0);
  }

  const std::string& data_;
  const DialogTexts* replace_;
  std::string* out_;
  DialogTexts* read_;
  size_t at_ = 0;
};

}  // namespace

bool ReadDialogTexts(const std::string& data, DialogTexts* texts, Problem* problem) {
  return Walker(data, nullptr, nullptr, texts).Run(problem);
}

bool RewriteDialog(const std::string& data, const DialogTexts& texts, std::string* out, Problem* problem) {
  out->clear();
  return Walker(data, &texts, out, nullptr).Run(problem);
}

}  // namespace pe
