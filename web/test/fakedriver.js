'use strict';
// A stand-in for the driver's WebSocket service on an ephemeral loopback
// port: records what pages send and sends what a test tells it to.
const http = require('node:http');
const { OPCODES, acceptKey, encodeFrame, FrameReader } = require('./websocket-frames');

class FakeConnection {
  constructor(socket) {
    this.socket = socket;
    this.received = []; // texts, in order
    this._waiters = [];
    this.closed = new Promise((resolve) => socket.on('close', resolve));
    const reader = new FrameReader(({ opcode, payload }) => {
      if (opcode === OPCODES.text) {
        this.received.push(payload.toString('utf8'));
        this._wake();
      } else if (opcode === OPCODES.close) {
        socket.end(encodeFrame(OPCODES.close, payload, false));
      } else if (opcode === OPCODES.ping) {
        socket.write(encodeFrame(OPCODES.pong, payload, false));
      }
    });
    socket.on('data', (chunk) => reader.push(chunk));
    socket.on('error', () => {});
  }

  /** Sends a text frame; objects are sent as compact JSON. */
  send(message) {
    const text = typeof message === 'string' ? message : JSON.stringify(message);
    this.socket.write(encodeFrame(OPCODES.text, text, false));
  }

  /** Resolves once `count` texts have arrived (rejects after `timeoutMs`). */
  waitForMessages(count, timeoutMs = 5000) {
    return new Promise((resolve, reject) => {
      const waiter = { count, resolve };
      this._waiters.push(waiter);
      setTimeout(() => reject(new Error(`${this.received.length} of ${count} messages arrived`)), timeoutMs).unref();
      this._wake();
    });
  }

  _wake() {
    this._waiters = this._waiters.filter((w) => {
      if (this.received.length < w.count) return true;
      w.resolve(this.received.slice());
      return false;
    });
  }
}

class FakeDriver {
  /** Listens on 127.0.0.1:`port` (0: any free port). */
  static async start(port = 0) {
    const driver = new FakeDriver();
    await new Promise((resolve, reject) => {
      driver.server.once('error', reject);
      driver.server.listen(port, '127.0.0.1', resolve);
    });
    driver.port = driver.server.address().port;
    driver.url = `ws://127.0.0.1:${driver.port}`;
    return driver;
  }

  constructor() {
    this.connections = [];
    this._waiters = [];
    this.server = http.createServer((req, res) => res.writeHead(404).end());
    this.server.on('upgrade', (req, socket) => {
      socket.write('HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n'
        + `Sec-WebSocket-Accept: ${acceptKey(req.headers['sec-websocket-key'])}\r\n\r\n`);
      const connection = new FakeConnection(socket);
      this.connections.push(connection);
      this._waiters.splice(0).forEach((resolve) => resolve(connection));
    });
  }

  /** The next connection to arrive (or the one already there when none was taken yet). */
  nextConnection(timeoutMs = 5000) {
    return new Promise((resolve, reject) => {
      this._waiters.push(resolve);
      setTimeout(() => reject(new Error('no connection arrived')), timeoutMs).unref();
    });
  }

  /** Stops as the driver does on quit: every page gets a normal close. */
  async stop() {
    for (const c of this.connections) c.socket.end(encodeFrame(OPCODES.close, Buffer.from([0x03, 0xe8]), false));
    await Promise.all(this.connections.map((c) => c.closed));
    await new Promise((resolve) => this.server.close(resolve));
  }
}

module.exports = { FakeDriver };
