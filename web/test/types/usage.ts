// Compiled (never run) against the declarations with the DOM library, as a
// page would use every method and event; a wrong type here fails the check.
import ZQSignClient, { ImageDetail, ResultDetail, StatusDetail } from '../../zqsign-client.mjs';

const pad = new ZQSignClient({ url: 'ws://127.0.0.1:36325', subscribe: true, reconnectDelayMs: 500, WebSocket });
// The browser's own types fit: the client is an EventTarget, DOM-typed listeners are taken.
const target: EventTarget = pad;
const domListener = (e: CustomEvent<ImageDetail>) => console.log(e.detail.dataUrl);
pad.addEventListener('image', domListener);
pad.removeEventListener('image', domListener);
pad.addEventListener('custom', { handleEvent: (e: Event) => console.log(e.type) }, { once: true });
console.log(target, ZQSignClient.version.split('.'));
pad.addEventListener('open', () => {
  const sent: boolean = pad.setOutputDirectory('/srv/sig') && pad.startSigning();
  pad.resign(); pad.confirm(); pad.cancel(); pad.requestSerial(); pad.replayPath('QUJD');
  pad.subscribe(); pad.requestStatus();
  pad.requestEvidence({ formats: ['inkml', 'json', 'svg'], document: { sha256: 'ab'.repeat(32), reason: 'contract' } });
  pad.requestEvidence({ formats: [] });
  console.log(sent, pad.connected);
});
pad.addEventListener('close', (e) => console.log(e.detail.code, e.detail.reason, e.detail.willReconnect));
pad.addEventListener('image', (e) => { const url: string = e.detail.dataUrl; const drawing: boolean = e.detail.drawing; console.log(url, drawing, e.detail.base64); });
pad.addEventListener('serial', (e) => console.log(e.detail.serial.toUpperCase()));
pad.addEventListener('message', (e) => console.log(e.detail.data));
pad.addEventListener('status', (e) => {
  const s: StatusDetail = e.detail;
  console.log(s.version, s.pad?.model, s.pad?.serial, s.padError?.code, s.signing, s.replaying, s.directory,
              s.listen.addresses, s.listen.loopbackOnly, s.allowedOrigins);
});
pad.addEventListener('result', (e) => {
  const r: ResultDetail = e.detail;
  if (r.result === 'confirmed' && r.saved && r.picture) console.log(r.picture.path, r.picture.size, r.pathFile?.size, r.samples, r.source);
});
pad.addEventListener('error', (e) => { const code: number | null = e.detail.code; console.log(code, e.detail.text, e.detail.request); });
pad.addEventListener('device', (e) => console.log(e.detail.event === 'plugged', e.detail.model, e.detail.vid, e.detail.pid));
pad.addEventListener('permission', (e) => console.log(e.detail.name, e.detail.state === 'granted', pad.permission?.state));
pad.addEventListener('blocked', (e) => { const state: 'prompt' | 'denied' = e.detail.state; console.log(state, e.detail.name, e.detail.url); });
pad.permissionState().then((p) => console.log(p.name, p.state));
pad.connectWhenAllowed(document.body).then((state: string) => console.log(state));
pad.replayPathFile(new Blob(['x'])).then((ok: boolean) => console.log(ok));
pad.connect();
pad.close();

// The element, as a page uses it.
import { ConfirmedDetail, ZQSignatureElement } from '../../zqsign-element.js';
const signer = document.querySelector('zq-signature');
if (signer) {
  signer.directory = '/srv/sig';
  const mode: 'connecting' | 'pad' | 'screen' = signer.mode;
  signer.addEventListener('confirmed', (e) => {
    const detail: ConfirmedDetail = e.detail;
    if (detail.source === 'screen' && detail.points) console.log(detail.dataUrl, detail.points[0].x, detail.points[0].p, detail.points[0].t);
    if (detail.penData) console.log(detail.penData.pad.serial, detail.penData.strokes.length);
  });
  signer.addEventListener('cancelled', (e) => console.log(e.detail.source));
  signer.addEventListener('error', (e) => console.log(e.detail.code, e.detail.text));
  signer.addEventListener('click', (e) => console.log(e.clientX));
  signer.start(); signer.resign(); signer.confirm(); signer.cancel();
  console.log(mode, signer instanceof ZQSignatureElement);
}
pad.addEventListener('evidence', (e) => console.log(e.detail.formats.join(), e.detail.document?.sha256));
pad.addEventListener('pendata', (e) => {
  const [min, max] = e.detail.pad.pressureRange;
  for (const stroke of e.detail.strokes) for (const { x, y, p, t } of stroke) console.log(x, y, (p - min) / (max - min), t);
});
pad.addEventListener('result', (e) => console.log(e.detail.evidence?.manifest?.path, e.detail.evidence?.json?.size));
