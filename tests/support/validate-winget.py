#!/usr/bin/env python3
"""Checks the winget manifests that the deployment tests wrote as samples.

Usage: validate-winget.py SAMPLES SCHEMAS

For every SAMPLES/<name>.expected.json (what the program meant to write) the
folder SAMPLES/<name>.json.winget must hold exactly the three manifests it
names, each valid against winget's manifest schema of its type (SCHEMAS holds
winget's published JSON schemas), all three of one identifier and version,
with the values of the expected file (so that quoting lost nothing), one
installer entry per architecture with its product and upgrade code, and an
InstallerSha256 equal to what sha256sum says of the zip when one was named.
"""
import json
import os
import subprocess
import sys

import jsonschema
import yaml

samples, schemas = sys.argv[1:3]
validators = {}
for kind in ("version", "defaultLocale", "installer"):
    with open(os.path.join(schemas, f"manifest.{kind}.1.10.0.json"), encoding="utf-8") as f:
        schema = json.load(f)
    validators[kind] = jsonschema.Draft7Validator(schema, format_checker=jsonschema.FormatChecker())

failures = []
checked = 0


def check(condition, what):
    if not condition:
        failures.append(what)


names = sorted(n[: -len(".expected.json")] for n in os.listdir(samples) if n.endswith(".expected.json"))
if not names:
    sys.exit(f"validate-winget: no samples in {samples}")
for name in names:
    with open(os.path.join(samples, name + ".expected.json"), encoding="utf-8") as f:
        expected = json.load(f)
    folder = os.path.join(samples, name + ".json.winget")
    present = sorted(os.listdir(folder))
    check(present == sorted(expected["files"]), f"{name}: files {present}, expected {expected['files']}")
    manifests = {}
    for file in expected["files"]:
        with open(os.path.join(folder, file), encoding="utf-8") as f:
            document = yaml.safe_load(f)
        kind = document.get("ManifestType")
        check(kind in validators, f"{name}/{file}: ManifestType {kind!r}")
        if kind not in validators:
            continue
        for error in validators[kind].iter_errors(document):
            failures.append(f"{name}/{file}: {'/'.join(map(str, error.absolute_path))}: {error.message}")
        manifests[kind] = document
        checked += 1
    check(set(manifests) == set(validators), f"{name}: manifest types {sorted(manifests)}")
    for kind, document in manifests.items():
        check(document["PackageIdentifier"] == expected["packageIdentifier"], f"{name}/{kind}: PackageIdentifier")
        check(document["PackageVersion"] == expected["packageVersion"], f"{name}/{kind}: PackageVersion")
        check(document["ManifestVersion"] == "1.10.0", f"{name}/{kind}: ManifestVersion")
    locale = manifests.get("defaultLocale", {})
    for field, key in (("Publisher", "publisher"), ("PackageName", "packageName"), ("License", "license"),
                       ("ShortDescription", "shortDescription")):
        check(locale.get(field) == expected[key], f"{name}: {field} {locale.get(field)!r}, expected {expected[key]!r}")
    installer = manifests.get("installer", {})
    check(installer.get("InstallerType") == "zip" and installer.get("NestedInstallerType") == "exe"
          and installer.get("NestedInstallerFiles") == [{"RelativeFilePath": "qz-setup.exe"}],
          f"{name}: not a zip with qz-setup.exe as its nested installer")
    entries = installer.get("Installers", [])
    check([e.get("Architecture") for e in entries] == [i["architecture"] for i in expected["installers"]],
          f"{name}: architectures {[e.get('Architecture') for e in entries]}")
    codes = {1602: "cancelledByUser", 1618: "installInProgress", 1619: "invalidParameter",
             1633: "systemNotSupported", 1638: "alreadyInstalled", 1641: "rebootInitiated",
             3010: "rebootRequiredToFinish"}
    for entry, facts in zip(entries, expected["installers"]):
        where = f"{name}/{entry.get('Architecture')}"
        check(entry.get("ProductCode") == facts["productCode"], f"{where}: ProductCode")
        check(entry.get("AppsAndFeaturesEntries") == [{"ProductCode": facts["productCode"],
                                                        "UpgradeCode": facts["upgradeCode"]}],
              f"{where}: AppsAndFeaturesEntries {entry.get('AppsAndFeaturesEntries')}")
        check(entry.get("Scope") == "machine", f"{where}: Scope")
        switches = entry.get("InstallerSwitches", {})
        check(switches.get("Silent") == expected["silentSwitches"] == switches.get("SilentWithProgress"),
              f"{where}: InstallerSwitches {switches}")
        got = {c["InstallerReturnCode"]: c["ReturnResponse"] for c in entry.get("ExpectedReturnCodes", [])}
        check(got == codes, f"{where}: ExpectedReturnCodes {got}")
        check(entry.get("InstallerUrl") == expected["installerUrl"], f"{where}: InstallerUrl")
        zip_file = expected["zip"]["file"] if expected.get("zip") else None
        if zip_file:
            local = os.path.join(samples, os.path.basename(zip_file.replace("\\", "/")))
            digest = subprocess.run(["sha256sum", local], check=True, capture_output=True, text=True).stdout.split()[0]
            check(entry.get("InstallerSha256") == digest, f"{where}: InstallerSha256 {entry.get('InstallerSha256')}, sha256sum {digest}")
        else:
            check(entry.get("InstallerSha256") == "0" * 64, f"{where}: InstallerSha256 placeholder")

for failure in failures:
    print("validate-winget:", failure)
print(f"validate-winget: {checked} manifests of {len(names)} samples checked, {len(failures)} failures")
sys.exit(1 if failures or checked == 0 else 0)
