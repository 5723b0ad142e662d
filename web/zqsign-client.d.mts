// Types of zqsign-client.mjs: the same as the script's.
export * from './zqsign-client.js';
export { default } from './zqsign-client.js';
