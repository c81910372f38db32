// What the browser tests share: the paths they are given, a page of the web
// folder (served) or the one-file page (opened from disk) in headless
// Chromium, kept for a test file's tests with a temporary folder, the
// comparison of a still frame with the capture tool's picture, the song's
// frames from the native renderer and the search of a recorded sound in it.
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { execFileSync } from 'node:child_process';
import { after } from 'node:test';
import { pathToFileURL } from 'node:url';
import { launchChromium } from './harness/chromium.mjs';
import { serveFolder } from './harness/static_server.mjs';

// Paths from the environment (set by CMake): the built web folder and the
// native tools to compare with.
export function config() {
  const site = process.env.DEMO_WEB_SITE;
  if (!site || !fs.existsSync(path.join(site, 'index.html'))) {
    throw new Error(`no web folder at "${site}": build it first (./run-web.sh --build-only)`);
  }
  return {
    site,
    oneFile: path.join(site, '..', 'demo.html'),
    capture: process.env.DEMO_CAPTURE,
    renderSong: process.env.DEMO_RENDER_SONG,
  };
}

// A temporary folder, removed by cleanup() and at the latest when this
// process exits (a test stopped by Ctrl-C or SIGTERM exits through the
// browser clients' signal handlers, and its after() hooks never run).
export function tempFolder() {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'demo-web-test-'));
  const cleanup = () => fs.rmSync(folder, { recursive: true, force: true });
  process.on('exit', cleanup);
  return { folder, cleanup };
}

// Serves the web folder and opens a page of it (`query` added to the URL)
// in a fresh headless browser started with `flags`; close() ends both.
export async function openDemo(query = '', flags = []) {
  const server = await serveFolder(config().site);
  let browser;
  try {
    browser = await launchChromium(flags);
    const page = await browser.newPage();
    page.url = server.url;
    await page.goto(server.url + query);
    return { browser, page, server, close: async () => { await browser.close(); await server.close(); } };
  } catch (error) {
    if (browser) await browser.close();
    await server.close();
    throw error;
  }
}

// Opens `file` (a path) from disk, file://, with `query`, in a fresh
// headless browser started with `flags`; close() ends it.
export async function openFromDisk(file, query = '', flags = []) {
  const browser = await launchChromium(flags);
  try {
    const page = await browser.newPage();
    page.url = pathToFileURL(file).href;
    await page.goto(page.url + query);
    return { browser, page, close: () => browser.close() };
  } catch (error) {
    await browser.close();
    throw error;
  }
}

// For the tests of one file: a temporary folder, and the page that `opening`
// (a call of openDemo or openFromDisk) resolves to; after the file's tests
// both are ended. Resolves to { demo, page, temp }.
export async function openForTheseTests(opening) {
  const temp = tempFolder();
  let demo;
  try {
    demo = await opening;
  } catch (error) {
    temp.cleanup();
    throw error;
  }
  after(async () => {
    await demo.close();
    temp.cleanup();
  });
  return { demo, page: demo.page, temp };
}

// Waits until the page has left its loading state; returns the state.
export async function settled(page, timeoutMs = 90000) {
  return page.waitFor(`demoDebug.state !== 'loading' && demoDebug.state`, timeoutMs, 'the page to load');
}

// ---------------------------------------------------------------------------
// The player's controls.

// The centre of the element `id` in page pixels.
export async function centreOf(page, id) {
  return page.evaluate(`(() => { const r = document.getElementById('${id}').getBoundingClientRect();
    return { x: Math.round(r.left + r.width / 2), y: Math.round(r.top + r.height / 2) }; })()`);
}

// Whether the controls can be seen (and clicked) now.
export const CONTROLS_SHOWN = `(() => { const c = document.getElementById('controls');
  return !c.hidden && !document.body.classList.contains('idle') && getComputedStyle(c).visibility === 'visible'; })()`;

// Moves the mouse onto the control `id` (which shows the controls), waits
// until they are shown and clicks it.
export async function clickControl(page, id) {
  const { x, y } = await centreOf(page, id);
  await page.moveMouse(x - 1, y);
  await page.moveMouse(x, y);
  await page.waitFor(CONTROLS_SHOWN, 10000, 'the controls to show');
  await page.click(x, y);
}

