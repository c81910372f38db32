// A run of the demo: sound first, then the picture's clock, until the end
// (185 s), Escape or the end button; pause and resume, seeks, and what the
// player and the synthesizer report. Every way a run stops (its end, a
// refused start, a lost sound) leaves the page ready for a clean run.
//
// The sound's player answers each command (pause, resume, seek) in order
// with the song frame it holds and the frames it has output so far; each
// command keeps a record in the run (run.pauses, run.seeks, run.waits) that
// its answer fills in. A moment that the synthesizer has not rendered yet is
// not played out of place: the run waits there (Phase.WAITING), sound
// silent and picture held, until the song is rendered past it.
import { fromDiskAdvice } from './page_parts.js';
import { player, parts, Phase, setPhase, changed, inRun, momentMs } from './player_state.js';
import { startLoop, stopLoop, holdAt, clockMs, setUpScales, tearDownScales } from './run_loop.js';
import { enterForRun, leaveFullScreen } from './screen_mode.js';

// How long a run waits for the sound output to start before the picture
// runs without it.
const SOUND_WAIT_MS = 4000;
// How long a pause waits for the player to say where it stopped.
const PAUSE_ANSWER_MS = 1000;
// How much song past a moment must be rendered before a seek plays it.
const RENDERED_AHEAD_MS = 500;

function frameOf(ms) {
  return Math.round(ms * player.sampleRate / 1000);
}

// A line over the picture; one that `stays` waits for the viewer (it asks
// for an answer), any other fades after a few seconds.
function notice(text, stays = false) {
  player.notice = text;
  player.noticeStays = stays;
  changed('notice');
}

// A line on the start view (why the last run stopped); the page stays ready.
function startMessage(text) {
  player.message = text;
  changed('message');
}

// ?t= of the address: the moment `ms`, or none (null). The address carries
// a moment only while a run is paused there, so that its link starts there.
export function setAddressTime(ms) {
  const url = new URL(location.href);
  if (ms === null) url.searchParams.delete('t');
  else url.searchParams.set('t', String(ms / 1000));
  if (url.href !== location.href) history.replaceState(history.state, '', url.href);
}

// A link to the run's moment (or to where the next run starts).
export function momentLink() {
  const url = new URL(location.href);
  url.searchParams.set('t', String(Math.floor(momentMs() / 100) / 10));
  return url.href;
}

// Starts a run at the moment `atMs` (where the next run starts, unless
// said); `fromTouch`: started by a tap, which takes the whole window where
// the browser has no element full screen.
export async function startRun(atMs = player.startMs, fromTouch = false) {
  if (player.phase !== Phase.READY || parts.measuring) return;
  setPhase(Phase.STARTING);
  const run = {
    id: ++player.runs, clickAt: performance.now(), startMs: atMs, frames: 0,
    scale: player.scale, scaleChanges: [], recentFrames: [], pauses: [], seeks: [], waits: [],
    answers: [], renderedFrames: 0,
  };
  player.run = run;
  startMessage('');
  setAddressTime(null);
  enterForRun(run, fromTouch);
  setUpScales(run);
  let soundRuns;
  try {
    soundRuns = await parts.sound.start(frameOf(run.startMs), SOUND_WAIT_MS, run.id,
      (message) => onPlayerEvent(run, message), (why) => soundLost(run, why));
  } catch (error) {
    if (player.run !== run || player.phase !== Phase.STARTING) return;  // ended meanwhile
    console.warn(error);
    endRun();
    const advice = error.worklet && !player.soundHasPlayed ? fromDiskAdvice() : '';
    startMessage(`The demo cannot play its sound here: ${error.message}.${advice} `
      + 'Click or press a key to try again.');
    return;
  }
  if (player.run !== run || player.phase !== Phase.STARTING) return;
  if (!soundRuns) {
    // The picture goes on; the sound joins it where it stands if the
    // output starts later.
    run.noSound = true;
    notice(`No sound: the browser has not started its sound output in ${SOUND_WAIT_MS / 1000} s `
      + '(is there a sound device? is sound blocked for this page?). The picture runs without it; '
      + 'the sound joins in if the output starts.');
    parts.sound.whenRunning.then(() => soundJoins(run));
  }
  run.loopStartAt = performance.now();
  setPhase(Phase.RUNNING);
  startLoop(run, run.startMs, endRun);
}

