// JSON text for the packer's --json output: values are built as JSON text and put together
// in the order given, so that every report reads the same way field by field.
#pragma once

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

using JsonField = std::pair<const char*, std::string>;  // a key and its value as JSON text

// `s` as a JSON string literal, quoted and escaped.
std::string JsonString(const std::string& s);
std::string JsonBool(bool value);
std::string JsonNumber(uint64_t value);
// {"key": value, ...} on one line.
std::string JsonObject(const std::vector<JsonField>& fields);
// [value, ...] with one value a line; "[]" when empty.
std::string JsonArray(const std::vector<std::string>& values);
// A whole report: {"ok": OK, FIELDS..., "problems": [...]}, the shape every --json output
// shares, followed by a line break.
std::string JsonReport(bool ok, const std::vector<JsonField>& fields, const std::string& problems_json);
