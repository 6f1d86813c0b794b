// Catches the browser's downloads and offers each to the Zorvane download
// manager through its native-messaging host. The browser's download goes on
// while the host decides (Chromium cannot finish it meanwhile: its file name
// is held back); it is cancelled and its file removed only when the
// download manager took it, so that no download is lost or fetched twice.
"use strict";

const api = globalThis.browser ?? globalThis.chrome;
const HOST = "com.quennet.zorvane";
const MENU_ID = "zorvane-download-link";
const REPLY_MS = 5000;       // then the browser keeps the download
const PENDING_MS = 20000;    // after "pending": the download manager is starting
const START_MS = 10000;      // more for the first reply of a port: the host is starting
const NAME_WAIT_MS = 2000;   // for the file name Chromium determines
const HOLD_MS = 60000;       // a name is never held longer, whatever happens
const FRESH_MS = 15000;      // older items are replays of past sessions
const REPEAT_MS = 3000;      // the same URL again within this is not offered again
const REQUEST_MS = 30000;    // how long a page request is remembered for its download
const REQUEST_WAIT_MS = 2000; // Firefox may tell of a download before its request
const SIZE_WAIT_MS = 1000;   // Firefox may tell of a download before its size
const MAX_BODY = 1024 * 1024;
const HISTORY = 20;
const FIX_HOST = "Run \"zvbridge.exe --register\" in the download manager's folder, then restart the browser.";

let catching = true;
// Without access to the sites (Firefox asks the user for it) neither the
// requests nor the cookies can be seen: a form's download would go as a GET.
let siteAccess = true;
let options = { neverSites: [], minSize: 0, privateWindows: false };
let port = null;
let portAnswered = false;       // the host has replied on this port
let nextId = 1;
let connection = { state: "unknown", detail: "" };
let history = [];               // newest first: {url, name, outcome, referrer, at}
let gate = null;                // while a reply is pending: later messages wait
const pending = new Map();      // message id -> {finish, onPending}
const recentUrls = new Map();   // url -> time offered
const names = new Map();        // download id -> {name, suggest, released, waiters}
const requests = [];            // page requests: {url, tabId, method, body, type, at}
const timings = [];             // ms from message to reply, for measurements

// --- The host port --------------------------------------------------------

function openPort() {
  if (port) return port;
  try {
    port = api.runtime.connectNative(HOST);
    portAnswered = false;
  } catch (e) {
    port = null;
    connection = { state: "missing", detail: FIX_HOST };
    return null;
  }
  port.onMessage.addListener((reply) => {
    const waiter = pending.get(reply && reply.id);
    if (!waiter) return;
    connection = { state: "connected", detail: "" };
    portAnswered = true;
    if (reply.result === "pending") waiter.onPending();
    else waiter.finish(reply);
  });
  port.onDisconnect.addListener((p) => {
    const error = (p && p.error) || api.runtime.lastError;
    const text = (error && error.message) || "";
    port = null;
    connection = /not found|no such native application|specified native messaging host/i.test(text)
      ? { state: "missing", detail: FIX_HOST }
      : { state: "disconnected", detail: text };
    for (const waiter of [...pending.values()]) waiter.finish({ result: "failed", reason: "no host" });
  });
  return port;
}

// Sends one message; resolves with the final reply, or a failure when the
// host is missing or silent for REPLY_MS (PENDING_MS after "pending"). The
// message tells the host when we stop waiting, so that it never delivers a
// download the browser has gone on with.
async function ask(message, type = "download") {
  // A status question never waits behind a download that is pending.
  while (gate && type === "download") await gate.promise;
  return new Promise((resolve) => {
    const id = nextId++;
    const started = performance.now();
    let timer = null;
    let opened = null;  // the gate this message opened with "pending"
    const wait = (ms, reason) => {
      clearTimeout(timer);
      timer = setTimeout(() => finish({ result: "failed", reason }), ms);
    };
    function finish(reply) {
      if (!pending.has(id)) return;
      pending.delete(id);
      clearTimeout(timer);
      if (opened) {
        gate = null;
        opened.open();
      }
      if (type === "download") timings.push(performance.now() - started);
      resolve(reply);
    }
    function onPending() {
      wait(PENDING_MS, "the download manager did not answer");
      if (!gate) {
        let open;
        const promise = new Promise((r) => (open = r));
        opened = gate = { promise, open };
      }
    }
    pending.set(id, { finish, onPending });
    const p = openPort();
    const ms = (portAnswered ? REPLY_MS : REPLY_MS + START_MS) / (type === "download" ? 1 : 2);
    wait(ms, "no answer");
    if (!p) return finish({ result: "failed", reason: "no host" });
    try {
      p.postMessage({ ...message, type, id, deadline: Date.now() + ms });
    } catch (e) {
      finish({ result: "failed", reason: "no host" });
    }
  });
}

