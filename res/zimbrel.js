/*
 * What every Zimbrel page shares: the program's scripting object, polling of
 * job status, the service's addresses, local files and the page frame (the
 * "open this from Zimbrel" view, member buttons, drops, help sections).
 *
 * The program's members are called synchronously; each call is a short
 * round trip to the program. Pages name them through ZB.member (members.js),
 * and a member is only ever called as what it is: a method with its own
 * number of arguments, a property read. A page shown in an ordinary browser
 * has no program behind it: ZB.host is then null and the page says so.
 * Needs status.js, members.js and helpers.js.
 */
/* exported ZB */
"use strict";

var ZB = window.ZB || {};

(function () {
  // The markup above this page's scripts, in the user's language.
  if (ZB.translateDocument) {
    ZB.translateDocument();
  }

  var host = null;
  var isZBL = ZB.member.IsZBL.name;
  try {
    var ext = window.external;
    if (ext && typeof ext[isZBL] === "function" && ext[isZBL]()) {
      host = ext;
    }
  } catch (e) {
    host = null;
  }

  // The folder of this page as a file-system path ("/…/res"), from the
  // page's own address: the program's working directory is not res/.
  function pageDir() {
    return ZB.pageFolder(location.pathname);
  }

  // ---------- Members ----------

  var MEMBERS = Object.keys(ZB.member).map(function (key) {
    return ZB.member[key];
  });

  // The arguments a call of `member` must give (the last may be optional).
  function least(member) {
    return member.required !== undefined ? member.required : member.args.length;
  }

  // Whether `member` is one of ZB.member that may be used as `use` ("method"
  // or "property") with `args`; the console is told why not.
  function usable(member, use, args) {
    var why = "";
    if (MEMBERS.indexOf(member) < 0) {
      why = "is not a member of the program";
    } else if (member.kind !== use && member.kind !== "either") {
      why = "is a " + member.kind + ", not a " + use;
    } else if (args.length > member.args.length || args.length < least(member)) {
      why = "takes " + (least(member) < member.args.length ? least(member) + " to " : "") +
        member.args.length + " arguments, not " + args.length;
    }
    if (why && window.console) {
      console.error("Zimbrel: " + (member && member.name ? member.name : String(member)) + " " + why);
    }
    return !why;
  }

  // Calls a method of the program (an entry of ZB.member); `fallback` when
  // there is no program, the call fails or `member` is no method.
  function call(member, args, fallback) {
    if (!host) {
      return fallback;
    }
    var list = args || [];
    if (!usable(member, "method", list)) {
      return fallback;
    }
    try {
      return host[member.name].apply(host, list);
    } catch (e) {
      if (window.console) {
        console.error("Zimbrel: " + member.name + " failed: " + e);
      }
      return fallback;
    }
  }

  // Reads a status property of the program (an entry of ZB.member, read
  // without parentheses); `fallback` as call() gives it.
  function prop(member, fallback) {
    if (!host || !usable(member, "property", [])) {
      return fallback;
    }
    try {
      return host[member.name];
    } catch (e) {
      return fallback;
    }
  }

  // Polls read() every `interval` ms (100 by default), handing each value
  // to onValue until it returns true. Returns an object whose stop() ends
  // the polling early.
  function poll(read, onValue, interval) {
    var timer = null;
    var stopped = false;
    function tick() {
      if (stopped) {
        return;
      }
      var done = false;
      try {
        done = onValue(read()) === true;
      } catch (e) {
        done = true;
        if (window.console) {
          console.error("Zimbrel: polling failed: " + e);
        }
      }
      if (done) {
        stop();
      }
    }
    function stop() {
      stopped = true;
      if (timer !== null) {
        clearInterval(timer);
        timer = null;
      }
    }
    timer = setInterval(tick, interval || 100);
    return {stop: stop};
  }

  // ---------- The service's pages ----------

  // The address ZB.member.NavigateURL opens for `where`, or "" when the page
  // does not know the service (the program tells its pages as
  // zimbrelService).
  function redirectAddress(where) {
    var service = typeof window.zimbrelService === "string" ? window.zimbrelService : "";
    if (!service || !host) {
      return "";
    }
    return ZB.redirectUrl(service, call(ZB.member.GetVersion, [], ZB.status.versionCode), where);
  }

  // Shows the address a browser button opens as selectable text after the
  // button (in `holder` when given).
  function showAddress(button, where, holder) {
    var el = holder;
    if (!el) {
      el = document.createElement("span");
      el.className = "address";
      button.parentNode.insertBefore(el, button.nextSibling);
    }
    var address = redirectAddress(where);
    el.textContent = address;
    el.hidden = !address;
    return el;
  }

  // ---------- Files ----------

  // Reads a local file as bytes (pages of the module folder may read files
  // by their file URL); cb(arrayBuffer) or cb(null).
  function readFile(url, cb) {
    var xhr = new XMLHttpRequest();
    xhr.open("GET", url, true);
    xhr.responseType = "arraybuffer";
    xhr.onload = function () {
      var ok = xhr.status === 0 || (xhr.status >= 200 && xhr.status < 300);
      cb(ok && xhr.response ? xhr.response : null);
    };
    xhr.onerror = function () {
      cb(null);
    };
    try {
      xhr.send();
    } catch (e) {
      cb(null);
    }
  }

  // ---------- Page frame ----------

  // Shows the "open this page from Zimbrel" view in place of `el`'s
  // contents.
  function showNoHost(el, what) {
    el.textContent = "";
    var box = document.createElement("div");
    box.className = "nohost";
    box.setAttribute("role", "alert");
    var img = document.createElement("img");
    img.src = "images/zimbrel.svg";
    img.alt = "";
    var h = document.createElement("h2");
    h.textContent = ZB.t("Open this page from Zimbrel");
    var p = document.createElement("p");
    p.textContent = ZB.t(
      "{what} is part of Zimbrel, the ringtone creator, and works only inside the Zimbrel " +
        "program. Start Zimbrel from your applications menu, or right-click an audio " +
        "file and choose \u201c{entry}\u201d.",
      {what: what || ZB.t("This page"), entry: ZB.t("Send to Phone as Ringtone")}
    );
    box.appendChild(img);
    box.appendChild(h);
    box.appendChild(p);
    el.appendChild(box);
  }

  // Runs fn once the event under way has been answered. A member that opens
  // a window of the program (a page dialog, the file chooser) waits in the
  // call until the window closes; called from a click, the press (from the
  // keyboard, the pointer or a screen reader's action) would wait with it.
  function later(fn) {
    setTimeout(fn, 0);
  }

  // Buttons marked data-zbl="Name" call the member ZB.member.Name of the
  // program, with data-zbl-arg as its argument when given, after the click
  // (later()); one that opens the service in the browser also shows the
  // address.
  function wireMemberButtons(root) {
    var buttons = (root || document).querySelectorAll("[data-zbl]");
    Array.prototype.forEach.call(buttons, function (btn) {
      var name = btn.getAttribute("data-zbl");
      var member = Object.prototype.hasOwnProperty.call(ZB.member, name) ? ZB.member[name] : name;
      if (member === ZB.member.NavigateURL) {
        showAddress(btn, btn.getAttribute("data-zbl-arg") || "");
      }
      btn.addEventListener("click", function () {
        var args = btn.getAttribute("data-zbl-arg");
        later(function () {
          call(member, args === null ? [] : [args]);
        });
      });
    });
  }

  // The addresses a drop carries, one a line. WebKit keeps the file URLs of
  // files dropped from a file manager out of the drop's "text/uri-list" and
  // "text/plain" data, but its "text/html" data shows each one as the text
  // of a link.
  function droppedList(data) {
    var list = data.getData("text/uri-list") || data.getData("text/plain");
    var html = list ? "" : data.getData("text/html");
    if (!html) {
      return list;
    }
    var doc = new DOMParser().parseFromString(html, "text/html");
    var links = Array.prototype.map.call(doc.querySelectorAll("a"), function (a) {
      return a.textContent.trim();
    });
    return links.length ? links.join("\n") : doc.body.textContent;
  }

  // Keeps dragged text and dropped files from turning the view into a
  // browser (a dropped file would otherwise replace the page).
  function guardDragAndDrop(onDropPath) {
    document.addEventListener("dragstart", function (e) {
      var t = e.target;
      if (!(t && t.nodeType === 1 && /^(INPUT|TEXTAREA)$/.test(t.tagName))) {
        e.preventDefault();
      }
    });
    document.addEventListener("dragover", function (e) {
      e.preventDefault();
      if (e.dataTransfer) {
        e.dataTransfer.dropEffect = onDropPath ? "copy" : "none";
      }
    });
    document.addEventListener("drop", function (e) {
      e.preventDefault();
      if (!onDropPath || !e.dataTransfer) {
        return;
      }
      onDropPath(ZB.droppedPath(droppedList(e.dataTransfer)));
    });
  }

  // Help pages: the section list on the left shows one section at a time.
  // Without script every section shows, one after the other (as in the
  // compiled help file).
  function initSections() {
    var nav = document.querySelector(".help-nav");
    if (!nav) {
      return;
    }
    document.documentElement.classList.add("js");
    var links = Array.prototype.slice.call(nav.querySelectorAll("a[href^='#']"));
    var sections = links.map(function (a) {
      return document.getElementById(a.getAttribute("href").substring(1));
    });
    function show(index, focusHeading) {
      links.forEach(function (a, k) {
        var on = k === index;
        a.setAttribute("aria-current", on ? "true" : "false");
        a.tabIndex = on ? 0 : -1;
        if (sections[k]) {
          sections[k].hidden = !on;
        }
      });
      var content = document.querySelector(".help-content");
      if (content) {
        content.scrollTop = 0;
      }
      if (focusHeading && sections[index]) {
        var h = sections[index].querySelector("h2");
        if (h) {
          h.tabIndex = -1;
          h.focus();
        }
      }
    }
    links.forEach(function (a, k) {
      a.addEventListener("click", function (e) {
        e.preventDefault();
        show(k, false);
        a.focus();
      });
      a.addEventListener("keydown", function (e) {
        if (e.key === "Enter") {
          e.preventDefault();
          show(k, true);
          return;
        }
        var next = ZB.sectionForKey(e.key, k, links.length);
        if (next >= 0) {
          e.preventDefault();
          show(next, false);
          links[next].focus();
        }
      });
    });
    var start = 0;
    var wanted = location.hash ? location.hash.substring(1) : "";
    sections.forEach(function (s, k) {
      if (s && s.id === wanted) {
        start = k;
      }
    });
    show(start, false);
  }

  Object.assign(ZB, {
    host: host,
    pageDir: pageDir,
    call: call,
    prop: prop,
    poll: poll,
    later: later,
    redirectAddress: redirectAddress,
    showAddress: showAddress,
    readFile: readFile,
    showNoHost: showNoHost,
    wireMemberButtons: wireMemberButtons,
    guardDragAndDrop: guardDragAndDrop,
    initSections: initSections
  });
})();
