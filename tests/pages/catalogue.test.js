// The pages' catalogues against the pages: every text a person reads or
// hears in res/ (the ZB.t calls of the scripts, the text and the spoken
// attributes of the markup) has an entry in every catalogue, no entry is
// left over from a text that is gone, and an entry keeps its {names} and its
// markup. Also the language choice and the lookup itself.
"use strict";

const test = require("node:test");
const assert = require("node:assert/strict");
const fs = require("node:fs");
const path = require("node:path");
const vm = require("node:vm");
const {loadPageScripts} = require("./load.js");

const RES = path.join(__dirname, "..", "..", "res");
const ZB = loadPageScripts("status.js", "i18n.js", "helpers.js");

// ---------- The scripts ----------

function scriptFiles() {
  const files = [];
  for (const dir of [RES, path.join(RES, "steps")]) {
    for (const name of fs.readdirSync(dir).sort()) {
      if (name.endsWith(".js")) {
        files.push(path.join(dir, name));
      }
    }
  }
  return files;
}

// The English texts of the t("…") and ZB.t("…") calls of a script whose first
// argument is a string literal or literals joined with +.
const LITERAL = String.raw`"(?:[^"\\\n]|\\.)*"`;
const CALL = new RegExp(String.raw`(?<![\w$.])(?:ZB\.)?t\(\s*(` + LITERAL + String.raw`(?:\s*\+\s*` +
  LITERAL + String.raw`)*)\s*[,)]`, "g");

function scriptTexts(source) {
  const texts = [];
  for (const m of source.matchAll(CALL)) {
    texts.push(vm.runInNewContext(m[1]));
  }
  return texts;
}

// ---------- The markup ----------

const ENTITIES = {
  hellip: "\u2026", rsquo: "\u2019", lsquo: "\u2018", ldquo: "\u201c", rdquo: "\u201d",
  ndash: "\u2013", mdash: "\u2014", nbsp: "\u00a0", copy: "\u00a9", times: "\u00d7",
  rarr: "\u2192", larr: "\u2190", uarr: "\u2191", darr: "\u2193", amp: "&", lt: "<", gt: ">", quot: '"', apos: "'"
};

function decode(text) {
  return text.replace(/&(#x[0-9a-f]+|#\d+|\w+);/gi, (whole, name) => {
    if (name[0] === "#") {
      return String.fromCodePoint(name[1] === "x" ? parseInt(name.slice(2), 16) : Number(name.slice(1)));
    }
    assert.ok(name in ENTITIES, "unknown entity " + whole);
    return ENTITIES[name];
  });
}

