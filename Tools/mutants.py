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

With --generate N, the faults are not the catalogue's but N drawn with --seed from those that
fixed rules make on the lines the last coverage run executed (gcovr's JSON report,
build-coverage/coverage/lines.json, written by Tools/build.sh coverage) in Zelkor/Src,
Zelkor/Inc and Trevalic/Src. The draw is uniform over those faults, so each facility gets a share
in proportion to its executed lines (and how many rules apply on them). The rules, each on one
line with its comments and string literals blanked out: a relational operator moved
(< and <=, > and >=, == and !=), an arithmetic one replaced (+ and -, * and /, % by *, += and -=),
&& and || swapped, the condition of an if or while negated, an integer constant moved by one
either way, a statement removed (made empty), a returned value replaced by {} (or true by false
and back). A fault runs the suites the catalogue names for its file (every test for a file it
never names), then, when none fails, every other test; the first failure ends a run. It is:
- killed when a test fails or a suite cannot list its tests;
- SURVIVED when every test passes;
- equivalent when Tests/Faults/Equivalent.txt says why no input can tell it from the original
  (it is not run);
- not scored when it does not build or no test ran.
Survivors are listed at the end, for tests to be written; the run fails only when it cannot
start (no coverage data, or the tree without faults does not pass). With --check, the faults drawn
are only listed.

Tools/build.sh mutants starts the Wine server the tests need; CTest's results are read from its
JUnit report."""
import argparse, json, os, random, re, shutil, subprocess, sys, time
from collections import Counter
import xml.etree.ElementTree as ElementTree


def parse(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("filter", nargs="?", default="", help="regular expression on facility or file")
    parser.add_argument("--check", action="store_true", help="only check that every fault's text occurs once")
    parser.add_argument("--root", required=True, help="the developer's checkout")
    parser.add_argument("--work", help="scratch folder: tree/ and build/")
    parser.add_argument("--generate", type=int, metavar="N", help="draw N generated faults instead of the catalogue's")
    parser.add_argument("--seed", type=int, default=1, help="seed of the draw")
    parser.add_argument("--coverage", help="the coverage build (default: ROOT/build-coverage)")
    args = parser.parse_args(argv)
    if not args.check and not args.work:
        parser.error("--work is needed unless --check")
    args.root = os.path.abspath(args.root)
    args.work = args.work and os.path.abspath(args.work)
    args.coverage = os.path.abspath(args.coverage or os.path.join(args.root, "build-coverage"))
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
        self.build_dir, self.log = build, log
        self.expected = {}  # suite: the tests it listed on the tree without faults

    def build(self, targets, name):
        """Builds the targets ("all" for everything); the build's status."""
        named = [t for target in sorted(targets) for t in ("--target", target)]
        return run(["cmake", "--build", self.build_dir, "-j2", *named], f"{self.log}.{name}.build")

    def build_and_test(self, suites, name, exclude=(), stop=False):
        """The failing tests, or a text saying why nothing could be scored. No suites: every
        test but those of the suites excluded. stop: the first failure ends the run."""
        if self.build(set(suites) or {"all"}, name):
            return f"the build failed, see {self.log}.{name}.build"
        select = ["-L", "^(" + "|".join(suites) + ")$"] if suites else []
        if exclude:
            select = ["-LE", "^(" + "|".join(exclude) + ")$"]
        report = f"{self.log}.{name}.xml"
        if os.path.exists(report):
            os.remove(report)
        run(["ctest", "--test-dir", self.build_dir, "-j2", "--timeout", "300", "--output-junit", report, *select,
             *(["--stop-on-failure"] if stop else [])], f"{self.log}.{name}.test")
        ran = results(report)
        failed = [test for test, passed in ran.items() if not passed]
        if failed:
            return failed  # and, when stopped, the suites after them are missing from the report
        # A program that cannot list its tests is missing from the report: it fails them all.
        listed = suites or [suite for suite in self.expected if suite not in exclude]
        unlisted = [f"{suite} (listing)" for suite in listed
                    if suite in self.expected and self.expected[suite].isdisjoint(ran)]
        if not ran and not unlisted:
            return f"no test ran, see {self.log}.{name}.test"
        return unlisted

    def learn(self, suites):
        """Which tests each suite (every one when suites is None) lists, from CTest's own
        listing of the tree without faults."""
        listing = subprocess.run(["ctest", "--test-dir", self.build_dir, "--show-only=json-v1"],
                                 check=True, capture_output=True, text=True).stdout
        for test in json.loads(listing)["tests"]:
            for prop in test.get("properties", []):
                if prop["name"] == "LABELS":
                    for suite in set(prop["value"]) & set(prop["value"] if suites is None else suites):
                        self.expected.setdefault(suite, set()).add(test["name"])


