// The real pages in the real program: every control shows where the keyboard
// focus is, with a ring at least 2 px wide whose colour has a contrast of at
// least 3:1 against what it is drawn on (WCAG 2.2, focus appearance). Each
// page is shown as the start page with a checking script added; the start
// page's views are shown one after the other with all their controls.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/app_harness.h"

namespace zb::testing {
namespace {

// The checking script, added to the page as a file of its own (the pages
// allow only their own scripts).
const char kCheck[] = R"(
addEventListener('load', function () { setTimeout(function () {
  function rgba(text) {
    var m = /rgba?\(([^)]*)\)/.exec(text || '');
    if (!m) return null;
    var p = m[1].split(',').map(parseFloat);
    return {r: p[0], g: p[1], b: p[2], a: p.length > 3 ? p[3] : 1};
  }
  function lum(c) {
    function ch(v) { v /= 255; return v <= 0.03928 ? v / 12.92 : Math.pow((v + 0.055) / 1.055, 2.4); }
    return 0.2126 * ch(c.r) + 0.7152 * ch(c.g) + 0.0722 * ch(c.b);
  }
  // The opaque colour behind an element: its own or an ancestor's background.
  function behind(el) {
    for (; el; el = el.parentElement) {
      var c = rgba(getComputedStyle(el).backgroundColor);
      if (c && c.a > 0.5) return c;
    }
    return {r: 255, g: 255, b: 255, a: 1};
  }
  function contrast(a, b) {
    var x = lum(a), y = lum(b);
    return (Math.max(x, y) + 0.05) / (Math.min(x, y) + 0.05);
  }
  var views = Array.prototype.slice.call(document.querySelectorAll('#views > .view'));
  var groups = views.length ? views : [document.body];
  var bad = [], count = 0;
  groups.forEach(function (g) {
    views.forEach(function (v) { v.hidden = v !== g; });
    Array.prototype.forEach.call(g.querySelectorAll('[hidden]'), function (h) { h.hidden = false; });
    var els = document.querySelectorAll(
        'button, input, select, textarea, a[href], summary, [tabindex]:not([tabindex="-1"])');
    Array.prototype.forEach.call(els, function (el) {
      el.disabled = false;
      if (!el.getClientRects().length) return;
      el.focus({focusVisible: true});
      if (document.activeElement !== el) return;
      var cs = getComputedStyle(el);
      var ring = rgba(cs.outlineColor);
      var inside = parseFloat(cs.outlineOffset) < 0;
      var ratio = ring ? contrast(ring, behind(inside ? el : el.parentElement)) : 0;
      var what = el.tagName.toLowerCase() + (el.id ? '#' + el.id : '') + ' "' +
          (el.textContent || el.value || '').trim().slice(0, 20) + '"';
      count++;
      if (!el.matches(':focus-visible') || cs.outlineStyle === 'none' ||
          parseFloat(cs.outlineWidth) < 2 || !ring || ring.a < 1 || ratio < 3)
        bad.push(what + ' ' + cs.outlineStyle + ' ' + cs.outlineWidth + ' ' + cs.outlineColor +
                 ' ' + ratio.toFixed(2));
    });
  });
  window.external.ZBL_SetZBName('checked ' + count + ' ' + JSON.stringify(bad));
}, 300); });
)";

void CheckPage(const std::string& page, int atLeast) {
  AppHarness app;
  std::ifstream in(app.ModuleDir() + "/res/" + page);
  std::stringstream html;
  html << in.rdbuf();
  std::string text = html.str();
  auto end = text.rfind("</body>");
  ASSERT_NE(end, std::string::npos) << page;
  text.insert(end, "<script src=\"focus-check.js\"></script>\n");
  app.WritePage("focus-check.js", kCheck);
  app.WritePage("selectSong.html", text);
  app.Start();
  ASSERT_TRUE(app.WaitUntil([&] { return app.Value("ZBName").rfind("checked ", 0) == 0; }, 30000))
      << page << app.Output();
  int count = 0;
  char bad[4096] = {0};
  std::sscanf(app.Value("ZBName").c_str(), "checked %d %4095[^\n]", &count, bad);
  EXPECT_GE(count, atLeast) << page;
  EXPECT_STREQ(bad, "[]") << page;
  app.WaitExit(0);  // ends it
}

TEST(Pages, EveryControlShowsAVisibleFocusRing) {
  CheckPage("selectSong.html", 30);
  CheckPage("aboutBox.html", 1);
  CheckPage("helpUsage.html", 4);
  CheckPage("helpContact.html", 4);
  CheckPage("helpCompatibility.html", 4);
}

}  // namespace
}  // namespace zb::testing
