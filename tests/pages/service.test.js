// What the pages send to the service and make of its answers, and the
// sentences for the results of the program's jobs.
"use strict";

const test = require("node:test");
const assert = require("node:assert/strict");
const {loadPageScripts} = require("./load.js");

const ZB = loadPageScripts("status.js", "helpers.js");
const S = ZB.status;

test("the redirect encoding keeps letters and digits only, as the program does", () => {
  assert.equal(ZB.urlEncode("phone:+447700900123"), "phone%3A%2B447700900123");
  assert.equal(ZB.urlEncode("a b\tc\nd"), "a+b+c+d");
  assert.equal(ZB.urlEncode("-_.~"), "%2D%5F%2E%7E");
  assert.equal(ZB.urlEncode("\u00e9"), "%C3%A9");
  assert.equal(ZB.urlEncode("\ud83c\udfb5"), "%F0%9F%8E%B5");
  assert.equal(ZB.urlEncode(""), "");
  assert.equal(ZB.urlEncode(260), "260");
  // Half a UTF-16 pair is replaced, never thrown over.
  assert.equal(ZB.urlEncode("a\ud83cb"), "a%EF%BF%BDb");
  assert.equal(ZB.urlEncode("\udfb5"), "%EF%BF%BD");
});

test("the address of the service's page for a phone", () => {
  assert.equal(
    ZB.redirectUrl("http://127.0.0.1:8765/", S.versionCode, "phone:+447700900123"),
    "http://127.0.0.1:8765/redir.php?ver=260&aff=2&where=phone%3A%2B447700900123"
  );
  assert.equal(ZB.redirectUrl("", "260", "phone:+1"), "");
});

test("the session request carries the profile, escaped", () => {
  assert.equal(
    ZB.sessionPath({name: "Ann & Bo", phone: "+447700900123", network: "Tell=wave"}),
    "/cgi-bin/zbl_session.cgi?name=Ann%20%26%20Bo&phone=%2B447700900123&network=Tell%3Dwave"
  );
  // A pasted half of a UTF-16 pair does not stop the request.
  assert.equal(
    ZB.sessionPath({name: "A\ud800", phone: "+1", network: "N"}),
    "/cgi-bin/zbl_session.cgi?name=A%EF%BF%BD&phone=%2B1&network=N"
  );
});

test("the session answer: a session id, or a sentence for the user", () => {
  assert.deepEqual(ZB.sessionAnswer("OK 5f3a9c\n"), {sid: "5f3a9c"});
  assert.deepEqual(ZB.sessionAnswer("  OK\tabc def"), {sid: "abc"});
  assert.deepEqual(ZB.sessionAnswer("ERROR: unknown network"), {
    error: "The ringtone service refused the request: unknown network"
  });
  assert.deepEqual(ZB.sessionAnswer("ERROR"), {
    error: "The ringtone service refused the request. Check your details and try again."
  });
  assert.match(ZB.sessionAnswer("ERROR:XMLHTTP:Send").error, /could not be reached/);
  assert.match(ZB.sessionAnswer("ERROR:XMLHTTP:Open").error, /address of the ringtone service/);
  assert.match(ZB.sessionAnswer("ERROR:XMLHTTP:CoCreateInstance").error, /Restart Zimbrel/);
  // A step the page does not know reads as the service not reached.
  assert.match(ZB.sessionAnswer("ERROR:XMLHTTP:Whatever").error, /could not be reached/);
  assert.deepEqual(ZB.sessionAnswer(""), {error: ZB.messages.noAnswer});
  assert.deepEqual(ZB.sessionAnswer(null), {error: ZB.messages.noAnswer});
  assert.deepEqual(ZB.sessionAnswer(undefined), {error: ZB.messages.noAnswer});
  for (const odd of ["OK", "OKAY abc", "ERRORS happen", "<html>502</html>"]) {
    assert.deepEqual(ZB.sessionAnswer(odd), {error: ZB.messages.oddAnswer}, odd);
  }
});

test("every failure code of a job has its sentence; unknown codes are named", () => {
  for (const [name, code] of Object.entries(S.grab)) {
    if (code !== S.grab.DONE) {
      assert.doesNotMatch(ZB.grabMessage(code), /\(code/, name);
    }
  }
  assert.equal(ZB.grabMessage(S.grab.CANCELLED), "Copying the track was cancelled.");
  assert.equal(ZB.grabMessage(299), "Zimbrel could not copy the track from the CD (code 299).");
  for (const code of [S.normalize.REMOVE_FAILED, S.normalize.ADJUST_FAILED, S.normalize.RAISE_FAILED]) {
    assert.doesNotMatch(ZB.normalizeMessage(code), /code/);
  }
  assert.match(ZB.normalizeMessage(7), /ended with code 7\)\.$/);
});
