/*
 * The start page: choose a song (a file or a CD track), make the ringtone
 * (transcode, then even out the loudness), confirm the profile, send it.
 * The flow and its state are flow.js; each step is a file of steps/. This
 * file starts them, each with the steps it hands over to (a step reaches no
 * other one by itself): the keys and drops the whole page shares, and the
 * song the program was started with.
 */
"use strict";

(function () {
  var flow = ZB.flow;
  var steps = ZB.steps;

  if (!ZB.host) {
    ZB.showNoHost(document.body, ZB.t("The start page"));
    return;
  }

  flow.report("language " + document.documentElement.lang + " title=" + document.title);
  steps.song.init({making: steps.making});
  steps.choosing.init({making: steps.making, song: steps.song});
  steps.making.init({song: steps.song, choosing: steps.choosing, profile: steps.profile});
  steps.profile.init({sending: steps.sending});
  steps.sending.init({profile: steps.profile, done: steps.done});
  steps.done.init({song: steps.song});

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
    steps.song.startOver();
    if (!path) {
      flow.state.songError =
        ZB.t("Drop an audio file from your file manager, or use \u201cChoose a file\u2026\u201d.");
      flow.render();
      return;
    }
    steps.song.setSong(ZB.fileSong(path));
    flow.render("makeRingtone");
  });

  ZB.wireMemberButtons(document);

  // The file the program was started with (from the file manager or the
  // command line). Reading it empties it.
  var given = String(ZB.prop(ZB.member.clFileName, "") || "");
  if (given) {
    steps.song.setSong(ZB.fileSong(given));
    flow.show("viewSong", "makeRingtone");
  } else {
    flow.show("viewSong", "chooseFile");
  }
})();
