// The one-file page (demo.html) opened from disk (file://) in headless
// Chromium: it loads without errors and draws its still, which matches the
// capture tool's picture of that moment at that scale within the tolerance;
// a run without ?scale starts at the scale that the still's time predicts
// and keeps drawing whole frames there while the page answers a call within
// a second throughout (the frames are timed without waiting for them, and
// drawn in bands where slow), while the sound graph's output stays the
// song's frames bit for bit. The
// web folder's index.html opened from disk says in words that it cannot
// start there and what to open instead, and no page gives build advice.
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
// The run is watched for this long after the click.
const WATCHED_MS = 30000;
const MAX_RECORD_SECONDS = 60;
// The frame budget's share that a predicted scale's frames are expected
// within, and the budget (as the scale governor has them).
const ROOM = 0.7;
const BUDGET_SECONDS = 1 / 30;

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

test('without ?scale a run draws at the scale that the still predicts, the page answering throughout', async () => {
  const still = await page.evaluate('demoDebug.still');
  const scales = await page.evaluate('demoDebug.scales');
  // The finest scale whose frames the still's time per pixel expects within
  // ROOM of the budget; the coarsest where none is (SwiftShader: a still of
  // 320x180 takes about a second).
  const perPixel = still.ms / 1000 / (still.width * still.height);
  const fitting = scales.find((s) => perPixel * s.width * s.height < ROOM * BUDGET_SECONDS);
  const predicted = fitting ? fitting.index : scales.length - 1;
  assert.equal(await page.evaluate('demoDebug.predictedScale'), predicted, 'the page does not start at the predicted scale');

  await page.evaluate(`demoDebug.recordNextRun(${MAX_RECORD_SECONDS}); true`);
  const clickAt = Date.now();
  await page.click(200, 200);
  // A trivial call into the page, again and again while the run draws.
  let worstMs = 0;
  while (Date.now() - clickAt < WATCHED_MS) {
    const asked = Date.now();
    await page.evaluate('1');
    worstMs = Math.max(worstMs, Date.now() - asked);
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
  const run = await page.evaluate('demoDebug.run');
  await page.evaluate('demoDebug.stopRecording(); true');
  await page.waitFor('demoDebug.recording', 30000, 'the recording');
  console.log(`${run.frames} frames in ${WATCHED_MS / 1000} s at scale ${run.scale} (predicted ${predicted} from a still of `
    + `${Math.round(still.ms)} ms), ${run.bands} band(s) a frame, timed by ${run.timing}, ${run.frameMs.toFixed(0)} ms a frame; `
    + `the page answered within ${worstMs} ms at worst`);
  assert.equal(run.scale, predicted);
  assert.deepEqual(run.scaleChanges, [], 'the run left the predicted scale');
  // 15 frames, or where the machine is so busy that the still itself took
  // seconds, a third of the frames that its time allows.
  const wanted = Math.min(15, Math.floor(WATCHED_MS / (3 * still.ms)));
  assert.ok(run.frames >= wanted, `only ${run.frames} frames in ${WATCHED_MS / 1000} s (wanted ${wanted})`);
  // Bands of about 0.4 s on SwiftShader, none of them waited for: a call is
  // answered well within one. (Where the paint of a frame had to wait for
  // the next frame's first band, calls took 0.8 to 1.2 s here.)
  assert.ok(worstMs < 500, `a call into the page took ${worstMs} ms (wanted under 500)`);

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
  // The released pages speak to a viewer: no build folder, script or local
  // server in anything they can say.
  for (const file of [config().oneFile, path.join(config().site, 'index.html'), path.join(config().site, 'page_parts.js')]) {
    assert.doesNotMatch(fs.readFileSync(file, 'utf8'), /build-web|run-web|localhost|127\.0\.0\.1/, file);
  }
});
