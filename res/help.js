/*
 * The help pages (How to use, Phone compatibility, FAQ and Contact us):
 * one section at a time, the buttons that open the service's pages, the
 * compatibility test, and Close.
 */
"use strict";

(function () {
  function $(id) {
    return document.getElementById(id);
  }

  ZB.initSections();
  ZB.guardDragAndDrop(null);

  if (!ZB.host) {
    // The content reads as it is; only the buttons need the program.
    var buttons = document.querySelectorAll("button");
    Array.prototype.forEach.call(buttons, function (b) {
      b.hidden = true;
    });
    var note = document.createElement("div");
    note.className = "notice notice-warning";
    note.setAttribute("role", "note");
    note.textContent =
      ZB.t("This page is part of Zimbrel. Open it from Zimbrel (right-click in the main " +
      "window) to use its buttons.");
    var content = document.querySelector(".help-content");
    if (content) {
      content.insertBefore(note, content.firstChild);
    }
    return;
  }

  ZB.wireMemberButtons(document);

  // Answered before the window closes, as every button that ends a window.
  $("close").addEventListener("click", function () {
    ZB.later(function () {
      ZB.call(ZB.member.CloseWindow, []);
    });
  });

  // The service's page for the phone in the profile, when there is one.
  var phone = String(ZB.call(ZB.member.GetZBPhone, [], "") || "");
  var phoneButton = $("phonePage");
  if (phoneButton && phone) {
    phoneButton.hidden = false;
    ZB.showAddress(phoneButton, "phone:" + phone);
    phoneButton.addEventListener("click", function () {
      ZB.call(ZB.member.NavigateURL, ["phone:" + phone]);
    });
  }

  // The compatibility test: a verdict from three answers.
  var quiz = $("quiz");
  if (quiz) {
    var VERDICTS = {
      yes: ZB.t("Good news: your phone can use Zimbrel ringtones. Make one now!"),
      noMp3:
        ZB.t("Your phone does not seem to play MP3 files, so it probably cannot use the " +
        "ringtone. Phones that play music nearly always can."),
      noMessages:
        ZB.t("Your phone needs picture messages (MMS) or mobile internet to receive the " +
        "ringtone. Ask your network to turn them on, then try again."),
      noRingtone:
        ZB.t("Your phone plays music but may not let you choose a song as ringtone. You " +
        "can still receive and play the song."),
      unsure:
        ZB.t("Look in your phone\u2019s settings or manual for the questions you are not sure " +
        "about. Most phones bought in the last years pass this test."),
      open: ZB.t("Answer all three questions to see the result.")
    };
    var update = function () {
      var answers = ["q1", "q2", "q3"].map(function (q) {
        var checked = quiz.querySelector("input[name='" + q + "']:checked");
        return checked ? checked.value : "";
      });
      var verdict = ZB.phoneVerdict(answers);
      $("verdict").className = "notice verdict " + verdict.tone;
      $("verdictText").textContent = VERDICTS[verdict.kind];
    };
    quiz.addEventListener("change", update);
    update();
  }

  var first = document.querySelector(".help-nav a[aria-current='true']");
  if (first) {
    first.focus();
  }
})();
