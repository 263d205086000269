/*
 * The values the program and its pages share: the status values of each
 * background job, the version code and the affiliate code. Pages use these
 * names, never the numbers.
 *
 * Written by hand for now; it is to be generated at build time from the
 * program's own definitions (into build/res/), so keep to this shape: one
 * frozen object per job kind, upper-case names, plain numbers and strings.
 * Loaded first by every page.
 */
/* exported ZB */
"use strict";

var ZB = window.ZB || {};

ZB.status = Object.freeze({
  // ZBL_xhStatus: 0 while the request runs, 1 once it has ended (whether it
  // succeeded or not: ZBL_xhResponse tells).
  http: Object.freeze({RUNNING: 0, DONE: 1}),

  // ZBL_tsStatus.
  transcode: Object.freeze({RUNNING: 0, DONE: 1, FAILED: 2}),

  // ZBL_upStatus: 0 to 99 is the percentage sent.
  upload: Object.freeze({DONE: 100, FAILED: 101}),

  // ZBL_ripStatus: 0 to 99 is the percentage copied.
  grab: Object.freeze({
    DONE: 100,
    BAD_DRIVE: 201,
    NO_HANDLE: 202,
    NO_DISC: 203,
    BAD_TRACK: 204,
    ONE_TRACK_DISC: 205,
    DATA_TRACK: 206,
    NO_MEMORY: 207,
    CANNOT_WRITE: 208,
    READ_FAILED: 209,
    CANCELLED: 210
  }),

  // ZBL_norStatus: the three mp3gain runs (remove the stored gain, apply the
  // track gain, raise by a fixed step), each under way or failed.
  normalize: Object.freeze({
    STARTED: 0,
    REMOVING: 10,
    ADJUSTING: 30,
    RAISING: 80,
    DONE: 100,
    REMOVE_FAILED: 201,
    ADJUST_FAILED: 202,
    RAISE_FAILED: 203
  }),

  // What ZBL_GetVersion answers, and the affiliate code the program sends
  // with the service's addresses.
  versionCode: "260",
  affiliateCode: "2"
});
