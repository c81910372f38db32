// The player's keys and controls in headless Chromium at ?scale=6, drawing
// a small rect of each frame: Space pauses sound and picture (the recorded
// output is silence while paused, the picture shows the paused position's
// moment, the address holds it in ?t= only while paused) and resumes the
// song at the next frame, none skipped or repeated; Left goes back 10 s and
// plays the song from that frame at once, bit for bit; Right far ahead waits
// (silence) until the frames are rendered, then plays the song from there;
// the address of a pause starts the next page there; Ctrl+→ and Ctrl+← go
// to the next and the previous scene's start; F leaves and enters full
// screen without ending the run, and so does the browser's own way out of
// it (frames and sound go on); a run ended by Escape offers "Resume at",
// which starts there; I shows the resolution and the frame time. With the mouse: the controls show on movement and hide again (the
// cursor with them); the pause button pauses and resumes at the next frame;
// a click on the timeline plays the song from that moment bit for bit; mute
// gives silence and unmute the song at its place, and volume back at 100 %
// the song's own samples; axe-core finds nothing in the start view, in the
// run with its controls and paused, and the live region says the pause; a
// click on a control leaves Space pausing. Tab reaches every control, each
// with a name. On a phone (touch, 390x844): a tap starts, shows the
// controls, the pause button pauses, a double tap on the right third goes
// 10 s forward. On touch screens of five sizes every control is at least
// 44x44 CSS px, none overlaps another or is cut, and the start view's
// title, Play and warning can be reached.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import {
  openDemo, openForTheseTests, settled, songFrames, locateRecording, recordingShift, checkPlayback, floatsFromBase64,
  centreOf, clickControl, CONTROLS_SHOWN, pressWithCtrl, axeViolations, SHOWN_CONTROLS, touchLayoutFaults,
  START_VIEW_REACH, endByEscape,
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
  assert.equal(new URL(await page.evaluate('location.href')).searchParams.get('t'), null, 'a moment in the address while playing');
  await playFor(700);
  const beforeSeek = await page.evaluate('demoDebug.run.timeMs');
  await page.press('ArrowLeft', 'ArrowLeft', 37);
  await page.waitFor('demoDebug.run.seeks[0] && demoDebug.run.seeks[0].played !== undefined', 30000, 'the seek back');
  await playFor(700);
  for (let i = 0; i < 6; i++) await page.press('ArrowRight', 'ArrowRight', 39);
  await page.waitFor('demoDebug.run.seeks.length === 7 && demoDebug.run.seeks[6].played !== undefined', 30000, 'the seeks ahead');
  // Where the Worker has not rendered that far yet, the run waits for it.
  await page.waitFor(`demoDebug.state === 'running'`, 60000, 'the song to be rendered that far');
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
    // Each seek ahead plays from its frame, with silence while the frames
    // are not there; where the run waited for them, the song from the wait's
    // end on, whole.
    ...[...ahead.map((seek) => ({ at: seek.played + shift, frame: seek.frame })),
      ...run.waits.filter((wait) => wait.resumed && wait.resumed.played >= ahead[0].played)
        .map((wait) => ({ at: wait.resumed.played + shift, frame: wait.resumed.position, whole: true }))]
      .sort((a, b) => a.at - b.at),
  ];
  console.log(`waits for the song: ${run.waits.length}`);
  const result = checkPlayback(recorded, song, 0, plan);
  assert.equal(result.breaks, undefined, result.breaks);
  console.log(`pause for ${result.parts[1].silent} frames at frame ${pause.position}; resumed for `
    + `${result.parts[2].played}; back to frame ${back.frame} for ${result.parts[3].played}; `
    + `ahead to frame ${ahead.at(-1).frame}: ${result.parts.at(-1).silent} silent, then ${result.parts.at(-1).played} of the song`);
  assert.ok(result.parts[1].silent > RATE / 4, 'no pause in the recording');
  assert.ok(result.parts[2].played > 0 && result.parts[3].played > 0);
  assert.deepEqual(page.errors, []);
});

