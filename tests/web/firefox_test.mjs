// The one-file page in Firefox (Debian's firefox-esr over WebDriver BiDi, on
// an X server of the test's own, WebGL2 from Mesa's llvmpipe), opened from
// disk: it loads without console errors and with WebGL2; its still matches
// the capture tool's picture within FIREFOX_TOLERANCE; a run's sound graph
// output is the song's frames bit for bit, through a pause and a resume with
// the controls' button and a click on the timeline; Escape ends the run and
// shows the start view.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { pathToFileURL } from 'node:url';
import { launchFirefox } from './harness/firefox.mjs';
import { readPng } from './png.mjs';
import {
  config, settled, capturePng, tempFolder, songFrames, recordingShift, checkPlayback, floatsFromBase64, clickControl,
  CONTROLS_SHOWN, endByEscape,
} from './web_test_lib.mjs';

const RATE = 44100;
const START_SECONDS = 5;
const START_FRAME = START_SECONDS * RATE;
// The most the run's recording may take.
const RECORD_SECONDS = 40;
// Where the timeline's click goes.
const SEEK_MS = 2000;

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

test('Firefox plays the song bit for bit through the controls\' pause and seek, and Escape shows the start view', async () => {
  const playFor = async (ms) => {
    const until = await page.evaluate(`performance.now() + ${ms}`);
    await page.waitFor(`performance.now() >= ${until}`, ms + 30000, `${ms} ms of the run`);
  };
  await page.evaluate(`demoDebug.frameRect = { x: 900, y: 480, width: 96, height: 96 }; true`);
  await page.evaluate(`demoDebug.recordNextRun(${RECORD_SECONDS}); true`);
  await page.click(200, 200);
  await page.waitFor(`demoDebug.state === 'running'`, 60000, 'the run');
  await page.waitFor(`demoDebug.run.playPosition > ${START_FRAME + RATE}`, 60000, 'a second of the song');
  await clickControl(page, 'play-button');
  await page.waitFor(`demoDebug.state === 'paused'`, 30000, 'the pause');
  await playFor(500);
  await clickControl(page, 'play-button');
  await page.waitFor('demoDebug.run.pauses[0].resumed && demoDebug.run.pauses[0].resumed.played !== undefined', 30000, 'the resume');
  await playFor(700);
  const bar = await page.evaluate(`(() => { const r = document.getElementById('timeline').getBoundingClientRect();
    const thumb = parseFloat(getComputedStyle(document.body).fontSize) * 0.9;
    return { x: r.left + thumb / 2 + (r.width - thumb) * ${SEEK_MS} / 185000, y: r.top + r.height / 2 }; })()`);
  await page.moveMouse(Math.round(bar.x) - 1, Math.round(bar.y));
  await page.waitFor(CONTROLS_SHOWN, 5000, 'the controls');
  await page.click(Math.round(bar.x), Math.round(bar.y));
  await page.waitFor('demoDebug.run.seeks.length === 1 && demoDebug.run.seeks[0].played !== undefined', 30000, 'the seek');
  // A second of the song from there, by the player's own count: on a busy
  // machine the sound can fall behind the page's clock. (The seek goes back
  // before ?t='s moment: a position under it is one from after the seek.)
  await page.waitFor(`demoDebug.run.playPosition > demoDebug.run.seeks[0].frame + ${RATE}
    && demoDebug.run.playPosition < ${START_FRAME}`, 60000, 'a second after the seek');
  await page.evaluate('demoDebug.stopRecording(); true');
  await page.waitFor('demoDebug.recording', 60000, 'the recording');

  const run = await page.evaluate('demoDebug.run');
  const [pause] = run.pauses;
  const [seek] = run.seeks;
  assert.ok(Math.abs(seek.toMs - SEEK_MS) < 500, `the timeline's click went to ${seek.toMs} ms`);
  const recorded = floatsFromBase64(await page.evaluate('demoDebug.recording'));
  const song = songFrames(pause.position + recorded.length / 2, temp.folder);
  const shift = recordingShift(recorded, song, 0, START_FRAME);
  assert.notEqual(shift, null, 'the recording does not start with the song from ?t=');
  const result = checkPlayback(recorded, song, 0, [
    { at: 0, frame: START_FRAME - shift },
    { at: pause.played + shift, paused: true },
    { at: pause.resumed.played + shift, frame: pause.position, whole: true },
    { at: seek.played + shift, frame: seek.frame, whole: true },
  ]);
  assert.equal(result.breaks, undefined, result.breaks);
  console.log(`played ${result.parts[0].played} frames from ${START_FRAME - shift}, paused for ${result.parts[1].silent}, `
    + `resumed for ${result.parts[2].played}, from the timeline's frame ${seek.frame} for ${result.parts[3].played}`);
  assert.ok(result.parts[0].played >= RATE, `only ${result.parts[0].played} frames of the song before the pause`);
  assert.ok(result.parts[1].silent > RATE / 4 && result.parts[2].played > 0 && result.parts[3].played > RATE / 2);
  assert.equal(run.noSound, undefined);

  await endByEscape(page);
  await page.waitFor(`demoDebug.state === 'ready'`, 30000, 'the end of the run');
  assert.equal(await page.evaluate(`!document.getElementById('start-view').hidden`), true);
  assert.deepEqual(page.errors, []);
});
