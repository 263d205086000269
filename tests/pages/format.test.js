// Paths, formatting, the CD listing and drops, as the pages show and use them.
"use strict";

const test = require("node:test");
const assert = require("node:assert/strict");
const {loadPageScripts} = require("./load.js");

const ZB = loadPageScripts("status.js", "helpers.js");

test("the shared values are frozen and each job's codes are distinct", () => {
  const S = ZB.status;
  assert.ok(Object.isFrozen(S));
  for (const kind of ["http", "transcode", "upload", "grab", "normalize"]) {
    assert.ok(Object.isFrozen(S[kind]), kind);
    const values = Object.values(S[kind]);
    assert.equal(new Set(values).size, values.length, kind);
  }
  // The grab's failures are the run 201 to 210, in the program's order.
  const failures = Object.values(S.grab).filter((v) => v !== S.grab.DONE);
  assert.deepEqual(failures, [201, 202, 203, 204, 205, 206, 207, 208, 209, 210]);
  assert.equal(S.versionCode, "260");
  assert.equal(S.affiliateCode, "2");
});

test("durations round to whole seconds as m:ss", () => {
  assert.equal(ZB.formatDuration(0), "0:00");
  assert.equal(ZB.formatDuration(6.04), "0:06");
  assert.equal(ZB.formatDuration(59.5), "1:00");
  assert.equal(ZB.formatDuration(300), "5:00");
  assert.equal(ZB.formatDuration(3725), "62:05");
  // What is not a length shows as nothing played.
  assert.equal(ZB.formatDuration(-3), "0:00");
  assert.equal(ZB.formatDuration(NaN), "0:00");
  assert.equal(ZB.formatDuration(undefined), "0:00");
});

test("sizes are bytes, KB or MB in steps of 1000, never 1000 KB", () => {
  assert.equal(ZB.formatSize(0), "0 bytes");
  assert.equal(ZB.formatSize(999), "999 bytes");
  assert.equal(ZB.formatSize(1000), "1 KB");
  assert.equal(ZB.formatSize(480500), "481 KB");
  assert.equal(ZB.formatSize(999499), "999 KB");
  assert.equal(ZB.formatSize(999500), "1.0 MB");
  assert.equal(ZB.formatSize(2345678), "2.3 MB");
  assert.equal(ZB.formatSize("x"), "0 bytes");
});

test("a progress value is a whole percentage from 0 to 100", () => {
  assert.equal(ZB.wholePercent(42.5), 43);
  assert.equal(ZB.wholePercent(-1), 0);
  assert.equal(ZB.wholePercent(101), 100);
  assert.equal(ZB.wholePercent("7"), 7);
  assert.equal(ZB.wholePercent(null), 0);
});

test("the CD listing: drives and tracks, or a sentence for its error", () => {
  assert.deepEqual(ZB.cdList("Disc One:::"), {error: null, items: ["Disc One", ""]});
  assert.deepEqual(ZB.cdList("DATA:::375:::225"), {error: null, items: ["DATA", "375", "225"]});
  assert.match(ZB.cdList("ERROR: No CD inserted").error, /no disc in this drive/);
  assert.deepEqual(ZB.cdList("ERROR: No CD inserted").items, []);
  assert.equal(
    ZB.cdListError("ERROR: Drive on fire"),
    "The CD drive reported a problem: Drive on fire. Click Refresh to try again."
  );
  assert.equal(ZB.cdListError("ERROR:"), "The CD drive reported a problem. Click Refresh to try again.");
  // Only a text that begins with the marker is an error.
  assert.equal(ZB.cdListError("Track ERROR: 1"), null);

  assert.equal(ZB.trackLength("375"), "0:05");
  assert.equal(ZB.trackLength("DATA"), "Data track \u2013 cannot be used");
  assert.equal(ZB.blocksToSeconds(75), 1);
  assert.equal(ZB.driveName("", 1), "CD drive 2");
  assert.equal(ZB.driveName("HL-DT-ST DVDRAM", 0), "HL-DT-ST DVDRAM");
});

test("file names and folders of paths", () => {
  assert.equal(ZB.baseName("/home/ann/My Song.wav"), "My Song.wav");
  assert.equal(ZB.baseName("song.mp3"), "song.mp3");
  assert.equal(ZB.baseName(null), "");
  assert.equal(ZB.dirName("/home/ann/My Song.wav"), "/home/ann");
  assert.equal(ZB.dirName("/song.mp3"), "/");
  assert.equal(ZB.dirName("song.mp3"), "");
  assert.equal(ZB.pageFolder("/opt/zimbrel/res/selectSong.html"), "/opt/zimbrel/res");
  assert.equal(ZB.pageFolder("/home/ann/Zimbrel%20Home/res/selectSong.html"), "/home/ann/Zimbrel Home/res");
  // A bad escape is left as it is rather than losing the folder.
  assert.equal(ZB.pageFolder("/a/100%/res/selectSong.html"), "/a/100%/res");
});

test("file URLs and paths convert both ways, whatever the name holds", () => {
  for (const path of ["/a/b c.mp3", "/a/100% #1?.wav", "/m\u00fcsik/\u266b.ogg", "/"]) {
    const url = ZB.fileUrl(path);
    assert.match(url, /^file:\/\/\//);
    assert.equal(ZB.pathFromFileUrl(url), path);
  }
  assert.equal(ZB.pathFromFileUrl("file://localhost/tmp/x.mp3"), "/tmp/x.mp3");
  assert.equal(ZB.pathFromFileUrl(" FILE:///tmp/x.mp3 "), "/tmp/x.mp3");
  assert.equal(ZB.pathFromFileUrl("file:///tmp/x.mp3?q#f"), "/tmp/x.mp3");
  assert.equal(ZB.pathFromFileUrl("http://example.com/x.mp3"), "");
  assert.equal(ZB.pathFromFileUrl("file://host/x.mp3"), "");
  assert.equal(ZB.pathFromFileUrl("file:///bad%zz"), "");
});

test("a drop gives the first file of its list, or nothing", () => {
  assert.equal(ZB.droppedPath("file:///home/ann/a%20b.mp3\r\nfile:///c.mp3\r\n"), "/home/ann/a b.mp3");
  assert.equal(ZB.droppedPath("# from the file manager\nfile:///c.mp3"), "/c.mp3");
  assert.equal(ZB.droppedPath("  /plain/path.wav  "), "/plain/path.wav");
  // The first entry decides: a web address or a relative name is no file.
  assert.equal(ZB.droppedPath("https://example.com/song.mp3\nfile:///c.mp3"), "");
  assert.equal(ZB.droppedPath("song.mp3"), "");
  assert.equal(ZB.droppedPath(""), "");
  assert.equal(ZB.droppedPath(undefined), "");
});
