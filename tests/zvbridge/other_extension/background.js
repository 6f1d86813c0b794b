// Downloads what the rig asks it to, as a download manager's rival would.
"use strict";

function fetchFile(url) {
  return chrome.downloads.download({ url });
}
