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
  ok.addEventListener("click", function () {
    ZB.call(ZB.member.CloseWindow, []);
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
