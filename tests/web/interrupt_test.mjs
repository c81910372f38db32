// A browser test stopped by Ctrl-C (SIGINT) or SIGTERM while its browser
// runs: it exits with 128 + the signal's number and leaves nothing behind,
// neither the browser's processes nor its profile folder nor the test's
// temporary folder. (Run with --child, this file is such a test: it starts
// headless Chromium, makes its folder, says where both are and waits.)
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import { fileURLToPath } from 'node:url';
import { groupProcesses as running } from './harness/driven_browser.mjs';

if (process.argv[2] === '--child') {
  const { tempFolder } = await import('./web_test_lib.mjs');
  const { launchChromium } = await import('./harness/chromium.mjs');
  const temp = tempFolder();
  const browser = await launchChromium();
  console.log(JSON.stringify({ folder: temp.folder, profile: browser.profile, group: browser.child.pid }));
  setInterval(() => {}, 1000);
} else {
  for (const [signal, code] of [['SIGINT', 130], ['SIGTERM', 143]]) {
    test(`${signal} ends the test with ${code} and leaves no browser, profile or folder`, async () => {
      const child = spawn(process.execPath, [fileURLToPath(import.meta.url), '--child'],
        { stdio: ['ignore', 'pipe', 'inherit'] });
      const ended = new Promise((resolve) => child.once('exit', (exitCode, bySignal) => resolve(exitCode ?? bySignal)));
      const line = await new Promise((resolve, reject) => {
        let text = '';
        child.stdout.on('data', (data) => {
          text += data;
          if (text.includes('\n')) resolve(text.slice(0, text.indexOf('\n')));
        });
        ended.then((how) => reject(new Error(`the test ended (${how}) before its browser ran`)));
      });
      const { folder, profile, group } = JSON.parse(line);
      assert.ok(fs.existsSync(folder) && fs.existsSync(profile), 'no folders to remove');
      assert.notDeepEqual(running(group), [], 'no browser running');
      child.kill(signal);
      assert.equal(await ended, code);
      assert.equal(fs.existsSync(folder), false, `the test's folder ${folder} is left`);
      assert.equal(fs.existsSync(profile), false, `the profile ${profile} is left`);
      assert.deepEqual(running(group), [], 'browser processes are left');
    });
  }
}