// --- What the browser would send with the request ----------------------------

function parsed(url) {
  try {
    return new URL(url);
  } catch (e) {
    return null;
  }
}

// Scheme and the last two labels of the host: the registrable domain for
// the names downloads come from (an address stays whole).
function siteOf(url) {
  const u = parsed(url);
  if (!u || !/^https?:$/.test(u.protocol)) return "";
  const host = u.hostname;
  const labels = host.split(".");
  const whole = /^[\d.]+$/.test(host) || host.includes(":") || labels.length <= 2;
  return `${u.protocol}//${whole ? host : labels.slice(-2).join(".")}`;
}

function isCrossSite(url, referrer) {
  return !!referrer && siteOf(referrer) !== siteOf(url);
}

async function cookieStoreOf(item) {
  if (item.cookieStoreId) return item.cookieStoreId;  // Firefox, containers included
  if (!item.incognito) return undefined;               // the default store
  const stores = await api.cookies.getAllCookieStores().catch(() => []);
  const own = stores.find((s) => s.incognito) || stores.find((s) => s.id !== "0");
  return own ? own.id : undefined;
}

// The Cookie header the browser sends for this request: the download's own
// store, the partition of the page at the top of its frames (`topPage`,
// else the page it came from), and no cookie that its SameSite attribute
// keeps from a request of another site.
async function cookieFor(url, { referrer = "", storeId, method = "GET", topPage } = {}) {
  const base = storeId ? { url, storeId } : { url };
  const lists = [api.cookies.getAll(base).catch(() => [])];
  const top = siteOf(topPage || referrer || url);
  if (top) lists.push(api.cookies.getAll({ ...base, partitionKey: { topLevelSite: top } }).catch(() => []));
  const seen = new Set();
  const cross = isCrossSite(url, referrer);
  const chromium = !!api.downloads.onDeterminingFilename;
  const sent = (c) => {
    const same = (c.sameSite || "").toLowerCase();
    if (!cross) return true;
    if (same === "strict") return false;
    // Lax (Chromium's default too) goes only with top-level GETs.
    if (method !== "GET" && (same === "lax" || (chromium && same === "unspecified"))) return false;
    return true;
  };
  const cookies = [];
  for (const list of await Promise.all(lists))
    for (const c of list) {
      const key = `${c.name}\n${c.domain}\n${c.path}\n${c.partitionKey ? JSON.stringify(c.partitionKey) : ""}`;
      if (seen.has(key) || !sent(c)) continue;
      seen.add(key);
      cookies.push(c);
    }
  // The browser's order: longer paths first.
  cookies.sort((a, b) => (b.path || "").length - (a.path || "").length);
  return cookies.map((c) => `${c.name}=${c.value}`).join("; ");
}

// --- Page requests: the method and body a download came with ----------------

// A raw body as text; a parsed form as the urlencoded text it was sent as
// (`form`), trusted only once its Content-Type says urlencoded: multipart
// forms come parsed too, without their boundaries.
function bodyOf(details) {
  const body = details.requestBody;
  if (!body || body.error) return {};
  if (body.raw) {
    const parts = body.raw.filter((p) => p.bytes);
    if (parts.length !== body.raw.length) return {};  // a file was uploaded
    const size = parts.reduce((n, p) => n + p.bytes.byteLength, 0);
    if (size > MAX_BODY) return {};
    const all = new Uint8Array(size);
    let at = 0;
    for (const p of parts) {
      all.set(new Uint8Array(p.bytes), at);
      at += p.bytes.byteLength;
    }
    return { body: new TextDecoder().decode(all) };
  }
  if (body.formData) {
    const form = new URLSearchParams();
    for (const [name, values] of Object.entries(body.formData)) for (const v of values) form.append(name, v);
    const text = form.toString();
    return text.length > MAX_BODY ? {} : { form: text };
  }
  return {};
}

