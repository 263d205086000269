#include "platform/translation.h"

#include <libintl.h>
#include <sys/stat.h>

#include <mutex>

namespace zb {

std::string LocaleDirectoryFor(const std::string& moduleDir) {
  std::string beside = moduleDir + "/locale";
  struct stat st {};
  if (::stat(beside.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return beside;
  return moduleDir + "/../../share/locale";
}

void BindTextDomain(const std::string& moduleDir) {
  static std::once_flag once;
  std::call_once(once, [&] {
    ::bindtextdomain(kTextDomain, LocaleDirectoryFor(moduleDir).c_str());
    ::bind_textdomain_codeset(kTextDomain, "UTF-8");
  });
}

// The empty msgid names the catalogue's header, so it is never looked up.
const char* Tr(const char* english) {
  return english[0] ? ::dgettext(kTextDomain, english) : english;
}

std::string Tr(const std::string& english) {
  return Tr(english.c_str());
}

std::string ReplaceFirst(std::string text, const std::string& placeholder,
                         const std::string& value) {
  if (size_t at = text.find(placeholder); at != std::string::npos && !placeholder.empty())
    text.replace(at, placeholder.size(), value);
  return text;
}

}  // namespace zb
