// A cancel of a running query through Node's tedious: the query stops while it runs, the
// cancel is acknowledged, and the session goes on.
'use strict';

const { connect, close, batch, check, expect, expectEqual, runChecks } = require('./tedious_lib');
const { Request } = require('tedious');

check('a running query is cancelled and the session goes on', async () => {
  const c = await connect({ cancelTimeout: 5000 });
  // A count over a hundred million joined rows: long enough to be under way when cancelled.
  const outcome = await new Promise((resolve) => {
    const request = new Request(
      'SELECT count(*) FROM Subscriber a, Subscriber b, Subscriber c, Subscriber d',
      (err) => resolve(err));
    c.execSql(request);
    setTimeout(() => c.cancel(), 500);
  });
  expect(outcome && outcome.code === 'ECANCEL', `the query ended with ${outcome}`);
  expectEqual((await batch(c, 'SELECT 1')).rows, [[1]], 'the session after the cancel');
  await close(c);
});

runChecks();
