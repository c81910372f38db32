// The synthesizer's Worker: renders the song with the WebAssembly
// synthesizer from its first frame, as fast as it can, and hands every
// finished piece on at once through the MessagePort that the page gives it
// (the port's other end is the audio worklet that plays them). Nothing is
// shared and nothing waits: the worklet plays what has arrived and silence
// for what has not.
//
// Messages from the page:
//   { type: 'module', module }  the compiled demo.wasm; answered by 'ready'
//   { type: 'start', startFrame, port, id }  a fresh synthesizer renders the
//       song from frame 0; pieces from startFrame on go to `port` as
//       { first, samples } (the index of the first frame and its interleaved
//       left/right floats, the buffer transferred)
//   { type: 'stop' }  ends the run and closes its port
// Messages to the page: { type: 'ready' }, { type: 'progress' | 'done', id,
// frames, wallMs, renderMs } (the run's id as the page gave it, frames
// rendered, time since the start, time spent inside the synthesizer),
// { type: 'error', message }.
// The emscripten loader; in the one-file page it comes first in this
// Worker's own script.
if (typeof createDemoModule !== 'function') importScripts('demo.js');

// Frames rendered per call (about 93 ms of song).
const PIECE_FRAMES = 4096;
// How long one turn renders before it lets messages in (a 'stop').
const TURN_MS = 10;
const PROGRESS_MS = 250;

let demo = null;
let run = null;

// Lets the next turn run after pending messages, without the clamping of
// nested timers.
const turns = new MessageChannel();
turns.port1.onmessage = () => turn();

function fail(error) {
  postMessage({ type: 'error', message: String(error && error.message ? error.message : error) });
}

function stopRun() {
  if (!run) return;
  run.port.close();
  demo._synthDestroy(run.state);
  demo._free(run.buffer);
  run = null;
}

function startRun({ startFrame, port, id }) {
  stopRun();
  const state = demo._synthCreate();
  const buffer = demo._malloc(PIECE_FRAMES * 8);
  if (!state || !buffer) {
    fail('the synthesizer is out of memory');
    return;
  }
  run = {
    port, state, buffer, startFrame, id,
    next: 0, total: demo._songFrames(),
    started: performance.now(), renderMs: 0, reported: 0,
  };
  turns.port2.postMessage(0);
}

// Renders the song's pre-roll (the module's audioPrerollFrames, the desktop's
// AUDIO_PREROLL_FRAMES) once and throws it away, so that
// the engine has compiled the synthesizer's hot code to its optimising tier
// and the heap has its size before the first run: a cold start renders the
// first piece at about real time, too slow for a prompt first sound.
function warmUp() {
  const state = demo._synthCreate();
  const buffer = demo._malloc(PIECE_FRAMES * 8);
  if (state && buffer) {
    for (let done = 0, preroll = demo._audioPrerollFrames(); done < preroll; done += PIECE_FRAMES) demo._synthRender(state, buffer, PIECE_FRAMES);
  }
  if (buffer) demo._free(buffer);
  if (state) demo._synthDestroy(state);
}

function report(type) {
  postMessage({ type, id: run.id, frames: run.next, wallMs: performance.now() - run.started, renderMs: run.renderMs });
}

function turn() {
  if (!run) return;
  const until = performance.now() + TURN_MS;
  while (run.next < run.total && performance.now() < until) {
    const before = performance.now();
    const count = demo._synthRender(run.state, run.buffer, PIECE_FRAMES);
    run.renderMs += performance.now() - before;
    const first = run.next;
    run.next += count;
    if (count === 0) break;
    if (run.next <= run.startFrame) continue;
    const skip = Math.max(0, run.startFrame - first);
    const samples = demo.HEAPF32.slice(run.buffer / 4 + skip * 2, run.buffer / 4 + count * 2);
    run.port.postMessage({ first: first + skip, samples }, [samples.buffer]);
  }
  if (run.next >= run.total) {
    report('done');
    stopRun();
    return;
  }
  if (performance.now() - run.reported >= PROGRESS_MS) {
    run.reported = performance.now();
    report('progress');
  }
  turns.port2.postMessage(0);
}

onmessage = (event) => {
  const message = event.data;
  try {
    if (message.type === 'module') {
      createDemoModule({
        instantiateWasm(imports, receiveInstance) {
          WebAssembly.instantiate(message.module, imports).then(
            (instance) => receiveInstance(instance, message.module), fail);
          return {};
        },
      }).then((instance) => {
        demo = instance;
        warmUp();
        postMessage({ type: 'ready' });
      }, fail);
    } else if (message.type === 'start') {
      startRun(message);
    } else if (message.type === 'stop') {
      stopRun();
    }
  } catch (error) {
    fail(error);
  }
};
