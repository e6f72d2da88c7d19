// A visitor's walk through the sample catalogue in headless Chromium (the
// Debian package, driven by playwright-core): search by a Japanese title
// from the top page, read the hits, open a book and its lending status, go
// back to the same list page, page through the hits, open the recommended
// and new-arrivals lists. Every page must be decoded as Shift_JIS and show
// its Japanese text; screenshots at desktop and phone width are saved.
//
//   node site_browser_test.cjs BASE_URL SCREENSHOT_DIR
//
// BASE_URL is the program's address (http://127.0.0.1:PORT/cgi-bin/mirelweb).
// MW_NODE_MODULES names the node_modules folder; CHROMIUM the browser
// (default /usr/bin/chromium). Exit status 0 when every check holds.
'use strict';

const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const [base, shotDir] = process.argv.slice(2);
if (!base || !shotDir) {
  console.error('usage: node site_browser_test.cjs BASE_URL SCREENSHOT_DIR');
  process.exit(2);
}
const modules = process.env.MW_NODE_MODULES;
const { chromium } = require(modules ? path.join(modules, 'playwright-core') : 'playwright-core');

const DESKTOP = { width: 1280, height: 900 };
const PHONE = { width: 390, height: 844 };

function step(text) {
  console.log(`-- ${text}`);
}

// Checks that hold on every page of the site.
async function expectJapanesePage(page, heading) {
  assert.equal(await page.evaluate(() => document.characterSet), 'Shift_JIS');
  const h1 = (await page.locator('h1').innerText()).trim();
  assert.equal(h1, heading);
  const text = await page.locator('body').innerText();
  assert.ok(!text.includes('\uFFFD'), 'the page holds characters the browser could not decode');
  assert.match(text, /緑川市立図書館/);
  // The stylesheet was taken (a wrong content type makes the browser drop it).
  const header = await page.evaluate(
    () => getComputedStyle(document.querySelector('.site-header')).backgroundColor);
  assert.equal(header, 'rgb(29, 91, 58)');
}

async function hitCount(page) {
  return Number((await page.locator('.hit-count strong').innerText()).trim());
}

async function resultTitles(page) {
  return page.locator('table.results tbody td.title').allInnerTexts();
}

async function shoot(page, name, viewport) {
  await page.setViewportSize(viewport);
  await page.screenshot({ path: path.join(shotDir, `${name}.png`), fullPage: true });
}

// On a phone nothing may stick out sideways.
async function expectNoSidewaysScroll(page) {
  const width = await page.evaluate(() => document.documentElement.scrollWidth);
  assert.ok(width <= PHONE.width, `page is ${width}px wide at phone width`);
}

