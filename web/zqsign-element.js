// <zq-signature>: one tag that takes a signature. With the ZQSignDriver and
// a pad it shows the pad's live ink; with no driver, no pad, or a browser that
// blocks the connection, the person signs on the screen instead (Pointer
// Events). Either way a confirm raises `confirmed` with the picture as a PNG
// data URL. An ES module with no dependency but the client; registering the
// element is its only side effect.
//
//   <script type="module" src="zqsign-element.js"></script>
//   <zq-signature directory="/srv/signatures/case-42"></zq-signature>
//
// Attributes: directory (where the driver saves save.png and path.save), url
// (the driver, default ws://127.0.0.1:36325), autostart (start a signing once
// ready), pen-data (on the pad, also record the pen's data: the formats the
// driver writes beside save.png, any of "inkml json svg"; empty means
// "json"), document-sha256 and document-reason (the document the signature
// is for, named in the pen data's manifest); mode is set by the element:
// connecting, pad or screen.
// Methods: start(), resign(), confirm(), cancel(): what its buttons do.
// Events (CustomEvent, not bubbling): confirmed { dataUrl, source: 'pad' |
// 'screen', points?: [{ x, y, p, t }], penData? }, cancelled { source },
// error { code, text, request }. On the screen, points are in the picture's
// pixels; on the pad (with pen-data naming json) in the pad's units, with p
// scaled to 0-1 and penData the whole sign.json.
import { ZQSignClient } from './zqsign-client.mjs';

// A driver that answers no subscription (older versions) is taken to have a pad.
const STATUS_WAIT_MS = 3000;
// Errors that concern a signing on the pad: its requests, or none (the pad, a save).
const SIGNING_REQUESTS = [null, '2025', '2023', '2021', '2022', '2024'];

const WORDS = {
  connecting: 'Looking for the signature pad…',
  askBrowser: 'Press “Start signing”. Your browser may ask to allow the signature pad.',
  padReady: 'Ready to sign on the signature pad.',
  padStarting: 'Starting the signature pad…',
  padSigning: 'Please sign on the signature pad.',
  screenReady: 'Ready to sign here on the screen.',
  screenSigning: 'Please sign in the box with your finger, a pen or the mouse.',
  noDriver: 'The signature pad is not available, so the signature is taken on the screen.',
  blocked: 'The browser did not allow the signature pad, so the signature is taken on the screen.',
  lost: 'The signature pad was disconnected. Please sign here on the screen instead.',
  padFailed: 'The signature pad could not start. Please sign here on the screen instead.',
  padBack: 'The signature pad is ready again.',
  confirmed: 'Thank you, the signature is confirmed.',
  cancelled: 'The signature was cancelled.',
};

const STYLE = `
  :host { display: block; inline-size: 100%; block-size: 20em; min-block-size: 12em;
          box-sizing: border-box; font: inherit; color: inherit; }
  :host([hidden]) { display: none; }
  .frame { display: flex; flex-direction: column; gap: 0.5em; block-size: 100%; box-sizing: border-box; }
  .status { margin: 0; min-block-size: 1.4em; }
  .area { position: relative; flex: 1 1 auto; min-block-size: 6em; border: 2px dashed #8a8a8a;
          border-radius: 6px; background: #fff; overflow: hidden; }
  :host([mode="screen"]) .area { border-style: solid; border-color: #2b5fad; cursor: crosshair; }
  .area > * { position: absolute; inset: 0; inline-size: 100%; block-size: 100%; }
  .live { object-fit: contain; }
  canvas { touch-action: none; }
  .buttons { display: flex; flex-wrap: wrap; gap: 0.5em; }
  button { font: inherit; min-block-size: 2.75em; min-inline-size: 6em; padding: 0 1em; cursor: pointer; }
  button:focus-visible { outline: 3px solid #2b5fad; outline-offset: 2px; }
  button:disabled { cursor: default; }
  [hidden] { display: none !important; }
`;

