// The pages load their work files as tmp/<name> beside themselves, as if
// res/tmp were theirs to write; the program's scheme serves those loads from
// the user's work folder, audio files only. A file left in the module
// directory's res/tmp is never what a page gets.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/app_harness.h"

namespace zb::testing {
namespace {

namespace fs = std::filesystem;

TEST(WorkFolder, ThePagesTmpLoadsReadTheUsersWorkFolder) {
  AppHarness app;
  fs::create_directories(app.WorkDir());
  std::ofstream(app.WorkDir() + "/ring #1.mp3") << "from the work folder";
  std::ofstream(app.WorkDir() + "/note.txt") << "not audio";
  std::ofstream(app.WorkDir() + "/page.html") << "<p>not audio</p>";
  app.WriteFile("res/tmp/ring #1.mp3", "from beside the program");
  app.WriteFile("res/tmp/only-here.mp3", "from beside the program");
  app.WriteFile("res/tmp/page.html", "<p>from beside the program</p>");
  // The same XHR the start page makes to read the ringtone's facts.
  app.WritePage("selectSong.html", R"(<!doctype html><script>
function read(url, done) {
  var xhr = new XMLHttpRequest();
  xhr.open('GET', url, true);
  xhr.onload = function () { done(xhr.responseText); };
  xhr.onerror = function () { done('error'); };
  xhr.send();
}
var names = [encodeURIComponent('ring #1.mp3'), 'only-here.mp3', 'note.txt', 'page.html'];
var got = [];
(function next() {
  if (!names.length) {
    read('aboutBox.html', function (c) {
      window.external.ZBL_SetZBName(got.join('|') + '|' + (c.indexOf('<') >= 0 ? 'page' : c));
    });
    return;
  }
  read('tmp/' + names.shift(), function (t) { got.push(t); next(); });
})();
</script>)");
  app.Start();
  EXPECT_TRUE(app.WaitForValue("ZBName", "from the work folder|error|error|error|page", 30000))
      << app.Value("ZBName") << "\n"
      << app.Output();
}

}  // namespace
}  // namespace zb::testing
