#!/usr/bin/env python3
"""The Linux and the Windows self-extracting programs, made by aze from the same archives, run
side by side (the Windows one under Wine) and compared: exit status, extracted tree (names,
bytes, read-only attribute) and debug trace.

usage: compare_builds.py AZE WINQOR_EXE TRACE_RUN_EXE WORK_DIR [VECTORS_DIR]
    AZE is a Linux aze with the Linux winqor beside it; TRACE_RUN_EXE runs a Windows program
    and prints its debug trace; the Wine prefix is WINEPREFIX's.

The archives: trees of our own (the end-to-end sample, one-character, long, deep, Unicode and
case-colliding names, names Windows refuses, read-only files), the reference archives of
another writer when VECTORS_DIR has them, and mutants of our archives (bytes of the header and
of the payload changed, the archive cut short).

Where the two runs differ, the difference must have one of the Windows reasons below, found
in the names the Linux run wrote or met. Any other difference fails the test, and so does a
last trace line that gives both runs' failure for a name shown two ways, whatever the names. Where a reason
allows a difference, the Windows run must still have ended cleanly: with the Linux run's exit
status or 1, every file it wrote one that the Linux run wrote too (names compared as Windows
compares them). In the traces a word with characters outside ASCII is compared as '?': Wine
passes the debug channel on in the ANSI code page.
"""
import concurrent.futures
import os
import random
import re
import shutil
import subprocess
import sys
import unicodedata

# The documented list: the only reasons for which the Windows run may differ from the Linux one.
WINDOWS_REASONS = {
    "reserved device name":
        "CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9, LPT0-9 (any case, any extension) name "
        "a device on Windows, never a file",
    "trailing dot or space":
        "Windows drops a name's trailing dots and spaces, so 'a.' and 'a ' would name 'a'",
    "reserved character":
        "< > : \" | ? * \\ and control characters separate, name a stream or match files on "
        "Windows",
    "case collision":
        "Windows' file systems compare names without regard to case: 'readme' and 'README' in "
        "one folder are one file",
}

SANDBOX_REPORT = re.compile(r"^sandbox: walls (?:up|missing): .*\n", re.MULTILINE)

DEVICES = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}


def is_reserved_device(name):
    stem = name.split(".", 1)[0].rstrip(" ").upper()
    if stem in DEVICES:
        return True
    return (len(stem) == 4 and stem[:3] in ("COM", "LPT") and
            (stem[3].isdigit() or stem[3] in "\u00b9\u00b2\u00b3"))


def reasons_of_names(folders):
    """The Windows reasons that the names met (a dict folder -> names) give."""
    found = set()
    for names in folders.values():
        seen = {}
        for name in names:
            if is_reserved_device(name):
                found.add("reserved device name")
            if name.endswith(".") or name.endswith(" "):
                found.add("trailing dot or space")
            if any(c in '<>:"|?*\\' or ord(c) < 32 for c in name):
                found.add("reserved character")
            folded = name.upper()
            if folded in seen and seen[folded] != name:
                found.add("case collision")
            seen[folded] = name
    return found


# ---- the archives -------------------------------------------------------------------------

def write(path, data, read_only=False):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    if read_only:
        os.chmod(path, 0o444)


