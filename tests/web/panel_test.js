// marovin-host's web panel in Debian's headless Chromium: the simulator's
// values, a trend that grows, a write that is acknowledged and read back, a
// panel without writes, a link loss; saves a screenshot.
// Usage: node panel_test.js URL READ_ONLY_URL SIM_PID SCREENSHOT USER_DATA_DIR
'use strict';
const {chromium} = require('playwright-core');

const [url, readOnlyUrl, simPid, screenshot, userDataDir] = process.argv.slice(2);
let failures = 0;

function check(what, ok) {
  console.log((ok ? 'ok: ' : 'FAIL: ') + what);
  if (!ok) failures++;
}

// Waits until fn(arg) is true in the page; false after ten seconds.
const until = (page, fn, arg) => page.waitForFunction(fn, arg, {timeout: 10000}).then(() => true, () => false);
// The text of a tag's cell; empty before the table is built.
const cellOf = (tag, column) => ([...document.querySelectorAll('#tags tbody tr')]
  .find((tr) => tr.cells[1].textContent === tag) || {cells: []}).cells[column]?.textContent ?? '';

async function main() {
  const context = await chromium.launchPersistentContext(userDataDir, {
    // The read-only panel serves HTTPS with a certificate the test made.
    executablePath: '/usr/bin/chromium', headless: true, viewport: {width: 1200, height: 1000}, ignoreHTTPSErrors: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync']});
  await context.addInitScript(`window.cellOf = ${cellOf}`);
  const page = await context.newPage();
  const errors = [];
  page.on('console', (m) => m.type() === 'error' && errors.push(m.text()));
  page.on('pageerror', (e) => errors.push(String(e)));
  await page.goto(url);

  check('the table shows the simulator\'s value', await until(page, () => cellOf('level', 5) === '4321'));
  await page.locator('input[aria-label="trend of wave"]').check();
  check('the trend opens with the recent past', await until(page, () => chart && chart.numRows() > 3));
  const rows = await page.evaluate(() => chart.numRows());
  check('the trend gains points', await until(page, (n) => chart.numRows() > n + 2, rows));

  await page.locator('input[aria-label="value for speed"]').fill('12.3');
  await page.locator('input[aria-label="value for speed"] ~ button').click();
  check('the write is acknowledged', await until(page, () => cellOf('speed', 10).includes('acknowledged')));
  check('the written value is read back', await until(page, () => cellOf('speed', 5) === '12.3'));
  for (const [tag, text, said, value] of [['speed', '', 'type a value', '12.3'], ['count', '4294967295', 'ack', '4294967295']]) {
    await page.locator(`input[aria-label="value for ${tag}"]`).fill(text);
    await page.locator(`input[aria-label="value for ${tag}"] ~ button`).click();
    check(`'${text}' for ${tag}: ${said}, ${value} shown`,
      await until(page, ([t, s, v]) => cellOf(t, 10).includes(s) && cellOf(t, 5) === v, [tag, said, value]));
  }
  await page.locator('#trace-box summary').click();
  check('the frame trace shows frames', await until(page, () => /TX \[/.test(document.querySelector('#trace').textContent)));
  await page.screenshot({path: screenshot, fullPage: true});

  const readOnly = await context.newPage();
  await readOnly.goto(readOnlyUrl);
  check('without writes the table fills', await until(readOnly, () => /\d/.test(cellOf('level', 5))));
  check('without writes there is no write field', await readOnly.locator('#tags form').count() === 0);
  const status = await readOnly.evaluate(() => fetch('/api/write', {method: 'POST',
    headers: {'Content-Type': 'application/json'}, body: '{"tag": "speed", "value": 1}'}).then((r) => r.status));
  check('without writes the API answers 403', status === 403);

  process.kill(Number(simPid), 'SIGTERM');
  check('the link loss shows', await until(page, () => /down|reconnecting/.test(document.querySelector('#link').textContent)));
  check('no errors in the console: ' + errors.join(' | '), errors.length === 0);
  await context.close();
}

main().then(() => process.exit(failures ? 1 : 0), (e) => {
  console.log('FAIL: ' + e.message);
  process.exit(1);
});
