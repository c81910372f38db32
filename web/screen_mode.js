// Full screen, and where the browser offers none for a page's element
// (iPhone's Safari) a full-window mode: the picture over the whole window,
// the controls over it, and a button to leave it always in view. A run
// enters full screen at its start; the browser's own way out (Escape, a
// gesture) ends the run, leaving it with F or the button does not.
import { changed } from './player_state.js';

let enteredForRun = null;
// Exits of full screen that the page asked for and whose change has not come.
let ownExits = 0;
let onLeftByBrowser = () => {};

// Whether the picture fills the screen (or the window, in full-window mode).
export function isFullScreen() {
  return document.fullscreenElement !== null && document.fullscreenElement !== undefined
    || document.body.classList.contains('full-window');
}

// Whether this browser offers element full screen here.
export function hasElementFullScreen() {
  return document.fullscreenEnabled === true;
}

// `handler()` is called when the browser leaves the full screen entered
// for a run (Escape in full screen never reaches the page).
export function whenLeftByBrowser(handler) {
  onLeftByBrowser = handler;
}

function setFullWindow(on) {
  document.body.classList.toggle('full-window', on);
  changed('screen');
}

// Full screen for the run `run` (from the user's gesture that starts it);
// where refused, the run goes on in the page. A full screen still on (or
// still coming) from an earlier run is this run's now; one that comes after
// its run ended is left again.
export function enterForRun(run) {
  enteredForRun = run;
  if (!hasElementFullScreen() || document.fullscreenElement) return;
  document.documentElement.requestFullscreen({ navigationUI: 'hide' }).then(() => {
    if (enteredForRun === null) leaveFullScreen();
  }, () => {
    if (enteredForRun === run) enteredForRun = null;
  });
}

// F and the full-screen button, during `run`.
export function toggleFullScreen(run) {
  if (document.fullscreenElement) {
    // No run owns the full screen any more, so its change is not the
    // browser's way out.
    enteredForRun = null;
    exitOurselves();
  } else if (hasElementFullScreen()) {
    enteredForRun = run;
    document.documentElement.requestFullscreen({ navigationUI: 'hide' }).catch(() => { enteredForRun = null; });
  } else {
    setFullWindow(!document.body.classList.contains('full-window'));
  }
}

// Leaves full screen and full-window mode (the end of a run).
export function leaveFullScreen() {
  enteredForRun = null;
  setFullWindow(false);
  if (document.fullscreenElement) exitOurselves();
}

function exitOurselves() {
  ownExits++;
  document.exitFullscreen().catch(() => { ownExits = Math.max(0, ownExits - 1); });
}

document.addEventListener('fullscreenchange', () => {
  changed('screen');
  if (document.fullscreenElement) return;
  // Left while a run owns it, and not by the page: the browser's way out.
  // (The change of an exit the page asked for can come after the next run
  // has taken the full screen over.)
  if (ownExits > 0) {
    ownExits--;
    return;
  }
  const run = enteredForRun;
  enteredForRun = null;
  if (run) onLeftByBrowser(run);
});
