/*
 * ZQSignClient: a dependency-free client for the ZQSignDriver signing service
 * (ws://127.0.0.1:36325). zqsign-client.js serves a <script> tag (it defines
 * the global ZQSignClient) and require(); zqsign-client.mjs serves import and
 * sets no global. Both export ZQSignClient as the named and the default
 * export; the types are in zqsign-client.d.ts and zqsign-client.d.mts.
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
 *   permission  the browser's permission for this page to reach the driver
 *            on 127.0.0.1, when first learnt and whenever it changes;
 *            { name: 'loopback-network' | 'local-network-access' | null,
 *            state: 'granted' | 'prompt' | 'denied' | 'unsupported' }
 *   blocked  a connection failed while that permission was not granted: the
 *            browser, not the driver, stopped it. { name, state, url }.
 *            The client then stops retrying until the permission turns
 *            granted (it reconnects by itself) or connect() is called again.
 *            Tell the person to allow access to local devices (the browser's
 *            prompt, or the site settings), or ask the administrator for the
 *            policy in the integration guide.
 *
 * Current Chromium asks the person before an https page on a public site may
 * open a connection to 127.0.0.1, and never lets a public http page do so.
 * connectWhenAllowed() connects at once where no prompt is due, and otherwise
 * waits for the person's first click or key press, so the prompt follows
 * something they did.
 *
 * Only after subscribing (new ZQSignClient({ subscribe: true }), or
 * subscribe() once connected) does this connection also get:
 *   status   the driver's state; { version, pad, padError, signing,
 *            replaying, directory, listen, allowedOrigins }. Answers
 *            subscribe() and requestStatus().
 *   result   how a signing ended; { result: 'confirmed' | 'cancelled' |
 *            'resigned', source: 'pad' | 'page' | 'driver', and for a
 *            confirm saved, samples, picture, pathFile ({ path, size } or
 *            null), and evidence when pen data was requested }
 *   error    an error box the driver showed or a request it dropped;
 *            { code (1000-1007 or null), text, request (bizcode or null) }
 *   device   a pad plugged in or pulled out; { event: 'plugged' |
 *            'unplugged', model, vid, pid }
 *   evidence what the driver will record of the signing, answering
 *            requestEvidence(); { formats, document }. A request it cannot
 *            take is answered by an 'error' event with request '2102'.
 *   pendata  after a confirm that requestEvidence() asked 'json' of, to
 *            this connection alone: the content of sign.json; { version,
 *            pad, canvas, strokes: [[{ x, y, p, t }]], hover }
 *
 * The driver broadcasts its replies to every connected page. Without a
 * subscription a request that fails simply gets no reply (the driver shows
 * its message box at the machine).
 */
// VERSION is defined by the wrapper that tools/build.js puts around this file.
const DEFAULT_URL = 'ws://127.0.0.1:36325'; // 127.0.0.1: allowed from https pages, where localhost may not be
// The browser permission that gates a page's connections to 127.0.0.1, by
// its current name and the older combined one.
const PERMISSION_NAMES = ['loopback-network', 'local-network-access'];
const GESTURES = ['pointerdown', 'keydown', 'click'];
const NO_WEBSOCKET = 'ZQSignClient: this environment has no global WebSocket. Pass one: '
  + "new ZQSignClient({ WebSocket }), for example with WebSocket from the 'ws' package in Node before 22.";
// Messages of subscribed connections, by bizcode, and the event each becomes.
const EXTENDED = {
  '2101': 'status', '2102': 'evidence', '2110': 'result', '2111': 'error', '2112': 'device', '2113': 'pendata',
};

class ZQSignClient extends EventTarget {
  /**
   * @param {object} [options]
   * @param {string} [options.url]              driver address
   * @param {boolean} [options.reconnect=true]  reconnect after the driver restarts
   * @param {number} [options.reconnectDelayMs=2000]
   * @param {function} [options.WebSocket]      WebSocket implementation (defaults to the global
   *                                            one; in Node before 22, pass e.g. the `ws` package's)
   * @param {boolean} [options.subscribe=false] subscribe to status, result, error and
   *                                            device events on every connection
   */
  constructor(options = {}) {
    super();
    this.url = options.url || DEFAULT_URL;
    this.reconnect = options.reconnect !== false;
    this.reconnectDelayMs = options.reconnectDelayMs || 2000;
    this._WebSocket = options.WebSocket || globalThis.WebSocket;
    this._socket = null;
    this._timer = null;
    this._closedByUser = false;
    this.subscribeOnOpen = options.subscribe === true;
    /** The last permission state learnt; see permissionState(). */
    this.permission = null;
    this._permissionStatus = null;
    this._blocked = false;
  }

  /** The version of this client package. */
  static get version() { return VERSION; }

  /** True while the connection to the driver is open. */
  get connected() {
    return !!this._socket && this._socket.readyState === this._WebSocket.OPEN;
  }

