// UTF-8 and UTF-16, as PE resources and translators' files hold text.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// Decodes UTF-8 into UTF-16; false for anything that is not well-formed UTF-8.
bool Utf16(const std::string& in, std::u16string* out);
// UTF-16 code units as UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf8(const std::u16string& in);
// Decodes UTF-8 into code points; false for anything that is not well-formed UTF-8.
bool DecodeUtf8(const std::string& in, std::vector<uint32_t>* out);
