/*
 * Step 5, done: how a send ends. Sent, the phone number has had a ringtone
 * delivered and the service's page for it is offered; failed or cancelled,
 * the ringtone is kept for another try. Shown in the send view
 * (steps/sending.js draws it from the look given here).
 * Needs flow.js.
 */
/* exported ZB */
"use strict";

var ZB = window.ZB || {};

ZB.steps.done = (function (flow) {
  var state = flow.state;
  var send = state.send;
  var $ = flow.$;

  // The steps this one hands over to ({song}), given to init().
  var next = null;

  // ---------- Actions ----------

  function failed(text) {
    flow.report("send failed: " + text);
    send.phase = "failed";
    send.error = text;
    flow.render("sendGo");
  }

  function cancelled() {
    flow.report("send cancelled");
    send.phase = "cancelled";
    flow.render("sendGo");
  }

  function sent() {
    flow.report("send done");
    ZB.call(ZB.member.SetZBNVCheck, ["1"]);
    send.phase = "sent";
    send.address = ZB.redirectAddress(phonePage());
    flow.render("sendNew");
    flow.report("service address " + $("sendViewAddress").textContent);
  }

  // The service's page for the phone of the profile.
  function phonePage() {
    return "phone:" + state.profile.phone;
  }

  // ---------- Drawing ----------

  // The send view's look once the send has ended (see steps/sending.js).
  function look() {
    if (send.phase === "sent") {
      return {
        title: "Done!",
        lead: "Your ringtone has been handed to the service.",
        result: {
          kind: "ok",
          title: "Ringtone sent",
          text:
            "\u201c" + ZB.ringtoneName(state.song) + "\u201d is on its way to " + state.profile.phone +
            ". It arrives on your phone as a message within a few minutes.",
          more: "You can also play it on the service\u2019s page for your phone."
        },
        address: send.address,
        buttons: ["sendView", "sendNew"]
      };
    }
    if (send.phase === "cancelled") {
      return {
        title: "Send your ringtone",
        lead: "Sending was stopped.",
        result: {
          kind: "cancelled",
          title: "Sending cancelled",
          text: "You stopped sending the ringtone.",
          more: "Your ringtone is kept: you can send it again whenever you like."
        },
        go: "Send again",
        buttons: ["sendEdit", "sendAnother", "sendGo"]
      };
    }
    return {
      title: "Send your ringtone",
      lead: "Something went wrong.",
      result: {
        kind: "failed",
        title: "The ringtone was not sent",
        text: send.error,
        more: "Your ringtone is kept: try again, or check your details."
      },
      go: "Try again",
      buttons: ["sendEdit", "sendAnother", "sendGo"]
    };
  }

  // ---------- Controls ----------

  function init(handsOverTo) {
    next = handsOverTo;
    $("sendAnother").addEventListener("click", function () {
      next.song.startOver();
    });
    $("sendNew").addEventListener("click", function () {
      next.song.startOver();
    });
    $("sendView").addEventListener("click", function () {
      ZB.call(ZB.member.NavigateURL, [phonePage()]);
    });
  }

  return {
    init: init,
    failed: failed,
    cancelled: cancelled,
    sent: sent,
    look: look
  };
})(ZB.flow);
