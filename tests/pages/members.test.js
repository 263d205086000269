// The program's members as the pages name them: the generated ZB.member
// table, ZB.call and ZB.prop against a stand-in for the program, and every
// member the pages' scripts and buttons name.
"use strict";

const test = require("node:test");
const assert = require("node:assert/strict");
const fs = require("node:fs");
const path = require("node:path");
const {loadPageScripts} = require("./load.js");

const RES = path.join(__dirname, "..", "..", "res");

// Loads the page scripts zimbrel.js needs, then zimbrel.js with `external`
// as the page's window.external.
function loadWithHost(external) {
  globalThis.external = external;
  try {
    return loadPageScripts("status.js", "members.js", "helpers.js", "zimbrel.js");
  } finally {
    delete globalThis.external;
  }
}

// Runs fn with console.error recorded; returns what it was told.
function errorsOf(fn) {
  const told = [];
  const error = console.error;
  console.error = (text) => told.push(String(text));
  try {
    fn();
  } finally {
    console.error = error;
  }
  return told;
}

// A stand-in for the program: the members a test needs, each call recorded.
function fakeProgram(calls) {
  return {
    ZBL_IsZBL: () => true,
    ZBL_GetVersion: () => {
      calls.push("GetVersion");
      return "260";
    },
    ZBL_SetZBName: (name) => {
      calls.push("SetZBName " + name);
    },
    ZBL_ShowModalDialog: (...args) => {
      calls.push("ShowModalDialog " + args.join("|"));
      return "back";
    },
    get ZBL_xhStatus() {
      calls.push("xhStatus");
      return 1;
    },
    get ZBL_GetZBName() {
      calls.push("GetZBName read");
      return "not a property";
    }
  };
}

test("each member is named by its name after ZBL_, with its kind and types", () => {
  const ZB = loadPageScripts("members.js");
  const names = Object.keys(ZB.member);
  assert.equal(names.length, 41);
  assert.deepEqual(names.slice(38), ["AnalyzeMedia", "anStatus", "anResult"]);
  for (const name of names) {
    const m = ZB.member[name];
    assert.equal(m.name, "ZBL_" + name);
    assert.ok(["method", "property", "either"].includes(m.kind), m.name);
    assert.ok(Object.isFrozen(m) && Object.isFrozen(m.args), m.name);
  }
  assert.deepEqual(ZB.member.IsZBL, {name: "ZBL_IsZBL", kind: "either", args: [], result: "bool"});
  assert.deepEqual(ZB.member.GetVersion, {name: "ZBL_GetVersion", kind: "method", args: [], result: "string"});
  assert.deepEqual(ZB.member.SetDialogRetValue.args, ["string"]);
  // The part of the song may be left out of a transcode.
  assert.equal(ZB.member.TranscodeMedia.required, 2);
  assert.equal(ZB.member.TranscodeMedia.args.length, 6);
  assert.deepEqual(ZB.member.ShowModalDialog.args,
    ["string", "string", "string", "integer", "integer", "integer", "integer"]);
  assert.deepEqual(ZB.member.MessageBox, {
    name: "ZBL_MessageBox", kind: "method", args: ["string", "integer"], result: "integer"
  });
  assert.deepEqual(ZB.member.clFileName, {name: "ZBL_clFileName", kind: "property", args: [], result: "string"});
  assert.deepEqual(ZB.member.norStatus, {name: "ZBL_norStatus", kind: "property", args: [], result: "integer"});
  assert.equal(ZB.member.CloseWindow.result, "none");
  assert.equal(ZB.member.UploadFile.result, "bool");
  assert.ok(Object.isFrozen(ZB.member));
});

test("members reach the program as they are named", () => {
  const calls = [];
  const ZB = loadWithHost(fakeProgram(calls));
  assert.ok(ZB.host);
  assert.equal(ZB.call(ZB.member.GetVersion, [], "none"), "260");
  assert.equal(ZB.call(ZB.member.SetZBName, ["Zo\u00eb"]), undefined);
  assert.equal(ZB.call(ZB.member.ShowModalDialog, ["T", "u.html", "a", 1, 2, 3, 4], ""), "back");
  assert.equal(ZB.prop(ZB.member.xhStatus, -1), 1);
  assert.deepEqual(calls, ["GetVersion", "SetZBName Zo\u00eb", "ShowModalDialog T|u.html|a|1|2|3|4", "xhStatus"]);
});

