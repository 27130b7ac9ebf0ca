// zephrane-sim serve through Node's tedious: every parameter type tedious sends, as an input
// read back and as an output parameter coming back in its type; return statuses; named
// transactions; the catalogue procedures; 10,000 rows; sessions at once.
'use strict';

const {
  tedious, connect, close, sql, batch, call, promised, check, expect, expectEqual, runChecks,
} = require('./tedious_lib');

const { TYPES } = tedious;

const when = new Date(Date.UTC(2024, 0, 2, 3, 4, 5, 123));
const midnight = new Date(Date.UTC(2024, 1, 29));
const minute = new Date(Date.UTC(2024, 0, 2, 3, 4, 0));
const timeOfDay = new Date(Date.UTC(1970, 0, 1, 13, 14, 15, 678));

// [what, type, value, options, the value SELECT gives back, may be an output parameter]
const cases = [
  ['tinyint', TYPES.TinyInt, 255, {}, 255, true],
  ['smallint', TYPES.SmallInt, -32768, {}, -32768, true],
  ['int', TYPES.Int, 2147483647, {}, 2147483647, true],
  ['bigint', TYPES.BigInt, '1099511627776', {}, '1099511627776', true],
  ['bit', TYPES.Bit, true, {}, 1, true],
  ['float', TYPES.Float, 1.25e100, {}, 1.25e100, true],
  ['real', TYPES.Real, 0.5, {}, 0.5, true],
  ['decimal', TYPES.Decimal, 1234.567, { precision: 10, scale: 3 }, 1234.567, true],
  ['numeric', TYPES.Numeric, -42, { precision: 18, scale: 0 }, -42, true],
  ['money', TYPES.Money, 12.3125, {}, 12.3125, true],
  ['smallmoney', TYPES.SmallMoney, -2.25, {}, -2.25, true],
  ['nvarchar', TYPES.NVarChar, 'Ærø – 日本 😀', {}, 'Ærø – 日本 😀', true],
  ['nvarchar(max)', TYPES.NVarChar, 'y'.repeat(9000), { length: Infinity }, 'y'.repeat(9000), true],
  ['varchar', TYPES.VarChar, 'plain', {}, 'plain', true],
  ['char', TYPES.Char, 'abc', { length: 3 }, 'abc', true],
  ['nchar', TYPES.NChar, 'äbc', { length: 3 }, 'äbc', true],
  ['text', TYPES.Text, 'old text', {}, 'old text', false],
  ['ntext', TYPES.NText, 'old ntext ü', {}, 'old ntext ü', false],
  ['varbinary', TYPES.VarBinary, Buffer.from([0, 1, 2, 255]), {}, Buffer.from([0, 1, 2, 255]), true],
  ['varbinary(max)', TYPES.VarBinary, Buffer.alloc(10000, 7), { length: Infinity },
    Buffer.alloc(10000, 7), true],
  ['binary', TYPES.Binary, Buffer.from('ab'), { length: 2 }, Buffer.from('ab'), true],
  ['image', TYPES.Image, Buffer.from([9, 8, 7]), {}, Buffer.from([9, 8, 7]), false],
  ['uniqueidentifier', TYPES.UniqueIdentifier, '12345678-9ABC-DEF0-1234-56789ABCDEF0', {},
    '{12345678-9ABC-DEF0-1234-56789ABCDEF0}', true],
  ['datetime', TYPES.DateTime, when, {}, '2024-01-02 03:04:05.123', true],
  ['datetime2', TYPES.DateTime2, when, { scale: 7 }, '2024-01-02 03:04:05.123', true],
  ['smalldatetime', TYPES.SmallDateTime, minute, {}, '2024-01-02 03:04:00', true],
  ['date', TYPES.Date, midnight, {}, '2024-02-29', true],
  ['time', TYPES.Time, timeOfDay, { scale: 3 }, '13:14:15.678', true],
  ['datetimeoffset', TYPES.DateTimeOffset, when, { scale: 7 }, '2024-01-02 03:04:05.123 +00:00',
    true],
  ['null int', TYPES.Int, null, {}, null, true],
  ['null datetime2', TYPES.DateTime2, null, {}, null, true],
];

function same(got, wanted) {
  if (Buffer.isBuffer(wanted)) return Buffer.isBuffer(got) && got.equals(wanted);
  if (wanted instanceof Date) return got instanceof Date && got.getTime() === wanted.getTime();
  if (typeof wanted === 'number' && typeof got === 'number')
    return Math.abs(got - wanted) <= Math.abs(wanted) * 1e-7;
  if (typeof wanted === 'string' && typeof got === 'string') return got === wanted;
  return String(got) === String(wanted) || got === wanted;
}

check('every parameter type is read with its meaning', async () => {
  const c = await connect();
  for (const [what, type, value, options, selected] of cases) {
    const { rows } = await sql(c, 'SELECT @p', (r) => r.addParameter('p', type, value, options));
    expect(same(rows[0][0], selected), `${what}: got ${JSON.stringify(rows[0][0])}`.slice(0, 300));
  }
  await close(c);
});

check('every output parameter comes back in its type with its value', async () => {
  const c = await connect();
  for (const [what, type, value, options, , output] of cases) {
    if (!output) continue;
    const { outputs } = await sql(c, 'SELECT 1', (r) => r.addOutputParameter('o', type, value, options));
    expect('o' in outputs, `${what}: no output value`);
    const wanted = type === TYPES.UniqueIdentifier ? value.toUpperCase() : value;
    expect(same(outputs.o, wanted), `${what}: got ${JSON.stringify(outputs.o)}`.slice(0, 300));
  }
  await close(c);
});

