// What the tedious suites share: a connection to the server run.sh started, requests as
// promises, and checks that are collected and reported together.
'use strict';

let tedious;
try {
  tedious = require('tedious');
} catch (e) {
  console.error("Node's tedious is not installed: scripts/lib.sh runs npm ci in tests/clients");
  process.exit(1);
}
const { Connection, Request } = tedious;

const port = Number(process.env.ZEPH_PORT);
const login = process.env.ZEPH_LOGIN || 'zephrane';
const password = process.env.ZEPH_PASSWORD || '';

function connect(options = {}) {
  return new Promise((resolve, reject) => {
    const connection = new Connection({
      server: '127.0.0.1',
      authentication: { type: 'default', options: { userName: login, password } },
      options: {
        port,
        database: 'TarvoDb',
        encrypt: false,
        trustServerCertificate: true,
        connectTimeout: 60000,
        requestTimeout: 120000,
        rowCollectionOnRequestCompletion: true,
        ...options,
      },
    });
    connection.on('connect', (err) => (err ? reject(err) : resolve(connection)));
    connection.on('error', () => {}); // a dropped connection is seen by its next request
    connection.connect();
  });
}

function close(connection) {
  return new Promise((resolve) => {
    if (connection.closed) return resolve();
    connection.on('end', resolve);
    connection.close();
  });
}

// Runs a request; `setUp` adds its parameters. Gives its rows, output values by name and
// return status.
function run(connection, how, sql, setUp = () => {}) {
  return new Promise((resolve, reject) => {
    const outputs = {};
    let returnStatus;
    const request = new Request(sql, (err, rowCount, rows) => {
      if (err) return reject(err);
      resolve({ rows: (rows || []).map((r) => r.map((c) => c.value)), outputs, returnStatus });
    });
    request.on('returnValue', (name, value) => {
      outputs[name] = value;
    });
    request.on('doneProc', (rowCount, more, status) => {
      if (status !== undefined) returnStatus = status;
    });
    setUp(request);
    connection[how](request);
  });
}

const sql = (connection, text, setUp) => run(connection, 'execSql', text, setUp);
const batch = (connection, text) => run(connection, 'execSqlBatch', text);
const call = (connection, name, setUp) => run(connection, 'callProcedure', name, setUp);

function promised(connection, method, ...args) {
  return new Promise((resolve, reject) =>
    connection[method]((err) => (err ? reject(err) : resolve()), ...args));
}

const checks = [];
function check(name, body) {
  checks.push({ name, body });
}

function expect(condition, message) {
  if (!condition) throw new Error(message);
}

function expectEqual(got, wanted, what) {
  const text = (v) =>
    (Buffer.isBuffer(v) ? 'Buffer ' + v.toString('hex') : JSON.stringify(v) ?? String(v)).slice(
      0, 300);
  if (text(got) !== text(wanted)) throw new Error(`${what}: got ${text(got)}, wanted ${text(wanted)}`);
}

async function runChecks() {
  const failed = [];
  for (const { name, body } of checks) {
    try {
      await body();
      console.log('ok:     ' + name);
    } catch (e) {
      failed.push(name);
      console.log('FAILED: ' + name);
      console.log(e && e.stack ? e.stack : e);
    }
  }
  console.log(`${checks.length - failed.length} of ${checks.length} checks passed`);
  process.exit(failed.length ? 1 : 0);
}

module.exports = {
  tedious, connect, close, sql, batch, call, promised, check, expect, expectEqual, runChecks,
};