function rememberRequest(details) {
  const now = Date.now();
  while (requests.length && (requests.length > 100 || now - requests[0].at > REQUEST_MS)) requests.shift();
  const { body, form } = details.method === "POST" ? bodyOf(details) : {};
  // Firefox tells a frame's ancestors, the top one last: the cookie
  // partition of a download in another site's frame is the top page's.
  const ancestors = Array.isArray(details.frameAncestors) ? details.frameAncestors : [];
  requests.push({ id: details.requestId, url: details.url, tabId: details.tabId, method: details.method,
                  body, form, topPage: ancestors.length ? ancestors[ancestors.length - 1].url : undefined, at: now });
}

function noteContentType(details) {
  const entry = requests.find((r) => r.id === details.requestId);
  const type = (details.requestHeaders || []).find((h) => h.name.toLowerCase() === "content-type");
  if (!entry) return;
  entry.headersSeen = true;
  if (entry.form !== undefined && type && /^application\/x-www-form-urlencoded/i.test(type.value || ""))
    entry.body = entry.form;
}

// The last page request for the download's URL before it was created, in
// the tab it was made in when several tabs asked for the same URL. Each
// request gives one download: one that another download took is passed over.
// (Events reach the extension a while after they happen: any request of
// the last REQUEST_MS counts.)
function requestOf(item) {
  const matches = requests.filter((r) => !r.taken && (r.url === item.url || r.url === item.finalUrl));
  if (!matches.length) return { method: "GET" };
  const last = matches[matches.length - 1];
  const tied = matches.filter((r) => r.tabId !== last.tabId && last.at - r.at < 1000 &&
                                     (r.method !== last.method || r.body !== last.body));
  if (tied.length) return { method: "POST", body: undefined, settled: true };  // which one is unknown: keep it
  return { ...last, source: last, settled: last.method !== "POST" || !!last.headersSeen };
}

// requestOf once the request's events have arrived. Firefox may tell of
// the download before them (a form's POST would go as a GET); Chromium
// tells of its requests first.
async function requestArrived(item) {
  const until = Date.now() + (api.downloads.onDeterminingFilename ? 0 : REQUEST_WAIT_MS);
  for (;;) {
    const found = requestOf(item);
    if (found.settled || Date.now() >= until) {
      if (found.source) found.source.taken = true;
      return found;
    }
    await new Promise((r) => setTimeout(r, 50));
  }
}

const pageTypes = ["main_frame", "sub_frame"];
api.webRequest.onBeforeRequest.addListener(rememberRequest, { urls: ["http://*/*", "https://*/*"], types: pageTypes },
                                           ["requestBody"]);
api.webRequest.onBeforeSendHeaders.addListener(noteContentType,
                                               { urls: ["http://*/*", "https://*/*"], types: pageTypes },
                                               ["requestHeaders"]);

// --- Chromium's file name: held until the decision ----------------------------

function nameEntry(id) {
  let entry = names.get(id);
  if (!entry) {
    entry = { name: "", suggest: null, released: false, waiters: [] };
    names.set(id, entry);
  }
  return entry;
}

function waitForName(item) {
  if (item.filename) return Promise.resolve(item.filename);
  if (!api.downloads.onDeterminingFilename) return Promise.resolve("");
  const entry = nameEntry(item.id);
  if (entry.name) return Promise.resolve(entry.name);
  return new Promise((resolve) => {
    entry.waiters.push(resolve);
    setTimeout(() => resolve(entry.name), NAME_WAIT_MS);
  });
}

// Lets Chromium go on with the file. Each item's suggest() runs once: here,
// or at once in the listener when the decision came first.
function releaseName(id) {
  if (!api.downloads.onDeterminingFilename) return;
  const entry = nameEntry(id);
  entry.released = true;
  if (!entry.suggest) return;
  const suggest = entry.suggest;
  entry.suggest = null;
  names.delete(id);
  try {
    suggest();
  } catch (e) {
    // the download is gone already
  }
}

function isWeb(url) {
  return /^https?:/i.test(url || "");
}

// Downloads that are never offered: other extensions' own (ours included)
// and anything but http and https.
function untouchable(item) {
  return !!item.byExtensionId || !isWeb(item.finalUrl || item.url);
}

