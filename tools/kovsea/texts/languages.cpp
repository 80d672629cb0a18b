#include "languages.h"

#include <ctype.h>
#include <stdio.h>

#include "json.h"

namespace {

// Each row is a gettext name: a bare language ("de"), or "ll_CC" where the country is not the
// language's main one (FindLanguage takes "de_DE" as "de" by its tag). A bare language stands
// for its main country, the sub-language Windows falls back to for every country of that
// language, so one German file serves de-AT and de-CH users too.
const Language kLanguages[] = {
    {"ar", 0x0401, 1256, "ar-SA"}, {"bg", 0x0402, 1251, "bg-BG"}, {"ca", 0x0403, 1252, "ca-ES"},
    {"zh_TW", 0x0404, 950, "zh-TW"}, {"cs", 0x0405, 1250, "cs-CZ"}, {"da", 0x0406, 1252, "da-DK"},
    {"de", 0x0407, 1252, "de-DE"}, {"el", 0x0408, 1253, "el-GR"}, {"en_US", 0x0409, 1252, "en-US"},
    {"es", 0x040A, 1252, "es"}, {"es_ES", 0x0C0A, 1252, "es-ES"}, {"fi", 0x040B, 1252, "fi-FI"},
    {"fr", 0x040C, 1252, "fr-FR"}, {"he", 0x040D, 1255, "he-IL"}, {"hu", 0x040E, 1250, "hu-HU"},
    {"is", 0x040F, 1252, "is-IS"}, {"it", 0x0410, 1252, "it-IT"}, {"ja", 0x0411, 932, "ja-JP"},
    {"ko", 0x0412, 949, "ko-KR"}, {"nl", 0x0413, 1252, "nl-NL"}, {"nb", 0x0414, 1252, "nb-NO"},
    {"pl", 0x0415, 1250, "pl-PL"}, {"pt_BR", 0x0416, 1252, "pt-BR"}, {"ro", 0x0418, 1250, "ro-RO"},
    {"ru", 0x0419, 1251, "ru-RU"}, {"hr", 0x041A, 1250, "hr-HR"}, {"sk", 0x041B, 1250, "sk-SK"},
    {"sv", 0x041D, 1252, "sv-SE"}, {"th", 0x041E, 874, "th-TH"}, {"tr", 0x041F, 1254, "tr-TR"},
    {"id", 0x0421, 1252, "id-ID"}, {"uk", 0x0422, 1251, "uk-UA"}, {"sl", 0x0424, 1250, "sl-SI"},
    {"et", 0x0425, 1257, "et-EE"}, {"lv", 0x0426, 1257, "lv-LV"}, {"lt", 0x0427, 1257, "lt-LT"},
    {"vi", 0x042A, 1258, "vi-VN"}, {"zh_CN", 0x0804, 936, "zh-CN"}, {"de_CH", 0x0807, 1252, "de-CH"},
    {"en_GB", 0x0809, 1252, "en-GB"}, {"es_MX", 0x080A, 1252, "es-MX"}, {"fr_BE", 0x080C, 1252, "fr-BE"},
    {"it_CH", 0x0810, 1252, "it-CH"}, {"nl_BE", 0x0813, 1252, "nl-BE"}, {"nn", 0x0814, 1252, "nn-NO"},
    {"pt", 0x0816, 1252, "pt-PT"}, {"de_AT", 0x0C07, 1252, "de-AT"}, {"en_AU", 0x0C09, 1252, "en-AU"},
    {"fr_CA", 0x0C0C, 1252, "fr-CA"}, {"zh_HK", 0x0C04, 950, "zh-HK"}, {"en_CA", 0x1009, 1252, "en-CA"},
    {"fr_CH", 0x100C, 1252, "fr-CH"},
};

}  // namespace

const Language* FindLanguage(const std::string& header_value) {
  // "de_DE.UTF-8" and "de-DE" name de_DE; an "@modifier" names a script this table lacks.
  std::string name;
  for (char c : header_value) {
    if (c == '.') break;
    if (c == '@') return nullptr;
    name.push_back(c == '-' ? '_' : c);
  }
  const size_t cut = name.find('_');
  for (size_t i = 0; i < name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    name[i] = static_cast<char>(cut != std::string::npos && i > cut ? toupper(c) : tolower(c));
  }
  for (const Language& language : kLanguages) {
    if (name == language.po_name) return &language;
  }
  // A language in its own main country ("hu_HU") is the bare language ("hu").
  if (cut == std::string::npos) return nullptr;
  name[cut] = '-';
  for (const Language& language : kLanguages) {
    if (name == language.tag) return &language;
  }
  return nullptr;
}

const Language* LanguageById(uint16_t id) {
  for (const Language& language : kLanguages) {
    if (language.id == id) return &language;
  }
  return nullptr;
}

std::string DescribeLanguage(uint16_t id) {
  char number[16];
  snprintf(number, sizeof number, "0x%04X", id);
  const Language* language = LanguageById(id);
  return language == nullptr ? std::string(number) : std::string(language->tag) + " (" + number + ")";
}

std::string LanguagesText(const std::vector<uint16_t>& ids) {
  std::string text;
  for (uint16_t id : ids) text += (text.empty() ? "" : ", ") + DescribeLanguage(id);
  return text.empty() ? "none" : text;
}

std::string LanguagesJson(const std::vector<uint16_t>& ids) {
  std::vector<std::string> items;
  for (uint16_t id : ids) {
    const Language* language = LanguageById(id);
    items.push_back(JsonObject({{"id", JsonNumber(id)}, {"tag", language ? JsonString(language->tag) : "null"}}));
  }
  return JsonArray(items);
}
