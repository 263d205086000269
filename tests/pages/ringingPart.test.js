// The part that rings as the page shows and moves it (res/ringingPart.js).
"use strict";

const test = require("node:test");
const assert = require("node:assert/strict");
const {loadPageScripts} = require("./load.js");

const ZB = loadPageScripts("status.js", "members.js", "helpers.js", "ringingPart.js");
const P = ZB.part;

test("the part is written as the summary and a screen reader give it", () => {
  assert.equal(P.text(42000, 30000), "0:42\u20131:12, 30 s");
  assert.equal(P.text(0, 183400), "0:00\u20133:03, 183 s");
  assert.equal(P.speech(42000, 30000), "0:42 to 1:12, 30 seconds");
  assert.equal(P.speech(600000, 1000), "10:00 to 10:01, 1 second");
});

test("a preset gives the loudest stretch, or the whole of a shorter song", () => {
  const a = P.parse(JSON.stringify({
    lengthMs: 200000, peaksPerSecond: 10, peaks: [1, 2], rms: [],
    loudest: {15000: 61000, 20000: 60000, 30000: 185000, 40000: 0}
  }));
  assert.deepEqual(P.forPreset(a, 15000), {start: 61000, length: 15000, picked: true});
  // A start the song cannot hold is moved back inside it.
  assert.deepEqual(P.forPreset(a, 30000), {start: 170000, length: 30000, picked: true});
  assert.deepEqual(P.forPreset(a, 0), {start: 0, length: 200000, picked: false});
  const short = {lengthMs: 12000, peaks: [], loudest: {30000: 0}};
  assert.deepEqual(P.forPreset(short, 30000), {start: 0, length: 12000, picked: false});
  assert.equal(P.parse("ERROR: nope"), null);
  assert.equal(P.parse("{\"lengthMs\":0,\"peaks\":[],\"loudest\":{}}"), null);
  assert.equal(P.parse(""), null);
});

test("keys move the part by one or five seconds and it stays inside the song", () => {
  const song = 100000;
  assert.equal(P.move(42000, 30000, song, "ArrowRight", false), 43000);
  assert.equal(P.move(42000, 30000, song, "ArrowLeft", true), 37000);
  assert.equal(P.move(42000, 30000, song, "ArrowUp", true), 47000);
  assert.equal(P.move(2000, 30000, song, "ArrowLeft", true), 0);
  assert.equal(P.move(68000, 30000, song, "ArrowRight", true), 70000);
  assert.equal(P.move(42000, 30000, song, "PageUp", false), 47000);
  assert.equal(P.move(42000, 30000, song, "PageDown", false), 37000);
  assert.equal(P.move(42000, 30000, song, "Home", false), 0);
  assert.equal(P.move(42000, 30000, song, "End", false), 70000);
  assert.equal(P.move(0, 12000, 12000, "ArrowRight", false), 0); // the whole song
  assert.equal(P.move(42000, 30000, song, "a", false), null);
  assert.equal(P.startAt(0.5, 30000, song), 35000);
  assert.equal(P.startAt(0.99, 30000, song), 70000);
  assert.equal(P.startAt(-1, 30000, song), 0);
});

test("the waveform is folded into columns of the largest peak", () => {
  assert.deepEqual(P.columns([0, 255, 51, 0, 102, 0], 3), [1, 0.2, 0.4]);
  assert.deepEqual(P.columns([255], 2), [1, 1]); // more columns than peaks
  assert.equal(P.columns([], 4).length, 4);
});

test("fades default to half a second in and a second and a half out", () => {
  const f = P.fades({start: 0, length: 30000}, true, true);
  assert.deepEqual(f, {fadeIn: 500, fadeOut: 1500});
  assert.deepEqual(P.fades({length: 1000}, true, true), {fadeIn: 500, fadeOut: 1000});
  assert.deepEqual(P.fades({length: 30000}, false, true), {fadeIn: 0, fadeOut: 1500});
  assert.equal(P.gain(0, 30000, f), 0);
  assert.equal(P.gain(250, 30000, f), 0.5);
  assert.equal(P.gain(15000, 30000, f), 1);
  assert.equal(P.gain(29250, 30000, f), 0.5);
  assert.equal(P.gain(10, 30000, {fadeIn: 0, fadeOut: 0}), 1);
});
