/*
 * Step 2, choosing the part that rings: the song is analysed (its length,
 * waveform and loudest stretches, and a preview to play), then its waveform
 * is drawn with the part marked. The part starts as the loudest stretch of
 * the length chosen; the mouse and the keys move it, and it can be heard
 * before the ringtone is made from it (steps/making.js).
 * Needs flow.js and ringingPart.js.
 */
/* exported ZB */
"use strict";

var ZB = window.ZB || {};

ZB.steps.choosing = (function (flow, S) {
  var state = flow.state;
  var $ = flow.$;
  var P = ZB.part;

  var part = (state.part = {
    end: "", // "" while the song is read, then "ready", "failed" or "cancelled"
    notice: "", // why it failed
    percent: 0, // of the analysis
    analysis: null, // what the program read of the song
    preview: "", // the preview's address (tmp/...)
    preset: P.DEFAULT_PRESET, // a length in ms; 0 is the whole song
    start: 0,
    length: 0,
    picked: false, // the part is the loudest stretch, as picked
    fadeIn: true,
    fadeOut: true
  });

  // The steps this one hands over to ({making, song}), given to init().
  var next = null;
  // The part being cut from the preview or played: {timer}; null when quiet.
  var playback = null;
  var pressedAt = null; // when "Play the part" was pressed, until it sounds
  // The preview's layout and the part's sound last cut from it (promises; the
  // sound is a data: address, which WebKit's player reads from memory). (A blob: address of the whole preview
  // could, after the player's seeks, hand it bytes of an earlier range, and
  // the preview then would not play.)
  var clip = {preview: "", layout: null, key: "", sound: null};
  var cutTimer = null; // the next part to cut ahead of a press

  // ---------- Actions ----------

  // Reads the song chosen, then shows its waveform.
  function start() {
    stopPreview();
    var song = state.song;
    var preview = flow.workFile("preview", ".wav");
    part.end = "";
    part.percent = 0;
    part.analysis = null;
    part.preview = "tmp/" + encodeURIComponent(ZB.baseName(preview));
    clip = {preview: part.preview, layout: null, key: "", sound: null};
    flow.show("viewPart", "partCancel");
    var started = flow.job(
      ZB.member.AnalyzeMedia, [song.path, preview], ZB.member.anStatus, S.analysis.FAILED,
      function (status) {
        if (status >= 0 && status < S.analysis.DONE) {
          part.percent = status;
          flow.render();
          return false;
        }
        var analysis = status === S.analysis.DONE ? P.parse(ZB.prop(ZB.member.anResult, "")) : null;
        if (state.job.cancelled) {
          part.end = "cancelled";
          flow.report("part cancelled");
          flow.render("partRetry");
        } else if (!analysis) {
          part.end = "failed";
          part.notice = status === S.analysis.CANNOT_WRITE
            ? ZB.transcodeMessage(S.transcode.CANNOT_WRITE)
            : ZB.t("Zimbrel could not read this song. Try again, or choose another song.");
          flow.report("part failed: " + part.notice);
          flow.render("partRetry");
        } else {
          part.analysis = analysis;
          part.end = "ready";
          choosePreset(part.preset);
          cutAhead(0);
          flow.render("partWave");
          // Told once the waveform has been painted (or a quarter of a second
          // on, when the window paints nothing).
          var told = false;
          var tell = function () {
            if (!told) {
              told = true;
              flow.report("part ready " + analysis.lengthMs + " " + describe());
            }
          };
          window.requestAnimationFrame(function () {
            window.requestAnimationFrame(tell);
          });
          setTimeout(tell, 250);
        }
        return true;
      }
    );
    if (!started) {
      part.end = "failed";
      part.notice = ZB.t("Zimbrel could not start reading the song. Try again, or choose another song.");
      flow.render("partRetry");
    }
  }

  function describe() {
    return part.start + "+" + part.length + " " + P.text(part.start, part.length);
  }

  function choosePreset(preset) {
    var p = P.forPreset(part.analysis, preset);
    part.preset = preset;
    part.start = p.start;
    part.length = p.length;
    part.picked = p.picked;
  }

  function moveTo(to) {
    if (to === null || to === part.start) {
      return;
    }
    stopPreview();
    part.start = to;
    part.picked = false;
    cutAhead(300);
    flow.report("part " + describe());
    flow.render();
  }

  // The part to make: its start and length, and its fades, in ms.
  function chosen() {
    var f = P.fades(part, part.fadeIn, part.fadeOut);
    return {start: part.start, length: part.length, fadeIn: f.fadeIn, fadeOut: f.fadeOut};
  }

  // Bytes [first, end) of the preview at `address`, read through the page's
  // scheme (which answers a range in pieces of at most 8 MiB); a promise of a
  // list of Uint8Arrays. `upTo`: what the file holds of them is enough.
  function readPreview(address, first, end, upTo) {
    var pieces = [];
    function from(at) {
      if (at >= end || (upTo && pieces.length)) {
        return Promise.resolve(pieces);
      }
      return window
        .fetch(address, {cache: "no-store", headers: {Range: "bytes=" + at + "-" + (end - 1)}})
        .then(function (r) {
          if (r.status !== 206) {
            throw new Error("the preview answered " + r.status);
          }
          return r.arrayBuffer();
        })
        .then(function (bytes) {
          if (bytes.byteLength === 0) {
            throw new Error("the preview ends early");
          }
          pieces.push(new Uint8Array(bytes));
          return from(at + bytes.byteLength);
        });
    }
    return from(first);
  }

  // A promise of the part's sound as a data: address. The preview's layout
  // and the last part's sound are kept as promises, so a press while the same
  // part is still being cut ahead waits for that cut instead of cutting again.
  function cutClip(c) {
    var key = c.start + "+" + c.length;
    var mine = clip;
    if (mine.key === key) {
      return mine.sound;
    }
    if (!mine.layout) {
      mine.layout = readPreview(mine.preview, 0, 65536, true).then(function (pieces) {
        var l = P.wavLayout(pieces[0]);
        if (!l) {
          throw new Error("the preview is no WAV file");
        }
        return l;
      });
    }
    var sound = mine.layout.then(function (l) {
      var range = P.wavRange(l, c.start, c.length);
      if (range.end <= range.first) {
        throw new Error("the preview holds nothing of the part");
      }
      return readPreview(mine.preview, range.first, range.end).then(function (pieces) {
        var wav = new Blob([P.wavHead(l, range.end - range.first)].concat(pieces), {type: "audio/wav"});
        return new Promise(function (resolve, reject) {
          var reader = new FileReader();
          reader.onload = function () {
            resolve(reader.result);
          };
          reader.onerror = function () {
            reject(reader.error);
          };
          reader.readAsDataURL(wav);
        });
      });
    });
    mine.key = key;
    mine.sound = sound;
    // A failed cut is not kept: the next press tries again (the layout too).
    sound.catch(function () {
      if (mine.sound === sound) {
        mine.key = "";
        mine.sound = null;
        mine.layout = null;
      }
    });
    return sound;
  }

  // Cuts the part `delay` ms from now, once it has stopped moving, and hands
  // it to the player, so that a press plays it at once.
  function cutAhead(delay) {
    clearTimeout(cutTimer);
    cutTimer = setTimeout(function () {
      if (!part.analysis) {
        return; // another song is being read
      }
      var c = chosen();
      cutClip(c).then(
        function (url) {
          var player = $("partPlayer");
          var now = chosen();
          if (!playback && now.start === c.start && now.length === c.length && player.src !== url) {
            player.src = url;
            player.load();
          }
        },
        function (e) {
          flow.report("part not cut ahead: " + e);
        }
      );
    }, delay);
  }

  // Plays the part, with its fades as a volume ramp; pressed again, stops.
  function playPreview() {
    if (playback) {
      stopPreview();
      flow.render();
      return;
    }
    var c = chosen();
    var mine = (playback = {timer: null});
    var failed = function (e) {
      flow.report("part player: " + e);
      if (playback === mine) {
        stopPreview();
        flow.render();
      }
    };
    pressedAt = window.performance ? window.performance.now() : 0;
    cutClip(c).then(function (url) {
      if (playback !== mine) {
        return; // stopped, or the part moved, while it was cut
      }
      var player = $("partPlayer");
      if (player.src !== url) {
        player.src = url;
      }
      player.currentTime = 0;
      player.volume = P.gain(0, c.length, c);
      var played = player.play();
      if (played && played.catch) {
        played.catch(failed);
      }
      mine.timer = setInterval(function () {
        var t = player.currentTime * 1000;
        if (t >= c.length || player.ended) {
          stopPreview();
          flow.render();
          return;
        }
        player.volume = P.gain(Math.max(0, t), c.length, c);
      }, 40);
    }, failed);
    flow.report("part playing " + describe());
    flow.render();
  }

  function stopPreview() {
    if (playback) {
      clearInterval(playback.timer);
      playback = null;
    }
    var player = $("partPlayer");
    if (player && !player.paused) {
      player.pause();
    }
  }

  function make() {
    stopPreview();
    var c = chosen();
    flow.report("make part " + c.start + " " + c.length + " " + c.fadeIn + " " + c.fadeOut);
    next.making.makePart(c);
  }

  // ---------- Drawing ----------

  function drawWave() {
    var canvas = $("partCanvas");
    var a = part.analysis;
    var w = canvas.width;
    var h = canvas.height;
    var g = canvas.getContext("2d");
    g.clearRect(0, 0, w, h);
    if (!a) {
      return;
    }
    var x0 = (part.start / a.lengthMs) * w;
    var x1 = ((part.start + part.length) / a.lengthMs) * w;
    g.fillStyle = "rgba(47, 111, 222, 0.16)";
    g.fillRect(x0, 0, Math.max(2, x1 - x0), h);
    var cols = P.columns(a.peaks, w / 2);
    for (var i = 0; i < cols.length; i++) {
      var x = i * 2;
      var inside = x >= x0 && x < x1;
      var bar = Math.max(1, cols[i] * (h - 8));
      g.fillStyle = inside ? "#2f6fde" : "#9aa3ae";
      g.fillRect(x, (h - bar) / 2, 1.5, bar);
    }
    g.fillStyle = "#1d4fae";
    g.fillRect(x0, 0, 2, h);
    g.fillRect(Math.max(x0, x1 - 2), 0, 2, h);
    // The fades, as ramps along the top of the part.
    var f = P.fades(part, part.fadeIn, part.fadeOut);
    var perMs = (x1 - x0) / Math.max(1, part.length);
    g.strokeStyle = "rgba(29, 79, 174, 0.6)";
    g.lineWidth = 1;
    g.beginPath();
    g.moveTo(x0, f.fadeIn > 0 ? h - 2 : 2);
    g.lineTo(x0 + f.fadeIn * perMs, 2);
    g.lineTo(x1 - f.fadeOut * perMs, 2);
    g.lineTo(x1, f.fadeOut > 0 ? h - 2 : 2);
    g.stroke();
  }

  function drawPart() {
    var song = state.song;
    flow.text("partSong", song ? song.name + (song.where ? " \u2013 " + song.where : "") : "");
    var ready = part.end === "ready";
    flow.shown("partLoading", part.end === "");
    flow.progress("partBar", "partPct", part.percent > 0 ? part.percent : null);
    flow.shown("partBox", ready);
    var notice = part.end === "failed"
      ? part.notice
      : part.end === "cancelled"
        ? ZB.t("You cancelled reading the song. Try again, or choose another song.")
        : "";
    flow.classes("partError", "notice " + (part.end === "cancelled" ? "notice-warning" : "notice-error"));
    flow.text("partErrorText", notice);
    flow.shown("partError", !!notice);
    flow.cancelButton("partCancel", part.end === "");
    flow.shown("partRetry", part.end === "failed" || part.end === "cancelled");
    flow.shown("partMake", ready);
    if (!ready) {
      drawWave();
      return;
    }
    var a = part.analysis;
    var wave = $("partWave");
    var values = {
      "aria-valuemin": "0",
      "aria-valuemax": String(Math.round(Math.max(0, a.lengthMs - part.length) / 1000)),
      "aria-valuenow": String(Math.round(part.start / 1000)),
      "aria-valuetext": P.speech(part.start, part.length)
    };
    Object.keys(values).forEach(function (k) {
      if (wave.getAttribute(k) !== values[k]) {
        wave.setAttribute(k, values[k]);
      }
    });
    flow.text("partTimes", P.text(part.start, part.length));
    var whole = part.start === 0 && part.length === a.lengthMs;
    flow.text(
      "partNoteText",
      part.picked
        ? ZB.t("Zimbrel picked the loudest {n} seconds of the song for you.", {n: Math.round(part.length / 1000)})
        : whole
          ? ZB.t("The whole song rings.")
          : ZB.t("Move the part with the mouse or the arrow keys.")
    );
    var select = $("partLength");
    if (select.value !== String(part.preset)) {
      select.value = String(part.preset);
    }
    $("partFadeIn").checked = part.fadeIn;
    $("partFadeOut").checked = part.fadeOut;
    flow.text("partPlay", playback ? ZB.t("Stop") : ZB.t("Play the part"));
    drawWave();
  }

  flow.view("viewPart", drawPart, stopPreview);

  // ---------- Controls ----------

  function init(handsOverTo) {
    next = handsOverTo;
    var wave = $("partWave");
    wave.addEventListener("keydown", function (e) {
      if (e.key === "Enter") {
        e.preventDefault();
        make();
        return;
      }
      if (!part.analysis) {
        return;
      }
      var to = P.move(part.start, part.length, part.analysis.lengthMs, e.key, e.shiftKey);
      if (to !== null) {
        e.preventDefault();
        moveTo(to);
      }
    });
    var dragging = false;
    function pointAt(e) {
      var box = $("partCanvas").getBoundingClientRect();
      moveTo(P.startAt((e.clientX - box.left) / box.width, part.length, part.analysis.lengthMs));
    }
    wave.addEventListener("pointerdown", function (e) {
      if (!part.analysis) {
        return;
      }
      dragging = true;
      wave.focus();
      pointAt(e);
    });
    wave.addEventListener("pointermove", function (e) {
      if (dragging && part.analysis) {
        pointAt(e);
      }
    });
    ["pointerup", "pointercancel", "pointerleave"].forEach(function (name) {
      wave.addEventListener(name, function () {
        dragging = false;
      });
    });
    $("partLength").addEventListener("change", function () {
      stopPreview();
      choosePreset(Number($("partLength").value) || 0);
      cutAhead(300);
      flow.report("part " + describe());
      flow.render();
    });
    $("partFadeIn").addEventListener("change", function () {
      part.fadeIn = $("partFadeIn").checked;
      flow.render();
    });
    $("partFadeOut").addEventListener("change", function () {
      part.fadeOut = $("partFadeOut").checked;
      flow.render();
    });
    $("partPlay").addEventListener("click", playPreview);
    // How long the part took to sound, for whoever reads the console.
    $("partPlayer").addEventListener("playing", function () {
      if (pressedAt !== null && window.performance) {
        flow.report("part sounding after " + Math.round(window.performance.now() - pressedAt) + " ms");
      }
      pressedAt = null;
    });
    $("partPlayer").addEventListener("ended", function () {
      stopPreview();
      flow.render();
    });
    $("partCancel").addEventListener("click", flow.cancel);
    $("partRetry").addEventListener("click", start);
    $("partOther").addEventListener("click", function () {
      stopPreview();
      // The song no longer chosen is not read on.
      if (part.end === "" && flow.busy()) {
        flow.cancel();
      }
      next.song.startOver();
    });
    $("partMake").addEventListener("click", make);
  }

  return {
    init: init,
    start: start,
    chosen: chosen
  };
})(ZB.flow, ZB.status);