test('Ctrl+→ goes to the next scene\'s start and Ctrl+← back to the one before', async () => {
  await space();
  await state('paused');
  const from = await page.evaluate('demoDebug.run.heldMs');
  const starts = await page.evaluate(`[...document.querySelectorAll('.chapter-mark')].map((m) => Number(m.dataset.ms))`);
  const next = starts.find((ms) => ms > from);
  await pressWithCtrl(page, 'ArrowRight', 'ArrowRight', 39);
  await page.waitFor(`demoDebug.run.heldMs === ${next}`, 10000, `the next scene's start, ${next} ms`);
  assert.equal(await page.evaluate('demoDebug.state'), 'paused');
  await pressWithCtrl(page, 'ArrowLeft', 'ArrowLeft', 37);
  const previous = [0, ...starts].filter((ms) => ms < next).at(-1);
  await page.waitFor(`demoDebug.run.heldMs === ${previous}`, 10000, `the previous scene's start, ${previous} ms`);
  await space();
  await page.waitFor(`demoDebug.state === 'running'`, 60000, 'the run to go on');
  assert.deepEqual(page.errors, []);
});

test('F and the browser\'s way out leave full screen, the run going on; "Resume at" after Escape; I shows the resolution', async () => {
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
  // Left by the browser (Escape there, F11, a back gesture): frames and sound go on.
  await page.evaluate('document.exitFullscreen().then(() => true)');
  const [frames, played] = await page.evaluate('[demoDebug.run.frames, demoDebug.run.playPosition]');
  await page.waitFor(`demoDebug.run.frames > ${frames} + 2 && demoDebug.run.playPosition > ${played} + 22050`, 30000,
    'frames and sound after leaving full screen');
  assert.equal(await page.evaluate('demoDebug.state'), 'running');
  assert.equal(await page.evaluate('document.fullscreenElement'), null);

  await page.press('Escape', 'Escape', 27);
  await state('ready');
  assert.equal(await page.evaluate(`document.getElementById('info').hidden`), true);
  const [endedAt, resumeText] = await page.evaluate(`[demoDebug.run.timeMs, document.getElementById('resume-button').textContent]`);
  const resumeMs = await page.evaluate('demoDebug.resumeMs');
  assert.ok(resumeMs >= endedAt && resumeMs < endedAt + 5000, `resume at ${resumeMs} ms, the last frame at ${endedAt}`);
  assert.equal(resumeText, `▶ Resume at ${Math.floor(resumeMs / 60000)}:${String(Math.floor(resumeMs / 1000) % 60).padStart(2, '0')}`);
  assert.equal(await page.evaluate(`!document.getElementById('start-button').hidden && document.getElementById('start-button').textContent`),
    'Play from the start');
  const resume = await centreOf(page, 'resume-button');
  await page.click(resume.x, resume.y);
  await page.waitFor(`demoDebug.state === 'running' && demoDebug.run.frames > 0`, 60000, 'the resumed run');
  const run = await page.evaluate('demoDebug.run');
  assert.equal(run.startMs, resumeMs);
  assert.ok(run.timeMs >= resumeMs, `the resumed run shows ${run.timeMs} ms`);
  await endByEscape(page);
  await state('ready');
  assert.deepEqual(page.errors, []);
});

test('the address of a pause starts the next page at the paused moment', async () => {
  const next = await demo.browser.newPage();
  try {
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
  } finally {
    // This page's run ends with it; the tests go on in the first page.
    await next.close();
    await page.bringToFront();
  }
});

// The longest stretch of silence in a recording (interleaved) from frame
// `from` on: { length, end } (the frame after it).
function longestSilence(recorded, from) {
  let best = { length: 0, end: from };
  let length = 0;
  for (let i = from; i < recorded.length / 2; i++) {
    length = recorded[2 * i] === 0 && recorded[2 * i + 1] === 0 ? length + 1 : 0;
    if (length > best.length) best = { length, end: i + 1 };
  }
  return best;
}

