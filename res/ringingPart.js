/*
 * The part of the song that rings: what the page shows of it and how keys
 * move it. Pure helpers (no document), used by steps/choosing.js.
 * Needs helpers.js.
 */
/* exported ZB */
"use strict";

var ZB = window.ZB || {};

ZB.part = (function () {
  // The lengths offered, in ms; 0 is the whole song.
  var PRESETS = [15000, 20000, 30000, 40000, 0];
  var DEFAULT_PRESET = 30000;
  var FADE_IN_MS = 500;
  var FADE_OUT_MS = 1500;

  function clock(ms) {
    return ZB.formatDuration(Math.round(ms / 1000));
  }

  // "0:42–1:12, 30 s"
  function text(startMs, lengthMs) {
    return clock(startMs) + "\u2013" + clock(startMs + lengthMs) + ", " + Math.round(lengthMs / 1000) + " s";
  }

  // What a screen reader says of the part: "0:42 to 1:12, 30 seconds".
  function speech(startMs, lengthMs) {
    var s = Math.round(lengthMs / 1000);
    var span = {from: clock(startMs), to: clock(startMs + lengthMs), n: s};
    return s === 1 ? ZB.t("{from} to {to}, 1 second", span) : ZB.t("{from} to {to}, {n} seconds", span);
  }

  // The analysis the program gives (ZBL_anResult), or null when it is none.
  function parse(json) {
    var a;
    try {
      a = JSON.parse(String(json));
    } catch (e) {
      return null;
    }
    if (!a || !(a.lengthMs > 0) || !Array.isArray(a.peaks) || !a.loudest) {
      return null;
    }
    return a;
  }

  // The part a preset gives: the loudest stretch of that length, or the whole
  // song when it is no longer (or the preset is the whole song). `picked`
  // says whether it is the loudest stretch.
  function forPreset(analysis, preset) {
    var song = analysis.lengthMs;
    if (!preset || song <= preset) {
      return {start: 0, length: song, picked: false};
    }
    var start = Number(analysis.loudest[String(preset)]);
    if (!(start >= 0)) {
      start = 0;
    }
    return {start: Math.min(start, song - preset), length: preset, picked: true};
  }

  // The start after a key: arrows move by a second (five with Shift, and
  // Page Up and Page Down), Home and End go to the song's start and end; null
  // for other keys. The part
  // stays inside the song.
  function move(startMs, lengthMs, songMs, key, shift) {
    var step = shift ? 5000 : 1000;
    var last = Math.max(0, songMs - lengthMs);
    var to;
    if (key === "ArrowLeft" || key === "ArrowDown") {
      to = startMs - step;
    } else if (key === "ArrowRight" || key === "ArrowUp") {
      to = startMs + step;
    } else if (key === "PageDown") {
      to = startMs - 5000;
    } else if (key === "PageUp") {
      to = startMs + 5000;
    } else if (key === "Home") {
      to = 0;
    } else if (key === "End") {
      to = last;
    } else {
      return null;
    }
    return Math.max(0, Math.min(last, to));
  }

  // The start for a part centred where the pointer is (a fraction of the song).
  function startAt(fraction, lengthMs, songMs) {
    var centre = Math.max(0, Math.min(1, fraction)) * songMs;
    var start = Math.round((centre - lengthMs / 2) / 1000) * 1000;
    return Math.max(0, Math.min(Math.max(0, songMs - lengthMs), start));
  }

  // The waveform in `n` columns: the largest peak (0..1) of each.
  function columns(peaks, n) {
    var out = [];
    for (var c = 0; c < n; c++) {
      var from = Math.floor((c * peaks.length) / n);
      var to = Math.max(from + 1, Math.floor(((c + 1) * peaks.length) / n));
      var top = 0;
      for (var i = from; i < to && i < peaks.length; i++) {
        top = Math.max(top, peaks[i]);
      }
      out.push(top / 255);
    }
    return out;
  }

  // The fades a transcode gets for the part, in ms.
  function fades(part, fadeIn, fadeOut) {
    return {
      fadeIn: fadeIn ? Math.min(FADE_IN_MS, part.length) : 0,
      fadeOut: fadeOut ? Math.min(FADE_OUT_MS, part.length) : 0
    };
  }

  // The loudness (0..1) at `t` ms into the part: the fades as a ramp.
  function gain(t, length, f) {
    var g = 1;
    if (f.fadeIn > 0 && t < f.fadeIn) {
      g = Math.min(g, t / f.fadeIn);
    }
    if (f.fadeOut > 0 && t > length - f.fadeOut) {
      g = Math.min(g, (length - t) / f.fadeOut);
    }
    return Math.max(0, Math.min(1, g));
  }

  // ---------- The preview's samples ----------

  function tagAt(bytes, at) {
    return String.fromCharCode(bytes[at], bytes[at + 1], bytes[at + 2], bytes[at + 3]);
  }

  // Where a PCM WAV file's samples are and how they are laid out, read from
  // its first bytes (a Uint8Array): {dataStart, dataSize, channels, rate,
  // bits, blockAlign}, or null for anything else, a header cut short included.
  function wavLayout(bytes) {
    if (!bytes || bytes.length < 12 || tagAt(bytes, 0) !== "RIFF" || tagAt(bytes, 8) !== "WAVE") {
      return null;
    }
    var view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
    var fmt = null;
    var at = 12;
    while (at + 8 <= bytes.length) {
      var id = tagAt(bytes, at);
      var size = view.getUint32(at + 4, true);
      if (id === "fmt ") {
        if (size < 16 || at + 24 > bytes.length) {
          return null;
        }
        fmt = {
          format: view.getUint16(at + 8, true),
          channels: view.getUint16(at + 10, true),
          rate: view.getUint32(at + 12, true),
          blockAlign: view.getUint16(at + 20, true),
          bits: view.getUint16(at + 22, true)
        };
      } else if (id === "data") {
        // 1 is plain PCM; 0xFFFE (extensible) is PCM too, as ffmpeg writes it.
        if (!fmt || (fmt.format !== 1 && fmt.format !== 0xfffe) || !fmt.channels || !fmt.rate ||
            !fmt.blockAlign) {
          return null;
        }
        return {
          dataStart: at + 8,
          dataSize: size,
          channels: fmt.channels,
          rate: fmt.rate,
          bits: fmt.bits,
          blockAlign: fmt.blockAlign
        };
      }
      at += 8 + size + (size & 1);
    }
    return null;
  }

  // The bytes of the file holding the samples from `startMs` for `lengthMs`:
  // {first, end} (end excluded), whole frames inside the samples.
  function wavRange(layout, startMs, lengthMs) {
    var frames = Math.floor(layout.dataSize / layout.blockAlign);
    var frameAt = function (ms) {
      return Math.max(0, Math.min(frames, Math.floor((ms * layout.rate) / 1000)));
    };
    var a = frameAt(startMs);
    var b = Math.max(a, frameAt(startMs + lengthMs));
    return {first: layout.dataStart + a * layout.blockAlign, end: layout.dataStart + b * layout.blockAlign};
  }

  // The 44-byte head of a WAV file of `size` bytes of samples laid out as
  // `layout`'s.
  function wavHead(layout, size) {
    var head = new Uint8Array(44);
    var view = new DataView(head.buffer);
    var put = function (at, tag) {
      for (var i = 0; i < 4; i++) {
        head[at + i] = tag.charCodeAt(i);
      }
    };
    put(0, "RIFF");
    view.setUint32(4, 36 + size, true);
    put(8, "WAVE");
    put(12, "fmt ");
    view.setUint32(16, 16, true);
    view.setUint16(20, 1, true);
    view.setUint16(22, layout.channels, true);
    view.setUint32(24, layout.rate, true);
    view.setUint32(28, layout.rate * layout.blockAlign, true);
    view.setUint16(32, layout.blockAlign, true);
    view.setUint16(34, layout.bits, true);
    put(36, "data");
    view.setUint32(40, size, true);
    return head;
  }

  return {
    PRESETS: PRESETS,
    DEFAULT_PRESET: DEFAULT_PRESET,
    text: text,
    speech: speech,
    parse: parse,
    forPreset: forPreset,
    move: move,
    startAt: startAt,
    columns: columns,
    fades: fades,
    gain: gain,
    wavLayout: wavLayout,
    wavRange: wavRange,
    wavHead: wavHead
  };
})();
