// The rules the start page's steps draw by: the marks of the making steps,
// the profile check, the song and ringtone names; the help pages'
// compatibility verdict and section keys; and how the steps are wired.
"use strict";

const test = require("node:test");
const assert = require("node:assert/strict");
const fs = require("node:fs");
const path = require("node:path");
const {loadPageScripts} = require("./load.js");

const ZB = loadPageScripts("status.js", "helpers.js");
const N = ZB.status.normalize;

test("converting: under way, failed, or cancelled with nothing marked", () => {
  assert.deepEqual(ZB.makeMarks("convert", 0, ""), {stConvert: "active"});
  assert.deepEqual(ZB.makeMarks("convert", 2, "failed"), {stConvert: "failed"});
  assert.deepEqual(ZB.makeMarks("convert", 0, "cancelled"), {});
});

test("a work folder that cannot be written is not blamed on the song", () => {
  const T = ZB.status.transcode;
  assert.equal(ZB.transcodeMessage(T.CANNOT_WRITE), ZB.messages.workFolder);
  assert.match(ZB.messages.workFolder, /work folder/);
  assert.doesNotMatch(ZB.messages.workFolder, /damaged/);
  assert.equal(ZB.transcodeMessage(T.FAILED), ZB.messages.transcodeFailed);
  assert.equal(ZB.transcodeMessage(99), ZB.messages.transcodeFailed);
});

test("evening out the loudness follows the three runs of the job", () => {
  assert.deepEqual(ZB.makeMarks("loudness", N.REMOVING, ""), {
    stConvert: "done", stLoud: "active", stNor1: "active"
  });
  assert.deepEqual(ZB.makeMarks("loudness", N.STARTED, ""), ZB.makeMarks("loudness", N.REMOVING, ""));
  assert.deepEqual(ZB.makeMarks("loudness", N.ADJUSTING, ""), {
    stConvert: "done", stLoud: "active", stNor1: "done", stNor2: "active"
  });
  assert.deepEqual(ZB.makeMarks("loudness", N.RAISING, ""), {
    stConvert: "done", stLoud: "active", stNor1: "done", stNor2: "done", stNor3: "active"
  });
  assert.deepEqual(ZB.makeMarks("loudness", N.DONE, ""), {
    stConvert: "done", stLoud: "done", stNor1: "done", stNor2: "done", stNor3: "done"
  });
  // A failed run is marked, with the runs before it done.
  assert.deepEqual(ZB.makeMarks("loudness", N.ADJUST_FAILED, "failed"), {
    stConvert: "done", stLoud: "failed", stNor1: "done", stNor2: "failed"
  });
  assert.deepEqual(ZB.makeMarks("loudness", N.RAISE_FAILED, "failed"), {
    stConvert: "done", stLoud: "failed", stNor1: "done", stNor2: "done", stNor3: "failed"
  });
  // A code the page does not know still says the loudness failed.
  assert.deepEqual(ZB.makeMarks("loudness", 250, "failed"), {stConvert: "done", stLoud: "failed"});
});

test("a cancel keeps what was done and marks no failure", () => {
  // The job publishes the failure code of the run it stopped.
  assert.deepEqual(ZB.makeMarks("loudness", N.RAISE_FAILED, "cancelled"), {
    stConvert: "done", stLoud: "", stNor1: "done", stNor2: "done", stNor3: ""
  });
  assert.deepEqual(ZB.makeMarks("loudness", N.REMOVE_FAILED, "cancelled"), {
    stConvert: "done", stLoud: "", stNor1: ""
  });
  assert.deepEqual(ZB.makeMarks("loudness", 250, "cancelled"), {stConvert: "done"});
  // The table the marks come from is not changed by a cancel.
  assert.equal(ZB.makeMarks("loudness", N.RAISE_FAILED, "failed").stNor3, "failed");
});

test("only the statuses of runs under way keep the page polling", () => {
  const running = Object.values(N).filter(ZB.isNormalizing);
  assert.deepEqual(running, [N.STARTED, N.REMOVING, N.ADJUSTING, N.RAISING]);
  assert.equal(ZB.isNormalizing("10"), false);
});

const good = {name: " Ann Example ", phone: " +44 7700 900123 ", network: "Tellwave"};

test("a complete profile is kept trimmed with the number cleaned", () => {
  assert.deepEqual(ZB.checkProfile(good), {
    errors: {name: "", phone: "", network: ""},
    profile: {name: "Ann Example", phone: "+447700900123", network: "Tellwave"}
  });
  assert.equal(ZB.checkProfile({...good, phone: "(0) 20-7946.0018"}).profile.phone, "02079460018");
  assert.equal(ZB.cleanPhone(" +1 (555) 010-0000 "), "+15550100000");
});

