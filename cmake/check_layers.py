#!/usr/bin/env python3
"""Checks the folders' layers against a configured build.

Reads the build: the targets and their sources from CMake's file API
(codemodel-v2, asked for by cmake/Layers.cmake), and what each target links,
PUBLIC or PRIVATE, from <build>/layers/links.tsv (written by the same file).
Then:

1. Every #include "..." of a file a target compiles (and of the headers of
   its own folder those files include) names a header of the file's own
   folder or of a folder the target links directly; a target that compiles
   sources of another folder counts as linking it.
2. A header a library exposes (its include root, <build>/layers/<target>)
   includes only headers of its folder or of folders the library links
   PUBLIC.
3. No folder links more than cmake/layers.txt allows it, nor PUBLIC what the
   file keeps private.
4. docs/architecture.md holds the folder graph the build makes between its
   markers, and each folder's "uses" column names exactly the folders it
   links. --write rewrites the graph.

Prints one line per fault and exits 1 when there is any, 0 otherwise.
"""

import argparse
import json
import os
import re
import subprocess
import sys

# The source tree of the build checked (read from its code model).
SOURCE = os.path.realpath(os.path.join(os.path.dirname(__file__), ".."))
# Folders whose targets link what they test or measure; not layers.
NOT_LAYERS = {"tests", "fuzz", "bench"}
DOC = os.path.join(SOURCE, "docs", "architecture.md")
BEGIN = "<!-- folder graph: written by scripts/check-layers.sh --write from the build -->"
END = "<!-- end of the folder graph -->"
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)
HEADER_SUFFIXES = (".h", ".hpp", ".inc")


def folder_of(path):
    """The top-level folder of a path inside the source tree, or None."""
    rel = os.path.relpath(os.path.realpath(path), SOURCE)
    if rel.startswith(".."):
        return None
    return rel.split(os.sep)[0] if os.sep in rel else None


class Build:
    def __init__(self, build_dir):
        self.dir = os.path.realpath(build_dir)
        self.targets = {}  # name -> {"type", "folder", "sources", "links": {name: public}}
        self.read_links()
        self.read_codemodel()

    def read_links(self):
        path = os.path.join(self.dir, "layers", "links.tsv")
        if not os.path.exists(path):
            sys.exit(f"check-layers: {path} is missing: configure {self.dir} first")
        rows = []
        with open(path, encoding="utf-8") as f:
            for line in f:
                name, kind, rel, links, iface = line.rstrip("\n").split("\t")
                rows.append((name, kind, rel, links, iface))
        ours = {r[0] for r in rows}
        for name, kind, rel, links, iface in rows:
            passed = set()
            for item in iface.split():
                if not item.startswith("$<LINK_ONLY:"):
                    passed.add(item)
            deps = {}
            for item in links.split():
                item = re.sub(r"^\$<LINK_ONLY:(.*)>$", r"\1", item)
                if item in ours and item != name:
                    deps[item] = kind.endswith("LIBRARY") and item in passed
            self.targets[name] = {
                "type": kind,
                "folder": rel.split("/")[0] if rel else None,
                "sources": [],
                "links": deps,
            }

    def read_codemodel(self):
        reply = os.path.join(self.dir, ".cmake", "api", "v1", "reply")
        if not os.path.isdir(reply):
            # The query (cmake/Layers.cmake) is answered from the second
            # configure of a new build folder on: configure once more.
            subprocess.run(["cmake", self.dir], stdout=subprocess.DEVNULL, check=True)
        try:
            index = max(f for f in os.listdir(reply) if f.startswith("index-"))
        except (FileNotFoundError, ValueError):
            sys.exit(f"check-layers: no code model in {reply}: configure {self.dir} again")
        with open(os.path.join(reply, index), encoding="utf-8") as f:
            codemodel = json.load(f)["reply"]["codemodel-v2"]["jsonFile"]
        with open(os.path.join(reply, codemodel), encoding="utf-8") as f:
            model = json.load(f)
        # The sources this build was made from (the page, cmake/layers.txt).
        global SOURCE, DOC
        SOURCE = os.path.realpath(model["paths"]["source"])
        DOC = os.path.join(SOURCE, "docs", "architecture.md")
        config = model["configurations"][0]
        for ref in config["targets"]:
            if ref["name"] not in self.targets:
                continue
            with open(os.path.join(reply, ref["jsonFile"]), encoding="utf-8") as f:
                target = json.load(f)
            for s in target.get("sources", []):
                if s.get("isGenerated"):
                    continue
                path = os.path.join(SOURCE, s["path"])
                if folder_of(path):
                    self.targets[ref["name"]]["sources"].append(os.path.realpath(path))

    def folder_links(self, name):
        """Folder -> PUBLIC for what the target links directly, and the
        folders whose sources it compiles (PRIVATE). The targets of one
        folder are one layer: a library of its own folder that the target
        links passes on what it links PUBLIC."""
        t = self.targets[name]
        out = {}
        for dep, public in t["links"].items():
            f = self.targets[dep]["folder"]
            out[f] = out.get(f, False) or public
            if f == t["folder"]:
                for g, p in self.folder_links(dep).items():
                    if p:
                        out[g] = out.get(g, False) or public
        for s in t["sources"]:
            f = folder_of(s)
            if f != t["folder"]:
                out.setdefault(f, False)
        out.pop(t["folder"], None)
        return out

    def graph(self):
        """Folder -> {folder: PUBLIC} over the layers' folders, and folder ->
        {folder: the libraries linked} where those are not named after
        their folder (the bridge's wire format alone, say)."""
        g, parts = {}, {}
        for name, t in self.targets.items():
            f = t["folder"]
            if f is None or f in NOT_LAYERS:
                continue
            mine = g.setdefault(f, {})
            for dep, public in self.folder_links(name).items():
                mine[dep] = mine.get(dep, False) or public
            for dep in t["links"]:
                d = self.targets[dep]["folder"]
                if d != f:
                    parts.setdefault(f, {}).setdefault(d, set()).add(dep)
        named = {f: {d: sorted(ts) for d, ts in ds.items() if d not in ts}
                 for f, ds in parts.items()}
        return g, named


