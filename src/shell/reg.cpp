#include "shell/reg.h"

#include "platform/codepage.h"

#include <algorithm>

namespace Inkwell {

bool SetStringValue(Registry &registry, RegKey hKey, const std::u16string &valueName,
                    const std::u16string &data)
{
    std::string ansi = CodePage::encode(data, CodePage::systemAnsi()).bytes;
    const auto n = static_cast<std::uint32_t>(ansi.size());
    ansi.push_back('\0');
    return registry.setValue(hKey, valueName, RegType::Sz, ansi.data(), n + 1) == RegCode::Success;
}

bool QueryStringValue(Registry &registry, RegKey hKey, const std::u16string &valueName,
                      std::u16string &text)
{
    std::uint32_t type = RegType::None;
    std::uint32_t size = 0;
    if (registry.queryValue(hKey, valueName, &type, nullptr, &size) != RegCode::Success ||
        type != RegType::Sz)
        return false;

    std::string buffer(size, ' ');
    std::uint32_t secondType = RegType::None;
    if (registry.queryValue(hKey, valueName, &secondType, buffer.data(), &size) != RegCode::Success)
        return false;
    // The value may have shrunk between the two calls; size is what was read.
    buffer.resize(std::min<std::size_t>(buffer.size(), size));
    text = TrimNull(CodePage::decode(buffer, CodePage::systemAnsi()).text);
    return true;
}

std::u16string TrimNull(const std::u16string &text)
{
    const auto nul = text.find(u'\0');
    return nul == std::u16string::npos ? text : text.substr(0, nul);
}

} // namespace Inkwell
