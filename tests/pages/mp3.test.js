// The facts the ringtone view shows of an MP3 file: real files made by
// ffmpeg as the program makes ringtones, and frames built here for the
// cases ffmpeg does not write.
"use strict";

const test = require("node:test");
const assert = require("node:assert/strict");
const {execFileSync} = require("node:child_process");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const {loadPageScripts} = require("./load.js");

const ZB = loadPageScripts("status.js", "helpers.js");

// An MP3 of a sine tone encoded by ffmpeg; null when ffmpeg is missing.
function encode(seconds, extra) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), "zimbrel-mp3-"));
  const out = path.join(dir, "tone.mp3");
  try {
    execFileSync(
      "ffmpeg",
      ["-nostdin", "-v", "error", "-f", "lavfi", "-i", `sine=frequency=440:duration=${seconds}`]
        .concat(extra, ["-y", out]),
      {stdio: ["ignore", "ignore", "pipe"]}
    );
    return fs.readFileSync(out);
  } catch (e) {
    if (e.code === "ENOENT") {
      return null;
    }
    throw e;
  } finally {
    fs.rmSync(dir, {recursive: true, force: true});
  }
}

const hasFfmpeg = encode(0.1, ["-ac", "1"]) !== null;

test("a ringtone as the program makes it: 64 kbit/s, 44.1 kHz stereo", {skip: !hasFfmpeg && "no ffmpeg"}, () => {
  const bytes = encode(6, ["-ac", "2", "-ab", "64k", "-ar", "44100"]);
  const info = ZB.mp3Info(bytes);
  assert.equal(info.kbps, 64);
  assert.equal(info.sampleRate, 44100);
  assert.equal(info.channels, 2);
  // The encoder's header frame holds no sound and is not counted.
  assert.ok(Math.abs(info.duration - 6) < 0.1, String(info.duration));
  assert.equal(ZB.mp3Quality(info), "64 kbit/s, 44.1 kHz, stereo");
  // The page reads the file as an ArrayBuffer.
  const buffer = bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + bytes.length);
  assert.deepEqual(ZB.mp3Info(buffer), info);
});

test("an MPEG 2 mono file behind an ID3 tag", {skip: !hasFfmpeg && "no ffmpeg"}, () => {
  const bytes = encode(3, ["-ac", "1", "-ab", "32k", "-ar", "22050", "-metadata", "title=Tone"]);
  assert.equal(bytes.toString("latin1", 0, 3), "ID3");
  const info = ZB.mp3Info(bytes);
  assert.equal(info.kbps, 32);
  assert.equal(info.sampleRate, 22050);
  assert.equal(info.channels, 1);
  assert.ok(Math.abs(info.duration - 3) < 0.1, String(info.duration));
  assert.equal(ZB.mp3Quality(info), "32 kbit/s, 22.1 kHz, mono");
});

// One MPEG 1 layer III frame of 128 kbit/s at 44100 Hz (417 bytes), stereo
// or mono, its sound bytes all `fill`.
function frame(mono, fill) {
  const f = Buffer.alloc(417, fill);
  f[0] = 0xff;
  f[1] = 0xfb; // MPEG 1, layer III, no CRC
  f[2] = 0x90; // 128 kbit/s, 44100 Hz, no padding
  f[3] = mono ? 0xc4 : 0x44;
  return f;
}

test("frames are counted through stray bytes and a cut-off end", () => {
  const bytes = Buffer.concat([
    Buffer.from("junk before the sound"),
    frame(false, 0),
    frame(false, 0),
    Buffer.from([0xff, 0x00, 0x12]), // not a frame
    frame(false, 0),
    frame(false, 0).subarray(0, 100) // cut off: the scan runs on to its end
  ]);
  const info = ZB.mp3Info(bytes);
  assert.equal(info.kbps, 128);
  assert.equal(info.channels, 2);
  assert.ok(info.frames >= 3);
  assert.ok(Math.abs(info.duration - (info.frames * 1152) / 44100) < 1e-9);
});

test("the encoder's header frame counts for nothing, not even its bit rate", () => {
  const header = frame(false, 0);
  header[2] = 0xb0; // 192 kbit/s: 626 bytes
  const xing = Buffer.concat([header, Buffer.alloc(626 - 417)]);
  xing.write("Xing", 4 + 32, "latin1");
  const info = ZB.mp3Info(Buffer.concat([xing, frame(false, 0), frame(false, 0)]));
  assert.equal(info.frames, 2);
  assert.equal(info.kbps, 128);
  // A header alone is no sound.
  assert.equal(ZB.mp3Info(xing), null);
});

test("an ID3 tag with a footer is skipped whole", () => {
  const body = Buffer.alloc(30, 0xff); // would read as frame syncs if scanned
  const tag = Buffer.concat([
    Buffer.from([0x49, 0x44, 0x33, 4, 0, 0x10, 0, 0, 0, body.length]),
    body,
    Buffer.alloc(10) // the footer
  ]);
  const info = ZB.mp3Info(Buffer.concat([tag, frame(true, 0), frame(true, 0)]));
  assert.equal(info.frames, 2);
  assert.equal(info.channels, 1);
});

test("what holds no MPEG audio has no facts", () => {
  assert.equal(ZB.mp3Info(new ArrayBuffer(0)), null);
  assert.equal(ZB.mp3Info(Buffer.from("RIFF....WAVEfmt ")), null);
  assert.equal(ZB.mp3Info(Buffer.alloc(2000, 0xff)), null); // free-format and bad rates only
  // Layer II frames are not a ringtone's.
  const layer2 = frame(false, 0);
  layer2[1] = 0xfd;
  assert.equal(ZB.mp3Info(Buffer.concat([layer2, layer2])), null);
});
