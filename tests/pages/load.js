// Loads page scripts of res/ the way a page does: classic scripts run one
// after the other in one global scope, whose window is the global object.
// Returns the ZB namespace they share.
"use strict";

const fs = require("node:fs");
const path = require("node:path");
const vm = require("node:vm");

const RES = path.join(__dirname, "..", "..", "res");

function loadPageScripts(...names) {
  globalThis.window = globalThis;
  for (const name of names) {
    const file = path.join(RES, name);
    vm.runInThisContext(fs.readFileSync(file, "utf8"), {filename: file});
  }
  return globalThis.ZB;
}

module.exports = {loadPageScripts};
