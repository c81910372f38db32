// Firefox for the tests, started and driven by puppeteer-core over WebDriver
// BiDi. It runs the distribution's browser (/usr/bin/firefox-esr, or
// $FIREFOX) on an Xvfb of its own (headless Firefox offers no WebGL2), with a
// fresh profile folder whose preferences (puppeteer's, and ours below) turn
// WebGL on for a software renderer, give it a sound output without a sound
// device and keep the browser off the network, in a process group of its
// own; close() ends the group, removes the folder and stops the X server,
// and so does the exit of this process, however it ends (driven_browser.mjs).
// Its pages offer what Chromium's do but emulate() and the taps.
import fs from 'node:fs';
import { Browser, Page } from './driven_browser.mjs';
import { startXvfb } from './xvfb.mjs';

const PREFERENCES = {
  // WebGL on Mesa's llvmpipe, which Firefox otherwise refuses.
  'webgl.force-enabled': true,
  // Sound through the mock backend, which runs on the clock: without a sound
  // device (as here) Firefox never starts an AudioContext.
  'media.cubeb.force_mock_context': true,
  // No first-run pages, updates, reports or other traffic of its own.
  'browser.shell.checkDefaultBrowser': false,
  'browser.startup.homepage_override.mstone': 'ignore',
  'browser.startup.page': 0,
  'browser.aboutwelcome.enabled': false,
  'datareporting.policy.dataSubmissionEnabled': false,
  'datareporting.healthreport.uploadEnabled': false,
  'toolkit.telemetry.reportingpolicy.firstRun': false,
  'app.update.disabledForTesting': true,
  'app.normandy.enabled': false,
  'messaging-system.rsexperimentloader.enabled': false,
  'services.settings.server': 'data:,',
  'extensions.update.enabled': false,
  'extensions.getAddons.cache.enabled': false,
  'browser.safebrowsing.malware.enabled': false,
  'browser.safebrowsing.phishing.enabled': false,
  'browser.safebrowsing.downloads.enabled': false,
  'network.captive-portal-service.enabled': false,
  'network.connectivity-service.enabled': false,
  'browser.newtabpage.enabled': false,
  'media.gmp-manager.url': '',
  'browser.region.network.url': '',
  'browser.search.update': false,
  // Full screen at once, without its notice.
  'full-screen-api.warning.timeout': 0,
  'full-screen-api.transition-duration.enter': '0 0',
  'full-screen-api.transition-duration.leave': '0 0',
  'browser.sessionstore.resume_from_crash': false,
  'toolkit.startup.max_resumed_crashes': -1,
};

// A tab of Firefox. evaluate() and the log go over puppeteer's WebDriver
// BiDi connection itself: puppeteer's evaluate() runs with a user
// activation (so a page could seem to start sound or full screen without a
// gesture), and its console events leave out the workers' entries.
class FirefoxPage extends Page {
  async init() {
    this.connection = this.browser.driver.connection;
    this.context = this.page.mainFrame()._id;
    this.connection.on('log.entryAdded', (entry) => this.logged(entry));
  }

  // Keeps a log entry of this tab, or of a worker (whose entries name no tab).
  logged(entry) {
    const context = entry.source && entry.source.context;
    if (context && context !== this.context) return;
    this.console.push(`${entry.type} ${entry.level}: ${entry.text}`);
    if (entry.level === 'error') this.errors.push(`${entry.type}: ${entry.text}`);
  }

  // Sends one WebDriver BiDi command for this tab; resolves to its result.
  async send(method, params = {}) {
    const { result } = await this.connection.send(method, { context: this.context, ...params });
    return result;
  }

  // Evaluates `expression` (a script; its completion value counts) in the
  // page, awaiting a promise, and returns the value as JSON-able data; a
  // thrown error becomes a rejection.
  async evaluate(expression) {
    const wrapped = `(async () => JSON.stringify(await eval(${JSON.stringify(expression)})))()`;
    const { result } = await this.connection.send('script.evaluate', {
      expression: wrapped, target: { context: this.context }, awaitPromise: true, resultOwnership: 'none',
    });
    if (result.type === 'exception') {
      throw new Error(`in the page: ${result.exceptionDetails.text}`);
    }
    return result.result.type === 'string' ? JSON.parse(result.result.value) : undefined;
  }
}

// Starts the browser on an X server of its own.
export async function launchFirefox() {
  const executablePath = process.env.FIREFOX || '/usr/bin/firefox-esr';
  if (!fs.existsSync(executablePath)) {
    throw new Error(`no browser at ${executablePath} (install Debian's firefox-esr, or set FIREFOX)`);
  }
  const xvfb = await startXvfb();
  const browser = new Browser('firefox', FirefoxPage, xvfb.stop);
  await browser.start({
    browser: 'firefox',
    executablePath,
    timeout: 60000,
    args: ['--no-remote', '--new-instance', '--profile', browser.profile, 'about:blank'],
    extraPrefsFirefox: PREFERENCES,
    env: { ...process.env, DISPLAY: xvfb.display, MOZ_CRASHREPORTER_DISABLE: '1' },
  });
  return browser;
}
