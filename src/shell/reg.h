// The module reg: string values under keys the caller has opened. The
// procedures never open, create or close keys, and report failure only by
// their Boolean results.
#pragma once

#include "shell/registry.h"

#include <string>

namespace Inkwell {

// Stores data as REG_SZ: its ANSI bytes and one NUL, the size counting the NUL.
bool SetStringValue(Registry &registry, RegKey hKey, const std::u16string &valueName,
                    const std::u16string &data);

// Reads a REG_SZ value; text is replaced only when the read succeeded.
bool QueryStringValue(Registry &registry, RegKey hKey, const std::u16string &valueName,
                      std::u16string &text);

// The text up to its first NUL, or the whole text when it holds none.
std::u16string TrimNull(const std::u16string &text);

} // namespace Inkwell
