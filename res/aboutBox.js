/* The About box: the program's version and the version code it reports. */
"use strict";

(function () {
  if (!ZB.host) {
    ZB.showNoHost(document.body, ZB.t("The About box"));
    return;
  }
  document.getElementById("versionCode").textContent = String(
    ZB.call(ZB.member.GetVersion, [], ZB.status.versionCode)
  );
  var ok = document.getElementById("ok");
  // The press is answered before the window closes (ZB.later): a screen
  // reader's action that closed its own window would otherwise never be.
  ok.addEventListener("click", function () {
    ZB.later(function () {
      ZB.call(ZB.member.CloseWindow, []);
    });
  });
  document.addEventListener("keydown", function (e) {
    if (e.key === "Enter" && document.activeElement !== ok) {
      e.preventDefault();
      ok.click();
    }
  });
  ZB.guardDragAndDrop(null);
  ok.focus();
})();
