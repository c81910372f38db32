// What the page shows besides the controls, following the player's state:
// the start view (its progress line while loading, the start button, the
// resolution, why the last run stopped or why the page cannot play), the
// word over a held picture (paused, or waiting for the song), the I key's
// line and the notice along the bottom.
import { player, parts, Phase, listen, inRun, clockText, sizeText } from './player_state.js';

const $ = (id) => document.getElementById(id);
const startView = $('start-view');
const progress = $('progress');
const prompt = $('prompt');
const startButton = $('start-button');
const messageLine = $('message');
const resolutionLine = $('resolution');
const heldLine = $('held');
const infoLine = $('info');
const noticeLine = $('notice');

export function showProgress(text) {
  progress.textContent = text;
}

function resolutionText() {
  const list = parts.scales.list;
  let text = player.adaptive
    ? `Resolution: chosen from the frame times, from ${sizeText(0)} down to ${sizeText(parts.scales.coarsest)} `
      + `(?scale=${list[parts.scales.coarsest].name} and the like fix it).`
    : `Resolution: ${sizeText(player.scale)} (?scale=${list[player.scale].name}).`;
  if (player.still) {
    text += ` The still took ${Math.round(player.still.ms)} ms at ${sizeText(player.still.index)}`
      + (player.adaptive && player.predictedScale >= 0 ? `: a run starts at ${sizeText(player.predictedScale)}.` : '.');
  }
  const run = player.run;
  if (run && run.frames > 0 && run.endedAt !== undefined) {
    text += ` The last run ended at ${sizeText(run.scale)}`
      + (run.frameMs !== undefined ? `, ${Math.round(run.frameMs)} ms a frame.` : '.');
  }
  return text;
}

function showStartView() {
  const phase = player.phase;
  const ready = phase === Phase.READY;
  const wasFocused = startView.contains(document.activeElement);
  startView.hidden = !(ready || phase === Phase.LOADING || phase === Phase.FAILED);
  progress.hidden = phase !== Phase.LOADING;
  prompt.hidden = !ready;
  startButton.hidden = !ready;
  startButton.textContent = player.startMs > 0 ? `Play from ${clockText(player.startMs)}` : 'Play';
  if (ready && parts.scales) resolutionLine.textContent = resolutionText();
  showMessage();
  // The start button takes the keyboard's focus once it can start a run.
  if (ready && !wasFocused) startButton.focus({ preventScroll: true });
}

function showMessage() {
  messageLine.textContent = player.message;
  messageLine.hidden = player.message === '';
}

function showHeld() {
  const run = player.run;
  if (player.phase === Phase.PAUSED) {
    heldLine.textContent = `Paused at ${clockText(run.heldMs)}`;
  } else if (player.phase === Phase.WAITING) {
    const rendered = run.synth ? run.synth.frames * 1000 / player.sampleRate : 0;
    heldLine.textContent = `Rendering the song to ${clockText(run.heldMs)}… (${clockText(rendered)} so far)`;
  }
  heldLine.hidden = !(player.phase === Phase.PAUSED || player.phase === Phase.WAITING);
}

function showInfo() {
  infoLine.hidden = !(player.infoShown && inRun());
  const run = player.run;
  if (infoLine.hidden || !run) return;
  const list = parts.scales.list;
  const shown = [`${sizeText(run.scale)} (${player.adaptive ? 'auto' : `?scale=${list[run.scale].name}`})`];
  if (run.frameMs !== undefined) shown.push(`${run.frameMs.toFixed(run.frameMs < 10 ? 1 : 0)} ms a frame`);
  if (player.phase === Phase.PAUSED) shown.push(`paused at ${(run.heldMs / 1000).toFixed(1)} s`);
  if (run.hint) shown.push(run.hint);
  infoLine.textContent = shown.join(' · ');
}

function showNotice() {
  noticeLine.textContent = player.notice || '';
  noticeLine.hidden = !player.notice;
}

export function setUpViews() {
  listen((what) => {
    if (what === 'phase') {
      showStartView();
      showHeld();
      showInfo();
    } else if (what === 'message') showMessage();
    else if (what === 'notice') showNotice();
    else if (what === 'frame' || what === 'info' || what === 'scale') showInfo();
    else if (what === 'render' && player.phase === Phase.WAITING) showHeld();
  });
}