  /** Opens the connection (and keeps reopening it when reconnect is on). */
  connect() {
    if (typeof this._WebSocket !== 'function') throw new TypeError(NO_WEBSOCKET);
    this._closedByUser = false;
    this._blocked = false;
    clearTimeout(this._timer);
    if (this._socket && this._socket.readyState <= this._WebSocket.OPEN) return;
    const socket = new this._WebSocket(this.url);
    this._socket = socket;
    let opened = false;
    socket.onopen = () => {
      opened = true;
      // Before the page's own requests, so their results are heard too.
      if (this.subscribeOnOpen) this.subscribe();
      this._emit('open', {});
    };
    socket.onmessage = (event) => this._receive(event.data);
    socket.onclose = (event) => {
      if (this._socket !== socket) return;
      this._socket = null;
      if (opened) {
        this._closed(event, false);
        return;
      }
      // A connection that never opened: the driver is not running, or the
      // browser refused it, which only the permission state tells apart.
      this.permissionState().then(({ name, state }) => {
        if (this._socket) return; // connect() was called meanwhile
        const blocked = (state === 'prompt' || state === 'denied') && !this._servedWithoutPrompt();
        this._closed(event, blocked);
        if (blocked) this._emit('blocked', { name, state, url: this.url });
      });
    };
  }

  /**
   * Connects at once unless the browser would ask the person first; then
   * waits for their first click or key press on `target` (the document by
   * default). Resolves with the permission state found.
   */
  async connectWhenAllowed(target = globalThis.document) {
    const { state } = await this.permissionState();
    if (state === 'prompt' && !this._servedWithoutPrompt() && target) {
      await new Promise((resolve) => {
        const go = () => {
          for (const type of GESTURES) target.removeEventListener(type, go, true);
          resolve();
        };
        for (const type of GESTURES) target.addEventListener(type, go, true);
      });
    }
    this.connect();
    return state;
  }

  /**
   * The browser's permission for this page to reach the driver: resolves
   * with { name, state }, state 'granted', 'prompt', 'denied', or
   * 'unsupported' where the browser has no such permission (nothing gates
   * the connection then).
   */
  async permissionState() {
    const permissions = globalThis.navigator && globalThis.navigator.permissions;
    let found = null;
    if (permissions && typeof permissions.query === 'function') {
      for (const name of PERMISSION_NAMES) {
        try {
          found = { name, status: await permissions.query({ name }) };
          break;
        } catch (e) {
          // This browser does not know the name; try the next.
        }
      }
    }
    const permission = found ? { name: found.name, state: found.status.state } : { name: null, state: 'unsupported' };
    if (found && found.status !== this._permissionStatus) {
      this._permissionStatus = found.status;
      found.status.onchange = () => this._permissionChanged(found.name, found.status.state);
    }
    this._notePermission(permission);
    return permission;
  }

  _permissionChanged(name, state) {
    this._notePermission({ name, state });
    if (state === 'granted' && this._blocked && !this._closedByUser) this.connect();
  }

  _notePermission(permission) {
    const known = this.permission;
    this.permission = permission;
    if (!known || known.name !== permission.name || known.state !== permission.state) {
      this._emit('permission', permission);
    }
  }

  // Pages on the machine itself are never gated, whatever the permission says.
  _servedWithoutPrompt() {
    const location = globalThis.location;
    if (!location) return true;
    return location.protocol === 'file:' || ['127.0.0.1', 'localhost', '[::1]'].includes(location.hostname);
  }

  _closed(event, blocked) {
    this._blocked = blocked;
    const willReconnect = this.reconnect && !this._closedByUser && !blocked;
    this._emit('close', { code: event.code, reason: event.reason, willReconnect });
    if (willReconnect) this._timer = setTimeout(() => this.connect(), this.reconnectDelayMs);
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

  /** Subscribes this connection to status, result, error and device events; answered by a 'status' event. */
  subscribe() { return this._send('2100'); }

  /** Asks for the driver's status (after subscribe()); answered by a 'status' event. */
  requestStatus() { return this._send('2101'); }

  /**
   * Asks the driver (after subscribe()) to record the pen data of the signing
   * that runs, or else of the next one: `formats` any of 'inkml', 'json' and
   * 'svg', written beside save.png with sign.manifest.json; `document`
   * optionally { sha256: 64 hex digits, reason: at most 200 characters }.
   * Answered by an 'evidence' event, or an 'error' event for a bad request.
   */
  requestEvidence({ formats = [], document = null } = {}) {
    const body = { formats: Array.from(formats, String) };
    if (document) body.document = document;
    return this._send('2102', body);
  }

  /** Replays a stored pen path; `base64` is the Base64 text of a path.save file. */
  replayPath(base64) { return this._send('2020', { data: String(base64) }); }

  /** Replays a path.save file chosen by the user (a File or Blob). */
  async replayPathFile(blob) {
    const bytes = new Uint8Array(await blob.arrayBuffer());
    let binary = '';
    for (let i = 0; i < bytes.length; i += 0x8000) {
      binary += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
    }
    return this.replayPath(globalThis.btoa(binary));
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
    } else if (EXTENDED[data.bizcode] && data.body && typeof data.body === 'object') {
      this._emit(EXTENDED[data.bizcode], data.body);
    }
  }

  _emit(type, detail) {
    let event;
    if (typeof globalThis.CustomEvent === 'function') {
      event = new globalThis.CustomEvent(type, { detail });
    } else {
      event = new Event(type); // Node before 19 has no CustomEvent
      Object.defineProperty(event, 'detail', { value: detail });
    }
    this.dispatchEvent(event);
  }
}

