// Types of zqsign-element.js, the <zq-signature> element (browsers only: they
// use the DOM library).
import type { ErrorDetail, PenData } from './zqsign-client.js';

/**
 * One point of a signature: x and y in the picture's pixels (on the pad: in
 * the pad's units), p the pressure (0 to 1), t in ms since the first point.
 */
export interface SignaturePoint {
  x: number;
  y: number;
  p: number;
  t: number;
}

export interface ConfirmedDetail {
  /** The signature as a `data:image/png;base64,...` URL. */
  dataUrl: string;
  /** Signed on the pad through the driver, or on the screen. */
  source: 'pad' | 'screen';
  /** The pen's points, when there is pen data (always for the screen; on the pad with pen-data naming json). */
  points?: SignaturePoint[];
  /** On the pad with pen-data naming json: the content of sign.json. */
  penData?: PenData;
}

export interface CancelledDetail {
  source: 'pad' | 'screen';
}

/** The element's events besides an element's usual ones; its `error` carries what the driver reported. */
export interface ZQSignatureElementEventMap extends Omit<HTMLElementEventMap, 'error'> {
  confirmed: CustomEvent<ConfirmedDetail>;
  cancelled: CustomEvent<CancelledDetail>;
  error: CustomEvent<ErrorDetail>;
}

export declare class ZQSignatureElement extends HTMLElement {
  /** Set by the element: 'connecting' until it knows, then 'pad' or 'screen'. */
  readonly mode: 'connecting' | 'pad' | 'screen';
  /** The `directory` attribute: where the driver saves save.png and path.save. */
  directory: string;
  start(): void;
  resign(): void;
  confirm(): void;
  cancel(): void;

  addEventListener<K extends keyof ZQSignatureElementEventMap>(
    type: K, listener: (this: ZQSignatureElement, event: ZQSignatureElementEventMap[K]) => any,
    options?: boolean | AddEventListenerOptions): void;
  addEventListener(type: string, listener: EventListenerOrEventListenerObject,
    options?: boolean | AddEventListenerOptions): void;
  removeEventListener<K extends keyof ZQSignatureElementEventMap>(
    type: K, listener: (this: ZQSignatureElement, event: ZQSignatureElementEventMap[K]) => any,
    options?: boolean | EventListenerOptions): void;
  removeEventListener(type: string, listener: EventListenerOrEventListenerObject,
    options?: boolean | EventListenerOptions): void;
}

declare global {
  interface HTMLElementTagNameMap {
    'zq-signature': ZQSignatureElement;
  }
}
