#!/usr/bin/env python3
"""Downloads started in real headless browsers reach the stand-in download
manager through the extension and zvbridge.exe under Wine, and the browser
keeps every download the download manager did not take.

    browser_test.py <build dir> <case>
"""
import base64
import json
import os
import shutil
import sys
import tempfile
import urllib.parse

from browser_rig import FILE_SIZE, Chromium, Firefox, Site, StandIn, WineBuild, wait_until

ACCEPT_ZIP = {"AcceptingTypes": "ZIP"}
SETTLE = 3  # seconds for a cancelled download to leave no trace
POPUP_OUTCOMES = "[...document.querySelectorAll('#downloads li .outcome')].map(e => e.textContent)"


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

    def standin(self, reply=1, *options):
        s = StandIn(self.wine, tempfile.mkdtemp(dir=self.scratch), reply, *options)
        self.standins.append(s)
        return s

    def installed_standin(self, settings, *options):
        """A stand-in that is not running, under App Paths for the host to start."""
        s = StandIn(self.wine, tempfile.mkdtemp(dir=self.scratch), 1, *options, installed=True)
        self.standins.append(s)
        self.wine.settings(settings, app_path=s.program)
        return s

    def close(self):
        if self.browser:
            self.browser.close()
        for s in self.standins:
            s.close(self.wine)
        self.site.close()
        self.wine.settings({})
        shutil.rmtree(self.scratch, ignore_errors=True)


def set_options(b, never_sites=(), min_kb=0, private=False):
    """Fills in the options page and saves it, as a user does."""
    page = b.extension_page("options.html")
    b.in_page(page, f"""(() => {{
        document.getElementById('neverSites').value = {json.dumps(chr(10).join(never_sites))};
        document.getElementById('minSize').value = '{min_kb}';
        document.getElementById('privateWindows').checked = {json.dumps(private)};
        document.getElementById('save').click();
        return 1; }})()""")
    saved = lambda: b.in_page(page, "document.getElementById('saved').textContent") == "Saved."
    check(wait_until(saved, 10), "the options page did not save")
    wait_until(lambda: False, 1)  # for the change to reach the background


def popup_outcomes(b):
    return b.in_page(b.extension_page("popup.html"), POPUP_OUTCOMES)


def arrived_whole(b, name, body):
    return name in b.downloaded() and open(f"{b.downloads}/{name}", "rb").read() == body


def cookies_apart(text):
    """A record without its Cookie line, and the cookies that line names, sorted."""
    lines = text.split("\r\n")
    cookie = next((line[len("Cookie="):] for line in lines if line.startswith("Cookie=")), "")
    rest = "\r\n".join(line for line in lines if not line.startswith("Cookie="))
    return rest, sorted(base64.b64decode(cookie).decode().split("; ")) if cookie else []


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
        # Firefox's own download runs on while the host is asked: the file
        # may be there before the download manager saw the text.
        if standin:
            wait_until(lambda: len(standin.texts()) >= texts_seen, 30)
        got = wait_until(lambda: name in b.downloaded(), 60)
        check(got, f"{what}: {name} not in the download folder ({b.any_files()})")
        if standin:
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


