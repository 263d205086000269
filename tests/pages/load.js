// Loads page scripts of res/ the way a page does: classic scripts run one
// after the other in one global scope, whose window is the global object.
// Returns the ZB namespace they share. status.js and members.js are generated
// by the build into the module directory's res/ ($ZIMBREL_MODULE_DIR, else
// build/).
"use strict";

const fs = require("node:fs");
const path = require("node:path");
const vm = require("node:vm");

const ROOT = path.join(__dirname, "..", "..");
const RES = path.join(ROOT, "res");
const GENERATED = new Set(["status.js", "members.js"]);
const MODULE_RES = path.join(process.env.ZIMBREL_MODULE_DIR || path.join(ROOT, "build"), "res");

function loadPageScripts(...names) {
  globalThis.window = globalThis;
  for (const name of names) {
    const file = path.join(GENERATED.has(name) ? MODULE_RES : RES, name);
    vm.runInThisContext(fs.readFileSync(file, "utf8"), {filename: file});
  }
  return globalThis.ZB;
}

module.exports = {loadPageScripts};
