'use strict';
// The client against a fake driver: connecting, reconnecting after a restart,
// the exact JSON of every request, every message parsed into its event, and
// the subscribe step.
const test = require('node:test');
const assert = require('node:assert/strict');
const { ZQSignClient } = require('../zqsign-client.js');
const { FakeDriver } = require('./fakedriver');
const { NodeWebSocket } = require('./nodewebsocket');

function nextEvent(client, type, timeoutMs = 5000) {
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`no '${type}' event`)), timeoutMs);
    client.addEventListener(type, (e) => { clearTimeout(timer); resolve(e.detail); }, { once: true });
  });
}

async function connected(options = {}) {
  const driver = await FakeDriver.start();
  const client = new ZQSignClient({ url: driver.url, WebSocket: NodeWebSocket, reconnectDelayMs: 50, ...options });
  const opened = nextEvent(client, 'open');
  const connection = driver.nextConnection();
  client.connect();
  await opened;
  return { driver, client, connection: await connection };
}

async function finish({ driver, client }) {
  client.close();
  await driver.stop();
}

test('exports one class as the named and the default export, and sets no global except from a script tag', async () => {
  const fs = require('node:fs');
  const vm = require('node:vm');
  const cjs = require('../zqsign-client.js');
  assert.deepEqual(Object.keys(cjs).sort(), ['ZQSignClient', 'default']);
  assert.equal(cjs.__esModule, true);
  assert.equal(cjs.default, cjs.ZQSignClient);
  const esm = await import('../zqsign-client.mjs');
  assert.deepEqual(Object.keys(esm).sort(), ['ZQSignClient', 'default']);
  assert.equal(esm.default, esm.ZQSignClient);
  assert.equal(globalThis.ZQSignClient, undefined);
  assert.equal(esm.ZQSignClient.version, require('../package.json').version);

  const page = vm.createContext({ EventTarget, Event });
  vm.runInContext(fs.readFileSync(require.resolve('../zqsign-client.js'), 'utf8'), page);
  assert.equal(typeof page.ZQSignClient, 'function');
  assert.equal(page.ZQSignClient.version, cjs.ZQSignClient.version);
});

test('without a WebSocket, connect() says what to pass', () => {
  const saved = Object.getOwnPropertyDescriptor(globalThis, 'WebSocket');
  delete globalThis.WebSocket; // Node 22 and later have one
  try {
    const client = new ZQSignClient();
    assert.equal(client.connected, false);
    assert.throws(() => client.connect(), { name: 'TypeError', message: /new ZQSignClient\(\{ WebSocket \}\).*'ws'/ });
  } finally {
    if (saved) Object.defineProperty(globalThis, 'WebSocket', saved);
  }
});

test('connects, reports it, and refuses to send while closed', async () => {
  const driver = await FakeDriver.start();
  const client = new ZQSignClient({ url: driver.url, WebSocket: NodeWebSocket });
  assert.equal(client.connected, false);
  assert.equal(client.startSigning(), false);
  const opened = nextEvent(client, 'open');
  client.connect();
  await opened;
  assert.equal(client.connected, true);
  const closed = nextEvent(client, 'close');
  client.close();
  assert.equal((await closed).willReconnect, false);
  assert.equal(client.connected, false);
  await driver.stop();
});

test('sends every request as the driver expects it, byte for byte', async () => {
  const session = await connected();
  const { client, connection } = session;
  const requests = [
    [() => client.setOutputDirectory('/srv/sig/case 42'), '{"bizcode":"2025","body":{"data":"/srv/sig/case 42"}}'],
    [() => client.startSigning(), '{"bizcode":"2023"}'],
    [() => client.resign(), '{"bizcode":"2021"}'],
    [() => client.confirm(), '{"bizcode":"2022"}'],
    [() => client.cancel(), '{"bizcode":"2024"}'],
    [() => client.requestSerial(), '{"bizcode":"2040"}'],
    [() => client.replayPath('QUJD'), '{"bizcode":"2020","body":{"data":"QUJD"}}'],
    [() => client.subscribe(), '{"bizcode":"2100"}'],
    [() => client.requestStatus(), '{"bizcode":"2101"}'],
    [() => client.requestEvidence({ formats: ['inkml', 'json'], document: { sha256: 'ab'.repeat(32), reason: 'Vertrag' } }),
      `{"bizcode":"2102","body":{"formats":["inkml","json"],"document":{"sha256":"${'ab'.repeat(32)}","reason":"Vertrag"}}}`],
    [() => client.requestEvidence({ formats: new Set(['svg']) }), '{"bizcode":"2102","body":{"formats":["svg"]}}'],
  ];
  for (const [call] of requests) assert.equal(call(), true);
  const received = await connection.waitForMessages(requests.length);
  assert.deepEqual(received, requests.map(([, text]) => text));
  await finish(session);
});