test('the controls: shown on mouse movement and hidden again; pause, timeline, mute and volume play the song exactly', async () => {
  assert.equal(await settled(page), 'ready');
  assert.equal(await page.evaluate('demoDebug.startMs'), 0, 'the next run does not start at the beginning');
  assert.deepEqual(await axeViolations(page), [], 'axe-core in the start view');
  await page.evaluate(`demoDebug.frameRect = { x: 900, y: 480, width: 96, height: 96 }`);
  await page.evaluate('demoDebug.recordNextRun(90); true');
  await page.click(200, 200);
  await page.waitFor('demoDebug.run.firstSoundAt', 30000, 'the first sound');
  // Shown as the run starts, hidden a few seconds later, the cursor too.
  await page.waitFor(`document.body.classList.contains('idle')`, 10000, 'the controls to hide');
  assert.equal(await page.evaluate('getComputedStyle(document.body).cursor'), 'none');
  await page.moveMouse(300, 300);
  await page.waitFor(CONTROLS_SHOWN, 5000, 'the controls to show on mouse movement');
  assert.notEqual(await page.evaluate('getComputedStyle(document.body).cursor'), 'none');

  assert.deepEqual(await axeViolations(page), [], 'axe-core in the run, its controls shown');
  await clickControl(page, 'play-button');
  await page.waitFor(`demoDebug.state === 'paused'`, 30000, 'the pause');
  assert.equal(await page.evaluate(`document.getElementById('play-button').getAttribute('aria-label')`), 'Play');
  assert.match(await page.evaluate(`document.getElementById('held').textContent`), /^Paused at \d:\d\d$/);
  assert.equal(await page.evaluate(`document.getElementById('announcer').textContent`),
    await page.evaluate(`document.getElementById('held').textContent`), 'the live region');
  assert.deepEqual(await axeViolations(page), [], 'axe-core paused');
  // Volume down and back up to 100 % while paused.
  await page.evaluate(`{ const v = document.getElementById('volume');
    for (const value of [40, 100]) { v.value = value; v.dispatchEvent(new Event('input')); } } true`);
  await new Promise((resolve) => setTimeout(resolve, 500));
  await clickControl(page, 'play-button');
  await page.waitFor('demoDebug.run.pauses[0].resumed && demoDebug.run.pauses[0].resumed.played !== undefined', 30000, 'the resume');
  await playFor(500);

  // A click on the timeline at 9 s, rendered by now: the thumb's centre
  // runs from half its width inside the left end to as far inside the right.
  const bar = await page.evaluate(`(() => { const r = document.getElementById('timeline').getBoundingClientRect();
    const thumb = parseFloat(getComputedStyle(document.body).fontSize) * 0.9;
    return { x: r.left + thumb / 2 + (r.width - thumb) * 9000 / 185000, y: r.top + r.height / 2 }; })()`);
  await page.moveMouse(bar.x - 1, bar.y);
  await page.waitFor(CONTROLS_SHOWN, 5000, 'the controls');
  await page.click(Math.round(bar.x), Math.round(bar.y));
  await page.waitFor('demoDebug.run.seeks.length === 1 && demoDebug.run.seeks[0].played !== undefined', 30000, 'the seek');
  await page.waitFor(`demoDebug.state === 'running'`, 30000, 'the run to play from there');
  await playFor(500);
  await clickControl(page, 'mute-button');
  assert.equal(await page.evaluate('demoDebug.muted'), true);
  await playFor(600);
  await clickControl(page, 'mute-button');
  assert.equal(await page.evaluate('demoDebug.muted'), false);
  await playFor(800);
  await page.evaluate('demoDebug.stopRecording(); true');
  await page.waitFor('demoDebug.recording', 30000, 'the recording');
  // After the clicks on the mute button, Space pauses (it does not toggle the mute).
  await space();
  await page.waitFor(`demoDebug.state === 'paused'`, 30000, 'Space to pause after a click on a control');
  assert.equal(await page.evaluate('demoDebug.muted'), false);
  await space();
  await page.waitFor(`demoDebug.state === 'running' || demoDebug.state === 'waiting'`, 30000, 'the resume');

  const run = await page.evaluate('demoDebug.run');
  const [pause] = run.pauses;
  const [seek] = run.seeks;
  assert.ok(Math.abs(seek.toMs - 9000) < 500, `the timeline's click went to ${seek.toMs} ms`);
  const recorded = floatsFromBase64(await page.evaluate('demoDebug.recording'));
  const song = songFrames(Math.max(seek.frame, pause.position) + recorded.length / 2, temp.folder);
  const shift = recordingShift(recorded, song, 0, 0);
  assert.notEqual(shift, null, 'the recording does not start with the song');
  const plan = [
    { at: 0, frame: -shift },
    { at: pause.played + shift, paused: true },
    { at: pause.resumed.played + shift, frame: pause.position, whole: true },
    // From the seek on, the song in place, but silence while muted.
    { at: seek.played + shift, frame: seek.frame },
  ];
  const result = checkPlayback(recorded, song, 0, plan);
  assert.equal(result.breaks, undefined, result.breaks);
  const muted = longestSilence(recorded, seek.played + shift);
  console.log(`paused at frame ${pause.position}; resumed for ${result.parts[2].played} frames at full volume; `
    + `timeline to frame ${seek.frame}: ${result.parts[3].played} of the song, muted for ${muted.length} frames`);
  assert.ok(result.parts[1].silent > RATE / 4, 'no pause in the recording');
  assert.ok(result.parts[2].played > RATE / 4, 'too little played after the resume at 100 %');
  assert.ok(muted.length > RATE / 4, 'no silence while muted');
  assert.ok(recorded.length / 2 - muted.end > RATE / 4, 'too little of the song after unmuting');
  assert.deepEqual(page.errors, []);
});

