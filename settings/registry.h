// The settings store: one open registry key (`registry`) and its named
// values (`registry::value`). A value is read once and then answered from
// memory; an assignment is written at once. Every step is traced on standard
// output in lines that begin "REG_TRACE:" and a tab.
//
// A `registry` must outlive its values (they copy its key handle).
#pragma once

#include <string>

#include "platform/registry_store.h"

namespace zb {

class registry {
 public:
  // Opens or creates `keyPath` under `root` (a number that is no reg::Root
  // means the current user).
  registry(const std::string& keyPath, reg::Root root);
  ~registry();
  registry(const registry&) = delete;
  registry& operator=(const registry&) = delete;

  reg::HKEY Handle() const { return m_key; }

  class value {
   public:
    value(registry& owner, const std::string& name);
    ~value();
    value(const value&) = delete;
    value& operator=(const value&) = delete;

    // The string up to the first zero byte; reads the registry until a read
    // has succeeded.
    std::string get();
    // Replaces the data and writes it at once.
    void set(const std::string& text);
    // Writes the data; true on success (a failure leaves it pending).
    bool write();

    bool IsModified() const { return m_modified; }

   private:
    bool m_read = false;
    bool m_modified = false;
    reg::HKEY m_key;
    std::string m_name;
    std::string m_data;
  };

 private:
  reg::HKEY m_key = nullptr;
};

// Writes a trace fragment to standard output and flushes it, so a redirected
// trace is complete even when the program is killed.
void RegTrace(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace zb
