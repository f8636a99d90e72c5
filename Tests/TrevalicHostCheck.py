#!/usr/bin/python3
"""TrevalicHost.exe and the provider list document as a host receives them, checked on the
build machine: `schema` validates every filter's document and the registry-override documents
against the JSON Schema with an independent validator; `cli` checks the tool's views and its
answers to bad command lines."""
import argparse, json, os, shutil, subprocess, sys

import jsonschema

parser = argparse.ArgumentParser()
parser.add_argument("mode", choices=["schema", "cli"])
parser.add_argument("--emulator", required=True)
parser.add_argument("--bin", required=True)
parser.add_argument("--schema", required=True)
parser.add_argument("--work", required=True)
args = parser.parse_args()
failures = []


def run(program, *arguments, cwd=None, env=None):
    done = subprocess.run([args.emulator, program, *arguments], cwd=cwd or args.bin, env=env,
                          stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    return done.returncode, done.stdout.decode("utf-8"), done.stderr.decode("utf-8", "replace")


def host(*arguments, cwd=None):
    return run(os.path.join(args.bin, "TrevalicHost.exe"), *arguments, cwd=cwd)


def document(*arguments):
    status, out, err = host(*arguments)
    if status != 0:
        sys.exit(f"TrevalicHost {' '.join(arguments)}: status {status}: {err}")
    return json.loads(out)


def check(condition, what):
    if not condition:
        failures.append(what)


def check_schema():
    schema = json.load(open(args.schema, encoding="utf-8"))
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema, format_checker=jsonschema.Draft202012Validator.FORMAT_CHECKER)
    documents = {f"--type {t}": document("--type", str(t)) for t in range(4)}
    documents["--bstr"] = document("--bstr")
    # The export suite loads the DLL under each registry override and leaves the documents here.
    env = dict(os.environ, TREVALIC_DOCUMENT_DIR=".")
    status, _, err = run(os.path.join(args.bin, "TrevalicExportTest.exe"),
                         "--gtest_filter=TrevalicExportRegistry.OverridesReadAtLoad", cwd=args.work, env=env)
    check(status == 0, f"the registry-override cases failed: {err}")
    overrides = sorted(f for f in os.listdir(args.work) if f.startswith("override-"))
    check(len(overrides) >= 7, f"registry-override documents: {overrides}")
    for name in overrides:
        documents[name] = json.load(open(os.path.join(args.work, name), encoding="utf-8"))
    for name, doc in documents.items():
        for error in validator.iter_errors(doc):
            failures.append(f"{name}: {error.json_path}: {error.message}")
    check(len(documents["--type 0"]["Trevalic"]) == 7, "seven providers")

    # A schema that accepts anything passes the loop above; each of these faults must be refused.
    def spoil(path, value):
        doc = json.loads(json.dumps(documents["--type 0"]))
        target = doc
        for key in path[:-1]:
            target = target[key]
        if value is KeyError:
            del target[path[-1]]
        else:
            target[path[-1]] = value
        return doc

    secret = ["Trevalic", 0, "ClientSecrets", 0]
    faults = {
        "extra top-level member": spoil(["Extra"], 1),
        "extra provider member": spoil(["Trevalic", 0, "Extra"], 1),
        "missing provider member": spoil(["Trevalic", 0, "Scope"], KeyError),
        "ProviderType Any": spoil(["Trevalic", 0, "ProviderType"], "Any"),
        "RedirectPort negative": spoil(["Trevalic", 0, "RedirectPort"], -1),
        "RedirectPort above 32 bits": spoil(["Trevalic", 0, "RedirectPort"], 4294967296),
        "RedirectPort as text": spoil(["Trevalic", 0, "RedirectPort"], "32023"),
        "UiVisible as text": spoil(["Trevalic", 0, "UiVisible"], "true"),
        "Expiration local time": spoil(secret + ["Expiration"], "2027-08-27T00:00:00"),
        "Expiration with offset": spoil(secret + ["Expiration"], "2027-08-27T00:00:00+02:00"),
        "Expiration as number": spoil(secret + ["Expiration"], 0),
        "secret without Expiration": spoil(secret + ["Expiration"], KeyError),
        "extra secret member": spoil(secret + ["Extra"], 1),
        "parameter not text": spoil(["Trevalic", 0, "ExtraParameters", "prompt"], 1),
    }
    for name, doc in faults.items():
        check(not validator.is_valid(doc), f"the schema accepts a document with {name}")


def check_cli():
    full = document()
    check(document("--pretty") == full and document("--bstr", "--pretty") == full, "--pretty shows the same document")
    for kind in range(4):
        status, out, _ = host("--type", str(kind), "--table")
        lines = out.splitlines()[1:]
        expected = [[p["Id"], p["ProviderType"], "yes" if p["UiVisible"] else "no", p["ClientId"],
                     ",".join(s["Expiration"] or "never" for s in p["ClientSecrets"])]
                    for p in full["Trevalic"] if kind == 0 or p["ProviderType"] == ["IMAP", "Graph", "SharePoint"][kind - 1]]
        check(status == 0 and [line.split() for line in lines] == expected, f"--type {kind} --table:\n{out}")
    status, out, _ = host("--help")
    check(status == 0 and out.startswith("usage:"), "--help")

    lonely = os.path.join(args.work, "without-dll")
    os.makedirs(lonely)
    shutil.copy(os.path.join(args.bin, "TrevalicHost.exe"), lonely)
    here, alone = os.path.join(args.bin, "TrevalicHost.exe"), os.path.join(lonely, "TrevalicHost.exe")
    bad = [  # program, arguments, status, start of the one-line reason
        (here, ["--frobnicate"], 2, "unknown option: --frobnicate"),
        (here, ["--type"], 2, "--type needs"),
        (here, ["--type", "4"], 2, "not a provider type"),
        (here, ["--type", "-1"], 2, "not a provider type"),
        (here, ["--type", "1x"], 2, "not a provider type"),
        (here, ["--table", "--pretty"], 2, "--table and --pretty"),
        (here, ["--bstr", "--type", "1"], 2, "--type applies"),
        (here, ["--messages", "--table"], 2, "--messages has no"),
        (alone, [], 1, "cannot load Trevalic.dll"),
    ]
    for program, arguments, expected_status, reason in bad:
        status, out, err = run(program, *arguments, cwd=os.path.dirname(program))
        lines = err.strip().splitlines()
        check(status == expected_status and out == "" and len(lines) == 1 and lines[0].startswith("TrevalicHost: " + reason),
              f"{program} {arguments}: status {status}, stderr {err!r}")

shutil.rmtree(args.work, ignore_errors=True)
os.makedirs(args.work)
check_schema() if args.mode == "schema" else check_cli()
for failure in failures:
    print("FAILED:", failure)
print(f"{len(failures)} failed" if failures else "ok")
sys.exit(1 if failures else 0)
