#include "transfer/Converter.h"

#include <algorithm>
#include <array>
#include <cerrno>

namespace {

// The extension of a name, with its dot, in lower case; empty without one.
std::u16string LowerExtension(const std::u16string& name)
{
    const std::size_t dot = name.rfind(u'.');
    if (dot == std::u16string::npos) {
        return {};
    }
    std::u16string extension = name.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; });
    return extension;
}

} // namespace

bool IsLosslessAudio(const std::u16string& name)
{
    static constexpr std::array<std::u16string_view, 6> LOSSLESS = {u".flac", u".wav",  u".aif",
                                                                    u".aiff", u".aifc", u".wv"};
    const std::u16string extension = LowerExtension(name);
    return std::find(LOSSLESS.begin(), LOSSLESS.end(), extension) != LOSSLESS.end();
}

// No encoder is built in yet: every conversion fails plainly.
CConversion ConvertFile(const std::string&, const CFormatProfile&, const std::string&, const std::atomic<bool>&)
{
    return CConversion{ENOSYS, "no encoder is built in", 0};
}