test('turns every message into its event', async () => {
  const session = await connected();
  const { client, connection } = session;
  const messages = [];
  client.addEventListener('message', (e) => messages.push(e.detail.data));

  let image = nextEvent(client, 'image');
  connection.send('{"bizcode":"2006","body":{"signbase64":"iVBORw0KGgo="},"bool":true}');
  assert.deepEqual(await image, { base64: 'iVBORw0KGgo=', dataUrl: 'data:image/png;base64,iVBORw0KGgo=', drawing: true });
  image = nextEvent(client, 'image');
  connection.send('{"bizcode":"2006","body":{"signbase64":""},"bool":false}');
  assert.deepEqual(await image, { base64: '', dataUrl: '', drawing: false });

  const serial = nextEvent(client, 'serial');
  connection.send('{"bizcode":"2040","devicesn":"QZ0000042"}');
  assert.deepEqual(await serial, { serial: 'QZ0000042' });

  const bodies = {
    status: ['2101', { version: '1.0', pad: { model: 'QZ07', vid: '28bd', pid: '600c', serial: 'QZ1' },
      signing: false, replaying: false, directory: '/srv/sig', listen: { addresses: ['127.0.0.1', '::1'], loopbackOnly: true },
      allowedOrigins: [] }],
    result: ['2110', { result: 'confirmed', source: 'pad', saved: true, samples: 812,
      picture: { path: '/srv/sig/save.png', size: 5123 }, pathFile: { path: '/srv/sig/path.save', size: 40213 } }],
    error: ['2111', { code: 1001, text: '    提示信息：    没有可用设备      ', request: '2023' }],
    device: ['2112', { event: 'unplugged', model: 'KZ07', vid: '2207', pid: '0019' }],
    evidence: ['2102', { formats: ['json'], document: null }],
    pendata: ['2113', { version: 1, pad: { model: 'KZ07', pressureRange: [0, 2047] }, canvas: { width: 320, height: 240 },
      strokes: [[{ x: 100, y: 200, p: 300, t: 0 }, { x: 110, y: 205, p: 320, t: 5.002 }]], hover: [] }],
  };
  for (const [type, [bizcode, body]] of Object.entries(bodies)) {
    const event = nextEvent(client, type);
    connection.send({ bizcode, body });
    assert.deepEqual(await event, body, type);
  }

  // Not JSON: nothing at all. An unknown code: only 'message'.
  connection.send('not json');
  const unknown = nextEvent(client, 'message');
  connection.send('{"bizcode":"2999"}');
  assert.deepEqual((await unknown).data, { bizcode: '2999' });
  assert.equal(messages.length, 2 + 1 + Object.keys(bodies).length + 1);
  await finish(session);
});

test('subscribes first on every connection when asked to, and not otherwise', async () => {
  const plain = await connected();
  plain.client.startSigning();
  assert.deepEqual(await plain.connection.waitForMessages(1), ['{"bizcode":"2023"}']);
  await finish(plain);

  const session = await connected({ subscribe: true });
  const { client, driver } = session;
  client.startSigning();
  assert.deepEqual(await session.connection.waitForMessages(2), ['{"bizcode":"2100"}', '{"bizcode":"2023"}']);

  // A page's 'open' handler runs after the subscription went out.
  const port = driver.port;
  client.addEventListener('open', () => client.requestStatus(), { once: true });
  await driver.stop();
  const again = await FakeDriver.start(port);
  const connection = await again.nextConnection();
  assert.deepEqual(await connection.waitForMessages(2), ['{"bizcode":"2100"}', '{"bizcode":"2101"}']);
  client.close();
  await again.stop();
});

test('reconnects after the driver restarts, and stops when closed', async () => {
  const { driver, client } = await connected();
  const port = driver.port;
  const lost = nextEvent(client, 'close');
  await driver.stop();
  assert.deepEqual(await lost, { code: 1000, reason: '', willReconnect: true });

  await new Promise((resolve) => setTimeout(resolve, 200)); // a few failed attempts meanwhile
  const restarted = await FakeDriver.start(port);
  const reopened = nextEvent(client, 'open');
  const connection = restarted.nextConnection();
  await reopened;
  await connection;
  assert.equal(client.connected, true);
  client.requestSerial();
  assert.deepEqual(await (await connection).waitForMessages(1), ['{"bizcode":"2040"}']);

  const closed = nextEvent(client, 'close');
  client.close();
  assert.equal((await closed).willReconnect, false);
  await new Promise((resolve) => setTimeout(resolve, 200));
  assert.equal(restarted.connections.length, 1, 'no reconnect after close()');
  await restarted.stop();
});

