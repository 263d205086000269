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

// A WAV file as ffmpeg writes the preview (22050 Hz mono, 16 bits), with the
// chunks ffmpeg puts before the samples (an odd-sized one is padded).
function previewFile(seconds, extraChunks) {
  const layout = {channels: 1, rate: 22050, bits: 16, blockAlign: 2};
  const samples = new Uint8Array(seconds * 22050 * 2);
  for (let i = 0; i < samples.length; i++) {
    samples[i] = i % 251;
  }
  const head = P.wavHead(layout, samples.length);
  const extra = Buffer.concat(extraChunks.map(([tag, body]) => {
    const chunk = Buffer.alloc(8 + body.length + (body.length & 1));
    chunk.write(tag, 0, "latin1");
    chunk.writeUInt32LE(body.length, 4);
    Buffer.from(body).copy(chunk, 8);
    return chunk;
  }));
  // RIFF, fmt, then the extra chunks, then data.
  const file = Buffer.concat([Buffer.from(head.subarray(0, 36)), extra, Buffer.from(head.subarray(36)),
    Buffer.from(samples)]);
  file.writeUInt32LE(file.length - 8, 4);
  return new Uint8Array(file.buffer, file.byteOffset, file.length);
}

test("the part's samples are found past the chunks before them and cut on whole frames", () => {
  const file = previewFile(4, [["LIST", "INFOISFT\x0e\0\0\0Lavf59.27.100\0"], ["odd ", "abc"]]);
  const l = P.wavLayout(file.subarray(0, 4096));
  assert.ok(l);
  assert.deepEqual([l.channels, l.rate, l.bits, l.blockAlign, l.dataSize], [1, 22050, 16, 2, 4 * 44100]);
  assert.equal(String.fromCharCode(...file.subarray(l.dataStart - 8, l.dataStart - 4)), "data");
  // 1 s from 0.5 s: 22050 frames of 2 bytes from frame 11025.
  const r = P.wavRange(l, 500, 1000);
  assert.deepEqual(r, {first: l.dataStart + 22050, end: l.dataStart + 22050 + 44100});
  assert.equal(file[r.first], (22050) % 251); // the sample 0.5 s in
  // A part past the end is cut at the end; one wholly past it is empty.
  assert.equal(P.wavRange(l, 3500, 30000).end, l.dataStart + l.dataSize);
  const past = P.wavRange(l, 9000, 1000);
  assert.equal(past.end - past.first, 0);
  // A millisecond that falls between frames starts at the frame before it.
  assert.equal((P.wavRange(l, 0.01, 1).first - l.dataStart) % l.blockAlign, 0);
  // The clip made of it reads back as the same layout, its samples only.
  const head = P.wavHead(l, r.end - r.first);
  const back = P.wavLayout(head);
  assert.deepEqual([back.dataStart, back.dataSize, back.rate, back.channels], [44, 44100, 22050, 1]);
});

test("what is no PCM WAV header, or is cut short, has no layout", () => {
  const file = previewFile(1, [["LIST", "x".repeat(100)]]);
  assert.equal(P.wavLayout(file.subarray(0, 60)), null); // the data chunk is past the bytes read
  assert.equal(P.wavLayout(Uint8Array.from(Buffer.from("<html>not found</html>"))), null);
  assert.equal(P.wavLayout(new Uint8Array(0)), null);
  const float = Uint8Array.from(file);
  float[20] = 3; // IEEE float samples
  assert.equal(P.wavLayout(float), null);
  const noFmt = Uint8Array.from(file);
  noFmt.set([0x66, 0x6d, 0x74, 0x21], 12); // "fmt!"
  assert.equal(P.wavLayout(noFmt), null);
});