def prepare(args, suites):
    """The scorer of the scratch tree, made to hold the developer's files, once the suites (all
    when empty) pass there without faults; None, said why, otherwise."""
    tree, build = os.path.join(args.work, "tree"), os.path.join(args.work, "build")
    mirror(args.root, tree)
    os.makedirs(build, exist_ok=True)
    log = os.path.join(args.work, "log")
    # Every fault relinks the programs it reaches. Ninja decides what to redo faster than make,
    # and debug information, which changes no instruction, triples the size of what is linked.
    # Each fault is undone by the next one's build, which compiles again every source the undone
    # edit reached: the compiler cache, kept in the scratch folder, hands those back.
    launcher = ["-DCMAKE_C_COMPILER_LAUNCHER=ccache", "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"] if shutil.which("ccache") else []
    os.environ.setdefault("CCACHE_DIR", os.path.join(args.work, "ccache"))
    cache = os.path.join(build, "CMakeCache.txt")
    if os.path.exists(cache):
        with open(cache, encoding="utf-8") as file:
            text = file.read()
        # Made by an earlier runner, with make or without the cache; the Wine prefix beside it stays.
        if "CMAKE_GENERATOR:INTERNAL=Ninja\n" not in text or bool(launcher) != ("COMPILER_LAUNCHER:" in text):
            os.remove(cache)
            shutil.rmtree(os.path.join(build, "CMakeFiles"), ignore_errors=True)
    if not os.path.exists(cache):
        toolchain = os.path.join(tree, "cmake", "Toolchain-mingw64.cmake")
        flags = [f"-DCMAKE_{language}_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG" for language in ("C", "CXX")] + launcher
        if run(["cmake", "-S", tree, "-B", build, "-G", "Ninja", "-DZELKOR_CHECKED=ON", *flags,
                "-DCMAKE_TOOLCHAIN_FILE=" + toolchain], log + ".configure"):
            print(f"mutants: configuring {build} failed, see {log}.configure", file=sys.stderr)
            return None
    # Without a fault every suite the faults name must pass, or a caught fault would prove nothing.
    scorer = Scorer(build, log)
    base = scorer.build_and_test(suites, "base")
    if base != []:
        print(f"mutants: the tree without faults does not pass: {base}", file=sys.stderr)
        return None
    scorer.learn(suites or None)
    silent = [suite for suite in suites if not scorer.expected.get(suite)]
    if silent:
        print(f"mutants: the tree without faults lists no test of {silent}", file=sys.stderr)
        return None
    return scorer


# ---- Generated faults ------------------------------------------------------------------------
# The catalogue only measures the mistakes someone thought of. A draw of faults made by fixed
# rules from the source itself measures the rest. The rules are textual on purpose: each works
# on one line whose comments and string literals are blanked out, so that it never edits text
# the compiler does not read, and a fault that does not build is simply not scored.

GENERATED_SOURCES = ("Zelkor/Src/", "Zelkor/Inc/", "Trevalic/Src/")
EQUIVALENTS = os.path.join("Tests", "Faults", "Equivalent.txt")

