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

std::string ToLogText(const std::u16string& text)
{
    std::string narrow;
    narrow.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        char32_t codePoint = 0;
        if (DecodeUtf16(text, pos, codePoint)) {
            AppendUtf8(narrow, codePoint);
            continue;
        }
        // A byte of a name on disk that is not UTF-8; nothing else has no form.
        const char16_t unit = text[pos++];
        if (unit < 0xDC80 || unit > 0xDCFF) {
            return TEXT_CONVERSION_ERROR;
        }
        static const char kDigits[] = "0123456789ABCDEF";
        narrow += {'\\', 'x', kDigits[(unit >> 4) & 0xF], kDigits[unit & 0xF]};
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
