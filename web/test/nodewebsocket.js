'use strict';
// A browser-shaped WebSocket for Node (which has none by default before
// version 22): readyState, onopen, onmessage, onclose, send and close; the
// client under test uses nothing else.
const http = require('node:http');
const crypto = require('node:crypto');
const { OPCODES, acceptKey, encodeFrame, FrameReader } = require('./websocket-frames');

class NodeWebSocket {
  constructor(url) {
    this.url = url;
    this.readyState = NodeWebSocket.CONNECTING;
    this.onopen = this.onmessage = this.onclose = null;
    const key = crypto.randomBytes(16).toString('base64');
    const { hostname, port } = new URL(url);
    const request = http.request({
      host: hostname, port, path: '/',
      headers: { Connection: 'Upgrade', Upgrade: 'websocket', 'Sec-WebSocket-Version': '13', 'Sec-WebSocket-Key': key },
    });
    request.on('upgrade', (res, socket) => {
      if (res.headers['sec-websocket-accept'] !== acceptKey(key)) return socket.destroy();
      this._socket = socket;
      const reader = new FrameReader(({ opcode, payload }) => {
        if (opcode === OPCODES.text && this.onmessage) this.onmessage({ data: payload.toString('utf8') });
        if (opcode === OPCODES.close) {
          this._closeCode = payload.length >= 2 ? payload.readUInt16BE(0) : 1005;
          if (this.readyState === NodeWebSocket.OPEN) socket.end(encodeFrame(OPCODES.close, payload, true));
          this.readyState = NodeWebSocket.CLOSING;
        }
      });
      socket.on('data', (chunk) => reader.push(chunk));
      socket.on('close', () => this._closed());
      socket.on('error', () => {});
      this.readyState = NodeWebSocket.OPEN;
      if (this.onopen) this.onopen({});
    });
    request.on('error', () => this._closed());
    request.end();
  }

  send(text) {
    if (this.readyState !== NodeWebSocket.OPEN) throw new Error('not open');
    this._socket.write(encodeFrame(OPCODES.text, text, true));
  }

  close(code = 1000) {
    if (this.readyState !== NodeWebSocket.OPEN) return;
    this.readyState = NodeWebSocket.CLOSING;
    const payload = Buffer.alloc(2);
    payload.writeUInt16BE(code);
    this._socket.write(encodeFrame(OPCODES.close, payload, true));
  }

  _closed() {
    if (this.readyState === NodeWebSocket.CLOSED) return;
    this.readyState = NodeWebSocket.CLOSED;
    if (this.onclose) this.onclose({ code: this._closeCode || 1006, reason: '' });
  }
}
NodeWebSocket.CONNECTING = 0;
NodeWebSocket.OPEN = 1;
NodeWebSocket.CLOSING = 2;
NodeWebSocket.CLOSED = 3;

module.exports = { NodeWebSocket };
