// The web process extension: defines window.external for the program's own
// pages and turns every call or property read into a blocking request to the
// UI process over a Unix socket.
//
// A frame gets external only when its document is one of the program's pages
// and so is the document of every frame above it, up to the main frame. A
// page is ours when its address is one of the program's own scheme for a
// file in res/ (see ProgramPages): the UI process alone answers that scheme,
// reading only res/, so the bytes of such a document are the program's. No other page gets it,
// whatever its address says: not a local file elsewhere, not a page of the service, not a page of
// ours framed by someone else's. Names resolve once per web process (the
// table is fixed for the run); every call still goes to the UI process, over
// a connection of the page's own whose first request (the hello) carries the
// run's secret and names the page (its web page id), so that the UI process
// serves only its own web processes and knows which view a request comes
// from. Pages of ours also get zimbrelService, the service's address
// ("http://host[:port]/", read-only), so that they can show the addresses the
// program opens in the browser.
//
// The initialisation data (a GVariant "(sssss)"): the socket path, the module
// directory, the user's work folder, the service's address and the secret.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include <webkit2/webkit-web-extension.h>

#include "bridge/bridge_wire.h"
#include "bridge/program_pages.h"

namespace {

using zb::wire::Tag;
using zb::wire::Value;

struct Member {
  int32_t dispid = zb::DISPID_UNKNOWN;
  uint8_t kind = zb::wire::kKindUnknown;
};

struct ExtensionState {
  std::string socketPath;
  zb::ProgramPages pages;
  std::string servicePrefix;  // "http://host[:port]/"
  std::string secret;
  std::unordered_map<std::string, Member> members;
};

ExtensionState* gState = nullptr;

// One web page's way to the UI process: a connection of its own that names
// the page first (the hello), so that the UI process knows which view calls.
struct PageLink {
  uint64_t pageId = 0;
  int fd = -1;
  bool broken = false;
};

// Links by page id; they live as long as the web process.
std::unordered_map<uint64_t, PageLink*> gLinks;

PageLink* LinkFor(uint64_t pageId) {
  PageLink*& link = gLinks[pageId];
  if (!link) {
    link = new PageLink;
    link->pageId = pageId;
  }
  return link;
}

bool Exchange(PageLink* link, const std::string& request, uint8_t op, zb::wire::Reply* reply) {
  std::string payload;
  return zb::wire::WriteFully(link->fd, zb::wire::Frame(request)) &&
         zb::wire::ReadFrame(link->fd, &payload) && zb::wire::DecodeReply(payload, op, reply);
}

bool Connect(PageLink* link) {
  if (link->fd >= 0) return true;
  if (link->broken) return false;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (gState->socketPath.size() >= sizeof addr.sun_path) {
    ::close(fd);
    return false;
  }
  std::memcpy(addr.sun_path, gState->socketPath.c_str(), gState->socketPath.size() + 1);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    link->broken = true;
    return false;
  }
  link->fd = fd;
  zb::wire::Reply reply;
  if (!Exchange(link, zb::wire::EncodeHello(link->pageId, gState->secret), zb::wire::kOpHello,
                &reply) ||
      !reply.ok) {
    ::close(fd);
    link->fd = -1;
    link->broken = true;
    return false;
  }
  return true;
}

// One blocking round trip; false when the UI process cannot be reached.
bool RoundTrip(PageLink* link, const std::string& request, uint8_t op, zb::wire::Reply* reply) {
  if (!Connect(link)) return false;
  if (!Exchange(link, request, op, reply)) {
    ::close(link->fd);
    link->fd = -1;
    link->broken = true;  // never hang on a dead peer: every later call throws
    return false;
  }
  return true;
}

// Names resolve once per web process (the table is fixed for the run); a
// lookup that fails (the UI process unreachable, or refusing this page) is
// not remembered.
const Member* Resolve(PageLink* link, const char* name, bool* failed, std::string* error) {
  *failed = false;
  auto it = gState->members.find(name);
  if (it != gState->members.end()) return &it->second;
  zb::wire::Reply reply;
  if (!RoundTrip(link, zb::wire::EncodeLookup(name), zb::wire::kOpLookup, &reply)) {
    *failed = true;
    *error = "the program is not reachable";
    return nullptr;
  }
  if (!reply.ok) {
    *failed = true;
    *error = reply.error;
    return nullptr;
  }
  Member m{reply.dispid, reply.kind};
  return &gState->members.emplace(name, m).first->second;
}

constexpr char kWellFormedKey[] = "zimbrel-well-formed";