def make_trees(root):
    rng = random.Random(26)
    trees = {}

    def tree(name, files, folders=()):
        top = os.path.join(root, name)
        os.makedirs(top)
        for folder in folders:
            os.makedirs(os.path.join(top, folder), exist_ok=True)
        for path, data, *flags in files:
            write(os.path.join(top, path), data, bool(flags and flags[0]))
        trees[name] = top

    tree("sample", [("README.txt", b"Read this first\n", True),
                    ("tool.bin", bytes(rng.getrandbits(8) for _ in range(70000))),
                    ("docs/empty.txt", b""),
                    ("docs/notes/numbers.txt", "".join(f"{i}\n" for i in range(1, 5000)).encode()),
                    ("donn\u00e9es/\u65e5\u672c.txt", b"nihon\n")], ["empty folder"])
    tree("one-character", [("a", b"a"), ("x", b"xx"), ("b/c", b"c"), ("b/d", b""),
                           ("e/f/g", b"g", True)])
    tree("long-names", [("n" * 200, b"two hundred"), ("m" * 255, b"the longest name"),
                        (("\u00e9" * 127) + "e", b"255 units, 255 letters")])
    deep = "/".join(f"level{i:02d}" for i in range(40))
    tree("deep", [(deep + "/bottom.txt", b"bottom"), ("top.txt", b"top")])
    # Output paths past 260 units below the program's folder.
    long_path = "/".join(("p%02d" % i) + "q" * 60 for i in range(6))
    tree("long-paths", [(long_path + "/file.txt", b"far down"), (long_path + "/x", b"x")])
    tree("unicode", [("\u00e9t\u00e9.txt", b"summer"), ("\u65e5\u672c\u8a9e/\u6587.txt", b"bun"),
                     ("\U0001f600.txt", b"smile"), ("cafe\u0301", b"combining"),
                     ("\u0391\u03b8\u03ae\u03bd\u03b1", b"greek")])
    tree("case-collision", [("readme", b"lower"), ("README", b"UPPER"),
                            ("Docs/a.txt", b"Docs"), ("docs/b.txt", b"docs")])
    tree("reserved-names", [("CON", b"con"), ("nul.txt", b"nul"), ("com1.log", b"com1"),
                            ("safe.txt", b"safe")])
    tree("trailing", [("dot.", b"dot"), ("space ", b"space"), ("fine", b"fine")])
    tree("reserved-characters", [("what?", b"question"), ("a|b", b"bar"), ("x<y>", b"angles"),
                                 ("ok.txt", b"ok")])
    tree("read-only", [("ro.txt", b"ro", True), ("rw.txt", b"rw"), ("sub/ro2", b"ro2", True)])
    tree("empty-files", [("zero", b""), ("sub/zero", b"")], ["only-a-folder"])
    return trees


