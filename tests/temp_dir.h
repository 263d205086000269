// A temporary folder removed with everything in it when the test ends, and a
// scoped environment variable.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>

namespace zb::testing {

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "zbtest-XXXXXX").string();
    char* p = ::mkdtemp(tmpl.data());
    m_path = p ? p : "";
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(m_path, ec);
  }
  const std::string& Path() const { return m_path; }
  std::string operator/(const std::string& rel) const { return m_path + "/" + rel; }

 private:
  std::string m_path;
};

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : m_name(name) {
    if (const char* old = ::getenv(name)) m_old = old;
    ::setenv(name, value.c_str(), 1);
  }
  // Unsets the variable for the scope.
  ScopedEnv(const char* name, std::nullopt_t) : m_name(name) {
    if (const char* old = ::getenv(name)) m_old = old;
    ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (m_old)
      ::setenv(m_name, m_old->c_str(), 1);
    else
      ::unsetenv(m_name);
  }

 private:
  const char* m_name;
  std::optional<std::string> m_old;
};

}  // namespace zb::testing