// `v` with each lone surrogate replaced by U+FFFD: JavaScriptCore turns a
// text holding one into an empty UTF-8 text, losing all of it.
JSCValue* WellFormed(JSCValue* v) {
  JSCContext* ctx = jsc_value_get_context(v);
  auto* fn = static_cast<JSCValue*>(g_object_get_data(G_OBJECT(ctx), kWellFormedKey));
  if (!fn) {
    static const char kSource[] =
        "(function (s) { return typeof s.toWellFormed === 'function' ? s.toWellFormed() : "
        "s.replace(/[\\uD800-\\uDBFF](?![\\uDC00-\\uDFFF])|"
        "(^|[^\\uD800-\\uDBFF])[\\uDC00-\\uDFFF]/g, "
        "function (m) { return m.length > 1 ? m[0] + '\\uFFFD' : '\\uFFFD'; }); })";
    fn = jsc_context_evaluate(ctx, kSource, -1);
    if (!fn || !jsc_value_is_function(fn)) {
      if (fn) g_object_unref(fn);
      return static_cast<JSCValue*>(g_object_ref(v));
    }
    g_object_set_data_full(G_OBJECT(ctx), kWellFormedKey, fn, g_object_unref);
  }
  JSCValue* r = jsc_value_function_call(fn, JSC_TYPE_VALUE, v, G_TYPE_NONE);
  if (JSCException* e = jsc_context_get_exception(ctx)) {
    (void)e;
    jsc_context_clear_exception(ctx);
  }
  if (r && jsc_value_is_string(r)) return r;
  if (r) g_object_unref(r);
  return static_cast<JSCValue*>(g_object_ref(v));
}

Value FromJs(JSCValue* v) {
  Value out;
  if (jsc_value_is_string(v)) {
    out.tag = Tag::kString;
    JSCValue* whole = WellFormed(v);
    char* s = jsc_value_to_string(whole);
    g_object_unref(whole);
    out.s = s ? s : "";
    g_free(s);
  } else if (jsc_value_is_number(v)) {
    double d = jsc_value_to_double(v);
    if (std::isfinite(d) && d == std::trunc(d) && d >= -2147483648.0 && d <= 2147483647.0) {
      out.tag = Tag::kInt;
      out.i = static_cast<int32_t>(d);
    } else {
      out.tag = Tag::kDouble;
      out.d = d;
    }
  } else if (jsc_value_is_boolean(v)) {
    out.tag = Tag::kBool;
    out.b = jsc_value_to_boolean(v);
  } else if (jsc_value_is_null(v)) {
    out.tag = Tag::kNull;
  }
  // undefined, objects, arrays and functions pass as a missing argument.
  return out;
}

JSCValue* ToJs(JSCContext* ctx, const Value& v) {
  switch (v.tag) {
    case Tag::kInt:
      return jsc_value_new_number(ctx, v.i);
    case Tag::kDouble:
      return jsc_value_new_number(ctx, v.d);
    case Tag::kBool:
      return jsc_value_new_boolean(ctx, v.b);
    case Tag::kString: {
      GBytes* bytes = g_bytes_new(v.s.data(), v.s.size());
      JSCValue* r = jsc_value_new_string_from_bytes(ctx, bytes);
      g_bytes_unref(bytes);
      return r;
    }
    case Tag::kNull:
      return jsc_value_new_null(ctx);
    case Tag::kEmpty:
      break;
  }
  return jsc_value_new_undefined(ctx);
}

JSCValue* Invoke(PageLink* link, JSCContext* ctx, int32_t dispid, uint16_t flags,
                 const std::vector<Value>& args) {
  std::string request = zb::wire::EncodeInvoke(dispid, flags, args);
  // Arguments no frame can carry fail this call; the connection stays.
  if (request.size() > zb::wire::kMaxFrame) {
    jsc_context_throw(ctx, "Zimbrel: the arguments are too large");
    return jsc_value_new_undefined(ctx);
  }
  zb::wire::Reply reply;
  if (!RoundTrip(link, request, zb::wire::kOpInvoke, &reply)) {
    jsc_context_throw(ctx, "Zimbrel: the program is not reachable");
    return jsc_value_new_undefined(ctx);
  }
  if (!reply.ok) {
    jsc_context_throw(ctx, ("Zimbrel: " + reply.error).c_str());
    return jsc_value_new_undefined(ctx);
  }
  return ToJs(ctx, reply.result);
}

struct MethodData {
  PageLink* link;
  int32_t dispid;
};