// Ends the run (if any) and shows the start view; the next run starts at
// the beginning. A run that the viewer ended (`byViewer`) can be resumed at
// its moment from the start view.
export function endRun(byViewer = false) {
  if (!inRun() && player.phase !== Phase.STARTING) return;
  const run = player.run;
  player.resumeMs = byViewer && inRun() ? Math.min(momentMs(), player.endMs - 1) : null;
  stopLoop();
  parts.sound.stop();
  tearDownScales();
  run.endedAt = performance.now();
  player.startMs = 0;
  setAddressTime(null);
  notice('');
  leaveFullScreen();
  setPhase(Phase.READY);
}

// Sends a command to the player, whose answer fills `record`.
function command(run, name, record, ...args) {
  if (!parts.sound.connected) return;
  run.answers.push(record);
  parts.sound[name](...args);
}

// The sound from the song's frame of `ms` on.
function seekSound(run, ms) {
  const seek = { toMs: ms, frame: frameOf(ms) };
  run.seeks.push(seek);
  command(run, 'seek', seek, seek.frame);
}

// Whether the song is rendered far enough past `ms` to play from there.
function rendered(run, ms) {
  if (run.noSound || (run.synth && run.synth.done)) return true;
  return Math.min(frameOf(ms + RENDERED_AHEAD_MS), player.songFrames) <= run.renderedFrames;
}

export function togglePause() {
  if (player.phase === Phase.PAUSED) resume();
  else pause();
}

export function pause() {
  const run = player.run;
  if (player.phase === Phase.WAITING) {
    // Sound and picture are held at the moment already.
    run.waits.at(-1).cancelled = true;
    pausedHere(run, run.heldMs);
  } else if (player.phase === Phase.RUNNING) {
    stopLoop();
    const record = {};
    run.pauses.push(record);
    command(run, 'pause', record);
    if (run.noSound || !parts.sound.connected) {
      pauseAtPicture(run);
      return;
    }
    setPhase(Phase.PAUSING);  // answered by 'paused', see onPlayerEvent
    setTimeout(() => {
      if (player.phase === Phase.PAUSING && player.run === run) pauseAtPicture(run);
    }, PAUSE_ANSWER_MS);
  }
}

export function resume() {
  const run = player.run;
  if (player.phase !== Phase.PAUSED) return;
  const ms = run.heldMs;
  setAddressTime(null);
  parts.sound.resumeOutput();
  if (!run.noSound) notice('');
  if (!rendered(run, ms)) {
    waitAt(run, ms);
    return;
  }
  const record = {};
  const last = run.pauses.at(-1);
  if (last && !last.resumed) last.resumed = record;
  else run.waits.push({ frame: frameOf(ms), resumed: record });
  command(run, 'resume', record);
  setPhase(Phase.RUNNING);
  startLoop(run, ms, endRun);
}

// A player that does not run gives no answer: the moment of the picture
// drawn last is the one to hold, and the player is told to hold it too.
function pauseAtPicture(run) {
  const ms = Math.min(run.timeMs ?? run.clockBaseMs, player.endMs - 1);
  seekSound(run, ms);
  pausedHere(run, ms);
}

function pausedHere(run, ms) {
  holdAt(run, ms);
  setAddressTime(ms);
  setPhase(Phase.PAUSED);
}

// Holds sound and picture at `ms` until the song is rendered past it.
function waitAt(run, ms) {
  run.waits.push({ frame: frameOf(ms) });
  holdAt(run, ms);
  setPhase(Phase.WAITING);
}

function endWait(run) {
  const wait = run.waits.at(-1);
  wait.resumed = {};
  command(run, 'resume', wait.resumed);
  setPhase(Phase.RUNNING);
  startLoop(run, run.heldMs, endRun);
}

