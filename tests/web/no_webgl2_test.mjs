// Without WebGL2 (a browser started with --disable-webgl2, WebGL 1 still
// there) the page says so in words and offers no start.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import { openDemo, settled } from './web_test_lib.mjs';

const demo = await openDemo('', ['--disable-webgl2']);
after(() => demo.close());
const { page } = demo;

test('a browser without WebGL2 gets the message', async () => {
  assert.equal(await page.evaluate(`!!document.createElement('canvas').getContext('webgl')`), true);
  assert.equal(await settled(page), 'failed');
  assert.match(await page.evaluate(`document.getElementById('message').textContent`), /no WebGL2/);
  assert.equal(await page.evaluate(`document.getElementById('message').hidden`), false);
  assert.equal(await page.evaluate(`document.getElementById('prompt').hidden`), true);
  // A click starts nothing.
  await page.click(200, 200);
  await new Promise((resolve) => setTimeout(resolve, 300));
  assert.equal(await page.evaluate('demoDebug.state'), 'failed');
  assert.deepEqual(page.errors, []);
});