def includes(path):
    """(line, included file, its folder) for each quoted include found in
    the source tree, resolved as the compiler does (the file's own folder
    first, then the include roots, which mirror the source tree)."""
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read()
    except OSError:
        return
    for m in INCLUDE.finditer(text):
        name = m.group(1)
        line = text.count("\n", 0, m.start()) + 1
        for candidate in (os.path.join(os.path.dirname(path), name), os.path.join(SOURCE, name)):
            if os.path.isfile(candidate):
                real = os.path.realpath(candidate)
                folder = folder_of(real)
                if folder:
                    yield line, real, folder
                break


def closure(start, folder):
    """The files `start` reaches through includes of headers of `folder`."""
    seen, todo = set(), list(start)
    while todo:
        path = todo.pop()
        if path in seen:
            continue
        seen.add(path)
        for _, real, f in includes(path):
            if f == folder and real not in seen:
                todo.append(real)
    return seen


def rel(path):
    return os.path.relpath(path, SOURCE)


def check_includes(build, faults):
    for name, t in sorted(build.targets.items()):
        if t["folder"] is None or not t["sources"]:
            continue
        allowed = build.folder_links(name)
        files = set()
        for f in {folder_of(s) for s in t["sources"]}:
            files |= closure([s for s in t["sources"] if folder_of(s) == f], f)
        for path in sorted(files):
            own = folder_of(path)
            for line, real, folder in includes(path):
                if folder != own and folder not in allowed:
                    faults.append(f"{rel(path)}:{line}: includes {rel(real)}, but {name} "
                                  f"({t['folder']}/) does not link {folder}/")


def check_public_headers(build, faults):
    for name, t in sorted(build.targets.items()):
        root = os.path.join(build.dir, "layers", name)
        if not t["type"].endswith("LIBRARY") or not os.path.isdir(root):
            continue
        exposed = []
        for dirpath, _, files in os.walk(root, followlinks=True):
            exposed += [os.path.realpath(os.path.join(dirpath, f)) for f in files
                        if f.endswith(HEADER_SUFFIXES)]
        # In a folder of several libraries, a library's public headers are
        # those its own sources include.
        libraries = [n for n, o in build.targets.items()
                     if o["folder"] == t["folder"] and o["type"].endswith("LIBRARY")]
        headers = closure(exposed, t["folder"])
        if len(libraries) > 1:
            headers &= closure(t["sources"], t["folder"])
        public = {f for f, p in build.folder_links(name).items() if p}
        for path in sorted(headers):
            for line, real, folder in includes(path):
                if folder != t["folder"] and folder not in public:
                    faults.append(f"{rel(path)}:{line}: a public header of {name} includes "
                                  f"{rel(real)}, but {name} does not link {folder}/ PUBLIC")


def read_layers():
    """cmake/layers.txt: folder -> {folder: PUBLIC allowed}."""
    allowed = {}
    with open(os.path.join(SOURCE, "cmake", "layers.txt"), encoding="utf-8") as f:
        for line in f:
            line = line.split("#")[0].strip()
            if not line:
                continue
            folder, _, deps = line.partition(":")
            allowed[folder.strip()] = {
                d.removeprefix("private:"): not d.startswith("private:") for d in deps.split()
            }
    return allowed


