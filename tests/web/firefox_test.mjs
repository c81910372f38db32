// The one-file page in Firefox (Debian's firefox-esr over WebDriver BiDi, on
// an X server of the test's own, WebGL2 from Mesa's llvmpipe), opened from
// disk: it loads without console errors and with WebGL2; its still matches
// the capture tool's picture within FIREFOX_TOLERANCE; a run's sound graph
// output is the song's frames bit for bit; Escape ends the run and shows the
// start view.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { pathToFileURL } from 'node:url';
import { launchFirefox } from '../harness/firefox.mjs';
import { readPng } from './png.mjs';
import {
  config, settled, capturePng, tempFolder, songFrames, locateRecording, floatsFromBase64,
} from './web_test_lib.mjs';

const RATE = 44100;
const START_SECONDS = 5;
const START_FRAME = START_SECONDS * RATE;
// 2 s of the song at least, after the first frames that the Worker may not
// have rendered yet.
const RECORD_SECONDS = 3.5;

// Firefox draws WebGL on Linux with the system's OpenGL, here Mesa's
// llvmpipe, the capture tool's renderer too; only its shader translator
// (ANGLE's, from GLSL ES to desktop GLSL) stands between, and its rewriting
// of some expressions can change the last bit of a value, which moves a
// rare pixel by one level at the 8-bit output. So: every channel within 2
// levels, and at most one pixel in a thousand different at all. (Measured
// here: 1 pixel of 57,600 differed, by 1 level in one channel.) Chromium's
// SwiftShader rounds otherwise and needs the block tolerance of
// web_test_lib.mjs.
const FIREFOX_TOLERANCE = { levels: 2, differentShare: 0.001 };

const temp = tempFolder();
const browser = await launchFirefox();
after(async () => {
  await browser.close();
  temp.cleanup();
});
const page = await browser.newPage();
await page.goto(`${pathToFileURL(config().oneFile).href}?t=${START_SECONDS}`);

test('Firefox loads demo.html from disk with WebGL2 and no console errors; its still matches capture', async () => {
  console.log(`browser: ${browser.version}`);
  assert.equal(await settled(page), 'ready', await page.evaluate('demoDebug.message'));
  assert.equal(await page.evaluate(`!!document.createElement('canvas').getContext('webgl2')`), true);
  const still = await page.evaluate('demoDebug.still');
  const name = (await page.evaluate('demoDebug.scales'))[still.index].name;
  const got = Buffer.from(await page.evaluate('demoDebug.stillPixels()'), 'base64');
  const reference = readPng(fs.readFileSync(capturePng(still.timeMs / 1000, null, temp.folder, name)));
  assert.deepEqual([reference.width, reference.height], [still.width, still.height]);
  let worst = 0;
  let different = 0;
  for (let i = 0; i < still.width * still.height; i++) {
    let differs = false;
    for (let c = 0; c < 3; c++) {
      const d = Math.abs(got[i * 4 + c] - reference.pixels[i * reference.channels + c]);
      worst = Math.max(worst, d);
      differs ||= d > 0;
    }
    if (differs) different++;
  }
  console.log(`still at ${still.timeMs} ms, ${still.width}x${still.height}, drawn in ${still.ms.toFixed(0)} ms: `
    + `${different} pixels differ, by at most ${worst} levels`);
  assert.ok(worst <= FIREFOX_TOLERANCE.levels, `a channel differs by ${worst} levels`);
  assert.ok(different <= FIREFOX_TOLERANCE.differentShare * still.width * still.height, `${different} pixels differ`);
  assert.deepEqual(page.errors, []);
});

test('Firefox plays the song bit for bit, and Escape shows the start view', async () => {
  const frames = START_FRAME + Math.ceil(RECORD_SECONDS + 3) * RATE;
  const song = songFrames(frames, temp.folder);
  await page.evaluate(`demoDebug.frameRect = { x: 900, y: 480, width: 96, height: 96 }; true`);
  await page.evaluate(`demoDebug.recordNextRun(${RECORD_SECONDS}); true`);
  await page.click(200, 200);
  await page.waitFor(`demoDebug.state === 'running'`, 60000, 'the run');
  await page.waitFor('demoDebug.recording', 60000, 'the recording');
  const found = locateRecording(floatsFromBase64(await page.evaluate('demoDebug.recording')), song, 0, START_FRAME, RATE);
  assert.ok(found, 'the recording is not the song\'s frames (with silence for frames not rendered) at any start');
  console.log(`recorded from song frame ${found.offset}: ${found.rendered} frames of the song, `
    + `${found.silentBefore} silent before the first, ${found.silentAfter} after it`);
  assert.ok(found.rendered >= 2 * RATE, `only ${found.rendered} frames of the song`);
  assert.equal(await page.evaluate('demoDebug.run.noSound'), undefined);

  await page.press('Escape');
  await page.waitFor(`demoDebug.state === 'ready'`, 30000, 'the end of the run');
  assert.equal(await page.evaluate(`!document.getElementById('start-view').hidden`), true);
  assert.deepEqual(page.errors, []);
});
