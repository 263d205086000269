#include "bridge/bridge_wire.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/utf.h"

namespace zb::wire {
namespace {

void PutU32(std::string& o, uint32_t v) {
  char b[4] = {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
               static_cast<char>(v >> 24)};
  o.append(b, 4);
}
void PutU16(std::string& o, uint16_t v) {
  o += static_cast<char>(v);
  o += static_cast<char>(v >> 8);
}

class Cursor {
 public:
  explicit Cursor(std::string_view d) : m_d(d) {}
  bool U8(uint8_t* v) {
    if (m_d.size() - m_p < 1) return false;
    *v = static_cast<uint8_t>(m_d[m_p++]);
    return true;
  }
  bool U16(uint16_t* v) {
    if (m_d.size() - m_p < 2) return false;
    *v = static_cast<uint16_t>(static_cast<uint8_t>(m_d[m_p]) | static_cast<uint8_t>(m_d[m_p + 1])
                                                                    << 8);
    m_p += 2;
    return true;
  }
  bool U32(uint32_t* v) {
    if (m_d.size() - m_p < 4) return false;
    uint32_t r = 0;
    for (int i = 3; i >= 0; --i) r = r << 8 | static_cast<uint8_t>(m_d[m_p + i]);
    *v = r;
    m_p += 4;
    return true;
  }
  bool U64(uint64_t* v) {
    if (m_d.size() - m_p < 8) return false;
    uint64_t r = 0;
    for (int i = 7; i >= 0; --i) r = r << 8 | static_cast<uint8_t>(m_d[m_p + i]);
    *v = r;
    m_p += 8;
    return true;
  }
  bool F64(double* v) {
    if (m_d.size() - m_p < 8) return false;
    std::memcpy(v, m_d.data() + m_p, 8);
    m_p += 8;
    return true;
  }
  bool Bytes(uint32_t n, std::string* s) {
    if (m_d.size() - m_p < n) return false;
    s->assign(m_d.data() + m_p, n);
    m_p += n;
    return true;
  }
  bool AtEnd() const { return m_p == m_d.size(); }

