// Headless Chromium for the tests and the measuring tool, driven over the
// DevTools protocol through a pipe (--remote-debugging-pipe: commands go to
// the browser's descriptor 3, replies and events come from its descriptor 4,
// each a JSON text ended by a NUL byte). It runs the distribution's browser
// (/usr/bin/chromium, or $CHROMIUM) with a fresh profile folder, in a process
// group of its own; close() ends the group by its id and removes the folder,
// and so does the exit of this process, however it ends (browser_process.mjs).
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { endGroupAndProfile, forget, keepUntilExit, pollUntil } from './browser_process.mjs';

// Flags that keep a headless browser to itself: no network of its own, no
// first-run work, no GPU (WebGL2 from SwiftShader, Chromium's CPU renderer).
export const BASE_FLAGS = [
  '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
  '--use-angle=swiftshader', '--enable-unsafe-swiftshader', '--mute-audio',
  '--window-size=960,540',
];

class Browser {
  constructor(child, profile) {
    this.child = child;
    this.profile = profile;
    this.nextId = 1;
    this.pending = new Map();
    this.listeners = new Set();
    this.exited = new Promise((resolve) => child.once('exit', (code, signal) => resolve({ code, signal })));
    this.exited.then(() => {
      for (const { reject } of this.pending.values()) reject(new Error('the browser has ended'));
      this.pending.clear();
    });
    let buffer = Buffer.alloc(0);
    child.stdio[4].on('data', (data) => {
      buffer = Buffer.concat([buffer, data]);
      for (let end = buffer.indexOf(0); end >= 0; end = buffer.indexOf(0)) {
        const message = JSON.parse(buffer.subarray(0, end).toString('utf8'));
        buffer = buffer.subarray(end + 1);
        this.dispatch(message);
      }
    });
    child.stdio[3].on('error', () => {});
  }

  dispatch(message) {
    if (message.id !== undefined) {
      const call = this.pending.get(message.id);
      if (!call) return;
      this.pending.delete(message.id);
      if (message.error) call.reject(new Error(`${call.method}: ${message.error.message}`));
      else call.resolve(message.result);
      return;
    }
    for (const listener of [...this.listeners]) listener(message);
  }

  // Sends one command (to the browser, or to the target of `sessionId`).
  send(method, params = {}, sessionId = undefined) {
    const id = this.nextId++;
    const message = { id, method, params };
    if (sessionId) message.sessionId = sessionId;
    return new Promise((resolve, reject) => {
      this.pending.set(id, { resolve, reject, method });
      this.child.stdio[3].write(JSON.stringify(message) + '\0');
    });
  }

  // Calls `listener(message)` for every event; returns the function that stops it.
  onEvent(listener) {
    this.listeners.add(listener);
    return () => this.listeners.delete(listener);
  }

  // Opens a page on about:blank; see Page.
  async newPage() {
    const { targetId } = await this.send('Target.createTarget', { url: 'about:blank' });
    const { sessionId } = await this.send('Target.attachToTarget', { targetId, flatten: true });
    const page = new Page(this, sessionId);
    await page.init();
    return page;
  }

  kill() {
    endGroupAndProfile(this.child, this.profile);
    this.profile = null;
    forget(this);
  }

  // Asks the browser to close, then ends what is left of its process group.
  async close() {
    const timeout = new Promise((resolve) => setTimeout(resolve, 5000).unref());
    await Promise.race([this.send('Browser.close').catch(() => {}), timeout]);
    await Promise.race([this.exited, timeout]);
    this.kill();
  }
}

// One page (a tab) and the workers it starts. It keeps every console error,
// uncaught exception and error log entry of the page and its workers in
// `errors`, and every console line in `console`.
class Page {
  constructor(browser, sessionId) {
    this.browser = browser;
    this.sessionId = sessionId;
    this.sessions = new Set([sessionId]);
    this.errors = [];
    this.console = [];
    this.loaded = null;
    browser.onEvent((message) => this.handle(message));
  }

  async init() {
    const send = (method, params) => this.send(method, params);
    await send('Page.enable');
    await send('Runtime.enable');
    await send('Log.enable');
    await send('Target.setAutoAttach', { autoAttach: true, waitForDebuggerOnStart: true, flatten: true });
  }

  handle(message) {
    if (!this.sessions.has(message.sessionId)) return;
    const { method, params } = message;
    if (method === 'Target.attachedToTarget') {
      // A worker (or worklet): watch its console too, then let it run.
      const child = params.sessionId;
      this.sessions.add(child);
      const send = (m, p = {}) => this.browser.send(m, p, child).catch(() => {});
      send('Runtime.enable').then(() => send('Log.enable'))
        .then(() => send('Target.setAutoAttach', { autoAttach: true, waitForDebuggerOnStart: true, flatten: true }))
        .then(() => send('Runtime.runIfWaitingForDebugger'));
    } else if (method === 'Runtime.consoleAPICalled') {
      const text = params.args.map((a) => (a.value !== undefined ? String(a.value) : a.description || a.type)).join(' ');
      this.console.push(`${params.type}: ${text}`);
      if (params.type === 'error' || params.type === 'assert') this.errors.push(`console.${params.type}: ${text}`);
    } else if (method === 'Runtime.exceptionThrown') {
      const d = params.exceptionDetails;
      this.errors.push(`exception: ${d.exception?.description || d.text} (${d.url || ''}:${d.lineNumber})`);
    } else if (method === 'Log.entryAdded') {
      const e = params.entry;
      this.console.push(`log ${e.level}: ${e.text}`);
      if (e.level === 'error') this.errors.push(`log: ${e.text}${e.url ? ` (${e.url})` : ''}`);
    } else if (method === 'Page.loadEventFired' && message.sessionId === this.sessionId) {
      if (this.loaded) this.loaded();
    }
  }

