/*
 * Step 1, the song: an audio file (chosen, dropped or given on the command
 * line) or a track of an audio CD, which is copied into a WAV work file
 * before the ringtone is made from it.
 * Needs flow.js.
 */
/* exported ZB */
"use strict";

var ZB = window.ZB || {};

ZB.steps.song = (function (flow, S) {
  var state = flow.state;
  var cd = state.cd;
  var $ = flow.$;

  // The steps this one hands over to ({making}), given to init().
  var next = null;

  // ---------- Actions ----------

  function setSong(song) {
    state.song = song;
    state.ringtone = null;
    state.songError = "";
  }

  // Back to the choice of a song, with nothing chosen.
  function startOver() {
    flow.stopJob();
    next.making.forgetRingtone();
    state.song = null;
    state.songError = "";
    flow.show("viewSong", "chooseFile");
  }

  function chooseFile() {
    var path = ZB.call(ZB.member.SelectMediaFile, [], "");
    if (path) {
      setSong(ZB.fileSong(path));
      flow.render("makeRingtone");
    }
  }

  function chooseCd() {
    cd.grab = null;
    flow.show("viewCd", "cdDrive");
    listDrives();
    flow.render();
  }

  // Lists the drives and the tracks of the one chosen (kept when it is
  // still there).
  function listDrives() {
    var list = ZB.cdList(ZB.call(ZB.member.GetDrivesInfo, [], "ERROR: No drives found"));
    cd.drives = list.items;
    if (list.error) {
      cd.drive = 0;
      cd.tracks = [];
      cd.track = -1;
      cd.error = list.error;
      return;
    }
    if (cd.drive >= cd.drives.length) {
      cd.drive = 0;
    }
    listTracks();
  }

  // Lists the tracks of the chosen drive, the first audio track chosen.
  function listTracks() {
    var list = ZB.cdList(ZB.call(ZB.member.GetTracksInfo, [cd.drive], "ERROR: Could not get handle to CD"));
    cd.error = list.error || "";
    cd.tracks = list.items;
    cd.track = -1;
    for (var k = 0; k < cd.tracks.length; k += 1) {
      if (!ZB.isDataTrack(cd.tracks[k])) {
        cd.track = k;
        break;
      }
    }
  }

  // Copies track `track` (from 0) of drive `drive`, then makes the ringtone
  // from it.
  function startGrab(drive, track) {
    var wav = flow.workFile("cd-track", ".wav");
    cd.error = "";
    cd.track = track;
    var where = ZB.driveName(cd.drives[drive], drive);
    var started = flow.job(
      ZB.member.GrabAudioDataFromCD, [String(drive), String(track), wav], ZB.member.ripStatus, S.grab.READ_FAILED,
      function (status) {
        if (status >= 0 && status < S.grab.DONE) {
          cd.grab.percent = status;
          flow.render();
          return false;
        }
        var cancelled = state.job.cancelled;
        cd.grab = null;
        if (status === S.grab.DONE && !cancelled) {
          setSong(ZB.cdSong(drive, where, track, wav));
          next.making.start();
          return true;
        }
        cd.error = ZB.grabMessage(cancelled ? S.grab.CANCELLED : status);
        flow.report("grab " + (cancelled ? "cancelled" : "failed " + status));
        flow.render("cdUse");
        return true;
      }
    );
    if (started) {
      cd.grab = {track: track, percent: 0};
      flow.render("cdCancel");
    } else {
      cd.error = ZB.messages.grabNotStarted;
      flow.render();
    }
  }

  // ---------- Drawing ----------

  function drawSong() {
    var song = state.song;
    flow.shown("songChosen", !!song);
    flow.text("songName", song ? song.name : "");
    flow.text("songWhere", song ? song.where : "");
    flow.text("songErrorText", state.songError);
    flow.shown("songError", !!state.songError);
    flow.enabled("makeRingtone", !!song);
    flow.text("songHint", song ? ZB.t("Ready when you are.") : ZB.t("Choose a song to begin."));
  }

  var listed = {drives: null, tracks: null}; // what the lists were built from

  function buildDrives() {
    var select = $("cdDrive");
    select.textContent = "";
    if (cd.drives && cd.drives.length === 0) {
      var none = document.createElement("option");
      none.textContent = ZB.t("No CD drive");
      select.appendChild(none);
    }
    (cd.drives || []).forEach(function (name, index) {
      var opt = document.createElement("option");
      opt.value = String(index);
      opt.textContent = ZB.driveName(name, index);
      select.appendChild(opt);
    });
    listed.drives = cd.drives;
  }

  function buildTracks() {
    var list = $("cdTracks");
    list.textContent = "";
    cd.tracks.forEach(function (item, index) {
      var li = document.createElement("li");
      var label = document.createElement("label");
      var radio = document.createElement("input");
      radio.type = "radio";
      radio.name = "track";
      radio.value = String(index);
      var name = document.createElement("span");
      name.className = "track-name";
      name.textContent = ZB.t("Track {n}", {n: index + 1});
      var length = document.createElement("span");
      length.className = "track-length";
      length.textContent = ZB.trackLength(item);
      if (ZB.isDataTrack(item)) {
        li.className = "data";
      }
      radio.addEventListener("change", function () {
        cd.track = index;
        flow.render();
      });
      label.appendChild(radio);
      label.appendChild(name);
      label.appendChild(length);
      li.appendChild(label);
      list.appendChild(li);
    });
    listed.tracks = cd.tracks;
  }

  function drawCd() {
    var busy = cd.grab !== null;
    if (listed.drives !== cd.drives) {
      buildDrives();
    }
    if (listed.tracks !== cd.tracks) {
      buildTracks();
    }
    var select = $("cdDrive");
    if (cd.drives && cd.drives.length > 0 && select.value !== String(cd.drive)) {
      select.value = String(cd.drive);
    }
    flow.enabled("cdDrive", !busy && !(cd.drives && cd.drives.length === 0));
    var radios = document.querySelectorAll("#cdTracks input");
    Array.prototype.forEach.call(radios, function (r, index) {
      var on = index === cd.track;
      if (r.checked !== on) {
        r.checked = on;
      }
      var usable = !busy && !ZB.isDataTrack(cd.tracks[index]);
      if (r.disabled !== !usable) {
        r.disabled = !usable;
      }
    });
    flow.shown("cdTracksBox", cd.tracks.length > 0);
    flow.text("cdErrorText", cd.error);
    flow.shown("cdError", !!cd.error);
    flow.shown("cdProgress", busy);
    if (busy) {
      flow.text("cdProgressText", ZB.t("Copying track {n} from the CD\u2026", {n: cd.grab.track + 1}));
      flow.progress("cdBar", "cdPct", cd.grab.percent);
    }
    flow.enabled("cdRefresh", !busy);
    flow.enabled("cdBack", !busy);
    flow.enabled("cdUse", !busy && cd.track >= 0);
    flow.cancelButton("cdCancel", busy);
  }

  flow.view("viewSong", drawSong);
  flow.view("viewCd", drawCd);

  // ---------- Controls ----------

  function init(handsOverTo) {
    next = handsOverTo;
    $("chooseFile").addEventListener("click", function () {
      ZB.later(chooseFile);
    });
    $("chooseCd").addEventListener("click", chooseCd);
    $("makeRingtone").addEventListener("click", function () {
      if (state.song) {
        next.making.start();
      }
    });
    $("cdDrive").addEventListener("change", function () {
      cd.drive = Number($("cdDrive").value) || 0;
      listTracks();
      flow.render();
    });
    $("cdRefresh").addEventListener("click", function () {
      listDrives();
      flow.render();
    });
    $("cdBack").addEventListener("click", function () {
      flow.show("viewSong", state.song ? "makeRingtone" : "chooseCd");
    });
    $("cdCancel").addEventListener("click", flow.cancel);
    $("cdUse").addEventListener("click", function () {
      if (cd.track >= 0) {
        startGrab(cd.drive, cd.track);
      }
    });
  }

  return {
    init: init,
    setSong: setSong,
    startOver: startOver,
    listDrives: listDrives,
    startGrab: startGrab
  };
})(ZB.flow, ZB.status);
