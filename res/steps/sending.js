/*
 * Step 4, sending: a session is asked of the service for the profile, then
 * the ringtone is uploaded with it. How a send ends (sent, failed or
 * cancelled) is steps/done.js.
 * Needs flow.js.
 */
/* exported ZB */
"use strict";

var ZB = window.ZB || {};

ZB.steps.sending = (function (flow, S) {
  var state = flow.state;
  var send = state.send;
  var $ = flow.$;

  // The steps this one hands over to ({profile, done}), given to init().
  var next = null;

  // ---------- Actions ----------

  // The details to check before sending.
  function show() {
    send.phase = "check";
    send.percent = 0;
    send.error = "";
    send.address = "";
    send.sid = "";
    flow.render();
    flow.report("summary ringtone=" + $("sumSong").textContent + " part=" + $("sumPart").textContent);
    flow.show("viewSend", "sendGo");
  }

  function start() {
    send.phase = "session";
    flow.render("sendCancel");
    var started = flow.job(
      ZB.member.MakeHttpRequest, [ZB.sessionPath(state.profile)], ZB.member.xhStatus, S.http.DONE,
      function (status) {
        if (status !== S.http.DONE) {
          return false;
        }
        if (state.job.cancelled) {
          next.done.cancelled();
          return true;
        }
        var answer = ZB.sessionAnswer(ZB.prop(ZB.member.xhResponse, ""));
        if (answer.error) {
          next.done.failed(answer.error);
        } else {
          upload(answer.sid);
        }
        return true;
      }
    );
    if (!started) {
      next.done.failed(ZB.messages.requestNotStarted);
    }
  }

  function upload(sid) {
    send.phase = "upload";
    send.sid = sid;
    send.percent = 0;
    flow.render("sendCancel");
    var running = false;
    var started = flow.job(
      ZB.member.UploadFile, [state.ringtone.path, sid], ZB.member.upStatus, S.upload.FAILED,
      function (status) {
        if (status >= 0 && status < S.upload.DONE) {
          if (status > 0 && !running) {
            running = true;
            flow.report("upload running");
          }
          send.percent = status;
          flow.render();
          flow.report("upload " + $("sendPct").textContent + " bar " + $("sendBar").firstElementChild.style.width);
          return false;
        }
        if (status === S.upload.DONE) {
          send.percent = 100;
          next.done.sent();
        } else if (state.job.cancelled) {
          next.done.cancelled();
        } else if (status === S.upload.REFUSED) {
          next.done.failed(ZB.messages.uploadRefused);
        } else {
          next.done.failed(ZB.messages.uploadFailed);
        }
        return true;
      }
    );
    if (!started) {
      next.done.failed(ZB.messages.uploadNotStarted);
    }
  }

  // ---------- Drawing ----------

  // How the view looks before and while sending; done.js says how it looks
  // once the send has ended.
  var LOOKS = {
    check: {
      title: "Send your ringtone",
      lead: "Check the details, then send the ringtone to your phone.",
      go: "Send ringtone",
      buttons: ["sendBack", "sendGo"]
    },
    session: {
      title: "Sending your ringtone",
      lead: "This takes a moment. You can cancel at any time.",
      progress: "Contacting the ringtone service\u2026",
      buttons: ["sendCancel"]
    },
    upload: {
      title: "Sending your ringtone",
      lead: "This takes a moment. You can cancel at any time.",
      progress: "Sending the ringtone\u2026",
      buttons: ["sendCancel"]
    }
  };

  var BUTTONS = ["sendBack", "sendEdit", "sendAnother", "sendView", "sendCancel", "sendGo", "sendNew"];

  var ICONS = {ok: "#i-check", failed: "#i-cross", cancelled: "#i-stop"};

  function drawSend() {
    var look = LOOKS[send.phase] || next.done.look(state);
    var p = state.profile;
    flow.text("sumSong", state.song ? ZB.ringtoneName(state.song) : "");
    var part = state.ringtone && state.ringtone.part;
    flow.text("sumPart", part ? ZB.part.text(part.start, part.length) : "");
    flow.text("sumPhone", p.phone);
    flow.text("sumNetwork", p.network);
    flow.text("sumName", p.name);
    flow.text("sendTitle", look.title);
    flow.text("sendLead", look.lead);
    flow.shown("sendSummary", !look.result || look.result.kind !== "ok");

    flow.shown("sendProgress", !!look.progress);
    if (look.progress) {
      flow.text("sendProgressText", look.progress);
      if (send.phase === "upload") {
        flow.progress("sendBar", "sendPct", send.percent);
      } else {
        flow.text("sendPct", "");
        flow.progress("sendBar", "sendPct", null);
      }
    }

    var result = look.result;
    flow.shown("sendResult", !!result);
    if (result) {
      flow.classes("sendResult", "card result result-" + result.kind);
      var icon = $("sendResultIcon").firstElementChild;
      if (icon.getAttribute("href") !== ICONS[result.kind]) {
        icon.setAttribute("href", ICONS[result.kind]);
      }
      flow.text("sendResultTitle", result.title);
      flow.text("sendResultText", result.text);
      flow.text("sendResultMore", result.more);
      flow.shown("sendResultMore", !!result.more);
    }
    flow.text("sendViewAddress", look.address || "");
    flow.shown("sendViewAddress", !!look.address);

    BUTTONS.forEach(function (id) {
      if (id === "sendCancel") {
        flow.cancelButton(id, look.buttons.indexOf(id) >= 0);
      } else {
        flow.shown(id, look.buttons.indexOf(id) >= 0);
      }
    });
    if (look.go) {
      flow.text("sendGo", look.go);
    }
  }

  flow.view("viewSend", drawSend);

  // ---------- Controls ----------

  function init(handsOverTo) {
    next = handsOverTo;
    $("sendGo").addEventListener("click", start);
    $("sendBack").addEventListener("click", function () {
      next.profile.show();
    });
    $("sendEdit").addEventListener("click", function () {
      next.profile.show();
    });
    $("sendCancel").addEventListener("click", flow.cancel);
  }

  return {
    init: init,
    show: show
  };
})(ZB.flow, ZB.status);
