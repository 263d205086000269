/*
 * The start page: choose a song (a file or a CD track), make the ringtone
 * (transcode, then even out the loudness), confirm the profile, send it.
 * The flow and its state are flow.js; each step is a file of steps/. This
 * file starts them: the keys and drops the whole page shares, and the song
 * the program was started with.
 */
"use strict";

(function () {
  var flow = ZB.flow;

  if (!ZB.host) {
    ZB.showNoHost(document.body, "The start page");
    return;
  }

  ["song", "making", "profile", "sending", "done"].forEach(function (name) {
    ZB.steps[name].init();
  });

  // Esc cancels the running job.
  document.addEventListener("keydown", function (e) {
    if (e.key === "Escape" && flow.busy()) {
      e.preventDefault();
      flow.cancel();
    }
  });

  // A file dropped on the page is the song, unless a job runs.
  ZB.guardDragAndDrop(function (path) {
    if (flow.busy()) {
      return;
    }
    ZB.steps.song.startOver();
    if (!path) {
      flow.state.songError =
        "Drop an audio file from your file manager, or use \u201cChoose a file\u2026\u201d.";
      flow.render();
      return;
    }
    ZB.steps.song.setSong(ZB.fileSong(path));
    flow.render("makeRingtone");
  });

  ZB.wireMemberButtons(document);

  // The file the program was started with (from the file manager or the
  // command line). Reading it empties it.
  var given = String(ZB.prop(ZB.member.clFileName, "") || "");
  if (given) {
    ZB.steps.song.setSong(ZB.fileSong(given));
    flow.show("viewSong", "makeRingtone");
  } else {
    flow.show("viewSong", "chooseFile");
  }
})();
