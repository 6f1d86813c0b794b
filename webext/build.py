#!/usr/bin/env python3
"""Writes the extension for both browser families from one source:
<out>/chromium (a service worker, the fixed-ID "key") and <out>/firefox
(background scripts, the add-on ID) plus <out>/zorvane.xpi."""
import json
import os
import shutil
import sys
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
FIREFOX_ID = "zorvane@quennet.com"
PAGES = ("background.js", "popup.html", "popup.js", "options.html", "options.js")


def manifest(family):
    with open(os.path.join(HERE, "manifest.base.json")) as f:
        m = json.load(f)
    if family == "chromium":
        with open(os.path.join(HERE, "key.txt")) as f:
            m["key"] = f.read().strip()
        m["background"] = {"service_worker": "background.js"}
    else:
        m["background"] = {"scripts": ["background.js"]}
        m["browser_specific_settings"] = {"gecko": {"id": FIREFOX_ID, "strict_min_version": "115.0"}}
    return m


def main(out):
    for family in ("chromium", "firefox"):
        folder = os.path.join(out, family)
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "manifest.json"), "w") as f:
            json.dump(manifest(family), f, indent=2)
        for name in PAGES:
            shutil.copyfile(os.path.join(HERE, name), os.path.join(folder, name))
    with zipfile.ZipFile(os.path.join(out, "zorvane.xpi"), "w") as xpi:
        for name in ("manifest.json",) + PAGES:
            xpi.write(os.path.join(out, "firefox", name), name)


if __name__ == "__main__":
    main(sys.argv[1])