check('a procedure call gives its return status', async () => {
  const a = await connect();
  const b = await connect();
  const lock = (r) => {
    r.addParameter('Resource', TYPES.NVarChar, 'client-suite');
    r.addParameter('LockMode', TYPES.NVarChar, 'Exclusive');
    r.addParameter('LockOwner', TYPES.NVarChar, 'Session');
  };
  expectEqual((await call(a, 'sp_getapplock', lock)).returnStatus, 0, 'the lock granted');
  expectEqual((await call(b, 'sp_getapplock', lock)).returnStatus, -1, 'the lock held by another');
  expectEqual((await call(a, 'sp_releaseapplock', (r) => {
    r.addParameter('Resource', TYPES.NVarChar, 'client-suite');
    r.addParameter('LockOwner', TYPES.NVarChar, 'Session');
  })).returnStatus, 0, 'the lock let go');
  expectEqual((await call(b, 'sp_getapplock', lock)).returnStatus, 0, 'the lock granted next');
  await close(a);
  await close(b);
});

check('named transactions commit and roll back', async () => {
  const c = await connect();
  const other = await connect();
  const [[alias, before]] = (await batch(c,
    'SELECT Alias, DisplayName FROM Subscriber ORDER BY Alias')).rows;
  const rename = (name) => sql(c, 'UPDATE Subscriber SET DisplayName = @n WHERE Alias = @a', (r) => {
    r.addParameter('n', TYPES.NVarChar, name);
    r.addParameter('a', TYPES.NVarChar, alias);
  });
  const seen = async () => (await sql(other, 'SELECT DisplayName FROM Subscriber WHERE Alias = @a',
    (r) => r.addParameter('a', TYPES.NVarChar, alias))).rows[0][0];

  await promised(c, 'beginTransaction', 'rename_then_undo');
  await rename('Undone');
  await promised(c, 'rollbackTransaction', 'rename_then_undo');
  expectEqual(await seen(), before, 'after the named rollback');

  await promised(c, 'beginTransaction', 'rename_for_good');
  await rename('Kept');
  await promised(c, 'commitTransaction', 'rename_for_good');
  expectEqual(await seen(), 'Kept', 'after the named commit');

  // connection.transaction() names its transaction itself.
  await new Promise((resolve, reject) => {
    c.transaction((err, done) => {
      if (err) return reject(err);
      rename(before).then(() => done(null, (e) => (e ? reject(e) : resolve())), (e) => done(e, () => reject(e)));
    });
  });
  expectEqual(await seen(), before, 'after connection.transaction()');
  await close(c);
  await close(other);
});

check('the catalogue procedures answer for the host\'s tables', async () => {
  const c = await connect();
  const tables = (await call(c, 'sp_tables', (r) => r.addParameter('table_name', TYPES.NVarChar, 'Sub%'))).rows;
  expectEqual(tables.map((t) => t[2]).sort(), ['Subscriber', 'SubscriberTemplate'], 'sp_tables');
  const columns = (await call(c, 'sp_columns', (r) => r.addParameter('table_name', TYPES.NVarChar, 'Subscriber'))).rows;
  expectEqual(columns.length, 28, 'sp_columns');
  expectEqual(columns[2].slice(3, 6), ['SubscriberType', 4, 'int'], 'sp_columns of an INTEGER column');
  const keys = (await call(c, 'sp_pkeys', (r) => r.addParameter('table_name', TYPES.NVarChar, 'vw_Subscriber'))).rows;
  expectEqual(keys.map((k) => k[3]), ['SubscriberObjectID'], 'sp_pkeys of the view');
  const types = (await call(c, 'sp_datatype_info_100', (r) => {
    r.addParameter('data_type', TYPES.SmallInt, 93);
    r.addParameter('ODBCVer', TYPES.TinyInt, 3);
  })).rows;
  expectEqual(types.map((t) => t[0]), ['datetime', 'datetime2', 'smalldatetime'], 'sp_datatype_info_100');
  await close(c);
});

check('10,000 rows come whole', async () => {
  const c = await connect();
  const { rows } = await batch(c, 'SELECT a.Alias, b.Alias FROM Subscriber a CROSS JOIN Subscriber b');
  expectEqual(rows.length, 10000, 'rows');
  expectEqual(new Set(rows.map((r) => r.join('/'))).size, 10000, 'distinct rows');
  await close(c);
});

check('sessions at once each get their answers', async () => {
  const work = async (n) => {
    const c = await connect({ tdsVersion: ['7_1', '7_2', '7_3_A', '7_3_B', '7_4'][n % 5] });
    for (let i = 0; i < 10; i++) {
      const { rows } = await sql(c, 'SELECT @a + @b', (r) => {
        r.addParameter('a', TYPES.Int, n);
        r.addParameter('b', TYPES.Int, i);
      });
      expectEqual(rows[0][0], n + i, `session ${n}`);
    }
    await close(c);
  };
  await Promise.all([0, 1, 2, 3, 4, 5, 6, 7].map(work));
});

check('a statement the server refuses is an error and the session goes on', async () => {
  const c = await connect();
  let refused = null;
  try {
    await batch(c, 'SELECT * FROM NoSuchTable');
  } catch (e) {
    refused = e;
  }
  expect(refused, 'the statement ran');
  expectEqual((await batch(c, 'SELECT 7')).rows, [[7]], 'the next statement');
  await close(c);
});

runChecks();
