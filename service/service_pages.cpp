#include "service/service_pages.h"

#include <time.h>

#include <cstdio>

namespace zb::service {
namespace {

constexpr char kStyle[] = R"(
  body { font-family: system-ui, sans-serif; margin: 0; background: #f4f1ec; color: #2b2b2b; }
  header { background: #2f5d62; color: #fff; padding: 18px 32px; }
  header a { color: #fff; text-decoration: none; font-weight: 600; }
  main { max-width: 720px; margin: 24px auto; padding: 0 16px; }
  h1 { font-size: 1.6em; margin: 0 0 12px; }
  .card { background: #fff; border-radius: 10px; padding: 16px 20px; margin: 12px 0;
          box-shadow: 0 1px 3px rgba(0,0,0,.12); }
  .meta { color: #666; font-size: .9em; margin-bottom: 8px; }
  audio { width: 100%; }
  .empty { color: #666; font-style: italic; }
  .get { font-size: 1.3em; font-weight: 600; }
  footer { color: #888; font-size: .8em; text-align: center; margin: 32px 0; }
)";

// `shared`: a page for a phone on the home network, which has no home page
// to link to.
std::string Frame(const std::string& title, const std::string& body, bool shared = false) {
  return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
         "<title>" +
         HtmlEscape(title) + "</title><style>" + kStyle + "</style></head>\n<body><header>" +
         (shared ? "Zimbrel ringtone" : "<a href=\"/\">Zimbrel ringtones</a>") +
         "</header>\n<main>" + body + "</main><footer>" +
         (shared ? "Shared from a computer on your network with Zimbrel."
                 : "Zimbrel demo service: ringtones stay on this computer.") +
         "</footer></body></html>\n";
}

std::string When(int64_t t) {
  time_t tt = static_cast<time_t>(t);
  struct tm tmv;
  localtime_r(&tt, &tmv);
  char buf[64];
  strftime(buf, sizeof buf, "%d %b %Y, %H:%M", &tmv);
  return buf;
}

std::string Size(uint64_t bytes) {
  char buf[32];
  if (bytes < 1024)
    std::snprintf(buf, sizeof buf, "%llu bytes", static_cast<unsigned long long>(bytes));
  else if (bytes < 1024 * 1024)
    std::snprintf(buf, sizeof buf, "%.1f KB", bytes / 1024.0);
  else
    std::snprintf(buf, sizeof buf, "%.1f MB", bytes / (1024.0 * 1024.0));
  return buf;
}

}  // namespace

std::string HtmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string WherePage(const std::string& where) {
  if (where.empty() || where == "homepage") {
    return Frame("Zimbrel ringtones",
                 "<h1>Your songs, on your phone</h1><div class=\"card\">"
                 "<p>Pick a song in Zimbrel, shape it into a ringtone and send it here. "
                 "Each ringtone is delivered to the phone number in your profile.</p>"
                 "<form action=\"/redir.php\"><input type=\"hidden\" name=\"ver\" value=\"260\">"
                 "<input type=\"hidden\" name=\"aff\" value=\"2\">"
                 "<label>See the ringtones of phone number "
                 "<input name=\"phone\" inputmode=\"tel\" required></label> "
                 "<button name=\"where\" value=\"phone\">Show</button></form></div>");
  }
  return Frame("Zimbrel: " + where, "<h1>" + HtmlEscape(where) +
                                        "</h1><div class=\"card\"><p>This page of the demo "
                                        "service has no content yet.</p>"
                                        "<p><a href=\"/\">Go to the home page</a></p></div>");
}

std::string PhonePage(const std::string& digits, const std::vector<Delivery>& deliveries) {
  std::string body = "<h1>Ringtones for " + HtmlEscape(digits) + "</h1>";
  if (deliveries.empty())
    body += "<p class=\"empty\">No ringtones have been delivered to this number yet.</p>";
  int n = static_cast<int>(deliveries.size());
  for (const Delivery& d : deliveries) {
    std::string src = "/phone/" + digits + "/" + d.file;
    body += "<div class=\"card\"><div class=\"meta\">Ringtone " + std::to_string(n--) +
            " &middot; " + When(d.time) + " &middot; " + Size(d.size) +
            "</div><audio controls preload=\"none\" src=\"" + HtmlEscape(src) +
            "\"></audio><div><a href=\"" + HtmlEscape(src) + "\" download>Download</a></div></div>";
  }
  return Frame("Ringtones for " + digits, body);
}

std::string SharePage(const std::string& base, bool iphone, int port) {
  const std::string b = HtmlEscape(base);
  std::string body =
      "<h1>Your ringtone</h1><div class=\"card\"><p><a class=\"get\" href=\"" + b +
      "/ringtone.mp3\" download=\"Ringtone.mp3\">Android (MP3)</a></p>"
      "<p>Open the downloaded file, or go to Settings &rsaquo; Sound &rsaquo; Phone ringtone, "
      "choose the file from Downloads (on some phones under &ldquo;My sounds&rdquo; or "
      "with the &ldquo;+&rdquo; button).</p></div>";
  if (iphone)
    body += "<div class=\"card\"><p><a class=\"get\" href=\"" + b +
            "/ringtone.m4r\" download=\"Ringtone.m4r\">iPhone (M4R)</a></p>"
            "<p>Save it to Files, then open GarageBand: import the file in a new project, "
            "tap Share &rsaquo; Ringtone, then choose it in Settings &rsaquo; Sounds &amp; "
            "Haptics &rsaquo; Ringtone. On a computer, drag it onto the iPhone in Finder or "
            "iTunes.</p></div>";
  body +=
      "<div class=\"card\"><p class=\"meta\">The phone must be on the same Wi-Fi as the "
      "computer (not a guest network, and not on mobile data). If the link will not open, "
      "check the Wi-Fi, or allow TCP port " +
      std::to_string(port) +
      " in the computer's firewall. The link works for a short while only; send the ringtone "
      "again for a new one.</p></div>";
  return Frame("Your ringtone", body, true);
}

std::string MessagePage(const std::string& title, const std::string& text) {
  return Frame(title, "<h1>" + HtmlEscape(title) + "</h1><div class=\"card\"><p>" +
                          HtmlEscape(text) + "</p></div>");
}

}  // namespace zb::service
