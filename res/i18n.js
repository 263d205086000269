/*
 * The pages' language. Loaded before helpers.js: picks the first of the
 * user's languages (navigator.languages, which the program sets from the
 * locale) that has a catalogue in i18n/, and has the parser load that
 * catalogue next, so that every later script finds ZB.catalogue filled.
 * English needs none; a catalogue that fails to load leaves English.
 *
 * ZB.translateDocument (called by zimbrel.js, which every page loads after
 * its markup) translates the markup in place:
 *  - every text node, by its trimmed text;
 *  - an element marked data-i18n as a whole, by its inner HTML with runs of
 *    blanks made one (for sentences with inline markup such as <b> or <a>);
 *  - the attributes aria-label, aria-valuetext, alt, title and placeholder;
 *  - <title>.
 * Anything inside an element marked translate="no" stays as it is.
 */
/* exported ZB */
"use strict";

var ZB = window.ZB || {};

(function () {
  // The languages with a catalogue in i18n/<code>.js.
  var CATALOGUES = ["de"];

  function pick(languages) {
    for (var k = 0; k < languages.length; k += 1) {
      var code = String(languages[k] || "").toLowerCase().split(/[-_.@]/)[0];
      if (code === "en") {
        return "en";
      }
      if (CATALOGUES.indexOf(code) >= 0) {
        return code;
      }
    }
    return "en";
  }

  ZB.catalogues = CATALOGUES.slice();
  ZB.pickLanguage = pick;

  if (typeof document === "undefined" || !window.navigator) {
    return; // loaded by the tests of the helpers
  }
  var nav = window.navigator;
  var wanted = nav.languages && nav.languages.length
    ? nav.languages : [nav.language];
  ZB.language = pick(wanted);
  document.documentElement.lang = ZB.language;
  if (ZB.language !== "en" && document.readyState === "loading") {
    // Parser-inserted: runs before the scripts that follow this one.
    document.write('<script src="i18n/' + ZB.language + '.js"></script>');
  }

  var ATTRIBUTES = ["aria-label", "aria-valuetext", "alt", "title", "placeholder"];

  // The words of `key` in the catalogue; a text with letters that has no
  // entry is told on the console (the tests read it there).
  function said(key) {
    var words = ZB.t(key);
    if (words === key && /[A-Za-z]/.test(key) && window.console &&
        !Object.prototype.hasOwnProperty.call(ZB.catalogue, key)) {
      console.info("zimbrel-page: untranslated " + JSON.stringify(key));
    }
    return words;
  }
  var SKIP = {SCRIPT: true, STYLE: true, svg: true, SVG: true, TEMPLATE: true};

  function translateText(node) {
    var text = node.nodeValue;
    var key = text.trim();
    if (!key) {
      return;
    }
    var words = said(key);
    if (words !== key) {
      var at = text.indexOf(key);
      node.nodeValue = text.substring(0, at) + words + text.substring(at + key.length);
    }
  }

  function translateTree(element) {
    if (SKIP[element.nodeName] || element.getAttribute("translate") === "no") {
      return;
    }
    ATTRIBUTES.forEach(function (name) {
      var value = element.getAttribute(name);
      if (value && value.trim()) {
        element.setAttribute(name, said(value.trim()));
      }
    });
    if (element.hasAttribute("data-i18n")) {
      var key = element.innerHTML.replace(/\s+/g, " ").trim();
      var whole = said(key);
      if (whole !== key) {
        // Our own catalogue, served from our own folder, as our markup is.
        element.innerHTML = whole;
      }
      return;
    }
    for (var child = element.firstChild; child; child = child.nextSibling) {
      if (child.nodeType === 3) {
        translateText(child);
      } else if (child.nodeType === 1) {
        translateTree(child);
      }
    }
  }

  ZB.translateDocument = function () {
    if (!ZB.catalogue) {
      return;
    }
    document.title = said(document.title.trim());
    translateTree(document.body);
  };
})();