 private:
  std::string_view m_d;
  size_t m_p = 0;
};

void PutValue(std::string& o, const Value& v) {
  o += static_cast<char>(v.tag);
  switch (v.tag) {
    case Tag::kInt:
      PutU32(o, static_cast<uint32_t>(v.i));
      break;
    case Tag::kDouble: {
      char b[8];
      std::memcpy(b, &v.d, 8);
      o.append(b, 8);
      break;
    }
    case Tag::kBool:
      o += static_cast<char>(v.b ? 1 : 0);
      break;
    case Tag::kString:
      PutU32(o, static_cast<uint32_t>(v.s.size()));
      o += v.s;
      break;
    case Tag::kEmpty:
    case Tag::kNull:
      break;
  }
}

bool GetValue(Cursor& c, Value* v) {
  uint8_t tag;
  if (!c.U8(&tag)) return false;
  v->tag = static_cast<Tag>(tag);
  uint32_t u;
  switch (v->tag) {
    case Tag::kEmpty:
    case Tag::kNull:
      return true;
    case Tag::kInt:
      if (!c.U32(&u)) return false;
      v->i = static_cast<int32_t>(u);
      return true;
    case Tag::kDouble:
      return c.F64(&v->d);
    case Tag::kBool: {
      uint8_t b;
      if (!c.U8(&b) || b > 1) return false;
      v->b = b != 0;
      return true;
    }
    case Tag::kString:
      return c.U32(&u) && c.Bytes(u, &v->s);
  }
  return false;  // unknown tag
}

// A value read off the wire as the VARIANT the scripting object takes (UI
// side): the page's value is converted once, here.
bool GetVariant(Cursor& c, VARIANT* v) {
  VariantInit(v);
  uint8_t tag;
  if (!c.U8(&tag)) return false;
  uint32_t u;
  switch (static_cast<Tag>(tag)) {
    case Tag::kEmpty:
      return true;
    case Tag::kNull:
      v->vt = VT_NULL;
      return true;
    case Tag::kInt:
      if (!c.U32(&u)) return false;
      v->vt = VT_I4;
      v->lVal = static_cast<int32_t>(u);
      return true;
    case Tag::kDouble:
      v->vt = VT_R8;
      return c.F64(&v->dblVal);
    case Tag::kBool: {
      uint8_t b;
      if (!c.U8(&b) || b > 1) return false;
      v->vt = VT_BOOL;
      v->boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
      return true;
    }
    case Tag::kString: {
      std::string text;
      if (!c.U32(&u) || !c.Bytes(u, &text)) return false;
      v->vt = VT_BSTR;
      v->bstrVal = SysAllocString(Utf8ToUtf16(text));
      return true;
    }
  }
  return false;  // unknown tag
}

// A result VARIANT written as a wire value (UI side); types a page cannot
// receive go as Empty.
void PutVariant(std::string& o, const VARIANT& v) {
  Value r;
  switch (v.vt) {
    case VT_I4:
      r.tag = Tag::kInt;
      r.i = v.lVal;
      break;
    case VT_INT:
      r.tag = Tag::kInt;
      r.i = v.intVal;
      break;
    case VT_I2:
      r.tag = Tag::kInt;
      r.i = v.iVal;
      break;
    case VT_R8:
      r.tag = Tag::kDouble;
      r.d = v.dblVal;
      break;
    case VT_BOOL:
      r.tag = Tag::kBool;
      r.b = v.boolVal != VARIANT_FALSE;
      break;
    case VT_BSTR:
      r.tag = Tag::kString;
      r.s = Utf16ToUtf8(BstrView(v.bstrVal));
      break;
    case VT_NULL:
      r.tag = Tag::kNull;
      break;
    default:
      break;
  }
  PutValue(o, r);
}

}  // namespace

CallArgs::~CallArgs() {
  for (auto& v : m_lastFirst) VariantClear(&v);
}

const VARIANT& CallArgs::operator[](size_t scriptIndex) const {
  return m_lastFirst[m_lastFirst.size() - 1 - scriptIndex];
}

DISPPARAMS CallArgs::Params() {
  return DISPPARAMS{m_lastFirst.empty() ? nullptr : m_lastFirst.data(), nullptr,
                    static_cast<UINT>(m_lastFirst.size()), 0};
}

std::string EncodeLookup(std::string_view name) {
  std::string o;
  o += static_cast<char>(kOpLookup);
  PutU32(o, static_cast<uint32_t>(name.size()));
  o += name;
  return o;
}

std::string EncodeInvoke(int32_t dispid, uint16_t flags, const std::vector<Value>& args) {
  std::string o;
  o += static_cast<char>(kOpInvoke);
  PutU32(o, static_cast<uint32_t>(dispid));
  PutU16(o, flags);
  PutU32(o, static_cast<uint32_t>(args.size()));
  for (const auto& a : args) PutValue(o, a);
  return o;
}

std::string EncodeHello(uint64_t pageId, std::string_view secret) {
  std::string o;
  o += static_cast<char>(kOpHello);
  PutU32(o, static_cast<uint32_t>(pageId));
  PutU32(o, static_cast<uint32_t>(pageId >> 32));
  PutU32(o, static_cast<uint32_t>(secret.size()));
  o += secret;
  return o;
}

bool DecodeRequest(std::string_view payload, Request* out) {
  Cursor c(payload);
  *out = Request{};
  if (!c.U8(&out->op)) return false;
  if (out->op == kOpLookup) {
    uint32_t n;
    return c.U32(&n) && c.Bytes(n, &out->name) && c.AtEnd();
  }
  if (out->op == kOpHello) {
    uint32_t n;
    return c.U64(&out->pageId) && c.U32(&n) && n <= kMaxSecret && c.Bytes(n, &out->secret) &&
           c.AtEnd();
  }
  if (out->op != kOpInvoke) return false;
  uint32_t dispid, argc;
  if (!c.U32(&dispid) || !c.U16(&out->flags) || !c.U32(&argc) || argc > kMaxArgs) return false;
  out->dispid = static_cast<int32_t>(dispid);
  // Arguments go last-first, as DISPPARAMS holds them; each is a VARIANT the
  // moment it is read (and cleared with the request, read whole or not).
  auto& slots = out->args.m_lastFirst;
  slots.resize(argc);
  for (auto& v : slots) VariantInit(&v);
  for (uint32_t k = 0; k < argc; ++k)
    if (!GetVariant(c, &slots[argc - 1 - k])) return false;
  return c.AtEnd();
}

std::string EncodeLookupReply(int32_t dispid, uint8_t kind) {
  std::string o(1, '\0');
  PutU32(o, static_cast<uint32_t>(dispid));
  o += static_cast<char>(kind);
  return o;
}

std::string EncodeInvokeReply(const VARIANT& result) {
  std::string o(1, '\0');
  PutVariant(o, result);
  return o;
}

std::string EncodeHelloReply() {
  return std::string(1, '\0');
}

std::string EncodeErrorReply(std::string_view message) {
  std::string o(1, '\1');
  PutU32(o, static_cast<uint32_t>(message.size()));
  o += message;
  return o;
}

bool DecodeReply(std::string_view payload, uint8_t op, Reply* out) {
  Cursor c(payload);
  *out = Reply{};
  uint8_t status;
  if (!c.U8(&status)) return false;
  if (status == 1) {
    uint32_t n;
    out->ok = false;
    return c.U32(&n) && c.Bytes(n, &out->error) && c.AtEnd();
  }
  if (status != 0) return false;
  if (op == kOpLookup) {
    uint32_t d;
    if (!c.U32(&d) || !c.U8(&out->kind)) return false;
    out->dispid = static_cast<int32_t>(d);
    return c.AtEnd();
  }
  if (op == kOpHello) return c.AtEnd();
  return GetValue(c, &out->result) && c.AtEnd();
}

std::string Frame(std::string_view payload) {
  std::string o;
  o.reserve(payload.size() + 4);
  PutU32(o, static_cast<uint32_t>(payload.size()));
  o += payload;
  return o;
}

FrameReader::Status FrameReader::Next(std::string* payload, size_t maxFrame) {
  if (m_buf.size() < 4) return Status::kNeedMore;
  uint32_t n = 0;
  for (int i = 3; i >= 0; --i) n = n << 8 | static_cast<uint8_t>(m_buf[i]);
  if (n > kMaxFrame || n > maxFrame) return Status::kTooLarge;
  if (m_buf.size() - 4 < n) return Status::kNeedMore;
  payload->assign(m_buf, 4, n);
  m_buf.erase(0, size_t{n} + 4);
  return Status::kFrame;
}

bool WriteFully(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t w = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(w));
  }
  return true;
}

bool ReadFrame(int fd, std::string* payload) {
  FrameReader reader;
  char buf[65536];
  for (;;) {
    switch (reader.Next(payload)) {
      case FrameReader::Status::kFrame:
        return reader.Buffered() == 0;
      case FrameReader::Status::kTooLarge:
        return false;
      case FrameReader::Status::kNeedMore:
        break;
    }
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    reader.Feed(buf, static_cast<size_t>(n));
  }
}

}  // namespace zb::wire
