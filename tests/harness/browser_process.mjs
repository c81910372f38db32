// What the two browser clients (chromium.mjs, firefox.mjs) share: the
// browsers still running, each ended with its kill() when this process exits,
// however it ends (its own end, Ctrl-C, SIGTERM, SIGHUP: then with 128 + the
// signal's number); the end of a browser's process group and of its profile
// folder; and a page's polling.
import fs from 'node:fs';
import os from 'node:os';

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

// `browser` (anything with a kill()) is ended at this process's exit until
// it is forgotten.
export function keepUntilExit(browser) {
  live.add(browser);
}
export function forget(browser) {
  live.delete(browser);
}

// Ends the process group that `child` leads (it was spawned detached), unless
// the child has ended already, and removes `profile` (a folder, or null).
export function endGroupAndProfile(child, profile) {
  if (child.exitCode === null && child.signalCode === null) {
    try {
      process.kill(-child.pid, 'SIGKILL');
    } catch {}
  }
  if (profile) fs.rmSync(profile, { recursive: true, force: true });
}

// Polls `page.evaluate(expression)` every 50 ms until it is truthy; resolves
// to that value, or rejects after `timeoutMs` naming `what`.
export async function pollUntil(page, expression, timeoutMs, what = expression) {
  const end = Date.now() + timeoutMs;
  for (;;) {
    const value = await page.evaluate(expression);
    if (value) return value;
    if (Date.now() > end) throw new Error(`timed out after ${timeoutMs} ms waiting for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
}
