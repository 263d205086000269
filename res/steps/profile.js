/*
 * Step 3, the profile: the name, phone number and network the ringtone is
 * sent for. The program keeps them in its settings; a new phone number has
 * had no ringtone delivered yet.
 * Needs flow.js.
 */
/* exported ZB */
"use strict";

var ZB = window.ZB || {};

ZB.steps.profile = (function (flow) {
  var state = flow.state;
  var $ = flow.$;

  // The steps this one hands over to ({sending}), given to init().
  var next = null;

  // The form's fields by the profile's names, in the form's order.
  var FIELDS = {name: "pfName", phone: "pfPhone", network: "pfNetwork"};
  var NAMES = ["name", "phone", "network"];

  // ---------- Actions ----------

  // Shows the form with no complaints, the focus on the first empty field
  // (or on Continue when none is).
  function show() {
    state.formErrors = {name: "", phone: "", network: ""};
    var empty = NAMES.filter(function (n) {
      return !String(state.form[n]).trim();
    });
    flow.show("viewProfile", empty.length ? FIELDS[empty[0]] : "profileNext");
  }

  // Keeps the profile when the form is right; otherwise says what is wrong,
  // the focus on the first field that is.
  function submit() {
    var checked = ZB.checkProfile(state.form);
    state.formErrors = checked.errors;
    var p = checked.profile;
    if (!p) {
      var wrong = NAMES.filter(function (n) {
        return checked.errors[n];
      });
      flow.render(FIELDS[wrong[0]]);
      return;
    }
    if (p.phone !== ZB.cleanPhone(state.profile.phone)) {
      // A new number has not had a ringtone delivered yet.
      ZB.call(ZB.member.SetZBNVCheck, ["0"]);
    }
    ZB.call(ZB.member.SetZBName, [p.name]);
    ZB.call(ZB.member.SetZBPhone, [p.phone]);
    ZB.call(ZB.member.SetZBNetwork, [p.network]);
    state.profile = p;
    state.form.phone = p.phone;
    flow.render();
    next.sending.show();
  }

  // ---------- Drawing ----------

  function drawProfile() {
    NAMES.forEach(function (n) {
      var input = $(FIELDS[n]);
      var value = String(state.form[n]);
      if (input.value !== value) {
        input.value = value;
      }
      var error = state.formErrors[n];
      flow.text(FIELDS[n] + "Err", error);
      flow.shown(FIELDS[n] + "Err", !!error);
      if (error) {
        input.setAttribute("aria-invalid", "true");
      } else {
        input.removeAttribute("aria-invalid");
      }
    });
  }

  flow.view("viewProfile", drawProfile);

  // ---------- Controls ----------

  // Reads the kept profile into the form and wires the form.
  function init(handsOverTo) {
    next = handsOverTo;
    state.profile = {
      name: String(ZB.call(ZB.member.GetZBName, [], "")),
      phone: String(ZB.call(ZB.member.GetZBPhone, [], "")),
      network: String(ZB.call(ZB.member.GetZBNetwork, [], ""))
    };
    state.form = {name: state.profile.name, phone: state.profile.phone, network: state.profile.network};
    NAMES.forEach(function (n) {
      $(FIELDS[n]).addEventListener("input", function () {
        state.form[n] = $(FIELDS[n]).value;
      });
    });
    $("profileForm").addEventListener("submit", function (e) {
      e.preventDefault();
      submit();
    });
    $("profileBack").addEventListener("click", function () {
      flow.show("viewReady", "readyNext");
    });
  }

  return {
    init: init,
    show: show
  };
})(ZB.flow);
