#!/usr/bin/python3
"""Every text the program can show is in each language's .ts file, finished there, with the
placeholders of its English text: lupdate is run over every source of the window and the engine
into a scratch copy, and must find nothing new and nothing gone.

translations.py LUPDATE SOURCE_DIR"""
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET


def messages(path):
    root = ET.parse(path).getroot()
    found = {}
    for context in root.iter("context"):
        for message in context.iter("message"):
            key = (context.findtext("name"), message.findtext("source"))
            found[key] = message.find("translation")
    return root.get("language"), found


def placeholders(text):
    return sorted(re.findall(r"%\d", text or ""))


def check(lupdate, source_dir, ts):
    problems = []
    language, found = messages(ts)
    expected = os.path.basename(ts)[len("trasko_"):-len(".ts")]
    if language != expected:
        problems.append(f"language {language!r}, not {expected!r}")
    for (context, source), translation in found.items():
        where = f"{context}: {source!r}"
        if translation.get("type"):
            problems.append(f"{translation.get('type')}: {where}")
        elif not (translation.text or "").strip():
            problems.append(f"empty: {where}")
        elif placeholders(translation.text) != placeholders(source):
            problems.append(f"placeholders differ: {where} -> {translation.text!r}")

    sources = [f for pattern in ("ui/*.cpp", "ui/*.h", "ui/*.ui", "engine/*.cpp", "engine/*.h")
               for f in glob.glob(os.path.join(source_dir, pattern))]
    with tempfile.TemporaryDirectory() as scratch:
        copy = os.path.join(scratch, os.path.basename(ts))
        shutil.copy(ts, copy)
        subprocess.run([lupdate, "-silent", "-no-obsolete", "-locations", "none", "-I", source_dir,
                        *sources,
                        "-ts", copy], check=True)
        _, now = messages(copy)
    problems += [f"not in the file: {c}: {s!r}" for c, s in now.keys() - found.keys()]
    problems += [f"no longer in the program: {c}: {s!r}" for c, s in found.keys() - now.keys()]
    return problems


def main():
    lupdate, source_dir = sys.argv[1:3]
    files = sorted(glob.glob(os.path.join(source_dir, "translations", "trasko_*.ts")))
    failed = False
    for ts in files:
        problems = check(lupdate, source_dir, ts)
        print(f"{os.path.basename(ts)}: {len(problems)} problems")
        for problem in problems:
            print("  " + problem)
        failed |= bool(problems)
    if len(files) != 3:
        print(f"three languages expected, {len(files)} found")
        failed = True
    sys.exit(1 if failed else 0)


main()
