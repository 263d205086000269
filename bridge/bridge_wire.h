// Wire format between a web process (page script's window.external) and the
// UI process that runs the scripting object. The UI process trusts nothing it
// reads here: every decoder bounds its input and reports malformed data.
//
// Frame: payload length as u32 little-endian, then the payload.
// Requests:  u8 op=1 (lookup), u32 n, name[n] (UTF-8)
//            u8 op=2 (invoke), i32 dispid, u16 flags, u32 argc, value[argc]
//            u8 op=3 (hello), u64 page id, u32 n, secret[n]: the first request
//            of a connection, naming the web page (webkit_web_page_get_id)
//            whose script uses it and proving with the run's secret that the
//            caller is one of the program's own web processes
// Value:     u8 tag, then: Int i32 | Double f64 | Bool u8 | String u32 n, bytes[n]
// Replies:   u8 0 (ok), then for lookup i32 dispid, u8 kind; for invoke one
//            value; for hello nothing
//            u8 1 (error), u32 n, message[n]
//
// The web process writes requests from page script's values (Value) and
// reads replies into them. The UI process reads a request's arguments
// straight into VARIANTs (CallArgs) and writes a reply from the result
// VARIANT: a page's value is converted once on its way in and once on its
// way out; the scripting object then gives each argument the type its member
// takes (bridge/external_dispatch.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/automation.h"

namespace zb::wire {

constexpr uint8_t kOpLookup = 1;
constexpr uint8_t kOpInvoke = 2;
constexpr uint8_t kOpHello = 3;
constexpr size_t kMaxFrame = 64u << 20;  // larger frames close the connection
constexpr uint32_t kMaxArgs = 64;
constexpr uint32_t kMaxSecret = 256;

// Member kinds carried by a lookup reply.
constexpr uint8_t kKindUnknown = 0;
constexpr uint8_t kKindMethod = 1;
constexpr uint8_t kKindProperty = 2;
constexpr uint8_t kKindBoth = 3;

enum class Tag : uint8_t { kEmpty = 0, kNull = 1, kInt = 2, kDouble = 3, kBool = 4, kString = 5 };

struct Value {
  Tag tag = Tag::kEmpty;
  int32_t i = 0;
  double d = 0;
  bool b = false;
  std::string s;
};

struct Request;

// The arguments of one call, read off the wire straight into the VARIANTs the
// scripting object takes: stored last-first (DISPPARAMS order) and owned
// (cleared when this ends). Move-only.
class CallArgs {
 public:
  CallArgs() = default;
  ~CallArgs();
  CallArgs(CallArgs&&) noexcept = default;
  CallArgs& operator=(CallArgs&& o) noexcept {
    std::swap(m_lastFirst, o.m_lastFirst);
    return *this;
  }
  size_t size() const { return m_lastFirst.size(); }
  // The argument at a position in script order.
  const VARIANT& operator[](size_t scriptIndex) const;
  // The arguments as Invoke takes them; valid while this lives.
  DISPPARAMS Params();

 private:
  friend bool DecodeRequest(std::string_view payload, Request* out);
  std::vector<VARIANT> m_lastFirst;
};

struct Request {
  uint8_t op = 0;
  std::string name;     // lookup
  uint64_t pageId = 0;  // hello
  std::string secret;   // hello
  int32_t dispid = 0;
  uint16_t flags = 0;
  CallArgs args;  // invoke
};

struct Reply {
  bool ok = true;
  std::string error;
  int32_t dispid = DISPID_UNKNOWN;
  uint8_t kind = kKindUnknown;
  Value result;
};

std::string EncodeLookup(std::string_view name);
std::string EncodeInvoke(int32_t dispid, uint16_t flags, const std::vector<Value>& args);
std::string EncodeHello(uint64_t pageId, std::string_view secret);
bool DecodeRequest(std::string_view payload, Request* out);

std::string EncodeLookupReply(int32_t dispid, uint8_t kind);
std::string EncodeInvokeReply(const VARIANT& result);
std::string EncodeHelloReply();
std::string EncodeErrorReply(std::string_view message);
bool DecodeReply(std::string_view payload, uint8_t op, Reply* out);

// Prefixes the payload with its length.
std::string Frame(std::string_view payload);

// Incremental frame splitter for a non-blocking reader.
class FrameReader {
 public:
  enum class Status { kNeedMore, kFrame, kTooLarge };
  void Feed(const char* data, size_t n) { m_buf.append(data, n); }
  // The next whole frame; kTooLarge when its length is above `maxFrame`
  // (told as soon as the length has arrived).
  Status Next(std::string* payload, size_t maxFrame = kMaxFrame);
  size_t Buffered() const { return m_buf.size(); }

 private:
  std::string m_buf;
};

// Blocking helpers for the web process side (restart on EINTR).
bool WriteFully(int fd, std::string_view data);
bool ReadFrame(int fd, std::string* payload);

}  // namespace zb::wire
