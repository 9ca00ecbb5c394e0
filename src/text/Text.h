#pragma once

#include <span>
#include <string>
#include <string_view>

// Narrow text is UTF-8 in a std::string, wide text is UTF-16 in a
// std::u16string. Everything shown to the user is narrow; paths are wide.

// Shown wherever a wide text has no narrow form.
inline constexpr char TEXT_CONVERSION_ERROR[] = "<Unicode to Ascii conversion error>";

// Strict conversions. The input is read up to its first NUL. On failure the
// output is empty and the result false.
bool NarrowToWide(std::u16string& out, const std::string& in);
bool WideToNarrow(std::string& out, const std::u16string& in);

// The narrow form of a wide text for messages, log lines and labels, with
// every C0 control character shown as '?', each byte of a file name that is
// not UTF-8 as an escape ("\xFF"), and each C1 control character, line or
// paragraph separator and bidirectional control as an escape of its code
// point ("\u2028"); or TEXT_CONVERSION_ERROR when it has none.
std::string ToLogText(const std::u16string& text);

// One argument of the formatter: "%s" takes a C string, "%S" a narrow string.
// A null C string reads as "".
class CFormatArg
{
public:
    CFormatArg(const char* text) : m_text(text ? text : "") {}
    CFormatArg(const std::string& text) : m_text(text) {}

    std::string_view m_text;
};

// The program's own formatter: "%s" and "%S" append the next argument; any
// other character after '%' is copied with the '%' and passes over one
// argument. A missing argument appends nothing.
std::string FormatText(const char* format, std::span<const CFormatArg> args);

template <typename... Args> std::string FormatString(const char* format, const Args&... args)
{
    const CFormatArg list[] = {CFormatArg(args)..., CFormatArg("")};
    return FormatText(format, std::span(list, sizeof...(Args)));
}
