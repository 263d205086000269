// The pages load their work files as tmp/<name> beside themselves, as if
// res/tmp were theirs to write; the web process extension sends those loads
// to the user's work folder. A file left in the module directory's res/tmp is
// never what a page gets.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/app_harness.h"

namespace zb::testing {
namespace {

namespace fs = std::filesystem;

TEST(WorkFolder, ThePagesTmpLoadsReadTheUsersWorkFolder) {
  AppHarness app;
  fs::create_directories(app.workDir());
  std::ofstream(app.workDir() + "/note #1.txt") << "from the work folder";
  app.WriteFile("res/tmp/note #1.txt", "from beside the program");
  app.WriteFile("res/tmp/only-here.txt", "from beside the program");
  // The same XHR the start page makes to read the ringtone's facts.
  app.WritePage("selectSong.html", R"(<!doctype html><script>
function read(url, done) {
  var xhr = new XMLHttpRequest();
  xhr.open('GET', url, true);
  xhr.onload = function () { done(xhr.responseText); };
  xhr.onerror = function () { done('error'); };
  xhr.send();
}
read('tmp/' + encodeURIComponent('note #1.txt'), function (a) {
  read('tmp/only-here.txt', function (b) {
    read('aboutBox.html', function (c) {
      window.external.ZBL_SetZBName(a + '|' + b + '|' + (c.indexOf('<') >= 0 ? 'page' : c));
    });
  });
});
</script>)");
  app.Start();
  EXPECT_TRUE(app.WaitForValue("ZBName", "from the work folder|error|page", 30000))
      << app.Value("ZBName") << "\n"
      << app.Output();
}

}  // namespace
}  // namespace zb::testing
