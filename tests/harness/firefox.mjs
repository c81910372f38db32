// Firefox for the tests, driven over WebDriver BiDi (a WebSocket that the
// browser opens with --remote-debugging-port; see websocket.mjs). It runs
// the distribution's browser (/usr/bin/firefox-esr, or $FIREFOX) on an
// Xvfb of its own (headless Firefox offers no WebGL2), with a fresh profile
// folder whose user.js turns WebGL on for a software renderer, gives it a
// sound output without a sound device and keeps the browser off the
// network, in a process group of its own; close() ends the
// group by its id, removes the folder and stops the X server, and so does
// the exit of this process, however it ends (browser_process.mjs). Its
// pages offer what the
// Chromium client's do (goto, evaluate, waitFor, click, moveMouse, press, screenshot,
// errors, console).
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { endGroupAndProfile, forget, keepUntilExit, pollUntil } from './browser_process.mjs';
import { connectWebSocket } from './websocket.mjs';
import { startXvfb } from './xvfb.mjs';

const PREFERENCES = {
  // WebGL on Mesa's llvmpipe, which Firefox otherwise refuses.
  'webgl.force-enabled': true,
  // Sound through the mock backend, which runs on the clock: without a sound
  // device (as here) Firefox never starts an AudioContext.
  'media.cubeb.force_mock_context': true,
  // No first-run pages, updates, reports or other traffic of its own.
  'browser.shell.checkDefaultBrowser': false,
  'browser.startup.homepage_override.mstone': 'ignore',
  'browser.startup.page': 0,
  'browser.aboutwelcome.enabled': false,
  'datareporting.policy.dataSubmissionEnabled': false,
  'datareporting.healthreport.uploadEnabled': false,
  'toolkit.telemetry.reportingpolicy.firstRun': false,
  'app.update.disabledForTesting': true,
  'app.normandy.enabled': false,
  'messaging-system.rsexperimentloader.enabled': false,
  'services.settings.server': 'data:,',
  'extensions.update.enabled': false,
  'extensions.getAddons.cache.enabled': false,
  'browser.safebrowsing.malware.enabled': false,
  'browser.safebrowsing.phishing.enabled': false,
  'browser.safebrowsing.downloads.enabled': false,
  'network.captive-portal-service.enabled': false,
  'network.connectivity-service.enabled': false,
  'browser.newtabpage.enabled': false,
  'media.gmp-manager.url': '',
  'browser.region.network.url': '',
  'browser.search.update': false,
  // Full screen at once, without its notice.
  'full-screen-api.warning.timeout': 0,
  'full-screen-api.transition-duration.enter': '0 0',
  'full-screen-api.transition-duration.leave': '0 0',
  'browser.sessionstore.resume_from_crash': false,
  'toolkit.startup.max_resumed_crashes': -1,
};

// Key names as the tests give them, and WebDriver's values for the keys
// that have no character.
const KEYS = { Escape: '\uE00C', ArrowLeft: '\uE012', ArrowRight: '\uE014', ' ': ' ' };

class Browser {
  constructor(child, profile, xvfb, socket) {
    this.child = child;
    this.profile = profile;
    this.xvfb = xvfb;
    this.socket = socket;
    this.nextId = 1;
    this.pending = new Map();
    this.pages = new Set();
    this.exited = new Promise((resolve) => child.once('exit', (code, signal) => resolve({ code, signal })));
    socket.onMessage = (text) => this.dispatch(JSON.parse(text));
    socket.closed.then(() => {
      for (const { reject } of this.pending.values()) reject(new Error('the browser has ended'));
      this.pending.clear();
    });
  }

  dispatch(message) {
    if (message.id !== undefined) {
      const call = this.pending.get(message.id);
      if (!call) return;
      this.pending.delete(message.id);
      if (message.type === 'error') call.reject(new Error(`${call.method}: ${message.error}: ${message.message}`));
      else call.resolve(message.result);
    } else if (message.method === 'log.entryAdded') {
      for (const page of this.pages) page.logged(message.params);
    }
  }

  send(method, params = {}) {
    const id = this.nextId++;
    return new Promise((resolve, reject) => {
      this.pending.set(id, { resolve, reject, method });
      this.socket.send(JSON.stringify({ id, method, params }));
    });
  }

  // Opens a tab on about:blank; see Page.
  async newPage() {
    const { context } = await this.send('browsingContext.create', { type: 'tab' });
    const page = new Page(this, context);
    this.pages.add(page);
    return page;
  }

  kill() {
    endGroupAndProfile(this.child, this.profile);
    this.profile = null;
    this.xvfb.stop();
    forget(this);
  }

  // Asks the browser to close, then ends what is left of it.
  async close() {
    const timeout = new Promise((resolve) => setTimeout(resolve, 10000).unref());
    await Promise.race([this.send('browser.close').catch(() => {}), timeout]);
    await Promise.race([this.exited, timeout]);
    this.socket.close();
    this.kill();
  }
}

// One tab. It keeps every console error and uncaught exception of the page
// (and of workers, whose entries name no tab) in `errors`, and every
// console line in `console`.
class Page {
  constructor(browser, context) {
    this.browser = browser;
    this.context = context;
    this.errors = [];
    this.console = [];
  }

