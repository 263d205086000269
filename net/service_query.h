// Short synchronous questions to the ringtone service, for the program's own
// use (not the pages'): on the calling thread, with a time limit.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "platform/outcome.h"
#include "platform/service_host.h"

namespace zb::net {

enum class QueryFailure {
  kUnreachable,  // no answer within the limit; detail: the curl code
  kStatus,       // an answer other than 200; detail: its status
  kBadAnswer,    // a 200 answer without what was asked for
};

// GET http://<service>/<path> (on the service's socket when it has one); the
// body of a 200 answer (at most 64 KiB). Proxies are never used.
Outcome<QueryFailure, std::string> QueryService(const ServiceHost& service, std::string_view path,
                                                std::chrono::milliseconds limit);

// The address a browser on this machine reaches the service at, for a
// service on a socket: the "url" of /cgi-bin/zbl_browser.cgi, which must be
// http:// on a loopback address (127.0.0.0/8 or [::1]) with a port, and
// ends in "/". For a TCP service, BrowserPrefix().
Outcome<QueryFailure, std::string> BrowserAddress(const ServiceHost& service,
                                                  std::chrono::milliseconds limit);

// The string value of `name` in a JSON object's top level (escapes decoded,
// \u as UTF-8); nullopt when there is none or the text is not such an object.
std::optional<std::string> JsonStringField(std::string_view json, std::string_view name);

// True for "http://127.x.y.z:PORT/" and "http://[::1]:PORT/".
bool IsLoopbackPrefix(std::string_view url);

}  // namespace zb::net
