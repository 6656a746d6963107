// The TDS stand-in as a second, independent client sees it: tedious (JavaScript, not FreeTDS)
// logs in plain and encrypted, backs up, verifies, gets an error, cancels a backup before and
// during its output and goes on on the same connection. Every token and packet header tedious
// reads is recorded and checked against what SQL Server sends (MS-TDS).
//   node tedious_conformance.js <port> <scratch folder>
'use strict';

const assert = require('node:assert/strict');
const path = require('node:path');
const { Connection, Request } = require('tedious');
const Debug = require('tedious/lib/debug');

const port = Number(process.argv[2]);
const scratch = process.argv[3];

// Every packet and token tedious handles, whatever the debug options say.
let seen = [];
Debug.prototype.packet = function (direction, packet) {
  const b = packet.buffer;
  seen.push({ packet: direction, type: b.readUInt8(0), eom: (b.readUInt8(1) & 1) === 1,
              spid: b.readUInt16BE(4), id: b.readUInt8(6), data: Buffer.from(b.subarray(8)) });
};
Debug.prototype.token = function (token) { seen.push({ token }); };

function connect(encrypt) {
  return new Promise((resolve, reject) => {
    const connection = new Connection({
      server: '127.0.0.1',
      authentication: { type: 'default', options: { userName: 'sa', password: 'conformance' } },
      options: { port, encrypt, trustServerCertificate: true, cancelTimeout: 3000,
                 connectTimeout: 10000, requestTimeout: 0, tdsVersion: '7_4' },
    });
    connection.on('connect', (err) => (err ? reject(err) : resolve(connection)));
    connection.connect();
  });
}

// Runs one SQL batch; resolves with its error (or null), the rows and the messages it produced.
function run(connection, sql, { onInfo } = {}) {
  return new Promise((resolve) => {
    const rows = [];
    const infos = [];
    const errors = [];
    const request = new Request(sql, (err) => resolve({ err, rows, infos, errors, request }));
    request.on('row', (columns) => rows.push(columns.map((c) => c.value)));
    const info = (m) => { infos.push(m); if (onInfo) onInfo(m, request); };
    const error = (m) => errors.push(m);
    connection.on('infoMessage', info);
    connection.on('errorMessage', error);
    request.on('requestCompleted', () => {
      connection.removeListener('infoMessage', info);
      connection.removeListener('errorMessage', error);
    });
    connection.execSqlBatch(request); // a SQL batch, as Vestrel sends
  });
}

// The messages the client received from `from` on, as lists of packets up to each end of
// message.
function receivedMessages(from = 0) {
  const messages = [];
  let current = [];
  for (const s of seen.slice(from)) {
    if (s.packet !== 'Received') continue;
    current.push(s);
    if (s.eom) { messages.push(current); current = []; }
  }
  return messages;
}

// The DONE tokens of a reply message that holds only messages and DONEs (status, curCmd);
// null when it holds any other token.
function dones(packets) {
  const data = Buffer.concat(packets.map((p) => p.data));
  const found = [];
  for (let at = 0; at < data.length;) {
    const type = data.readUInt8(at);
    if (type === 0xAA || type === 0xAB || type === 0xE3 || type === 0xAD) {
      at += 3 + data.readUInt16LE(at + 1);
    } else if (type === 0xFD || type === 0xFE || type === 0xFF) {
      found.push({ status: data.readUInt16LE(at + 1), curCmd: data.readUInt16LE(at + 3) });
      at += 13;
    } else {
      return null;
    }
  }
  return found;
}

function tokensSince(mark) {
  return seen.slice(mark).filter((s) => s.token).map((s) => s.token);
}

// Token stream → short names: "ENVCHANGE DATABASE", "INFO 5701", "DONE".
function names(tokens) {
  return tokens.map((t) => (t.name === 'ENVCHANGE' ? `ENVCHANGE ${t.type}`
    : t.name === 'INFO' || t.name === 'ERROR' ? `${t.name} ${t.number}` : t.name));
}

const checks = [];
function check(name, fn) { checks.push({ name, fn }); }