// ---------------------------------------------------------------------------
// Still frames against the capture tool.
//
// SwiftShader (the browser's WebGL2 on the CPU) and Mesa's llvmpipe (the
// capture tool) do not round alike: SwiftShader divides through a
// reciprocal, and sin, pow, exp and normalize differ in the last bits. Two
// places of the picture turn such last-bit differences into visible ones:
// the grain, a hash of the pixel's position, where one bit decides a new
// random factor between 0.8 and 1 (up to about 10 % of the pixel's value,
// 15 levels), and rays that graze an edge or a shadow's border, which hit on
// one renderer and miss on the other (any value). So the comparison is made
// on 8x8 blocks, whose means average the grain away, while single pixels
// may differ freely:
export const TOLERANCE = {
  block: 8,          // pixels per side of a block
  blockLevels: 8,    // most a block's mean may differ, per channel, in levels of 255
  meanLevels: 6,     // most the mean absolute difference over the rect may be
};
// Measured here over scenes at 12 to 175 s: block means within 4.6 levels
// and mean differences of 0.8 to 4.1 levels, but for a rect of the scene at
// 90 s (9.6 and 8.8), where many rays graze surfaces; the test's rects 0.2 s
// later differ by 150 levels or more in their worst blocks and by 26 or more
// on average.

// Compares RGBA bytes (`got`) with an 8-bit RGB or RGBA picture of the same
// size (both rows top first).
export function compareStill(got, reference, width, height) {
  const B = TOLERANCE.block;
  let sum = 0;
  let worstBlock = 0;
  for (let by = 0; by + B <= height; by += B) {
    for (let bx = 0; bx + B <= width; bx += B) {
      for (let c = 0; c < 3; c++) {
        let difference = 0;
        for (let y = by; y < by + B; y++) {
          for (let x = bx; x < bx + B; x++) {
            difference += got[(y * width + x) * 4 + c] - reference.pixels[(y * width + x) * reference.channels + c];
          }
        }
        worstBlock = Math.max(worstBlock, Math.abs(difference) / (B * B));
      }
    }
  }
  for (let i = 0; i < width * height; i++) {
    for (let c = 0; c < 3; c++) sum += Math.abs(got[i * 4 + c] - reference.pixels[i * reference.channels + c]);
  }
  const meanLevels = sum / (width * height * 3);
  return {
    worstBlock, meanLevels,
    within: worstBlock <= TOLERANCE.blockLevels && meanLevels <= TOLERANCE.meanLevels,
  };
}

// ---------------------------------------------------------------------------
// Sound.

// The frames of a render-song WAV (float stereo) from `first` on, `count` of
// them, interleaved. The chunks are walked to the data chunk, so the header's
// size is not assumed.
function readWavFrames(file, first, count) {
  const bytes = fs.readFileSync(file);
  if (bytes.toString('latin1', 0, 4) !== 'RIFF' || bytes.toString('latin1', 8, 12) !== 'WAVE') {
    throw new Error(`${file} is not a WAV file`);
  }
  let at = 12;
  while (at + 8 <= bytes.length && bytes.toString('latin1', at, at + 4) !== 'data') {
    at += 8 + bytes.readUInt32LE(at + 4) + (bytes.readUInt32LE(at + 4) & 1);
  }
  if (at + 8 > bytes.length) throw new Error(`${file} has no data chunk`);
  const start = at + 8;
  const data = bytes.subarray(start + first * 8, start + (first + count) * 8);
  return new Float32Array(data.buffer.slice(data.byteOffset, data.byteOffset + data.length));
}

// The song's first `frames` frames, interleaved, as the native render-song
// renders them (its WAV file is written into `folder`).
export function songFrames(frames, folder) {
  const out = path.join(folder, `song-${frames}.wav`);
  execFileSync(config().renderSong, ['--frames', String(frames), '--out', out], { stdio: ['ignore', 'ignore', 'inherit'] });
  return readWavFrames(out, 0, frames);
}

