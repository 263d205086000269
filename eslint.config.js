// ESLint for the page scripts in res/: plain browser scripts (no modules, no
// build step) shown by WebKitGTK, which share the one global ZB (each script
// that adds to it opens with `var ZB = window.ZB || {};`); and for their
// tests in tests/pages/, which Node runs.
"use strict";

const js = require("@eslint/js");

const browser = {
  window: "readonly",
  document: "readonly",
  location: "readonly",
  console: "readonly",
  setInterval: "readonly",
  clearInterval: "readonly",
  setTimeout: "readonly",
  clearTimeout: "readonly",
  XMLHttpRequest: "readonly",
  DOMParser: "readonly",
  Blob: "readonly",
  FileReader: "readonly"
};

const node = {
  require: "readonly",
  module: "writable",
  __dirname: "readonly",
  process: "readonly",
  globalThis: "readonly",
  Buffer: "readonly",
  console: "readonly"
};

const rules = {
  ...js.configs.recommended.rules,
  strict: ["error", "global"],
  eqeqeq: ["error", "always"],
  curly: ["error", "all"],
  "no-shadow": "error",
  "no-use-before-define": ["error", {functions: false}],
  "no-eval": "error",
  "no-implied-eval": "error",
  "no-new-func": "error",
  "no-script-url": "error",
  "no-unused-vars": ["error", {args: "none", caughtErrors: "none"}]
};

module.exports = [
  {
    ignores: ["node_modules/**", "build*/**", "eslint.config.js"]
  },
  {
    files: ["res/**/*.js", "**/res/status.js", "**/res/members.js"],
    ...js.configs.recommended,
    languageOptions: {
      ecmaVersion: 2017,
      sourceType: "script",
      globals: browser
    },
    linterOptions: {
      reportUnusedDisableDirectives: "error"
    },
    rules: {
      ...rules,
      "no-implicit-globals": "error",
      "no-alert": "error",
      "prefer-const": "off",
      "no-var": "off"
    }
  },
  {
    // Scripts that only use ZB, never add to it.
    files: ["res/selectSong.js", "res/aboutBox.js", "res/help.js"],
    languageOptions: {
      globals: {...browser, ZB: "readonly"}
    }
  },
  {
    files: ["tests/pages/**/*.js"],
    ...js.configs.recommended,
    languageOptions: {
      ecmaVersion: 2022,
      sourceType: "commonjs",
      globals: node
    },
    linterOptions: {
      reportUnusedDisableDirectives: "error"
    },
    rules: {
      ...rules,
      "prefer-const": "error",
      "no-var": "error"
    }
  }
];
