// Where the page's parts come from. In the web folder they are files beside
// the page, fetched from the server. In the one-file page (demo.html) they
// are embedded in the page itself, in the JSON text of the element
// #demo-parts ({ name: text }, demo.wasm as base64), and given to the
// browser as URLs of their own where it wants a URL: Blob URLs for the
// emscripten loader and the synthesizer's Worker (one script: the loader,
// then the Worker's own code), data URLs for the audio worklets (Chromium
// refuses a worklet from a Blob URL in a page opened from disk). Nothing is
// fetched then, so the page plays opened from disk (file://).

const element = document.getElementById('demo-parts');
const embedded = element ? JSON.parse(element.textContent) : null;
const blobUrls = new Map();

function blobUrl(name, texts) {
  if (!blobUrls.has(name)) {
    blobUrls.set(name, URL.createObjectURL(new Blob(texts, { type: 'text/javascript' })));
  }
  return blobUrls.get(name);
}

// True in the one-file page.
export const isOneFile = embedded !== null;

function embeddedText(name) {
  if (!(name in embedded)) throw new Error(`the page holds no ${name}`);
  return embedded[name];
}

// The URL of a classic script part: 'demo.js'.
export function scriptUrl(name) {
  if (!embedded) return name;
  return blobUrl(name, [embeddedText(name)]);
}

// The URL of an audio worklet's module: 'player_worklet.js', 'recorder_worklet.js'.
export function workletUrl(name) {
  if (!embedded) return name;
  return `data:text/javascript;charset=utf-8,${encodeURIComponent(embeddedText(name))}`;
}

// The URL of the synthesizer's Worker.
export function workerUrl() {
  if (!embedded) return 'synth_worker.js';
  return blobUrl('synth_worker.js', [embedded['demo.js'], '\n', embedded['synth_worker.js']]);
}

async function fetched(name) {
  const response = await fetch(name);
  if (!response.ok) throw new Error(`${name} could not be loaded (HTTP ${response.status})`);
  return response;
}

// The text of 'scene.frag'.
export async function textPart(name) {
  if (embedded) return embedded[name];
  return (await fetched(name)).text();
}

// The bytes of 'demo.wasm'; onProgress(received, total) follows a download
// (total is 0 when the server does not say).
export async function binaryPart(name, onProgress) {
  if (embedded) {
    const binary = atob(embedded[name]);
    const bytes = new Uint8Array(binary.length);
    for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
    onProgress(bytes.length, bytes.length);
    return bytes;
  }
  const response = await fetched(name);
  const total = Number(response.headers.get('Content-Length')) || 0;
  const reader = response.body.getReader();
  const chunks = [];
  let received = 0;
  for (;;) {
    const { done, value } = await reader.read();
    if (done) break;
    chunks.push(value);
    received += value.length;
    onProgress(received, total);
  }
  const bytes = new Uint8Array(received);
  let at = 0;
  for (const chunk of chunks) {
    bytes.set(chunk, at);
    at += chunk.length;
  }
  return bytes;
}

// Runs a classic script part in the page (resolves once it has run).
export function loadScript(name) {
  return new Promise((resolve, reject) => {
    const script = document.createElement('script');
    script.src = scriptUrl(name);
    script.onload = () => resolve();
    script.onerror = () => reject(new Error(`${name} could not be loaded`));
    document.head.append(script);
  });
}

// What to try instead where something was refused to a page opened from disk.
export function fromDiskAdvice() {
  if (location.protocol !== 'file:') return '';
  return isOneFile
    ? ' Opened from disk, a browser may refuse what it allows to a page from the web: '
      + 'open the demo\'s web page instead, or try another browser.'
    : ' Opened as a file, this page cannot load its parts: open demo.html (the whole demo in one file) '
      + 'instead, or open this page from the web server it came from.';
}
