// What the page shows besides the controls, following the player's state:
// the start view (its progress line while loading, the start buttons, a
// remembered mute with a way out of it, the resolution, why the last run
// stopped or why the page cannot play), the word over a held picture
// (paused, or waiting for the song), the I key's line and the notice over
// the picture, which fades after NOTICE_MS unless it waits for an answer,
// and which the viewer can dismiss.
import { player, parts, Phase, listen, changed, inRun, clockText, sizeText } from './player_state.js';
import { setVolume } from './controls.js';

const NOTICE_MS = 8000;

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
const noticeText = $('notice-text');
const resumeButton = $('resume-button');
const mutedLine = $('muted-line');
let noticeTimer = 0;

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
  const resumable = ready && player.resumeMs !== null;
  resumeButton.hidden = !resumable;
  if (resumable) resumeButton.textContent = `▶ Resume at ${clockText(player.resumeMs)}`;
  startButton.textContent = resumable ? 'Play from the start'
    : player.startMs > 0 ? `▶ Play from ${clockText(player.startMs)}` : '▶ Play';
  if (player.runs > 0) $('set-aside').hidden = true;
  if (ready && parts.scales) resolutionLine.textContent = resolutionText();
  showMessage();
  showMuted();
  // A start button takes the keyboard's focus once it can start a run.
  if (ready && !wasFocused) (resumable ? resumeButton : startButton).focus({ preventScroll: true });
}

// A mute (or no volume) kept from the last visit, said on the start view.
function showMuted() {
  mutedLine.hidden = !(player.phase === Phase.READY && (player.muted || player.volume === 0));
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
  noticeText.textContent = player.notice || '';
  noticeLine.hidden = !player.notice;
  clearTimeout(noticeTimer);
  if (player.notice && !player.noticeStays) {
    const shown = player.notice;
    noticeTimer = setTimeout(() => {
      if (player.notice === shown) dismissNotice();
    }, NOTICE_MS);
  }
}

function dismissNotice() {
  player.notice = '';
  player.noticeStays = false;
  changed('notice');
}

export function setUpViews() {
  $('notice-close').addEventListener('click', dismissNotice);
  $('unmute-button').addEventListener('click', () => {
    setVolume(player.volume === 0 ? 1 : player.volume, false);
    startButton.focus({ preventScroll: true });
  });
  listen((what) => {
    if (what === 'phase') {
      showStartView();
      showHeld();
      showInfo();
    } else if (what === 'message') showMessage();
    else if (what === 'notice') showNotice();
    else if (what === 'volume') showMuted();
    else if (what === 'frame' || what === 'info' || what === 'scale') showInfo();
    else if (what === 'render' && player.phase === Phase.WAITING) showHeld();
  });
}
