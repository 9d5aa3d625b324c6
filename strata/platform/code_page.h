// Character-set conversion between code pages (UTF-8, GBK, the locale's own).
#ifndef STRATA_PLATFORM_CODE_PAGE_H_
#define STRATA_PLATFORM_CODE_PAGE_H_

#include <string>

namespace strata::platform {

// Converts `input` from character set `from` to `to` (iconv names such as
// "UTF-8", "GBK"). False when a character cannot be converted or a set is
// unknown; `output` is then unspecified.
bool ConvertCodePage(const std::string& input, const char* from, const char* to,
                     std::string& output);

// The character set of the process locale (LC_CTYPE), e.g. "UTF-8" or
// "ANSI_X3.4-1968" for the C locale.
std::string SystemCodePage();

// The multibyte character set used for a locale tag; "zh-CN" maps to "GBK"
// (code page 936). Unknown tags map to "UTF-8".
std::string CodePageOfLocale(const std::string& localeTag);

}  // namespace strata::platform

#endif  // STRATA_PLATFORM_CODE_PAGE_H_