async function scenario(encrypt) {
  const label = encrypt ? 'encrypted' : 'plain';
  seen = [];
  const connection = await connect(encrypt);
  try {
    // The login's answer, in SQL Server's order.
    const login = seen.filter((s) => s.token).map((s) => s.token);
    const ack = login.findIndex((t) => t.name === 'LOGINACK');
    const upToDone = login.slice(0, login.findIndex((t, i) => i > ack && t.name === 'DONE') + 1);
    check(`${label}: login tokens`, () => assert.deepEqual(names(upToDone), [
      'ENVCHANGE DATABASE', 'INFO 5701', 'ENVCHANGE SQL_COLLATION', 'ENVCHANGE LANGUAGE',
      'INFO 5703', 'LOGINACK', 'ENVCHANGE PACKET_SIZE', 'DONE']));
    check(`${label}: login texts`, () => {
      assert.equal(upToDone[0].newValue, 'master');
      assert.equal(upToDone[1].message, "Changed database context to 'master'.");
      assert.equal(upToDone[2].newValue.toBuffer().toString('hex'), '0904d00034');
      assert.equal(upToDone[3].newValue, 'us_english');
      assert.equal(upToDone[4].message, 'Changed language setting to us_english.');
      assert.equal(upToDone[6].newValue, 4096);
      assert.equal(upToDone[7].curCmd, 0);
    });
    const afterLogin = seen.length;
    let firstEnd = Infinity; // where the first connection's traffic ends
    let mark = seen.length;
    const one = await run(connection, 'SELECT 1');
    const selectTokens = tokensSince(mark);
    check(`${label}: SELECT 1 is a result set`, () => {
      assert.ok(!one.err, String(one.err));
      assert.deepEqual(one.rows, [[1]]);
      const tokens = selectTokens;
      assert.deepEqual(names(tokens), ['COLMETADATA', 'ROW', 'DONE']);
      const done = tokens[2];
      assert.equal(done.rowCount, 1);
      assert.equal(done.curCmd, 0xC1);
    });

    const file = path.join(scratch, `${label}.bak`);
    mark = seen.length;
    const backup = await run(connection,
      `BACKUP DATABASE [Conformance] TO DISK = N'${file}' WITH STATS = 10, CHECKSUM`);
    check(`${label}: BACKUP`, () => {
      assert.ok(!backup.err, String(backup.err));
      const percents = backup.infos.filter((m) => m.number === 3211).map((m) => m.message);
      assert.equal(percents.at(-1), '100 percent processed.');
      const done = backup.infos.find((m) => m.number === 3014);
      assert.ok(done, 'no message 3014');
      // MB/sec = pages * 8 KB / 1 MB / seconds, as SQL Server reports it.
      const m = /processed (\d+) pages in (\d+\.\d{3}) seconds \((\d+\.\d{3}) MB\/sec\)\.$/
        .exec(done.message);
      assert.ok(m, done.message);
      const expected = (Number(m[1]) * 8192) / 1048576 / Number(m[2]);
      assert.ok(Math.abs(expected - Number(m[3])) <= 0.0005 + expected * 1e-9,
        `${done.message}: ${m[1]} pages in ${m[2]} s is ${expected.toFixed(3)} MB/sec`);
    });
    // Each check reads what was recorded so far now, not once the other scenario has run.
    const messagesSoFar = receivedMessages();
    check(`${label}: packet ids count up within a message`, () => {
      const messages = messagesSoFar;
      const long = messages.filter((packets) => packets.length > 1);
      assert.ok(long.length > 0, 'no reply of more than one packet');
      for (const packets of messages)
        assert.deepEqual(packets.map((p) => p.id), packets.map((_, i) => (i + 1) % 256));
    });

    const verify = await run(connection,
      `RESTORE VERIFYONLY FROM DISK = N'${file}' WITH FILE = 1, CHECKSUM`);
    check(`${label}: VERIFYONLY`, () => {
      assert.ok(!verify.err, String(verify.err));
      assert.deepEqual(verify.infos.map((m) => `${m.number} ${m.message}`),
        ['3262 The backup set on file 1 is valid.']);
    });

    const missing = path.join(scratch, 'no such folder', 'x.bak');
    for (const [statement, terminating] of [
      [`BACKUP DATABASE [Conformance] TO DISK = N'${missing}'`,
        'BACKUP DATABASE is terminating abnormally.'],
      [`RESTORE VERIFYONLY FROM DISK = N'${missing}'`,
        'VERIFY DATABASE is terminating abnormally.']]) {
      mark = seen.length;
      const failed = await run(connection, statement);
      const failedTokens = tokensSince(mark);
      check(`${label}: ${statement.split(' ').slice(0, 2).join(' ')} into a missing folder`,
        () => {
          assert.ok(failed.err, 'no error');
          assert.deepEqual(failed.errors.map((m) => `${m.number} ${m.message}`), [
            `3201 Cannot open backup device '${missing}'. Operating system error 3(The system ` +
              'cannot find the path specified.).',
            `3013 ${terminating}`]);
          const done = failedTokens.filter((t) => t.name === 'DONE');
          assert.equal(done.length, 1);
          assert.ok(done[0].sqlError && !done[0].more);
        });
    }

    // Cancelled during its output, then before any (on a connection of its own, so the
    // first case's outcome cannot decide the second's): the interrupted response ends as a
    // message of its own, the acknowledgement comes alone; the connection goes on.
    for (const when of ['during the output', 'before any output']) {
      const cancelled = path.join(scratch, `${label}-cancelled ${when}.bak`);
      if (when === 'before any output') firstEnd = seen.length;
      const c = when === 'during the output' ? connection : await connect(encrypt);
      mark = seen.length;
      const started = Date.now();
      const pending = run(c, `BACKUP DATABASE [Conformance] TO DISK = N'${cancelled}'`, {
        onInfo: (m, request) => { if (m.number === 3211) request.cancel(); },
      });
      if (when === 'before any output') setImmediate(() => c.cancel());
      const result = await pending;
      const took = Date.now() - started;
      const after = await run(c, 'SELECT 1');
      const messages = receivedMessages(mark).map(dones);
      if (c !== connection && !c.closed)
        await new Promise((resolve) => { c.on('end', resolve); c.close(); });
      check(`${label}: cancel ${when}`, () => {
        assert.equal(result.err && result.err.code, 'ECANCEL', String(result.err));
        if (when === 'before any output')
          assert.deepEqual(result.infos.map((m) => m.number), [], 'the backup had begun');
        assert.ok(took < 2500, `the cancel took ${took} ms`);
        const ackAt = messages.findIndex((d) => d && d.some((done) => done.status & 0x20));
        assert.ok(ackAt > 0, `no acknowledgement after a response of its own: ${
          JSON.stringify(messages)}`);
        assert.deepEqual(messages[ackAt], [{ status: 0x20, curCmd: 0 }],
          'the acknowledgement is not alone');
        const last = messages[ackAt - 1].at(-1);
        assert.ok(last && (last.status & 0x23) === 0x02,
          `the interrupted response ends with ${JSON.stringify(last)}`);
        assert.ok(!after.err, String(after.err));
        assert.deepEqual(after.rows, [[1]]);
      });
    }
    const spids = new Set(seen.slice(afterLogin, firstEnd)
      .filter((s) => s.packet === 'Received').map((p) => p.spid));
    check(`${label}: one session id in every header`, () => {
      assert.equal(spids.size, 1, `session ids ${[...spids]}`);
      assert.ok([...spids][0] >= 51, `session id ${[...spids][0]}`);
    });
  } finally {
    if (!connection.closed)
      await new Promise((resolve) => { connection.on('end', resolve); connection.close(); });
  }
}

// A client left waiting on a connection the server dropped ends node's event loop without
// an answer: that is a failure too.
process.on('beforeExit', () => {
  console.log('FAIL the client was left waiting: the connection ended without an answer');
  process.exit(1);
});

(async () => {
  let failed = 0;
  for (const encrypt of [false, true]) {
    try {
      await scenario(encrypt);
    } catch (err) {
      console.log(`FAIL ${encrypt ? 'encrypted' : 'plain'}: ${err.stack || err}`);
      failed++;
    }
  }
  for (const { name, fn } of checks) {
    try {
      fn();
      console.log(`PASS ${name}`);
    } catch (err) {
      console.log(`FAIL ${name}: ${err.message}`);
      failed++;
    }
  }
  console.log(`${checks.length} checks, ${failed} failed`);
  process.exit(failed ? 1 : 0);
})();