def popup_switches_catching_and_lists_outcomes(run, browser_class):
    run.wine.settings(ACCEPT_ZIP)
    standin = run.standin()
    b = run.browser = browser_class(run.wine)
    popup = b.extension_page("popup.html")
    check(b.in_page(popup, "document.getElementById('connection').textContent").startswith("Connected"),
          "the popup does not show the host connected")
    b.in_page(popup, "document.getElementById('catching').click()")
    check(wait_until(lambda: b.in_extension("api.action.getBadgeText({})") == "off", 5), "the badge does not say off")
    b.open(run.site.page_url())
    check(wait_until(lambda: "report-1.zip" in b.downloaded(), 60), "switched off, the browser lost the download")
    b.in_page(popup, "document.getElementById('catching').click()")
    check(wait_until(lambda: b.in_extension("api.action.getBadgeText({})") == "", 5), "the badge still says off")
    b.open(run.site.page_url(first=2, n=2))
    texts = wait_until(standin.texts, 60)
    check([t.split("\r\n")[0] for t in texts] == [f"URL={run.site.file_url(2)}"],
          f"switched on again, the download manager received {texts!r}")
    popup = b.extension_page("popup.html")  # opened afresh, as a click on the button does
    outcomes = b.in_page(popup, POPUP_OUTCOMES)
    check(outcomes == ["taken", "kept: catching is off"], f"the popup lists {outcomes}")
    # "Send anyway" on the kept one: the forced path, past the type lists.
    b.in_page(popup, "document.querySelector('#downloads li button.send').click()")
    texts = wait_until(lambda: len(standin.texts()) >= 2 and standin.texts(), 30)
    check(texts and texts[1].startswith(f"URL={run.site.file_url(1)}\r\n"), f"sent anyway: {texts!r}")
    outcomes = wait_until(lambda: (lambda o: o if o and o[0] == "taken" and len(o) == 3 else None)(
        b.in_page(b.extension_page("popup.html"), POPUP_OUTCOMES)), 10)
    check(outcomes == ["taken", "taken", "kept: catching is off"], f"after sending anyway, the popup lists {outcomes}")


def popup_tells_how_to_fix_a_missing_host(run, browser_class):
    """No host registered: the popup says so with the line that fixes it,
    and the browser keeps the download."""
    run.wine.settings(ACCEPT_ZIP)
    b = run.browser = browser_class(run.wine, host=False)
    b.open(run.site.page_url())
    check(wait_until(lambda: "report-1.zip" in b.downloaded(), 60), "without a host, the browser lost the download")
    popup = b.extension_page("popup.html")
    shown = [b.in_page(popup, f"document.getElementById('{i}').textContent") for i in ("connection", "fix")]
    check(shown == ["The host zvbridge.exe is not installed for this browser.",
                    "Run \"zvbridge.exe --register\" in the download manager's folder, then restart the browser."],
          f"the popup shows {shown}")
    outcomes = b.in_page(popup, POPUP_OUTCOMES)
    check(outcomes == ["failed: no host"], f"the popup lists {outcomes}")


# Files of every size: the one the download manager took leaves nothing in
# the download folder, the one it declined arrives whole. (what, bytes)
SIZE_ROWS = [
    ("a few bytes", 10),
    ("a few KB", 3 * 1024),
    ("several MB", 6 * 1024 * 1024),
]


def sizes_taken_or_kept_whole(run, browser_class):
    b = None
    kept = []
    for row, (what, size) in enumerate(SIZE_ROWS):
        for reply in (1, 0):
            i = 10 * row + reply + 1
            run.wine.settings(ACCEPT_ZIP)
            standin = run.standin(reply)
            if b is None:
                b = run.browser = browser_class(run.wine)
            b.open(run.site.page_url(first=i, n=i, size=size))
            name = run.site.file_name(i)
            texts = wait_until(standin.texts, 40)
            check([t.split("\r\n")[0] for t in texts] == [f"URL={run.site.file_url(i, size=size)}"],
                  f"{what}, reply {reply}: the download manager received {texts!r}")
            if reply == 0:
                kept.append(name)
                # Firefox puts an empty file under the final name at once.
                whole = lambda: name in b.downloaded() and open(f"{b.downloads}/{name}", "rb").read() == run.site.body(size)
                check(wait_until(whole, 60), f"{what}: {name} not kept whole ({b.any_files()})")
            wait_until(lambda: b.any_files() == kept, SETTLE + 5)
            check(b.any_files() == kept, f"{what}, reply {reply}: the download folder holds {b.any_files()}")
            standin.close()
            run.standins.remove(standin)


