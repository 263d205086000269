/*
 * What every Zimbrel page shares: the program's scripting object, paths in
 * the module folder, polling of job status, the sentences for every status
 * code a job can end with, and small formatting helpers.
 *
 * The program's members are called synchronously; each call is a short
 * round trip to the program. A page shown in an ordinary browser has no
 * program behind it: ZB.host is then null and the page says so.
 */
/* exported ZB */
"use strict";

var ZB = (function () {
  var host = null;
  try {
    var ext = window.external;
    if (ext && typeof ext.ZBL_IsZBL === "function" && ext.ZBL_IsZBL()) {
      host = ext;
    }
  } catch (e) {
    host = null;
  }

  // ---------- Paths ----------

  // The folder of this page as a file-system path ("/…/res"), from the
  // page's own address: the program's working directory is not res/.
  function pageDir() {
    var path = location.pathname;
    try {
      path = decodeURIComponent(path);
    } catch (e) {
      // Left as it is when it holds a bad escape.
    }
    return path.substring(0, path.lastIndexOf("/"));
  }

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

  // ---------- Members ----------

  // Calls a method of the program; `fallback` when there is no program or
  // the call fails.
  function call(name, args, fallback) {
    if (!host) {
      return fallback;
    }
    try {
      return host[name].apply(host, args || []);
    } catch (e) {
      if (window.console) {
        console.error("Zimbrel: " + name + " failed: " + e);
      }
      return fallback;
    }
  }

  // Reads a status property of the program (no parentheses).
  function prop(name, fallback) {
    if (!host) {
      return fallback;
    }
    try {
      return host[name];
    } catch (e) {
      return fallback;
    }
  }

  // Polls read() every `interval` ms (100 by default), handing each value
  // to onValue until it returns true. Returns an object whose stop() ends
  // the polling early.
  function poll(read, onValue, interval) {
    var timer = null;
    var stopped = false;
    function tick() {
      if (stopped) {
        return;
      }
      var done = false;
      try {
        done = onValue(read()) === true;
      } catch (e) {
        done = true;
        if (window.console) {
          console.error("Zimbrel: polling failed: " + e);
        }
      }
      if (done) {
        stop();
      }
    }
    function stop() {
      stopped = true;
      if (timer !== null) {
        clearInterval(timer);
        timer = null;
      }
    }
    timer = setInterval(tick, interval || 100);
    return {stop: stop};
  }

  // ---------- Sentences for status codes ----------

  var MESSAGES = {
    transcodeFailed:
      "Zimbrel could not turn this song into a ringtone. The file may be damaged, " +
      "protected against copying, or not an audio file. Try another song.",
    transcodeNotStarted: "Zimbrel could not start converting the song. Please try again.",
    normalizeNotStarted: "Zimbrel could not start evening out the loudness. Please try again.",
    grabNotStarted: "Zimbrel could not start copying the CD track. Please try again.",
    uploadNotStarted: "Zimbrel could not start sending the ringtone. Please try again.",
    requestNotStarted: "Zimbrel could not contact the ringtone service. Please try again.",
    uploadFailed:
      "The connection to the ringtone service broke off before the whole ringtone " +
      "was delivered. Check that this computer is connected to the internet, then " +
      "try again: your ringtone is kept.",
    noAnswer: "The ringtone service did not answer. Please try again in a few minutes.",
    oddAnswer:
      "The ringtone service sent an answer that Zimbrel does not understand. " +
      "Please try again later."
  };

  var NORMALIZE_FAILED = {
    201: "Zimbrel could not remove the old volume information from the ringtone.",
    202: "Zimbrel could not measure and even out the ringtone's loudness.",
    203: "Zimbrel could not give the ringtone its final volume boost."
  };

  var GRAB_FAILED = {
    201: "That CD drive is no longer available. Click Refresh and choose the drive again.",
    202:
      "Zimbrel could not open the CD drive. Check that no other program is using it, " +
      "then try again.",
    203: "There is no readable disc in the drive. Insert an audio CD and click Refresh.",
    204:
      "That track is not on the disc in the drive. Click Refresh to read the disc again.",
    205: "This disc has only one track, so Zimbrel cannot read it as an audio CD.",
    206: "The track you chose holds computer data, not music. Choose an audio track.",
    207: "Zimbrel ran out of memory while reading the CD. Close some programs and try again.",
    208:
      "Zimbrel could not write the track into its temporary folder. Check that the " +
      "disk is not full, then try again.",
    209:
      "Zimbrel could not read the track. The disc may be scratched or dirty: clean it " +
      "and try again.",
    210: "Copying the track was cancelled."
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
      "The ringtone service could not be reached. Check that this computer is " +
      "connected to the internet, then try again."
  };

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

  // ---------- The service's pages ----------

  // A text as the program puts it in the redirect address: letters and
  // digits as they are, white space as "+", every other byte of its UTF-8
  // form as "%" and two upper-case hexadecimal digits.
  function urlEncode(text) {
    var bytes = unescape(encodeURIComponent(String(text)));
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

  // The address ZBL_NavigateURL opens for `where`, or "" when the page does
  // not know the service (the program tells its pages as zimbrelService).
  function redirectAddress(where) {
    var service = typeof window.zimbrelService === "string" ? window.zimbrelService : "";
    if (!service || !host) {
      return "";
    }
    return (
      service + "redir.php?ver=" + urlEncode(call("ZBL_GetVersion", [], "")) + "&aff=" + urlEncode("2") +
      "&where=" + urlEncode(where)
    );
  }

  // Shows the address a browser button opens as selectable text after the
  // button (in `holder` when given).
  function showAddress(button, where, holder) {
    var el = holder;
    if (!el) {
      el = document.createElement("span");
      el.className = "address";
      button.parentNode.insertBefore(el, button.nextSibling);
    }
    var address = redirectAddress(where);
    el.textContent = address;
    el.hidden = !address;
    return el;
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
    if (n < 1000 * 1000) {
      return Math.round(n / 1000) + " KB";
    }
    return (n / (1000 * 1000)).toFixed(1) + " MB";
  }

  // CD lengths come in blocks of 1/75 s.
  function blocksToSeconds(blocks) {
    return (Number(blocks) || 0) / 75;
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

  // Walks the MPEG layer III frames of an MP3 file's bytes: duration in
  // seconds, bit rate (kbit/s of the first audio frame), sample rate and
  // channel count; null when no frame is found.
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
        // holds no sound.
        var side = 4 + (version === 3 ? (mono ? 17 : 32) : mono ? 9 : 17);
        var tagText = String.fromCharCode(b[i + side], b[i + side + 1], b[i + side + 2], b[i + side + 3]);
        first = {kbps: kbps, rate: rate, channels: mono ? 1 : 2};
        if (tagText === "Xing" || tagText === "Info") {
          i += length;
          continue;
        }
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

  // Reads a local file as bytes (pages of the module folder may read files
  // by their file URL); cb(arrayBuffer) or cb(null).
  function readFile(url, cb) {
    var xhr = new XMLHttpRequest();
    xhr.open("GET", url, true);
    xhr.responseType = "arraybuffer";
    xhr.onload = function () {
      var ok = xhr.status === 0 || (xhr.status >= 200 && xhr.status < 300);
      cb(ok && xhr.response ? xhr.response : null);
    };
    xhr.onerror = function () {
      cb(null);
    };
    try {
      xhr.send();
    } catch (e) {
      cb(null);
    }
  }

  // ---------- Page frame ----------

  // Shows the "open this page from Zimbrel" view in place of `el`'s
  // contents.
  function showNoHost(el, what) {
    el.textContent = "";
    var box = document.createElement("div");
    box.className = "nohost";
    box.setAttribute("role", "alert");
    var img = document.createElement("img");
    img.src = "images/zimbrel.svg";
    img.alt = "";
    var h = document.createElement("h2");
    h.textContent = "Open this page from Zimbrel";
    var p = document.createElement("p");
    p.textContent =
      (what || "This page") +
      " is part of Zimbrel, the ringtone creator, and works only inside the Zimbrel " +
      "program. Start Zimbrel from your applications menu, or right-click an audio " +
      "file and choose \u201cSend to Phone as Ringtone\u201d.";
    box.appendChild(img);
    box.appendChild(h);
    box.appendChild(p);
    el.appendChild(box);
  }

  // Buttons marked data-zbl="Member" call that member of the program; one
  // that opens the service in the browser also shows the address.
  function wireMemberButtons(root) {
    var buttons = (root || document).querySelectorAll("[data-zbl]");
    Array.prototype.forEach.call(buttons, function (btn) {
      if (btn.getAttribute("data-zbl") === "ZBL_NavigateURL") {
        showAddress(btn, btn.getAttribute("data-zbl-arg") || "");
      }
      btn.addEventListener("click", function () {
        var args = btn.getAttribute("data-zbl-arg");
        call(btn.getAttribute("data-zbl"), args === null ? [] : [args]);
      });
    });
  }

  // Keeps dragged text and dropped files from turning the view into a
  // browser (a dropped file would otherwise replace the page).
  function guardDragAndDrop(onDropPath) {
    document.addEventListener("dragstart", function (e) {
      var t = e.target;
      if (!(t && t.nodeType === 1 && /^(INPUT|TEXTAREA)$/.test(t.tagName))) {
        e.preventDefault();
      }
    });
    document.addEventListener("dragover", function (e) {
      e.preventDefault();
      if (e.dataTransfer) {
        e.dataTransfer.dropEffect = onDropPath ? "copy" : "none";
      }
    });
    document.addEventListener("drop", function (e) {
      e.preventDefault();
      if (!onDropPath || !e.dataTransfer) {
        return;
      }
      var list = e.dataTransfer.getData("text/uri-list") || e.dataTransfer.getData("text/plain");
      var lines = String(list || "").split(/\r?\n/);
      for (var k = 0; k < lines.length; k += 1) {
        var line = lines[k].trim();
        if (line && line.charAt(0) !== "#") {
          onDropPath(pathFromFileUrl(line) || (line.charAt(0) === "/" ? line : ""));
          return;
        }
      }
      onDropPath("");
    });
  }

  // Help pages: the section list on the left shows one section at a time.
  // Without script every section shows, one after the other (as in the
  // compiled help file).
  function initSections() {
    var nav = document.querySelector(".help-nav");
    if (!nav) {
      return;
    }
    document.documentElement.classList.add("js");
    var links = Array.prototype.slice.call(nav.querySelectorAll("a[href^='#']"));
    var sections = links.map(function (a) {
      return document.getElementById(a.getAttribute("href").substring(1));
    });
    function show(index, focusHeading) {
      links.forEach(function (a, k) {
        var on = k === index;
        a.setAttribute("aria-current", on ? "true" : "false");
        a.tabIndex = on ? 0 : -1;
        if (sections[k]) {
          sections[k].hidden = !on;
        }
      });
      var content = document.querySelector(".help-content");
      if (content) {
        content.scrollTop = 0;
      }
      if (focusHeading && sections[index]) {
        var h = sections[index].querySelector("h2");
        if (h) {
          h.tabIndex = -1;
          h.focus();
        }
      }
    }
    links.forEach(function (a, k) {
      a.addEventListener("click", function (e) {
        e.preventDefault();
        show(k, false);
        a.focus();
      });
      a.addEventListener("keydown", function (e) {
        var next = -1;
        if (e.key === "ArrowDown" || e.key === "ArrowRight") {
          next = (k + 1) % links.length;
        } else if (e.key === "ArrowUp" || e.key === "ArrowLeft") {
          next = (k - 1 + links.length) % links.length;
        } else if (e.key === "Home") {
          next = 0;
        } else if (e.key === "End") {
          next = links.length - 1;
        } else if (e.key === "Enter") {
          e.preventDefault();
          show(k, true);
          return;
        }
        if (next >= 0) {
          e.preventDefault();
          show(next, false);
          links[next].focus();
        }
      });
    });
    var start = 0;
    var wanted = location.hash ? location.hash.substring(1) : "";
    sections.forEach(function (s, k) {
      if (s && s.id === wanted) {
        start = k;
      }
    });
    show(start, false);
  }

  return {
    host: host,
    pageDir: pageDir,
    baseName: baseName,
    dirName: dirName,
    fileUrl: fileUrl,
    pathFromFileUrl: pathFromFileUrl,
    call: call,
    prop: prop,
    poll: poll,
    messages: MESSAGES,
    normalizeMessage: normalizeMessage,
    grabMessage: grabMessage,
    cdListError: cdListError,
    sessionAnswer: sessionAnswer,
    formatDuration: formatDuration,
    urlEncode: urlEncode,
    redirectAddress: redirectAddress,
    showAddress: showAddress,
    formatSize: formatSize,
    blocksToSeconds: blocksToSeconds,
    mp3Info: mp3Info,
    readFile: readFile,
    showNoHost: showNoHost,
    wireMemberButtons: wireMemberButtons,
    guardDragAndDrop: guardDragAndDrop,
    initSections: initSections
  };
})();