# Binary operators are found by the spaces clang-format puts around them, which is what tells a
# comparison from a template's angle brackets, a product from a pointer declaration, and a
# logical and from an rvalue reference.
RELATIONAL = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "=="}
ARITHMETIC = {"+": "-", "-": "+", "*": "/", "/": "*", "%": "*", "+=": "-=", "-=": "+="}
LOGICAL = {"&&": "||", "||": "&&"}
OPERATOR = re.compile(r"(?<= )(<=|>=|==|!=|<|>|\+=|-=|\+|-|\*|/|%|&&|\|\|)(?= )")
INTEGER = re.compile(r"(?<![\w.'])(0[xX][0-9a-fA-F]+|[1-9][0-9]*|0)([uUlL]*)(?![\w.'])")
CONDITION = re.compile(r"\b(?:if|while) \(")
RETURN = re.compile(r"^(\s*return )(.+);\s*$")
# A statement that starts with a type and a name declares something: removing it does not build.
DECLARATION = re.compile(r"^(?:\[\[.*?\]\]\s*)?"
                         r"(?:(?:const|static|constexpr|volatile|unsigned|struct|class|enum|typename)\s+)*"
                         r"[A-Za-z_][\w:]*(?:<.*>)?[\s*&]+[A-Za-z_]\w*\s*(?:[=;({\[,]|$)")
NOT_A_DECLARATION = ("delete", "throw", "goto", "else")
# What ends in a semicolon but is no statement to remove: a case label with its statement, the
# end of a class, declarations, a return with a value (which would not build without it).
NOT_A_STATEMENT = ("case ", "default:", "}", "using ", "typedef ", "return ", "virtual ", "extern ", "inline ",
                   "friend ", "static_assert", "template ")
DEFINED = re.compile(r"\)( const)? = (0|default|delete);$")


def blank(text):
    """text with the insides of comments and of string and character literals made spaces,
    line breaks kept, so that every position still points at the same character."""
    out, i, n = list(text), 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            end = text.find("\n", i)
            end = n if end < 0 else end
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
        elif c == '"' or (c == "'" and not (i and text[i - 1].isalnum())):  # 1'000 is a number
            end = i + 1
            while end < n and text[end] not in (c, "\n"):
                end += 2 if text[end] == "\\" else 1
            i, end = i + 1, min(end, n)  # the quotes stay
        else:
            i += 1
            continue
        for j in range(i, end):
            if out[j] != "\n":
                out[j] = " "
        i = end + 1 if c in "\"'" else end
    return "".join(out)


def closing(line, start):
    """The index of the parenthesis that closes the one at start, or None when not on this line."""
    depth = 0
    for i in range(start, len(line)):
        depth += {"(": 1, ")": -1}.get(line[i], 0)
        if depth == 0:
            return i
    return None


def statement_start(previous):
    """Whether the code line after previous (blanked, stripped) starts a statement."""
    return previous.endswith((";", "{", "}", ":", ")")) or previous in ("else", "do")


def mutations(line, code, previous):
    """(rule, start, end, replacement) for one line, found in code, the line blanked; previous is
    the code line before it, blanked and stripped."""
    found = []
    for match in OPERATOR.finditer(code):
        op, (a, b) = match.group(1), match.span(1)
        for rule, table in (("relational", RELATIONAL), ("arithmetic", ARITHMETIC), ("logical", LOGICAL)):
            if op in table:
                found.append((rule, a, b, table[op]))
    for match in CONDITION.finditer(code):
        start = match.end() - 1
        end = closing(code, start)
        if end is not None:
            found.append(("negated", start + 1, end, "!(" + line[start + 1:end] + ")"))
    for match in INTEGER.finditer("" if DEFINED.search(code) else code):
        digits, (a, b) = match.group(1), match.span(1)
        value = int(digits, 0)
        for moved in (value + 1, value - 1):
            if moved >= 0:
                if digits[1:2] in ("x", "X"):
                    width = len(digits) - 2
                    text = digits[:2] + (f"{moved:0{width}X}" if digits[2:].isupper() else f"{moved:0{width}x}")
                else:
                    text = str(moved)
                found.append(("constant", a, b, text))
    stripped = code.strip()
    returned = RETURN.match(code)
    if returned:
        value = line[returned.start(2):returned.end(2)].strip()
        constant = {"true": "false", "false": "true"}.get(value, None if value in ("nullptr", "{}", "0") else "{}")
        if constant:
            found.append(("return", returned.start(2), returned.end(2), constant))
    elif (stripped.endswith(";") and code.startswith(" ") and statement_start(previous)
          and stripped.count("(") == stripped.count(")") and not stripped.startswith(NOT_A_STATEMENT)
          and not DEFINED.search(stripped)
          and (stripped.split()[0] in NOT_A_DECLARATION or not DECLARATION.match(stripped))):
        start = len(code) - len(code.lstrip())
        found.append(("removed", start, start + len(stripped), ";"))
    return found