  send(method, params = {}) {
    return this.browser.send(method, params, this.sessionId);
  }

  // Navigates and waits for the load event.
  async goto(url) {
    const loaded = new Promise((resolve) => { this.loaded = resolve; });
    const result = await this.send('Page.navigate', { url });
    if (result.errorText) throw new Error(`cannot load ${url}: ${result.errorText}`);
    await loaded;
  }

  // Evaluates an expression in the page (awaiting a promise) and returns its
  // value as JSON-able data; a thrown error becomes a rejection.
  async evaluate(expression) {
    const result = await this.send('Runtime.evaluate', { expression, awaitPromise: true, returnByValue: true });
    if (result.exceptionDetails) {
      const d = result.exceptionDetails;
      throw new Error(`in the page: ${d.exception?.description || d.text}`);
    }
    return result.result.value;
  }

  // Polls `expression` until it is truthy; returns its value.
  waitFor(expression, timeoutMs, what = expression) {
    return pollUntil(this, expression, timeoutMs, what);
  }

  // A real (trusted) click at the given page position: it counts as a user
  // gesture, which sound and full screen need.
  async click(x, y) {
    const base = { x, y, button: 'left', clickCount: 1 };
    await this.send('Input.dispatchMouseEvent', { type: 'mousePressed', ...base });
    await this.send('Input.dispatchMouseEvent', { type: 'mouseReleased', ...base });
  }

  // A real key press: key is a DOM key name ('Escape', ' ', 'a'), code the
  // DOM code, keyCode the Windows virtual key.
  async press(key, code, keyCode) {
    const base = { key, code, windowsVirtualKeyCode: keyCode, nativeVirtualKeyCode: keyCode };
    // Enter goes down with its character, as a keyboard sends it (a button
    // takes it from there).
    if (key === 'Enter') await this.send('Input.dispatchKeyEvent', { type: 'keyDown', text: '\r', ...base });
    else await this.send('Input.dispatchKeyEvent', { type: 'rawKeyDown', ...base });
    await this.send('Input.dispatchKeyEvent', { type: 'keyUp', ...base });
  }

  // The mouse moved to the given page position (no button down).
  async moveMouse(x, y) {
    await this.send('Input.dispatchMouseEvent', { type: 'mouseMoved', x, y });
  }

  // The page's viewport as `width` x `height` CSS pixels; `phone`: a mobile
  // viewport whose input is touch.
  async emulate(width, height, phone = false) {
    await this.send('Emulation.setDeviceMetricsOverride', { width, height, deviceScaleFactor: 1, mobile: phone });
    await this.send('Emulation.setTouchEmulationEnabled', { enabled: phone, maxTouchPoints: phone ? 5 : 1 });
  }

  // A real tap of one finger at the given page position (emulate() a phone first).
  async tap(x, y) {
    await this.send('Input.dispatchTouchEvent', { type: 'touchStart', touchPoints: [{ x, y }] });
    await this.send('Input.dispatchTouchEvent', { type: 'touchEnd', touchPoints: [] });
  }

  // Two taps 150 ms apart by their time stamps (however long the page
  // takes to see them).
  async doubleTap(x, y) {
    const at = Date.now() / 1000;
    for (const offset of [0, 0.15]) {
      await this.send('Input.dispatchTouchEvent', { type: 'touchStart', touchPoints: [{ x, y }], timestamp: at + offset });
      await this.send('Input.dispatchTouchEvent', { type: 'touchEnd', touchPoints: [], timestamp: at + offset + 0.05 });
    }
  }

  // A PNG of what the page shows now.
  async screenshot() {
    const { data } = await this.send('Page.captureScreenshot', { format: 'png' });
    return Buffer.from(data, 'base64');
  }
}

// Starts the browser; `flags` are added to BASE_FLAGS.
export async function launchChromium(flags = []) {
  const executable = process.env.CHROMIUM || '/usr/bin/chromium';
  if (!fs.existsSync(executable)) {
    throw new Error(`no browser at ${executable} (install Debian's chromium, or set CHROMIUM)`);
  }
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'demo-chromium-'));
  const args = [...BASE_FLAGS, ...flags, `--user-data-dir=${profile}`, '--remote-debugging-pipe', 'about:blank'];
  const child = spawn(executable, args, { stdio: ['ignore', 'ignore', 'pipe', 'pipe', 'pipe'], detached: true });
  const browser = new Browser(child, profile);
  keepUntilExit(browser);
  let stderr = '';
  child.stderr.on('data', (data) => { stderr = (stderr + data).slice(-4000); });
  browser.stderr = () => stderr;
  const started = await Promise.race([
    browser.send('Browser.getVersion').then((v) => v),
    browser.exited.then(({ code, signal }) => { throw new Error(`the browser ended (${code ?? signal}) at start: ${stderr}`); }),
    new Promise((_, reject) => setTimeout(() => reject(new Error(`the browser did not answer in 30 s: ${stderr}`)), 30000).unref()),
  ]).catch((error) => { browser.kill(); throw error; });
  browser.version = started.product;
  return browser;
}
