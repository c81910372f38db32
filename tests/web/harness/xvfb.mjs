// An X server of our own (Xvfb) for a browser that needs a display: started
// on a free display number (-displayfd tells which), stopped by its process
// id with stop(), and by the exit of this process, however it ends.
import { spawn } from 'node:child_process';

// Starts Xvfb with one screen of `size` ('1280x720x24'); resolves to
// { display: ':N', pid, stop() } once it accepts clients.
export function startXvfb(size = '1280x720x24') {
  const child = spawn('Xvfb', ['-displayfd', '3', '-screen', '0', size, '-nolisten', 'tcp', '-noreset'],
    { stdio: ['ignore', 'ignore', 'pipe', 'pipe'] });
  const stop = () => {
    if (child.exitCode === null && child.signalCode === null) child.kill('SIGTERM');
  };
  process.on('exit', stop);
  let stderr = '';
  child.stderr.on('data', (data) => { stderr = (stderr + data).slice(-2000); });
  return new Promise((resolve, reject) => {
    let number = '';
    const timer = setTimeout(() => {
      stop();
      reject(new Error(`Xvfb gave no display number in 30 s: ${stderr}`));
    }, 30000);
    child.on('error', (error) => {
      clearTimeout(timer);
      reject(new Error(`cannot start Xvfb (install Debian's xvfb): ${error.message}`));
    });
    child.on('exit', (code, signal) => {
      clearTimeout(timer);
      reject(new Error(`Xvfb ended (${code ?? signal}) at start: ${stderr}`));
    });
    child.stdio[3].on('data', (data) => {
      number += data;
      if (!number.includes('\n')) return;
      clearTimeout(timer);
      child.removeAllListeners('exit');
      resolve({ display: `:${number.trim()}`, pid: child.pid, stop });
    });
  });
}