test('Tab reaches every control, and each has an accessible name', async () => {
  const ids = ['play-button', 'mute-button', 'volume', 'timeline', 'share-button', 'resolution-select',
    'full-screen-button', 'end-button'];
  // From the top of the page.
  await page.evaluate(`document.body.tabIndex = -1; document.body.focus(); document.body.removeAttribute('tabindex'); true`);
  const reached = new Set();
  for (let i = 0; i < 20 && reached.size < ids.length; i++) {
    await page.press('Tab', 'Tab', 9);
    reached.add(await page.evaluate('document.activeElement.id'));
  }
  assert.deepEqual(ids.filter((id) => !reached.has(id)), [], 'controls Tab does not reach');
  const { nodes } = await page.send('Accessibility.getFullAXTree');
  const named = new Map();
  for (const node of nodes) {
    if (['button', 'slider', 'combobox', 'ComboBoxSelect', 'PopUpButton'].includes(node.role?.value)) {
      named.set(node.name?.value ?? '', node.role.value);
    }
  }
  for (const name of ['Pause', 'Mute', 'Volume', 'Timeline', 'Copy a link to this moment', 'Resolution', 'End']) {
    assert.ok(named.has(name), `no control named "${name}" (named: ${[...named.keys()].join(', ')})`);
  }
  assert.ok(named.has('Full screen') || named.has('Leave full screen'), 'no full-screen button by name');
  // The keyboard works them: Enter on the focused end button ends the run.
  await page.evaluate(`document.getElementById('end-button').focus(); true`);
  await page.press('Enter', 'Enter', 13);
  await state('ready');
  assert.deepEqual(page.errors, []);
});