def starting_manager_gets_it_once(run, browser_class):
    """The download manager is not running and shows its window only after
    6 s: the host answers "pending", the extension waits, the download
    arrives once and the browser keeps nothing."""
    standin = run.installed_standin(ACCEPT_ZIP, "--delay=6000")
    b = run.browser = browser_class(run.wine)
    popup = lambda: b.in_page(b.extension_page("popup.html"), "document.getElementById('manager').textContent")
    shown = popup()
    check(shown == "The download manager is not running; it is started for the first download.",
          f"before the download, the popup shows {shown!r}")
    b.open(run.site.page_url())
    texts = wait_until(standin.texts, 40)
    check(len(texts) == 1 and texts[0].startswith(f"URL={run.site.file_url(1)}\r\n"),
          f"the download manager received {texts!r}")
    wait_until(lambda: False, SETTLE + 2)
    check(len(standin.texts()) == 1 and standin.starts() == 1,
          f"{len(standin.texts())} texts, {standin.starts()} starts")
    check(b.any_files() == [], f"the browser's download folder holds {b.any_files()}")
    shown = popup()
    check(shown == "The download manager is running.", f"once started, the popup shows {shown!r}")


def form_posts_with_their_data(run, browser_class):
    """A form that answers with an attachment: handed over with its post
    data; a multipart form, whose body cannot be rebuilt, stays with the
    browser."""
    run.wine.settings(ACCEPT_ZIP)
    standin = run.standin()
    b = run.browser = browser_class(run.wine)
    # A host name that the download manager's file-host rule lets post.
    base = f"http://filedepot.localhost:{run.site.port}"
    form = base + "/form.html"
    b.open(form)
    texts = wait_until(standin.texts, 40)
    expected = run.site.expected_record(7, page=form, cookie=False, post="", base=base,
                                        with_size=browser_class is Chromium)
    # Chromium hands the extension the fields, not the bytes: the same
    # fields, maybe in another order.
    head, _, post = texts[0].partition("\r\nPostData=") if texts else ("", "", "")
    check(len(texts) == 1 and head + "\r\nPostData=\0" == expected and post.endswith("\0"),
          f"the download manager received {texts!r}")
    check(sorted(urllib.parse.parse_qsl(post[:-1])) == [("lang", "en&fr"), ("name", "report 7")],
          f"the post data {post!r}")
    check(run.site.posts == [b"name=report+7&lang=en%26fr"], f"the site saw {run.site.posts}")
    wait_until(lambda: False, SETTLE)
    check(b.any_files() == [], f"the browser's download folder holds {b.any_files()}")
    b.open(form + "?enctype=multipart/form-data")
    check(wait_until(lambda: "report-7.zip" in b.downloaded(), 60), f"multipart: not kept ({b.any_files()})")
    check(len(standin.texts()) == 1, f"multipart: the download manager received {standin.texts()[1:]!r}")


OTHER_EXTENSION = os.path.join(os.path.dirname(os.path.abspath(__file__)), "other_extension")
DATA_ZIP = "data:application/zip;base64," + base64.b64encode(b"PK\x03\x04data").decode()


def untouched_downloads(run, browser_class):
    """Downloads that are not ours to offer arrive in the browser unheld
    (suggest() answered at once) and the download manager never hears of
    them. (what, how it is started, the file name, its bytes)"""
    run.wine.settings(ACCEPT_ZIP)
    standin = run.standin()
    b = run.browser = browser_class(run.wine, more_extensions=(OTHER_EXTENSION,))
    other = b._attach_worker(ours=False, probe="fetchFile")
    rows = [
        ("another extension's download", lambda: b.in_extension(f'fetchFile("{run.site.file_url(31)}")', other),
         "report-31.zip", run.site.body(FILE_SIZE)),
        ("a data: link", lambda: b.open("data:text/html," + urllib.parse.quote(
            f'<a download="inline.zip" href="{DATA_ZIP}">x</a><script>document.links[0].click()</script>')),
         "inline.zip", b"PK\x03\x04data"),
    ]
    b.open(run.site.page_url(auto=False))  # the session cookie, for the other extension's request
    wait_until(lambda: False, 1)
    for what, start, name, body in rows:
        start()
        whole = lambda: name in b.downloaded() and open(f"{b.downloads}/{name}", "rb").read() == body
        check(wait_until(whole, 30), f"{what}: {name} did not arrive whole ({b.any_files()})")
    check(standin.texts() == [], f"the download manager received {standin.texts()!r}")
    check(b.in_extension("history.length") == 0, "the extension offered a download that is not its own")


