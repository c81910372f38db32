// Full screen, and where the browser offers none for a page's element
// (iPhone's Safari) a full-window mode: the picture over the whole window,
// the controls over it, and a button to leave it always in view. A run
// enters full screen at its start (full window where a tap started it and
// the browser has no element full screen). Full screen and the run are
// separate: leaving full screen in any way (F, the button, or the browser's
// own way out: Escape, F11, a back gesture) keeps the run playing in the page.
import { changed } from './player_state.js';

let enteredForRun = null;
// Exits of full screen that the page asked for and whose change has not come.
let ownExits = 0;

// Whether the picture fills the screen (or the window, in full-window mode).
export function isFullScreen() {
  return document.fullscreenElement !== null && document.fullscreenElement !== undefined
    || document.body.classList.contains('full-window');
}

// Whether this browser offers element full screen here.
export function hasElementFullScreen() {
  return document.fullscreenEnabled === true;
}

function setFullWindow(on) {
  document.body.classList.toggle('full-window', on);
  changed('screen');
}

// Full screen for the run `run` (from the user's gesture that starts it);
// where refused, the run goes on in the page. A full screen still on (or
// still coming) from an earlier run is this run's now; one that comes after
// its run ended is left again. Without element full screen, a run started
// by a tap (`fromTouch`: a phone's browser) takes the whole window.
export function enterForRun(run, fromTouch = false) {
  enteredForRun = run;
  if (!hasElementFullScreen()) {
    if (fromTouch) setFullWindow(true);
    return;
  }
  if (document.fullscreenElement) return;
  document.documentElement.requestFullscreen({ navigationUI: 'hide' }).then(() => {
    if (enteredForRun === null) leaveFullScreen();
  }, () => {
    if (enteredForRun !== run) return;
    enteredForRun = null;
    if (fromTouch) setFullWindow(true);
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
  // Left by the page or by the browser: the run, if any, goes on. (The
  // change of an exit the page asked for can come after the next run has
  // taken the full screen over.)
  if (ownExits > 0) {
    ownExits--;
    return;
  }
  enteredForRun = null;
});

// Whether an Escape pressed now leaves full screen rather than ending the
// run: where the page is still full screen (a browser may hand the page the
// Escape that takes it out, before its change comes) it leaves it.
export function escapeLeavesFullScreen() {
  if (!document.fullscreenElement) return false;
  enteredForRun = null;
  exitOurselves();
  return true;
}
