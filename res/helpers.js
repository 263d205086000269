/*
 * The pages' pure helpers: paths, formatting, the facts of an MP3 file, the
 * sentences for the results of jobs and of the service, the checks of the
 * profile form, and the marks of the ringtone's making steps.
 *
 * Nothing here touches the document, the program or a timer, so Node loads
 * this file as it is (tests/pages/). Needs status.js.
 */
/* exported ZB */
"use strict";

var ZB = window.ZB || {};

(function (S) {
  // ---------- Paths ----------

  function baseName(path) {
    var s = String(path || "");
    var cut = s.lastIndexOf("/");
    return cut >= 0 ? s.substring(cut + 1) : s;
  }

  function dirName(path) {
    var s = String(path || "");
    var cut = s.lastIndexOf("/");
    if (cut > 0) {
      return s.substring(0, cut);
    }
    return cut === 0 ? "/" : "";
  }

  // The folder of a page as a file-system path ("/…/res"), from the path of
  // its address (escaped as in the address).
  function pageFolder(urlPath) {
    var path = String(urlPath || "");
    try {
      path = decodeURIComponent(path);
    } catch (e) {
      // Left as it is when it holds a bad escape.
    }
    return path.substring(0, path.lastIndexOf("/"));
  }

  // A file URL for an absolute path, each segment escaped.
  function fileUrl(path) {
    return "file://" + String(path).split("/").map(encodeURIComponent).join("/");
  }

  // The path of a file URL ("file:///a/b%20c" gives "/a/b c"), or "".
  function pathFromFileUrl(url) {
    var m = /^file:\/\/(localhost)?(\/[^?#]*)/i.exec(String(url).trim());
    if (!m) {
      return "";
    }
    try {
      return decodeURIComponent(m[2]);
    } catch (e) {
      return "";
    }
  }

  // The path of what was dropped on a page: the first entry of its URI list
  // (or plain text) that is a file URL or an absolute path; "" otherwise.
  function droppedPath(list) {
    var lines = String(list || "").split(/\r?\n/);
    for (var k = 0; k < lines.length; k += 1) {
      var line = lines[k].trim();
      if (line && line.charAt(0) !== "#") {
        return pathFromFileUrl(line) || (line.charAt(0) === "/" ? line : "");
      }
    }
    return "";
  }

  // ---------- Sentences for results ----------

  var MESSAGES = {
    transcodeFailed:
      "Zimbrel could not turn this song into a ringtone. The file may be damaged, " +
      "protected against copying, or not an audio file. Try another song.",
    workFolder:
      "Zimbrel could not write into its work folder, so it cannot make the ringtone. " +
      "Check that the folder .cache in your home folder can be written and that the " +
      "disk is not full, then try again.",
    transcodeNotStarted: "Zimbrel could not start converting the song. Please try again.",
    normalizeNotStarted: "Zimbrel could not start evening out the loudness. Please try again.",
    grabNotStarted: "Zimbrel could not start copying the CD track. Please try again.",
    uploadNotStarted: "Zimbrel could not start sending the ringtone. Please try again.",
    requestNotStarted: "Zimbrel could not contact the ringtone service. Please try again.",
    uploadFailed:
      "The connection to the ringtone service broke off before the whole ringtone " +
      "was delivered. Try again: your ringtone is kept.",
    uploadRefused:
      "The ringtone service has no room for this ringtone: it is larger than the " +
      "space the service keeps for you. Make a shorter ringtone and send that: your " +
      "ringtone is kept.",
    noAnswer: "The ringtone service did not answer. Please try again in a few minutes.",
    oddAnswer:
      "The ringtone service sent an answer that Zimbrel does not understand. " +
      "Please try again later."
  };

  var NORMALIZE_FAILED = {
    [S.normalize.REMOVE_FAILED]: "Zimbrel could not remove the old volume information from the ringtone.",
    [S.normalize.ADJUST_FAILED]: "Zimbrel could not measure and even out the ringtone's loudness.",
    [S.normalize.RAISE_FAILED]: "Zimbrel could not give the ringtone its final volume boost."
  };

  var GRAB_FAILED = {
    [S.grab.BAD_DRIVE]: "That CD drive is no longer available. Click Refresh and choose the drive again.",
    [S.grab.NO_HANDLE]:
      "Zimbrel could not open the CD drive. Check that no other program is using it, " +
      "then try again.",
    [S.grab.NO_DISC]: "There is no readable disc in the drive. Insert an audio CD and click Refresh.",
    [S.grab.BAD_TRACK]:
      "That track is not on the disc in the drive. Click Refresh to read the disc again.",
    [S.grab.ONE_TRACK_DISC]: "This disc has only one track, so Zimbrel cannot read it as an audio CD.",
    [S.grab.DATA_TRACK]: "The track you chose holds computer data, not music. Choose an audio track.",
    [S.grab.NO_MEMORY]: "Zimbrel ran out of memory while reading the CD. Close some programs and try again.",
    [S.grab.CANNOT_WRITE]:
      "Zimbrel could not write the track into its temporary folder. Check that the " +
      "disk is not full, then try again.",
    [S.grab.READ_FAILED]:
      "Zimbrel could not read the track. The disc may be scratched or dirty: clean it " +
      "and try again.",
    [S.grab.CANCELLED]: "Copying the track was cancelled."
  };

  var CD_LIST_ERRORS = {
    "No drives found": "No CD drive was found on this computer. Choose an audio file instead.",
    "Invalid Drive ID": "That CD drive is no longer available. Click Refresh.",
    "Could not get handle to CD":
      "Zimbrel could not open the CD drive. Check that no other program is using it, " +
      "then click Refresh.",
    "No CD inserted": "There is no disc in this drive. Insert an audio CD and click Refresh.",
    "Not an audio CD":
      "The disc in this drive is not an audio CD. Insert an audio CD and click Refresh."
  };

  var HTTP_ERRORS = {
    CoCreateInstance:
      "Zimbrel could not prepare a connection to the ringtone service. Restart Zimbrel " +
      "and try again.",
    Open:
      "Zimbrel could not use the address of the ringtone service. Check the service " +
      "setting of this computer, then try again.",
    Send:
      "The ringtone service on this computer could not be reached. Try again; if it " +
      "still fails, log out and back in, or start it with \u201csystemctl --user start " +
      "zimbrel-service.socket\u201d."
  };

  // The sentence for a transcode that ended without a ringtone: a work
  // folder that cannot be written is not the song's fault.
  function transcodeMessage(code) {
    return code === S.transcode.CANNOT_WRITE ? MESSAGES.workFolder : MESSAGES.transcodeFailed;
  }

  function normalizeMessage(code) {
    return (
      NORMALIZE_FAILED[code] ||
      "Zimbrel could not even out the ringtone's loudness (the step ended with code " +
        code +
        ")."
    );
  }

  function grabMessage(code) {
    return (
      GRAB_FAILED[code] || "Zimbrel could not copy the track from the CD (code " + code + ")."
    );
  }

  // A sentence for a text of the CD listing that begins "ERROR: ", or null
  // when the text is a list.
  function cdListError(text) {
    var s = String(text);
    if (s.indexOf("ERROR:") !== 0) {
      return null;
    }
    var what = s.substring(6).trim();
    return (
      CD_LIST_ERRORS[what] ||
      "The CD drive reported a problem" + (what ? ": " + what : "") + ". Click Refresh to try again."
    );
  }

  // A text of the CD listing as {error: sentence, items: []} or, when it is a
  // list, {error: null, items}: the drives' names, or per track its length
  // in blocks or "DATA".
  function cdList(text) {
    var error = cdListError(text);
    return {error: error, items: error ? [] : String(text).split(":::")};
  }

  // Interprets the answer of the session request: {sid} on success, or
  // {error: sentence}.
  function sessionAnswer(text) {
    var s = String(text === undefined || text === null ? "" : text);
    if (s.indexOf("ERROR:XMLHTTP:") === 0) {
      var step = s.substring(14).trim();
      return {error: HTTP_ERRORS[step] || HTTP_ERRORS.Send};
    }
    var body = s.trim();
    var ok = /^OK\s+(\S+)/.exec(body);
    if (ok) {
      return {sid: ok[1]};
    }
    var err = /^ERROR\b[:\s]*([\s\S]*)$/.exec(body);
    if (err) {
      var sentence = err[1].trim();
      return {
        error: sentence
          ? "The ringtone service refused the request: " + sentence
          : "The ringtone service refused the request. Check your details and try again."
      };
    }
    if (body === "") {
      return {error: MESSAGES.noAnswer};
    }
    return {error: MESSAGES.oddAnswer};
  }

  // ---------- The service's addresses ----------

  // A text with each half of a broken UTF-16 pair replaced by U+FFFD (as
  // the program's conversions do), so that encodeURIComponent takes it.
  function wellFormed(text) {
    var s = String(text);
    var out = "";
    for (var i = 0; i < s.length; i += 1) {
      var c = s.charCodeAt(i);
      if (c >= 0xd800 && c <= 0xdbff) {
        var next = s.charCodeAt(i + 1);
        if (next >= 0xdc00 && next <= 0xdfff) {
          out += s.charAt(i) + s.charAt(i + 1);
          i += 1;
        } else {
          out += "\ufffd";
        }
      } else if (c >= 0xdc00 && c <= 0xdfff) {
        out += "\ufffd";
      } else {
        out += s.charAt(i);
      }
    }
    return out;
  }

  // A text as the program puts it in the redirect address: letters and
  // digits as they are, white space as "+", every other byte of its UTF-8
  // form as "%" and two upper-case hexadecimal digits.
  function urlEncode(text) {
    var bytes = unescape(encodeURIComponent(wellFormed(text)));
    var out = "";
    for (var i = 0; i < bytes.length; i += 1) {
      var c = bytes.charCodeAt(i);
      if ((c >= 48 && c <= 57) || (c >= 65 && c <= 90) || (c >= 97 && c <= 122)) {
        out += bytes.charAt(i);
      } else if (c === 32 || (c >= 9 && c <= 13)) {
        out += "+";
      } else {
        out += "%" + (c < 16 ? "0" : "") + c.toString(16).toUpperCase();
      }
    }
    return out;
  }

  // The address ZB.member.NavigateURL opens for `where` at the service (its root
  // address, ending in "/"), with the program's version code; "" without a
  // service.
  function redirectUrl(service, version, where) {
    if (!service) {
      return "";
    }
    return (
      service + "redir.php?ver=" + urlEncode(version) + "&aff=" + urlEncode(S.affiliateCode) +
      "&where=" + urlEncode(where)
    );
  }

  // The session request for a profile (a path at the service).
  function sessionPath(profile) {
    return (
      "/cgi-bin/zbl_session.cgi?name=" + encodeURIComponent(wellFormed(profile.name)) +
      "&phone=" + encodeURIComponent(wellFormed(profile.phone)) +
      "&network=" + encodeURIComponent(wellFormed(profile.network))
    );
  }

  // ---------- Getting the ringtone to the phone ----------

  // The service's JSON answer as an object, or null when it is not one.
  function jsonObject(text) {
    var s = String(text === undefined || text === null ? "" : text);
    if (s.indexOf("ERROR:XMLHTTP:") === 0) {
      return null;
    }
    try {
      var v = JSON.parse(s);
      return v && typeof v === "object" ? v : null;
    } catch (e) {
      return null;
    }
  }

  // What an answer that is not the one asked for says: the request's own
  // failure, the service's sentence, or that it made no sense.
  function answerError(text, v) {
    var s = String(text === undefined || text === null ? "" : text);
    if (s.indexOf("ERROR:XMLHTTP:") === 0) {
      return HTTP_ERRORS[s.substring(14).trim()] || HTTP_ERRORS.Send;
    }
    if (v && !Array.isArray(v) && typeof v.error === "string" && v.error.trim()) {
      return v.error.trim();
    }
    return s.trim() === "" ? MESSAGES.noAnswer : MESSAGES.oddAnswer;
  }

  function sharePath(sid) {
    return "/cgi-bin/zbl_share.cgi?sid=" + encodeURIComponent(wellFormed(sid));
  }

  function pushPath(sid, device) {
    return (
      "/cgi-bin/zbl_push.cgi?sid=" + encodeURIComponent(wellFormed(sid)) +
      "&device=" + encodeURIComponent(wellFormed(device))
    );
  }

  // The share's answer: {url, expires, qrSrc, port} or {error}. The QR code
  // becomes a data: address of its SVG, shown as an image (which runs
  // nothing); the link is only ever shown as text.
  function shareAnswer(text) {
    var v = jsonObject(text);
    if (
      !v || typeof v.url !== "string" || !/^https?:\/\/[^\s/?#]+\/\S*$/.test(v.url) ||
      typeof v.qrSvg !== "string" || !/^\s*(<\?xml[^>]*>\s*)?<svg[\s>]/.test(v.qrSvg)
    ) {
      return {error: answerError(text, v)};
    }
    var expires = Number(v.expires);
    var port = /^https?:\/\/(?:\[[^\]]*\]|[^:/]*)(?::(\d+))?\//.exec(v.url);
    return {
      url: v.url,
      expires: isFinite(expires) && expires > 0 ? Math.floor(expires) : 0,
      qrSrc: "data:image/svg+xml;charset=utf-8," + encodeURIComponent(v.qrSvg),
      port: port && port[1] ? Number(port[1]) : /^https:/.test(v.url) ? 443 : 80
    };
  }

  // The phones to offer: [{id, name, via}] (names as text), or {error}.
  function devicesAnswer(text) {
    var v = jsonObject(text);
    if (!Array.isArray(v)) {
      return {error: answerError(text, v)};
    }
    var phones = [];
    v.forEach(function (d) {
      if (d && typeof d.id === "string" && d.id !== "" && typeof d.name === "string") {
        phones.push({
          id: d.id,
          name: d.name.trim() || d.id,
          via: d.via === "gsconnect" ? "GSConnect" : "KDE Connect"
        });
      }
    });
    return {phones: phones};
  }

  // A push's answer: {ok: true} or {error}.
  function pushAnswer(text) {
    var v = jsonObject(text);
    if (v && v.ok === true) {
      return {ok: true};
    }
    return {error: answerError(text, v)};
  }

  // How long a link still works, as a sentence; `left` in seconds.
  function timeLeft(left) {
    var s = Math.floor(Number(left) || 0);
    if (s <= 0) {
      return "The link has expired. Send the ringtone again for a new one.";
    }
    if (s < 60) {
      return "The link works for less than a minute more.";
    }
    var m = Math.round(s / 60);
    return "The link works for " + m + (m === 1 ? " more minute." : " more minutes.");
  }

  // What the phone must be on, and what to try when the link will not open.
  function shareAdvice(port) {
    return (
      "Your phone must be on the same Wi-Fi as this computer, and not on a guest " +
      "network (those keep devices apart). If the link will not open, check that " +
      "this computer's firewall lets in connections to TCP port " + port + "."
    );
  }

  // ---------- Formatting ----------

  function formatDuration(seconds) {
    var total = Math.max(0, Math.round(Number(seconds) || 0));
    var m = Math.floor(total / 60);
    var s = total % 60;
    return m + ":" + (s < 10 ? "0" : "") + s;
  }

  function formatSize(bytes) {
    var n = Number(bytes) || 0;
    if (n < 1000) {
      return n + " bytes";
    }
    // 999 500 bytes and more round to 1000 KB: those are "1.0 MB".
    if (n < 999500) {
      return Math.round(n / 1000) + " KB";
    }
    return (n / (1000 * 1000)).toFixed(1) + " MB";
  }

  // A progress value as the whole percentage that both a bar and its text
  // show.
  function wholePercent(value) {
    return Math.round(Math.max(0, Math.min(100, Number(value) || 0)));
  }

  // CD lengths come in blocks of 1/75 s.
  function blocksToSeconds(blocks) {
    return (Number(blocks) || 0) / 75;
  }

  function isDataTrack(item) {
    return item === "DATA";
  }

  // What the track list says of a track of the CD listing.
  function trackLength(item) {
    return isDataTrack(item)
      ? "Data track \u2013 cannot be used"
      : formatDuration(blocksToSeconds(item));
  }

  // A drive as the page names it: the listing's name, or its number.
  function driveName(name, index) {
    return name || "CD drive " + (index + 1);
  }

  // ---------- MP3 facts ----------

  var MP3_BITRATES = {
    // [version 1, version 2 and 2.5] for layer III, kbit/s by index.
    1: [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320],
    2: [0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160]
  };
  var MP3_RATES = {
    3: [44100, 48000, 32000],
    2: [22050, 24000, 16000],
    0: [11025, 12000, 8000]
  };

  // Walks the MPEG layer III frames of an MP3 file's bytes (an ArrayBuffer
  // or a typed array): duration in seconds, bit rate (kbit/s of the first
  // audio frame), sample rate and channel count; null when no frame is found.
  function mp3Info(buffer) {
    var b = new Uint8Array(buffer);
    var i = 0;
    if (b.length >= 10 && b[0] === 0x49 && b[1] === 0x44 && b[2] === 0x33) {
      var tag = ((b[6] & 0x7f) << 21) | ((b[7] & 0x7f) << 14) | ((b[8] & 0x7f) << 7) | (b[9] & 0x7f);
      i = 10 + tag + (b[5] & 0x10 ? 10 : 0);
    }
    var frames = 0;
    var samples = 0;
    var first = null;
    var seenHeader = false;
    while (i + 4 <= b.length) {
      if (b[i] !== 0xff || (b[i + 1] & 0xe0) !== 0xe0) {
        i += 1;
        continue;
      }
      var version = (b[i + 1] >> 3) & 3; // 3: MPEG 1, 2: MPEG 2, 0: MPEG 2.5
      var layer = (b[i + 1] >> 1) & 3; // 1: layer III
      var rateIndex = (b[i + 2] >> 4) & 15;
      var srIndex = (b[i + 2] >> 2) & 3;
      if (version === 1 || layer !== 1 || rateIndex === 0 || rateIndex === 15 || srIndex === 3) {
        i += 1;
        continue;
      }
      var kbps = MP3_BITRATES[version === 3 ? 1 : 2][rateIndex];
      var rate = MP3_RATES[version][srIndex];
      var padding = (b[i + 2] >> 1) & 1;
      var perFrame = version === 3 ? 1152 : 576;
      var length = Math.floor(((perFrame / 8) * kbps * 1000) / rate) + padding;
      if (length < 4) {
        i += 1;
        continue;
      }
      var mono = b[i + 3] >> 6 === 3;
      if (!first) {
        // The first frame may be the encoder's "Xing"/"Info" header, which
        // holds no sound (and may have a bit rate of its own).
        var side = 4 + (version === 3 ? (mono ? 17 : 32) : mono ? 9 : 17);
        var tagText = String.fromCharCode(b[i + side], b[i + side + 1], b[i + side + 2], b[i + side + 3]);
        if (!seenHeader && (tagText === "Xing" || tagText === "Info")) {
          seenHeader = true;
          i += length;
          continue;
        }
        first = {kbps: kbps, rate: rate, channels: mono ? 1 : 2};
      }
      frames += 1;
      samples += perFrame;
      i += length;
    }
    if (!first) {
      return null;
    }
    return {
      duration: samples / first.rate,
      frames: frames,
      kbps: first.kbps,
      sampleRate: first.rate,
      channels: first.channels
    };
  }

  // The quality of an MP3 as the ringtone's facts show it.
  function mp3Quality(info) {
    return (
      info.kbps + " kbit/s, " + (info.sampleRate / 1000).toFixed(1) + " kHz, " +
      (info.channels === 2 ? "stereo" : "mono")
    );
  }

  // ---------- The song and the ringtone ----------

  // A song from an audio file.
  function fileSong(path) {
    var dir = dirName(path);
    return {kind: "file", path: path, name: baseName(path), where: dir ? "in " + dir : ""};
  }

  // A song copied from track `track` (from 0) of drive `drive` into `wav`.
  function cdSong(drive, driveLabel, track, wav) {
    return {
      kind: "cd",
      path: wav,
      name: "Track " + (track + 1) + " of the audio CD",
      where: "in " + driveLabel,
      cd: {drive: drive, track: track}
    };
  }

  // What the ringtone is: the song's name and the format it is made in.
  function ringtoneName(song) {
    var name = song.kind === "file" ? song.name.replace(/\.[^./]{1,5}$/, "") : song.name;
    return (name || song.name) + " (MP3)";
  }

  // The marks of the making steps (convert, even out the loudness and its
  // three runs: "active", "done", "failed" or none), by the job under way
  // (stage "convert" or "loudness"), its last status value and how it ended
  // ("" while it runs, "failed" or "cancelled").
  var N = S.normalize;
  var LOUDNESS_MARKS = {
    [N.STARTED]: {stConvert: "done", stLoud: "active", stNor1: "active"},
    [N.REMOVING]: {stConvert: "done", stLoud: "active", stNor1: "active"},
    [N.ADJUSTING]: {stConvert: "done", stLoud: "active", stNor1: "done", stNor2: "active"},
    [N.RAISING]: {stConvert: "done", stLoud: "active", stNor1: "done", stNor2: "done", stNor3: "active"},
    [N.DONE]: {stConvert: "done", stLoud: "done", stNor1: "done", stNor2: "done", stNor3: "done"},
    [N.REMOVE_FAILED]: {stConvert: "done", stLoud: "failed", stNor1: "failed"},
    [N.ADJUST_FAILED]: {stConvert: "done", stLoud: "failed", stNor1: "done", stNor2: "failed"},
    [N.RAISE_FAILED]: {
      stConvert: "done", stLoud: "failed", stNor1: "done", stNor2: "done", stNor3: "failed"
    }
  };

  function makeMarks(stage, status, end) {
    var marks;
    if (stage === "convert") {
      marks = end === "failed" ? {stConvert: "failed"} : end === "cancelled" ? {} : {stConvert: "active"};
    } else if (LOUDNESS_MARKS[status]) {
      marks = LOUDNESS_MARKS[status];
    } else {
      marks = end === "failed" ? {stConvert: "done", stLoud: "failed"} : {stConvert: "done"};
    }
    var out = {};
    Object.keys(marks).forEach(function (k) {
      // A cancel keeps what was done and no failure.
      var cleared = end === "cancelled" && (marks[k] === "failed" || marks[k] === "active");
      out[k] = cleared ? "" : marks[k];
    });
    return out;
  }

  // Whether a status of the normalise job says it is still under way.
  function isNormalizing(status) {
    return (
      status === N.STARTED || status === N.REMOVING || status === N.ADJUSTING || status === N.RAISING
    );
  }

  // ---------- The profile ----------

  // A phone number as the service takes it: a leading "+" and digits.
  function cleanPhone(text) {
    var s = String(text).trim();
    return (s.charAt(0) === "+" ? "+" : "") + s.replace(/[^0-9]/g, "");
  }

  // Checks the profile form's fields as typed ({name, phone, network}).
  // Returns {errors, profile}: per field a sentence saying what is wrong, or
  // "", and, when nothing is, the profile as it is kept (trimmed, the phone
  // number cleaned), else null.
  function checkProfile(form) {
    var name = String(form.name || "").trim();
    var phone = String(form.phone || "").trim();
    var network = String(form.network || "").trim();
    var digits = phone.replace(/[^0-9]/g, "").length;
    var errors = {
      name: name ? "" : "Enter your name, so that the service knows whose ringtone it is.",
      phone: "",
      network: network ? "" : "Enter your mobile network: the operator whose card is in your phone."
    };
    if (!phone) {
      errors.phone = "Enter your mobile phone number: the service sends the ringtone to it.";
    } else if (!/^\+?[0-9 ()./-]+$/.test(phone)) {
      errors.phone = "A phone number holds only digits, spaces and a leading +.";
    } else if (digits < 7) {
      errors.phone = "This number is too short. Enter it with the country code, for example +44 7700 900123.";
    } else if (digits > 15) {
      errors.phone = "This number is too long: a mobile number has at most 15 digits.";
    }
    var ok = !errors.name && !errors.phone && !errors.network;
    return {
      errors: errors,
      profile: ok ? {name: name, phone: cleanPhone(phone), network: network} : null
    };
  }

  // ---------- Help pages ----------

  // The section a key moves to in a help page's section list (`index` of
  // `count`), or -1 for a key that moves nowhere.
  function sectionForKey(key, index, count) {
    if (key === "ArrowDown" || key === "ArrowRight") {
      return (index + 1) % count;
    }
    if (key === "ArrowUp" || key === "ArrowLeft") {
      return (index - 1 + count) % count;
    }
    if (key === "Home") {
      return 0;
    }
    if (key === "End") {
      return count - 1;
    }
    return -1;
  }

  // The phone compatibility test: the verdict ({kind, tone}) for the answers
  // to its three questions ("yes", "no", "unsure" or "" when not answered).
  function phoneVerdict(answers) {
    if (answers[0] === "no") {
      return {kind: "noMp3", tone: "notice-error"};
    }
    if (answers[1] === "no") {
      return {kind: "noMessages", tone: "notice-warning"};
    }
    if (answers[2] === "no") {
      return {kind: "noRingtone", tone: "notice-warning"};
    }
    if (answers.indexOf("") >= 0) {
      return {kind: "open", tone: ""};
    }
    if (answers.indexOf("unsure") >= 0) {
      return {kind: "unsure", tone: "notice-warning"};
    }
    return {kind: "yes", tone: "notice-success"};
  }

  Object.assign(ZB, {
    baseName: baseName,
    dirName: dirName,
    pageFolder: pageFolder,
    fileUrl: fileUrl,
    pathFromFileUrl: pathFromFileUrl,
    droppedPath: droppedPath,
    messages: MESSAGES,
    transcodeMessage: transcodeMessage,
    normalizeMessage: normalizeMessage,
    grabMessage: grabMessage,
    cdListError: cdListError,
    cdList: cdList,
    sessionAnswer: sessionAnswer,
    wellFormed: wellFormed,
    urlEncode: urlEncode,
    redirectUrl: redirectUrl,
    sessionPath: sessionPath,
    sharePath: sharePath,
    pushPath: pushPath,
    shareAnswer: shareAnswer,
    devicesAnswer: devicesAnswer,
    pushAnswer: pushAnswer,
    timeLeft: timeLeft,
    shareAdvice: shareAdvice,
    formatDuration: formatDuration,
    formatSize: formatSize,
    wholePercent: wholePercent,
    blocksToSeconds: blocksToSeconds,
    isDataTrack: isDataTrack,
    trackLength: trackLength,
    driveName: driveName,
    mp3Info: mp3Info,
    mp3Quality: mp3Quality,
    fileSong: fileSong,
    cdSong: cdSong,
    ringtoneName: ringtoneName,
    makeMarks: makeMarks,
    isNormalizing: isNormalizing,
    cleanPhone: cleanPhone,
    checkProfile: checkProfile,
    sectionForKey: sectionForKey,
    phoneVerdict: phoneVerdict
  });
})(ZB.status);
