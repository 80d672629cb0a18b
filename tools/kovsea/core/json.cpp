#include "json.h"

#include <stdio.h>

namespace {

// The length of the well-formed UTF-8 sequence at `s[i]`, 0 when there is none (a stray
// continuation byte, an overlong form, a surrogate, past U+10FFFF, or cut short).
size_t Utf8Sequence(const std::string& s, size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) return 1;
  size_t length = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
  if (length == 0 || i + length > s.size()) return 0;
  const unsigned char second = static_cast<unsigned char>(s[i + 1]);
  const unsigned char low = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
  const unsigned char high = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
  if (second < low || second > high) return 0;
  for (size_t k = 2; k < length; ++k) {
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
  }
  return length;
}

}  // namespace

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const size_t sequence = Utf8Sequence(s, i);
    if (c >= 0x80) {
      // Names read from Linux or from a damaged file may hold bytes that are not UTF-8:
      // each such byte is U+FFFD, so that the report stays valid JSON.
      if (sequence == 0) {
        out += "\xEF\xBF\xBD";
      } else {
        out.append(s, i, sequence);
        i += sequence - 1;
      }
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string JsonBool(bool value) { return value ? "true" : "false"; }

std::string JsonNumber(uint64_t value) { return std::to_string(value); }

std::string JsonObject(const std::vector<JsonField>& fields) {
  std::string out = "{";
  for (size_t i = 0; i < fields.size(); ++i) {
    out += (i == 0 ? "\"" : ", \"") + std::string(fields[i].first) + "\": " + fields[i].second;
  }
  return out + "}";
}

std::string JsonArray(const std::vector<std::string>& values) {
  if (values.empty()) return "[]";
  std::string out = "[";
  for (size_t i = 0; i < values.size(); ++i) out += (i == 0 ? "\n  " : ",\n  ") + values[i];
  return out + "]";
}

std::string JsonReport(bool ok, const std::vector<JsonField>& fields, const std::string& problems_json) {
  std::vector<JsonField> all;
  all.emplace_back("ok", JsonBool(ok));
  all.insert(all.end(), fields.begin(), fields.end());
  all.emplace_back("problems", problems_json);
  return JsonObject(all) + "\n";
}
