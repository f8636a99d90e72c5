#!/usr/bin/python3
"""Scores the test suites against the fault catalogue Tests/Faults/Faults.json: each fault is one edit of
one source file. It is made in a scratch copy of the tree (never the developer's), the checked
configuration is rebuilt incrementally, the fault's suites run, and the edit is undone.
A fault is caught when a test fails or the build breaks. Tools/build.sh mutants starts Wine."""
import argparse, json, os, re, shutil, subprocess, sys, time

parser = argparse.ArgumentParser()
parser.add_argument("filter", nargs="?", default="", help="regular expression on facility or file")
parser.add_argument("--check", action="store_true", help="only check that every fault's text occurs once")
parser.add_argument("--root", required=True)
parser.add_argument("--work", help="scratch folder: tree/ and build/")
args = parser.parse_args()
faults = json.load(open(os.path.join(args.root, "Tests", "Faults", "Faults.json"), encoding="utf-8"))
# Faults of one file in a row, so that each build recompiles one source, not two; headers, which
# recompile most of the tree, come last.
chosen = sorted((f for f in faults if re.search(args.filter, f["facility"] + " " + f["file"])),
                key=lambda f: (f["file"].endswith(".h"), f["file"]))


def source(path):
    with open(os.path.join(args.root, path), encoding="utf-8", newline="") as file:
        return file.read()


def label(fault):
    return f"{fault['facility']}: {fault['file']}: {fault['why']}"


bad = []
for fault in chosen:
    count = source(fault["file"]).count(fault["find"]) if os.path.exists(os.path.join(args.root, fault["file"])) else 0
    if count != 1 or fault["find"] == fault["replace"]:
        bad.append(fault)
        print(f"NOT FOUND ONCE ({count}) {label(fault)}")
if args.check:
    print(f"mutants: {len(chosen) - len(bad)} of {len(chosen)} faults found exactly once")
    sys.exit(1 if bad else 0)

start = time.monotonic()
tree, build = os.path.join(args.work, "tree"), os.path.join(args.work, "build")
# The scratch tree mirrors the developer's files (committed or not); unchanged files keep their
# times, so each build only redoes what a fault or the developer changed.
listed = subprocess.run(["git", "-C", args.root, "ls-files", "-z", "-c", "-o", "--exclude-standard"],
                        check=True, capture_output=True).stdout.decode().split("\0")
wanted = {p for p in listed if p and os.path.isfile(os.path.join(args.root, p))}
for folder, _, files in os.walk(tree):
    for name in files:
        if os.path.relpath(os.path.join(folder, name), tree) not in wanted:
            os.remove(os.path.join(folder, name))
for path in wanted:
    target = os.path.join(tree, path)
    with open(os.path.join(args.root, path), "rb") as file:
        data = file.read()
    if not os.path.exists(target):
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy2(os.path.join(args.root, path), target)
    elif open(target, "rb").read() != data:
        # A new time, so that the build redoes what an older copy (or a run stopped while a
        # fault was in place) left behind.
        shutil.copyfile(os.path.join(args.root, path), target)


def run(command, log):
    with open(log, "w") as out:
        return subprocess.run(command, stdout=out, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL).returncode


os.makedirs(build, exist_ok=True)
log = os.path.join(args.work, "log")
if not os.path.exists(os.path.join(build, "CMakeCache.txt")):
    if run(["cmake", "-S", tree, "-B", build, "-DZELKOR_CHECKED=ON",
            "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(tree, "cmake", "Toolchain-mingw64.cmake")], log + ".configure"):
        sys.exit(f"mutants: configuring {build} failed, see {log}.configure")
# Without a fault every suite the faults name must pass, or a caught fault would prove nothing.
suites = sorted({s for f in chosen for s in f.get("suites", [])}) if all(f.get("suites") for f in chosen) else []


def build_and_test(suites, name):
    """The names of the failing tests, or a text saying why nothing could be scored."""
    targets = [t for s in suites for t in ("--target", s)] or ["--target", "all"]
    if run(["cmake", "--build", build, "-j2", *targets], f"{log}.{name}.build"):
        return f"the build failed, see {log}.{name}.build"
    select = ["-L", "^(" + "|".join(suites) + ")$"] if suites else []
    run(["ctest", "--test-dir", build, "-j2", "--timeout", "300", *select], f"{log}.{name}.test")
    output = open(f"{log}.{name}.test").read()
    # A program that cannot even list its tests fails them all. CTest lists every program it
    # knows, so only the programs asked for count.
    unlisted = [f"{p} (listing)" for p in re.findall(r"Error running test executable\.\s+Path: '.*?([^/]+)\.exe'", output)
                if not suites or p in suites]
    if not unlisted and not re.search(r"tests passed, \d+ tests failed out of [1-9]", output):
        return f"no test ran, see {log}.{name}.test"
    failed = output.partition("The following tests FAILED:")[2]
    return unlisted + re.findall(r"^\s*\d+ - (\S+)", failed, re.M)


base = build_and_test(suites, "base")
if base != []:
    sys.exit(f"mutants: the tree without faults does not pass: {base}")

caught = survived = 0
for number, fault in enumerate(chosen, 1):
    if fault in bad:
        continue
    path = os.path.join(tree, fault["file"])
    with open(path, encoding="utf-8", newline="") as file:
        original = file.read()
    with open(path, "w", encoding="utf-8", newline="") as file:
        file.write(original.replace(fault["find"], fault["replace"]))
    try:
        failed = build_and_test(fault.get("suites", []), f"fault{number}")
    finally:
        with open(path, "w", encoding="utf-8", newline="") as file:
            file.write(original)
        # No program built with the fault may outlive it: CTest lists every program before each
        # run, and a faulty one left behind would fail, or hang, the runs of later faults.
        targets = [t for s in fault.get("suites", []) for t in ("--target", s)] or ["--target", "all"]
        run(["cmake", "--build", build, "-j2", *targets], f"{log}.fault{number}.restore")
    if isinstance(failed, str):  # a fault that does not build or run tests nothing
        bad.append(fault)
        print(f"NOT SCORED ({failed}) {label(fault)}", flush=True)
    elif failed:
        caught += 1
        print(f"caught   {label(fault)} by {' '.join(failed[:3])}{' ...' if len(failed) > 3 else ''}", flush=True)
    else:
        survived += 1
        print(f"SURVIVED {label(fault)}", flush=True)
print(f"mutants: {caught} caught, {survived} survived" + (f", {len(bad)} not scored" if bad else "")
      + f" in {time.monotonic() - start:.0f} s")
sys.exit(1 if survived or bad else 0)