// Inner HTML as the browser gives it back: named characters as themselves,
// but &, <, > and the no-break space escaped; runs of blanks as one.
function serialized(html) {
  return decode(html)
    .replace(/&/g, "&amp;").replace(/\u00a0/g, "&nbsp;")
    .replace(/<(?![a-z/!])/gi, "&lt;")
    .replace(/(^|[^"=\w/-])>/g, "$1&gt;")
    .replace(/\s+/g, " ").trim();
}

const VOID = new Set(["area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta",
  "source", "track", "wbr", "use", "path", "circle", "rect"]);
const SKIPPED = new Set(["script", "style", "svg"]);
const SPOKEN = ["aria-label", "aria-valuetext", "alt", "title", "placeholder"];
const INLINE = new Set(["a", "b", "i", "em", "strong", "kbd", "code", "abbr"]);
const hasWords = (s) => /\p{L}/u.test(s);

function attributes(tag) {
  const attrs = {};
  for (const m of tag.matchAll(/([\w:-]+)(?:\s*=\s*("[^"]*"|'[^']*'|[^\s>]+))?/g)) {
    attrs[m[1].toLowerCase()] = m[2] ? decode(m[2].replace(/^["']|["']$/g, "")) : "";
  }
  return attrs;
}

// What a page's markup gives the translator: {texts: [{text, where}],
// unmarked: [sentences split by inline markup outside data-i18n]}.
function markupTexts(html, file) {
  const texts = [];
  const unmarked = [];
  // The open elements: {name, skip, whole (data-i18n start), words, inline}.
  const stack = [{name: "#root", skip: false, words: false, inlineWords: false}];
  const top = () => stack[stack.length - 1];
  const tokens = /<!--[\s\S]*?-->|<!doctype[^>]*>|<\/?([a-zA-Z][\w-]*)((?:[^>"']|"[^"]*"|'[^']*')*)>|[^<]+/gi;
  let m;
  while ((m = tokens.exec(html)) !== null) {
    const token = m[0];
    if (token.startsWith("<!")) {
      continue;
    }
    if (!m[1]) {
      const text = decode(token).replace(/\s+/g, " ").trim();
      if (text && hasWords(text) && !top().skip && !top().whole) {
        texts.push({text, where: file});
        top().words = true;
      }
      continue;
    }
    const name = m[1].toLowerCase();
    if (token.startsWith("</")) {
      while (stack.length > 1) {
        const closed = stack.pop();
        if (closed.name === name) {
          if (closed.start !== undefined) {
            const inner = html.substring(closed.start, m.index);
            texts.push({text: serialized(inner), where: file, markup: true});
          } else if (closed.words && closed.inlineWords) {
            unmarked.push(file + ": <" + name + "> mixes text with inline markup; mark it data-i18n");
          }
          if (INLINE.has(name) && closed.words) {
            top().inlineWords = true;
          }
          break;
        }
      }
      continue;
    }
    const attrs = attributes(m[2]);
    const parent = top();
    const skip = parent.skip || SKIPPED.has(name) || attrs.translate === "no";
    if (!skip && !parent.whole) {
      for (const a of SPOKEN) {
        if (a in attrs && hasWords(attrs[a])) {
          texts.push({text: attrs[a].replace(/\s+/g, " ").trim(), where: file + " [" + a + "]"});
        }
      }
    }
    if (VOID.has(name) || token.endsWith("/>")) {
      continue;
    }
    const element = {name, skip, words: false, inlineWords: false, whole: parent.whole};
    if ("data-i18n" in attrs && !skip && !parent.whole) {
      element.start = m.index + token.length;
      element.whole = true;
    }
    stack.push(element);
  }
  return {texts, unmarked};
}

function pageTexts() {
  const texts = [];
  const unmarked = [];
  for (const file of scriptFiles()) {
    for (const text of scriptTexts(fs.readFileSync(file, "utf8"))) {
      texts.push({text, where: path.relative(RES, file)});
    }
  }
  for (const name of fs.readdirSync(RES).filter((n) => n.endsWith(".html")).sort()) {
    const found = markupTexts(fs.readFileSync(path.join(RES, name), "utf8"), name);
    texts.push(...found.texts);
    unmarked.push(...found.unmarked);
  }
  return {texts, unmarked};
}

function catalogue(code) {
  const sandbox = {ZB: {}};
  const file = path.join(RES, "i18n", code + ".js");
  vm.runInNewContext(fs.readFileSync(file, "utf8"), sandbox, {filename: file});
  return sandbox.ZB.catalogue;
}

const names = (s) => (s.match(/\{\w+\}/g) || []).sort();
const tags = (s) => (s.match(/<\/?[a-z]+(?:\s+href="[^"]*")?/gi) || []).sort();

// ---------- Tests ----------

test("the markup is found as the browser reads it", () => {
  const found = markupTexts(
    '<title>About</title><p aria-label="Help">A &amp; B&hellip;</p>' +
      '<p data-i18n>Press <b>OK</b> &rsquo;now&rsquo; &gt; <a href="#x">here</a></p>' +
      '<span translate="no">Zimbrel</span><svg><text>x</text></svg><p>Go <b>on</b></p>',
    "t.html");
  assert.deepEqual(found.texts.map((t) => t.text), [
    "About", "Help", "A & B\u2026",
    "Press <b>OK</b> \u2019now\u2019 &gt; <a href=\"#x\">here</a>"
  ].concat(["Go", "on"]));
  assert.equal(found.unmarked.length, 1);
  assert.deepEqual(scriptTexts('x = ZB.t("a " +\n  "b", {n: 1}); y = t("c"); z = at("no"); w = ZB.t(v);'),
    ["a b", "c"]);
});

test("every page text has an entry in every catalogue, and none is stale", () => {
  const {texts, unmarked} = pageTexts();
  assert.deepEqual(unmarked, []);
  assert.ok(texts.length > 200, "the pages' texts were not found");
  const english = new Set(texts.map((t) => t.text));
  for (const code of ZB.catalogues) {
    const table = catalogue(code);
    const missing = texts.filter((t) => !Object.prototype.hasOwnProperty.call(table, t.text))
      .map((t) => t.where + ": " + JSON.stringify(t.text));
    assert.deepEqual([...new Set(missing)], [], code + ": texts without a translation");
    const stale = Object.keys(table).filter((k) => !english.has(k));
    assert.deepEqual(stale, [], code + ": entries no page uses");
    for (const [en, said] of Object.entries(table)) {
      assert.ok(said.trim(), code + ": empty entry for " + JSON.stringify(en));
      assert.deepEqual(names(said), names(en), code + ": {names} of " + JSON.stringify(en));
      assert.deepEqual(tags(said), tags(en), code + ": markup of " + JSON.stringify(en));
    }
  }
});

test("the catalogues listed are the catalogues there", () => {
  const files = fs.readdirSync(path.join(RES, "i18n")).filter((n) => n.endsWith(".js"))
    .map((n) => n.slice(0, -3)).sort();
  assert.deepEqual(files, [...ZB.catalogues].sort());
});

test("the language is the first of the user's that the pages speak", () => {
  assert.equal(ZB.pickLanguage(["de-DE", "de", "en-US"]), "de");
  assert.equal(ZB.pickLanguage(["fr-FR", "de-AT"]), "de");
  assert.equal(ZB.pickLanguage(["en-GB", "de"]), "en");
  assert.equal(ZB.pickLanguage(["fr", "es"]), "en");
  assert.equal(ZB.pickLanguage([undefined]), "en");
  assert.equal(ZB.pickLanguage([]), "en");
});

test("numbers are written as the page's language writes them", () => {
  const info = {kbps: 64, sampleRate: 44100, channels: 2};
  assert.equal(ZB.formatSize(1049999), "1.0 MB");
  assert.equal(ZB.mp3Quality(info), "64 kbit/s, 44.1 kHz, stereo");
  try {
    ZB.language = "de";
    ZB.catalogue = {stereo: "Stereo"};
    assert.equal(ZB.formatSize(1049999), "1,0 MB");
    assert.equal(ZB.formatSize(12345678), "12,3 MB");
    assert.equal(ZB.mp3Quality(info), "64 kbit/s, 44,1 kHz, Stereo");
  } finally {
    ZB.language = undefined;
    ZB.catalogue = undefined;
  }
});

test("a text is looked up, filled in, and English without a catalogue", () => {
  const saved = ZB.catalogue;
  try {
    ZB.catalogue = undefined;
    assert.equal(ZB.t("Track {n}", {n: 3}), "Track 3");
    ZB.catalogue = {"Track {n}": "Titel {n}", "{a} of {b}": "{b}: {a}"};
    assert.equal(ZB.t("Track {n}", {n: 3}), "Titel 3");
    assert.equal(ZB.t("{a} of {b}", {a: "{b}", b: "$&"}), "$&: {b}");
    assert.equal(ZB.t("Not there {n}", {}), "Not there {n}");
    assert.equal(ZB.t("constructor"), "constructor");
  } finally {
    ZB.catalogue = saved;
  }
});
