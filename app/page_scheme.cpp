#include "app/page_scheme.h"

#include <gio/gunixinputstream.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "bridge/program_pages.h"
#include "platform/translation.h"

namespace zb {
namespace {

// The one reader of the pages and their work files: what ProgramPages::Open
// hands over, whole or the one byte range asked for (an <audio> element
// seeks by ranges).
void ServePage(WebKitURISchemeRequest* request, gpointer pages) {
  const char* uri = webkit_uri_scheme_request_get_uri(request);
  ProgramPages::Opened file = static_cast<const ProgramPages*>(pages)->Open(uri ? uri : "");
  struct stat st;
  if (file.fd < 0 || ::fstat(file.fd, &st) != 0) {
    if (file.fd >= 0) ::close(file.fd);
    GError* error = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_NOT_FOUND,
                                        Tr("Zimbrel has no file at this address"));
    webkit_uri_scheme_request_finish_error(request, error);
    g_error_free(error);
    return;
  }
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  SoupMessageHeaders* asked = webkit_uri_scheme_request_get_http_headers(request);
  const char* range = asked ? soup_message_headers_get_one(asked, "Range") : nullptr;
  uint64_t first = 0, last = 0;
  const bool partial = range && ParseByteRange(range, size, &first, &last);
  SoupMessageHeaders* headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
  soup_message_headers_append(headers, "Accept-Ranges", "bytes");
  soup_message_headers_append(headers, "Cache-Control", "no-store");
  GInputStream* stream = nullptr;
  gint64 length = static_cast<gint64>(size);
  int status = 200;
  if (partial) {
    // At most 8 MiB a response: the element asks again for the rest.
    last = std::min(last, first + (8u << 20) - 1);
    std::string bytes(last - first + 1, '\0');
    ssize_t got = ::pread(file.fd, bytes.data(), bytes.size(), static_cast<off_t>(first));
    ::close(file.fd);
    bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
    last = first + bytes.size() - 1;
    length = static_cast<gint64>(bytes.size());
    GBytes* data = g_bytes_new(bytes.data(), bytes.size());
    stream = g_memory_input_stream_new_from_bytes(data);
    g_bytes_unref(data);
    status = 206;
    gchar* contentRange = g_strdup_printf("bytes %llu-%llu/%llu", (unsigned long long)first,
                                          (unsigned long long)last, (unsigned long long)size);
    soup_message_headers_append(headers, "Content-Range", contentRange);
    g_free(contentRange);
  } else {
    stream = g_unix_input_stream_new(file.fd, TRUE);
  }
  WebKitURISchemeResponse* response = webkit_uri_scheme_response_new(stream, length);
  g_object_unref(stream);
  webkit_uri_scheme_response_set_status(response, status, nullptr);
  webkit_uri_scheme_response_set_content_type(response, file.mime.c_str());
  webkit_uri_scheme_response_set_http_headers(response, headers);  // takes them
  webkit_uri_scheme_request_finish_with_response(request, response);
  g_object_unref(response);
}

}  // namespace

void RegisterPageScheme(WebKitWebContext* context, const ProgramPages* pages) {
  webkit_web_context_register_uri_scheme(context, kPageScheme, ServePage,
                                         const_cast<ProgramPages*>(pages), nullptr);
  WebKitSecurityManager* security = webkit_web_context_get_security_manager(context);
  webkit_security_manager_register_uri_scheme_as_secure(security, kPageScheme);
  webkit_security_manager_register_uri_scheme_as_cors_enabled(security, kPageScheme);
}

}  // namespace zb
