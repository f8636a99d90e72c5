#!/usr/bin/python3
"""The shipped modules as a host developer's machine and debugger see them, read with Debian's
LLVM tools: `windows` compares the Windows version in the PE headers with the one the README and
the host guide state; `pdb` checks that Trevalic.pdb is the program database of Trevalic.dll (the
same GUID and age, named without a folder of the build machine) and that it knows the exports."""
import argparse, re, subprocess, sys

parser = argparse.ArgumentParser()
parser.add_argument("mode", choices=["windows", "pdb"])
parser.add_argument("--readobj", required=True)
parser.add_argument("--pdbutil")
parser.add_argument("--def", dest="definitions", help="the .def file of the DLL")
parser.add_argument("--docs", nargs="*", default=[], help="documents that state the Windows version")
parser.add_argument("modules", nargs="+")
args = parser.parse_args()
failures = []


def output(*command):
    done = subprocess.run(command, capture_output=True, text=True, timeout=120)
    if done.returncode != 0:
        sys.exit(f"{' '.join(command)}: status {done.returncode}: {done.stderr}")
    return done.stdout


def field(text, name, where):
    found = re.findall(rf"^\s*{name}: (.*)$", text, re.MULTILINE)
    if len(found) != 1:
        sys.exit(f"{where}: expected one {name}, found {found}")
    return found[0].strip()


def check_windows():
    stated = set()
    for doc in args.docs:
        found = set(re.findall(r"Windows \d+ \((\d+\.\d+)\) or later", open(doc, encoding="utf-8").read()))
        if not found:
            failures.append(f"{doc} states no Windows version")
        stated |= found
    if len(stated) != 1:
        sys.exit(f"the documents state {sorted(stated) or 'no'} Windows versions; expected one")
    version = stated.pop()
    for module in args.modules:
        headers = output(args.readobj, "--file-headers", module)
        for kind in ("OperatingSystem", "Subsystem"):
            found = f"{field(headers, f'Major{kind}Version', module)}.{field(headers, f'Minor{kind}Version', module)}"
            if found != version:
                failures.append(f"{module}: {kind} version {found}, the documents state {version}")


def exports():
    text = open(args.definitions, encoding="utf-8").read().split("EXPORTS", 1)[1]
    return [line.split()[0] for line in text.splitlines() if line.split() and "DATA" not in line.split()]


def check_pdb():
    dll, pdb = args.modules
    debug = output(args.readobj, "--coff-debug-directory", dll)
    if len(re.findall(r"Type: CodeView", debug)) != 1:
        sys.exit(f"{dll}: expected one CodeView entry in the debug directory:\n{debug}")
    # The GUID as 16 bytes in file order; its first three fields are little-endian.
    raw = bytes.fromhex(re.sub(r"[^0-9A-Fa-f]", "", re.search(r"PDBGUID: \(([^)]*)\)", debug).group(1)))
    dll_guid = "".join(f"{b:02X}" for b in (raw[3::-1] + raw[5:3:-1] + raw[7:5:-1] + raw[8:]))
    summary = output(args.pdbutil, "dump", "--summary", pdb)
    pdb_guid = re.sub(r"[^0-9A-Fa-f]", "", field(summary, "GUID", pdb)).upper()
    if len(raw) != 16 or dll_guid != pdb_guid:
        failures.append(f"GUID: {dll} names {dll_guid}, {pdb} is {pdb_guid}")
    if field(debug, "PDBAge", dll) != field(summary, "Age", pdb):
        failures.append(f"age: {dll} names {field(debug, 'PDBAge', dll)}, {pdb} is {field(summary, 'Age', pdb)}")
    if field(debug, "PDBFileName", dll) != "Trevalic.pdb":
        failures.append(f"{dll} names the program database {field(debug, 'PDBFileName', dll)!r}, not 'Trevalic.pdb'")
    publics = set(re.findall(r"S_PUB32 \[size = \d+\] `(.*)`$", output(args.pdbutil, "dump", "--publics", pdb), re.MULTILINE))
    names = exports()
    if len(names) != 6:
        sys.exit(f"{args.definitions}: expected six exported functions, found {names}")
    failures.extend(f"{pdb}: no public symbol {name}" for name in names if name not in publics)


check_windows() if args.mode == "windows" else check_pdb()
for failure in failures:
    print(failure)
sys.exit(1 if failures else 0)
