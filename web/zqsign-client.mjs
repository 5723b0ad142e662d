// The same client as an ES module: import { ZQSignClient } from './zqsign-client.mjs'.
import './zqsign-client.js';

export const ZQSignClient = globalThis.ZQSignClient;
export default ZQSignClient;
