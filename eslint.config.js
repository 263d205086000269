// ESLint for the page scripts in res/: plain browser scripts (no modules, no
// build step) shown by WebKitGTK. zimbrel.js defines the shared ZB object;
// the other scripts use it.
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
  XMLHttpRequest: "readonly"
};

module.exports = [
  {
    ignores: ["node_modules/**", "build*/**", "eslint.config.js"]
  },
  {
    files: ["res/**/*.js"],
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
      ...js.configs.recommended.rules,
      strict: ["error", "global"],
      eqeqeq: ["error", "always"],
      curly: ["error", "all"],
      "no-implicit-globals": "error",
      "no-shadow": "error",
      "no-use-before-define": ["error", {functions: false}],
      "no-eval": "error",
      "no-implied-eval": "error",
      "no-new-func": "error",
      "no-script-url": "error",
      "no-alert": "error",
      "no-unused-vars": ["error", {args: "none", caughtErrors: "none"}],
      "prefer-const": "off",
      "no-var": "off"
    }
  },
  {
    files: ["res/**/*.js"],
    ignores: ["res/zimbrel.js"],
    languageOptions: {
      globals: {...browser, ZB: "readonly"}
    }
  }
];
