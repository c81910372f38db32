// The page in headless Chromium, before any run: it loads without errors,
// gets WebGL2, compiles the scene shader and shows its still; still frames
// at chosen times match the capture tool's pictures (see TOLERANCE), and the
// same rects a little later do not; ?scale=4 and ?scale=720p draw exactly
// the full picture's pixels at their places; bad ?scale= and ?t= values are
// set aside in words with Play still there, and ?t= takes 1:30 and the
// like; the timeline's chapter marks and the flash warning stand at the
// scene shader's own moments.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { readPng } from './png.mjs';
import { openDemo, settled, compareStill, capturePng, tempFolder, TOLERANCE } from './web_test_lib.mjs';

const temp = tempFolder();
const demo = await openDemo();
after(async () => {
  await demo.close();
  temp.cleanup();
});
const { page } = demo;

async function still(target, timeMs, rect) {
  const result = await target.evaluate(`demoDebug.drawStill(${timeMs}, ${JSON.stringify(rect)})`);
  return Buffer.from(result.rgba, 'base64');
}

test('the page loads with WebGL2 and a compiled scene shader, without errors', async () => {
  assert.equal(await settled(page), 'ready', await page.evaluate('demoDebug.message'));
  assert.equal(await page.evaluate(`document.getElementById('prompt').hidden`), false);
  assert.equal(await page.evaluate(`document.getElementById('progress').hidden`), true);
  // The still behind the start view, at the coarsest of the module's scales.
  const size = await page.evaluate(`[document.getElementById('scene').width, document.getElementById('scene').height]`);
  const scales = await page.evaluate('demoDebug.scales');
  assert.deepEqual([scales[0].width, scales[0].height], [1920, 1080]);
  assert.deepEqual(size, [scales.at(-1).width, scales.at(-1).height]);
  assert.equal(await page.evaluate('demoDebug.adaptive'), true);
  assert.deepEqual(page.errors, []);
});

// Rects of the picture (top-left origin) with edges, vertex balls, shadows,
// a reflecting sphere's rim and the late sky.
const STILLS = [
  { time: 30, rect: { x: 980, y: 640, width: 96, height: 96 } },
  { time: 75, rect: { x: 1450, y: 230, width: 64, height: 64 } },
  { time: 160, rect: { x: 900, y: 500, width: 64, height: 64 } },
];

test('still frames match the capture tool within the tolerance, and a later moment does not', async () => {
  for (const { time, rect } of STILLS) {
    const got = await still(page, time * 1000, rect);
    const reference = readPng(fs.readFileSync(capturePng(time, rect, temp.folder)));
    assert.equal(reference.width, rect.width);
    const result = compareStill(got, reference, rect.width, rect.height);
    console.log(`${time} s: worst 8x8 block ${result.worstBlock.toFixed(2)} levels, mean ${result.meanLevels.toFixed(2)}`);
    assert.ok(result.within, `${time} s differs beyond ${JSON.stringify(TOLERANCE)}: ${JSON.stringify(result)}`);

    // The tolerance tells moments apart: 0.2 s later is another picture.
    const later = compareStill(await still(page, time * 1000 + 200, rect), reference, rect.width, rect.height);
    console.log(`${time}.2 s against ${time} s: worst block ${later.worstBlock.toFixed(2)}, mean ${later.meanLevels.toFixed(2)}`);
    assert.ok(!later.within, `${time}.2 s passes for ${time} s: ${JSON.stringify(later)}`);
  }
  assert.deepEqual(page.errors, []);
});

// The full picture's pixel (top-down rows) that drawn pixel `k` of `drawn`
// across `full` stands for: at a whole-number scale N the pixel N k counted
// from the bottom as GL counts; between 1 and 2 the one whose centre is
// nearest to the drawn pixel's centre (the same counted from either side).
function fullPixel(k, drawn, full, fromTop) {
  if (full % drawn !== 0) return Math.floor((2 * k + 1) * full / (2 * drawn));
  const n = full / drawn;
  return fromTop ? full - 1 - n * (drawn - 1 - k) : n * k;
}

