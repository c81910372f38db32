#!/usr/bin/env node
// single-file: writes the one-file page (demo.html) from the built web
// folder. The folder's index.html is taken as it is, with
//   - the style sheet's link replaced by the style sheet itself;
//   - the page's module script (main.js) replaced by two elements: the
//     parts that the page would otherwise fetch or load by URL, as JSON text
//     in <script type="application/json" id="demo-parts"> (see
//     page_parts.js: the emscripten loader, the Worker, the audio worklets
//     and the shader as text, demo.wasm as base64), and main.js with the
//     modules it imports, bundled into one inline module script.
// Bundling is plain: each module becomes a function whose result holds its
// exports, and each `import { a, b } from './x.js';` takes them from there.
// Only the forms that the page's modules use are accepted; anything else
// (another form of import or export, a text that could end the script
// element early) stops the build with a message. The output appears only
// when complete (temporary name, then rename).
// Usage: node single_file.mjs SITE_FOLDER OUTPUT
import fs from 'node:fs';
import path from 'node:path';

const USAGE = 'Usage: single_file.mjs SITE_FOLDER OUTPUT\n'
  + 'Writes OUTPUT, one HTML file holding the web folder SITE_FOLDER\'s page and everything it loads.\n';

const args = process.argv.slice(2);
if (args.length === 1 && (args[0] === '--help' || args[0] === '-h')) {
  process.stdout.write(USAGE);
  process.exit(0);
}
if (args.length !== 2) {
  process.stderr.write(`single_file: expected 2 arguments, got ${args.length}\n${USAGE}`);
  process.exit(2);
}
const [site, output] = args;

function fatal(text) {
  process.stderr.write(`single_file: ${text}\n`);
  process.exit(1);
}

function read(name, encoding = 'utf8') {
  try {
    return fs.readFileSync(path.join(site, name), encoding);
  } catch (error) {
    fatal(`cannot read ${path.join(site, name)}: ${error.message}`);
  }
}

const IMPORT = /^import \{([^}]*)\} from '\.\/([\w.-]+\.js)';$/;
const EXPORT = /^export (?:async function|function|class|const|let) ([A-Za-z_$][\w$]*)/;

// The modules from `entry` on, each after those it imports.
function bundle(entry) {
  const done = new Map();
  const visiting = new Set();
  const order = [];
  function visit(name) {
    if (done.has(name)) return;
    if (visiting.has(name)) fatal(`${name} imports itself through others`);
    visiting.add(name);
    const lines = read(name).split('\n');
    const exports = [];
    const body = lines.map((line, i) => {
      const imported = IMPORT.exec(line);
      if (imported) {
        if (/\bas\b/.test(imported[1])) fatal(`${name}:${i + 1}: renaming imports is not bundled`);
        visit(imported[2]);
        return `const {${imported[1]}} = modules[${JSON.stringify(imported[2])}];`;
      }
      const exported = EXPORT.exec(line);
      if (exported) {
        exports.push(exported[1]);
        return line.slice('export '.length);
      }
      if (/^\s*(import|export)\b/.test(line)) fatal(`${name}:${i + 1}: a form of import or export that is not bundled`);
      return line;
    });
    visiting.delete(name);
    done.set(name, true);
    order.push(`modules[${JSON.stringify(name)}] = (() => {\n${body.join('\n')}\nreturn { ${exports.join(', ')} };\n})();`);
  }
  visit(entry);
  return `const modules = {};\n${order.join('\n')}\n`;
}

// Text that an inline element may hold: nothing that ends it early.
function inlineSafe(text, what, element) {
  if (new RegExp(`</${element}`, 'i').test(text) || /<!--/.test(text)) {
    fatal(`${what} holds text that would end its <${element}> element early`);
  }
  return text;
}

function replaceOnce(text, pattern, replacement, what) {
  const count = text.split(pattern).length - 1;
  if (count !== 1) fatal(`index.html holds ${count} ${what}, not one`);
  return text.replace(pattern, () => replacement);
}

const parts = {
  'demo.js': read('demo.js'),
  'synth_worker.js': read('synth_worker.js'),
  'player_worklet.js': read('player_worklet.js'),
  'recorder_worklet.js': read('recorder_worklet.js'),
  'scene.frag': read('scene.frag'),
  'demo.wasm': read('demo.wasm', null).toString('base64'),
};
// As JSON with every '<' escaped, the parts cannot end their element early.
const partsJson = JSON.stringify(parts).replace(/</g, '\\u003c');

let page = read('index.html');
page = replaceOnce(page, '<link rel="stylesheet" href="style.css">',
  `<style>\n${inlineSafe(read('style.css'), 'style.css', 'style')}</style>`, 'style sheet links');
page = replaceOnce(page, '<script type="module" src="main.js"></script>',
  `<script type="application/json" id="demo-parts">${partsJson}</script>\n`
  + `<script type="module">\n${inlineSafe(bundle('main.js'), 'the bundled main.js', 'script')}</script>`,
  'main.js module scripts');

const temporary = `${output}.tmp-${process.pid}`;
try {
  fs.writeFileSync(temporary, page);
  fs.renameSync(temporary, output);
} catch (error) {
  fs.rmSync(temporary, { force: true });
  fatal(`cannot write ${output}: ${error.message}`);
}
