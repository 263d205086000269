#pragma once

#include <string>

// The native strings a person reads go through the "zimbrel" text domain.
// English is the source: a string with no translation shows as written.
// Code marks strings with Tr() where they are shown and N_() where they are
// only stored (constants translated later); the build's xgettext collects both.
#define N_(text) text

namespace zb {

inline constexpr char kTextDomain[] = "zimbrel";

// The folder the domain's catalogues are read from, for a module (program or
// library) in `moduleDir`: `<moduleDir>/locale` when it exists (a build
// folder), otherwise `<moduleDir>/../../share/locale` (installed under
// <prefix>/lib/zimbrel).
std::string LocaleDirectoryFor(const std::string& moduleDir);

// Binds the domain to LocaleDirectoryFor(moduleDir) with UTF-8 output. The
// first call wins; later calls do nothing (safe from any thread). It never
// calls textdomain(): in a file manager's process the default domain is the
// file manager's own.
void BindTextDomain(const std::string& moduleDir);

// The translation of `english` in the domain for the current LC_MESSAGES.
const char* Tr(const char* english);
std::string Tr(const std::string& english);

// `text` with its first `placeholder` replaced by `value` (inserted as it is:
// a file's name is never read as a format).
std::string ReplaceFirst(std::string text, const std::string& placeholder,
                         const std::string& value);

}  // namespace zb
