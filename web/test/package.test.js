'use strict';
// The package as a web developer gets it: packed, installed from the tarball
// into a fresh project (no network), then used through require, import and
// TypeScript under each module setting, each run against the fake driver.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const { pathToFileURL } = require('node:url');
const { FakeDriver } = require('./fakedriver');
const { NodeWebSocket } = require('./nodewebsocket');

const packageDir = path.join(__dirname, '..');
const tsc = path.join(packageDir, 'node_modules', 'typescript', 'bin', 'tsc');
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'zqsign-package-'));
const project = path.join(work, 'project');
const npmEnv = { ...process.env, npm_config_cache: path.join(work, 'npm-cache'), npm_config_update_notifier: 'false',
                 npm_config_audit: 'false', npm_config_fund: 'false' };

function npm(args, cwd) {
  return execFileSync('npm', args, { cwd, env: npmEnv, encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe'] });
}

function write(file, text) {
  fs.mkdirSync(path.dirname(file), { recursive: true });
  fs.writeFileSync(file, text);
}

test.after(() => fs.rmSync(work, { recursive: true, force: true }));

test('the packed tarball holds the package and nothing else, and installs offline', () => {
  const [packed] = JSON.parse(npm(['pack', '--json', '--pack-destination', work], packageDir));
  assert.deepEqual(packed.files.map((f) => f.path).sort(), [
    'LICENSE', 'README.md', 'package.json', 'zqsign-client.d.mts', 'zqsign-client.d.ts', 'zqsign-client.js',
    'zqsign-client.mjs', 'zqsign-element.d.ts', 'zqsign-element.js']);
  write(path.join(project, 'package.json'), '{ "name": "consumer", "version": "1.0.0", "private": true }\n');
  npm(['install', '--offline', path.join(work, packed.filename)], project);
  const installed = JSON.parse(fs.readFileSync(path.join(project, 'node_modules/zqsign-client/package.json'), 'utf8'));
  assert.equal(installed.license, 'MIT');
  assert.equal(installed.private, undefined);
});

test('require and import give the same named and default export, and construct the client', async () => {
  write(path.join(project, 'with-require.cjs'),
    "const m = require('zqsign-client');\nmodule.exports = { m, client: new m.ZQSignClient({ WebSocket: class {} }) };\n");
  write(path.join(project, 'with-import.mjs'),
    "import D, { ZQSignClient } from 'zqsign-client';\nexport { D, ZQSignClient };\n"
    + 'export const client = new ZQSignClient({ WebSocket: class {} });\n');
  const { m, client } = require(path.join(project, 'with-require.cjs'));
  assert.deepEqual(Object.keys(m).sort(), ['ZQSignClient', 'default']);
  assert.equal(m.default, m.ZQSignClient);
  assert.ok(client instanceof m.ZQSignClient && client instanceof EventTarget);
  const esm = await import(pathToFileURL(path.join(project, 'with-import.mjs')));
  assert.equal(esm.D, esm.ZQSignClient);
  assert.ok(esm.client instanceof esm.ZQSignClient);
  assert.equal(globalThis.ZQSignClient, undefined);
});

// A TypeScript consumer with no DOM library and no Node types: it waits for
// the first picture of a signing, as a page would.
const consumer = `import ZQSignClient, { ZQSignClient as Named } from 'zqsign-client';
import type { ImageDetail, ZQSignWebSocketConstructor } from 'zqsign-client';

export const sameClass: boolean = ZQSignClient === Named;

export function firstPicture(url: string, WebSocket: ZQSignWebSocketConstructor): Promise<ImageDetail> {
  const pad = new ZQSignClient({ url, WebSocket, reconnect: false });
  return new Promise((resolve) => {
    pad.addEventListener('open', () => {
      pad.setOutputDirectory('/srv/signatures/case-42');
      pad.startSigning();
    });
    pad.addEventListener('image', (e) => {
      pad.close();
      resolve(e.detail);
    });
    pad.connect();
  });
}
`;

const settings = [
  { name: 'commonjs', source: 'main.ts', output: 'main.js', options: { module: 'commonjs', moduleResolution: 'node10' } },
  { name: 'nodenext-require', source: 'main.cts', output: 'main.cjs', options: { module: 'nodenext' } },
  { name: 'nodenext-import', source: 'main.mts', output: 'main.mjs', options: { module: 'nodenext' } },
  { name: 'bundler', source: 'main.mts', output: 'main.mjs', options: { module: 'esnext', moduleResolution: 'bundler' } },
];

for (const setting of settings) {
  for (const esModuleInterop of [false, true]) {
    test(`TypeScript, ${setting.name}, esModuleInterop ${esModuleInterop}: compiles without the DOM and signs`, async () => {
      const dir = path.join(project, `ts-${setting.name}-${esModuleInterop}`);
      write(path.join(dir, setting.source), consumer);
      write(path.join(dir, 'tsconfig.json'), JSON.stringify({
        compilerOptions: { ...setting.options, esModuleInterop, strict: true, target: 'es2020', lib: ['es2020'],
                           types: [], skipLibCheck: false, noEmitOnError: true, outDir: 'out' },
        files: [setting.source],
      }));
      try {
        execFileSync(process.execPath, [tsc, '-p', dir], { encoding: 'utf8' });
      } catch (e) {
        assert.fail(`tsc failed:\n${e.stdout}${e.stderr}`);
      }
      const program = await import(pathToFileURL(path.join(dir, 'out', setting.output)));
      assert.equal(program.sameClass, true);

      const driver = await FakeDriver.start();
      try {
        const connection = driver.nextConnection();
        const picture = program.firstPicture(driver.url, NodeWebSocket);
        const page = await connection;
        assert.deepEqual(await page.waitForMessages(2),
          ['{"bizcode":"2025","body":{"data":"/srv/signatures/case-42"}}', '{"bizcode":"2023"}']);
        page.send('{"bizcode":"2006","body":{"signbase64":"iVBORw0KGgo="},"bool":false}');
        assert.deepEqual(await picture, { base64: 'iVBORw0KGgo=', dataUrl: 'data:image/png;base64,iVBORw0KGgo=', drawing: false });
      } finally {
        await driver.stop();
      }
    });
  }
}

test('the element types resolve through the package for a page (DOM library, bundler and node10)', () => {
  for (const moduleResolution of ['bundler', 'node10']) {
    const dir = path.join(project, `ts-element-${moduleResolution}`);
    write(path.join(dir, 'page.ts'), `import type { ConfirmedDetail } from 'zqsign-client/element';
const signer = document.querySelector('zq-signature');
signer?.addEventListener('confirmed', (e) => { const d: ConfirmedDetail = e.detail; signer.title = d.source; });
`);
    write(path.join(dir, 'tsconfig.json'), JSON.stringify({
      compilerOptions: { module: 'esnext', moduleResolution, strict: true, target: 'es2020', lib: ['es2020', 'dom'],
                         types: [], skipLibCheck: false, noEmit: true },
      files: ['page.ts'],
    }));
    try {
      execFileSync(process.execPath, [tsc, '-p', dir], { encoding: 'utf8' });
    } catch (e) {
      assert.fail(`tsc (${moduleResolution}) failed:\n${e.stdout}${e.stderr}`);
    }
  }
});

test('npm publish --dry-run passes', () => {
  const output = execFileSync('npm', ['publish', '--dry-run'], { cwd: packageDir, env: npmEnv, encoding: 'utf8', stdio: 'pipe' });
  assert.match(output, /zqsign-client@\d+\.\d+\.\d+/);
});
