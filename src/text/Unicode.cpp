#include "text/Unicode.h"

#include "text/Utf.h"

#include <unicode/uchar.h>
#include <unicode/unorm2.h>
#include <unicode/utf16.h>

#include <algorithm>

namespace {

// Below the first combining mark every character is its own composition.
constexpr char16_t FIRST_COMBINING_MARK = 0x0300;

} // namespace

std::u16string ToNfc(const std::u16string& text)
{
    if (std::all_of(text.begin(), text.end(), [](char16_t unit) { return unit < FIRST_COMBINING_MARK; })) {
        return text;
    }
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2* nfc = unorm2_getNFCInstance(&status);
    const auto length = static_cast<int32_t>(text.size());
    if (U_FAILURE(status) || unorm2_isNormalized(nfc, text.data(), length, &status) || U_FAILURE(status)) {
        return text;
    }
    // Composition never makes a text longer than three times its length.
    std::u16string composed(text.size() * 3, u'\0');
    const int32_t written =
        unorm2_normalize(nfc, text.data(), length, composed.data(), static_cast<int32_t>(composed.size()), &status);
    if (U_FAILURE(status)) {
        return text;
    }
    composed.resize(static_cast<std::size_t>(written));
    return composed;
}

std::u16string FoldCaseAsFat(const std::u16string& name)
{
    std::u16string folded;
    folded.reserve(name.size());
    const auto length = static_cast<int32_t>(name.size());
    // A lone surrogate, which holds a byte of a name that is not UTF-8, comes
    // as itself and maps to itself.
    for (int32_t pos = 0; pos < length;) {
        UChar32 codePoint = 0;
        U16_NEXT(name.data(), pos, length, codePoint);
        AppendUtf16(folded, static_cast<char32_t>(u_toupper(codePoint)));
    }
    return folded;
}
