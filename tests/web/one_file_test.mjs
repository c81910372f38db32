// The one-file page (demo.html) opened from disk (file://) in headless
// Chromium: it loads without errors and draws its still, which matches the
// capture tool's picture of that moment at that scale within the tolerance;
// a run without ?scale steps down to the coarsest scale on SwiftShader,
// while the sound graph's output stays the song's frames bit for bit. The
// web folder's index.html opened from disk says in words that it cannot
// start there and what to open instead.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { readPng } from './png.mjs';
import {
  config, openFromDisk, openForTheseTests, settled, compareStill, capturePng, songFrames, locateRecording,
  floatsFromBase64,
} from './web_test_lib.mjs';

const RATE = 44100;
const START_SECONDS = 30;
const START_FRAME = START_SECONDS * RATE;
// The recording ends a few frames after the last step.
const MAX_RECORD_SECONDS = 90;

const { demo, page, temp } = await openForTheseTests(openFromDisk(config().oneFile, `?t=${START_SECONDS}`));

test('demo.html from disk loads without errors and its still is the capture tool\'s picture', async () => {
  assert.equal(await settled(page), 'ready', await page.evaluate('demoDebug.message'));
  const still = await page.evaluate('demoDebug.still');
  const scales = await page.evaluate('demoDebug.scales');
  assert.equal(still.index, scales.length - 1, 'the still is not at the coarsest scale');
  const got = Buffer.from(await page.evaluate('demoDebug.stillPixels()'), 'base64');
  const reference = readPng(fs.readFileSync(capturePng(still.timeMs / 1000, null, temp.folder, scales[still.index].name)));
  assert.deepEqual([reference.width, reference.height], [still.width, still.height]);
  const result = compareStill(got, reference, still.width, still.height);
  console.log(`still at ${still.timeMs} ms, ${still.width}x${still.height}, drawn in ${still.ms.toFixed(0)} ms: `
    + `worst 8x8 block ${result.worstBlock.toFixed(2)} levels, mean ${result.meanLevels.toFixed(2)}`);
  assert.ok(result.within, JSON.stringify(result));
  assert.match(await page.evaluate(`document.getElementById('start-view').textContent`), /flashes white/);
  assert.deepEqual(page.errors, []);
});

test('without ?scale a run goes to the coarsest scale at once, and the sound stays the song\'s frames', async () => {
  // A centred rect of a twenty-fifth of the picture: on SwiftShader even its
  // share at scale 4 takes longer than the 1/30 s budget (about 0.1 s at
  // 30 s; 1.8 s at full resolution), so the judged second's time per pixel
  // leads straight to the coarsest. The move also waits for SwiftShader to
  // build that scale's program (seconds).
  await page.evaluate(`demoDebug.frameRect = { x: 768, y: 432, width: 384, height: 216 }`);
  await page.evaluate(`demoDebug.recordNextRun(${MAX_RECORD_SECONDS}); true`);
  await page.click(200, 200);
  await page.waitFor(`demoDebug.state === 'running'`, 30000, 'the run');
  const coarsest = (await page.evaluate('demoDebug.scales.length')) - 1;
  await page.waitFor(`demoDebug.run.scale === ${coarsest}`, 90000, 'the coarsest scale');
  // A few frames at the coarsest scale, then the recording ends.
  const frames = await page.evaluate('demoDebug.run.frames');
  await page.waitFor(`demoDebug.run.frames >= ${frames + 5}`, 30000, 'frames at the coarsest scale');
  await page.evaluate('demoDebug.stopRecording(); true');
  await page.waitFor('demoDebug.recording', 30000, 'the recording');
  const run = await page.evaluate('demoDebug.run');
  console.log(`scale changes: ${run.scaleChanges.map((c) => `${c.index} at ${c.timeMs} ms`).join(', ')}; `
    + `last frames ${run.frameMs.toFixed(0)} ms`);
  assert.deepEqual(run.scaleChanges.map((c) => c.index), [coarsest], 'not straight to the coarsest at once');

  const recorded = floatsFromBase64(await page.evaluate('demoDebug.recording'));
  const seconds = recorded.length / 2 / RATE;
  const song = songFrames(START_FRAME + Math.ceil(seconds + 2) * RATE, temp.folder);
  const found = locateRecording(recorded, song, 0, START_FRAME, RATE);
  assert.ok(found, 'the recording is not the song\'s frames (with silence for frames not rendered) at any start');
  console.log(`recorded ${seconds.toFixed(1)} s from song frame ${found.offset}: ${found.rendered} frames of the song, `
    + `${found.silentBefore} silent before the first, ${found.silentAfter} after it`);
  // The Worker renders the song's first 30 s before the first frame of the
  // run's: a few seconds of silence first, since the player plays the frames
  // not yet rendered as silence rather than wait for them.
  assert.ok(found.rendered >= seconds / 2 * RATE, `only ${found.rendered} frames of the song`);
  assert.deepEqual(page.errors, []);
});

test('the web folder\'s page opened from disk says what to open instead', async () => {
  const other = await demo.browser.newPage();
  await other.goto(new URL(`file://${path.join(config().site, 'index.html')}`).href);
  const message = await other.waitFor(`!document.getElementById('message').hidden && document.getElementById('message').textContent`,
    30000, 'the message');
  assert.match(message, /demo\.html/);
  assert.match(message, /web server/);
  assert.equal(await other.evaluate(`document.getElementById('progress').hidden`), true);
});
