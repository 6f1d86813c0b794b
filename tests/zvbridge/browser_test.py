#!/usr/bin/env python3
"""Downloads started in real headless browsers reach the stand-in download
manager through the extension and zvbridge.exe under Wine, and the browser
keeps every download the download manager did not take.

    browser_test.py <build dir> <case>
"""
import shutil
import sys
import tempfile

from browser_rig import Chromium, Firefox, Site, StandIn, WineBuild, wait_until

ACCEPT_ZIP = {"AcceptingTypes": "ZIP"}
SETTLE = 3  # seconds for a cancelled download to leave no trace


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)


class Run:
    """One case: the site, a scratch folder, the stand-ins started, the browser."""

    def __init__(self, wine):
        self.wine = wine
        self.site = Site()
        self.scratch = tempfile.mkdtemp(prefix="zvcase-")
        self.standins = []
        self.browser = None

    def standin(self, reply=1):
        s = StandIn(self.wine, tempfile.mkdtemp(dir=self.scratch), reply)
        self.standins.append(s)
        return s

    def close(self):
        if self.browser:
            self.browser.close()
        for s in self.standins:
            s.close()
        self.site.close()
        self.wine.settings({})
        shutil.rmtree(self.scratch, ignore_errors=True)


def taken_with_details(run, browser_class):
    run.wine.settings(ACCEPT_ZIP)
    standin = run.standin()
    b = run.browser = browser_class(run.wine)
    b.open(run.site.page_url())
    texts = wait_until(standin.texts, 60)
    # Firefox's item has no size yet when the extension pauses it.
    expected = run.site.expected_record(1, with_size=browser_class is Chromium)
    check(texts == [expected], f"the download manager received {texts!r}")
    wait_until(lambda: False, SETTLE)
    check(b.any_files() == [], f"the browser's download folder holds {b.any_files()}")


# Downloads the download manager does not take: what the browser then has,
# and how many texts the stand-in saw. (name, settings, stand-in reply or
# None for none at all, kind of file)
KEPT_ROWS = [
    ("an .html link is not taken", ACCEPT_ZIP, 1, "html", 0),
    ("the download manager declines", ACCEPT_ZIP, 0, "zip", 1),
    ("no download manager and no App Paths entry", ACCEPT_ZIP, None, "zip", 0),
    ("catching switched off in the settings", dict(ACCEPT_ZIP, WebUrlCatch="FALSE"), 1, "zip", 0),
]


def kept_by_browser(run, browser_class, rows=KEPT_ROWS):
    b = None
    for i, (what, settings, reply, kind, texts_seen) in enumerate(rows, start=1):
        run.wine.settings(settings)
        standin = run.standin(reply) if reply is not None else None
        if b is None:
            b = run.browser = browser_class(run.wine)
        # A page per row, each with its own file number.
        b.open(run.site.base + f"/page.html?first={i}&n={i}&kind={kind}&auto=1")
        name = run.site.file_name(i, kind)
        got = wait_until(lambda: name in b.downloaded(), 60)
        check(got, f"{what}: {name} not in the download folder ({b.any_files()})")
        if standin:
            wait_until(lambda: len(standin.texts()) >= texts_seen, 10)
            check(len(standin.texts()) == texts_seen, f"{what}: the stand-in saw {standin.texts()!r}")
            standin.close()
            run.standins.remove(standin)


def context_menu_forces(run, browser_class):
    run.wine.settings(ACCEPT_ZIP)
    standin = run.standin()
    b = run.browser = browser_class(run.wine)
    page = run.site.page_url(auto=False)
    b.open(page)  # sets the cookie
    wait_until(lambda: False, 1)
    url = run.site.file_url(77, "pdf")
    b.in_extension(f'onMenuClicked({{menuItemId: MENU_ID, linkUrl: "{url}", pageUrl: "{page}"}}, null)')
    texts = wait_until(standin.texts, 30)
    check(texts == [run.site.expected_record(77, "pdf", page, with_file_details=False)],
          f"the download manager received {texts!r}")
    wait_until(lambda: False, SETTLE)
    check(b.any_files() == [], f"the browser's download folder holds {b.any_files()}")


def button_switches_catching(run, browser_class):
    run.wine.settings(ACCEPT_ZIP)
    standin = run.standin()
    b = run.browser = browser_class(run.wine)
    b.in_extension("onButtonClicked()")
    check(b.in_extension("api.action.getBadgeText({})") == "off", "the badge does not say off")
    b.open(run.site.page_url())
    check(wait_until(lambda: "report-1.zip" in b.downloaded(), 60), "switched off, the browser lost the download")
    b.in_extension("onButtonClicked()")
    check(b.in_extension("api.action.getBadgeText({})") == "", "the badge still says off")
    b.open(run.site.base + "/page.html?first=2&n=2&kind=zip&auto=1")
    texts = wait_until(standin.texts, 60)
    check([t.split("\r\n")[0] for t in texts] == [f"URL={run.site.file_url(2)}"],
          f"switched on again, the download manager received {texts!r}")


def burst_delivered_once(run, browser_class, count=50):
    run.wine.settings(ACCEPT_ZIP)
    standin = run.standin()
    b = run.browser = browser_class(run.wine, seconds=150)
    # A page starts at most ten downloads of its own accord: five pages.
    for first in range(1, count + 1, 10):
        b.open(run.site.base + f"/page.html?first={first}&n={min(first + 9, count)}&kind=zip&auto=1")
    wait_until(lambda: len(standin.texts()) >= count, 100, 0.5)
    wait_until(lambda: False, SETTLE)
    urls = sorted(t.split("\r\n")[0] for t in standin.texts())
    expected = sorted(f"URL={run.site.file_url(i)}" for i in range(1, count + 1))
    check(urls == expected, f"{len(urls)} texts, not each of {count} files once: {urls[:5]}...")
    check(b.any_files() == [], f"the browser's download folder holds {b.any_files()}")


CASES = {
    "chromium.taken": lambda run: taken_with_details(run, Chromium),
    "chromium.kept": lambda run: kept_by_browser(run, Chromium),
    "chromium.context_menu": lambda run: context_menu_forces(run, Chromium),
    "chromium.burst": lambda run: burst_delivered_once(run, Chromium),
    "chromium.button": lambda run: button_switches_catching(run, Chromium),
    "firefox.taken": lambda run: taken_with_details(run, Firefox),
    "firefox.kept": lambda run: kept_by_browser(run, Firefox, KEPT_ROWS[1:3]),
}


def main():
    build, case = sys.argv[1], sys.argv[2]
    browser = "chromium" if case.startswith("chromium") else "firefox-esr"
    if not shutil.which(browser):
        print(f"{browser} is not installed")
        return 77
    run = Run(WineBuild(build))
    try:
        CASES[case](run)
    except Failure as failure:
        print(f"FAILED {case}: {failure}")
        if run.browser:
            for name in ("host.err",):
                try:
                    print(open(f"{run.browser.root}/{name}").read()[-3000:])
                except OSError:
                    pass
        return 1
    finally:
        run.close()
    print(f"passed {case}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
