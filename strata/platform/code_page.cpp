#include "strata/platform/code_page.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <clocale>
#include <vector>

namespace strata::platform {

bool ConvertCodePage(const std::string& input, const char* from, const char* to,
                     std::string& output) {
  output.clear();
  iconv_t converter = iconv_open(to, from);
  if (converter == reinterpret_cast<iconv_t>(-1)) return false;
  std::vector<char> in(input.begin(), input.end());
  std::vector<char> out(input.size() * 4 + 16);
  char* inPtr = in.data();
  size_t inLeft = in.size();
  char* outPtr = out.data();
  size_t outLeft = out.size();
  bool ok = true;
  while (inLeft > 0) {
    if (iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) {
      if (errno == E2BIG) {
        const size_t used = static_cast<size_t>(outPtr - out.data());
        out.resize(out.size() * 2);
        outPtr = out.data() + used;
        outLeft = out.size() - used;
        continue;
      }
      ok = false;
      break;
    }
  }
  iconv_close(converter);
  if (ok) output.assign(out.data(), static_cast<size_t>(outPtr - out.data()));
  return ok;
}

std::string SystemCodePage() {
  // nl_langinfo reports the character set of the current LC_CTYPE setting.
  const char* name = nl_langinfo(CODESET);
  return name == nullptr || *name == '\0' ? std::string("ANSI_X3.4-1968") : std::string(name);
}

std::string CodePageOfLocale(const std::string& localeTag) {
  if (localeTag == "zh-CN" || localeTag == "zh_CN") return "GBK";
  return "UTF-8";
}

}  // namespace strata::platform