def executed_lines(coverage):
    """{file: set of line numbers} of the lines the coverage run executed, from gcovr's JSON
    report that Tools/build.sh coverage writes; None when there is none."""
    report = os.path.join(coverage, "coverage", "lines.json")
    if not os.path.exists(report):
        return None
    with open(report, encoding="utf-8") as file:
        files = json.load(file)["files"]
    return {f["file"]: {line["line_number"] for line in f["lines"] if line["count"] > 0} for f in files}


def candidates(root, executed):
    """Every fault the rules make on an executed line of the sources, as dicts with file, line,
    rule, original and changed (whole lines)."""
    found = []
    for path in sorted(executed):
        if not path.startswith(GENERATED_SOURCES) or not path.endswith((".cpp", ".h")):
            continue
        with open(os.path.join(root, path), encoding="utf-8", newline="") as file:
            text = file.read()
        lines, codes = text.split("\n"), blank(text).split("\n")
        # A line whose text stands more than once in its file is named by its occurrence too.
        totals, seen = Counter(line.strip() for line in lines), Counter()
        previous = ""
        for number, (line, code) in enumerate(zip(lines, codes), 1):
            stripped = code.strip()
            seen[line.strip()] += 1
            if number in executed[path] and stripped and not stripped.startswith("#"):
                occurrence = seen[line.strip()] if totals[line.strip()] > 1 else 0
                for rule, start, end, replacement in mutations(line, code, previous):
                    changed = line[:start] + replacement + line[end:]
                    found.append({"file": path, "line": number, "rule": rule, "original": line, "changed": changed,
                                  "occurrence": occurrence})
            if stripped:
                previous = stripped
    return found


def key(fault):
    """What names a generated fault across edits elsewhere in its file: not its line number, but
    the line's text, followed by " [k]" when that text stands more than once in the file and this
    is its k-th occurrence."""
    original = fault["original"].strip() + (f" [{fault['occurrence']}]" if fault.get("occurrence") else "")
    return "\t".join((fault["file"], fault["rule"], original, fault["changed"].strip()))


def equivalents(root):
    """{key: reason} of the generated faults no input can tell from the original. The file holds
    one line each: file, rule, original line (named as key names it), changed line and the reason,
    parted by tabs; lines starting with # are comments."""
    path = os.path.join(root, EQUIVALENTS)
    if not os.path.exists(path):
        return {}
    with open(path, encoding="utf-8") as file:
        rows = [line.rstrip("\n").split("\t") for line in file if line.strip() and not line.startswith("#")]
    return {"\t".join(row[:4]): row[4] if len(row) > 4 else "" for row in rows}


def describe(fault):
    original, changed = fault["original"].strip(), fault["changed"].strip()
    return f"{fault['file']}:{fault['line']} {fault['rule']}: `{original}` -> `{changed}`"


def draw(args, catalogue):
    """The faults of the draw, each with its facility and suites, or None when there is no
    coverage data to draw from."""
    executed = executed_lines(args.coverage)
    if executed is None:
        return None
    suites, facility = {}, {}
    for fault in catalogue:
        suites.setdefault(fault["file"], set()).update(fault.get("suites", []))
        facility.setdefault(fault["file"], fault["facility"])
    pool = []
    for fault in candidates(args.root, executed):
        fault["facility"] = facility.get(fault["file"], "")
        if re.search(args.filter, fault["facility"] + " " + fault["file"]):
            fault["suites"] = sorted(suites.get(fault["file"], ()))
            pool.append(fault)
    drawn = random.Random(args.seed).sample(pool, min(args.generate, len(pool)))
    print(f"generated: {len(drawn)} drawn with seed {args.seed} from {len(pool)} faults on "
          f"{sum(len(lines) for lines in executed.values())} executed lines", flush=True)
    # Faults of one file in a row, so that builds redo one source; headers last.
    return sorted(drawn, key=lambda f: (f["file"].endswith(".h"), f["file"], f["line"]))


