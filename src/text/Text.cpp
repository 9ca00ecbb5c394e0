#include "text/Text.h"

#include "text/Utf.h"

#include <algorithm>

bool NarrowToWide(std::u16string& out, const std::string& in)
{
    out.clear();
    const std::string_view text(in.c_str());
    std::u16string result;
    result.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        char32_t codePoint = 0;
        if (!DecodeUtf8(text, pos, codePoint)) {
            return false;
        }
        AppendUtf16(result, codePoint);
    }
    out = std::move(result);
    return true;
}

bool WideToNarrow(std::string& out, const std::u16string& in)
{
    out.clear();
    const std::u16string_view text(in.c_str());
    std::string result;
    result.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        char32_t codePoint = 0;
        if (!DecodeUtf16(text, pos, codePoint)) {
            return false;
        }
        AppendUtf8(result, codePoint);
    }
    out = std::move(result);
    return true;
}

namespace {

// Characters that end a line on some screens (the C1 control NEL among them)
// or turn the text after them around: a name holding one could show as a line
// it is not, or show another name than its own.
bool IsShownAsEscape(char32_t codePoint)
{
    return (codePoint >= 0x80 && codePoint <= 0x9F) || codePoint == 0x2028 || codePoint == 0x2029 ||
           codePoint == 0x061C || codePoint == 0x200E || codePoint == 0x200F ||
           (codePoint >= 0x202A && codePoint <= 0x202E) || (codePoint >= 0x2066 && codePoint <= 0x2069);
}

void AppendHex(std::string& out, const char* prefix, unsigned value, int digits)
{
    static const char kDigits[] = "0123456789ABCDEF";
    out += prefix;
    for (int digit = digits - 1; digit >= 0; --digit) {
        out.push_back(kDigits[(value >> (4 * digit)) & 0xF]);
    }
}

} // namespace

std::string ToLogText(const std::u16string& text)
{
    std::string narrow;
    narrow.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        char32_t codePoint = 0;
        if (DecodeUtf16(text, pos, codePoint)) {
            if (IsShownAsEscape(codePoint)) {
                AppendHex(narrow, "\\u", codePoint, 4);
            } else {
                AppendUtf8(narrow, codePoint);
            }
            continue;
        }
        // A byte of a name on disk that is not UTF-8; nothing else has no form.
        const char16_t unit = text[pos++];
        if (unit < 0xDC80 || unit > 0xDCFF) {
            return TEXT_CONVERSION_ERROR;
        }
        AppendHex(narrow, "\\x", unit & 0xFF, 2);
    }
    // A file name may hold a line break: it must not start a line of its own
    // in the log, or a label or message a line that is not one.
    std::replace_if(
        narrow.begin(), narrow.end(), [](unsigned char c) { return c < 0x20 || c == 0x7F; }, '?');
    return narrow;
}

std::string FormatText(const char* format, std::span<const CFormatArg> args)
{
    std::string result;
    std::size_t next = 0;
    const auto takeArgument = [&]() -> std::string_view { return next < args.size() ? args[next++].m_text : ""; };
    for (const char* p = format; *p != '\0'; ++p) {
        if (*p != '%') {
            result.push_back(*p);
            continue;
        }
        const char conversion = p[1];
        if (conversion == '\0') {
            // A lone '%' at the end is kept and nothing is read past the end.
            result.push_back('%');
            break;
        }
        ++p;
        if (conversion == 's' || conversion == 'S') {
            result.append(takeArgument());
        } else {
            result.push_back('%');
            result.push_back(conversion);
            takeArgument();
        }
    }
    return result;
}