def cookies_as_the_browser_sends_them(run, browser_class):
    """A link from another site: the download manager gets the cookies the
    browser sent, so no SameSite=Strict one."""
    run.wine.settings(ACCEPT_ZIP)
    standin = run.standin()
    b = run.browser = browser_class(run.wine)
    other = f"http://localhost:{run.site.port}"
    b.open(other + "/page.html?auto=0&samesite=1")  # the file's site sets its cookies
    wait_until(lambda: False, 1)
    b.open(run.site.base + "/page.html?first=41&n=41&auto=1&to=" + urllib.parse.quote(other, safe=""))
    texts = wait_until(standin.texts, 40)
    cookie = next((line[len("Cookie="):] for t in texts for line in t.split("\r\n") if line.startswith("Cookie=")), "")
    sent = sorted(base64.b64decode(cookie).decode().split("; ")) if cookie else []
    check(sent == sorted([run.site.cookie(), "lax=1"]), f"the download manager got the cookies {sent} ({texts!r})")
    wait_until(lambda: False, SETTLE)
    check(b.any_files() == [], f"the browser's download folder holds {b.any_files()}")


def partitioned_cookies_of_a_frame(run, browser_class):
    """A download in another site's frame goes with the cookie that site set
    in the frame, which the browser keeps apart for the page the frame is
    on (Firefox's partitioned cookies)."""
    run.wine.settings(ACCEPT_ZIP)
    standin = run.standin()
    b = run.browser = browser_class(run.wine)
    other = f"http://localhost:{run.site.port}"
    frame = run.site.page_url(first=71, n=71, base=other)
    b.open(run.site.base + "/page.html?n=0&auto=0&frame=" + urllib.parse.quote(frame, safe=""))
    texts = wait_until(standin.texts, 40)
    expected = run.site.expected_record(71, page=frame, base=other, with_size=browser_class is Chromium)
    check(texts == [expected], f"the download manager received {texts!r}")
    wait_until(lambda: False, SETTLE)
    check(b.any_files() == [], f"the browser's download folder holds {b.any_files()}")


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


# Downloads from a private window: the browser keeps them unless the
# options allow them; then they go with the private window's own cookies,
# not the normal window's. (what, allowed in the options)
PRIVATE_ROWS = [
    ("private windows off, the default", False),
    ("private windows allowed", True),
]


def check_kept_whole(b, name, body, what):
    check(wait_until(lambda: arrived_whole(b, name, body), 60), f"{what}: {name} not kept whole ({b.any_files()})")


def check_settled(b, standin, seen, taken, kept, what):
    """Once nothing more can come: one text more only for a download taken,
    and the browser's folder holds exactly the files it kept."""
    wait_until(lambda: False, SETTLE)
    check(len(standin.texts()) == seen + taken, f"{what}: the download manager received {standin.texts()[seen:]!r}")
    check(b.any_files() == kept, f"{what}: the download folder holds {b.any_files()}")


def private_windows(run, browser_class):
    run.wine.settings(ACCEPT_ZIP)
    standin = run.standin()
    b = run.browser = browser_class(run.wine)
    b.open(run.site.page_url(auto=False) + "&window=normal")  # the normal window's cookies
    wait_until(lambda: False, 1)
    kept, outcomes = [], []
    for i, (what, allowed) in enumerate(PRIVATE_ROWS, start=51):
        if allowed:
            set_options(b, private=True)
        page = run.site.page_url(first=i, n=i) + "&window=private"
        seen = len(standin.texts())
        b.open_private(page, save_downloads=not allowed)
        name = run.site.file_name(i)
        if allowed:
            texts = wait_until(lambda: standin.texts()[seen:], 40)
            expected = run.site.expected_record(i, page=page, cookie=False, with_size=browser_class is Chromium)
            got = [cookies_apart(t) for t in texts]
            check(got == [(expected, sorted([run.site.cookie(), "window=private"]))],
                  f"{what}: the download manager received {texts!r}")
            outcomes.insert(0, "taken")
        else:
            kept.append(name)
            check_kept_whole(b, name, run.site.body(FILE_SIZE), what)
            outcomes.insert(0, "kept: private window")
        check_settled(b, standin, seen, allowed, kept, what)
        shown = popup_outcomes(b)
        check(shown == outcomes, f"{what}: the popup lists {shown}")