def mutants(archive):
    """Byte changes and cuts of one archive, each (suffix, bytes)."""
    data = open(archive, "rb").read()
    out = []
    # Header fields, then the payload: a bit flipped at each place.
    for at in (4, 8, 12, 16, 20, 24, 40, 64, 100, 200, 255, 256, 260, 300, len(data) // 2,
               len(data) - 1):
        if at < len(data):
            changed = bytearray(data)
            changed[at] ^= 0x10
            out.append((f"flip{at}", bytes(changed)))
    for keep in (len(data) - 1, len(data) // 2, 300):
        if keep < len(data):
            out.append((f"cut{keep}", data[:keep]))
    return out


def make_archives(aze, work, vectors):
    trees = make_trees(os.path.join(work, "trees"))
    archives = {}
    folder = os.path.join(work, "archives")
    os.makedirs(folder)
    for name, top in sorted(trees.items()):
        path = os.path.join(folder, name + ".aze")
        subprocess.run([aze, "create", "-o", path, top], check=True, stdout=subprocess.DEVNULL)
        archives[name] = path
    for base in ("sample", "one-character"):
        for suffix, data in mutants(archives[base]):
            path = os.path.join(folder, f"{base}-{suffix}.aze")
            write(path, data)
            archives[f"{base}-{suffix}"] = path
    if vectors and os.path.isdir(vectors):
        for entry in sorted(os.listdir(vectors)):
            if entry.endswith(".aze"):
                archives["vector-" + entry[:-4]] = os.path.join(vectors, entry)
    return archives


# ---- the runs -----------------------------------------------------------------------------

# What the bzip2 library says on standard error, among the Linux program's debug messages: the
# sandboxed child's standard error comes back line by line, beside the debug channel and in its
# own order, so each of the library's lines goes whole (an empty one where it starts with a line
# feed; threads decoding at once may run their lines together).
BZIP2_LINE = re.compile(r"^(?:    \[\d+: huff\+mtf.*|    combined CRCs: .*|    data integrity .*|)\n",
                        re.MULTILINE)


def describe(top):
    """{relative path with '/': ('D',) or ('F', bytes, read-only)} of a tree."""
    tree = {}
    if not os.path.isdir(top):
        return tree
    for folder, dirs, files in os.walk(top):
        rel = os.path.relpath(folder, top)
        if rel != ".":
            tree[rel] = ("D",)
        for name in files:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                data = f.read()
            key = name if rel == "." else rel + "/" + name
            tree[key] = ("F", data, not os.access(path, os.W_OK) or
                         (os.stat(path).st_mode & 0o222) == 0)
    return tree


def normalize_trace(text, out_dir, separator):
    text = text.replace("\r\n", "\n")
    # Wine passes the channel's texts on in the ANSI code page, where a character outside it
    # becomes '?' or a look-alike ("\u03b1" "a"): a word with a character outside ASCII, or a
    # '?', is one '?' on both sides. The trees compare such names exactly.
    text = re.sub(r"[^\s/\\.:]*(?:[^\x00-\x7f]|\?)[^\s/\\.:]*", "?", text)
    lines = []
    for line in text.split("\n"):
        if line.startswith("OutputFolder:"):
            path = line[len("OutputFolder:"):]
            if path.startswith(out_dir):
                path = "<out>" + path[len(out_dir):]
            line = "OutputFolder:" + path.replace(separator, "/")
        lines.append(line.replace(out_dir, "<out>"))
    return "\n".join(lines)


def run_linux(program, out_dir, work):
    result = subprocess.run([program], cwd=work, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                            env={k: v for k, v in os.environ.items() if k != "DISPLAY"},
                            timeout=120)
    trace = BZIP2_LINE.sub("", result.stderr.decode("utf-8", "replace"))
    # Only the Linux build decodes in a sandbox, and says which of its walls are up.
    trace = SANDBOX_REPORT.sub("", trace)
    return result.returncode, trace


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def run_windows(trace_run, program):
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env["WINEDEBUG"] = "-all"
    # Started by its name from its own folder: Wine starts no program by a path of MAX_PATH
    # units or more, but takes a current folder that long.
    result = subprocess.run(["wine", trace_run, os.path.basename(program)],
                            cwd=os.path.dirname(program), stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env,
                            timeout=120)
    return result.returncode, result.stdout.decode("utf-8", "replace")


# ---- the comparison -----------------------------------------------------------------------

def names_met(tree, trace):
    """folder -> names, of what the Linux run wrote and the file names its trace shows."""
    folders = {}
    for path in tree:
        folder, _, name = path.rpartition("/")
        folders.setdefault(folder, []).append(name)
    folder = ""
    for line in trace.split("\n"):
        if line.startswith("OutputFolder:"):
            folder = line
        match = re.match(r"(.*)\t\tfilesize = -?\d+$", line)
        if match:
            folders.setdefault(folder, []).append(match.group(1))
    return folders


def differences(linux, windows):
    found = []
    if linux["status"] != windows["status"]:
        found.append(f"exit status {linux['status']} on Linux, {windows['status']} on Windows")
    if linux["tree"] != windows["tree"]:
        only_l = sorted(set(linux["tree"]) - set(windows["tree"]))
        only_w = sorted(set(windows["tree"]) - set(linux["tree"]))
        changed = sorted(k for k in set(linux["tree"]) & set(windows["tree"])
                         if linux["tree"][k] != windows["tree"][k])
        found.append(f"trees differ: only on Linux {only_l[:5]}, only on Windows {only_w[:5]}, "
                     f"different {changed[:5]}")
    if linux["trace"] != windows["trace"]:
        a, b = linux["trace"].split("\n"), windows["trace"].split("\n")
        at = next((i for i in range(min(len(a), len(b))) if a[i] != b[i]), min(len(a), len(b)))
        found.append(f"traces differ at line {at + 1}: Linux {a[at:at + 2]!r}, "
                     f"Windows {b[at:at + 2]!r}")
    return found


# The run's last line when a walk fails: the record's name as stored, then why.
FAILURE_LINE = re.compile(r"^winqor: (.*): ([^:]*)$")


def failure_named_differently(linux, windows):
    """What the runs' last lines say when they give one failure for a name written two ways:
    both builds show names as stored (control characters escaped), so no Windows reason
    excuses it; else None."""
    def last_line(trace):
        lines = [line for line in trace.split("\n") if line]
        return lines[-1] if lines else ""
    a, b = last_line(linux["trace"]), last_line(windows["trace"])
    ma, mb = FAILURE_LINE.match(a), FAILURE_LINE.match(b)
    if ma and mb and ma.group(2) == mb.group(2) and ma.group(1) != mb.group(1):
        return f"the failing line names the record differently: Linux {a!r}, Windows {b!r}"
    return None


def failed_cleanly(linux, windows):
    """None when the Windows run ended as the Linux one did or failed, and wrote nothing that
    the Linux run did not; else what it did."""
    if windows["status"] not in (linux["status"], 1):
        return f"the Windows run exited {windows['status']}"
    wrote = {k.upper() for k in linux["tree"]}
    stray = [k for k in windows["tree"] if k.upper() not in wrote]
    return f"the Windows run wrote {stray[:3]}, which the Linux run did not" if stray else None


# The length of the output folders of programs placed deep: past MAX_PATH (260 units), yet
# short enough that Wine starts the program from its folder.
LONG_OUTPUT_FOLDER = 272


def place_for(base, name, units):
    """Folders below base that make base/.../name units long (as Windows writes it)."""
    parts = []
    while True:
        left = units - len(windows_path(os.path.join(base, *parts, name))) - 1
        if left <= 0:
            return os.path.join(*parts) if parts else ""
        parts.append(("f%02d" % len(parts) + "o" * 60)[:max(left, 3)])


def run_both(aze, exe, trace_run, work, name, source):
    """name and {"linux": run, "windows": run}, a run None when aze sfx refused the archive.
    source: the archive, or (archive, folder below the run's own) for a program placed there."""
    archive, place = source if isinstance(source, tuple) else (source, "")
    runs = {}
    for kind, suffix, extra in (("linux", ".run", []),
                                ("windows", ".exe", ["--windows", "--stub", exe])):
        below = os.path.join(work, kind)
        folder = os.path.join(below, place_for(below, name, place) if place else "")
        os.makedirs(folder, exist_ok=True)
        program = os.path.join(folder, name + suffix)
        made = subprocess.run([aze, "sfx", *extra, "-o", program, archive],
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        if made.returncode != 0:
            runs[kind] = None
            continue
        out_dir = os.path.join(folder, name)
        if kind == "linux":
            status, raw = run_linux(program, out_dir, work)
            trace = normalize_trace(raw, out_dir, "/")
        else:
            status, raw = run_windows(trace_run, program)
            trace = normalize_trace(raw, windows_path(out_dir), "\\")
        runs[kind] = {"status": status, "trace": trace, "raw": raw, "tree": describe(out_dir)}
    return name, runs


def main():
    aze, exe, trace_run, work = sys.argv[1:5]
    vectors = sys.argv[5] if len(sys.argv) > 5 else ""
    for tool in ("wine", "wineserver"):
        if shutil.which(tool) is None:
            print(f"skipped: {tool} is not installed")
            return 77
    if not os.environ.get("WINEPREFIX"):
        print("skipped: no Wine prefix (WINEPREFIX)")
        return 77
    aze, exe, trace_run, work = (os.path.abspath(p) for p in (aze, exe, trace_run, work))
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    archives = make_archives(aze, work, vectors)
    for base in ("sample", "one-character", "deep"):
        archives[base + "-in-a-long-folder"] = (archives[base], LONG_OUTPUT_FOLDER)
    failures, agreed, allowed = [], 0, {}
    # Two programs at a time: each run mostly waits for Wine to start.
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        results = list(pool.map(lambda item: run_both(aze, exe, trace_run, work, *item),
                                sorted(archives.items())))
    for name, runs in results:
        if runs["linux"] is None or runs["windows"] is None:
            if (runs["linux"] is None) != (runs["windows"] is None):
                failures.append(f"{name}: aze sfx made only one of the two programs")
            continue
        found = differences(runs["linux"], runs["windows"])
        renamed = failure_named_differently(runs["linux"], runs["windows"])
        if renamed:
            failures.append(f"{name}: {renamed}")
            continue
        if not found:
            agreed += 1
            continue
        reasons = reasons_of_names(names_met(runs["linux"]["tree"], runs["linux"]["raw"]))
        unclean = failed_cleanly(runs["linux"], runs["windows"])
        if reasons and not unclean:
            allowed[name] = sorted(reasons)
            continue
        why = unclean if reasons else "no Windows reason explains it"
        failures.append(f"{name}: {'; '.join(found)} ({why})")
    for name, reasons in sorted(allowed.items()):
        print(f"differs for Windows' reasons: {name}: {', '.join(reasons)}")
    for failure in failures:
        print("FAIL: " + failure)
    print(f"{len(archives)} archives: {agreed} agree, {len(allowed)} differ for Windows' "
          f"reasons, {len(failures)} fail")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
