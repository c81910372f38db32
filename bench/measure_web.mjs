#!/usr/bin/env node
// measure-web: measures the browser build in headless Chromium (SwiftShader
// for WebGL2, no GPU) and under node:
//   - the synthesizer's real-time factor: the node build of render-song over
//     the whole song, and the page's Worker over the whole song with nothing
//     else running, and during a run at ?scale=6;
//   - the time from the click to the first sound (the first rendered frame
//     leaving the sound graph's output, on the context's output clock) and
//     to the picture's clock start, over several runs;
//   - frame times (drawn and waited for) at the scales asked for;
//   - the size of the web folder and of the one-file page.
// Usage: node bench/measure_web.mjs [--build-web DIR] [--scales 4,1]
//        [--frames N] [--runs N]
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { launchChromium } from '../tests/web/harness/chromium.mjs';
import { serveFolder } from '../tests/web/harness/static_server.mjs';

const USAGE = `Usage: measure_web.mjs [--build-web DIR] [--scales LIST] [--frames N] [--runs N]
  --build-web DIR  the browser build (default: build-web beside this tool's project)
  --scales LIST    scales whose frame times to measure, named as ?scale= takes
                   them (default 4,1; a 1920x1080 frame takes minutes in
                   SwiftShader)
  --frames N       frames per scale (default 2)
  --runs N         runs for the click-to-sound time (default 3)
`;

const options = { buildWeb: path.resolve(path.dirname(new URL(import.meta.url).pathname), '../build-web'),
  scales: ['4', '1'], frames: 2, runs: 3 };
const args = process.argv.slice(2);
for (let i = 0; i < args.length; i++) {
  const value = args[i + 1];
  const number = (name) => {
    if (!/^[1-9]\d*$/.test(value ?? '')) { console.error(`measure_web: ${name} takes a whole number, not "${value}"`); process.exit(2); }
    return Number(value);
  };
  switch (args[i]) {
    case '--help': case '-h': process.stdout.write(USAGE); process.exit(0);
    case '--build-web': if (!value) { console.error('measure_web: --build-web needs a folder'); process.exit(2); } options.buildWeb = path.resolve(value); i++; break;
    case '--scales':
      if (!/^[\w.]+(,[\w.]+)*$/.test(value ?? '')) { console.error(`measure_web: --scales takes a list like 4,1, not "${value}"`); process.exit(2); }
      options.scales = value.split(','); i++; break;
    case '--frames': options.frames = number('--frames'); i++; break;
    case '--runs': options.runs = number('--runs'); i++; break;
    default: console.error(`measure_web: unknown argument "${args[i]}"`); process.stderr.write(USAGE); process.exit(2);
  }
}
const site = path.join(options.buildWeb, 'site');
if (!fs.existsSync(path.join(site, 'index.html'))) {
  console.error(`measure_web: no web folder at ${site} (./run-web.sh --build-only builds it)`);
  process.exit(1);
}

const note = (text) => console.log(text);
// The whole song's length, from the WAV that render-song writes: its data
// chunk over the format's bytes a second.
function songSeconds(wav) {
  for (let at = 12; at + 8 <= wav.length; at += 8 + wav.readUInt32LE(at + 4) + (wav.readUInt32LE(at + 4) & 1)) {
    if (wav.toString('latin1', at, at + 4) === 'data') {
      const bytesPerSecond = wav.readUInt32LE(28);
      return wav.readUInt32LE(at + 4) / bytesPerSecond;
    }
  }
  throw new Error('render-song wrote a WAV without a data chunk');
}
let wholeSongSeconds = 0; // set once node has rendered it
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
note(`load at start: ${os.loadavg().map((v) => v.toFixed(2)).join(' ')} (${os.cpus().length} cores)`);

// The folder.
let total = 0;
for (const name of fs.readdirSync(site)) {
  const size = fs.statSync(path.join(site, name)).size;
  total += size;
  note(`  ${name}: ${size} bytes`);
}
note(`web folder: ${total} bytes (${(total / 1024).toFixed(1)} KiB) in ${fs.readdirSync(site).length} files`);
const oneFile = path.join(options.buildWeb, 'demo.html');
if (fs.existsSync(oneFile)) {
  const size = fs.statSync(oneFile).size;
  note(`one-file page demo.html: ${size} bytes (${(size / 1024).toFixed(1)} KiB)`);
}

