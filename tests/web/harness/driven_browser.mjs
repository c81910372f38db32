// What the two browsers' launchers (chromium.mjs, firefox.mjs) share.
// puppeteer-core starts the browser and speaks its protocol (the DevTools
// protocol to Chromium, WebDriver BiDi to Firefox); around it this file
// keeps what the tests rely on: a fresh profile folder per browser, the
// browser's process group ended and that folder removed by close() and at
// the latest when this process exits, however it ends (its own end, Ctrl-C,
// SIGTERM, SIGHUP: then with 128 + the signal's number), and the part of a
// page's API that is the same in both browsers.
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import puppeteer from 'puppeteer-core';
import { _keyDefinitions } from 'puppeteer-core/internal/common/USKeyboardLayout.js';

// The browsers still running, each ended by its kill() at this process's exit.
const live = new Set();
function endAll() {
  for (const browser of live) browser.kill();
}
process.on('exit', endAll);
for (const signal of ['SIGINT', 'SIGTERM', 'SIGHUP']) {
  process.on(signal, () => {
    endAll();
    process.exit(128 + os.constants.signals[signal]);
  });
}

// The processes of the process group `group` that still run (a zombie has
// ended: it only waits to be reaped).
export function groupProcesses(group) {
  const found = [];
  for (const name of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(name)) continue;
    let stat;
    try {
      stat = fs.readFileSync(`/proc/${name}/stat`, 'latin1');
    } catch {
      continue;  // ended meanwhile
    }
    // pid (comm) state ppid pgrp ...: the fields after the command's ")".
    const [state, , pgrp] = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
    if (Number(pgrp) === group && state !== 'Z' && state !== 'X') found.push(Number(name));
  }
  return found;
}

// Kills the process group `group` and waits (at most 2 s, blocking: this
// process may be about to exit) until its processes have ended, which a
// loaded machine takes a moment for.
function killGroup(group) {
  try {
    process.kill(-group, 'SIGKILL');
  } catch {
    return;  // no such group
  }
  const end = Date.now() + 2000;
  const pause = new Int32Array(new SharedArrayBuffer(4));
  while (groupProcesses(group).length > 0 && Date.now() < end) Atomics.wait(pause, 0, 0, 10);
}

// One browser: `driver` is puppeteer's Browser, `child` its process (the
// leader of a process group of its own), `profile` its profile folder and
// `version` its name and version.
export class Browser {
  // `name` names the profile folder; `PageClass` wraps the browser's pages;
  // `stopAlso` (or null) is called when the browser ends (its X server).
  constructor(name, PageClass, stopAlso = null) {
    this.profile = fs.mkdtempSync(path.join(os.tmpdir(), `demo-${name}-`));
    this.PageClass = PageClass;
    this.stopAlso = stopAlso;
    // Aborting the launch makes puppeteer end the process it has started,
    // which a kill() during the start has no other way to reach.
    this.aborter = new AbortController();
    this.driver = null;
    this.child = null;
    live.add(this);
  }

  // Starts the browser with puppeteer's launch `options`. Our handlers end
  // it on signals (puppeteer's would not remove the profile); only the given
  // arguments are passed (no defaults of puppeteer's); no timeout on a
  // protocol command (one may run for minutes under SwiftShader); pages keep
  // the window's size.
  async start(options) {
    try {
      this.driver = await puppeteer.launch({
        ...options,
        ignoreDefaultArgs: true,
        handleSIGINT: false, handleSIGTERM: false, handleSIGHUP: false,
        protocolTimeout: 0,
        defaultViewport: null,
        signal: this.aborter.signal,
      });
      this.child = this.driver.process();
      this.version = await this.driver.version();
    } catch (error) {
      this.kill();
      throw error;
    }
  }

  // Opens a page on about:blank; see Page.
  async newPage() {
    const page = new this.PageClass(this, await this.driver.newPage());
    await page.init();
    return page;
  }

  // Ends the browser's process group at once (unless its leader, the
  // browser, has ended and been reaped: then the group's id may be another's),
  // removes the profile and stops what ends with the browser.
  kill() {
    live.delete(this);
    this.aborter.abort();
    if (this.child && this.child.exitCode === null && this.child.signalCode === null) killGroup(this.child.pid);
    if (this.profile) fs.rmSync(this.profile, { recursive: true, force: true });
    this.profile = null;
    if (this.stopAlso) this.stopAlso();
  }

  // Asks the browser to close (for at most `timeoutMs`), then ends what is
  // left of it.
  async close(timeoutMs = 10000) {
    if (this.driver) {
      const timeout = new Promise((resolve) => setTimeout(resolve, timeoutMs).unref());
      await Promise.race([this.driver.close().catch(() => {}), timeout]);
    }
    this.kill();
  }
}

// One page (a tab), wrapping puppeteer's Page (`page`): navigation, the
// mouse, the keyboard and screenshots are puppeteer's. Each browser's page
// adds init(), evaluate(expression) and send(method, params), and keeps
// the page's errors (console errors, uncaught exceptions, error log
// entries, its workers' too) in `errors` and every console line in `console`.
export class Page {
  constructor(browser, page) {
    this.browser = browser;
    this.page = page;
    this.errors = [];
    this.console = [];
  }

  // Closes this page (its tab); the browser goes on.
  async close() {
    await this.page.close();
  }

  // Makes this the tab in front, as a click on it does: a tab behind another
  // draws no frames, and each input event waits for a frame that does not
  // come (seconds).
  async bringToFront() {
    await this.page.bringToFront();
  }

  // Navigates and waits for the load event (however long it takes).
  async goto(url) {
    await this.page.goto(url, { waitUntil: 'load', timeout: 0 });
  }

  // Polls `evaluate(expression)` every 50 ms until it is truthy; resolves to
  // that value, or rejects after `timeoutMs` naming `what`.
  async waitFor(expression, timeoutMs, what = expression) {
    const end = Date.now() + timeoutMs;
    for (;;) {
      const value = await this.evaluate(expression);
      if (value) return value;
      if (Date.now() > end) throw new Error(`timed out after ${timeoutMs} ms waiting for ${what}`);
      await new Promise((resolve) => setTimeout(resolve, 50));
    }
  }

  // A real (trusted) click at the given page position, the mouse moved
  // there first: it counts as a user gesture, which sound and full screen need.
  async click(x, y) {
    await this.page.mouse.click(x, y);
  }

  // The mouse moved to the given page position (no button down).
  async moveMouse(x, y) {
    await this.page.mouse.move(x, y);
  }

  // A real key press as a US keyboard sends it: `key` is a DOM key name
  // ('Escape', ' ', 'a'); `code` (the DOM code) and `keyCode` (the Windows
  // virtual key), where given, must be that keyboard's for the key.
  async press(key, code, keyCode) {
    const definition = _keyDefinitions[key];
    if (!definition) throw new Error(`no key named "${key}" on a US keyboard`);
    if ((code !== undefined && code !== definition.code) || (keyCode !== undefined && keyCode !== definition.keyCode)) {
      throw new Error(`the key "${key}" is ${definition.code} (${definition.keyCode}), not ${code} (${keyCode})`);
    }
    await this.page.keyboard.press(key);
  }

  // A PNG of what the page shows now.
  async screenshot() {
    return Buffer.from(await this.page.screenshot({ type: 'png' }));
  }
}
