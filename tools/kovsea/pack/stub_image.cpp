#include "stub_image.h"

#include <set>

#include "dialog_template.h"
#include "ico_file.h"
#include "pe_image.h"
#include "resource_tree.h"
#include "stub_texts.h"
#include "string_table.h"
#include "utf16.h"
#include "version_resource.h"
#include "whole_file.h"

namespace {

constexpr uint64_t kMaxOffset = 0xFFFFFFFFull;

bool Refuse(Problem* problem, const std::filesystem::path& where, const std::string& what,
            const std::string& fix = std::string()) {
  problem->where = where.string();
  problem->what = what;
  problem->fix = fix;
  return false;
}

// Gives the resource tree the icon of `options`, read from its .ico file.
bool PutIcon(const PackOptions& options, pe::ResourceTree* resources, Problem* problem) {
  std::string ico;
  if (!ReadWholeFile(options.icon, &ico)) return Refuse(problem, options.icon, "cannot read");
  std::vector<pe::IconImage> images;
  if (!pe::ParseIcoFile(ico, &images, problem)) {
    problem->where = options.icon.string();
    return false;
  }
  pe::ReplaceIconGroup(resources, kProgramIconGroup, images);
  return true;
}

bool PutVersion(const PackOptions& options, pe::ResourceTree* resources, Problem* problem) {
  std::string version;
  if (!pe::BuildVersionResource(options.version_info, &version, problem)) {
    problem->where = "--version-info";
    return false;
  }
  auto& slot = (*resources)[pe::ResourceId::Number(pe::kTypeVersion)][pe::ResourceId::Number(1)];
  slot.clear();
  slot[pe::kLanguageUsEnglish] = version;
  return true;
}

// The stub's English resource of `type` and `name`, which every translation starts from.
const std::string* EnglishResource(const pe::ResourceTree& resources, uint16_t type, uint16_t name) {
  const auto types = resources.find(pe::ResourceId::Number(type));
  if (types == resources.end()) return nullptr;
  const auto names = types->second.find(pe::ResourceId::Number(name));
  if (names == types->second.end()) return nullptr;
  const auto english = names->second.find(pe::kLanguageUsEnglish);
  return english == names->second.end() ? nullptr : &english->second;
}

std::u16string Wide(const std::string& utf8) {
  std::u16string wide;
  Utf16(utf8, &wide);  // checked as the translation was read
  return wide;
}

// Code pages of languages written with thousands of characters: their dialogs name the
// font alias Windows maps to the language's own dialog font, which has those characters.
bool IsDoubleByteCodepage(uint16_t codepage) {
  return codepage == 932 || codepage == 936 || codepage == 949 || codepage == 950;
}

// Adds a copy of the string table and the dialog in each translation's language, the
// English texts replaced by the translated ones; what a translation leaves out stays English.
bool PutTranslations(const std::vector<Translation>& translations, pe::ResourceTree* resources, Problem* problem) {
  if (translations.empty()) return true;
  const std::string* dialog = EnglishResource(*resources, pe::kTypeDialog, IDD_EXTRACT_PROGRESS);
  if (dialog == nullptr) {
    problem->what = "the stub has no English progress dialog to translate";
    return false;
  }
  const std::string english_dialog = *dialog;
  for (const Translation& translation : translations) {
    const uint16_t language = translation.language->id;
    std::map<uint16_t, pe::StringBlock> blocks;
    pe::DialogTexts dialog_texts;
    for (const StubText& text : StubTexts()) {
      const auto given = translation.texts.find(text.context);
      if (text.place == TextPlace::kMessage) {
        const uint16_t name = pe::StringBlockName(text.id);
        if (!blocks.count(name)) {
          const std::string* english = EnglishResource(*resources, pe::kTypeString, name);
          if (english == nullptr || !pe::ParseStringBlock(*english, &blocks[name], problem)) {
            if (problem->what.empty()) problem->what = "the stub has no English string table to translate";
            return false;
          }
        }
        if (given != translation.texts.end()) blocks[name].strings[text.id % pe::kStringsPerBlock] = Wide(given->second);
      } else if (given != translation.texts.end()) {
        if (text.place == TextPlace::kCaption) dialog_texts.caption = Wide(given->second);
        else dialog_texts.controls[text.id] = Wide(given->second);
      }
    }
    if (IsDoubleByteCodepage(translation.language->codepage)) dialog_texts.typeface = u"MS Shell Dlg";
    for (const auto& [name, block] : blocks) {
      (*resources)[pe::ResourceId::Number(pe::kTypeString)][pe::ResourceId::Number(name)][language] =
          pe::BuildStringBlock(block);
    }
    std::string translated;
    if (!pe::RewriteDialog(english_dialog, dialog_texts, &translated, problem)) return false;
    (*resources)[pe::ResourceId::Number(pe::kTypeDialog)][pe::ResourceId::Number(IDD_EXTRACT_PROGRESS)][language] =
        translated;
  }
  return true;
}

bool Prepare(const PackOptions& options, const std::vector<Translation>& translations, std::string* stub,
             Problem* problem) {
  if (!ReadWholeFile(options.stub, stub) || stub->empty()) {
    return Refuse(problem, options.stub, "the stub is not a readable file");
  }
  if (stub->size() > kMaxOffset) return Refuse(problem, options.stub, "the stub is larger than 4 GiB");
  // A stand-in that is no PE image may be packed as it is, but its resources cannot be edited.
  if (pe::NamesCertificateTable(*stub)) {
    return Refuse(problem, options.stub, "the stub is signed, and the payload would break its signature",
                  "pack the unsigned stub and sign the finished self-extractor instead");
  }
  if (options.icon.empty() && options.version_info.empty() && translations.empty()) return true;
  pe::ResourceTree resources;
  if (!pe::ReadResources(*stub, &resources, problem) ||
      (!options.icon.empty() && !PutIcon(options, &resources, problem)) ||
      (!options.version_info.empty() && !PutVersion(options, &resources, problem)) ||
      !PutTranslations(translations, &resources, problem)) {
    if (problem->where.empty()) problem->where = options.stub.string();
    return false;
  }
  if (!pe::WriteResources(stub, resources, problem)) {
    problem->where = options.stub.string();
    return false;
  }
  return true;
}

}  // namespace

bool PrepareStub(const PackOptions& options, std::string* stub, Problems* problems) {
  std::vector<Translation> translations;
  if (!LoadTranslations(options.texts, options.allow_untranslated, &translations, problems)) return false;
  Problem problem;
  if (Prepare(options, translations, stub, &problem)) return true;
  problems->push_back(problem);
  return false;
}

std::vector<uint16_t> StubLanguages(const std::string& stub) {
  pe::ResourceTree resources;
  Problem ignored;
  std::set<uint16_t> languages;
  if (!pe::ReadResources(stub, &resources, &ignored)) return {};
  const auto dialogs = resources.find(pe::ResourceId::Number(pe::kTypeDialog));
  if (dialogs != resources.end()) {
    const auto dialog = dialogs->second.find(pe::ResourceId::Number(IDD_EXTRACT_PROGRESS));
    if (dialog != dialogs->second.end()) {
      for (const auto& entry : dialog->second) languages.insert(entry.first);
    }
  }
  const auto strings = resources.find(pe::ResourceId::Number(pe::kTypeString));
  if (strings != resources.end()) {
    for (const auto& block : strings->second) {
      for (const auto& entry : block.second) languages.insert(entry.first);
    }
  }
  return std::vector<uint16_t>(languages.begin(), languages.end());
}