def score_generated(args, scorer, drawn):
    """Runs each fault of the draw: its facility's suites first, then, when none fails, all the
    other tests. Returns the exit status."""
    start = time.monotonic()
    known = equivalents(args.root)
    counts = {"killed": 0, "SURVIVED": 0, "equivalent": 0, "not scored": 0}
    survivors = []
    stale = set()  # targets last built with a fault that is no longer in place
    tree = os.path.join(args.work, "tree")
    for number, fault in enumerate(drawn, 1):
        progress = f"[{number}/{len(drawn)}]"
        if key(fault) in known:
            counts["equivalent"] += 1
            print(f"{progress} equivalent {describe(fault)}: {known[key(fault)]}", flush=True)
            continue
        targets = set(fault["suites"]) or {"all"}
        # A program built with an earlier fault is rebuilt before CTest lists it, unless this
        # fault's own build redoes it anyway.
        if "all" not in targets and not stale <= targets:
            scorer.build(stale, f"gen{number}.restore")
        path = os.path.join(tree, fault["file"])
        with open(path, encoding="utf-8", newline="") as file:
            original = file.read()
        lines = original.split("\n")
        lines[fault["line"] - 1] = fault["changed"]
        with open(path, "w", encoding="utf-8", newline="") as file:
            file.write("\n".join(lines))
        try:
            failed = scorer.build_and_test(fault["suites"], f"gen{number}", stop=True)
            if failed == [] and fault["suites"]:
                targets = {"all"}
                failed = scorer.build_and_test([], f"gen{number}.rest", exclude=fault["suites"], stop=True)
        finally:
            with open(path, "w", encoding="utf-8", newline="") as file:
                file.write(original)
            stale = targets
        if isinstance(failed, str):
            outcome, detail = "not scored", f" ({failed})"
        elif failed:
            outcome, detail = "killed", f" by {' '.join(failed[:2])}{' ...' if len(failed) > 2 else ''}"
        else:
            outcome, detail = "SURVIVED", ""
            survivors.append(fault)
        counts[outcome] += 1
        print(f"{progress} {outcome} {describe(fault)}{detail}", flush=True)
    if stale:
        scorer.build(stale, "gen.restore")
    elapsed = time.monotonic() - start
    scored = max(1, len(drawn) - counts["equivalent"])
    print(f"generated: {counts['killed']} killed, {counts['SURVIVED']} survived, {counts['equivalent']} equivalent, "
          f"{counts['not scored']} not scored (seed {args.seed}) in {elapsed:.0f} s, {elapsed / scored:.0f} s a fault")
    if survivors:
        print(f"Survivors: a test that fails on each, or a line in {EQUIVALENTS} saying why none can:")
        for fault in survivors:
            print(f"  {describe(fault)}")
    return 0


def main(argv=None):
    args = parse(argv)
    with open(os.path.join(args.root, "Tests", "Faults", "Faults.json"), encoding="utf-8") as file:
        faults = json.load(file)
    if args.generate is not None:
        drawn = draw(args, faults)
        if drawn is None:
            print(f"mutants: no coverage data in {args.coverage}: run Tools/build.sh coverage first", file=sys.stderr)
            return 1
        if args.check:  # the draw only, to see what a run would make
            for fault in drawn:
                print(describe(fault))
            return 0
        scorer = prepare(args, [])
        return 1 if scorer is None else score_generated(args, scorer, drawn)
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
    suites = sorted({s for f in chosen for s in f.get("suites", [])}) if all(f.get("suites") for f in chosen) else []
    scorer = prepare(args, suites)
    if scorer is None:
        return 1

    unscored = [fault for fault, _ in bad]
    caught = survived = 0
    for number, fault in enumerate(chosen, 1):
        if fault in unscored:
            continue
        path = os.path.join(args.work, "tree", fault["file"])
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
            scorer.build(set(fault_suites) or {"all"}, f"fault{number}.restore")
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