for (const name of ['4', '720p']) {
  test(`?scale=${name} draws the full picture's pixels at their places, bit for bit; ?t=1:30 starts at 90 s`, async () => {
    const coarse = await demo.browser.newPage();
    // With a start time as video sites write it, which the next run starts at.
    await coarse.goto(`${page.url}?scale=${name}&t=1:30`);
    assert.equal(await settled(coarse), 'ready');
    assert.equal(await coarse.evaluate('demoDebug.adaptive'), false);
    assert.deepEqual(await coarse.evaluate(`[demoDebug.startMs, document.getElementById('start-button').textContent,
      document.getElementById('set-aside').hidden]`), [90000, '▶ Play from 1:30', true]);
    const { width, height } = await coarse.evaluate('demoDebug.scales[demoDebug.scale]');
    const { time, rect } = STILLS[0];
    // The drawn pixels whose full-picture pixels lie in the rect.
    const inside = (k, drawn, full, from, size, fromTop) => {
      const at = fullPixel(k, drawn, full, fromTop);
      return at >= from && at < from + size;
    };
    let x0 = 0;
    while (!inside(x0, width, 1920, rect.x, rect.width, false)) x0++;
    let y0 = 0;
    while (!inside(y0, height, 1080, rect.y, rect.height, true)) y0++;
    let w = 0;
    while (inside(x0 + w, width, 1920, rect.x, rect.width, false)) w++;
    let h = 0;
    while (inside(y0 + h, height, 1080, rect.y, rect.height, true)) h++;
    const small = { x: x0, y: y0, width: w, height: h };
    const got = await still(coarse, time * 1000, small);
    assert.deepEqual(await coarse.evaluate(`[document.getElementById('scene').width, document.getElementById('scene').height]`),
      [width, height]);
    assert.deepEqual(coarse.errors, []);
    // The full picture from the first page, in front again.
    await coarse.close();
    await page.bringToFront();
    const full = await still(page, time * 1000, rect);
    for (let y = 0; y < small.height; y++) {
      const fy = fullPixel(small.y + y, height, 1080, true) - rect.y;
      for (let x = 0; x < small.width; x++) {
        const fx = fullPixel(small.x + x, width, 1920, false) - rect.x;
        for (let c = 0; c < 3; c++) {
          const a = got[(y * small.width + x) * 4 + c];
          const b = full[(fy * rect.width + fx) * 4 + c];
          assert.equal(a, b, `drawn pixel (${small.x + x}, ${small.y + y}) channel ${c}`);
        }
      }
    }
  });
}

test('bad ?scale= and ?t= values are set aside in words and Play stays; ?t= takes 90s, 1:30 and 1m30s', async () => {
  // The forms of ?t=, through the page's own reading of it.
  const forms = { '90': 90000, '90s': 90000, '1:30': 90000, '1m30s': 90000, '1:30.5': 90500, '2m': 120000,
    '0': 0, '184.9': 184900, '185': null, '3:05': null, '1:60': null, '-1': null, '1e3': null, 'abc': null, '': null };
  const read = await page.evaluate(`import('./loading.js').then(({ parseStartTime }) =>
    Object.fromEntries(${JSON.stringify(Object.keys(forms))}.map((text) => [text, parseStartTime(text)])))`);
  assert.deepEqual(read, forms);

  const other = await demo.browser.newPage();
  const show = `[document.getElementById('set-aside').textContent, !document.getElementById('start-button').hidden,
    demoDebug.startMs, demoDebug.adaptive]`;
  await other.goto(`${page.url}?t=999&scale=1600x900`);
  assert.equal(await settled(other), 'ready');
  const [line, play, startMs, adaptive] = await other.evaluate(show);
  assert.match(line, /"999".*1:30.*"1600x900".*1, 864p, 720p, 2, 3, 4 or 6.*1280x720 or 720p/);
  assert.deepEqual([play, startMs, adaptive], [true, 0, true]);
  assert.deepEqual(other.errors, []);
  await other.close();
  await page.bringToFront();
});

test('the chapter marks and the flash warning stand at the scene shader\'s own moments', async () => {
  const shader = fs.readFileSync(path.join(import.meta.dirname, '..', '..', 'shader', 'scene.frag'), 'utf8');
  const starts = [...shader.matchAll(/const float SCENE_(\d)_START = ([\d.]+);/g)]
    .map(([, n, seconds]) => [Number(n), Math.round(Number(seconds) * 1000)]).sort((a, b) => a[0] - b[0]);
  assert.deepEqual(starts.map(([n]) => n), [2, 3, 4, 5, 6, 7], 'the shader\'s scene constants');
  const flashName = /abs\((SCENE_\d_START) - t\)/.exec(shader)[1];
  const flashMs = starts.find(([n]) => `SCENE_${n}_START` === flashName)[1];
  const marks = await page.evaluate(`[...document.querySelectorAll('.chapter-mark')].map((m) => [Number(m.dataset.scene), Number(m.dataset.ms)])`);
  assert.deepEqual(marks, starts);
  assert.deepEqual(await page.evaluate(`[...document.querySelectorAll('.flash-mark')].map((m) => Number(m.dataset.ms))`), [flashMs]);
  const minutes = `${Math.floor(flashMs / 60000)}:${String(Math.floor(flashMs / 1000) % 60).padStart(2, '0')}`;
  assert.match(await page.evaluate(`document.getElementById('flash-warning').textContent`),
    new RegExp(`at ${minutes} \\(${flashMs / 1000} s\\)`));
});
