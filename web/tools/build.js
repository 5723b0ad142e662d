#!/usr/bin/env node
'use strict';
// Writes the package's client files from their one source, src/client.js and
// src/client.d.ts, with the version from package.json:
//   zqsign-client.js    a <script> tag (global ZQSignClient) or CommonJS
//   zqsign-client.mjs   an ES module, no global
//   zqsign-client.d.ts, zqsign-client.d.mts   the declarations of each
// The results are committed, since the driver builds them into its binary
// without Node. `node tools/build.js --check` fails when they are stale.
const fs = require('node:fs');
const path = require('node:path');

const root = path.join(__dirname, '..');
const read = (name) => fs.readFileSync(path.join(root, name), 'utf8');

function outputs() {
  const { version } = JSON.parse(read('package.json'));
  const body = read('src/client.js').trimEnd() + '\n';
  const types = read('src/client.d.ts');
  const note = (source) => `// Generated from ${source} by tools/build.js (npm run build); edit that file instead.\n`;
  const constant = `const VERSION = ${JSON.stringify(version)};\n`;
  const indented = body.replace(/^(?=.)/gm, '  ');
  return {
    'zqsign-client.js': note('src/client.js')
      + '(function () {\n'
      + "  'use strict';\n"
      + '  ' + constant + '\n'
      + indented + '\n'
      + "  if (typeof module === 'object' && module && typeof module.exports === 'object') {\n"
      + '    // CommonJS: exactly the named and the default export of the declarations.\n'
      + "    Object.defineProperty(exports, '__esModule', { value: true });\n"
      + '    exports.ZQSignClient = ZQSignClient;\n'
      + '    exports.default = ZQSignClient;\n'
      + '  } else {\n'
      + '    globalThis.ZQSignClient = ZQSignClient; // a classic <script>\n'
      + '  }\n'
      + '})();\n',
    'zqsign-client.mjs': note('src/client.js') + constant + '\n' + body + '\n'
      + 'export { ZQSignClient };\nexport default ZQSignClient;\n',
    'zqsign-client.d.ts': note('src/client.d.ts') + types,
    'zqsign-client.d.mts': note('src/client.d.ts') + types,
  };
}

function main(argv) {
  const check = argv.includes('--check');
  const stale = [];
  for (const [name, text] of Object.entries(outputs())) {
    const file = path.join(root, name);
    const current = fs.existsSync(file) ? fs.readFileSync(file, 'utf8') : null;
    if (current === text) continue;
    if (check) stale.push(name);
    else fs.writeFileSync(file, text);
  }
  if (stale.length) {
    console.error(`${stale.join(', ')}: not what tools/build.js makes from src/; run npm run build`);
    return 1;
  }
  return 0;
}

if (require.main === module) process.exitCode = main(process.argv.slice(2));
module.exports = { outputs };
