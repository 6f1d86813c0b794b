// The options page: sites never caught, the smallest size to catch and
// private windows, all kept in the extension's local storage.
"use strict";

const api = globalThis.browser ?? globalThis.chrome;
const field = (id) => document.getElementById(id);

async function load() {
  const stored = await api.storage.local.get(["neverSites", "minSize", "privateWindows"]);
  field("neverSites").value = (stored.neverSites || []).join("\n");
  field("minSize").value = Math.round((Number(stored.minSize) || 0) / 1024);
  field("privateWindows").checked = stored.privateWindows === true;
  document.body.dataset.ready = "1";
}

field("save").addEventListener("click", async () => {
  const neverSites = field("neverSites").value.split(/\s+/).map((s) => s.trim()).filter(Boolean);
  const minSize = Math.max(0, Math.round(Number(field("minSize").value) || 0)) * 1024;
  await api.storage.local.set({ neverSites, minSize, privateWindows: field("privateWindows").checked });
  field("saved").textContent = "Saved.";
});
load();
