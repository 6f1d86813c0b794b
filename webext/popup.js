// The toolbar popup: whether the host answers, the catching switch, and the
// last downloads with what became of each.
"use strict";

const api = globalThis.browser ?? globalThis.chrome;

const CONNECTION_TEXT = {
  connected: "Connected to the download manager's host.",
  missing: "The host zvbridge.exe is not installed for this browser.",
  disconnected: "The host ended: ",
  unknown: "Not connected yet.",
};

const MANAGER_TEXT = {
  running: "The download manager is running.",
  stopped: "The download manager is not running; it is started for the first download.",
};

function render(state) {
  const c = state.connection || { state: "unknown" };
  const line = document.getElementById("connection");
  line.textContent = (CONNECTION_TEXT[c.state] || c.state) + (c.state === "disconnected" ? c.detail : "");
  line.className = c.state === "connected" ? "" : "problem";
  document.getElementById("fix").textContent = c.state === "missing" ? c.detail : "";
  const manager = document.getElementById("manager");
  const problems = c.problems || [];
  manager.textContent = c.state !== "connected" ? ""
    : [c.running ? MANAGER_TEXT.running : MANAGER_TEXT.stopped, ...problems].join("\n");
  manager.className = problems.length ? "problem" : "";
  document.getElementById("catching").checked = !!state.catching;
  const list = document.getElementById("downloads");
  list.replaceChildren();
  (state.history || []).forEach((entry, index) => {
    const item = document.createElement("li");
    const name = document.createElement("div");
    name.className = "name";
    name.textContent = entry.name || entry.url;
    name.title = entry.url;
    const outcome = document.createElement("div");
    outcome.className = "outcome";
    outcome.textContent = entry.outcome;
    item.append(name, outcome);
    if (entry.outcome !== "taken") {
      const send = document.createElement("button");
      send.className = "send";
      send.textContent = "Send anyway";
      send.addEventListener("click", async () => {
        send.disabled = true;
        await api.runtime.sendMessage({ type: "sendAnyway", index });
        refresh();
      });
      item.prepend(send);
    }
    list.append(item);
  });
  document.body.dataset.ready = "1";
}

async function refresh() {
  render(await api.runtime.sendMessage({ type: "state" }));
}

document.getElementById("catching").addEventListener("change", async (e) => {
  await api.runtime.sendMessage({ type: "setCatching", on: e.target.checked });
  refresh();
});
document.getElementById("options").addEventListener("click", (e) => {
  e.preventDefault();
  api.runtime.openOptionsPage();
});
refresh();