def users(folder, dep, headers_only=False):
    """Where the files of `folder` include headers of `dep`."""
    found = []
    for dirpath, _, files in os.walk(os.path.join(SOURCE, folder)):
        for name in sorted(files):
            if headers_only and not name.endswith(HEADER_SUFFIXES):
                continue
            path = os.path.join(dirpath, name)
            found += [f"{rel(path)}:{line}" for line, _, f in includes(path) if f == dep]
    return f" (used at {', '.join(found)})" if found else ""


def check_layers(graph, faults):
    allowed = read_layers()
    for folder, deps in sorted(graph.items()):
        if folder not in allowed:
            faults.append(f"cmake/layers.txt: {folder}/ has no line (which folders may it link?)")
            continue
        for dep, public in sorted(deps.items()):
            if dep not in allowed[folder]:
                faults.append(f"{folder}/CMakeLists.txt: {folder}/ links {dep}/, which "
                              f"cmake/layers.txt does not allow{users(folder, dep)}")
            elif public and not allowed[folder][dep]:
                faults.append(f"{folder}/CMakeLists.txt: {folder}/ links {dep}/ PUBLIC; "
                              f"cmake/layers.txt keeps it private{users(folder, dep, True)}")


def graph_text(graph, named):
    lines = [BEGIN, ""]

    def show(folder, dep):
        only = named.get(folder, {}).get(dep)
        return f"`{dep}/`" + (f" ({', '.join(f'`{t}`' for t in only)} only)" if only else "")

    for folder in sorted(graph, key=lambda f: (len(closure_of(graph, f)), f)):
        deps = graph[folder]
        pub = ", ".join(show(folder, d) for d in sorted(deps) if deps[d])
        priv = ", ".join(show(folder, d) for d in sorted(deps) if not deps[d])
        parts = []
        if pub:
            parts.append(pub)
        if priv:
            parts.append(f"privately {priv}")
        lines.append(f"- `{folder}/` → {'; '.join(parts) if parts else 'none of ours'}")
    lines += ["", END]
    return "\n".join(lines)


def closure_of(graph, folder, seen=None):
    seen = set() if seen is None else seen
    for d in graph.get(folder, {}):
        if d not in seen:
            seen.add(d)
            closure_of(graph, d, seen)
    return seen


def check_doc(graph, named, write, faults):
    with open(DOC, encoding="utf-8") as f:
        text = f.read()
    start, end = text.find(BEGIN), text.find(END)
    if start < 0 or end < start:
        faults.append(f"docs/architecture.md: the markers of the folder graph are missing")
        return
    want = graph_text(graph, named)
    have = text[start:end + len(END)]
    missing = set(re.findall(r"^- `([a-z_]+)/`", have, re.M)) - set(graph)
    if missing and not write:
        # A build that leaves folders out (no program, no file-manager
        # extension) cannot speak for the page.
        print(f"check-layers: this build leaves out {', '.join(sorted(missing))}: the page "
              f"is not compared", file=sys.stderr)
        return
    if have != want:
        if write:
            text = text[:start] + want + text[end + len(END):]
            with open(DOC, "w", encoding="utf-8") as f:
                f.write(text)
        else:
            faults.append("docs/architecture.md: the folder graph differs from the build "
                          "(scripts/check-layers.sh --write)")
    # The table's "uses" column: the folders named there are those linked.
    for line in text.splitlines():
        m = re.match(r"^\| `([a-z_]+)/` \|.*\| ([^|]*) \|$", line)
        if not m or m.group(1) not in graph:
            continue
        named = set(re.findall(r"`([a-z_]+)/`", m.group(2)))
        linked = set(graph[m.group(1)])
        if named != linked:
            faults.append(f"docs/architecture.md: the uses of {m.group(1)}/ name "
                          f"{', '.join(sorted(named)) or 'no folder'}; it links "
                          f"{', '.join(sorted(linked)) or 'no folder'}")


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("build", nargs="?", default="build")
    p.add_argument("--write", action="store_true", help="rewrite the graph in the page")
    p.add_argument("--graph", action="store_true", help="print the folder graph and stop")
    args = p.parse_args()
    build = Build(args.build)
    graph, named = build.graph()
    if args.graph:
        print(graph_text(graph, named))
        return 0
    faults = []
    check_includes(build, faults)
    check_public_headers(build, faults)
    check_layers(graph, faults)
    check_doc(graph, named, args.write, faults)
    for f in dict.fromkeys(faults):  # a header that several targets take, once
        print(f)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
