// The player keys in headless Chromium at ?scale=6, drawing a small rect of
// each frame: Space pauses sound and picture (the recorded output is silence
// while paused, the picture shows the paused position's moment, the address
// holds it in ?t=) and resumes the song at the next frame, none skipped or
// repeated; Left goes back 10 s and plays the song from that frame at once,
// bit for bit; Right far ahead plays silence until the frames are rendered,
// then the song in place; the address of a pause starts the next page there;
// F leaves and enters full screen without ending the run, I shows the
// resolution and the frame time.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import {
  openDemo, openForTheseTests, settled, songFrames, locateRecording, recordingShift, checkPlayback, floatsFromBase64,
} from './web_test_lib.mjs';

const RATE = 44100;
const START_SECONDS = 12;
const START_FRAME = START_SECONDS * RATE;

const { demo, page, temp } = await openForTheseTests(openDemo(`?scale=6&t=${START_SECONDS}`));

const state = (wanted) => page.waitFor(`demoDebug.state === '${wanted}'`, 30000, `the state ${wanted}`);
// Waits until the run has played for `ms` more (page time).
async function playFor(ms) {
  const until = await page.evaluate(`performance.now() + ${ms}`);
  await page.waitFor(`performance.now() >= ${until}`, ms + 30000, `${ms} ms of the run`);
}
const space = () => page.press(' ', 'Space', 32);

let pausedAddress = null;
let pausedMs = 0;

test('Space pauses and resumes at the next frame; Left plays from 10 s back; Right plays in place', async () => {
  assert.equal(await settled(page), 'ready', await page.evaluate('demoDebug.message'));
  await page.evaluate(`demoDebug.frameRect = { x: 900, y: 480, width: 96, height: 96 }`);
  await page.evaluate('demoDebug.recordNextRun(60); true');
  await page.click(200, 200);
  await page.waitFor('demoDebug.run.firstSoundAt', 30000, 'the first sound');
  await playFor(500);

  await space();
  await state('paused');
  const paused = await page.evaluate('demoDebug.run');
  const { position } = paused.pauses[0];
  pausedMs = Math.floor(position * 1000 / RATE);
  assert.equal(paused.timeMs, pausedMs, 'the picture does not show the sound\'s position');
  pausedAddress = await page.evaluate('location.href');
  assert.equal(new URL(pausedAddress).searchParams.get('t'), String(pausedMs / 1000));
  await new Promise((resolve) => setTimeout(resolve, 700));  // the pause's length
  assert.equal((await page.evaluate('demoDebug.run')).frames, paused.frames, 'frames drawn while paused');

  await space();
  await page.waitFor('demoDebug.run.pauses[0].resumed', 30000, 'the resume');
  assert.equal(new URL(await page.evaluate('location.href')).searchParams.get('t'), String(START_SECONDS));
  await playFor(700);
  const beforeSeek = await page.evaluate('demoDebug.run.timeMs');
  await page.press('ArrowLeft', 'ArrowLeft', 37);
  await page.waitFor('demoDebug.run.seeks[0] && demoDebug.run.seeks[0].played !== undefined', 30000, 'the seek back');
  await playFor(700);
  for (let i = 0; i < 6; i++) await page.press('ArrowRight', 'ArrowRight', 39);
  await page.waitFor('demoDebug.run.seeks.length === 7 && demoDebug.run.seeks[6].played !== undefined', 30000, 'the seeks ahead');
  await playFor(1500);
  await page.evaluate('demoDebug.stopRecording(); true');
  await page.waitFor('demoDebug.recording', 30000, 'the recording');
  const run = await page.evaluate('demoDebug.run');
  const [pause] = run.pauses;
  const [back, ...ahead] = run.seeks;
  assert.equal(pause.resumed.position, pause.position, 'the position moved while paused');
  assert.ok(Math.abs(back.frame - (beforeSeek - 10000) * RATE / 1000) < RATE, `back to frame ${back.frame} from ${beforeSeek} ms`);
  assert.ok(run.timeMs >= ahead.at(-1).toMs, 'the picture is not after the last seek');

  const recorded = floatsFromBase64(await page.evaluate('demoDebug.recording'));
  const last = ahead.at(-1).frame + recorded.length / 2;
  const song = songFrames(last, temp.folder);
  const shift = recordingShift(recorded, song, 0, START_FRAME);
  assert.notEqual(shift, null, 'the recording does not start with the song from ?t=');
  const plan = [
    { at: 0, frame: START_FRAME - shift },
    { at: pause.played + shift, paused: true },
    { at: pause.resumed.played + shift, frame: pause.position, whole: true },
    { at: back.played + shift, frame: back.frame, whole: true },
    ...ahead.map((seek) => ({ at: seek.played + shift, frame: seek.frame })),
  ];
  const result = checkPlayback(recorded, song, 0, plan);
  assert.equal(result.breaks, undefined, result.breaks);
  console.log(`pause for ${result.parts[1].silent} frames at frame ${pause.position}; resumed for `
    + `${result.parts[2].played}; back to frame ${back.frame} for ${result.parts[3].played}; `
    + `ahead to frame ${ahead.at(-1).frame}: ${result.parts.at(-1).silent} silent, then ${result.parts.at(-1).played} of the song`);
  assert.ok(result.parts[1].silent > RATE / 4, 'no pause in the recording');
  assert.ok(result.parts[2].played > 0 && result.parts[3].played > 0);
  assert.deepEqual(page.errors, []);
});

test('F leaves and enters full screen without ending the run; I shows the resolution and the frame time', async () => {
  assert.notEqual(await page.evaluate('document.fullscreenElement'), null);
  await page.press('f', 'KeyF', 70);
  await page.waitFor('document.fullscreenElement === null', 30000, 'full screen to end');
  await page.press('i', 'KeyI', 73);
  await page.waitFor(`!document.getElementById('info').hidden && /ms a frame/.test(document.getElementById('info').textContent)`,
    30000, 'the info line');
  assert.match(await page.evaluate(`document.getElementById('info').textContent`), /320×180/);
  await page.press('f', 'KeyF', 70);
  await page.waitFor('document.fullscreenElement !== null', 30000, 'full screen again');
  assert.equal(await page.evaluate('demoDebug.state'), 'running');
  await page.press('Escape', 'Escape', 27);
  await state('ready');
  assert.equal(await page.evaluate(`document.getElementById('info').hidden`), true);
  assert.deepEqual(page.errors, []);
});

test('the address of a pause starts the next page at the paused moment', async () => {
  const next = await demo.browser.newPage();
  await next.goto(pausedAddress);
  assert.equal(await settled(next), 'ready');
  assert.equal(await next.evaluate('demoDebug.startMs'), pausedMs);
  await next.evaluate(`demoDebug.frameRect = { x: 900, y: 480, width: 96, height: 96 }`);
  // Long enough to outlast the Worker's way to that frame on a busy machine.
  await next.evaluate('demoDebug.recordNextRun(3); true');
  await next.click(200, 200);
  await next.waitFor('demoDebug.recording', 30000, 'the recording');
  const startFrame = Math.round(pausedMs * RATE / 1000);
  const frames = startFrame + 5 * RATE;
  const song = songFrames(frames, temp.folder);
  const found = locateRecording(floatsFromBase64(await next.evaluate('demoDebug.recording')), song, 0, startFrame, RATE);
  assert.ok(found, `the sound does not start at frame ${startFrame}`);
  assert.deepEqual(next.errors, []);
});
