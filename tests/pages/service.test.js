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

test("the share answer becomes a link as text and a QR code shown as an image", () => {
  const svg = '<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 29 29"><path d="M0 0h7"/></svg>';
  const a = ZB.shareAnswer(JSON.stringify({url: "http://192.168.1.20:41234/s/abc", expires: 899.6, qrSvg: svg}));
  assert.equal(a.url, "http://192.168.1.20:41234/s/abc");
  assert.equal(a.expires, 899);
  assert.equal(a.port, 41234);
  assert.equal(a.qrSrc, "data:image/svg+xml;charset=utf-8," + encodeURIComponent(svg));
  // Nothing of the SVG is left unescaped in the address: it cannot end the
  // attribute or carry a second URL.
  assert.doesNotMatch(a.qrSrc.substring(a.qrSrc.indexOf(",") + 1), /[<>"' #]/);
  assert.equal(ZB.shareAnswer(JSON.stringify({url: "http://[fd00::5]/s/x", expires: 5, qrSvg: svg})).port, 80);
  // The service's sentences (no delivery yet, no network address) and the
  // request's own failures are shown as they are; anything else is odd.
  assert.deepEqual(ZB.shareAnswer('{"error": "Nothing has been delivered yet."}'), {
    error: "Nothing has been delivered yet."
  });
  assert.match(ZB.shareAnswer("ERROR:XMLHTTP:Send").error, /could not be reached/);
  assert.equal(ZB.shareAnswer("").error, ZB.messages.noAnswer);
  for (const bad of [
    "<html>",
    "[]",
    JSON.stringify({url: ["java", "script:alert(1)"].join(""), expires: 5, qrSvg: svg}),
    JSON.stringify({url: "http://h/x y", expires: 5, qrSvg: svg}),
    JSON.stringify({url: "http://h/x", expires: 5, qrSvg: "<img src=x onerror=alert(1)>"}),
    JSON.stringify({url: "http://h/x", expires: 5})
  ]) {
    assert.equal(ZB.shareAnswer(bad).error, ZB.messages.oddAnswer, bad);
  }
  assert.equal(ZB.shareAnswer(JSON.stringify({url: "http://h/x", expires: "soon", qrSvg: svg})).expires, 0);
});

test("phones, pushes and the paths that ask for them", () => {
  assert.equal(ZB.sharePath("a b&c"), "/cgi-bin/zbl_share.cgi?sid=a%20b%26c");
  assert.equal(ZB.pushPath("s1", "dev/1&x"), "/cgi-bin/zbl_push.cgi?sid=s1&device=dev%2F1%26x");
  assert.deepEqual(
    ZB.devicesAnswer(
      JSON.stringify([
        {id: "a1", name: "<b>Pixel</b>", via: "kdeconnect"},
        {id: "g2", name: "  ", via: "gsconnect"},
        {id: "", name: "no id"},
        {name: "no id either"},
        null,
        {id: 7, name: "number id"}
      ])
    ),
    {
      phones: [
        {id: "a1", name: "<b>Pixel</b>", via: "KDE Connect"},
        {id: "g2", name: "g2", via: "GSConnect"}
      ]
    }
  );
  assert.deepEqual(ZB.devicesAnswer("[]"), {phones: []});
  assert.equal(ZB.devicesAnswer('{"error": "busy"}').error, "busy");
  assert.deepEqual(ZB.pushAnswer('{"ok": true}'), {ok: true});
  assert.deepEqual(ZB.pushAnswer('{"ok": "yes"}'), {error: ZB.messages.oddAnswer});
  assert.deepEqual(ZB.pushAnswer('{"error": "The phone is not reachable."}'), {
    error: "The phone is not reachable."
  });
});

test("the time a link has left and what the phone must be on", () => {
  assert.equal(ZB.timeLeft(900), "The link works for 15 more minutes.");
  assert.equal(ZB.timeLeft(89), "The link works for 1 more minute.");
  assert.equal(ZB.timeLeft(59.5), "The link works for less than a minute more.");
  assert.equal(ZB.timeLeft(0), "The link has expired. Send the ringtone again for a new one.");
  assert.equal(ZB.timeLeft(-3), ZB.timeLeft(0));
  assert.match(ZB.shareAdvice(41234), /same Wi-Fi.*guest network.*TCP port 41234\./);
});

test("an upload the service has no room for gets its own sentence", () => {
  assert.equal(typeof S.upload.REFUSED, "number");
  assert.notEqual(S.upload.REFUSED, S.upload.FAILED);
  assert.match(ZB.messages.uploadRefused, /no room/);
});
