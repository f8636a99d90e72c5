#!/usr/bin/python3
"""TrevalicHost.exe and the provider list document as a host receives them, checked on the
build machine: `schema` validates the full document and the registry-override documents against
the JSON Schema with an independent validator; `cli` checks the tool's views and its answers to
bad command lines."""
import argparse, copy, json, os, shutil, subprocess, sys

import jsonschema

parser = argparse.ArgumentParser()
parser.add_argument("mode", choices=["schema", "cli"])
for option in ("--emulator", "--bin", "--schema", "--work"):
    parser.add_argument(option, required=True)
args = parser.parse_args()
host = os.path.join(args.bin, "TrevalicHost.exe")
failures = []


def run(program, *arguments, cwd=None, env=None):
    done = subprocess.run([args.emulator, program, *arguments], cwd=cwd or os.path.dirname(program), env=env,
                          stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    return done.returncode, done.stdout.decode("utf-8"), done.stderr.decode("utf-8", "replace")


def document(*arguments):
    status, out, err = run(host, *arguments)
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
    # The filtered documents hold a subset of the same records, and --bstr gives the full one (cli).
    documents = {"full": document()}
    # The export suite loads the DLL under each registry override and leaves the documents here.
    status, _, err = run(os.path.join(args.bin, "TrevalicExportTest.exe"), "--gtest_filter=TrevalicExportRegistry.OverridesReadAtLoad",
                         cwd=args.work, env=dict(os.environ, TREVALIC_DOCUMENT_DIR="."))
    check(status == 0, f"the registry-override cases failed: {err}")
    overrides = sorted(f for f in os.listdir(args.work) if f.startswith("override-"))
    check(len(overrides) >= 2, f"registry-override documents: {overrides}")
    documents.update({name: json.load(open(os.path.join(args.work, name), encoding="utf-8")) for name in overrides})
    failures.extend(f"{name}: {error.json_path}: {error.message}" for name, doc in documents.items() for error in validator.iter_errors(doc))

    # A schema that accepts anything passes the loop above; each of these faults, made to a copy of
    # the full document and its first provider, must be refused.
    faults = {
        "extra top-level member": lambda doc, provider: doc.update(Extra=1),
        "extra provider member": lambda doc, provider: provider.update(Extra=1),
        "missing provider member": lambda doc, provider: provider.pop("Scope"),
        "ProviderType Any": lambda doc, provider: provider.update(ProviderType="Any"),
        "RedirectPort negative": lambda doc, provider: provider.update(RedirectPort=-1),
        "RedirectPort above 32 bits": lambda doc, provider: provider.update(RedirectPort=4294967296),
        "RedirectPort as text": lambda doc, provider: provider.update(RedirectPort="32023"),
        "UiVisible as text": lambda doc, provider: provider.update(UiVisible="true"),
        "Expiration with offset": lambda doc, provider: provider["ClientSecrets"][0].update(Expiration="2027-08-27T00:00:00+02:00"),
        "Expiration as number": lambda doc, provider: provider["ClientSecrets"][0].update(Expiration=0),
        "secret without Expiration": lambda doc, provider: provider["ClientSecrets"][0].pop("Expiration"),
        "extra secret member": lambda doc, provider: provider["ClientSecrets"][0].update(Extra=1),
        "parameter not text": lambda doc, provider: provider["ExtraParameters"].update(prompt=1),
    }
    for name, spoil in faults.items():
        doc = copy.deepcopy(documents["full"])
        spoil(doc, doc["Trevalic"][0])
        check(not validator.is_valid(doc), f"the schema accepts a document with {name}")


def check_cli():
    full = document()
    check(document("--pretty") == full and document("--bstr", "--pretty") == full, "--pretty shows the same document")
    for kind in range(4):
        status, out, _ = run(host, "--type", str(kind), "--table")
        expected = [[p["Id"], p["ProviderType"], "yes" if p["UiVisible"] else "no", p["ClientId"],
                     ",".join(s["Expiration"] or "never" for s in p["ClientSecrets"])]
                    for p in full["Trevalic"] if kind == 0 or p["ProviderType"] == ["IMAP", "Graph", "SharePoint"][kind - 1]]
        check(status == 0 and [line.split() for line in out.splitlines()[1:]] == expected, f"--type {kind} --table:\n{out}")
    status, out, _ = run(host, "--help")
    check(status == 0 and out.startswith("usage:"), "--help")

    # Exit status 2 for a bad command line, 1 when the DLL cannot be loaded; one line on stderr.
    alone = shutil.copy(host, args.work)  # a folder without the DLL
    bad = [  # program, arguments, status, start of the one-line reason
        (host, ["--frobnicate"], 2, "unknown option: --frobnicate"),
        (host, ["--type"], 2, "--type needs"),
        (host, ["--type", "4"], 2, "not a provider type"),
        (host, ["--type", "-1"], 2, "not a provider type"),
        (host, ["--type", "1x"], 2, "not a provider type"),
        (host, ["--table", "--pretty"], 2, "--table and --pretty"),
        (host, ["--bstr", "--type", "1"], 2, "--type applies"),
        (host, ["--messages", "--table"], 2, "--messages has no"),
        (alone, [], 1, "cannot load Trevalic.dll"),
    ]
    for program, arguments, expected_status, reason in bad:
        status, out, err = run(program, *arguments)
        lines = err.strip().splitlines()
        check(status == expected_status and out == "" and len(lines) == 1 and lines[0].startswith("TrevalicHost: " + reason),
              f"{program} {arguments}: status {status}, stderr {err!r}")

shutil.rmtree(args.work, ignore_errors=True)
os.makedirs(args.work)
check_schema() if args.mode == "schema" else check_cli()
for failure in failures:
    print("FAILED:", failure)
sys.exit(f"{len(failures)} failed" if failures else 0)
