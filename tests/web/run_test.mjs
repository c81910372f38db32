// A run of the demo in headless Chromium at ?scale=6, drawing only a small
// rect of each frame (SwiftShader takes seconds for a whole one and would
// starve the synthesizer's Worker of the CPU): a click starts sound and
// picture; the sound graph's output,
// recorded in the page for 2 s, is the song's frames from ?t= on, bit for
// bit and in order, with silence only where a frame was not rendered yet;
// the picture's clock starts at ?t=; Escape in full screen leaves it and the
// run goes on, Escape outside it ends the run and shows the start view, a key starts the next run (and the first Tab then lands on the
// controls), and the run ends by itself at 185 s.
// Where the sound output does not start, the picture runs without it and
// the page says so. No state without a way out: after a run sought past its
// end, after Escape and after a sound start that failed, a key starts a
// clean run from the beginning with sound, and the address keeps no ?t=.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import {
  openDemo, openForTheseTests, settled, songFrames, locateRecording, floatsFromBase64, endByEscape,
} from './web_test_lib.mjs';

const RATE = 44100;
const START_SECONDS = 1;
const START_FRAME = START_SECONDS * RATE;
const RECORD_SECONDS = 2;

const { demo, page, temp } = await openForTheseTests(openDemo(`?scale=6&t=${START_SECONDS}`));

async function startView() {
  return page.evaluate(`!document.getElementById('start-view').hidden`);
}

test('a click starts the run: the recorded sound is the song from ?t= on, in order, none repeated', async () => {
  assert.equal(await settled(page), 'ready', await page.evaluate('demoDebug.message'));
  // The reference: the native render-song's frames around the start.
  const song = songFrames(START_FRAME + (RECORD_SECONDS + 2) * RATE, temp.folder);

  await page.evaluate(`demoDebug.frameRect = { x: 900, y: 480, width: 96, height: 96 }`);
  await page.evaluate(`demoDebug.recordNextRun(${RECORD_SECONDS}); true`);
  await page.click(200, 200);
  assert.equal(await page.waitFor(`demoDebug.state === 'running' && demoDebug.state`, 30000), 'running');
  assert.equal(await startView(), false);
  await page.waitFor('demoDebug.recording', 30000, 'the recording');
  const recorded = floatsFromBase64(await page.evaluate('demoDebug.recording'));
  assert.equal(recorded.length, RECORD_SECONDS * RATE * 2);

  const found = locateRecording(recorded, song, 0, START_FRAME, RATE);
  assert.ok(found, 'the recording is not the song\'s frames (with silence for frames not rendered) at any start');
  console.log(`recorded from song frame ${found.offset} (player start ${START_FRAME}): ${found.rendered} frames of the song, `
    + `${found.silentBefore} silent before the first, ${found.silentAfter} after it`);
  assert.equal((found.offset - START_FRAME) % 128, 0);
  // Rendering runs many times faster than playback, so most of the
  // recording is the song even on a busy machine (where the first pieces may
  // come late: the player never waits, it plays a frame not yet rendered as
  // silence).
  assert.ok(found.rendered >= RATE, `only ${found.rendered} frames of the song in ${RECORD_SECONDS} s`);

  // The first frame builds the shader first, which takes SwiftShader longer
  // than the recording on a busy machine.
  await page.waitFor('demoDebug.run.frames >= 1', 60000, 'the first frame');
  const run = await page.evaluate('demoDebug.run');
  assert.ok(run.timeMs >= START_SECONDS * 1000 && run.timeMs < START_SECONDS * 1000 + 60000, `timeMs ${run.timeMs}`);
  assert.ok(run.loopStartAt >= run.clickAt);
  assert.deepEqual(page.errors, []);
});

test('Escape in full screen leaves it, the run going on; Escape then ends the run and shows the start view; a key starts the next', async () => {
  assert.notEqual(await page.evaluate('document.fullscreenElement'), null, 'the run is not full screen');
  await page.press('Escape', 'Escape', 27);
  await page.waitFor('document.fullscreenElement === null', 10000, 'full screen to end');
  const framesThen = await page.evaluate('demoDebug.run.frames');
  await page.waitFor(`demoDebug.run.frames > ${framesThen}`, 30000, 'frames after leaving full screen');
  assert.equal(await page.evaluate('demoDebug.state'), 'running');
  await page.press('Escape', 'Escape', 27);
  assert.equal(await page.waitFor(`demoDebug.state === 'ready' && demoDebug.state`, 30000, 'the end of the run'), 'ready');
  assert.equal(await startView(), true);
  assert.equal(await page.evaluate('document.fullscreenElement'), null);
  const ended = await page.evaluate('demoDebug.run');
  assert.ok(ended.endedAt > ended.loopStartAt);
  // Nothing draws any more.
  const frames = ended.frames;
  await new Promise((resolve) => setTimeout(resolve, 1500));
  assert.equal((await page.evaluate('demoDebug.run')).frames, frames);

  // Where full screen is refused the run plays in the page.
  await page.evaluate(`document.documentElement.requestFullscreen = () => Promise.reject(new Error('refused')); true`);
  await page.press('a', 'KeyA', 65);
  await page.waitFor(`demoDebug.state === 'running' && demoDebug.run.id === 2`, 60000, 'the second run');
  assert.equal(await startView(), false);
  assert.equal(await page.evaluate('document.fullscreenElement'), null);
  // Started from the keyboard, the first Tab lands on the controls.
  await page.press('Tab', 'Tab', 9);
  assert.equal(await page.evaluate(`document.activeElement.closest('#controls') !== null`), true,
    `the first Tab went to ${await page.evaluate('document.activeElement.outerHTML.slice(0, 60)')}`);
  await page.press('Escape', 'Escape', 27);
  await page.waitFor(`demoDebug.state === 'ready'`, 30000, 'the end of the second run');
  assert.equal(await startView(), true);
  assert.deepEqual(page.errors, []);
});