// Where a recording (interleaved frames) lies in the song: the song frame k
// of its first frame, such that every recorded frame i is either the song's
// frame k + i, bit for bit, or silence (0, 0) — a frame not rendered in
// time. The player's position moves in render quanta of 128 frames from
// `startFrame`, so k is startFrame plus a multiple of 128. Returns
// { offset, rendered, silentBefore, silentAfter } (frames played from the
// song, silent frames before the first of them and after it), or null when
// no such k exists within `searchFrames`.
export function locateRecording(recorded, song, songFirst, startFrame, searchFrames) {
  const frames = recorded.length / 2;
  let first = 0;
  while (first < frames && recorded[2 * first] === 0 && recorded[2 * first + 1] === 0) first++;
  if (first === frames) return null;
  for (let k = startFrame; k <= startFrame + searchFrames; k += 128) {
    const at = k - songFirst;
    if (at < 0 || (at + frames) * 2 > song.length) continue;
    let rendered = 0;
    let silentAfter = 0;
    let fits = true;
    for (let i = first; i < frames && fits; i++) {
      const l = recorded[2 * i];
      const r = recorded[2 * i + 1];
      if (Object.is(l, song[2 * (at + i)]) && Object.is(r, song[2 * (at + i) + 1])) {
        rendered++;
      } else if (l === 0 && r === 0) {
        silentAfter++;
      } else {
        fits = false;
      }
    }
    if (fits) return { offset: k, rendered, silentBefore: first, silentAfter };
  }
  return null;
}

// The player's output count (frames played, silence included) at frame 0
// of a recording that starts with the song from `startFrame` (after leading
// silence): the player's output frame p is the recording's frame p + shift.
// The first 64 frames of the song in the recording decide it; null when
// they are not the song's.
export function recordingShift(recorded, song, songFirst, startFrame) {
  let first = 0;
  while (2 * first < recorded.length && recorded[2 * first] === 0 && recorded[2 * first + 1] === 0) first++;
  const window = recorded.subarray(0, Math.min(recorded.length, 2 * (first + 64)));
  const found = locateRecording(window, song, songFirst, startFrame, 10 * 44100);
  return found ? startFrame - found.offset : null;
}

// Checks a recording against what the player was told: `plan` lists, in
// order, from which recording frame `at` on the output is the song from
// song frame `frame` on, with silence for frames not rendered in time
// ({ at, frame }), the same with no silence ({ at, frame, whole: true }),
// or silence alone ({ at, paused: true }). Returns the counts of song and
// silent frames in each part, or the first frame that breaks the plan as
// { breaks: text }.
export function checkPlayback(recorded, song, songFirst, plan) {
  const frames = recorded.length / 2;
  const parts = [];
  for (let p = 0; p < plan.length; p++) {
    const { at, frame, whole, paused } = plan[p];
    const end = p + 1 < plan.length ? plan[p + 1].at : frames;
    let played = 0;
    let silent = 0;
    for (let i = Math.max(0, at); i < end; i++) {
      const l = recorded[2 * i];
      const r = recorded[2 * i + 1];
      const silence = l === 0 && r === 0;
      if (paused) {
        if (!silence) return { breaks: `recording frame ${i} (part ${p}, paused) is not silence` };
        silent++;
        continue;
      }
      const s = frame + (i - at) - songFirst;
      if (s < 0 || 2 * s + 1 >= song.length) return { breaks: `recording frame ${i} (part ${p}) lies beyond the reference` };
      if (Object.is(l, song[2 * s]) && Object.is(r, song[2 * s + 1])) {
        played++;
      } else if (silence && !whole) {
        silent++;
      } else {
        return { breaks: `recording frame ${i} (part ${p}) is not song frame ${s + songFirst}${whole ? '' : ' nor silence'}` };
      }
    }
    parts.push({ played, silent });
  }
  return { parts };
}

// Base64 bytes from the page as a Float32Array.
export function floatsFromBase64(text) {
  const bytes = Buffer.from(text, 'base64');
  return new Float32Array(bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + bytes.length));
}

// The capture tool's picture at `time` seconds: `rect` of it (null: all of
// it), at the scale named `scale`.
export function capturePng(time, rect, folder, scale = '1') {
  const where = rect ? `${rect.x}-${rect.y}` : 'all';
  const out = path.join(folder, `capture-${time}-${scale}-${where}.png`);
  const args = ['--quiet', '--time', String(time), '--scale', scale, '--out', out];
  if (rect) args.push('--rect', `${rect.x},${rect.y},${rect.width},${rect.height}`);
  execFileSync(config().capture, args, { stdio: ['ignore', 'ignore', 'inherit'] });
  return out;
}