// The on-screen signing area: draws what the pointer writes and records each
// point as { x, y, p, t }: x and y in the picture's pixels, p the pointer's
// pressure (0 to 1; devices without pressure report 0.5 while touching, and
// each stroke ends with a point of p 0), t in ms since the first point.
class ScreenInk {
  constructor(canvas, onInk) {
    this.canvas = canvas;
    this.onInk = onInk;
    this.points = [];
    this.color = '#14286e';
    this.enabled = false;
    this._stroke = null; // the pointer id of the stroke being drawn
    this._start = 0;
    this._last = null;
    for (const type of ['pointerdown', 'pointermove', 'pointerup', 'pointercancel']) {
      canvas.addEventListener(type, (e) => this._pointer(e));
    }
  }

  // A blank picture the size of the area on the screen now, in device pixels.
  clear() {
    const box = this.canvas.getBoundingClientRect();
    const scale = globalThis.devicePixelRatio || 1;
    this.canvas.width = Math.max(1, Math.round(box.width * scale));
    this.canvas.height = Math.max(1, Math.round(box.height * scale));
    this.points = [];
    this._stroke = null;
    this._last = null;
    this._lineWidth = 2.5 * scale;
  }

  get hasInk() { return this.points.length > 0; }

  _pointer(e) {
    if (!this.enabled) return;
    if (e.type === 'pointerdown') {
      if (this._stroke !== null) return;
      this._stroke = e.pointerId;
      try {
        this.canvas.setPointerCapture(e.pointerId); // the stroke goes on outside the area
      } catch (error) {
        // A pointer the browser no longer knows: the stroke ends at the edge.
      }
      this._last = null;
      this._add(e, touching(e));
    } else if (e.pointerId === this._stroke) {
      if (e.type === 'pointermove') {
        const events = typeof e.getCoalescedEvents === 'function' ? e.getCoalescedEvents() : [];
        for (const one of events.length ? events : [e]) this._add(one, touching(one));
      } else {
        this._add(e, 0);
        this._stroke = null;
      }
    } else {
      return;
    }
    e.preventDefault();
  }

  _add(e, pressure) {
    const box = this.canvas.getBoundingClientRect();
    if (!box.width || !box.height) return;
    if (!this.points.length) this._start = e.timeStamp;
    const point = {
      x: round((e.clientX - box.left) * this.canvas.width / box.width),
      y: round((e.clientY - box.top) * this.canvas.height / box.height),
      p: Math.round(pressure * 1000) / 1000,
      t: round(e.timeStamp - this._start),
    };
    this.points.push(point);
    if (this._last) this._line(this._last, point);
    this._last = pressure > 0 ? point : null;
    this.onInk();
  }

  _line(from, to) {
    const g = this.canvas.getContext('2d');
    g.strokeStyle = this.color;
    g.lineCap = 'round';
    g.lineJoin = 'round';
    g.lineWidth = this._lineWidth * (0.5 + Math.max(from.p, to.p));
    g.beginPath();
    g.moveTo(from.x, from.y);
    g.lineTo(to.x, to.y);
    g.stroke();
  }
}

// The pressure of a pointer that touches: what it reports, or 0.5 for one
// that reports none (as browsers do for a mouse with a button down).
function touching(e) {
  return e.pressure > 0 ? e.pressure : 0.5;
}

function round(value) {
  return Math.round(value * 10) / 10;
}

// Every sample of a sign.json in time order, the pen in the air with p 0,
// p scaled by the pad's pressure range.
function padPoints(penData) {
  const [, most] = (penData.pad && penData.pad.pressureRange) || [0, 1];
  const all = [...(penData.strokes || []), ...(penData.hover || [])].flat();
  all.sort((a, b) => a.t - b.t);
  return all.map(({ x, y, p, t }) => ({ x, y, p: most > 0 ? Math.round((p / most) * 1000) / 1000 : 0, t }));
}

export class ZQSignatureElement extends HTMLElement {
  static get observedAttributes() { return ['url']; }

  #client = null;
  #mode = 'connecting';
  #driverUp = false;     // connected to the driver
  #driverTried = false;  // a connection was tried and failed or ended
  #padPresent = null;    // true, false, or null while unknown
  #statusTimer = 0;
  #notice = '';          // why the mode is what it is, shown before the prompt
  #signing = null;       // null, 'pad' or 'screen'
  #startWanted = false;  // start() came while the mode was unknown
  #autostarted = false;
  #padCommand = null;    // 'start', 'resign', 'confirm' or 'cancel' sent, its picture not yet back
  #padInk = '';          // the last picture with ink of this signing
  #penDataAsked = false; // this pad signing's pen data comes back as sign.json
  #penData = null;       // that sign.json, once the driver sent it
  #ui;
  #screen;