async function main() {
  fs.mkdirSync(shotDir, { recursive: true });
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'mw-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: [
      '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
    ],
    viewport: DESKTOP,
    locale: 'ja-JP',
  });
  const failures = [];
  try {
    const page = context.pages()[0] || (await context.newPage());
    page.on('response', (r) => {
      if (r.status() >= 400) failures.push(`${r.status()} ${r.url()}`);
    });
    page.on('console', (m) => {
      if (m.type() === 'error') failures.push(`console: ${m.text()}`);
    });

    step('top page');
    const top = await page.goto(base);
    assert.equal(top.status(), 200);
    await expectJapanesePage(page, '蔵書検索');
    assert.equal(await page.title(), '蔵書検索 - 緑川市立図書館');
    await shoot(page, 'desktop-top', DESKTOP);
    await shoot(page, 'phone-top', PHONE);
    await expectNoSidewaysScroll(page);
    await page.setViewportSize(DESKTOP);

    step('type a Japanese title and search');
    await page.getByLabel('書名').pressSequentially('物語');
    await Promise.all([
      page.waitForURL(/\/list\?/),
      page.getByRole('button', { name: '検索', exact: true }).click(),
    ]);
    // The form went out in the page's code page.
    assert.match(page.url(), /SYOMEI=%95%A8%8C%EA/);
    await expectJapanesePage(page, '資料一覧');
    assert.equal((await page.locator('.query_key').innerText()).trim(), '物語');
    const hits = await hitCount(page);
    assert.ok(hits > 10, `${hits} hits for 物語`);
    const firstPage = await resultTitles(page);
    assert.equal(firstPage.length, 10);
    for (const title of firstPage) assert.match(title, /物語/);
    assert.equal((await page.locator('.pager .cur_page').first().innerText()).trim(), '1');
    await shoot(page, 'desktop-list', DESKTOP);
    await shoot(page, 'phone-list', PHONE);
    await expectNoSidewaysScroll(page);
    await page.setViewportSize(DESKTOP);

    step('open a book');
    const chosen = firstPage[0].trim();
    await Promise.all([page.waitForURL(/\/data\?BOOKID=/), page.getByRole('link', { name: chosen }).first().click()]);
    await expectJapanesePage(page, chosen);
    const status = (await page.locator('.holding-table td.status').innerText()).trim();
    assert.ok(['貸出可', '貸出中', '所在不明', '貸出禁止'].includes(status), `lending status ${status}`);
    assert.equal((await page.locator('.bib-table tr', { hasText: '書名' }).first().locator('td').innerText()).trim(), chosen);
    await shoot(page, 'desktop-detail', DESKTOP);
    await shoot(page, 'phone-detail', PHONE);
    await expectNoSidewaysScroll(page);
    await page.setViewportSize(DESKTOP);

    step('back to the same list page');
    await Promise.all([page.waitForURL(/\/list\?/), page.locator('a.back_to_list').first().click()]);
    assert.match(page.url(), /PAGENUM=0/);
    assert.deepEqual(await resultTitles(page), firstPage);

    step('follow the page links');
    await Promise.all([
      page.waitForURL(/PAGENUM=1/),
      page.locator('.pager').first().getByRole('link', { name: '2', exact: true }).click(),
    ]);
    assert.equal((await page.locator('.pager .cur_page').first().innerText()).trim(), '2');
    const secondPage = await resultTitles(page);
    assert.equal(secondPage.length, hits - 10);
    assert.ok(!secondPage.includes(firstPage[0]));

    step('a book on loan, and back by the browser');
    await Promise.all([page.waitForURL(/\/data\?/), page.getByRole('link', { name: '源氏物語 下' }).click()]);
    await expectJapanesePage(page, '源氏物語 下');
    assert.equal((await page.locator('.holding-table td.status').innerText()).trim(), '貸出中');
    await page.goBack();
    assert.match(page.url(), /PAGENUM=1/);
    assert.deepEqual(await resultTitles(page), secondPage);
    await Promise.all([page.waitForURL(/PAGENUM=0/), page.locator('a.prior_page').first().click()]);
    assert.deepEqual(await resultTitles(page), firstPage);

    step('recommended books');
    await Promise.all([page.waitForURL(/\/recommend\?/), page.locator('a.recommend').first().click()]);
    await expectJapanesePage(page, '資料一覧');
    assert.equal((await page.locator('.query_key').innerText()).trim(), '司書のおすすめ');
    const recommended = await hitCount(page);
    assert.ok(recommended >= 10, `${recommended} recommended books`);
    assert.equal((await resultTitles(page)).length, 10);
    await shoot(page, 'desktop-recommend', DESKTOP);
    await page.setViewportSize(DESKTOP);
    await Promise.all([page.waitForURL(/\/recommend\?PAGENUM=1/), page.locator('a.next_page').first().click()]);
    assert.equal((await resultTitles(page)).length, recommended - 10);

    step('new arrivals');
    await Promise.all([page.waitForURL(/\/newbook\?/), page.locator('a.newbook').first().click()]);
    await expectJapanesePage(page, '資料一覧');
    assert.equal((await page.locator('.query_key').innerText()).trim(), '新着図書');
    assert.ok((await hitCount(page)) > 0);
    assert.equal((await resultTitles(page))[0].trim(), 'カフネ');
    await shoot(page, 'desktop-newbook', DESKTOP);
    await shoot(page, 'phone-newbook', PHONE);
    await expectNoSidewaysScroll(page);

    step('a search without hits');
    await page.setViewportSize(DESKTOP);
    await page.goto(base);
    await page.getByLabel('書名').pressSequentially('存在しない本');
    await Promise.all([
      page.waitForURL(/\/list\?/),
      page.getByRole('button', { name: '検索', exact: true }).click(),
    ]);
    await expectJapanesePage(page, '該当書籍は見付かりませんでした');
    assert.equal(await page.getByLabel('書名').inputValue(), '存在しない本');
    await shoot(page, 'desktop-not-found', DESKTOP);

    assert.deepEqual(failures, [], 'requests that failed');
  } finally {
    await context.close();
    fs.rmSync(profile, { recursive: true, force: true });
  }
  console.log(`screenshots in ${shotDir}`);
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});
