#pragma once

#include <string>

// Unicode rules for names, from ICU.

// The canonical composition (NFC) of a text: "e" followed by a combining
// acute accent is the one character "é". Systems spell the same name either
// way: macOS writes it decomposed, most others composed.
std::u16string ToNfc(const std::u16string& text);

// A name as FAT and exFAT compare it: each character by its simple uppercase
// mapping, across Unicode ("é" as "É", "σ" and "ς" as "Σ"). Names with the same
// result are one name on such a file system. They keep names as they are
// written and never normalize: "é" composed and decomposed are two names.
std::u16string FoldCaseAsFat(const std::u16string& name);
