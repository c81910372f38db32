// The page: a player for the demo. It loads the WebAssembly module (with a
// progress line) and the scene shader, draws one still of the demo behind
// the start view, and on a click, a tap or a key runs the demo full screen
// — sound first, then the picture's clock — until the end (185 s), Escape
// or the end button, then shows the start view again, ready for a run from
// the beginning. While it runs, controls over the picture (play and pause,
// the timeline, volume, a link to the moment, the resolution, full screen,
// the end), the keys of media players, taps and the media keys steer it.
//
// The files, by idea: player_state.js (the player's one state), loading.js,
// run.js (a run: sound, pause, seeks), run_loop.js (the picture's clock and
// frame loop), screen_mode.js (full screen, full window), controls.js,
// page_views.js (start view, notices), keys.js (keys, clicks, taps, media
// keys), test_hooks.js (window.demoDebug).
//
// Query parameters: ?scale=NAME fixes the internal resolution (the names the
// module lists, as the desktop's --scale takes them); without it (or with
// ?scale=auto) the module's scale governor chooses it from the frame times,
// as the desktop's --scale auto does. ?t=SECONDS starts the first run at
// that moment, the sound at the matching frame of the song; while a run is
// paused the address holds the paused moment in ?t=, so that the link
// starts there.
import { fromDiskAdvice } from './page_parts.js';
import { player, Phase, setPhase } from './player_state.js';
import { load, fail } from './loading.js';
import { endRun } from './run.js';
import { whenLeftByBrowser } from './screen_mode.js';
import { setUpControls } from './controls.js';
import { setUpViews } from './page_views.js';
import { setUpInput } from './keys.js';
import { setUpTestHooks } from './test_hooks.js';

setUpTestHooks();
setUpViews();
setUpInput();
// In full screen the browser takes Escape for itself and leaves full screen;
// leaving it so ends the run all the same. Leaving it with F does not.
whenLeftByBrowser((run) => {
  if (player.run === run) endRun();
});

load().then(() => {
  if (player.phase === Phase.FAILED) return;
  setUpControls();
  setPhase(Phase.READY);
}).catch((error) => {
  console.error(error);
  fail(`The demo could not start: ${error.message}${fromDiskAdvice()}`);
});