JSCValue* CallMethod(GPtrArray* args, gpointer userData) {
  auto* md = static_cast<MethodData*>(userData);
  JSCContext* ctx = jsc_context_get_current();
  std::vector<Value> values;
  values.reserve(args ? args->len : 0);
  for (guint i = 0; args && i < args->len && i < zb::wire::kMaxArgs; ++i)
    values.push_back(FromJs(static_cast<JSCValue*>(g_ptr_array_index(args, i))));
  return Invoke(md->link, ctx, md->dispid, zb::DISPATCH_METHOD, values);
}

constexpr char kFunctionCacheKey[] = "zimbrel-external-functions";

JSCValue* GetProperty(JSCClass*, JSCContext* ctx, gpointer instance, const char* name) {
  auto* link = static_cast<PageLink*>(instance);
  bool failed = false;
  std::string error;
  const Member* m = Resolve(link, name, &failed, &error);
  if (failed) {
    jsc_context_throw(ctx, ("Zimbrel: " + error).c_str());
    return nullptr;
  }
  if (!m || m->dispid == zb::DISPID_UNKNOWN) return nullptr;
  if (m->kind == zb::wire::kKindProperty)
    return Invoke(link, ctx, m->dispid, zb::DISPATCH_PROPERTYGET, {});
  // Methods (and ZBL_IsZBL, which is both) read as the same function each time.
  auto* cache = static_cast<GHashTable*>(g_object_get_data(G_OBJECT(ctx), kFunctionCacheKey));
  if (!cache) {
    cache = g_hash_table_new_full(g_str_hash, g_str_equal, g_free, g_object_unref);
    g_object_set_data_full(G_OBJECT(ctx), kFunctionCacheKey, cache,
                           reinterpret_cast<GDestroyNotify>(g_hash_table_unref));
  }
  if (auto* fn = static_cast<JSCValue*>(g_hash_table_lookup(cache, name)))
    return static_cast<JSCValue*>(g_object_ref(fn));
  auto* md = new MethodData{link, m->dispid};
  JSCValue* fn = jsc_value_new_function_variadic(
      ctx, name, G_CALLBACK(CallMethod), md, [](gpointer p) { delete static_cast<MethodData*>(p); },
      JSC_TYPE_VALUE);
  g_hash_table_insert(cache, g_strdup(name), g_object_ref(fn));
  return fn;
}

gboolean HasProperty(JSCClass*, JSCContext*, gpointer instance, const char* name) {
  bool failed = false;
  std::string error;
  const Member* m = Resolve(static_cast<PageLink*>(instance), name, &failed, &error);
  return failed || (m && m->dispid != zb::DISPID_UNKNOWN);
}

JSCClassVTable gVTable = {
    GetProperty, nullptr /*set*/, HasProperty, nullptr /*delete*/, nullptr /*enumerate*/, nullptr,
    nullptr,     nullptr,         nullptr};

// Set on the DOM's object for a document when its window was cleared (before
// any of its script ran): whether it was one of the program's pages then.
constexpr char kOwnPageKey[] = "zimbrel-own-page";

G_GNUC_BEGIN_IGNORE_DEPRECATIONS

// The document whose window `ctx` is (the DOM's own object for it).
WebKitDOMDocument* DocumentOf(JSCContext* ctx) {
  JSCValue* value = jsc_context_get_value(ctx, "document");
  WebKitDOMNode* node = value ? webkit_dom_node_for_js_value(value) : nullptr;
  if (value) g_object_unref(value);
  return node && WEBKIT_DOM_IS_DOCUMENT(node) ? WEBKIT_DOM_DOCUMENT(node) : nullptr;
}

// Whether the document of every frame above the one showing `doc` was one of
// the program's pages when it loaded, and still has such an address (script
// may change a document's address through the history API). The DOM's own
// links are followed, whatever the origins: script could not see them
// across origins.
bool AncestorsAreOwnPages(WebKitDOMDocument* doc) {
  int levels = 0;
  for (;;) {
    WebKitDOMDOMWindow* window = webkit_dom_document_get_default_view(doc);
    WebKitDOMElement* owner = window ? webkit_dom_dom_window_get_frame_element(window) : nullptr;
    if (window) g_object_unref(window);
    if (!owner) break;  // the top
    doc = webkit_dom_node_get_owner_document(WEBKIT_DOM_NODE(owner));
    if (!doc || !g_object_get_data(G_OBJECT(doc), kOwnPageKey)) return false;
    gchar* url = webkit_dom_document_get_url(doc);
    bool own = url && gState->pages.Contains(url);
    g_free(url);
    if (!own) return false;
    ++levels;
  }
  return levels > 0;  // a frame that is not the main frame has a parent
}

G_GNUC_END_IGNORE_DEPRECATIONS

