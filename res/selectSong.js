/*
 * The start page: choose a song (a file or a CD track), make the ringtone
 * (transcode, then even out the loudness), confirm the profile, send it.
 *
 * One job runs at a time; its status is polled every 100 ms. Work files go
 * to res/tmp/ with names of their own per attempt, so that a job left
 * behind by a cancel never writes over the file of the next try.
 */
"use strict";

(function () {
  var POLL_MS = 100;

  function $(id) {
    return document.getElementById(id);
  }

  if (!ZB.host) {
    ZB.showNoHost(document.body, "The start page");
    return;
  }

  var tmpDir = ZB.pageDir() + "/tmp";

  var state = {
    song: null, // {kind: "file" | "cd", path, name, where, cd: {drive, track}}
    ringtone: null, // {path, url, normalized}
    poller: null, // the running job's poller
    cancel: null, // what Esc and the Cancel buttons do while a job runs
    cancelled: false,
    drives: [],
    view: "",
    uploading: false
  };

  function stamp() {
    return String(Date.now());
  }

  function show(el, on) {
    el.hidden = !on;
  }

  function setText(id, text) {
    $(id).textContent = text;
  }

  // What the page does, one line per step, for whoever reads the page's
  // console (the program prints it when ZIMBREL_PAGE_CONSOLE is set).
  function report(what) {
    if (window.console) {
      console.info("zimbrel-page: " + what);
    }
  }

  // ---------- Views and the step indicator ----------

  function showView(id, focusEl) {
    var views = document.querySelectorAll("#views > .view");
    Array.prototype.forEach.call(views, function (v) {
      v.hidden = v.id !== id;
    });
    state.view = id;
    report("view " + id);
    var step = Number($(id).getAttribute("data-step"));
    var items = document.querySelectorAll("#stepper li");
    Array.prototype.forEach.call(items, function (li) {
      var n = Number(li.getAttribute("data-step"));
      li.className = n < step ? "done" : n === step ? "current" : "";
      if (n === step) {
        li.setAttribute("aria-current", "step");
      } else {
        li.removeAttribute("aria-current");
      }
    });
    if (id !== "viewReady") {
      $("player").pause();
    }
    if (focusEl) {
      focusEl.focus();
    }
  }

  function stopJob() {
    if (state.poller) {
      state.poller.stop();
      state.poller = null;
    }
    state.cancel = null;
  }

  // Starts polling a job's status; onValue returns true when the value is
  // final. onValue may start the next job (transcode, then normalise), which
  // then owns state.poller and state.cancel.
  function watch(read, onValue, cancel) {
    stopJob();
    state.cancelled = false;
    state.cancel = cancel || null;
    var mine = null;
    mine = ZB.poll(read, function (value) {
      var done = onValue(value) === true;
      if (done && state.poller === mine) {
        state.poller = null;
        state.cancel = null;
      }
      return done;
    }, POLL_MS);
    state.poller = mine;
  }

  function requestCancel(button) {
    if (state.cancelled) {
      return;
    }
    state.cancelled = true;
    ZB.call("ZBL_BreakAsyncOperation", [], true);
    report("cancel requested");
    if (button) {
      button.disabled = true;
      button.textContent = "Cancelling\u2026";
    }
  }

  function resetCancelButton(button) {
    button.disabled = false;
    button.textContent = "Cancel";
  }

  // The bar and its percentage text always show the same whole figure.
  function setProgress(barId, pctId, percent) {
    var bar = $(barId);
    var p = Math.round(Math.max(0, Math.min(100, Number(percent) || 0)));
    bar.classList.remove("indeterminate");
    bar.firstElementChild.style.width = p + "%";
    bar.setAttribute("aria-valuenow", String(p));
    setText(pctId, p + " %");
  }

  function setBarIndeterminate(barId) {
    var bar = $(barId);
    bar.classList.add("indeterminate");
    bar.firstElementChild.style.width = "";
    bar.removeAttribute("aria-valuenow");
  }

  // ---------- 1. The song ----------

  function setSong(song) {
    state.song = song;
    state.ringtone = null;
    setText("songName", song.name);
    setText("songWhere", song.where);
    show($("songChosen"), true);
    show($("songError"), false);
    $("makeRingtone").disabled = false;
    setText("songHint", "Ready when you are.");
  }

  // What the ringtone is: the song's name and the format it is made in.
  function ringtoneName(song) {
    var name = song.kind === "file" ? song.name.replace(/\.[^./]{1,5}$/, "") : song.name;
    return (name || song.name) + " (MP3)";
  }

  function fileSong(path) {
    var dir = ZB.dirName(path);
    return {kind: "file", path: path, name: ZB.baseName(path), where: dir ? "in " + dir : ""};
  }

  function songError(text) {
    setText("songErrorText", text);
    show($("songError"), true);
  }

  function startOver() {
    stopJob();
    var player = $("player");
    player.pause();
    player.removeAttribute("src");
    player.load();
    playerShow();
    state.song = null;
    state.ringtone = null;
    show($("songChosen"), false);
    show($("songError"), false);
    $("makeRingtone").disabled = true;
    setText("songHint", "Choose a song to begin.");
    showView("viewSong", $("chooseFile"));
  }

  $("chooseFile").addEventListener("click", function () {
    var path = ZB.call("ZBL_SelectMediaFile", [], "");
    if (path) {
      setSong(fileSong(path));
      $("makeRingtone").focus();
    }
  });

  $("chooseCd").addEventListener("click", function () {
    showView("viewCd", $("cdDrive"));
    show($("cdProgress"), false);
    loadDrives();
  });

  $("makeRingtone").addEventListener("click", function () {
    if (state.song) {
      startMake();
    }
  });

  // ---------- 1b. CD drives and tracks ----------

  function cdError(text) {
    setText("cdErrorText", text);
    show($("cdError"), !!text);
  }

  function loadDrives() {
    var select = $("cdDrive");
    var keep = select.value;
    select.textContent = "";
    var text = ZB.call("ZBL_GetDrivesInfo", [], "ERROR: No drives found");
    var err = ZB.cdListError(text);
    state.drives = err ? [] : String(text).split(":::");
    if (err) {
      var none = document.createElement("option");
      none.textContent = "No CD drive";
      select.appendChild(none);
      select.disabled = true;
      fillTracks([]);
      cdError(err);
      return;
    }
    select.disabled = false;
    state.drives.forEach(function (name, index) {
      var opt = document.createElement("option");
      opt.value = String(index);
      opt.textContent = name || "CD drive " + (index + 1);
      select.appendChild(opt);
    });
    if (keep && Number(keep) < state.drives.length) {
      select.value = keep;
    }
    loadTracks();
  }

  function loadTracks() {
    var drive = Number($("cdDrive").value) || 0;
    var text = ZB.call("ZBL_GetTracksInfo", [drive], "ERROR: Could not get handle to CD");
    var err = ZB.cdListError(text);
    cdError(err);
    fillTracks(err ? [] : String(text).split(":::"));
  }

  function fillTracks(items) {
    var list = $("cdTracks");
    list.textContent = "";
    var firstAudio = null;
    items.forEach(function (item, index) {
      var li = document.createElement("li");
      var label = document.createElement("label");
      var radio = document.createElement("input");
      radio.type = "radio";
      radio.name = "track";
      radio.value = String(index);
      var name = document.createElement("span");
      name.className = "track-name";
      name.textContent = "Track " + (index + 1);
      var length = document.createElement("span");
      length.className = "track-length";
      if (item === "DATA") {
        li.className = "data";
        radio.disabled = true;
        length.textContent = "Data track \u2013 cannot be used";
      } else {
        length.textContent = ZB.formatDuration(ZB.blocksToSeconds(item));
        if (firstAudio === null) {
          firstAudio = radio;
        }
      }
      radio.addEventListener("change", updateCdUse);
      label.appendChild(radio);
      label.appendChild(name);
      label.appendChild(length);
      li.appendChild(label);
      list.appendChild(li);
    });
    if (firstAudio) {
      firstAudio.checked = true;
    }
    show($("cdTracksBox"), items.length > 0);
    updateCdUse();
  }

  function chosenTrack() {
    var radio = document.querySelector("#cdTracks input:checked");
    return radio ? Number(radio.value) : -1;
  }

  function updateCdUse() {
    $("cdUse").disabled = chosenTrack() < 0;
  }

  function setCdBusy(busy) {
    $("cdDrive").disabled = busy || state.drives.length === 0;
    $("cdRefresh").disabled = busy;
    $("cdBack").disabled = busy;
    $("cdUse").disabled = busy || chosenTrack() < 0;
    var radios = document.querySelectorAll("#cdTracks input");
    Array.prototype.forEach.call(radios, function (r) {
      r.disabled = busy || r.closest("li").className === "data";
    });
    show($("cdCancel"), busy);
    resetCancelButton($("cdCancel"));
  }

  function startGrab(drive, track) {
    var wav = tmpDir + "/cd-track-" + stamp() + ".wav";
    cdError("");
    var started = ZB.call("ZBL_GrabAudioDataFromCD", [String(drive), String(track), wav], false);
    if (!started) {
      cdError(ZB.messages.grabNotStarted);
      return;
    }
    setText("cdProgressText", "Copying track " + (track + 1) + " from the CD\u2026");
    setProgress("cdBar", "cdPct", 0);
    show($("cdProgress"), true);
    setCdBusy(true);
    $("cdCancel").focus();
    var driveName = state.drives[drive] || "CD drive " + (drive + 1);
    watch(
      function () {
        return ZB.prop("ZBL_ripStatus", 209);
      },
      function (status) {
        if (status >= 0 && status < 100) {
          setProgress("cdBar", "cdPct", status);
          return false;
        }
        var cancelled = state.cancelled;
        setCdBusy(false);
        if (status === 100 && !cancelled) {
          show($("cdProgress"), false);
          setSong({
            kind: "cd",
            path: wav,
            name: "Track " + (track + 1) + " of the audio CD",
            where: "in " + driveName,
            cd: {drive: drive, track: track}
          });
          startMake();
          return true;
        }
        show($("cdProgress"), false);
        cdError(cancelled ? ZB.grabMessage(210) : ZB.grabMessage(status));
        report("grab " + (cancelled ? "cancelled" : "failed " + status));
        $("cdUse").focus();
        return true;
      },
      function () {
        requestCancel($("cdCancel"));
      }
    );
  }

  $("cdDrive").addEventListener("change", loadTracks);
  $("cdRefresh").addEventListener("click", loadDrives);
  $("cdBack").addEventListener("click", function () {
    showView("viewSong", state.song ? $("makeRingtone") : $("chooseCd"));
  });
  $("cdCancel").addEventListener("click", function () {
    if (state.cancel) {
      state.cancel();
    }
  });
  $("cdUse").addEventListener("click", function () {
    var track = chosenTrack();
    if (track >= 0) {
      startGrab(Number($("cdDrive").value) || 0, track);
    }
  });

  // ---------- 2. Making the ringtone ----------

  var MAKE_STEPS = ["stConvert", "stLoud", "stNor1", "stNor2", "stNor3"];

  function markSteps(marks) {
    MAKE_STEPS.forEach(function (id) {
      $(id).className = marks[id] || "";
    });
    show($("convertBarRow"), marks.stConvert === "active");
  }

  function makeButtons(mode) {
    // mode: running | failed | cancelled | loudness
    show($("makeCancel"), mode === "running");
    resetCancelButton($("makeCancel"));
    show($("makeOther"), mode !== "running");
    show($("makeRetry"), mode !== "running");
    show($("makeAsIs"), mode === "loudness");
  }

  function makeNotice(text, isError) {
    var box = $("makeError");
    box.className = "notice " + (isError ? "notice-error" : "notice-warning");
    setText("makeErrorText", text);
    show(box, !!text);
  }

  function startMake() {
    var song = state.song;
    var out = tmpDir + "/ringtone-" + stamp() + ".mp3";
    setText("makeSong", song.name + (song.where ? " \u2013 " + song.where : ""));
    makeNotice("", false);
    markSteps({stConvert: "active"});
    makeButtons("running");
    showView("viewMake", $("makeCancel"));
    var started = ZB.call("ZBL_TranscodeMedia", [song.path, out], false);
    if (!started) {
      makeFailed({stConvert: "failed"}, ZB.messages.transcodeNotStarted, false);
      return;
    }
    watch(
      function () {
        return ZB.prop("ZBL_tsStatus", 2);
      },
      function (status) {
        if (status === 0) {
          return false;
        }
        if (status === 1 && !state.cancelled) {
          startNormalize(out);
          return true;
        }
        if (state.cancelled) {
          makeCancelled({});
        } else {
          makeFailed({stConvert: "failed"}, ZB.messages.transcodeFailed, false);
        }
        return true;
      },
      function () {
        requestCancel($("makeCancel"));
      }
    );
  }

  var NOR_MARKS = {
    0: {stConvert: "done", stLoud: "active", stNor1: "active"},
    10: {stConvert: "done", stLoud: "active", stNor1: "active"},
    30: {stConvert: "done", stLoud: "active", stNor1: "done", stNor2: "active"},
    80: {stConvert: "done", stLoud: "active", stNor1: "done", stNor2: "done", stNor3: "active"},
    100: {stConvert: "done", stLoud: "done", stNor1: "done", stNor2: "done", stNor3: "done"},
    201: {stConvert: "done", stLoud: "failed", stNor1: "failed"},
    202: {stConvert: "done", stLoud: "failed", stNor1: "done", stNor2: "failed"},
    203: {stConvert: "done", stLoud: "failed", stNor1: "done", stNor2: "done", stNor3: "failed"}
  };

  function startNormalize(out) {
    // The song is in the ringtone now; a grabbed CD track was removed with
    // the other work files.
    state.ringtone = {path: out, url: "tmp/" + encodeURIComponent(ZB.baseName(out)), normalized: false};
    markSteps(NOR_MARKS[10]);
    var started = ZB.call("ZBL_NormalizeAudio", [out], false);
    if (!started) {
      makeFailed(NOR_MARKS[201], ZB.messages.normalizeNotStarted, true);
      return;
    }
    watch(
      function () {
        return ZB.prop("ZBL_norStatus", 201);
      },
      function (status) {
        if (status === 0 || status === 10 || status === 30 || status === 80) {
          markSteps(NOR_MARKS[status]);
          return false;
        }
        if (status === 100) {
          markSteps(NOR_MARKS[100]);
          state.ringtone.normalized = true;
          showReady();
          return true;
        }
        if (state.cancelled) {
          makeCancelled(NOR_MARKS[status] || {stConvert: "done"});
        } else {
          makeFailed(
            NOR_MARKS[status] || {stConvert: "done", stLoud: "failed"},
            ZB.normalizeMessage(status) + " You can use the ringtone as it is, or try again.",
            true
          );
        }
        return true;
      },
      function () {
        requestCancel($("makeCancel"));
      }
    );
  }

  function makeFailed(marks, text, loudnessOnly) {
    report("make failed: " + text);
    markSteps(marks);
    makeNotice(text, true);
    makeButtons(loudnessOnly ? "loudness" : "failed");
    $(loudnessOnly ? "makeAsIs" : "makeRetry").focus();
  }

  function makeCancelled(marks) {
    report("make cancelled");
    var keep = {};
    Object.keys(marks).forEach(function (k) {
      keep[k] = marks[k] === "failed" || marks[k] === "active" ? "" : marks[k];
    });
    markSteps(keep);
    makeNotice("You cancelled making the ringtone. Try again, or choose another song.", false);
    makeButtons("cancelled");
    $("makeRetry").focus();
  }

  $("makeCancel").addEventListener("click", function () {
    if (state.cancel) {
      state.cancel();
    }
  });
  $("makeOther").addEventListener("click", startOver);
  $("makeAsIs").addEventListener("click", showReady);
  $("makeRetry").addEventListener("click", function () {
    var song = state.song;
    if (song && song.kind === "cd") {
      // The copied track went with the work files: copy it again.
      showView("viewCd", $("cdCancel"));
      loadDrives();
      startGrab(song.cd.drive, song.cd.track);
    } else if (song) {
      startMake();
    }
  });

  // ---------- 2b. The ringtone ----------

  // The in-page player. Its total is the ringtone's length as the facts
  // show it: both come from the one duration read from the file's frames.
  function playerShow() {
    var audio = $("player");
    var r = state.ringtone;
    var total = r && typeof r.duration === "number" ? r.duration : null;
    var pos = audio.ended && total !== null ? total : audio.currentTime || 0;
    setText(
      "playerTime",
      ZB.formatDuration(pos) + " / " + (total !== null ? ZB.formatDuration(total) : "\u2013")
    );
    var seek = $("playerSeek");
    seek.max = String(total || 0);
    seek.value = String(Math.min(pos, total || 0));
    seek.disabled = total === null;
    $("playerPlay").textContent = audio.paused || audio.ended ? "Play" : "Pause";
  }

  ["timeupdate", "play", "pause", "ended", "emptied", "loadedmetadata"].forEach(function (name) {
    $("player").addEventListener(name, playerShow);
  });
  $("playerPlay").addEventListener("click", function () {
    var audio = $("player");
    if (audio.paused || audio.ended) {
      var played = audio.play();
      if (played && played.catch) {
        played.catch(function (e) {
          report("player: " + e);
        });
      }
    } else {
      audio.pause();
    }
  });
  $("playerSeek").addEventListener("input", function () {
    $("player").currentTime = Number($("playerSeek").value) || 0;
  });

  function showReady() {
    var r = state.ringtone;
    setText("readyName", ringtoneName(state.song));
    setText("readyDuration", "\u2013");
    setText("readySize", "\u2013");
    setText("readyQuality", "\u2013");
    var note = r.normalized ? "" : "The loudness of this ringtone was not evened out.";
    setText("readyNoteText", note);
    show($("readyNote"), !!note);
    var player = $("player");
    player.src = r.url;
    player.load();
    playerShow();
    showView("viewReady", $("readyNext"));
    ZB.readFile(r.url, function (bytes) {
      if (state.ringtone !== r || !bytes) {
        return;
      }
      setText("readySize", ZB.formatSize(bytes.byteLength));
      var info = ZB.mp3Info(bytes);
      if (info) {
        r.duration = info.duration;
        report("ringtone " + info.duration.toFixed(2) + " s, " + bytes.byteLength + " bytes");
        setText("readyDuration", ZB.formatDuration(info.duration));
        playerShow();
        setText(
          "readyQuality",
          info.kbps + " kbit/s, " + (info.sampleRate / 1000).toFixed(1) + " kHz, " +
            (info.channels === 2 ? "stereo" : "mono")
        );
      }
      report(
        "labels name=" + $("readyName").textContent + "|length=" + $("readyDuration").textContent +
          "|player=" + $("playerTime").textContent
      );
    });
  }

  $("readyOther").addEventListener("click", startOver);
  $("readyNext").addEventListener("click", showProfile);

  // ---------- 3. The profile ----------

  var profile = {
    name: String(ZB.call("ZBL_GetZBName", [], "")),
    phone: String(ZB.call("ZBL_GetZBPhone", [], "")),
    network: String(ZB.call("ZBL_GetZBNetwork", [], ""))
  };

  $("pfName").value = profile.name;
  $("pfPhone").value = profile.phone;
  $("pfNetwork").value = profile.network;

  // A phone number as the service takes it: a leading "+" and digits.
  function cleanPhone(text) {
    var s = String(text).trim();
    return (s.charAt(0) === "+" ? "+" : "") + s.replace(/[^0-9]/g, "");
  }

  function fieldError(inputId, text) {
    var input = $(inputId);
    var err = $(inputId + "Err");
    err.textContent = text || "";
    show(err, !!text);
    if (text) {
      input.setAttribute("aria-invalid", "true");
    } else {
      input.removeAttribute("aria-invalid");
    }
    return !text;
  }

  function checkProfile() {
    var name = $("pfName").value.trim();
    var phone = $("pfPhone").value.trim();
    var network = $("pfNetwork").value.trim();
    var digits = phone.replace(/[^0-9]/g, "").length;
    var errors = {
      pfName: name ? "" : "Enter your name, so that the service knows whose ringtone it is.",
      pfPhone: "",
      pfNetwork: network ? "" : "Enter your mobile network: the operator whose card is in your phone."
    };
    if (!phone) {
      errors.pfPhone = "Enter your mobile phone number: the service sends the ringtone to it.";
    } else if (!/^\+?[0-9 ()./-]+$/.test(phone)) {
      errors.pfPhone = "A phone number holds only digits, spaces and a leading +.";
    } else if (digits < 7) {
      errors.pfPhone = "This number is too short. Enter it with the country code, for example +44 7700 900123.";
    } else if (digits > 15) {
      errors.pfPhone = "This number is too long: a mobile number has at most 15 digits.";
    }
    var first = null;
    ["pfName", "pfPhone", "pfNetwork"].forEach(function (id) {
      if (!fieldError(id, errors[id]) && !first) {
        first = $(id);
      }
    });
    if (first) {
      first.focus();
      return null;
    }
    return {name: name, phone: cleanPhone(phone), network: network};
  }

  function showProfile() {
    ["pfName", "pfPhone", "pfNetwork"].forEach(function (id) {
      fieldError(id, "");
    });
    var firstEmpty = null;
    ["pfName", "pfPhone", "pfNetwork"].forEach(function (id) {
      if (!firstEmpty && !$(id).value.trim()) {
        firstEmpty = $(id);
      }
    });
    showView("viewProfile", firstEmpty || $("profileNext"));
  }

  $("profileForm").addEventListener("submit", function (e) {
    e.preventDefault();
    var p = checkProfile();
    if (!p) {
      return;
    }
    if (p.phone !== cleanPhone(profile.phone)) {
      // A new number has not had a ringtone delivered yet.
      ZB.call("ZBL_SetZBNVCheck", ["0"]);
    }
    ZB.call("ZBL_SetZBName", [p.name]);
    ZB.call("ZBL_SetZBPhone", [p.phone]);
    ZB.call("ZBL_SetZBNetwork", [p.network]);
    profile = p;
    $("pfPhone").value = p.phone;
    showSend();
  });
  $("profileBack").addEventListener("click", function () {
    showView("viewReady", $("readyNext"));
  });

  // ---------- 4. Sending ----------

  var SEND_BUTTONS = ["sendBack", "sendEdit", "sendAnother", "sendView", "sendCancel", "sendGo", "sendNew"];

  function sendButtons(visible) {
    SEND_BUTTONS.forEach(function (id) {
      show($(id), visible.indexOf(id) >= 0);
    });
    resetCancelButton($("sendCancel"));
  }

  function showSend() {
    setText("sumSong", ringtoneName(state.song));
    report("summary ringtone=" + $("sumSong").textContent);
    setText("sumPhone", profile.phone);
    setText("sumNetwork", profile.network);
    setText("sumName", profile.name);
    setText("sendTitle", "Send your ringtone");
    setText("sendLead", "Check the details, then send the ringtone to your phone.");
    show($("sendSummary"), true);
    show($("sendProgress"), false);
    show($("sendResult"), false);
    $("sendGo").textContent = "Send ringtone";
    sendButtons(["sendBack", "sendGo"]);
    showView("viewSend", $("sendGo"));
  }

  function sendRunning(text) {
    setText("sendTitle", "Sending your ringtone");
    setText("sendLead", "This takes a moment. You can cancel at any time.");
    setText("sendProgressText", text);
    setText("sendPct", "");
    setBarIndeterminate("sendBar");
    show($("sendProgress"), true);
    show($("sendResult"), false);
    sendButtons(["sendCancel"]);
    $("sendCancel").focus();
  }

  function sendResult(kind, title, text, more) {
    var box = $("sendResult");
    box.className = "card result result-" + kind;
    $("sendResultIcon").firstElementChild.setAttribute(
      "href",
      kind === "ok" ? "#i-check" : kind === "failed" ? "#i-cross" : "#i-stop"
    );
    setText("sendResultTitle", title);
    setText("sendResultText", text);
    setText("sendResultMore", more || "");
    show($("sendProgress"), false);
    show($("sendSummary"), kind !== "ok");
    show($("sendViewAddress"), false);
    show(box, true);
  }

  function sendFailed(text) {
    report("send failed: " + text);
    setText("sendTitle", "Send your ringtone");
    setText("sendLead", "Something went wrong.");
    sendResult(
      "failed",
      "The ringtone was not sent",
      text,
      "Your ringtone is kept: try again, or check your details."
    );
    $("sendGo").textContent = "Try again";
    sendButtons(["sendEdit", "sendAnother", "sendGo"]);
    $("sendGo").focus();
  }

  function sendCancelled() {
    report("send cancelled");
    setText("sendTitle", "Send your ringtone");
    setText("sendLead", "Sending was stopped.");
    sendResult(
      "cancelled",
      "Sending cancelled",
      "You stopped sending the ringtone.",
      "Your ringtone is kept: you can send it again whenever you like."
    );
    $("sendGo").textContent = "Send again";
    sendButtons(["sendEdit", "sendAnother", "sendGo"]);
    $("sendGo").focus();
  }

  function sendDone() {
    report("send done");
    ZB.call("ZBL_SetZBNVCheck", ["1"]);
    setText("sendTitle", "Done!");
    setText("sendLead", "Your ringtone has been handed to the service.");
    sendResult(
      "ok",
      "Ringtone sent",
      "\u201c" + ringtoneName(state.song) + "\u201d is on its way to " + profile.phone +
        ". It arrives on your phone as a message within a few minutes.",
      "You can also play it on the service\u2019s page for your phone."
    );
    sendButtons(["sendView", "sendNew"]);
    ZB.showAddress($("sendView"), "phone:" + profile.phone, $("sendViewAddress"));
    report("service address " + $("sendViewAddress").textContent);
    $("sendNew").focus();
  }

  function startSend() {
    sendRunning("Contacting the ringtone service\u2026");
    var url =
      "/cgi-bin/zbl_session.cgi?name=" + encodeURIComponent(profile.name) +
      "&phone=" + encodeURIComponent(profile.phone) +
      "&network=" + encodeURIComponent(profile.network);
    var started = ZB.call("ZBL_MakeHttpRequest", [url], false);
    if (!started) {
      sendFailed(ZB.messages.requestNotStarted);
      return;
    }
    watch(
      function () {
        return ZB.prop("ZBL_xhStatus", 1);
      },
      function (status) {
        if (status !== 1) {
          return false;
        }
        if (state.cancelled) {
          sendCancelled();
          return true;
        }
        var answer = ZB.sessionAnswer(ZB.prop("ZBL_xhResponse", ""));
        if (answer.error) {
          sendFailed(answer.error);
        } else {
          startUpload(answer.sid);
        }
        return true;
      },
      function () {
        requestCancel($("sendCancel"));
      }
    );
  }

  function startUpload(sid) {
    sendRunning("Sending the ringtone\u2026");
    setProgress("sendBar", "sendPct", 0);
    state.uploading = false;
    var started = ZB.call("ZBL_UploadFile", [state.ringtone.path, sid], false);
    if (!started) {
      sendFailed(ZB.messages.uploadNotStarted);
      return;
    }
    watch(
      function () {
        return ZB.prop("ZBL_upStatus", 101);
      },
      function (status) {
        if (status >= 0 && status < 100) {
          if (status > 0 && !state.uploading) {
            state.uploading = true;
            report("upload running");
          }
          setProgress("sendBar", "sendPct", status);
          report("upload " + $("sendPct").textContent + " bar " + $("sendBar").firstElementChild.style.width);
          return false;
        }
        if (status === 100) {
          setProgress("sendBar", "sendPct", 100);
          sendDone();
        } else if (state.cancelled) {
          sendCancelled();
        } else {
          sendFailed(ZB.messages.uploadFailed);
        }
        return true;
      },
      function () {
        requestCancel($("sendCancel"));
      }
    );
  }

  $("sendGo").addEventListener("click", startSend);
  $("sendBack").addEventListener("click", showProfile);
  $("sendEdit").addEventListener("click", showProfile);
  $("sendAnother").addEventListener("click", startOver);
  $("sendNew").addEventListener("click", startOver);
  $("sendCancel").addEventListener("click", function () {
    if (state.cancel) {
      state.cancel();
    }
  });
  $("sendView").addEventListener("click", function () {
    ZB.call("ZBL_NavigateURL", ["phone:" + profile.phone]);
  });

  // ---------- Keys, drops and the start ----------

  document.addEventListener("keydown", function (e) {
    if (e.key === "Escape" && state.cancel) {
      e.preventDefault();
      state.cancel();
    }
  });

  ZB.guardDragAndDrop(function (path) {
    if (state.poller) {
      return;
    }
    if (!path) {
      startOver();
      songError("Drop an audio file from your file manager, or use \u201cChoose a file\u2026\u201d.");
      return;
    }
    startOver();
    setSong(fileSong(path));
    $("makeRingtone").focus();
  });

  ZB.wireMemberButtons(document);

  // The file the program was started with (from the file manager or the
  // command line). Reading it empties it.
  var given = String(ZB.prop("ZBL_clFileName", "") || "");
  if (given) {
    setSong(fileSong(given));
    showView("viewSong", $("makeRingtone"));
  } else {
    showView("viewSong", $("chooseFile"));
  }
})();
