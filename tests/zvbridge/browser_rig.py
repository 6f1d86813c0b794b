"""Rig for running the extension in real browsers against the host under
Wine: a loopback web site, the stand-in download manager, the download
manager's settings, headless Chromium driven over its DevTools pipe and
headless Firefox ESR driven over Marionette. Every browser run has a fresh
profile, loopback ports of its own and a hard time bound."""
import base64
import contextlib
import fcntl
import html
import http.server
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

HOST_NAME = "com.quennet.zorvane"
CHROMIUM_ID = "bpfojcnboiciknhmbgmmilipdannkaci"
FIREFOX_ID = "zorvane@quennet.com"
# The add-on's internal UUID, fixed so that its pages have a known address.
FIREFOX_UUID = "5d1f3a0e-9f0b-4c2d-8e3a-0a1b2c3d4e5f"
FILE_SIZE = 64 * 1024
KINDS = {"zip": "application/zip", "html": "text/html", "pdf": "application/pdf"}


def wait_until(predicate, timeout, step=0.1):
    end = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() > end:
            return value
        time.sleep(step)


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


# --- The web site ------------------------------------------------------------

class Site:
    """Serves /page.html?first=F&n=K&kind=K&size=S&window=W&frame=URL (sets
    the session cookie and, with W, a cookie "window=W" that tells which
    window's store a request drew on; clicks its links on load; shows URL in
    a frame), /get?i=N&kind=K&size=S (the file, only with the cookie),
    /form.html?enctype=E (a form that posts to /get and submits itself on load)
    and POST /get (the file, for the form's fields)."""

    def __init__(self, slow_seconds=1.0):
        self.token = base64.b16encode(os.urandom(6)).decode().lower()
        self.slow = slow_seconds
        self.file_requests = []
        self.posts = []  # the bodies of the form posts received
        site = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def log_message(self, *args):
                pass

            def do_GET(self):
                parsed = urllib.parse.urlparse(self.path)
                query = dict(urllib.parse.parse_qsl(parsed.query))
                try:
                    if parsed.path == "/page.html":
                        site._page(self, query)
                    elif parsed.path == "/form.html":
                        site._form(self, query)
                    elif parsed.path == "/get":
                        site._file(self, query)
                    else:
                        self.send_error(404)
                except (BrokenPipeError, ConnectionResetError):
                    pass  # the browser cancelled: the download manager took it

            def do_POST(self):
                parsed = urllib.parse.urlparse(self.path)
                body = self.rfile.read(int(self.headers.get("Content-Length") or 0))
                site.posts.append(body)
                try:
                    site._file(self, dict(urllib.parse.parse_qsl(parsed.query)), need_cookie=False)
                except (BrokenPipeError, ConnectionResetError):
                    pass

        # A burst of downloads connects at once: a backlog of 5 would refuse some.
        http.server.ThreadingHTTPServer.request_queue_size = 128
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        self.port = self.server.server_address[1]
        self.base = f"http://127.0.0.1:{self.port}"
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def close(self):
        self.server.shutdown()
        self.server.server_close()

    def page_url(self, n=1, kind="zip", auto=True, first=1, size=FILE_SIZE, base=None):
        return f"{base or self.base}/page.html?first={first}&n={n}&kind={kind}&auto={int(auto)}&size={size}"

    def file_url(self, i, kind="zip", size=FILE_SIZE, base=None):
        return f"{base or self.base}/get?i={i}&kind={kind}&size={size}"

    @staticmethod
    def body(size):
        """The file's bytes: it starts like an archive, the rest is a pattern."""
        pattern = bytes(range(256)) * (size // 256 + 1)
        return (b"PK\x03\x04" + pattern)[:size]

    @staticmethod
    def file_name(i, kind="zip"):
        return f"report-{i}.{kind}"

    def cookie(self):
        return f"session={self.token}"

    def _page(self, h, query):
        n, kind = int(query.get("n", 1)), query.get("kind", "zip")
        first = int(query.get("first", 1))
        size = int(query.get("size", FILE_SIZE))
        to = query.get("to", "")  # links to another site
        links = "".join(f'<a download href="{to}/get?i={i}&amp;kind={kind}&amp;size={size}">file {i}</a>\n'
                        for i in range(first, n + 1))
        script = "onload = () => { for (const a of document.links) a.click(); };" if query.get("auto") == "1" else ""
        frame = f'<iframe src="{html.escape(query["frame"])}"></iframe>' if query.get("frame") else ""
        body = f"<!doctype html><html><body>{links}{frame}<script>{script}</script></body></html>".encode()
        h.send_response(200)
        h.send_header("Content-Type", "text/html")
        h.send_header("Set-Cookie", f"session={self.token}; Path=/")
        if query.get("window"):
            h.send_header("Set-Cookie", f"window={query['window']}; Path=/")
        if query.get("samesite") == "1":
            h.send_header("Set-Cookie", "strict=1; Path=/; SameSite=Strict")
            h.send_header("Set-Cookie", "lax=1; Path=/; SameSite=Lax")
        h.send_header("Content-Length", str(len(body)))
        h.end_headers()
        h.wfile.write(body)

    def _form(self, h, query):
        enctype = query.get("enctype", "application/x-www-form-urlencoded")
        fields = '<input name="name" value="report 7"><input name="lang" value="en&amp;fr">'
        body = (f'<!doctype html><html><body><form method="post" enctype="{enctype}" '
                f'action="/get?i=7&amp;kind=zip&amp;size={FILE_SIZE}">{fields}</form>'
                '<script>onload = () => document.forms[0].submit();</script></body></html>').encode()
        h.send_response(200)
        h.send_header("Content-Type", "text/html")
        h.send_header("Content-Length", str(len(body)))
        h.end_headers()
        h.wfile.write(body)

    def _file(self, h, query, need_cookie=True):
        self.file_requests.append(h.path)
        if need_cookie and f"session={self.token}" not in (h.headers.get("Cookie") or ""):
            h.send_error(403)
            return
        i, kind = query.get("i", "1"), query.get("kind", "zip")
        body = self.body(int(query.get("size", FILE_SIZE)))
        h.send_response(200)
        h.send_header("Content-Type", KINDS.get(kind, "application/octet-stream"))
        h.send_header("Content-Disposition", f'attachment; filename="{self.file_name(i, kind)}"')
        h.send_header("Content-Length", str(len(body)))
        h.end_headers()
        # Half now, half a moment later: the extension pauses a download
        # that is still running, as real downloads are.
        h.wfile.write(body[: len(body) // 2])
        h.wfile.flush()
        time.sleep(self.slow)
        h.wfile.write(body[len(body) // 2:])

    def expected_record(self, i, kind="zip", page=None, with_file_details=True, with_size=True, size=FILE_SIZE,
                        cookie=True, post=None, base=None):
        page = page or self.page_url(size=size)
        text = f"URL={self.file_url(i, kind, size, base)}\r\nReferer={page}"
        if with_file_details:
            text += f"\r\nFileName={self.file_name(i, kind)}\r\nMIMEType={KINDS[kind]}"
            if with_size:
                text += f"\r\nSize={size}"
        if cookie:
            text += "\r\nCookie=" + base64.b64encode(self.cookie().encode()).decode()
        text += "\r\nMode=DEFAULT"
        if post is not None:
            text += "\r\nPostData=" + post + "\0"
        return text


# --- Wine: the host, the stand-in and the settings ------------------------------

class WineBuild:
    def __init__(self, build_dir):
        self.build = os.path.abspath(build_dir)
        self.wine_run = os.path.join(self.build, "wine-run")
        self.host_exe = os.path.join(self.build, "zvbridge", "zvbridge.exe")
        self.standin_exe = os.path.join(self.build, "tools", "zvstandin.exe")
        self.webext = os.path.join(self.build, "webext")

    def wrapper(self, folder, *host_args):
        """A Linux program for the browser's host manifest that runs
        zvbridge.exe in this build's Wine prefix."""
        path = os.path.join(folder, "zvbridge-host.sh")
        args = " ".join(host_args)
        with open(path, "w") as f:
            f.write(f'#!/bin/sh\nexec "{self.wine_run}" "{self.host_exe}" {args} "$@" 2>>"{folder}/host.err"\n')
        os.chmod(path, 0o755)
        return path

    def settings(self, values, app_path=None):
        """Replaces the download manager's settings and App Paths entry."""
        lines = ["REGEDIT4", "", r"[-HKEY_CURRENT_USER\Software\Quennet\Zorvane]",
                 r"[HKEY_CURRENT_USER\Software\Quennet\Zorvane]"]
        lines += [f'"{k}"="{v}"' for k, v in values.items()]
        app_key = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\App Paths\zorvex.exe"
        lines += ["", f"[-{app_key}]"]
        if app_path:
            lines += [f"[{app_key}]", '@="' + app_path.replace("\\", "\\\\") + '"']
        with tempfile.NamedTemporaryFile("w", suffix=".reg", delete=False) as f:
            f.write("\r\n".join(lines) + "\r\n")
        try:
            # The import deletes and rewrites whole keys, so running it again
            # is harmless; Wine now and then fails to start a program at all.
            for attempt in range(3):
                run = subprocess.run([self.wine_run, "regedit", "/S", winpath(f.name)], timeout=120,
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                     errors="replace")
                if run.returncode == 0:
                    return
                print(f"regedit failed (attempt {attempt + 1}, exit {run.returncode}): {run.stdout.strip()}",
                      file=sys.stderr)
                time.sleep(1)
            raise RuntimeError("regedit could not import the settings")
        finally:
            os.unlink(f.name)


class StandIn:
    """The stand-in download manager, running in the build's prefix."""

    def __init__(self, wine, folder, reply=1, *options, installed=False):
        """Started now, or with `installed` copied into `folder` with its
        options beside it for the host to start through App Paths
        (self.program, the path to register)."""
        self.log = os.path.join(folder, "standin.log")
        open(self.log, "w").close()
        args = [f"--log={winpath(self.log)}", f"--reply={reply}", "--lifetime=300000", *options]
        self.proc = None
        if installed:
            exe = os.path.join(folder, "zvstandin.exe")
            shutil.copyfile(wine.standin_exe, exe)
            with open(exe + ".args", "w") as f:
                f.write("\r\n".join(args) + "\r\n")
            self.program = winpath(exe)
            return
        self.proc = subprocess.Popen([wine.wine_run, wine.standin_exe, *args], stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL, start_new_session=True)
        if not wait_until(lambda: "READY" in open(self.log).read(), 60):
            raise RuntimeError("the stand-in download manager did not start")

    def starts(self):
        return open(self.log).read().count("START ")

    def texts(self):
        out = []
        for line in open(self.log, encoding="latin-1").read().splitlines():
            m = re.match(r"COPYDATA dwData=\d+ cbData=\d+ fg=\d data=(.*)$", line)
            if m:
                out.append(re.sub(r"\\x([0-9A-F]{2})", lambda x: chr(int(x.group(1), 16)), m.group(1)))
        return out

    def close(self, wine=None):
        if self.proc:
            with contextlib.suppress(ProcessLookupError):
                os.killpg(self.proc.pid, signal.SIGKILL)
            self.proc.wait(timeout=30)
        else:
            # Started by the host: it ends by its pid in the prefix.
            m = re.search(r"START pid=(\d+)", open(self.log).read())
            if m and wine:
                subprocess.run([wine.wine_run, "taskkill", "/f", "/pid", m.group(1)], timeout=60,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


# --- Browsers ----------------------------------------------------------------------

def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Browser:
    """A browser process in a session of its own, killed at the latest when
    its time is up."""

    def __init__(self, seconds):
        self.root = tempfile.mkdtemp(prefix="zvbrowser-")
        self.downloads = os.path.join(self.root, "downloads")
        os.makedirs(self.downloads)
        self.proc = None
        self.deadline = time.monotonic() + seconds
        self.watchdog = threading.Timer(seconds, self.kill)
        self.watchdog.daemon = True
        self.watchdog.start()

    def left(self):
        return max(0.0, self.deadline - time.monotonic())

    def kill(self):
        if self.proc and self.proc.poll() is None:
            with contextlib.suppress(ProcessLookupError):
                os.killpg(self.proc.pid, signal.SIGKILL)
            with contextlib.suppress(subprocess.TimeoutExpired):
                self.proc.wait(timeout=30)

    def close(self):
        self.watchdog.cancel()
        self.kill()
        shutil.rmtree(self.root, ignore_errors=True)

    def downloaded(self):
        """Finished files in the download folder (partial files excluded)."""
        return sorted(n for n in os.listdir(self.downloads) if not n.endswith((".crdownload", ".part")))

    def any_files(self):
        return sorted(os.listdir(self.downloads))

    def host_manifest(self, folder, wine, key, value, *host_args):
        os.makedirs(folder, exist_ok=True)
        manifest = {"name": HOST_NAME, "description": "Zorvane download manager",
                    "path": wine.wrapper(self.root, *host_args), "type": "stdio", key: [value]}
        with open(os.path.join(folder, HOST_NAME + ".json"), "w") as f:
            json.dump(manifest, f)


class Chromium(Browser):
    """Headless Chromium with the extension loaded, driven over the DevTools
    pipe (NUL-separated JSON on descriptors 3 and 4)."""

    def __init__(self, wine, seconds=90, host_args=(), more_extensions=(), host=True):
        super().__init__(seconds)
        profile = os.path.join(self.root, "profile")
        os.makedirs(os.path.join(profile, "Default"))
        if host:
            self.host_manifest(os.path.join(profile, "NativeMessagingHosts"), wine, "allowed_origins",
                               f"chrome-extension://{CHROMIUM_ID}/", *host_args)
        prefs = {"download": {"default_directory": self.downloads, "prompt_for_download": False,
                              "directory_upgrade": True},
                 "profile": {"default_content_setting_values": {"automatic_downloads": 1}},
                 # "Allow in Incognito", as the user sets it on the extension's card.
                 "extensions": {"settings": {CHROMIUM_ID: {"incognito": True}}},
                 "safebrowsing": {"enabled": False}}
        with open(os.path.join(profile, "Default", "Preferences"), "w") as f:
            json.dump(prefs, f)
        to_browser_r, self._to_browser = os.pipe()
        self._from_browser, from_browser_w = os.pipe()
        high_r = fcntl.fcntl(to_browser_r, fcntl.F_DUPFD_CLOEXEC, 10)
        high_w = fcntl.fcntl(from_browser_w, fcntl.F_DUPFD_CLOEXEC, 10)

        def descriptors():
            os.dup2(high_r, 3)
            os.dup2(high_w, 4)

        args = ["chromium", "--headless=new", "--no-sandbox", f"--user-data-dir={profile}",
                "--load-extension=" + ",".join([f"{wine.webext}/chromium", *more_extensions]),
                "--disable-features=DisableLoadExtensionCommandLineSwitch",
                "--remote-debugging-pipe", "--no-first-run", "--no-default-browser-check", "--disable-gpu",
                "--disable-background-networking", "--disable-sync", "--password-store=basic", "about:blank"]
        self.proc = subprocess.Popen(args, preexec_fn=descriptors, close_fds=False, start_new_session=True,
                                     stdout=subprocess.DEVNULL, stderr=open(os.path.join(self.root, "chromium.err"), "w"))
        for fd in (to_browser_r, from_browser_w, high_r, high_w):
            os.close(fd)
        self._next = 0
        self._replies = {}
        self._cv = threading.Condition()
        threading.Thread(target=self._reader, daemon=True).start()
        self.worker = self._attach_worker()

    def _reader(self):
        buffer = b""
        while True:
            try:
                chunk = os.read(self._from_browser, 65536)
            except OSError:
                chunk = b""
            if not chunk:
                with self._cv:
                    self._replies[None] = True
                    self._cv.notify_all()
                return
            buffer += chunk
            while b"\0" in buffer:
                message, buffer = buffer.split(b"\0", 1)
                reply = json.loads(message)
                if "id" in reply:
                    with self._cv:
                        self._replies[reply["id"]] = reply
                        self._cv.notify_all()

    def cdp(self, method, params=None, session=None):
        with self._cv:
            self._next += 1
            number = self._next
        message = {"id": number, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        os.write(self._to_browser, json.dumps(message).encode() + b"\0")
        with self._cv:
            if not self._cv.wait_for(lambda: number in self._replies or None in self._replies, self.left()):
                raise TimeoutError(method)
            reply = self._replies.pop(number, None)
        if reply is None:
            raise RuntimeError("Chromium ended")
        if "error" in reply:
            raise RuntimeError(f"{method}: {reply['error']}")
        return reply["result"]

    def _attach_worker(self, ours=True, probe="ask"):
        def find():
            for target in self.cdp("Target.getTargets")["targetInfos"]:
                if target["type"] == "service_worker" and (CHROMIUM_ID in target["url"]) == ours:
                    return target["targetId"]
            return None

        target = wait_until(find, min(30, self.left()), 0.2)
        if not target:
            raise RuntimeError("the extension's service worker did not start")
        session = self.cdp("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
        # Attached while the worker may still be running its script.
        ready = lambda: self.cdp("Runtime.evaluate", {"expression": f"typeof {probe}", "returnByValue": True},
                                 session)["result"].get("value") == "function"
        if not wait_until(ready, min(20, self.left()), 0.1):
            raise RuntimeError("the extension's service worker did not run its script")
        return session

    def in_extension(self, expression, worker=None):
        result = self.cdp("Runtime.evaluate", {"expression": expression, "awaitPromise": True,
                                               "returnByValue": True}, worker or self.worker)
        if "exceptionDetails" in result:
            raise RuntimeError(str(result["exceptionDetails"]))
        return result["result"].get("value")

    def open(self, url):
        self.cdp("Target.createTarget", {"url": url})

    def open_private(self, url, save_downloads=False):
        """Opens `url` in a new incognito window. Chromium asks where to save
        every incognito download, and headless it cancels that dialog:
        with `save_downloads` the window's downloads are saved into the
        download folder instead, as the user would answer the dialog (then
        DevTools names the file, and extensions see no file name)."""
        self.in_extension("chrome.windows.create({incognito: true, url: 'about:blank'}).then(() => 1)")
        targets = lambda: self.cdp("Target.getTargets")["targetInfos"]
        regular = next(t["browserContextId"] for t in targets()
                       if t["type"] == "service_worker" and CHROMIUM_ID in t["url"])
        target = wait_until(lambda: next((t["targetId"] for t in targets() if t["type"] == "page" and
                                          t["browserContextId"] != regular), None), min(10, self.left()), 0.1)
        if not target:
            raise RuntimeError("no incognito window")
        session = self.cdp("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
        # The behaviour holds for every incognito window from then on.
        behavior = {"behavior": "allow", "downloadPath": self.downloads} if save_downloads else {"behavior": "default"}
        self.cdp("Page.setDownloadBehavior", behavior, session)
        self.cdp("Page.navigate", {"url": url}, session)

    def extension_page(self, name):
        """Opens one of the extension's pages in a tab; returns its session
        once the page says it is ready."""
        target = self.cdp("Target.createTarget", {"url": f"chrome-extension://{CHROMIUM_ID}/{name}"})["targetId"]
        session = self.cdp("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
        if not wait_until(lambda: self.in_page(session, "document.body && document.body.dataset.ready") == "1",
                          min(20, self.left()), 0.1):
            raise RuntimeError(f"{name} did not get ready")
        return session

    def in_page(self, session, expression):
        result = self.cdp("Runtime.evaluate", {"expression": expression, "awaitPromise": True,
                                               "returnByValue": True}, session)
        if "exceptionDetails" in result:
            raise RuntimeError(str(result["exceptionDetails"]))
        return result["result"].get("value")


class Firefox(Browser):
    """Headless Firefox ESR with the extension installed as a temporary
    add-on through Marionette."""

    def __init__(self, wine, seconds=120):
        super().__init__(seconds)
        home = os.path.join(self.root, "home")
        profile = os.path.join(self.root, "profile")
        os.makedirs(profile)
        self.host_manifest(os.path.join(home, ".mozilla", "native-messaging-hosts"), wine,
                           "allowed_extensions", FIREFOX_ID)
        self.marionette_port = free_port()
        prefs = {
            "marionette.port": self.marionette_port,
            "browser.download.dir": self.downloads, "browser.download.folderList": 2,
            "browser.download.useDownloadDir": True,
            "browser.download.always_ask_before_handling_new_types": False,
            "browser.download.start_downloads_in_tmp_dir": False,
            "browser.shell.checkDefaultBrowser": False, "app.update.enabled": False,
            "datareporting.policy.dataSubmissionEnabled": False, "toolkit.telemetry.enabled": False,
            "browser.startup.homepage_override.mstone": "ignore", "xpinstall.signatures.required": False,
            "extensions.autoDisableScopes": 0, "network.proxy.type": 0,
            # Host permissions of a Manifest V3 add-on granted as on the
            # install prompt: without them webRequest sees no request.
            "extensions.originControls.grantByDefault": True,
            "extensions.webextensions.uuids": json.dumps({FIREFOX_ID: FIREFOX_UUID}),
        }
        with open(os.path.join(profile, "user.js"), "w") as f:
            for k, v in prefs.items():
                f.write(f"user_pref({json.dumps(k)}, {json.dumps(v)});\n")
        env = dict(os.environ, HOME=home, MOZ_HEADLESS="1")
        # System access: the rig opens the extension's pages from the
        # browser's own chrome, as the toolbar button does.
        self.proc = subprocess.Popen(["firefox-esr", "--headless", "--marionette", "--remote-allow-system-access",
                                      "--no-remote", "--profile", profile, "about:blank"],
                                     env=env, start_new_session=True,
                                     stdout=subprocess.DEVNULL, stderr=open(os.path.join(self.root, "firefox.err"), "w"))
        self._sock = wait_until(self._connect, min(60, self.left()), 0.3)
        if not self._sock:
            raise RuntimeError("Marionette did not answer")
        self._read()  # the greeting
        self._next = 0
        self.command("WebDriver:NewSession", {"capabilities": {"alwaysMatch": {"acceptInsecureCerts": True}}})
        # Allowed in private windows, as the user allows it on the add-on's page.
        self.command("Addon:Install", {"path": os.path.join(wine.webext, "zorvane.xpi"), "temporary": True,
                                       "allowPrivateBrowsing": True})
        self.main = self.command("WebDriver:GetWindowHandle", {})["value"]

    def _connect(self):
        try:
            return socket.create_connection(("127.0.0.1", self.marionette_port), timeout=5)
        except OSError:
            return None

    def _read(self):
        self._sock.settimeout(max(1.0, self.left()))
        head = b""
        while not head.endswith(b":"):
            byte = self._sock.recv(1)
            if not byte:
                raise RuntimeError("Marionette closed")
            head += byte
        length = int(head[:-1])
        body = b""
        while len(body) < length:
            chunk = self._sock.recv(length - len(body))
            if not chunk:
                raise RuntimeError("Marionette closed")
            body += chunk
        return json.loads(body)

    def command(self, name, params):
        self._next += 1
        data = json.dumps([0, self._next, name, params]).encode()
        self._sock.sendall(str(len(data)).encode() + b":" + data)
        while True:
            reply = self._read()
            if reply[0] == 1 and reply[1] == self._next:
                if reply[2]:
                    raise RuntimeError(f"{name}: {reply[2]}")
                return reply[3]

    def open(self, url):
        self.command("WebDriver:SwitchToWindow", {"handle": self.main})
        self.command("WebDriver:Navigate", {"url": url})

    def open_private(self, url, save_downloads=False):
        """Opens `url` in a new private window (Firefox saves its downloads
        as any other)."""
        window = self.command("WebDriver:NewWindow", {"type": "window", "private": True})["handle"]
        self.command("WebDriver:SwitchToWindow", {"handle": window})
        self.command("WebDriver:Navigate", {"url": url})
        self.command("WebDriver:SwitchToWindow", {"handle": self.main})

    def extension_page(self, name):
        """Opens one of the extension's pages in a new tab (Marionette may not
        navigate to it); returns the tab once the page says it is ready."""
        before = set(self.command("WebDriver:GetWindowHandles", {}))
        self.command("Marionette:SetContext", {"value": "chrome"})
        try:
            self.command("WebDriver:ExecuteScript", {
                "script": "for (const w of Services.wm.getEnumerator('navigator:browser'))"
                          "  if (!w.document.documentElement.hasAttribute('privatebrowsingmode'))"
                          "    return void (w.gBrowser.selectedTab = w.gBrowser.addTrustedTab(arguments[0]));",
                "args": [f"moz-extension://{FIREFOX_UUID}/{name}"]})
        finally:
            self.command("Marionette:SetContext", {"value": "content"})
        tab = wait_until(lambda: next(iter(set(self.command("WebDriver:GetWindowHandles", {})) - before), None),
                         min(10, self.left()), 0.1)
        if not tab:
            raise RuntimeError(f"{name} did not open")
        if not wait_until(lambda: self.in_page(tab, "document.body && document.body.dataset.ready") == "1",
                          min(20, self.left()), 0.1):
            raise RuntimeError(f"{name} did not get ready")
        return tab

    def in_page(self, tab, expression):
        self.command("WebDriver:SwitchToWindow", {"handle": tab})
        return self.command("WebDriver:ExecuteScript", {"script": f"return ({expression});", "args": []})["value"]