// What is wrong with the page's controls (or the start view's) on touch
// screens of five sizes; the phone goes back to 390x844 upright.
async function touchFaults(phone, what, measured) {
  const faults = [];
  for (const [width, height] of [[360, 640], [844, 390], [768, 1024], [1280, 500], [390, 844]]) {
    await phone.emulate(width, height, true);
    if (what === 'start view') {
      for (const { id, above, below } of await phone.evaluate(START_VIEW_REACH)) {
        if (above > 0.5 || below > 0.5) faults.push(`${width}x${height}: ${id} out of reach (${above}, ${below})`);
      }
    } else {
      await phone.waitFor(CONTROLS_SHOWN, 5000, 'the controls');
    }
    const boxes = await phone.evaluate(SHOWN_CONTROLS);
    measured.push(`${what} ${width}x${height}: ${boxes.map((b) => `${b.id} ${Math.round(b.width)}x${Math.round(b.height)}`).join(', ')}`);
    faults.push(...touchLayoutFaults(boxes, width, height).map((fault) => `${what} ${width}x${height}: ${fault}`));
  }
  return faults;
}

test('on a phone: a tap starts, a tap shows the controls, the pause button pauses, a double tap on the right goes 10 s on; '
  + 'on touch screens of five sizes every control is 44x44 or more, none overlapping or cut, the start view reachable', async () => {
  const phone = await demo.browser.newPage();
  await phone.emulate(390, 844, true);
  await phone.goto(`${page.url}?scale=6`);
  assert.equal(await settled(phone), 'ready');
  await phone.evaluate(`demoDebug.frameRect = { x: 900, y: 480, width: 96, height: 96 }; true`);
  const measured = [];
  const faults = await touchFaults(phone, 'start view', measured);
  const start = await centreOf(phone, 'start-button');
  await phone.tap(start.x, start.y);
  await phone.waitFor(`demoDebug.state === 'running' && demoDebug.run.frames > 0`, 30000, 'the run');
  // Upright, the controls lie below the picture, in view.
  await phone.tap(195, 100);
  await phone.waitFor(CONTROLS_SHOWN, 5000, 'the controls');
  const pauseAt = await centreOf(phone, 'play-button');
  assert.ok(pauseAt.y > 390 * 9 / 16, 'the controls lie over the picture');
  await phone.tap(pauseAt.x, pauseAt.y);
  await phone.waitFor(`demoDebug.state === 'paused'`, 30000, 'the pause');
  faults.push(...await touchFaults(phone, 'controls', measured));
  console.log(measured.join('\n'));
  assert.deepEqual(faults, []);
  await phone.tap(pauseAt.x, pauseAt.y);
  await phone.waitFor(`demoDebug.state === 'running'`, 30000, 'the resume');
  // The seek goes 10 s on from the clock's moment when the page takes the
  // taps: between the clock now (not the latest frame's time, which lags it
  // by up to a frame) and the clock when the seek is seen.
  const [before, beforeAt] = await phone.evaluate(
    '[demoDebug.run.clockBaseMs + Math.floor(performance.now() - demoDebug.run.clockStart), performance.now()]');
  const seeks = await phone.evaluate('demoDebug.run.seeks.length');
  await phone.doubleTap(350, 100);
  await phone.waitFor(`demoDebug.run.seeks.length > ${seeks}`, 10000, 'the seek of the double tap');
  const [seek, seenAt] = await phone.evaluate('[demoDebug.run.seeks.at(-1), performance.now()]');
  assert.ok(seek.toMs >= before + 10000 && seek.toMs <= before + 10000 + (seenAt - beforeAt),
    `double tap went from ${before} to ${seek.toMs} ms in ${Math.round(seenAt - beforeAt)} ms`);
  // Held sideways, a tap hides the controls over the picture and the next shows them.
  await phone.emulate(844, 390, true);
  await phone.waitFor(`demoDebug.state === 'running'`, 60000, 'the run after the seek');
  await phone.waitFor(CONTROLS_SHOWN, 5000, 'the controls');
  await phone.tap(422, 100);
  await phone.waitFor(`!${CONTROLS_SHOWN}`, 5000, 'the controls to hide on a tap');
  await phone.tap(422, 100);
  await phone.waitFor(CONTROLS_SHOWN, 5000, 'the controls to show on a tap');
  await endByEscape(phone);
  await phone.waitFor(`demoDebug.state === 'ready'`, 30000, 'the end');
  assert.deepEqual(phone.errors, []);
});

