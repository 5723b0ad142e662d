// Generated from src/client.d.ts by tools/build.js (npm run build); edit that file instead.
// Types of the client: zqsign-client.d.ts for zqsign-client.js (CommonJS, or
// a <script> tag), zqsign-client.d.mts for zqsign-client.mjs. They need
// neither the DOM library nor Node's types: every outside shape is spelled
// out here, and browser types (WebSocket, CustomEvent listeners, Blob,
// Document) fit them.

/** An event of the client, its data in `detail`: a CustomEvent in browsers. */
export interface ZQSignEvent<T> {
  readonly type: string;
  readonly detail: T;
  readonly timeStamp: number;
  readonly defaultPrevented: boolean;
  preventDefault(): void;
  stopPropagation(): void;
  stopImmediatePropagation(): void;
}

/**
 * A listener of events carrying `E`. Checked both ways, so that a listener
 * written for the DOM (`(e: CustomEvent<ImageDetail>) => void`) fits too.
 */
export type ZQSignListener<E> = { bivarianceHack(event: E): void }['bivarianceHack'];

export interface ZQSignListenerOptions {
  capture?: boolean;
  once?: boolean;
  passive?: boolean;
  signal?: { readonly aborted: boolean };
}

/** What the client uses of a WebSocket: the browser's, or in Node e.g. the `ws` package's. */
export interface ZQSignWebSocket {
  readonly readyState: number;
  send(data: string): void;
  close(code?: number, reason?: string): void;
}

export interface ZQSignWebSocketConstructor {
  new (url: string): ZQSignWebSocket;
  readonly OPEN: number;
}

/** Where connectWhenAllowed() waits for a click or key press: the document, an element. */
export interface ZQSignGestureTarget {
  addEventListener(type: string, listener: (event: any) => void, options?: boolean): void;
  removeEventListener(type: string, listener: (event: any) => void, options?: boolean): void;
}

/** A live picture of the ink (bizcode "2006"). */
export interface ImageDetail {
  /** Base64 of the PNG; empty when the driver could not read its picture. */
  base64: string;
  /** `data:image/png;base64,...`, or empty with `base64`. */
  dataUrl: string;
  /** True while ink is drawn or replayed; false right after the canvas was cleared. */
  drawing: boolean;
}

export interface SerialDetail {
  serial: string;
}

export interface CloseDetail {
  code: number;
  reason: string;
  willReconnect: boolean;
}

/** The browser permission a page needs to reach 127.0.0.1; 'unsupported' where there is none. */
export interface PermissionDetail {
  name: 'loopback-network' | 'local-network-access' | null;
  state: 'granted' | 'prompt' | 'denied' | 'unsupported';
}

/** A connection the browser refused because the permission was not granted. */
export interface BlockedDetail {
  name: 'loopback-network' | 'local-network-access' | null;
  state: 'prompt' | 'denied';
  url: string;
}

export interface MessageDetail {
  /** Every message the driver sent, parsed. */
  data: unknown;
}

export interface PadInfo {
  model: 'T330' | 'QZ07' | 'KZ07';
  /** USB vendor id, four lower-case hex digits as lsusb shows it. */
  vid: string;
  pid: string;
  serial: string;
}

/** The driver's state (bizcode "2101"): the answer to subscribe() and requestStatus(). */
export interface StatusDetail {
  version: string;
  /** The attached pad, or null. */
  pad: PadInfo | null;
  /** Why no pad could be asked, when `pad` is null (1001: none attached). */
  padError?: { code: number; text: string };
  signing: boolean;
  replaying: boolean;
  /** The output directory of the last setOutputDirectory(), or null. */
  directory: string | null;
  listen: { addresses: string[]; loopbackOnly: boolean };
  /** Origins allowed to connect; empty: any page. */
  allowedOrigins: string[];
}

export interface SavedFile {
  path: string;
  size: number;
}

/** A pen data file a confirm wrote, by format; each null when this confirm did not write it. */
export interface EvidenceFiles {
  inkml?: SavedFile | null;
  json?: SavedFile | null;
  svg?: SavedFile | null;
  /** sign.manifest.json: every file of the signature with its SHA-256 and size. */
  manifest: SavedFile | null;
}

export type EvidenceFormat = 'inkml' | 'json' | 'svg';

/** The document a signature is for, as the page names it. */
export interface EvidenceDocument {
  /** SHA-256 of the document, 64 hex digits. */
  sha256: string;
  /** At most 200 characters, no control characters. */
  reason?: string;
}

/** What requestEvidence() asks for ("2102"). */
export interface EvidenceRequest {
  formats: EvidenceFormat[];
  document?: EvidenceDocument | null;
}

/** What the driver will write (the answer to "2102"). */
export interface EvidenceDetail {
  formats: EvidenceFormat[];
  document: { sha256: string; reason: string } | null;
}

/** One pen sample in pad units: raw pressure `p`, `t` in ms since the signature's first sample. */
export interface PenPoint {
  x: number;
  y: number;
  p: number;
  t: number;
}

/** The content of sign.json ("2113", to the page that asked for 'json'). */
export interface PenData {
  version: 1;
  pad: PadInfo & {
    manufacturer: string;
    xRange: [number, number];
    yRange: [number, number];
    pressureRange: [number, number];
  };
  /** The canvas the pictures are drawn on. */
  canvas: { width: number; height: number };
  /** Pen-down strokes. */
  strokes: PenPoint[][];
  /** The pen in the air between strokes (pressure 0), where the pad reports it. */
  hover: PenPoint[][];
}