test('the run ends by itself at 185 s', async () => {
  // The next run starts at 184.2 s (as ?t=184.2 would make it).
  await page.evaluate('demoDebug.startMs = 184200');
  await page.click(200, 200);
  await page.waitFor(`demoDebug.run.id === 3 && demoDebug.run.frames > 0`, 60000, 'the first frame');
  assert.equal(await page.waitFor(`demoDebug.state === 'ready' && demoDebug.state`, 60000, 'the end at 185 s'), 'ready');
  const run = await page.evaluate('demoDebug.run');
  assert.equal(run.id, 3);
  assert.ok(run.timeMs >= 185000, `ended at ${run.timeMs} ms`);
  assert.equal(await startView(), true);
  assert.deepEqual(page.errors, []);
});

test('where the sound output does not start, the picture runs without it and the page says so', async () => {
  // A context that never starts, as Firefox's without a sound device: it
  // stays suspended and its resume() never settles.
  await page.evaluate(`{ const Real = AudioContext; window.AudioContext = class extends Real {
    get state() { return 'suspended'; }
    resume() { return new Promise(() => {}); }
  }; } true`);
  await page.click(200, 200);
  await page.waitFor(`demoDebug.run.id === 4 && demoDebug.state === 'running' && demoDebug.run.frames > 0`, 60000, 'frames without sound');
  assert.equal(await page.evaluate('demoDebug.run.noSound'), true);
  assert.equal(await page.evaluate(`document.getElementById('notice').hidden`), false);
  assert.match(await page.evaluate(`document.getElementById('notice').textContent`), /No sound/);
  // Pausing needs no answer from the player.
  await page.press(' ', 'Space', 32);
  await page.waitFor(`demoDebug.state === 'paused'`, 30000, 'the pause');
  await page.press('Escape', 'Escape', 27);
  await page.waitFor(`demoDebug.state === 'ready'`, 30000, 'the end of the run');
  assert.equal(await page.evaluate(`document.getElementById('notice').hidden`), true);
  assert.deepEqual(page.errors, []);
});

test('past the end, after Escape and after a failed sound start, a key starts a clean run from 0 with sound', async () => {
  const other = await demo.browser.newPage();
  await other.goto(`${page.url}?scale=6&t=90`);
  assert.equal(await settled(other), 'ready');
  await other.evaluate(`demoDebug.frameRect = { x: 900, y: 480, width: 96, height: 96 }; true`);
  const song = songFrames(RECORD_SECONDS * RATE + RATE, temp.folder);
  // A key starts a run; its sound is the song from frame 0 on.
  async function cleanRun(id) {
    await other.evaluate(`demoDebug.recordNextRun(${RECORD_SECONDS}); true`);
    await other.press('a', 'KeyA', 65);
    await other.waitFor(`demoDebug.state === 'running' && demoDebug.run.id === ${id}`, 60000, `run ${id}`);
    assert.equal(await other.evaluate('demoDebug.run.startMs'), 0, `run ${id} does not start at 0`);
    assert.equal(new URL(await other.evaluate('location.href')).searchParams.get('t'), null);
    await other.waitFor('demoDebug.recording', 30000, 'the recording');
    const found = locateRecording(floatsFromBase64(await other.evaluate('demoDebug.recording')), song, 0, 0, RATE / 2);
    assert.ok(found && found.rendered >= RATE / 2, `run ${id} does not play the song from frame 0`);
    await other.evaluate('demoDebug.recording = null; true');
  }

  await other.click(200, 200);
  await other.waitFor(`demoDebug.state === 'running' && demoDebug.run.frames > 0`, 60000, 'the run from 90 s');
  assert.equal(new URL(await other.evaluate('location.href')).searchParams.get('t'), null, '?t= kept while playing');
  for (let i = 0; i < 10; i++) await other.press('ArrowRight', 'ArrowRight', 39);
  await other.waitFor(`demoDebug.state === 'ready'`, 60000, 'the end past 185 s');
  await cleanRun(2);

  await endByEscape(other);
  await other.waitFor(`demoDebug.state === 'ready'`, 30000, 'the end by Escape');
  await cleanRun(3);
  await endByEscape(other);
  await other.waitFor(`demoDebug.state === 'ready'`, 30000, 'the end by Escape');

  // The player's code refused once.
  await other.evaluate(`{ const real = AudioWorklet.prototype.addModule;
    AudioWorklet.prototype.addModule = function () {
      AudioWorklet.prototype.addModule = real;
      return Promise.reject(new DOMException("Unable to load a worklet's module.", 'AbortError'));
    }; } true`);
  await other.press('a', 'KeyA', 65);
  await other.waitFor(`demoDebug.run.id === 4 && demoDebug.state === 'ready'`, 30000, 'the failed start');
  const message = await other.evaluate(`document.getElementById('message').textContent`);
  assert.match(message, /could not load the song player's code \(Unable to load a worklet's module\.\)/);
  assert.doesNotMatch(message, /disk/);
  assert.equal(await other.evaluate(`!document.getElementById('start-view').hidden`), true);
  await cleanRun(5);
  assert.equal(await other.evaluate(`document.getElementById('message').hidden`), true, 'the old message stays');
  await endByEscape(other);
  await other.waitFor(`demoDebug.state === 'ready'`, 30000, 'the end');
  assert.deepEqual(other.errors, []);
});
