// Headless Chromium for the tests and the measuring tool, started and driven
// by puppeteer-core over the DevTools protocol through a pipe. It runs the
// distribution's browser (/usr/bin/chromium, or $CHROMIUM) with a fresh
// profile folder, in a process group of its own; close() ends the group and
// removes the folder, and so does the exit of this process, however it ends
// (driven_browser.mjs).
import fs from 'node:fs';
import path from 'node:path';
import { Browser, Page } from './driven_browser.mjs';

// Flags that keep a headless browser to itself: no network of its own, no
// first-run work, no GPU (WebGL2 from SwiftShader, Chromium's CPU renderer).
// They are all it gets (puppeteer's own defaults are left out).
export const BASE_FLAGS = [
  '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
  '--use-angle=swiftshader', '--enable-unsafe-swiftshader', '--mute-audio',
  '--window-size=960,540',
];

// A page of Chromium. evaluate(), emulate() and doubleTap() go through a
// DevTools session of their own (`send`), where puppeteer's calls would
// differ from what the tests need: its evaluate() runs as a user gesture (so
// a page could seem to start sound or full screen without one), its viewport
// change reloads the page, and its taps carry no time stamps.
class ChromiumPage extends Page {
  async init() {
    this.session = await this.page.createCDPSession();
    this.watch(this.session);
    await this.session.send('Runtime.enable');
    await this.session.send('Log.enable');
    // Workers (puppeteer attaches to them, and lets them run only after this).
    this.page.on('workercreated', (worker) => {
      this.watch(worker.client);
      worker.client.send('Log.enable').catch(() => {});
    });
  }

  // Keeps the console lines, exceptions and log entries of `session` (the
  // page's: its worklets' too; or a worker's).
  watch(session) {
    session.on('Runtime.consoleAPICalled', (params) => {
      const text = params.args.map((a) => (a.value !== undefined ? String(a.value) : a.description || a.type)).join(' ');
      this.console.push(`${params.type}: ${text}`);
      if (params.type === 'error' || params.type === 'assert') this.errors.push(`console.${params.type}: ${text}`);
    });
    session.on('Runtime.exceptionThrown', (params) => {
      const d = params.exceptionDetails;
      this.errors.push(`exception: ${d.exception?.description || d.text} (${d.url || ''}:${d.lineNumber})`);
    });
    session.on('Log.entryAdded', ({ entry }) => {
      this.console.push(`log ${entry.level}: ${entry.text}`);
      if (entry.level === 'error') this.errors.push(`log: ${entry.text}${entry.url ? ` (${entry.url})` : ''}`);
    });
  }

  // Sends one DevTools protocol command to the page.
  send(method, params = {}) {
    return this.session.send(method, params);
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

  // The page's viewport as `width` x `height` CSS pixels; `phone`: a mobile
  // viewport whose input is touch.
  async emulate(width, height, phone = false) {
    await this.send('Emulation.setDeviceMetricsOverride', { width, height, deviceScaleFactor: 1, mobile: phone });
    await this.send('Emulation.setTouchEmulationEnabled', { enabled: phone, maxTouchPoints: phone ? 5 : 1 });
  }

  // A real tap of one finger at the given page position (emulate() a phone first).
  async tap(x, y) {
    await this.page.touchscreen.tap(x, y);
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
}

// Starts the browser; `flags` are added to BASE_FLAGS.
export async function launchChromium(flags = []) {
  const executablePath = process.env.CHROMIUM || '/usr/bin/chromium';
  if (!fs.existsSync(executablePath)) {
    throw new Error(`no browser at ${executablePath} (install Debian's chromium, or set CHROMIUM)`);
  }
  const browser = new Browser('chromium', ChromiumPage);
  // Its temporary files go into the profile folder too (killed, it would
  // leave them in the system's).
  const temporary = path.join(browser.profile, 'tmp');
  fs.mkdirSync(temporary);
  await browser.start({
    browser: 'chrome',
    executablePath,
    pipe: true,
    timeout: 30000,
    args: [...BASE_FLAGS, ...flags, `--user-data-dir=${browser.profile}`, 'about:blank'],
    env: { ...process.env, TMPDIR: temporary },
  });
  return browser;
}
