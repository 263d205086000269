/*
 * Step 2, making the ringtone: the part of the song chosen
 * (steps/choosing.js) is converted to an MP3 work file,
 * whose loudness is then evened out; the ringtone is then shown with its
 * facts and can be played in the page.
 * Needs flow.js.
 */
/* exported ZB */
"use strict";

var ZB = window.ZB || {};

ZB.steps.making = (function (flow, S) {
  var state = flow.state;
  var make = state.make;
  var $ = flow.$;

  // The steps this one hands over to ({song, choosing, profile}), given to init().
  var next = null;
  // The part the ringtone is made of: {start, length, fadeIn, fadeOut} in ms.
  var part = null;

  // ---------- Actions ----------

  function failed(text) {
    make.end = "failed";
    make.notice = text;
    flow.report("make failed: " + text);
    flow.render(make.stage === "loudness" ? "makeAsIs" : "makeRetry");
  }

  function cancelled() {
    make.end = "cancelled";
    flow.report("make cancelled");
    flow.render("makeRetry");
  }

  // Chooses the part of the song chosen that rings, then makes the ringtone.
  function start() {
    next.choosing.start();
  }

  // Makes the ringtone from the part `chosen` of the song.
  function makePart(chosen) {
    part = chosen;
    var song = state.song;
    var out = flow.workFile("ringtone", ".mp3");
    make.stage = "convert";
    make.status = S.transcode.RUNNING;
    make.end = "";
    make.notice = "";
    flow.show("viewMake", "makeCancel");
    var started = flow.job(
      ZB.member.TranscodeMedia, [song.path, out, part.start, part.length, part.fadeIn, part.fadeOut],
      ZB.member.tsStatus, S.transcode.FAILED,
      function (status) {
        if (status === S.transcode.RUNNING) {
          return false;
        }
        if (status === S.transcode.DONE && !state.job.cancelled) {
          normalize(out);
        } else if (state.job.cancelled) {
          cancelled();
        } else {
          failed(ZB.transcodeMessage(status));
        }
        return true;
      }
    );
    if (!started) {
      failed(ZB.messages.transcodeNotStarted);
    }
  }

  function normalize(out) {
    // The song is in the ringtone now; a grabbed CD track was removed with
    // the other work files.
    state.ringtone = {
      path: out,
      url: "tmp/" + encodeURIComponent(ZB.baseName(out)),
      normalized: false,
      part: part,
      size: null,
      info: null
    };
    make.stage = "loudness";
    make.status = S.normalize.REMOVING;
    flow.render();
    var started = flow.job(
      ZB.member.NormalizeAudio, [out], ZB.member.norStatus, S.normalize.REMOVE_FAILED,
      function (status) {
        make.status = status;
        if (ZB.isNormalizing(status)) {
          flow.render();
          return false;
        }
        if (status === S.normalize.DONE) {
          state.ringtone.normalized = true;
          showReady();
        } else if (state.job.cancelled) {
          cancelled();
        } else {
          failed(ZB.normalizeMessage(status) + " " + ZB.t("You can use the ringtone as it is, or try again."));
        }
        return true;
      }
    );
    if (!started) {
      make.status = S.normalize.REMOVE_FAILED;
      failed(ZB.messages.normalizeNotStarted);
    }
  }

  function retry() {
    var song = state.song;
    if (song && song.kind === "cd") {
      // The copied track went with the work files: copy it again.
      flow.show("viewCd");
      next.song.listDrives();
      next.song.startGrab(song.cd.drive, song.cd.track);
    } else if (song) {
      makePart(part);
    }
  }

  // Shows the ringtone, reads its facts from the file and loads the player.
  function showReady() {
    var r = state.ringtone;
    r.size = null;
    r.info = null;
    var player = $("player");
    player.src = r.url;
    player.load();
    flow.show("viewReady", "readyNext");
    ZB.readFile(r.url, function (bytes) {
      if (state.ringtone !== r || !bytes) {
        return;
      }
      r.size = bytes.byteLength;
      r.info = ZB.mp3Info(bytes);
      flow.render();
      if (r.info) {
        flow.report("ringtone " + r.info.duration.toFixed(2) + " s, " + r.size + " bytes");
      }
      flow.report(
        "labels name=" + $("readyName").textContent + "|length=" + $("readyDuration").textContent +
          "|player=" + $("playerTime").textContent
      );
    });
  }

  // Stops the player and lets go of the ringtone (choosing another song).
  function forgetRingtone() {
    var player = $("player");
    player.pause();
    player.removeAttribute("src");
    player.load();
    state.ringtone = null;
    drawPlayer();
  }

  // ---------- Drawing ----------

  var STEPS = ["stConvert", "stLoud", "stNor1", "stNor2", "stNor3"];

  function drawMake() {
    var song = state.song;
    flow.text("makeSong", song ? song.name + (song.where ? " \u2013 " + song.where : "") : "");
    var marks = ZB.makeMarks(make.stage, make.status, make.end);
    STEPS.forEach(function (id) {
      flow.classes(id, marks[id] || "");
    });
    flow.shown("convertBarRow", marks.stConvert === "active");
    // The step under way, for screen readers (the marks only draw it).
    var under = STEPS.filter(function (id) {
      return marks[id] === "active";
    }).pop();
    flow.text("makeStatus", under ? $(under).textContent + "\u2026" : "");
    var notice = make.end === "failed"
      ? make.notice
      : make.end === "cancelled"
        ? ZB.t("You cancelled making the ringtone. Try again, or choose another song.")
        : "";
    flow.classes("makeError", "notice " + (make.end === "cancelled" ? "notice-warning" : "notice-error"));
    flow.text("makeErrorText", notice);
    flow.shown("makeError", !!notice);
    var running = make.end === "";
    flow.cancelButton("makeCancel", running);
    flow.shown("makeOther", !running);
    flow.shown("makeRetry", !running);
    flow.shown("makeAsIs", make.end === "failed" && make.stage === "loudness");
  }

  // The in-page player. Its total is the ringtone's length as the facts
  // show it: both come from the one duration read from the file's frames.
  function drawPlayer() {
    var audio = $("player");
    var r = state.ringtone;
    var total = r && r.info ? r.info.duration : null;
    var pos = audio.ended && total !== null ? total : audio.currentTime || 0;
    flow.text(
      "playerTime",
      ZB.formatDuration(pos) + " / " + (total !== null ? ZB.formatDuration(total) : "\u2013")
    );
    var seek = $("playerSeek");
    if (seek.max !== String(total || 0)) {
      seek.max = String(total || 0);
    }
    var at = String(Math.min(pos, total || 0));
    if (seek.value !== at) {
      seek.value = at;
    }
    flow.enabled("playerSeek", total !== null);
    flow.text("playerPlay", audio.paused || audio.ended ? ZB.t("Play") : ZB.t("Pause"));
  }

  function drawReady() {
    var r = state.ringtone;
    var info = r ? r.info : null;
    flow.text("readyName", state.song ? ZB.ringtoneName(state.song) : "");
    flow.text("readyDuration", info ? ZB.formatDuration(info.duration) : "\u2013");
    flow.text("readySize", r && r.size !== null ? ZB.formatSize(r.size) : "\u2013");
    flow.text("readyQuality", info ? ZB.mp3Quality(info) : "\u2013");
    var note = r && !r.normalized ? ZB.t("The loudness of this ringtone was not evened out.") : "";
    flow.text("readyNoteText", note);
    flow.shown("readyNote", !!note);
    drawPlayer();
  }

  flow.view("viewMake", drawMake);
  flow.view("viewReady", drawReady, function () {
    $("player").pause();
  });

  // ---------- Controls ----------

  function init(handsOverTo) {
    next = handsOverTo;
    $("makeCancel").addEventListener("click", flow.cancel);
    $("makeOther").addEventListener("click", function () {
      next.song.startOver();
    });
    $("makeAsIs").addEventListener("click", showReady);
    $("makeRetry").addEventListener("click", retry);
    $("readyOther").addEventListener("click", function () {
      next.song.startOver();
    });
    $("readyNext").addEventListener("click", function () {
      next.profile.show();
    });

    var audio = $("player");
    ["timeupdate", "play", "pause", "ended", "emptied", "loadedmetadata"].forEach(function (name) {
      audio.addEventListener(name, drawPlayer);
    });
    $("playerPlay").addEventListener("click", function () {
      if (audio.paused || audio.ended) {
        var played = audio.play();
        if (played && played.catch) {
          played.catch(function (e) {
            flow.report("player: " + e);
          });
        }
      } else {
        audio.pause();
      }
    });
    $("playerSeek").addEventListener("input", function () {
      audio.currentTime = Number($("playerSeek").value) || 0;
    });
  }

  return {
    init: init,
    start: start,
    makePart: makePart,
    forgetRingtone: forgetRingtone
  };
})(ZB.flow, ZB.status);
