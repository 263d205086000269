#include "settings/registry.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace zb {

void RegTrace(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(stdout, fmt, ap);
  va_end(ap);
  std::fflush(stdout);
}

registry::registry(const std::string& keyPath, reg::Root root) {
  RegTrace("REG_TRACE:\tconstructing registry for \"%s\" ... ", keyPath.c_str());
  reg::HKEY key = nullptr;
  reg::DWORD disposition = 0;
  if (reg::RegCreateKeyExA(reg::RootKey(root), keyPath.c_str(), 0, nullptr,
                           reg::REG_OPTION_NON_VOLATILE, reg::KEY_ALL_ACCESS, nullptr, &key,
                           &disposition) == reg::ERROR_SUCCESS) {
    RegTrace("OK\n");
    m_key = key;
    reg::SweepTemporaries(m_key);  // what a writer killed mid-write left
  } else {
    RegTrace("Failed!\n");
    m_key = nullptr;
  }
}

registry::~registry() {
  RegTrace("REG_TRACE:\tdestructing registry\n");
  if (m_key) reg::RegCloseKey(m_key);
}

registry::value::value(registry& owner, const std::string& name)
    : m_key(owner.m_key), m_name(name), m_data(4, '\0') {
  RegTrace("REG_TRACE:\tconstructed object registry::value with name \"%s\"\n", m_name.c_str());
}

registry::value::~value() {
  if (m_modified) write();
  RegTrace("REG_TRACE:\tdestructed object registry::value with name \"%s\"\n", m_name.c_str());
}

std::string registry::value::get() {
  if (!m_read) {
    RegTrace("REG_TRACE:\treading value for key \"%s\" from registry ... ", m_name.c_str());
    // A first read of 1024 bytes; a longer value is read in full rather than
    // counted as empty, so a default never replaces a long stored value.
    std::vector<reg::BYTE> buf(1024);
    reg::DWORD size = static_cast<reg::DWORD>(buf.size());
    reg::LONG rc =
        m_key ? reg::RegQueryValueExA(m_key, m_name.c_str(), nullptr, nullptr, buf.data(), &size)
              : reg::ERROR_INVALID_HANDLE;
    for (int attempt = 0; rc == reg::ERROR_MORE_DATA && attempt < 3; ++attempt) {
      buf.resize(size);
      rc = reg::RegQueryValueExA(m_key, m_name.c_str(), nullptr, nullptr, buf.data(), &size);
    }
    if (rc != reg::ERROR_SUCCESS) {
      RegTrace("Failed!\n");
    } else {
      RegTrace("OK (read data size is %i bytes)\n", static_cast<int>(size));
      m_data.assign(reinterpret_cast<const char*>(buf.data()), size);
      m_read = true;
      m_modified = false;
    }
  }
  size_t zero = m_data.find('\0');
  return zero == std::string::npos ? m_data : m_data.substr(0, zero);
}

void registry::value::set(const std::string& text) {
  m_data = text;
  m_read = true;
  m_modified = true;
  write();
}

bool registry::value::write() {
  RegTrace(
      "REG_TRACE:\twriting current value of key \"%s\" (data size is %i bytes) to registry "
      "... ",
      m_name.c_str(), static_cast<int>(m_data.size()));
  reg::LONG rc = m_key ? reg::RegSetValueExA(m_key, m_name.c_str(), 0, reg::REG_BINARY,
                                             reinterpret_cast<const reg::BYTE*>(m_data.data()),
                                             static_cast<reg::DWORD>(m_data.size()))
                       : reg::ERROR_INVALID_HANDLE;
  if (rc == reg::ERROR_SUCCESS) {
    RegTrace("OK\n");
    m_modified = false;
    m_read = true;
    return true;
  }
  RegTrace("Failed!\n");
  return false;
}

}  // namespace zb