  constructor() {
    super();
    const root = this.attachShadow({ mode: 'open' });
    root.innerHTML = `<style>${STYLE}</style>
      <div class="frame" part="frame">
        <p class="status" part="status" role="status" aria-live="polite"></p>
        <div class="area" part="area">
          <img class="live" part="live" alt="" hidden>
          <canvas part="canvas" role="img" aria-label="Signature area" hidden></canvas>
        </div>
        <div class="buttons" part="buttons">
          <button type="button" part="button start" data-action="start">Start signing</button>
          <button type="button" part="button resign" data-action="resign" hidden>Sign again</button>
          <button type="button" part="button confirm" data-action="confirm" hidden>Confirm</button>
          <button type="button" part="button cancel" data-action="cancel" hidden>Cancel</button>
        </div>
      </div>`;
    const $ = (selector) => root.querySelector(selector);
    this.#ui = {
      status: $('.status'), live: $('.live'), canvas: $('canvas'),
      start: $('[data-action=start]'), resign: $('[data-action=resign]'),
      confirm: $('[data-action=confirm]'), cancel: $('[data-action=cancel]'),
    };
    for (const action of ['start', 'resign', 'confirm', 'cancel']) {
      this.#ui[action].addEventListener('click', () => this[action]());
    }
    this.#screen = new ScreenInk(this.#ui.canvas, () => this.#render());
  }

  /** connecting, pad or screen. */
  get mode() { return this.#mode; }

  get directory() { return this.getAttribute('directory') || ''; }
  set directory(value) { this.setAttribute('directory', value); }

  connectedCallback() {
    this.setAttribute('mode', this.#mode);
    this.#connect();
    this.#render();
  }

  disconnectedCallback() {
    this.#disconnect();
  }

  attributeChangedCallback(name, before, after) {
    if (name === 'url' && this.#client && before !== after) {
      this.#disconnect();
      this.#connect();
    }
  }

  /** Starts a signing: on the pad, or on the screen without one. */
  start() {
    this.#notice = '';
    this.#begin();
  }

  /** Clears the signature so that the person signs again. */
  resign() {
    if (this.#signing === 'pad') {
      this.#padInk = '';
      this.#padCommand = 'resign';
      this.#client.resign();
    } else if (this.#signing === 'screen') {
      this.#screen.clear();
      this.#update();
    }
    this.#render();
  }

  /** Ends the signing and raises `confirmed`; nothing happens before there is ink. */
  confirm() {
    if (!this.#hasInk()) return;
    if (this.#signing === 'pad') {
      this.#padCommand = 'confirm';
      this.#client.confirm();
      this.#render();
      return;
    }
    const points = this.#screen.points.slice();
    const dataUrl = this.#ui.canvas.toDataURL('image/png');
    this.#finish();
    this.#confirmed('screen', dataUrl, points);
  }

  /** Ends the signing without a signature and raises `cancelled`. */
  cancel() {
    if (this.#signing === 'pad') {
      this.#padCommand = 'cancel';
      this.#client.cancel();
      this.#render();
    } else if (this.#signing === 'screen') {
      this.#finish();
      this.#cancelled('screen');
    } else {
      this.#startWanted = false;
      this.#render();
    }
  }

  #begin() {
    if (this.#signing) return;
    this.#startWanted = this.#mode === 'connecting';
    if (this.#startWanted) {
      this.#render();
    } else if (this.#mode === 'pad') {
      this.#signing = 'pad';
      this.#padInk = '';
      this.#ui.live.removeAttribute('src');
      if (this.directory) this.#client.setOutputDirectory(this.directory);
      this.#askForPenData();
      this.#padCommand = 'start';
      this.#client.startSigning();
    } else {
      this.#signing = 'screen';
      this.#showArea();
      this.#screen.color = getComputedStyle(this).getPropertyValue('--zq-ink-color').trim() || '#14286e';
      this.#screen.clear();
      this.#screen.enabled = true;
    }
    this.#render();
  }

  #connect() {
    const url = this.getAttribute('url') || undefined;
    const client = new ZQSignClient({ url, subscribe: true });
    this.#client = client;
    this.#driverTried = false;
    this.#padPresent = null;
    const on = (type, handler) => client.addEventListener(type, (e) => {
      if (this.#client === client) handler(e.detail);
    });
    on('open', () => {
      this.#driverUp = true;
      this.#padPresent = null;
      clearTimeout(this.#statusTimer);
      this.#statusTimer = setTimeout(() => {
        if (this.#driverUp && this.#padPresent === null) this.#padChanged(true);
      }, STATUS_WAIT_MS);
      this.#update();
    });
    on('close', () => this.#driverGone(WORDS.noDriver));
    on('blocked', () => {
      this.#driverGone(WORDS.blocked);
      this.#notice = WORDS.blocked; // after the close that came first
      this.#render();
    });
    on('permission', () => this.#render());
    on('status', (status) => this.#padChanged(!!status.pad));
    on('device', (device) => this.#padChanged(device.event === 'plugged'));
    on('image', (image) => this.#padPicture(image));
    on('result', (result) => this.#padResult(result));
    on('pendata', (penData) => {
      if (this.#signing === 'pad') this.#penData = penData;
    });
    on('error', (error) => this.#driverError(error));
    client.connectWhenAllowed();
  }

  #disconnect() {
    clearTimeout(this.#statusTimer);
    if (this.#client) this.#client.close();
    this.#client = null;
    this.#driverUp = false;
    if (this.#signing === 'pad') this.#finish();
  }

  #driverGone(why) {
    clearTimeout(this.#statusTimer);
    const wasUp = this.#driverUp;
    this.#driverUp = false;
    this.#driverTried = true;
    if (wasUp || this.#mode !== 'screen') this.#notice = why;
    this.#update();
  }

  #padChanged(present) {
    clearTimeout(this.#statusTimer);
    this.#padPresent = present;
    this.#update();
  }

  // The mode that what is known of the driver and the pad calls for, or null
  // while it is not known (the driver answered, its pad not yet).
  #wantedMode() {
    if (this.#driverUp) return this.#padPresent === null ? null : this.#padPresent ? 'pad' : 'screen';
    return this.#driverTried ? 'screen' : null;
  }

  // Follows the driver and the pad. A signing on the pad that loses it goes
  // on on the screen; one on the screen moves to the pad only while it has
  // no ink, and otherwise when it ends.
  #update() {
    if (!this.#client) return; // taken out of the page
    const mode = this.#wantedMode();
    if (mode === null || mode === this.#mode || (this.#signing === 'screen' && this.#screen.hasInk)) {
      this.#render();
      return;
    }
    const was = this.#signing;
    if (this.#mode === 'screen' && mode === 'pad') this.#notice = WORDS.padBack;
    if (was === 'pad') this.#notice = WORDS.lost;
    if (was) this.#finish();
    this.#setMode(mode);
    const autostart = this.hasAttribute('autostart') && !this.#autostarted;
    this.#autostarted = true;
    if (was || this.#startWanted || autostart) this.#begin();
  }

  #setMode(mode) {
    this.#mode = mode;
    this.setAttribute('mode', mode);
    this.#showArea();
    this.#render();
  }

  #showArea() {
    this.#ui.live.hidden = this.#mode !== 'pad';
    this.#ui.canvas.hidden = this.#mode !== 'screen';
  }

  #padPicture(image) {
    if (this.#signing !== 'pad') return;
    this.#ui.live.src = image.dataUrl;
    if (image.drawing) {
      this.#padInk = image.dataUrl;
    } else if (this.#padCommand === 'confirm' && this.#penDataAsked) {
      // The pen data comes just before the confirm's result: wait for that.
    } else if (this.#padCommand) {
      // The blank picture that follows each command: the command is done.
      this.#padDone(this.#padCommand);
    }
    this.#render();
  }

  // The pad's own buttons (and other pages) end signings too: the driver
  // tells subscribed pages how each one ended.
  #padResult(result) {
    if (this.#signing !== 'pad' || this.#padCommand === 'start') return;
    const done = { confirmed: 'confirm', cancelled: 'cancel', resigned: 'resign' }[result.result];
    if (done) this.#padDone(done);
  }

  #padDone(command) {
    this.#padCommand = null;
    if (command === 'start' || command === 'resign') {
      this.#padInk = ''; // pictures that came before the blank one
    } else if (command === 'confirm') {
      const dataUrl = this.#padInk;
      const penData = this.#penData;
      this.#finish();
      this.#confirmed('pad', dataUrl, penData ? padPoints(penData) : undefined, penData);
    } else if (command === 'cancel') {
      this.#finish();
      this.#cancelled('pad');
    }
    this.#render();
  }

  #driverError(error) {
    if (this.#signing !== 'pad' || !SIGNING_REQUESTS.includes(error.request)) return;
    this.dispatchEvent(new CustomEvent('error', { detail: error }));
    if (this.#padCommand === 'start' && error.request === '2023') {
      // No pad after all, or it would not start: sign on the screen.
      this.#padPresent = false;
      this.#update();
      this.#notice = WORDS.padFailed;
      this.#render();
    }
  }

  // Ends the signing of either kind; a mode change that waited for it follows.
  #finish() {
    const was = this.#signing;
    this.#signing = null;
    this.#padCommand = null;
    this.#padInk = '';
    this.#penDataAsked = false;
    this.#penData = null;
    this.#screen.enabled = false;
    // A pad that failed to start, or was busy, may be free again.
    if (was === 'screen' && this.#driverUp) this.#client.requestStatus();
    queueMicrotask(() => this.#update());
  }

  #hasInk() {
    if (this.#signing === 'pad') return !!this.#padInk && this.#padCommand === null;
    return this.#signing === 'screen' && this.#screen.hasInk;
  }

  // The pen-data attribute, sent before the pad's signing starts.
  #askForPenData() {
    this.#penDataAsked = false;
    this.#penData = null;
    if (!this.hasAttribute('pen-data')) return;
    const formats = (this.getAttribute('pen-data') || 'json').split(/\s+/).filter(Boolean);
    const sha256 = this.getAttribute('document-sha256');
    const document = sha256 ? { sha256, reason: this.getAttribute('document-reason') || '' } : null;
    this.#penDataAsked = formats.includes('json');
    this.#client.requestEvidence({ formats, document });
  }

  #confirmed(source, dataUrl, points, penData) {
    this.#notice = WORDS.confirmed;
    this.#render();
    const detail = { dataUrl, source };
    if (points && points.length) detail.points = points;
    if (penData) detail.penData = penData;
    this.dispatchEvent(new CustomEvent('confirmed', { detail }));
  }

  #cancelled(source) {
    this.#notice = WORDS.cancelled;
    this.#ui.live.removeAttribute('src');
    this.#render();
    this.dispatchEvent(new CustomEvent('cancelled', { detail: { source } }));
  }

  #render() {
    const ui = this.#ui;
    const signing = this.#signing;
    let words;
    if (this.#mode === 'connecting') {
      const prompt = this.#client && this.#client.permission && this.#client.permission.state === 'prompt';
      words = prompt ? WORDS.askBrowser : WORDS.connecting;
    } else if (this.#mode === 'pad') {
      words = signing ? (this.#padCommand === 'start' ? WORDS.padStarting : WORDS.padSigning) : WORDS.padReady;
    } else {
      words = signing ? WORDS.screenSigning : WORDS.screenReady;
    }
    const text = this.#notice && this.#notice !== words ? this.#notice + ' ' + words : words;
    // Unchanged text is not set again, so that screen readers do not repeat it.
    if (ui.status.textContent !== text) ui.status.textContent = text;
    const focused = this.shadowRoot.activeElement;
    ui.start.hidden = !!signing;
    ui.start.disabled = this.#startWanted;
    ui.resign.hidden = ui.confirm.hidden = ui.cancel.hidden = !signing;
    ui.confirm.disabled = !this.#hasInk();
    ui.resign.disabled = this.#signing === 'pad' && this.#padCommand !== null;
    // A keyboard user whose button went away lands on the next one that is there.
    if (focused && (focused.hidden || focused.disabled)) {
      const next = [ui.start, ui.resign, ui.confirm, ui.cancel].find((b) => !b.hidden && !b.disabled);
      if (next) next.focus();
    }
  }
}

if (!customElements.get('zq-signature')) customElements.define('zq-signature', ZQSignatureElement);
