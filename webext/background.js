// Catches the browser's downloads and offers each to the Zorvane download
// manager through its native-messaging host. The browser's download is
// paused while the host decides; it is cancelled only when the download
// manager took it, so that no download is ever lost.
"use strict";

const api = globalThis.browser ?? globalThis.chrome;
const HOST = "com.quennet.zorvane";
const MENU_ID = "zorvane-download-link";
const REPLY_MS = 5000;      // then the browser keeps the download
const NAME_WAIT_MS = 2000;  // for the file name Chromium determines
const FRESH_MS = 15000;     // older items are replays of past sessions
const REPEAT_MS = 3000;     // the same URL again within this is not offered again

let catching = true;
let port = null;
let nextId = 1;
const pending = new Map();      // message id -> resolve
const recentUrls = new Map();   // url -> time offered
const names = new Map();        // download id -> {name, suggest, waiters}
const ownDownloads = new Set(); // URLs this extension downloads itself
const timings = [];             // ms from message to reply, for measurements

// --- The host port --------------------------------------------------------

function openPort() {
  if (port) return port;
  try {
    port = api.runtime.connectNative(HOST);
  } catch (e) {
    port = null;
    return null;
  }
  port.onMessage.addListener((reply) => {
    const resolve = pending.get(reply && reply.id);
    if (resolve) resolve(reply);
  });
  port.onDisconnect.addListener(() => {
    port = null;
    for (const resolve of pending.values()) resolve({ result: "failed", reason: "no host" });
  });
  return port;
}

// Sends one message; resolves with the reply, or a failure when the host is
// missing or silent for REPLY_MS.
function ask(message) {
  return new Promise((resolve) => {
    const id = nextId++;
    const started = performance.now();
    const timer = setTimeout(() => finish({ result: "failed", reason: "no answer" }), REPLY_MS);
    function finish(reply) {
      if (!pending.has(id)) return;
      pending.delete(id);
      clearTimeout(timer);
      timings.push(performance.now() - started);
      resolve(reply);
    }
    pending.set(id, finish);
    const p = openPort();
    if (!p) return finish({ result: "failed", reason: "no host" });
    try {
      p.postMessage({ ...message, type: "download", id });
    } catch (e) {
      finish({ result: "failed", reason: "no host" });
    }
  });
}

// --- What the download message carries --------------------------------------

async function cookieFor(url) {
  try {
    const cookies = await api.cookies.getAll({ url });
    return cookies.map((c) => `${c.name}=${c.value}`).join("; ");
  } catch (e) {
    return "";
  }
}

function isWeb(url) {
  return /^https?:/i.test(url || "");
}

function wanted(item) {
  const url = item.finalUrl || item.url;
  if (!catching || !isWeb(url)) return false;
  if (item.byExtensionId && item.byExtensionId === api.runtime.id) return false;
  if (ownDownloads.has(url)) return false;
  return true;
}

// Chromium tells the chosen name in onDeterminingFilename and waits for our
// answer before it writes the file; Firefox has the name on the item.
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

// Lets Chromium go on with the file once the decision is made.
function releaseName(id) {
  const entry = nameEntry(id);
  entry.released = true;
  if (!entry.suggest) return;  // answered at once when the name comes
  names.delete(id);
  try {
    entry.suggest();
  } catch (e) {
    // the download is gone already
  }
}

if (api.downloads.onDeterminingFilename) {
  api.downloads.onDeterminingFilename.addListener((item, suggest) => {
    const entry = nameEntry(item.id);
    if (!wanted(item) || entry.released) {
      names.delete(item.id);
      suggest();
      return false;
    }
    entry.name = item.filename;
    entry.suggest = suggest;
    for (const resolve of entry.waiters.splice(0)) resolve(item.filename);
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

// Resumes a download the download manager did not take. Firefox cannot
// resume one paused before its first byte (it counts as cancelled): that
// one starts again under the same name.
async function giveBack(item, filename) {
  try {
    await api.downloads.resume(item.id);
    return;
  } catch (e) {
    // see below
  }
  const [now] = await api.downloads.search({ id: item.id }).catch(() => []);
  if (!now || now.state !== "interrupted" || now.canResume) return;  // finished, or running
  const url = now.finalUrl || now.url;
  ownDownloads.add(url);
  try {
    await api.downloads.erase({ id: item.id });
    const name = baseName(filename);
    await api.downloads.download(name ? { url, filename: name, conflictAction: "uniquify" } : { url });
  } catch (e) {
    // nothing more can be done from here
  } finally {
    setTimeout(() => ownDownloads.delete(url), REPEAT_MS);
  }
}

async function onCreated(item) {
  if (!wanted(item) || item.state !== "in_progress" || !isFresh(item)) {
    releaseName(item.id);
    return;
  }
  const url = item.finalUrl || item.url;
  if (isRepeat(url)) {
    releaseName(item.id);
    return;
  }
  const paused = api.downloads.pause(item.id).then(() => true, () => false);
  const [filename, cookie] = await Promise.all([waitForName(item), cookieFor(url), paused]);
  // Chromium knows the size when it creates the item; Firefox pauses its
  // downloads before the first byte, so the size stays unknown there.
  const [now] = await api.downloads.search({ id: item.id }).catch(() => []);
  const size = Math.max(item.totalBytes, item.fileSize, now ? now.totalBytes : -1, now ? now.fileSize : -1);
  const reply = await ask({
    url,
    referrer: item.referrer || "",
    filename,
    mime: item.mime || (now && now.mime) || "",
    size: size > 0 ? size : -1,
    method: "GET",
    cookie,
    forced: false,
  });
  if (reply.result === "taken") {
    try {
      await api.downloads.cancel(item.id);
      await api.downloads.erase({ id: item.id });
    } catch (e) {
      // already finished: the file stays with the browser
    }
    releaseName(item.id);
    return;
  }
  releaseName(item.id);
  await giveBack(item, filename);
}

api.downloads.onCreated.addListener((item) => {
  onCreated(item);
});

// --- The link's context menu: a forced download ---------------------------------

async function onMenuClicked(info, tab) {
  if (info.menuItemId !== MENU_ID || !isWeb(info.linkUrl)) return;
  const url = info.linkUrl;
  const reply = await ask({
    url,
    referrer: info.pageUrl || (tab && tab.url) || "",
    filename: "",
    mime: "",
    size: -1,
    method: "GET",
    cookie: await cookieFor(url),
    forced: true,
  });
  if (reply.result === "taken") return;
  // Not taken: the browser downloads it after all.
  ownDownloads.add(url);
  try {
    await api.downloads.download({ url });
  } finally {
    setTimeout(() => ownDownloads.delete(url), REPEAT_MS);
  }
}

api.contextMenus.onClicked.addListener((info, tab) => {
  onMenuClicked(info, tab);
});

// --- The toolbar button: catching on and off --------------------------------------

function showState() {
  api.action.setBadgeText({ text: catching ? "" : "off" });
  api.action.setTitle({ title: catching ? "Zorvane: catching downloads" : "Zorvane: not catching downloads" });
}

async function onButtonClicked() {
  catching = !catching;
  await api.storage.local.set({ catching });
  showState();
}

api.action.onClicked.addListener(onButtonClicked);

function setUp() {
  api.contextMenus.removeAll(() => {
    api.contextMenus.create({ id: MENU_ID, title: "Download with Zorvane", contexts: ["link"] });
  });
}

api.runtime.onInstalled.addListener(setUp);
api.storage.local.get("catching").then((stored) => {
  if (stored && stored.catching === false) catching = false;
  showState();
});