// ---------------------------------------------------------------------------
// Keys with Ctrl, accessibility and the layout on a touch screen.

// A real key press with Ctrl held (through the DevTools protocol's modifiers).
export async function pressWithCtrl(page, key, code, keyCode) {
  const base = { key, code, windowsVirtualKeyCode: keyCode, nativeVirtualKeyCode: keyCode, modifiers: 2 };
  await page.send('Input.dispatchKeyEvent', { type: 'rawKeyDown', ...base });
  await page.send('Input.dispatchKeyEvent', { type: 'keyUp', ...base });
}

// axe-core's violations on the page as it stands, as "rule: targets" lines
// (axe-core from the repository's node_modules, injected once per page).
export async function axeViolations(page) {
  if (!await page.evaluate(`typeof axe !== 'undefined'`)) {
    const file = path.join(path.dirname(new URL(import.meta.url).pathname), '..', '..', 'node_modules', 'axe-core', 'axe.min.js');
    await page.evaluate(`${fs.readFileSync(file, 'utf8')}; true`);
  }
  return page.evaluate(`axe.run(document).then((result) => result.violations.map((v) =>
    \`\${v.id}: \${v.nodes.map((n) => n.target.join(' ')).join(', ')}\`))`);
}

// The controls that can be seen now, each as { id, left, top, width,
// height } in CSS px (the hit area: the element's box).
export const SHOWN_CONTROLS = `[...document.querySelectorAll('#controls button, #controls input, #controls select, body > main > button, #start-view button, #notice button')]
  .filter((e) => e.getClientRects().length > 0 && getComputedStyle(e).visibility === 'visible')
  .map((e) => { const r = e.getBoundingClientRect();
    return { id: e.id, left: r.left, top: r.top, width: r.width, height: r.height }; })`;

// What is wrong with `boxes` (from SHOWN_CONTROLS) on a touch screen of
// width x height: boxes under 44x44, boxes cut by the viewport's edges and
// pairs that overlap; empty when all is well.
export function touchLayoutFaults(boxes, width, height) {
  const faults = [];
  for (const b of boxes) {
    if (b.width < 44 || b.height < 44) faults.push(`${b.id} is ${b.width.toFixed(0)}x${b.height.toFixed(0)}`);
    if (b.left < 0 || b.left + b.width > width + 0.5 || b.top + b.height > height + 0.5) faults.push(`${b.id} is cut`);
  }
  for (let i = 0; i < boxes.length; i++) {
    for (let j = i + 1; j < boxes.length; j++) {
      const a = boxes[i];
      const b = boxes[j];
      const x = Math.min(a.left + a.width, b.left + b.width) - Math.max(a.left, b.left);
      const y = Math.min(a.top + a.height, b.top + b.height) - Math.max(a.top, b.top);
      if (x > 0.5 && y > 0.5) faults.push(`${a.id} overlaps ${b.id}`);
    }
  }
  return faults;
}

// The start view scrolled to its top: how far its title, Play button and
// warning lie above its top (out of reach) or below the end of its
// scrolling; all 0 or less when each can be reached.
export const START_VIEW_REACH = `(() => { const view = document.getElementById('start-view');
  view.scrollTop = 0;
  const v = view.getBoundingClientRect();
  return ['title', 'start-button', 'flash-warning'].map((id) => { const r = document.getElementById(id).getBoundingClientRect();
    return { id, above: v.top - r.top, below: r.bottom - (v.top + view.scrollHeight) }; }); })()`;

// Ends the run with Escape. In full screen the browser takes the first
// Escape to leave it, and the run goes on; the next reaches the page.
export async function endByEscape(page) {
  if (await page.evaluate('document.fullscreenElement !== null')) {
    await page.press('Escape', 'Escape', 27);
    await page.waitFor('document.fullscreenElement === null', 10000, 'full screen to end');
  }
  await page.press('Escape', 'Escape', 27);
}