// WebKit's media player takes no address of the program's own scheme: an
// audio or video element of our page that fails on one gets the file read
// through the scheme into a blob: address instead (which plays and seeks;
// the page's policy must allow media from blob:). The page does not see the
// first failure; a file the scheme refuses fails as it would have.
constexpr char kMediaShim[] = R"(
(function () {
  var blobs = new WeakMap(), failed = new WeakSet();
  var src = Object.getOwnPropertyDescriptor(HTMLMediaElement.prototype, 'src');
  var createObjectURL = URL.createObjectURL, revokeObjectURL = URL.revokeObjectURL;
  var realFetch = window.fetch;
  window.addEventListener('error', function (e) {
    var el = e.target, media = el;
    if (el instanceof HTMLSourceElement) media = el.parentElement;
    if (!(media instanceof HTMLMediaElement)) return;
    if (failed.has(media)) { failed.delete(media); return; }  // ours: the page's to see
    var wanted = el instanceof HTMLSourceElement ? el.src : media.currentSrc || src.get.call(media);
    if (!wanted || wanted.indexOf(location.protocol + '//' + location.host + '/') !== 0) return;
    e.stopImmediatePropagation();
    realFetch.call(window, wanted).then(function (r) {
      return r.ok ? r.blob() : null;
    }, function () { return null; }).then(function (blob) {
      var now = el instanceof HTMLSourceElement ? el.src : media.currentSrc || src.get.call(media);
      if (now !== wanted) return;  // the page has moved on
      if (!blob) {
        failed.add(media);
        media.dispatchEvent(new Event('error'));
        return;
      }
      var old = blobs.get(media);
      if (old) revokeObjectURL(old);
      var url = createObjectURL(blob);
      blobs.set(media, url);
      src.set.call(media, url);
    });
  }, true);
})();
)";

void OnWindowObjectCleared(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame,
                           gpointer) {
  const char* uri = webkit_frame_get_uri(frame);
  JSCContext* ctx = webkit_frame_get_js_context_for_script_world(frame, world);
  WebKitDOMDocument* doc = DocumentOf(ctx);
  const bool own = uri && doc && gState->pages.Contains(uri) &&
                   (webkit_frame_is_main_frame(frame) || AncestorsAreOwnPages(doc));
  if (doc) g_object_set_data(G_OBJECT(doc), kOwnPageKey, own ? GINT_TO_POINTER(1) : nullptr);
  if (!own) {
    g_object_unref(ctx);
    return;
  }
  auto* klass = static_cast<JSCClass*>(g_object_get_data(G_OBJECT(ctx), "zimbrel-external-class"));
  if (!klass) {
    klass = jsc_context_register_class(ctx, "ZimbrelExternal", nullptr, &gVTable, nullptr);
    g_object_set_data(G_OBJECT(ctx), "zimbrel-external-class", klass);
  }
  // The instance (the vtable needs one) is the page's link.
  JSCValue* obj = jsc_value_new_object(ctx, LinkFor(webkit_web_page_get_id(page)), klass);
  JSCValue* global = jsc_context_get_global_object(ctx);
  jsc_value_object_define_property_data(global, "external", JSC_VALUE_PROPERTY_ENUMERABLE, obj);
  JSCValue* service = jsc_value_new_string(ctx, gState->servicePrefix.c_str());
  jsc_value_object_define_property_data(global, "zimbrelService", JSC_VALUE_PROPERTY_ENUMERABLE,
                                        service);
  g_object_unref(service);
  if (JSCValue* shim = jsc_context_evaluate(ctx, kMediaShim, -1)) g_object_unref(shim);
  if (jsc_context_get_exception(ctx)) jsc_context_clear_exception(ctx);
  g_object_unref(global);
  g_object_unref(obj);
  g_object_unref(ctx);
}

}  // namespace

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize_with_user_data(
    WebKitWebExtension*, const GVariant* userData) {
  const gchar *socketPath = nullptr, *moduleDir = nullptr, *workFolder = nullptr,
              *servicePrefix = nullptr, *secret = nullptr;
  if (!userData ||
      !g_variant_is_of_type(const_cast<GVariant*>(userData), G_VARIANT_TYPE("(sssss)")))
    return;
  g_variant_get(const_cast<GVariant*>(userData), "(&s&s&s&s&s)", &socketPath, &moduleDir,
                &workFolder, &servicePrefix, &secret);
  gState = new ExtensionState;
  gState->socketPath = socketPath;
  gState->pages = zb::ProgramPages(moduleDir, workFolder);
  gState->servicePrefix = servicePrefix;
  gState->secret = secret;
  g_signal_connect(webkit_script_world_get_default(), "window-object-cleared",
                   G_CALLBACK(OnWindowObjectCleared), nullptr);
}