if (api.downloads.onDeterminingFilename) {
  api.downloads.onDeterminingFilename.addListener((item, suggest) => {
    const entry = nameEntry(item.id);
    if (untouchable(item) || entry.released) {
      names.delete(item.id);
      suggest();
      return false;
    }
    entry.name = item.filename;
    entry.suggest = suggest;
    for (const resolve of entry.waiters.splice(0)) resolve(item.filename);
    setTimeout(() => releaseName(item.id), HOLD_MS);
    return true;  // answered once the download manager decided
  });
}

// --- Downloads ----------------------------------------------------------------

function isFresh(item) {
  const started = Date.parse(item.startTime);
  return Number.isNaN(started) || Date.now() - started < FRESH_MS;
}

function isRepeat(url) {
  const now = Date.now();
  for (const [seen, at] of recentUrls) if (now - at > REPEAT_MS) recentUrls.delete(seen);
  if (recentUrls.has(url)) return true;
  recentUrls.set(url, now);
  return false;
}

function baseName(path) {
  return (path || "").split(/[\\/]/).pop();
}

function hostMatches(pattern, host) {
  const p = pattern.trim().toLowerCase().replace(/^\*\./, "");
  return !!p && (host === p || host.endsWith("." + p));
}

// The extension's own reasons to leave a download to the browser.
function keptBy(item, url, size) {
  if (!catching) return "catching is off";
  if (!siteAccess) return "no access to the sites (grant it in the browser's add-on settings)";
  if (item.incognito && !options.privateWindows) return "private window";
  const u = parsed(url);
  if (u && options.neverSites.some((p) => hostMatches(p, u.hostname))) return "site never caught";
  if (options.minSize > 0 && size > 0 && size < options.minSize) return "smaller than the smallest size to catch";
  return "";
}

// The download's size, for the smallest size to catch: Firefox tells of a
// download before its size is known, and is asked again while it runs.
// Unknown (-1) once the time is up or the download ended without one.
async function sizeOf(item) {
  let size = Math.max(item.totalBytes, item.fileSize);
  const until = Date.now() + SIZE_WAIT_MS;
  while (size <= 0 && options.minSize > 0 && Date.now() < until) {
    await new Promise((r) => setTimeout(r, 50));
    const [now] = await api.downloads.search({ id: item.id }).catch(() => []);
    if (!now) break;
    size = Math.max(now.totalBytes, now.fileSize);
    if (now.state !== "in_progress") break;
  }
  return size;
}

function describe(reply) {
  if (reply.result === "taken") return "taken";
  if (reply.result === "declined") return `declined: ${reply.rule}`;
  return `failed: ${reply.reason || "unknown"}`;
}

function record(entry) {
  history.unshift({ ...entry, at: Date.now() });
  history.length = Math.min(history.length, HISTORY);
  api.storage.local.set({ history }).catch(() => {});
}

// Removes every trace of a download the download manager took.
async function dropDownload(id) {
  await api.downloads.cancel(id).catch(() => {});
  // A small file may have finished already (Firefox lets it run).
  await api.downloads.removeFile(id).catch(() => {});
  await api.downloads.erase({ id }).catch(() => {});
}

async function offer(item) {
  const url = item.finalUrl || item.url;
  // Firefox may tell of a small file only once it is complete: it is
  // offered all the same, and removed when taken.
  if (item.state === "interrupted" || !isFresh(item) || isRepeat(url)) return null;
  const size = await sizeOf(item);
  const kept = keptBy(item, url, size);
  const storeId = await cookieStoreOf(item);
  const filename = await waitForName(item);
  const request = await requestArrived(item);
  const topPage = request.topPage;
  const cookie = await cookieFor(url, { referrer: item.referrer || "", storeId, method: request.method, topPage });
  const entry = { url, name: baseName(filename) || baseName(parsed(url)?.pathname), referrer: item.referrer || "",
                  filename, storeId, topPage, method: request.method, postData: request.body,
                  created: Date.parse(item.startTime) || 0 };
  if (kept) return { ...entry, outcome: `kept: ${kept}` };
  if (request.method === "POST" && request.body === undefined)
    return { ...entry, outcome: "kept: the form's data is not known" };
  const reply = await ask({
    url, referrer: entry.referrer, filename, mime: item.mime || "", size: size > 0 ? size : -1,
    method: request.method, ...(request.method === "POST" ? { postData: request.body } : {}), cookie, forced: false,
  });
  const replied = Date.now();
  if (reply.result === "taken") await dropDownload(item.id);
  return { ...entry, outcome: describe(reply), replied };
}

