// A WebSocket client, as much of it as talking to a browser on this machine
// needs: the opening handshake over plain TCP (ws:// only), text messages
// in and out (fragmented ones joined), pings answered, and the close. Frames
// from the client are masked, as the protocol requires.
import crypto from 'node:crypto';
import net from 'node:net';

const ACCEPT_SUFFIX = '258EAFA5-E914-47DA-95CA-C5AB0DC85B11';

function frame(opcode, payload) {
  const mask = crypto.randomBytes(4);
  let header;
  if (payload.length < 126) {
    header = Buffer.from([0x80 | opcode, 0x80 | payload.length]);
  } else if (payload.length < 65536) {
    header = Buffer.alloc(4);
    header.writeUInt16BE(payload.length, 2);
    header[0] = 0x80 | opcode;
    header[1] = 0x80 | 126;
  } else {
    header = Buffer.alloc(10);
    header.writeBigUInt64BE(BigInt(payload.length), 2);
    header[0] = 0x80 | opcode;
    header[1] = 0x80 | 127;
  }
  const masked = Buffer.alloc(payload.length);
  for (let i = 0; i < payload.length; i++) masked[i] = payload[i] ^ mask[i & 3];
  return Buffer.concat([header, mask, masked]);
}

// Connects to `url` (ws://host:port/path); resolves to a socket with
// send(text), onMessage (set it to a function of the text), close() and
// `closed` (a promise that resolves when the connection ends).
export function connectWebSocket(url) {
  const { hostname, port, pathname, search, protocol } = new URL(url);
  if (protocol !== 'ws:') return Promise.reject(new Error(`only ws:// URLs, not ${url}`));
  return new Promise((resolve, reject) => {
    const tcp = net.connect(Number(port) || 80, hostname);
    const key = crypto.randomBytes(16).toString('base64');
    let buffer = Buffer.alloc(0);
    let open = false;
    let pieces = [];
    let endClosed;
    const socket = {
      onMessage: () => {},
      closed: new Promise((done) => { endClosed = done; }),
      send: (text) => tcp.write(frame(0x1, Buffer.from(text, 'utf8'))),
      close: () => {
        if (!tcp.destroyed) tcp.end(frame(0x8, Buffer.alloc(0)));
      },
    };
    tcp.on('error', (error) => (open ? endClosed() : reject(error)));
    tcp.on('close', () => endClosed());
    tcp.on('connect', () => {
      tcp.write(`GET ${pathname}${search} HTTP/1.1\r\nHost: ${hostname}:${port}\r\nUpgrade: websocket\r\n`
        + `Connection: Upgrade\r\nSec-WebSocket-Key: ${key}\r\nSec-WebSocket-Version: 13\r\n\r\n`);
    });
    tcp.on('data', (data) => {
      buffer = Buffer.concat([buffer, data]);
      if (!open) {
        const end = buffer.indexOf('\r\n\r\n');
        if (end < 0) return;
        const head = buffer.subarray(0, end).toString('latin1');
        buffer = buffer.subarray(end + 4);
        const accept = crypto.createHash('sha1').update(key + ACCEPT_SUFFIX).digest('base64');
        if (!/^HTTP\/1\.1 101/.test(head) || !head.toLowerCase().includes(`sec-websocket-accept: ${accept.toLowerCase()}`)) {
          tcp.destroy();
          reject(new Error(`no WebSocket at ${url}: ${head.split('\r\n')[0]}`));
          return;
        }
        open = true;
        resolve(socket);
      }
      for (;;) {
        if (buffer.length < 2) return;
        const fin = (buffer[0] & 0x80) !== 0;
        const opcode = buffer[0] & 0x0f;
        const masked = (buffer[1] & 0x80) !== 0;
        let length = buffer[1] & 0x7f;
        let at = 2;
        if (length === 126) {
          if (buffer.length < 4) return;
          length = buffer.readUInt16BE(2);
          at = 4;
        } else if (length === 127) {
          if (buffer.length < 10) return;
          length = Number(buffer.readBigUInt64BE(2));
          at = 10;
        }
        const maskAt = at;
        if (masked) at += 4;
        if (buffer.length < at + length) return;
        let payload = buffer.subarray(at, at + length);
        if (masked) payload = payload.map((byte, i) => byte ^ buffer[maskAt + (i & 3)]);
        buffer = buffer.subarray(at + length);
        if (opcode === 0x8) {
          socket.close();
          tcp.destroy();
          return;
        }
        if (opcode === 0x9) {
          tcp.write(frame(0xa, payload));
        } else if (opcode === 0x1 || opcode === 0x0) {
          pieces.push(Buffer.from(payload));
          if (fin) {
            const text = Buffer.concat(pieces).toString('utf8');
            pieces = [];
            socket.onMessage(text);
          }
        }
      }
    });
  });
}