// node.
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'measure-web-'));
try {
  const started = process.hrtime.bigint();
  execFileSync(process.execPath, [path.join(options.buildWeb, 'bin/demo-render-song.js'), '--out', path.join(scratch, 'song.wav')],
    { stdio: 'ignore' });
  const seconds = Number(process.hrtime.bigint() - started) / 1e9;
  wholeSongSeconds = songSeconds(fs.readFileSync(path.join(scratch, 'song.wav')));
  note(`node: whole song in ${seconds.toFixed(2)} s: ${(wholeSongSeconds / seconds).toFixed(1)}x real time`);
} finally {
  fs.rmSync(scratch, { recursive: true, force: true });
}

const server = await serveFolder(site);
const browser = await launchChromium();
try {
  note(`browser: ${browser.version}`);
  const page = await browser.newPage();
  await page.goto(`${server.url}?scale=6`);
  await page.waitFor(`demoDebug.state !== 'loading'`, 180000, 'the page');
  if (await page.evaluate('demoDebug.state') !== 'ready') throw new Error(await page.evaluate('demoDebug.message'));

  const alone = await page.evaluate('demoDebug.renderSongInWorker()');
  note(`Worker, nothing else running: whole song in ${(alone.wallMs / 1000).toFixed(2)} s: `
    + `${(wholeSongSeconds / (alone.wallMs / 1000)).toFixed(1)}x real time `
    + `(${(wholeSongSeconds / (alone.renderMs / 1000)).toFixed(1)}x counting only the time inside the synthesizer)`);

  const toSound = [];
  const toClock = [];
  for (let run = 1; run <= options.runs; run++) {
    await page.click(200, 200);
    await page.waitFor(`demoDebug.run && demoDebug.run.id === ${run} && demoDebug.run.firstSoundAt`, 60000, 'the first sound');
    const wait = run === 1 ? 'demoDebug.run.synth && demoDebug.run.synth.done' : 'true';
    await page.waitFor(wait, 180000, 'the whole song');
    const r = await page.evaluate('demoDebug.run');
    toSound.push(r.firstSoundAt - r.clickAt);
    toClock.push(r.loopStartAt - r.clickAt);
    note(`run ${run}: click to picture clock ${(r.loopStartAt - r.clickAt).toFixed(0)} ms, to first sound `
      + `${(r.firstSoundAt - r.clickAt).toFixed(0)} ms (first rendered frame at context time `
      + `${(r.firstSoundContextTime * 1000).toFixed(0)} ms)`);
    if (run === 1) {
      note(`Worker during a run at ?scale=6: whole song in ${(r.synth.wallMs / 1000).toFixed(2)} s: `
        + `${(wholeSongSeconds / (r.synth.wallMs / 1000)).toFixed(1)}x real time; ${r.frames} frames drawn meanwhile; `
        + `${r.silentFrames ?? 0} frames played as silence for want of a rendered one`);
    }
    await page.press('Escape', 'Escape', 27);
    await page.waitFor(`demoDebug.state === 'ready'`, 60000, 'the end of the run');
  }
  note(`click to first sound: median ${median(toSound).toFixed(0)} ms of ${toSound.map((v) => v.toFixed(0)).join(', ')}; `
    + `to the picture's clock: median ${median(toClock).toFixed(0)} ms`);
  await page.send('Page.close').catch(() => {});

  for (const scale of options.scales) {
    const framePage = await browser.newPage();
    await framePage.goto(`${server.url}?scale=${scale}`);
    const state = await framePage.waitFor(`demoDebug.state !== 'loading' && demoDebug.state`, 180000, 'the page');
    if (state !== 'ready') throw new Error(await framePage.evaluate('demoDebug.message'));
    const times = await framePage.evaluate(`demoDebug.timeFrames(30000, ${options.frames})`);
    const { width, height } = await framePage.evaluate('demoDebug.scales[demoDebug.scale]');
    note(`scale ${scale} (${width}x${height}) at 30 s: frame times ${times.map((t) => (t / 1000).toFixed(2)).join(', ')} s`);
    await framePage.send('Page.close').catch(() => {});
  }
  note(`load at end: ${os.loadavg().map((v) => v.toFixed(2)).join(' ')}`);
} finally {
  await browser.close();
  await server.close();
}
