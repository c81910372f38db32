// The page in headless Chromium, before any run: it loads without errors,
// gets WebGL2, compiles the scene shader and shows its still; still frames
// at chosen times match the capture tool's pictures (see TOLERANCE), and the
// same rects a little later do not; ?scale=4 and ?scale=720p draw exactly
// the full picture's pixels at their places; bad ?scale= and ?t= values are
// refused in words.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
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
  test(`?scale=${name} draws the full picture's pixels at their places, bit for bit`, async () => {
    const coarse = await demo.browser.newPage();
    await coarse.goto(`${page.url}?scale=${name}`);
    assert.equal(await settled(coarse), 'ready');
    assert.equal(await coarse.evaluate('demoDebug.adaptive'), false);
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
    assert.deepEqual(coarse.errors, []);
  });
}

test('bad ?scale= and ?t= values are refused in words', async () => {
  for (const [query, words] of [['?scale=5', /1, 864p, 720p, 2, 3, 4 or 6/], ['?scale=', /1, 864p, 720p, 2, 3, 4 or 6/],
    ['?scale=1600x900', /1280x720 or 720p/],
    ['?t=185', /seconds/], ['?t=-1', /seconds/], ['?t=1e3', /seconds/]]) {
    const other = await demo.browser.newPage();
    await other.goto(page.url + query);
    assert.equal(await settled(other), 'failed', query);
    const message = await other.evaluate(`document.getElementById('message').textContent`);
    assert.match(message, words, query);
    assert.equal(await other.evaluate(`document.getElementById('prompt').hidden`), true);
    assert.deepEqual(other.errors, [], query);
  }
});