/** How a signing ended (bizcode "2110"). */
export interface ResultDetail {
  result: 'confirmed' | 'cancelled' | 'resigned';
  /** The pad's button, a page's request, or the driver itself (a pad that stopped answering). */
  source: 'pad' | 'page' | 'driver';
  /** Confirm only: every file written by this confirm (save.png, path.save and any pen data files). */
  saved?: boolean;
  /** Confirm only: pen samples in the confirmed path. */
  samples?: number;
  /** Confirm only: save.png as written, or null when this confirm did not write it. */
  picture?: SavedFile | null;
  /** Confirm only: path.save as written, or null. */
  pathFile?: SavedFile | null;
  /** Confirm only, when a requestEvidence() applied to it: the pen data files. */
  evidence?: EvidenceFiles;
}

/** An error box at the machine, or a request dropped without one (bizcode "2111"). */
export interface ErrorDetail {
  /** 1000-1007 from the pad controller, or null. */
  code: number | null;
  /** The text of the box, exactly. */
  text: string;
  /** The bizcode of the request that failed, or null (the pad, or a confirm's save). */
  request: string | null;
}

/** A pad plugged in or pulled out (bizcode "2112"). */
export interface DeviceDetail {
  event: 'plugged' | 'unplugged';
  model: 'T330' | 'QZ07' | 'KZ07';
  vid: string;
  pid: string;
}

export interface ZQSignClientEventMap {
  open: ZQSignEvent<Record<string, never>>;
  close: ZQSignEvent<CloseDetail>;
  image: ZQSignEvent<ImageDetail>;
  serial: ZQSignEvent<SerialDetail>;
  message: ZQSignEvent<MessageDetail>;
  status: ZQSignEvent<StatusDetail>;
  result: ZQSignEvent<ResultDetail>;
  error: ZQSignEvent<ErrorDetail>;
  device: ZQSignEvent<DeviceDetail>;
  evidence: ZQSignEvent<EvidenceDetail>;
  pendata: ZQSignEvent<PenData>;
  permission: ZQSignEvent<PermissionDetail>;
  blocked: ZQSignEvent<BlockedDetail>;
}

export interface ZQSignClientOptions {
  /** Default ws://127.0.0.1:36325. */
  url?: string;
  /** Reconnect after the driver restarts (default true). */
  reconnect?: boolean;
  reconnectDelayMs?: number;
  /**
   * A WebSocket implementation; defaults to the global one. Node before 22
   * has none: pass e.g. `WebSocket` from the `ws` package, or connect() throws.
   */
  WebSocket?: ZQSignWebSocketConstructor;
  /** Subscribe to status, result, error and device events on every connection (default false). */
  subscribe?: boolean;
}

export declare class ZQSignClient {
  constructor(options?: ZQSignClientOptions);
  /** The version of this client package. */
  static readonly version: string;
  readonly url: string;
  reconnect: boolean;
  reconnectDelayMs: number;
  subscribeOnOpen: boolean;
  /** True while the connection to the driver is open. */
  readonly connected: boolean;

  /** The last permission state learnt, or null before the first query. */
  readonly permission: PermissionDetail | null;

  /** Throws a TypeError when there is no WebSocket (see the WebSocket option). */
  connect(): void;
  /** Connects at once, or after the person's first click or key press on `target` when the browser would prompt. */
  connectWhenAllowed(target?: ZQSignGestureTarget | null): Promise<PermissionDetail['state']>;
  permissionState(): Promise<PermissionDetail>;
  close(): void;

  // Each request returns false when not connected (nothing is sent).
  /** "2025": where confirms write save.png and path.save. */
  setOutputDirectory(directory: string): boolean;
  /** "2023" */
  startSigning(): boolean;
  /** "2021" */
  resign(): boolean;
  /** "2022": saves save.png and path.save. */
  confirm(): boolean;
  /** "2024" */
  cancel(): boolean;
  /** "2040": answered by a 'serial' event. */
  requestSerial(): boolean;
  /** "2020": `base64` is the Base64 text of a path.save file. */
  replayPath(base64: string): boolean;
  /** Replays a path.save file the person chose (a File or Blob). */
  replayPathFile(blob: { arrayBuffer(): Promise<ArrayBuffer> }): Promise<boolean>;
  /** "2100": this connection also gets status, result, error and device events. */
  subscribe(): boolean;
  /** "2101" (after subscribe()): answered by a 'status' event. */
  requestStatus(): boolean;
  /**
   * "2102" (after subscribe()): record the pen data of the running or next
   * signing; answered by an 'evidence' event, or an 'error' event naming "2102".
   */
  requestEvidence(request: EvidenceRequest): boolean;

  addEventListener<K extends keyof ZQSignClientEventMap>(
    type: K, listener: ZQSignListener<ZQSignClientEventMap[K]> | null, options?: boolean | ZQSignListenerOptions): void;
  addEventListener(type: string, listener: ((event: any) => void) | { handleEvent(event: any): void } | null,
    options?: boolean | ZQSignListenerOptions): void;
  removeEventListener<K extends keyof ZQSignClientEventMap>(
    type: K, listener: ZQSignListener<ZQSignClientEventMap[K]> | null, options?: boolean | ZQSignListenerOptions): void;
  removeEventListener(type: string, listener: ((event: any) => void) | { handleEvent(event: any): void } | null,
    options?: boolean | ZQSignListenerOptions): void;
  dispatchEvent(event: { readonly type: string }): boolean;
}

export default ZQSignClient;