// Goes to the moment `ms` (the timeline, the keys, the media keys).
export function seekTo(ms) {
  const run = player.run;
  const phase = player.phase;
  if (inRun() && ms < player.endMs) changed('seek', Math.max(0, Math.min(ms, player.endMs - 1)));
  if (phase === Phase.PAUSED) {
    const target = Math.min(Math.max(0, ms), player.endMs - 1);
    seekSound(run, target);
    pausedHere(run, target);
  } else if (phase === Phase.RUNNING || phase === Phase.WAITING) {
    const target = Math.max(0, ms);
    if (target >= player.endMs) {
      endRun();  // past the end
    } else if (rendered(run, target)) {
      seekSound(run, target);
      if (phase === Phase.WAITING) endWait(run);
      startLoop(run, target, endRun);
    } else {
      if (phase === Phase.RUNNING) {
        stopLoop();
        command(run, 'pause', {});
      }
      seekSound(run, target);
      waitAt(run, target);
    }
  }
}

// `deltaMs` from the run's moment.
export function seekBy(deltaMs) {
  const run = player.run;
  if (!run || !inRun()) return;
  const now = player.phase === Phase.RUNNING ? clockMs(run, performance.now()) : run.heldMs;
  seekTo(now + deltaMs);
}

// The sound output started late: the sound goes to the picture's moment.
function soundJoins(run) {
  if (player.run !== run || !inRun()) return;
  run.noSound = false;
  notice('');
  seekSound(run, player.phase === Phase.RUNNING ? clockMs(run, performance.now()) : run.heldMs);
}

// The output stopped under the run: a suspended one pauses it (play asks
// for the output again), a closed or failed one ends it.
function soundLost(run, why) {
  if (player.run !== run || !(inRun() || player.phase === Phase.STARTING)) return;
  if (why === 'suspended') {
    if (player.phase === Phase.RUNNING || player.phase === Phase.WAITING) {
      stopLoop();
      pauseAtPicture(run);
    }
    notice('The sound output stopped (the system took it, or the device went away): the run is paused; '
      + 'play tries to go on.', true);
    return;
  }
  console.warn(`the sound output ${why === 'failed' ? 'failed' : 'was closed'}`);
  endRun();
  startMessage(why === 'failed'
    ? 'The sound stopped: the song player failed in the browser. Click or press a key to start again.'
    : 'The sound stopped: the browser closed the sound output. Click or press a key to start again.');
}

function onPlayerEvent(run, message) {
  if (player.run !== run) return;
  if (message.type === 'first-sound') {
    run.firstSoundContextTime = message.contextTime;
    player.soundHasPlayed = true;
  } else if (message.type === 'status') {
    run.playPosition = message.position;
    run.silentFrames = message.silentFrames;
  } else if (['paused', 'resumed', 'seeked'].includes(message.type)) {
    const record = run.answers.shift();
    if (record) Object.assign(record, { position: message.position, played: message.played });
    if (message.type === 'paused' && player.phase === Phase.PAUSING) {
      pausedHere(run, Math.min(Math.floor(message.position * 1000 / player.sampleRate), player.endMs - 1));
    }
  }
  if (run.firstSoundContextTime !== undefined && run.firstSoundAt === undefined) {
    // When that frame leaves the output, on the page's clock (once the
    // context has an output timestamp to tell).
    const stamp = parts.sound.outputTimestamp();
    if (stamp && stamp.contextTime > 0 && stamp.performanceTime > 0) {
      run.firstSoundAt = stamp.performanceTime + (run.firstSoundContextTime - stamp.contextTime) * 1000;
    }
  }
}

// The synthesizer's Worker's reports (its runs carry the id of the run).
export function onWorkerMessage(message) {
  if (message.type === 'error') {
    console.error(`synthesizer: ${message.message}`);
    return;
  }
  if (parts.measuring && message.type === 'done') {
    parts.measuring(message);
    parts.measuring = null;
    return;
  }
  const run = player.run;
  if (!run || message.id !== run.id || !(message.type === 'progress' || message.type === 'done')) return;
  run.renderedFrames = message.frames;
  run.synth = { frames: message.frames, wallMs: message.wallMs, renderMs: message.renderMs, done: message.type === 'done' };
  changed('render');
  if (player.phase === Phase.WAITING && rendered(run, run.heldMs)) endWait(run);
}
