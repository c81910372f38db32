// What a screen reader is told, in a polite live region: a run playing, a
// pause, a seek and the mute, each as one short line ("Paused at 0:23").
import { player, Phase, listen, momentMs, clockText } from './player_state.js';
import { momentName } from './chapters.js';

const region = document.getElementById('announcer');
let lastPhase = null;
let lastMuted = null;

function say(text) {
  // The same words again are still news (a second pause at the same moment).
  region.textContent = region.textContent === text ? `${text}\u00a0` : text;
}

function onPhase() {
  const phase = player.phase;
  if (phase === lastPhase) return;
  const was = lastPhase;
  lastPhase = phase;
  if (phase === Phase.RUNNING && (was === Phase.STARTING || was === Phase.PAUSED || was === Phase.PAUSING)) {
    say(`Playing from ${clockText(momentMs())}`);
  } else if (phase === Phase.PAUSED) {
    say(`Paused at ${clockText(player.run.heldMs)}`);
  } else if (phase === Phase.READY && was !== Phase.LOADING) {
    say('Ended');
  }
}

export function setUpAnnouncer() {
  lastMuted = player.muted;
  lastPhase = player.phase;
  listen((what, detail) => {
    if (what === 'phase') onPhase();
    else if (what === 'seek') say(`At ${momentName(detail)}`);
    else if (what === 'volume' && player.muted !== lastMuted) {
      lastMuted = player.muted;
      say(player.muted ? 'Muted' : `Sound on, volume ${Math.round(player.volume * 100)} %`);
    }
  });
}