async function onCreated(item) {
  if (untouchable(item)) return;
  let entry = null;
  try {
    entry = await offer(item);
  } finally {
    releaseName(item.id);
  }
  if (entry) record(entry);
}

api.downloads.onCreated.addListener((item) => {
  onCreated(item);
});

// --- Forced downloads: the link's context menu and "Send anyway" --------------

async function sendForced({ url, referrer = "", filename = "", storeId, topPage, method = "GET", postData }) {
  const cookie = await cookieFor(url, { referrer, storeId, method, topPage });
  const reply = await ask({ url, referrer, filename, mime: "", size: -1, method,
                            ...(method === "POST" ? { postData } : {}), cookie, forced: true });
  record({ url, name: baseName(filename) || baseName(parsed(url)?.pathname), referrer, filename, storeId, topPage,
           method, postData, outcome: describe(reply) });
  return reply;
}

async function onMenuClicked(info, tab) {
  if (info.menuItemId !== MENU_ID || !isWeb(info.linkUrl)) return;
  const storeId = tab && tab.cookieStoreId;
  const reply = await sendForced({ url: info.linkUrl, referrer: info.pageUrl || (tab && tab.url) || "", storeId });
  if (reply.result === "taken") return;
  // Not taken: the browser downloads it after all.
  await api.downloads.download({ url: info.linkUrl }).catch(() => {});
}

api.contextMenus.onClicked.addListener((info, tab) => {
  onMenuClicked(info, tab);
});

// --- The popup and the options page talk to us ---------------------------------

function showState() {
  api.action.setBadgeText({ text: catching ? "" : "off" });
  api.action.setTitle({ title: catching ? "Zorvane: catching downloads" : "Zorvane: not catching downloads" });
}

async function setCatching(on) {
  catching = on;
  await api.storage.local.set({ catching });
  showState();
}

// Whether the host can be reached now and how the download manager stands,
// for the popup.
async function probeConnection() {
  const reply = await ask({}, "status");
  if (reply.result !== "status") return connection;
  return { ...connection, running: !!reply.running, problems: Array.isArray(reply.problems) ? reply.problems : [] };
}

const handlers = {
  state: async () => ({ connection: await probeConnection(), catching, history }),
  setCatching: async (m) => {
    await setCatching(!!m.on);
    return { catching };
  },
  sendAnyway: async (m) => {
    const entry = history[m.index];
    if (!entry || entry.outcome === "taken") return { result: "failed", reason: "nothing to send" };
    return sendForced(entry);
  },
};

api.runtime.onMessage.addListener((message, sender, respond) => {
  const handler = handlers[message && message.type];
  if (!handler || sender.id !== api.runtime.id) return false;
  handler(message).then(respond, (e) => respond({ error: String(e) }));
  return true;
});

function applyStored(stored) {
  if (!stored) return;
  catching = stored.catching !== false;
  if (Array.isArray(stored.history)) history = stored.history.slice(0, HISTORY);
  options = {
    neverSites: Array.isArray(stored.neverSites) ? stored.neverSites : [],
    minSize: Number(stored.minSize) > 0 ? Number(stored.minSize) : 0,
    privateWindows: stored.privateWindows === true,
  };
}

api.storage.onChanged.addListener((changes, area) => {
  if (area !== "local") return;
  const stored = { catching, history, ...options };
  for (const [key, change] of Object.entries(changes)) stored[key] = change.newValue;
  applyStored(stored);
});

function setUp() {
  api.contextMenus.removeAll(() => {
    api.contextMenus.create({ id: MENU_ID, title: "Download with Zorvane", contexts: ["link"] });
  });
}

function checkSiteAccess() {
  api.permissions.contains({ origins: ["http://*/*", "https://*/*"] }).then((granted) => (siteAccess = granted),
                                                                          () => {});
}

api.runtime.onInstalled.addListener(setUp);
api.permissions.onAdded.addListener(checkSiteAccess);
api.permissions.onRemoved.addListener(checkSiteAccess);
checkSiteAccess();
api.storage.local.get(["catching", "history", "neverSites", "minSize", "privateWindows"]).then((stored) => {
  applyStored(stored);
  showState();
});
