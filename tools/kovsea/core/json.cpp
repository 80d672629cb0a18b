#include "json.h"

#include <stdio.h>

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
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
