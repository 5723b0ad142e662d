/*
 * zqsign-client.js: a dependency-free client for the ZQSignDriver signing
 * service (ws://127.0.0.1:36325). Include it with a plain <script> tag; it
 * defines the global class ZQSignClient (and exports it under CommonJS).
 *
 *   const pad = new ZQSignClient();
 *   pad.addEventListener('image', (e) => { img.src = e.detail.dataUrl; });
 *   pad.addEventListener('serial', (e) => console.log(e.detail.serial));
 *   pad.connect();
 *   pad.setOutputDirectory('/home/clerk/signatures/case-42');
 *   pad.startSigning();
 *
 * Events (all CustomEvent, data in event.detail):
 *   open     connected to the driver
 *   close    connection lost; { code, reason, willReconnect }
 *   image    a picture of the ink; { base64, dataUrl, drawing }.
 *            drawing is true while a signature is drawn or replayed, and
 *            false right after the driver cleared its canvas (start, re-sign,
 *            confirm, cancel). The last picture with drawing true before a
 *            confirm is the signature the driver saved.
 *   serial   the pad's serial number; { serial }
 *   message  every message the driver sent, parsed; { data }
 *
 * The driver broadcasts its replies to every connected page and reports
 * failures (no pad, busy pad, unwritable directory) in a message box at the
 * machine, never to pages: a request that fails simply gets no reply.
 */
(function (root) {
  'use strict';

  const DEFAULT_URL = 'ws://127.0.0.1:36325'; // 127.0.0.1: allowed from https pages, where localhost may not be

  class ZQSignClient extends EventTarget {
    /**
     * @param {object} [options]
     * @param {string} [options.url]              driver address
     * @param {boolean} [options.reconnect=true]  reconnect after the driver restarts
     * @param {number} [options.reconnectDelayMs=2000]
     * @param {function} [options.WebSocket]      WebSocket implementation (defaults to the browser's)
     */
    constructor(options = {}) {
      super();
      this.url = options.url || DEFAULT_URL;
      this.reconnect = options.reconnect !== false;
      this.reconnectDelayMs = options.reconnectDelayMs || 2000;
      this._WebSocket = options.WebSocket || root.WebSocket;
      this._socket = null;
      this._timer = null;
      this._closedByUser = false;
    }

    /** True while the connection to the driver is open. */
    get connected() {
      return !!this._socket && this._socket.readyState === this._WebSocket.OPEN;
    }

    /** Opens the connection (and keeps reopening it when reconnect is on). */
    connect() {
      this._closedByUser = false;
      clearTimeout(this._timer);
      if (this._socket && this._socket.readyState <= this._WebSocket.OPEN) return;
      const socket = new this._WebSocket(this.url);
      this._socket = socket;
      socket.onopen = () => this._emit('open', {});
      socket.onmessage = (event) => this._receive(event.data);
      socket.onclose = (event) => {
        if (this._socket !== socket) return;
        this._socket = null;
        const willReconnect = this.reconnect && !this._closedByUser;
        this._emit('close', { code: event.code, reason: event.reason, willReconnect });
        if (willReconnect) this._timer = setTimeout(() => this.connect(), this.reconnectDelayMs);
      };
    }

    /** Closes the connection for good. */
    close() {
      this._closedByUser = true;
      clearTimeout(this._timer);
      if (this._socket) this._socket.close(1000);
    }

    /** Where the driver writes save.png and path.save (created if missing). */
    setOutputDirectory(directory) { return this._send('2025', { data: String(directory) }); }

    /** Starts a signing on the attached pad. */
    startSigning() { return this._send('2023'); }

    /** Clears the signature and lets the person sign again. */
    resign() { return this._send('2021'); }

    /** Ends the signing and saves save.png and path.save. */
    confirm() { return this._send('2022'); }

    /** Ends the signing without saving. */
    cancel() { return this._send('2024'); }

    /** Asks for the pad's serial number (answered by a 'serial' event). */
    requestSerial() { return this._send('2040'); }

    /** Replays a stored pen path; `base64` is the Base64 text of a path.save file. */
    replayPath(base64) { return this._send('2020', { data: String(base64) }); }

    /** Replays a path.save file chosen by the user (a File or Blob). */
    async replayPathFile(blob) {
      const bytes = new Uint8Array(await blob.arrayBuffer());
      let binary = '';
      for (let i = 0; i < bytes.length; i += 0x8000) {
        binary += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
      }
      return this.replayPath(root.btoa(binary));
    }

    _send(bizcode, body) {
      if (!this.connected) return false;
      const request = body === undefined ? { bizcode } : { bizcode, body };
      this._socket.send(JSON.stringify(request));
      return true;
    }

    _receive(text) {
      let data;
      try {
        data = JSON.parse(text);
      } catch (e) {
        return;
      }
      this._emit('message', { data });
      if (data.bizcode === '2006' && data.body) {
        const base64 = data.body.signbase64 || '';
        this._emit('image', {
          base64,
          dataUrl: base64 ? 'data:image/png;base64,' + base64 : '',
          drawing: data.bool === true,
        });
      } else if (data.bizcode === '2040') {
        this._emit('serial', { serial: data.devicesn });
      }
    }

    _emit(type, detail) {
      this.dispatchEvent(new CustomEvent(type, { detail }));
    }
  }

  root.ZQSignClient = ZQSignClient;
  if (typeof module === 'object' && module.exports) module.exports = ZQSignClient;
})(typeof window !== 'undefined' ? window : globalThis);