test("each field that is not right gets its sentence, and nothing is kept", () => {
  const empty = ZB.checkProfile({name: "  ", phone: "", network: "\t"});
  assert.equal(empty.profile, null);
  assert.match(empty.errors.name, /^Enter your name/);
  assert.match(empty.errors.phone, /^Enter your mobile phone number/);
  assert.match(empty.errors.network, /^Enter your mobile network/);
  // Missing fields read as empty.
  assert.deepEqual(ZB.checkProfile({}).errors, empty.errors);

  const phone = (p) => ZB.checkProfile({...good, phone: p});
  assert.match(phone("+44 7700 9OO123").errors.phone, /only digits/);
  assert.match(phone("44+7700900123").errors.phone, /only digits/);
  assert.match(phone("123 456").errors.phone, /too short/);
  assert.equal(phone("1234567").errors.phone, "");
  assert.equal(phone("+123456789012345").errors.phone, "");
  assert.match(phone("+1234567890123456").errors.phone, /too long/);
  assert.deepEqual(phone("123").errors.name, "");
  assert.equal(phone("123").profile, null);
});

test("songs and the ringtone's name", () => {
  const song = ZB.fileSong("/home/ann/Music/My Song.wav");
  assert.deepEqual(song, {
    kind: "file", path: "/home/ann/Music/My Song.wav", name: "My Song.wav", where: "in /home/ann/Music"
  });
  assert.equal(ZB.ringtoneName(song), "My Song (MP3)");
  assert.equal(ZB.fileSong("song.mp3").where, "");
  assert.equal(ZB.ringtoneName(ZB.fileSong("/a/live.2020.flac")), "live.2020 (MP3)");
  // A long "extension" is part of the name; a name that is all extension
  // stays whole.
  assert.equal(ZB.ringtoneName(ZB.fileSong("/a/Take.Five-final")), "Take.Five-final (MP3)");
  assert.equal(ZB.ringtoneName(ZB.fileSong("/a/.mp3")), ".mp3 (MP3)");

  const cd = ZB.cdSong(1, "CD drive 2", 2, "/res/tmp/cd-track-1.wav");
  assert.deepEqual(cd, {
    kind: "cd",
    path: "/res/tmp/cd-track-1.wav",
    name: "Track 3 of the audio CD",
    where: "in CD drive 2",
    cd: {drive: 1, track: 2}
  });
  assert.equal(ZB.ringtoneName(cd), "Track 3 of the audio CD (MP3)");
});

test("the compatibility verdict: the first 'no' decides, then open, then unsure", () => {
  assert.deepEqual(ZB.phoneVerdict(["yes", "yes", "yes"]), {kind: "yes", tone: "notice-success"});
  assert.deepEqual(ZB.phoneVerdict(["no", "no", ""]), {kind: "noMp3", tone: "notice-error"});
  assert.deepEqual(ZB.phoneVerdict(["", "no", "no"]), {kind: "noMessages", tone: "notice-warning"});
  assert.deepEqual(ZB.phoneVerdict(["unsure", "yes", "no"]), {kind: "noRingtone", tone: "notice-warning"});
  assert.deepEqual(ZB.phoneVerdict(["unsure", "", "yes"]), {kind: "open", tone: ""});
  assert.deepEqual(ZB.phoneVerdict(["yes", "unsure", "yes"]), {kind: "unsure", tone: "notice-warning"});
});

test("the help sections' keys wrap around the list", () => {
  assert.equal(ZB.sectionForKey("ArrowDown", 3, 4), 0);
  assert.equal(ZB.sectionForKey("ArrowRight", 1, 4), 2);
  assert.equal(ZB.sectionForKey("ArrowUp", 0, 4), 3);
  assert.equal(ZB.sectionForKey("ArrowLeft", 2, 4), 1);
  assert.equal(ZB.sectionForKey("Home", 2, 4), 0);
  assert.equal(ZB.sectionForKey("End", 0, 4), 3);
  assert.equal(ZB.sectionForKey("a", 0, 4), -1);
});

test("each step is given exactly the steps it hands over to, and reaches no other", () => {
  const res = path.join(__dirname, "..", "..", "res");
  const start = fs.readFileSync(path.join(res, "selectSong.js"), "utf8");
  const given = {};
  for (const m of start.matchAll(/steps\.(\w+)\.init\(\{([^}]*)\}\)/g)) {
    given[m[1]] = m[2].split(",").map((pair) => pair.split(":")[0].trim()).sort();
  }
  const files = fs.readdirSync(path.join(res, "steps")).filter((f) => f.endsWith(".js"));
  assert.deepEqual(Object.keys(given).sort(), files.map((f) => f.replace(/\.js$/, "")).sort());
  for (const file of files) {
    const step = file.replace(/\.js$/, "");
    const code = fs.readFileSync(path.join(res, "steps", file), "utf8");
    const used = [...new Set([...code.matchAll(/\bnext\.(\w+)\./g)].map((m) => m[1]))].sort();
    assert.deepEqual(used, given[step], file);
    const reached = [...code.matchAll(/ZB\.steps\.(\w+)(\s*=)?/g)].filter((m) => !(m[1] === step && m[2]));
    assert.deepEqual(reached.map((m) => m[0]), [], file + " reaches another step by itself");
  }
});
