#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Code-point level UTF-8 and UTF-16 steps shared by the strict text
// conversions and by the lossless file-name conversion of the platform layer.

// Decodes one well-formed UTF-8 sequence at text[pos]. On success stores the
// code point, advances pos past the sequence and returns true. Stray
// continuation bytes, truncated or overlong sequences, encoded surrogates and
// values above U+10FFFF fail and leave pos unchanged.
bool DecodeUtf8(std::string_view text, std::size_t& pos, char32_t& codePoint);

// Decodes one code point at text[pos]: a single unit or a surrogate pair.
// An unpaired surrogate fails and leaves pos unchanged.
bool DecodeUtf16(std::u16string_view text, std::size_t& pos, char32_t& codePoint);

void AppendUtf16(std::u16string& out, char32_t codePoint);

// Also takes lone surrogates, which it writes in the three-byte form.
void AppendUtf8(std::string& out, char32_t codePoint);

// The only case folding of the program: "A" to "Z" become "a" to "z".
constexpr char16_t FoldAsciiCase(char16_t unit)
{
    return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + 0x20) : unit;
}