  logged(entry) {
    const context = entry.source && entry.source.context;
    if (context && context !== this.context) return;
    this.console.push(`${entry.type} ${entry.level}: ${entry.text}`);
    if (entry.level === 'error') this.errors.push(`${entry.type}: ${entry.text}`);
  }

  send(method, params = {}) {
    return this.browser.send(method, { context: this.context, ...params });
  }

  // Navigates and waits for the load event.
  async goto(url) {
    await this.send('browsingContext.navigate', { url, wait: 'complete' });
  }

  // Evaluates `expression` (a script; its completion value counts) in the
  // page, awaiting a promise, and returns the value as JSON-able data; a
  // thrown error becomes a rejection.
  async evaluate(expression) {
    const wrapped = `(async () => JSON.stringify(await eval(${JSON.stringify(expression)})))()`;
    const result = await this.browser.send('script.evaluate', {
      expression: wrapped, target: { context: this.context }, awaitPromise: true, resultOwnership: 'none',
    });
    if (result.type === 'exception') {
      throw new Error(`in the page: ${result.exceptionDetails.text}`);
    }
    return result.result.type === 'string' ? JSON.parse(result.result.value) : undefined;
  }

  // Polls `expression` until it is truthy; returns its value.
  waitFor(expression, timeoutMs, what = expression) {
    return pollUntil(this, expression, timeoutMs, what);
  }

  // A real (trusted) click at the given viewport position.
  async click(x, y) {
    await this.send('input.performActions', {
      actions: [{
        type: 'pointer', id: 'mouse', parameters: { pointerType: 'mouse' },
        actions: [{ type: 'pointerMove', x, y }, { type: 'pointerDown', button: 0 }, { type: 'pointerUp', button: 0 }],
      }],
    });
  }

  // The mouse moved to the given viewport position.
  async moveMouse(x, y) {
    await this.send('input.performActions', {
      actions: [{ type: 'pointer', id: 'mouse', parameters: { pointerType: 'mouse' }, actions: [{ type: 'pointerMove', x, y }] }],
    });
  }

  // A real key press: `key` is a DOM key name ('Escape', ' ', 'a').
  async press(key) {
    const value = KEYS[key] ?? key;
    await this.send('input.performActions', {
      actions: [{ type: 'key', id: 'keyboard', actions: [{ type: 'keyDown', value }, { type: 'keyUp', value }] }],
    });
  }

  // A PNG of what the tab shows now.
  async screenshot() {
    const { data } = await this.send('browsingContext.captureScreenshot');
    return Buffer.from(data, 'base64');
  }
}

// Starts the browser on an X server of its own.
export async function launchFirefox() {
  const executable = process.env.FIREFOX || '/usr/bin/firefox-esr';
  if (!fs.existsSync(executable)) {
    throw new Error(`no browser at ${executable} (install Debian's firefox-esr, or set FIREFOX)`);
  }
  const xvfb = await startXvfb();
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'demo-firefox-'));
  fs.writeFileSync(path.join(profile, 'user.js'),
    Object.entries(PREFERENCES).map(([name, value]) => `user_pref(${JSON.stringify(name)}, ${JSON.stringify(value)});\n`).join(''));
  const child = spawn(executable, ['--profile', profile, '--no-remote', '--new-instance', '--remote-debugging-port=0', 'about:blank'], {
    stdio: ['ignore', 'ignore', 'pipe'],
    detached: true,
    env: { ...process.env, DISPLAY: xvfb.display, MOZ_CRASHREPORTER_DISABLE: '1' },
  });
  let stderr = '';
  // At start the group is ended even when the browser itself has already
  // ended: what it started may still run.
  const cleanUp = () => {
    try {
      process.kill(-child.pid, 'SIGKILL');
    } catch {}
    fs.rmSync(profile, { recursive: true, force: true });
    xvfb.stop();
  };
  let socket;
  try {
    const address = await new Promise((resolve, reject) => {
      const timer = setTimeout(() => reject(new Error(`the browser gave no WebDriver BiDi address in 60 s: ${stderr}`)), 60000);
      child.on('error', (error) => reject(error));
      child.on('exit', (code, signal) => reject(new Error(`the browser ended (${code ?? signal}) at start: ${stderr}`)));
      child.stderr.on('data', (data) => {
        stderr = (stderr + data).slice(-4000);
        const found = /WebDriver BiDi listening on (ws:\/\/\S+)/.exec(stderr);
        if (found) {
          clearTimeout(timer);
          resolve(found[1]);
        }
      });
    });
    child.removeAllListeners('exit');
    socket = await connectWebSocket(`${address}/session`);
  } catch (error) {
    cleanUp();
    throw error;
  }
  const browser = new Browser(child, profile, xvfb, socket);
  keepUntilExit(browser);
  try {
    const { capabilities } = await browser.send('session.new', { capabilities: {} });
    browser.version = `${capabilities.browserName} ${capabilities.browserVersion}`;
    await browser.send('session.subscribe', { events: ['log.entryAdded'] });
  } catch (error) {
    browser.kill();
    throw error;
  }
  return browser;
}
