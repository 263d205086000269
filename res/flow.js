/*
 * The start page's flow: one state object that holds everything the page
 * shows, the one job that runs at a time, and the drawing of the page from
 * that state.
 *
 * Each step (steps/*.js) registers a draw function for each of its views
 * and the actions that change the state; it reaches the other steps only
 * through those its init() is given (selectSong.js). An action changes
 * ZB.flow.state, then calls render() to redraw, or show() to bring up a view
 * (also the view already shown, entered anew). Every render draws every view, shown or
 * not, from the state alone, and the drawing writes the document only where
 * it differs, so it may run at every poll. Nothing else shows or hides parts
 * of the page; only the focus and the player are moved by the actions.
 *
 * One job runs at a time; its status is polled every 100 ms. Work files go
 * to res/tmp/ with names of their own per attempt, so that a job left
 * behind by a cancel never writes over the file of the next try.
 * Needs zimbrel.js.
 */
/* exported ZB */
"use strict";

var ZB = window.ZB || {};

ZB.steps = ZB.steps || {};

ZB.flow = (function () {
  var POLL_MS = 100;

  var state = {
    view: "", // the id of the view shown
    song: null, // {kind: "file" | "cd", path, name, where, cd: {drive, track}}
    songError: "", // a sentence under the song's choices
    cd: {
      drives: null, // the drives' names; null before the first listing, [] when none
      drive: 0, // the drive chosen (index)
      tracks: [], // per track of that drive: its length in blocks, or "DATA"
      track: -1, // the track chosen (index), -1 for none
      error: "",
      grab: null // {track, percent} while a track is being copied
    },
    make: {
      stage: "convert", // the job of the making under way: "convert" or "loudness"
      status: 0, // that job's last status value
      end: "", // "" while it runs, then "failed" or "cancelled"
      notice: "" // what went wrong
    },
    ringtone: null, // {path, url, normalized, size, info}: size and MP3 facts once read
    profile: {name: "", phone: "", network: ""}, // as kept in the settings
    form: {name: "", phone: "", network: ""}, // the profile form as typed
    formErrors: {name: "", phone: "", network: ""},
    send: {
      phase: "check", // check | session | upload | failed | cancelled | sent
      percent: 0, // of the upload
      error: "", // why it failed
      address: "", // the service's page for the phone, once sent
      sid: "" // the session the ringtone was sent with
    },
    job: {
      poller: null, // the running job's poller
      cancelled: false // a cancel was asked for the running job
    }
  };

  var views = []; // {id, draw, leave}

  function $(id) {
    return document.getElementById(id);
  }

  // What the page does, one line per step, for whoever reads the page's
  // console (the program prints it when ZIMBREL_PAGE_CONSOLE is set).
  function report(what) {
    if (window.console) {
      console.info("zimbrel-page: " + what);
    }
  }

  // ---------- Writing the document where it differs ----------

  function text(id, value) {
    var el = $(id);
    if (el.textContent !== value) {
      el.textContent = value;
    }
  }

  function shown(id, on) {
    var el = $(id);
    if (el.hidden !== !on) {
      el.hidden = !on;
    }
  }

  function enabled(id, on) {
    var el = $(id);
    if (el.disabled !== !on) {
      el.disabled = !on;
    }
  }

  function classes(id, value) {
    var el = $(id);
    if (el.className !== value) {
      el.className = value;
    }
  }

  // A progress bar and its percentage text: both show the same whole
  // figure. A percent of null draws the bar running without a figure (and
  // leaves the text alone).
  function progress(barId, pctId, percent) {
    var bar = $(barId);
    var fill = bar.firstElementChild;
    if (percent === null) {
      bar.classList.add("indeterminate");
      if (fill.style.width !== "") {
        fill.style.width = "";
      }
      bar.removeAttribute("aria-valuenow");
      return;
    }
    var p = ZB.wholePercent(percent);
    bar.classList.remove("indeterminate");
    if (fill.style.width !== p + "%") {
      fill.style.width = p + "%";
    }
    if (bar.getAttribute("aria-valuenow") !== String(p)) {
      bar.setAttribute("aria-valuenow", String(p));
    }
    text(pctId, p + " %");
  }

  // The Cancel button of a running job: it says so once a cancel is asked.
  function cancelButton(id, on) {
    var cancelling = on && state.job.poller !== null && state.job.cancelled;
    shown(id, on);
    enabled(id, !cancelling);
    text(id, cancelling ? "Cancelling\u2026" : "Cancel");
  }

  // ---------- Views ----------

  // Registers the drawing of a view: draw(state) at every render; leave()
  // when show() brings up another view.
  function view(id, draw, leave) {
    views.push({id: id, draw: draw, leave: leave || null});
  }

  function drawStepper() {
    var current = state.view ? $(state.view) : null;
    var step = current ? Number(current.getAttribute("data-step")) : 0;
    var items = document.querySelectorAll("#stepper li");
    Array.prototype.forEach.call(items, function (li) {
      var n = Number(li.getAttribute("data-step"));
      var cls = n < step ? "done" : n === step ? "current" : "";
      if (li.className !== cls) {
        li.className = cls;
      }
      if (n === step) {
        li.setAttribute("aria-current", "step");
      } else {
        li.removeAttribute("aria-current");
      }
    });
  }

  // Draws the page from the state, then moves the focus to `focusId` when
  // given.
  function render(focusId) {
    views.forEach(function (v) {
      shown(v.id, v.id === state.view);
      v.draw(state);
    });
    drawStepper();
    if (focusId) {
      $(focusId).focus();
    }
  }

  // Brings up a view (again, when it is shown already) with the focus on
  // `focusId`.
  function show(id, focusId) {
    views.forEach(function (v) {
      if (v.id !== id && v.leave) {
        v.leave(state);
      }
    });
    state.view = id;
    report("view " + id);
    render(focusId);
  }

  // ---------- The job ----------

  function busy() {
    return state.job.poller !== null;
  }

  function stopJob() {
    if (state.job.poller) {
      state.job.poller.stop();
      state.job.poller = null;
    }
  }

  // Polls a job's status; onValue returns true when the value is final.
  // onValue may start the next job (transcode, then normalise), which then
  // owns the poller.
  function watch(read, onValue) {
    stopJob();
    state.job.cancelled = false;
    var mine = null;
    mine = ZB.poll(read, function (value) {
      var done = onValue(value) === true;
      if (done && state.job.poller === mine) {
        state.job.poller = null;
      }
      return done;
    }, POLL_MS);
    state.job.poller = mine;
  }

  // Starts a job: calls the program's method `member` with `args`, then
  // watches its status property `status` (both of ZB.member; `fallback` when
  // the status cannot be read) with onValue as watch() does. False when the
  // job did not start.
  function job(member, args, status, fallback, onValue) {
    if (!ZB.call(member, args, false)) {
      return false;
    }
    watch(function () {
      return ZB.prop(status, fallback);
    }, onValue);
    return true;
  }

  // Asks the running job to stop (Esc or its Cancel button); it ends with
  // its own final status.
  function cancel() {
    if (!busy() || state.job.cancelled) {
      return;
    }
    state.job.cancelled = true;
    ZB.call(ZB.member.BreakAsyncOperation, [], true);
    report("cancel requested");
    render();
  }

  // A new work file in res/tmp/: "<name>-<time><ext>".
  function workFile(name, ext) {
    return ZB.pageDir() + "/tmp/" + name + "-" + String(Date.now()) + ext;
  }

  return {
    state: state,
    $: $,
    report: report,
    text: text,
    shown: shown,
    enabled: enabled,
    classes: classes,
    progress: progress,
    cancelButton: cancelButton,
    view: view,
    render: render,
    show: show,
    busy: busy,
    stopJob: stopJob,
    job: job,
    cancel: cancel,
    workFile: workFile
  };
})();
