// The page: a player for the demo. It loads the WebAssembly module (with a
// progress line) and the scene shader, draws one still of the demo behind
// the start view, and on a click, a tap or a key runs the demo full screen
// — sound first, then the picture's clock — until the end, Escape or the
// end button, then shows the start view again, ready for a run from the
// beginning (or, after a run the viewer ended, from where it stood). While it runs, controls over the picture (play and pause,
// the timeline, volume, a link to the moment, the resolution, full screen,
// the end), the keys of media players, taps and the media keys steer it.
//
// The files, by idea: player_state.js (the player's one state), loading.js,
// run.js (a run: sound, pause, seeks), run_loop.js (the picture's clock and
// frame loop), screen_mode.js (full screen, full window), controls.js,
// page_views.js (start view, notices), keys.js (keys, clicks, taps, media
// keys), chapters.js (the scenes on the timeline), announcer.js (what a
// screen reader is told), slow_device.js (the line for a slow device),
// test_hooks.js (window.demoDebug).
//
// Query parameters: ?scale=NAME fixes the internal resolution (the names the
// module lists, as the desktop's --scale takes them); without it (or with
// ?scale=auto) the module's scale governor chooses it from the frame times,
// as the desktop's --scale auto does. ?t= (90, 90s, 1:30, 1m30s) starts the
// first run at that moment, the sound at the matching frame of the song;
// while a run is paused the address holds the paused moment in ?t=, so that
// the link starts there. A value that cannot be used is set aside, in words.
import { fromDiskAdvice } from './page_parts.js';
import { player, Phase, setPhase } from './player_state.js';
import { load, fail } from './loading.js';
import { setUpControls } from './controls.js';
import { setUpViews } from './page_views.js';
import { setUpInput } from './keys.js';
import { setUpTestHooks } from './test_hooks.js';
import { setUpChapterMarks } from './chapters.js';
import { setUpAnnouncer } from './announcer.js';

setUpTestHooks();
setUpViews();
setUpInput();

load().then(() => {
  if (player.phase === Phase.FAILED) return;
  setUpControls();
  setUpChapterMarks();
  setUpAnnouncer();
  setPhase(Phase.READY);
}).catch((error) => {
  console.error(error);
  fail(`The demo could not start: ${error.message}${fromDiskAdvice()}`);
});
