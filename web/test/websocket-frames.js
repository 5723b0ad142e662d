'use strict';
// Just enough of the WebSocket wire format (RFC 6455) for the client's tests:
// whole text, close, ping and pong frames, masked from clients, plain from servers.
const crypto = require('node:crypto');

const GUID = '258EAFA5-E914-47DA-95CA-C5AB0DC85B11';
const OPCODES = { text: 0x1, close: 0x8, ping: 0x9, pong: 0xa };

function acceptKey(key) {
  return crypto.createHash('sha1').update(key + GUID).digest('base64');
}

function encodeFrame(opcode, payload, masked) {
  const data = Buffer.isBuffer(payload) ? payload : Buffer.from(payload || '', 'utf8');
  let header;
  if (data.length < 126) {
    header = Buffer.from([0x80 | opcode, data.length]);
  } else if (data.length < 0x10000) {
    header = Buffer.alloc(4);
    header[0] = 0x80 | opcode; header[1] = 126; header.writeUInt16BE(data.length, 2);
  } else {
    header = Buffer.alloc(10);
    header[0] = 0x80 | opcode; header[1] = 127; header.writeBigUInt64BE(BigInt(data.length), 2);
  }
  if (!masked) return Buffer.concat([header, data]);
  header[1] |= 0x80;
  const mask = crypto.randomBytes(4);
  const body = Buffer.from(data);
  for (let i = 0; i < body.length; i++) body[i] ^= mask[i % 4];
  return Buffer.concat([header, mask, body]);
}

// Feeds bytes in, calls onFrame({ opcode, payload }) for every whole frame.
class FrameReader {
  constructor(onFrame) {
    this._buffer = Buffer.alloc(0);
    this._onFrame = onFrame;
  }

  push(chunk) {
    this._buffer = Buffer.concat([this._buffer, chunk]);
    for (;;) {
      const b = this._buffer;
      if (b.length < 2) return;
      const masked = (b[1] & 0x80) !== 0;
      let length = b[1] & 0x7f;
      let offset = 2;
      if (length === 126) {
        if (b.length < 4) return;
        length = b.readUInt16BE(2); offset = 4;
      } else if (length === 127) {
        if (b.length < 10) return;
        length = Number(b.readBigUInt64BE(2)); offset = 10;
      }
      const maskOffset = offset;
      if (masked) offset += 4;
      if (b.length < offset + length) return;
      const payload = Buffer.from(b.subarray(offset, offset + length));
      if (masked) for (let i = 0; i < payload.length; i++) payload[i] ^= b[maskOffset + (i % 4)];
      this._buffer = b.subarray(offset + length);
      this._onFrame({ opcode: b[0] & 0x0f, payload });
    }
  }
}

module.exports = { OPCODES, acceptKey, encodeFrame, FrameReader };