# The options a user sets: what the browser keeps and what the download
# manager gets. (what, sites never caught, smallest size in KB, host of the
# page and its link, file size, taken)
OPTION_ROWS = [
    ("a subdomain of a site never caught", ["files.localhost"], 0, "dl.files.localhost", FILE_SIZE, False),
    ("a site the pattern does not cover", ["files.localhost"], 0, "127.0.0.1", FILE_SIZE, True),
    ("a file below the smallest size", [], 100, "127.0.0.1", 64 * 1024, False),
    ("a file above the smallest size", [], 100, "127.0.0.1", 200 * 1024, True),
]
OPTION_OUTCOMES = {"a subdomain of a site never caught": "kept: site never caught",
                   "a file below the smallest size": "kept: smaller than the smallest size to catch"}


def options_keep_or_take(run, browser_class):
    run.wine.settings(ACCEPT_ZIP)
    standin = run.standin()
    b = run.browser = browser_class(run.wine)
    kept, outcomes = [], []
    for i, (what, never, min_kb, host, size, taken) in enumerate(OPTION_ROWS, start=61):
        set_options(b, never_sites=never, min_kb=min_kb)
        base = f"http://{host}:{run.site.port}"
        seen = len(standin.texts())
        b.open(run.site.page_url(first=i, n=i, size=size, base=base))
        name = run.site.file_name(i)
        if taken:
            texts = wait_until(lambda: standin.texts()[seen:], 40)
            check([t.split("\r\n")[0] for t in texts] == [f"URL={run.site.file_url(i, size=size, base=base)}"],
                  f"{what}: the download manager received {texts!r}")
            outcomes.insert(0, "taken")
        else:
            kept.append(name)
            check_kept_whole(b, name, run.site.body(size), what)
            outcomes.insert(0, OPTION_OUTCOMES[what])
        check_settled(b, standin, seen, taken, kept, what)
    shown = popup_outcomes(b)
    check(shown == outcomes, f"the popup lists {shown}")


CASES = {
    "chromium.taken": lambda run: taken_with_details(run, Chromium),
    "chromium.kept": lambda run: kept_by_browser(run, Chromium),
    "chromium.context_menu": lambda run: context_menu_forces(run, Chromium),
    "chromium.burst": lambda run: burst_delivered_once(run, Chromium),
    "chromium.button": lambda run: popup_switches_catching_and_lists_outcomes(run, Chromium),
    "chromium.sizes": lambda run: sizes_taken_or_kept_whole(run, Chromium),
    "chromium.starting": lambda run: starting_manager_gets_it_once(run, Chromium),
    "chromium.post": lambda run: form_posts_with_their_data(run, Chromium),
    "chromium.untouched": lambda run: untouched_downloads(run, Chromium),
    "chromium.no_host": lambda run: popup_tells_how_to_fix_a_missing_host(run, Chromium),
    "chromium.cookies": lambda run: cookies_as_the_browser_sends_them(run, Chromium),
    "chromium.private": lambda run: private_windows(run, Chromium),
    "chromium.options": lambda run: options_keep_or_take(run, Chromium),
    "firefox.taken": lambda run: taken_with_details(run, Firefox),
    "firefox.kept": lambda run: kept_by_browser(run, Firefox, KEPT_ROWS[1:3]),
    "firefox.sizes": lambda run: sizes_taken_or_kept_whole(run, Firefox),
    "firefox.starting": lambda run: starting_manager_gets_it_once(run, Firefox),
    "firefox.post": lambda run: form_posts_with_their_data(run, Firefox),
    "firefox.private": lambda run: private_windows(run, Firefox),
    "firefox.options": lambda run: options_keep_or_take(run, Firefox),
    "firefox.partitioned": lambda run: partitioned_cookies_of_a_frame(run, Firefox),
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