// A browser whose page is public https and whose permission is `state`:
// Chromium's current name unknown, the older one known.
function gatedBrowser(state) {
  const status = { state, onchange: null };
  const queried = [];
  const permissions = {
    query: async ({ name }) => {
      queried.push(name);
      if (name === 'loopback-network') throw new TypeError(`'${name}' is not a valid permission name`);
      return status;
    },
  };
  Object.defineProperty(globalThis, 'navigator', { value: { permissions }, configurable: true });
  Object.defineProperty(globalThis, 'location', { value: { protocol: 'https:', hostname: 'bank.example' }, configurable: true });
  return { status, queried, restore: () => { delete globalThis.navigator; delete globalThis.location; } };
}

test('a connection refused while the permission is not granted is blocked, and reopens once granted', async () => {
  const browser = gatedBrowser('prompt');
  try {
    const stopped = await FakeDriver.start();
    const port = stopped.port;
    await stopped.stop();
    const client = new ZQSignClient({ url: `ws://127.0.0.1:${port}`, WebSocket: NodeWebSocket, reconnectDelayMs: 50 });
    const closed = nextEvent(client, 'close');
    const blocked = nextEvent(client, 'blocked');
    client.connect();
    assert.equal((await closed).willReconnect, false);
    assert.deepEqual(await blocked, { name: 'local-network-access', state: 'prompt', url: client.url });
    assert.deepEqual(browser.queried.slice(0, 2), ['loopback-network', 'local-network-access']);

    const driver = await FakeDriver.start(port);
    await new Promise((resolve) => setTimeout(resolve, 200));
    assert.equal(driver.connections.length, 0, 'no retry while blocked');
    const opened = nextEvent(client, 'open');
    const permission = nextEvent(client, 'permission');
    browser.status.state = 'granted';
    browser.status.onchange();
    assert.deepEqual(await permission, { name: 'local-network-access', state: 'granted' });
    await opened;

    // Granted, a driver that went away is an ordinary loss: retried, not blocked.
    const lost = nextEvent(client, 'close');
    await driver.stop();
    assert.equal((await lost).willReconnect, true);
    client.close();
  } finally {
    browser.restore();
  }
});

test('connectWhenAllowed waits for a gesture only where the browser would prompt', async () => {
  const browser = gatedBrowser('prompt');
  const driver = await FakeDriver.start();
  try {
    const page = new EventTarget();
    const client = new ZQSignClient({ url: driver.url, WebSocket: NodeWebSocket });
    const opened = nextEvent(client, 'open');
    const state = client.connectWhenAllowed(page);
    await new Promise((resolve) => setTimeout(resolve, 200));
    assert.equal(driver.connections.length, 0, 'no connection before a gesture');
    page.dispatchEvent(new Event('keydown'));
    assert.equal(await state, 'prompt');
    await opened;
    client.close();

    browser.status.state = 'granted';
    const again = new ZQSignClient({ url: driver.url, WebSocket: NodeWebSocket });
    const reopened = nextEvent(again, 'open');
    assert.equal(await again.connectWhenAllowed(new EventTarget()), 'granted');
    await reopened;
    again.close();
  } finally {
    browser.restore();
    await driver.stop();
  }
});

test('the example browser policies are valid and allow the same sites', () => {
  const fs = require('node:fs');
  const path = require('node:path');
  const read = (name) => JSON.parse(fs.readFileSync(path.join(__dirname, '..', 'policies', name), 'utf8'));
  const chromium = read('chromium-allow-loopback.json');
  assert.deepEqual(chromium.LoopbackNetworkAllowedForUrls, chromium.LocalNetworkAccessAllowedForUrls);
  const firefox = read('firefox-policies.json').policies.LocalNetworkAccess;
  assert.equal(firefox.Enabled, true);
  assert.deepEqual(firefox.SkipDomains.map((d) => d.replace(/^\*\./, '')),
                   chromium.LoopbackNetworkAllowedForUrls.map((u) => new URL(u.replace('[*.]', '')).hostname));
});