test("what is no member, or is used as what it is not, never reaches the program", () => {
  const calls = [];
  const ZB = loadWithHost(fakeProgram(calls));
  const lookalike = {name: "ZBL_GetVersion", kind: "method", args: [], result: "string"};
  const told = errorsOf(() => {
    assert.equal(ZB.call("ZBL_GetVersion", [], "fallback"), "fallback");
    assert.equal(ZB.call(lookalike, [], "fallback"), "fallback");
    assert.equal(ZB.call(ZB.member.NoSuchThing, [], "fallback"), "fallback");
    assert.equal(ZB.call(ZB.member.xhStatus, [], "fallback"), "fallback");
    assert.equal(ZB.prop(ZB.member.GetZBName, "fallback"), "fallback");
    assert.equal(ZB.prop("ZBL_xhStatus", "fallback"), "fallback");
    assert.equal(ZB.call(ZB.member.SetZBName, [], "fallback"), "fallback");
    assert.equal(ZB.call(ZB.member.SetZBName, ["a", "b"], "fallback"), "fallback");
  });
  assert.deepEqual(calls, []);
  assert.equal(told.length, 8);
  assert.match(told[0], /ZBL_GetVersion is not a member/);
  assert.match(told[2], /undefined is not a member/);
  assert.match(told[3], /ZBL_xhStatus is a property, not a method/);
  assert.match(told[4], /ZBL_GetZBName is a method, not a property/);
  assert.match(told[6], /ZBL_SetZBName takes 1 arguments, not 0/);
});

test("a member's optional arguments may be left out, and no more may be given", () => {
  const calls = [];
  const program = {
    ZBL_IsZBL: () => true,
    ZBL_TranscodeMedia: (...args) => {
      calls.push(args.join("|"));
      return true;
    }
  };
  const ZB = loadWithHost(program);
  assert.equal(ZB.call(ZB.member.TranscodeMedia, ["a", "b"], false), true);
  assert.equal(ZB.call(ZB.member.TranscodeMedia, ["a", "b", 1, 2, 3, 4], false), true);
  const told = errorsOf(() => {
    assert.equal(ZB.call(ZB.member.TranscodeMedia, ["a"], false), false);
    assert.equal(ZB.call(ZB.member.TranscodeMedia, ["a", "b", 1, 2, 3, 4, 5], false), false);
  });
  assert.deepEqual(calls, ["a|b", "a|b|1|2|3|4"]);
  assert.match(told[0], /ZBL_TranscodeMedia takes 2 to 6 arguments, not 1/);
});

test("a page without the program calls nothing and gets the fallback", () => {
  const ZB = loadWithHost({ZBL_IsZBL: () => false, ZBL_GetVersion: () => "260"});
  assert.equal(ZB.host, null);
  assert.equal(ZB.call(ZB.member.GetVersion, [], "fallback"), "fallback");
  assert.equal(ZB.prop(ZB.member.xhStatus, -1), -1);
});

// Every script and page of res/, with its text.
function pageFiles() {
  const out = [];
  const walk = (dir) => {
    for (const entry of fs.readdirSync(dir, {withFileTypes: true})) {
      const file = path.join(dir, entry.name);
      if (entry.isDirectory()) {
        walk(file);
      } else if (/\.(js|html)$/.test(entry.name)) {
        out.push({name: path.relative(RES, file), text: fs.readFileSync(file, "utf8")});
      }
    }
  };
  walk(RES);
  return out;
}

test("every member the pages name is one, called or read as what it is", () => {
  const ZB = loadPageScripts("members.js");
  const uses = [];
  const use = (file, name, as) => uses.push({file: file.name, name, as});
  for (const file of pageFiles()) {
    const code = file.text.replace(/\/\*[^]*?\*\/|\/\/.*$/gm, "");
    assert.doesNotMatch(code, /ZBL_/, file.name + " names a member by hand");
    for (const m of code.matchAll(/ZB\.call\(ZB\.member\.(\w+)/g)) {
      use(file, m[1], "method");
    }
    for (const m of code.matchAll(/ZB\.prop\(ZB\.member\.(\w+)/g)) {
      use(file, m[1], "property");
    }
    for (const m of code.matchAll(/flow\.job\(\s*ZB\.member\.(\w+),[^]*?\],\s*ZB\.member\.(\w+)/g)) {
      use(file, m[1], "method");
      use(file, m[2], "property");
    }
    for (const m of code.matchAll(/ZB\.member\.(\w+)/g)) {
      use(file, m[1], "");
    }
    for (const m of code.matchAll(/data-zbl="([^"]*)"/g)) {
      use(file, m[1], "method");
    }
  }
  assert.ok(uses.filter((u) => u.as).length >= 30, "the pages' uses were not found");
  for (const u of uses) {
    const member = Object.prototype.hasOwnProperty.call(ZB.member, u.name) ? ZB.member[u.name] : null;
    assert.ok(member, u.file + ": " + u.name + " is no member");
    if (u.as) {
      assert.ok(member.kind === u.as || member.kind === "either", u.file + ": " + u.name + " is a " + member.kind);
    }
  }
});
