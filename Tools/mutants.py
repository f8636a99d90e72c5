#!/usr/bin/python3
"""Scores the test suites against the fault catalogue Tests/Faults/Faults.json, in which each
fault is one edit of one source file.

For each fault chosen by the filter (a regular expression on its facility and file), the edit is
made in a scratch copy of the tree (WORK/tree, never the developer's files), the checked
configuration of that copy (WORK/build) is rebuilt incrementally, the suites the fault names run
under CTest, and the edit is undone. Before any fault, the same suites must pass on the tree as
it is. A fault is:
- caught when a test of its suites fails, or a suite cannot list its tests;
- SURVIVED when every test passes;
- NOT SCORED when its text does not occur exactly once, its tree does not build, or no test ran:
  such a fault proves nothing about the tests and is reported, not counted as caught.
The run fails unless every chosen fault is caught. With --check, only the texts are checked.
Tools/build.sh mutants starts the Wine server the tests need; CTest's results are read from its
JUnit report."""
import argparse, json, os, re, shutil, subprocess, sys, time
import xml.etree.ElementTree as ElementTree


def parse(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("filter", nargs="?", default="", help="regular expression on facility or file")
    parser.add_argument("--check", action="store_true", help="only check that every fault's text occurs once")
    parser.add_argument("--root", required=True, help="the developer's checkout")
    parser.add_argument("--work", help="scratch folder: tree/ and build/")
    args = parser.parse_args(argv)
    if not args.check and not args.work:
        parser.error("--work is needed unless --check")
    args.root = os.path.abspath(args.root)
    args.work = args.work and os.path.abspath(args.work)
    return args


def label(fault):
    return f"{fault['facility']}: {fault['file']}: {fault['why']}"


def misplaced(root, faults):
    """The faults whose text does not occur exactly once in the developer's tree, with the count."""
    bad = []
    for fault in faults:
        path = os.path.join(root, fault["file"])
        count = 0
        if os.path.exists(path):
            with open(path, encoding="utf-8", newline="") as file:
                count = file.read().count(fault["find"])
        if count != 1 or fault["find"] == fault["replace"]:
            bad.append((fault, count))
    return bad


def mirror(root, tree):
    """Makes tree hold the developer's files (committed or not). Unchanged files keep their times,
    so each build only redoes what a fault or the developer changed."""
    listed = subprocess.run(["git", "-C", root, "ls-files", "-z", "-c", "-o", "--exclude-standard"],
                            check=True, capture_output=True).stdout.decode().split("\0")
    wanted = {p for p in listed if p and os.path.isfile(os.path.join(root, p))}
    for folder, _, files in os.walk(tree):
        for name in files:
            if os.path.relpath(os.path.join(folder, name), tree) not in wanted:
                os.remove(os.path.join(folder, name))
    for path in wanted:
        source, target = os.path.join(root, path), os.path.join(tree, path)
        if not os.path.exists(target):
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copy2(source, target)
            continue
        with open(source, "rb") as new, open(target, "rb") as old:
            changed = new.read() != old.read()
        if changed:
            # A new time, so that the build redoes what an older copy (or a run stopped while a
            # fault was in place) left behind.
            shutil.copyfile(source, target)


def run(command, log):
    with open(log, "w") as out:
        return subprocess.run(command, stdout=out, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL).returncode


def results(report):
    """CTest's JUnit report as {test name: passed}. A test disabled on purpose (a child case
    that only another test starts) passes; one that could not run fails."""
    if not os.path.exists(report):
        return {}
    return {case.get("name"): case.get("status") in ("run", "disabled") and case.find("failure") is None
            for case in ElementTree.parse(report).getroot().iter("testcase")}


class Scorer:
    def __init__(self, build, log):
        self.build, self.log = build, log
        self.expected = {}  # suite: the tests it listed on the tree without faults

    def build_and_test(self, suites, name):
        """The failing tests, or a text saying why nothing could be scored."""
        targets = [t for s in suites for t in ("--target", s)] or ["--target", "all"]
        if run(["cmake", "--build", self.build, "-j2", *targets], f"{self.log}.{name}.build"):
            return f"the build failed, see {self.log}.{name}.build"
        select = ["-L", "^(" + "|".join(suites) + ")$"] if suites else []
        report = f"{self.log}.{name}.xml"
        if os.path.exists(report):
            os.remove(report)
        run(["ctest", "--test-dir", self.build, "-j2", "--timeout", "300", "--output-junit", report, *select],
            f"{self.log}.{name}.test")
        ran = results(report)
        # A program that cannot list its tests is missing from the report: it fails them all.
        unlisted = [f"{suite} (listing)" for suite in suites
                    if suite in self.expected and self.expected[suite].isdisjoint(ran)]
        if not ran and not unlisted:
            return f"no test ran, see {self.log}.{name}.test"
        return unlisted + [test for test, passed in ran.items() if not passed]

    def learn(self, suites):
        """Which tests each suite lists, from CTest's own listing of the tree without faults."""
        listing = subprocess.run(["ctest", "--test-dir", self.build, "--show-only=json-v1"],
                                 check=True, capture_output=True, text=True).stdout
        for test in json.loads(listing)["tests"]:
            for prop in test.get("properties", []):
                if prop["name"] == "LABELS":
                    for suite in set(prop["value"]) & set(suites):
                        self.expected.setdefault(suite, set()).add(test["name"])


def main(argv=None):
    args = parse(argv)
    with open(os.path.join(args.root, "Tests", "Faults", "Faults.json"), encoding="utf-8") as file:
        faults = json.load(file)
    # Faults of one file in a row, so that each build recompiles one source, not two; headers,
    # which recompile most of the tree, come last.
    chosen = sorted((f for f in faults if re.search(args.filter, f["facility"] + " " + f["file"])),
                    key=lambda f: (f["file"].endswith(".h"), f["file"]))
    bad = misplaced(args.root, chosen)
    for fault, count in bad:
        print(f"NOT FOUND ONCE ({count}) {label(fault)}")
    if args.check:
        print(f"mutants: {len(chosen) - len(bad)} of {len(chosen)} faults found exactly once")
        return 1 if bad else 0

    start = time.monotonic()
    tree, build = os.path.join(args.work, "tree"), os.path.join(args.work, "build")
    mirror(args.root, tree)
    os.makedirs(build, exist_ok=True)
    log = os.path.join(args.work, "log")
    if not os.path.exists(os.path.join(build, "CMakeCache.txt")):
        if run(["cmake", "-S", tree, "-B", build, "-DZELKOR_CHECKED=ON",
                "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(tree, "cmake", "Toolchain-mingw64.cmake")], log + ".configure"):
            print(f"mutants: configuring {build} failed, see {log}.configure", file=sys.stderr)
            return 1
    # Without a fault every suite the faults name must pass, or a caught fault would prove nothing.
    suites = sorted({s for f in chosen for s in f.get("suites", [])}) if all(f.get("suites") for f in chosen) else []
    scorer = Scorer(build, log)
    base = scorer.build_and_test(suites, "base")
    if base != []:
        print(f"mutants: the tree without faults does not pass: {base}", file=sys.stderr)
        return 1
    scorer.learn(suites)
    silent = [suite for suite in suites if not scorer.expected.get(suite)]
    if silent:
        print(f"mutants: the tree without faults lists no test of {silent}", file=sys.stderr)
        return 1

    unscored = [fault for fault, _ in bad]
    caught = survived = 0
    for number, fault in enumerate(chosen, 1):
        if fault in unscored:
            continue
        path = os.path.join(tree, fault["file"])
        with open(path, encoding="utf-8", newline="") as file:
            original = file.read()
        with open(path, "w", encoding="utf-8", newline="") as file:
            file.write(original.replace(fault["find"], fault["replace"]))
        fault_suites = fault.get("suites", [])
        try:
            failed = scorer.build_and_test(fault_suites, f"fault{number}")
        finally:
            with open(path, "w", encoding="utf-8", newline="") as file:
                file.write(original)
            # No program built with the fault may outlive it: CTest lists every program before
            # each run, and a faulty one left behind would fail, or hang, the runs of later faults.
            targets = [t for s in fault_suites for t in ("--target", s)] or ["--target", "all"]
            run(["cmake", "--build", build, "-j2", *targets], f"{log}.fault{number}.restore")
        if isinstance(failed, str):
            unscored.append(fault)
            print(f"NOT SCORED ({failed}) {label(fault)}", flush=True)
        elif failed:
            caught += 1
            print(f"caught   {label(fault)} by {' '.join(failed[:3])}{' ...' if len(failed) > 3 else ''}", flush=True)
        else:
            survived += 1
            print(f"SURVIVED {label(fault)}", flush=True)
    print(f"mutants: {caught} caught, {survived} survived" + (f", {len(unscored)} not scored" if unscored else "")
          + f" in {time.monotonic() - start:.0f} s")
    return 1 if survived or unscored else 0


if __name__ == "__main__":
    sys.exit(main())
