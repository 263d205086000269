/*
 * Step 5, done: how a send ends. Sent, the phone number has had a ringtone
 * delivered, and the ringtone is offered to the phone: a QR code of a link
 * on the home network (the service shares the last ringtone of the session),
 * the phones paired through KDE Connect or GSConnect, and the service's page
 * for the number. Failed or cancelled, the ringtone is kept for another try.
 * Shown in the send view (steps/sending.js draws it from the look given
 * here; the delivery card is drawn here).
 * Needs flow.js.
 */
/* exported ZB */
"use strict";

var ZB = window.ZB || {};

ZB.steps.done = (function (flow, S) {
  var state = flow.state;
  var send = state.send;
  var $ = flow.$;

  // The steps this one hands over to ({song}), given to init().
  var next = null;
  // Redraws the time a link has left while the delivery card is shown.
  var ticker = null;

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
    send.share = {state: "asking"};
    send.phones = null;
    send.push = null;
    flow.render("sendNew");
    if (send.address) {
      flow.report("service address " + $("sendViewAddress").textContent);
    }
    startTicker();
    askShare();
  }

  // The service's page for the phone of the profile.
  function phonePage() {
    return "phone:" + state.profile.phone;
  }

  // Asks the service `path` with the scripted request (one job at a time);
  // onAnswer(text) gets the response text (an "ERROR:XMLHTTP:..." one when
  // the request failed), once the job is over (so that what it draws sees
  // no job running), and only while the ringtone is still the one sent: a
  // start over stops the job, and with it the questions that would follow.
  function ask(path, onAnswer) {
    var answer = function (text) {
      setTimeout(function () {
        if (send.phase === "sent") {
          onAnswer(text);
        }
      }, 0);
    };
    var started = flow.job(ZB.member.MakeHttpRequest, [path], ZB.member.xhStatus, S.http.DONE, function (status) {
      if (status !== S.http.DONE) {
        return false;
      }
      answer(String(ZB.prop(ZB.member.xhResponse, "")));
      return true;
    });
    if (!started) {
      answer("ERROR:XMLHTTP:Send");
    }
  }

  // The link for the phone, then the paired phones, then (for a service the
  // page does not know the browser address of) the service's page address.
  function askShare() {
    ask(ZB.sharePath(send.sid), function (text) {
      var a = ZB.shareAnswer(text);
      if (a.error) {
        send.share = {state: "error", error: a.error};
        flow.report("share failed: " + a.error);
      } else {
        send.share = {
          state: "ready",
          url: a.url,
          qrSrc: a.qrSrc,
          port: a.port,
          until: Date.now() + a.expires * 1000
        };
        flow.report("share link " + a.url);
      }
      flow.render();
      askPhones();
    });
  }

  function askPhones() {
    ask("/cgi-bin/zbl_devices.cgi", function (text) {
      var a = ZB.devicesAnswer(text);
      send.phones = a.error ? [] : a.phones;
      flow.report(
        a.error
          ? "phones failed: " + a.error
          : "phones " + send.phones.map(function (p) { return p.name; }).join(", ")
      );
      flow.render();
      if (!send.address) {
        askBrowserAddress();
      }
    });
  }

  function askBrowserAddress() {
    ask("/cgi-bin/zbl_browser.cgi", function (text) {
      var url = "";
      try {
        var v = JSON.parse(text);
        url = v && typeof v.url === "string" && /^http:\/\/[^\s/?#]+\/$/.test(v.url) ? v.url : "";
      } catch (e) {
        url = "";
      }
      if (url) {
        send.address = ZB.redirectUrl(url, ZB.call(ZB.member.GetVersion, [], S.versionCode), phonePage());
        flow.render();
        flow.report("service address " + $("sendViewAddress").textContent);
      }
    });
  }

  function push(phone) {
    if (flow.busy()) {
      return;
    }
    send.push = {id: phone.id, ok: false, text: "Sending the ringtone to " + phone.name + "\u2026"};
    flow.render();
    ask(ZB.pushPath(send.sid, phone.id), function (text) {
      var a = ZB.pushAnswer(text);
      send.push = {
        id: phone.id,
        ok: !!a.ok,
        text: a.ok
          ? "The ringtone is on its way to " + phone.name + ": look for it among the phone\u2019s downloads."
          : "It could not be sent to " + phone.name + ": " + a.error
      };
      flow.report("push " + (a.ok ? "ok " + phone.name : "failed: " + a.error));
      flow.render();
    });
  }

  function startTicker() {
    if (ticker === null) {
      ticker = setInterval(function () {
        if (send.phase === "sent" && send.share && send.share.state === "ready") {
          flow.render();
        }
      }, 15000);
    }
  }

  // ---------- Drawing ----------

  // The send view's look once the send has ended (see steps/sending.js).
  function look() {
    if (send.phase === "sent") {
      return {
        title: "Done!",
        lead:
          "\u201c" + ZB.ringtoneName(state.song) + "\u201d is kept by the ringtone service on " +
          "this computer for " + state.profile.phone + ".",
        result: {
          kind: "ok",
          title: "Ringtone delivered",
          text: "Get it onto your phone below, or play it on the service\u2019s page:",
          more: ""
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

  // The phones' buttons, made anew only when the list changes; names are
  // text, never markup.
  var drawnPhones = "";

  function drawPhones(phones) {
    var key = JSON.stringify(phones);
    if (key === drawnPhones) {
      return;
    }
    drawnPhones = key;
    var holder = $("phoneButtons");
    while (holder.firstChild) {
      holder.removeChild(holder.firstChild);
    }
    phones.forEach(function (phone) {
      var b = document.createElement("button");
      b.type = "button";
      b.className = "btn";
      b.textContent = "Send to " + phone.name;
      b.title = "through " + phone.via;
      b.addEventListener("click", function () {
        push(phone);
      });
      holder.appendChild(b);
    });
  }

  function drawDelivery() {
    var on = send.phase === "sent" && !!send.share;
    flow.shown("sendDeliver", on);
    if (!on) {
      return;
    }
    var share = send.share;
    var ready = share.state === "ready";
    flow.shown("shareReady", ready);
    flow.text(
      "shareNote",
      share.state === "asking" ? "Asking the service for a link\u2026" : share.state === "error" ? share.error : ""
    );
    flow.shown("shareNote", !ready);
    if (ready) {
      var img = $("shareQr");
      if (img.getAttribute("src") !== share.qrSrc) {
        img.setAttribute("src", share.qrSrc);
      }
      flow.text("shareLink", share.url);
      flow.text("shareLeft", ZB.timeLeft((share.until - Date.now()) / 1000));
      flow.text("shareAdvice", ZB.shareAdvice(share.port));
    }
    var phones = send.phones || [];
    flow.shown("phoneList", phones.length > 0);
    drawPhones(phones);
    var p = send.push;
    flow.text("pushNote", p ? p.text : "");
    flow.shown("pushNote", !!p);
    Array.prototype.forEach.call($("phoneButtons").children, function (b) {
      if (b.disabled !== flow.busy()) {
        b.disabled = flow.busy();
      }
    });
  }

  flow.view("viewSend", drawDelivery);

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
})(ZB.flow, ZB.status);
