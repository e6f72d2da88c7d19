// A visitor's walk through the sample catalogue in headless Chromium (the
// Debian package, driven by playwright-core): search by a Japanese title
// from the top page, read the hits, open a book and its lending status, go
// back to the same list page, page through the hits, open the recommended
// and new-arrivals lists, sort by the sort bar, follow a cover's fallback,
// a link to another catalogue (its address checked, never fetched) and the
// feed link. Every page must be decoded as Shift_JIS and show its Japanese
// text and pass axe-core (WCAG 2.2 AA, and the AAA colour contrast rule) at
// phone and desktop width; screenshots at both widths are saved. Requests
// to other sites never leave the machine: cover thumbnails are answered
// here (an image for a 13-digit ISBN, 404 for none).
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
const axePath = require.resolve(modules ? path.join(modules, 'axe-core', 'axe.min.js') : 'axe-core/axe.min.js');

const DESKTOP = { width: 1280, height: 900 };
const PHONE = { width: 390, height: 844 };
const WIDE = { width: 1366, height: 900 };
const THUMBNAILS = 'https://ndlsearch.ndl.go.jp/thumbnail/';
// A 1x1 PNG, the cover of every book with an ISBN.
const PNG = Buffer.from(
  'iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR4nGNgYGD4DwABBAEAwS2OUAAAAABJRU5ErkJggg==', 'base64');

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

// axe-core at phone and desktop width: no violation of WCAG 2.2 A and AA,
// and none of the AAA contrast rule.
async function expectAccessible(page, name) {
  const viewport = page.viewportSize();
  for (const size of [PHONE, WIDE]) {
    await page.setViewportSize(size);
    if (!(await page.evaluate(() => typeof window.axe !== 'undefined'))) await page.addScriptTag({ path: axePath });
    const results = await page.evaluate(async () => {
      const wcag = await window.axe.run(document, {
        runOnly: { type: 'tag', values: ['wcag2a', 'wcag2aa', 'wcag21a', 'wcag21aa', 'wcag22aa'] },
      });
      const aaa = await window.axe.run(document, { runOnly: { type: 'rule', values: ['color-contrast-enhanced'] } });
      return [...wcag.violations, ...aaa.violations].map(
        (v) => `${v.id}: ${v.help} (${v.nodes.map((n) => n.target.join(' ')).join(', ')})`);
    });
    assert.deepEqual(results, [], `axe-core on ${name} at ${size.width}px`);
  }
  await page.setViewportSize(viewport);
}

async function hitCount(page) {
  return Number((await page.locator('.hit-count strong').innerText()).trim());
}

async function resultTitles(page) {
  return page.locator('table.results tbody td.title a.goto_detail').allInnerTexts();
}

async function shoot(page, name, viewport) {
  await page.setViewportSize(viewport);
  await page.screenshot({ path: path.join(shotDir, `${name}.png`), fullPage: true });
}

// On a phone the main links are at least 44 px tall.
async function expectTapTargets(page) {
  await page.setViewportSize(PHONE);
  const small = await page.evaluate(() =>
    [...document.querySelectorAll('.site-nav a, .pager a, a.goto_detail, .sort-bar button')]
      .filter((e) => e.getBoundingClientRect().height < 44)
      .map((e) => e.textContent.trim()));
  assert.deepEqual(small, [], 'tap targets under 44 px');
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
  const origin = new URL(base).origin;
  await context.route((url) => url.origin !== origin, (route) => {
    const url = route.request().url();
    if (url.startsWith(THUMBNAILS) && /\/\d{13}\.jpg$/.test(url))
      return route.fulfill({ status: 200, contentType: 'image/png', body: PNG });
    if (url.startsWith(THUMBNAILS)) return route.fulfill({ status: 404, body: '' });
    failures.push(`request to another site: ${url}`);
    return route.abort();
  });
  try {
    const page = context.pages()[0] || (await context.newPage());
    // A missing cover is expected (the page shows its fallback); nothing else may fail.
    page.on('response', (r) => {
      if (r.status() >= 400 && !r.url().startsWith(THUMBNAILS)) failures.push(`${r.status()} ${r.url()}`);
    });
    page.on('console', (m) => {
      if (m.type() === 'error' && !(m.location().url || '').startsWith(THUMBNAILS))
        failures.push(`console: ${m.text()}`);
    });

    step('top page');
    const top = await page.goto(base);
    assert.equal(top.status(), 200);
    await expectJapanesePage(page, '蔵書検索');
    assert.equal(await page.title(), '蔵書検索 - 緑川市立図書館');
    await shoot(page, 'desktop-top', DESKTOP);
    await shoot(page, 'phone-top', PHONE);
    await expectNoSidewaysScroll(page);
    await expectAccessible(page, 'the top page');
    await page.setViewportSize(DESKTOP);
    // The browser's search box and feed readers find the catalogue.
    const search = await page.locator('link[rel="search"]').getAttribute('href');
    const description = await page.request.get(new URL(search, page.url()).href);
    assert.equal(description.status(), 200);
    assert.match(await description.text(), /<InputEncoding>Shift_JIS<\/InputEncoding>/);

    step('type a Japanese title and search');
    await page.getByLabel('書名').pressSequentially('物語');
    await Promise.all([
      page.waitForURL(/\/list\?/),
      page.getByRole('button', { name: '検索', exact: true }).click(),
    ]);
    // The form went out in the page's code page.
    assert.match(page.url(), /SYOMEI=%95%A8%8C%EA/);
    await expectJapanesePage(page, '検索結果');
    assert.match(await page.title(), /^検索結果 物語.*（17件中 1～10件目） - 緑川市立図書館$/);
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
    await expectTapTargets(page);
    await expectAccessible(page, 'the hit list');
    await page.setViewportSize(DESKTOP);

    step('open a book');
    const chosen = firstPage[0].trim();
    await Promise.all([page.waitForURL(/\/data\?BOOKID=/), page.getByRole('link', { name: chosen }).first().click()]);
    await expectJapanesePage(page, chosen);
    const status = (await page.locator('.holding-table td.status .status-box > div').innerText()).trim();
    assert.ok(['貸出可', '貸出中', '所在不明', '貸出禁止'].includes(status), `lending status ${status}`);
    assert.equal((await page.locator('.bib-table tr', { hasText: '書名' }).first().locator('td').innerText()).trim(), chosen);
    await shoot(page, 'desktop-detail', DESKTOP);
    await shoot(page, 'phone-detail', PHONE);
    await expectNoSidewaysScroll(page);
    await expectAccessible(page, 'a detail page');
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
    assert.equal((await page.locator('.holding-table td.status .status-box > div').innerText()).trim(), '貸出中');
    assert.match(await page.locator('.holding-table .due').innerText(), /^返却予定日 \d{4}年\d{1,2}月\d{1,2}日$/);
    await expectAccessible(page, 'a book on loan');
    // A book with an ISBN: its cover, and links out by ISBN.
    const isbn13 = (await page.locator('.elsewhere ul').getAttribute('data-isbn')).trim();
    assert.match(isbn13, /^97[89]\d{10}$/);
    assert.equal(await page.locator('.cover-large img').getAttribute('src'), `${THUMBNAILS}${isbn13}.jpg`);
    assert.equal(await page.locator('.cover-large.no-cover').count(), 0);
    const cinii = page.getByRole('link', { name: /CiNii Books/ });
    assert.ok(await cinii.isVisible());
    assert.equal(await cinii.getAttribute('href'), `https://ci.nii.ac.jp/books/search?isbn=${isbn13}`);
    const ld = JSON.parse(await page.locator('script[type="application/ld+json"]').textContent());
    assert.equal(ld['@type'], 'Book');
    assert.equal(ld.name, '源氏物語 下');
    assert.equal(ld.isbn, isbn13);
    await page.goBack();
    assert.match(page.url(), /PAGENUM=1/);
    assert.deepEqual(await resultTitles(page), secondPage);
    await Promise.all([page.waitForURL(/PAGENUM=0/), page.locator('a.prior_page').first().click()]);
    assert.deepEqual(await resultTitles(page), firstPage);

    step('the sort bar');
    await Promise.all([
      page.waitForURL(/ORDER=MS_UKEIRE&ORDERKIND=DESC/),
      page.getByRole('button', { name: '新しく入った順' }).click(),
    ]);
    assert.equal((await page.locator('.sort-bar strong').innerText()).trim(), '新しく入った順');
    assert.equal(await hitCount(page), hits);
    assert.equal((await page.locator('.query_key').innerText()).trim(), '物語');

    step('recommended books');
    await Promise.all([page.waitForURL(/\/recommend\?/), page.locator('a.recommend').first().click()]);
    await expectJapanesePage(page, '司書のおすすめ');
    assert.ok(!(await page.locator('.sort-bar').isVisible()), 'no sort bar on a list of fixed order');
    assert.equal((await page.locator('.query_key').innerText()).trim(), '司書のおすすめ');
    const recommended = await hitCount(page);
    assert.ok(recommended >= 10, `${recommended} recommended books`);
    assert.equal((await resultTitles(page)).length, 10);
    await shoot(page, 'desktop-recommend', DESKTOP);
    await expectAccessible(page, 'the recommended books');
    await page.setViewportSize(DESKTOP);
    await Promise.all([page.waitForURL(/\/recommend\?PAGENUM=1/), page.locator('a.next_page').first().click()]);
    assert.equal((await resultTitles(page)).length, recommended - 10);

    step('new arrivals');
    await Promise.all([page.waitForURL(/\/newbook\?/), page.locator('a.newbook').first().click()]);
    await expectJapanesePage(page, '新着資料');
    assert.equal((await page.locator('.query_key').innerText()).trim(), '新着図書');
    assert.ok((await hitCount(page)) > 0);
    assert.equal((await resultTitles(page))[0].trim(), 'カフネ');
    await shoot(page, 'desktop-newbook', DESKTOP);
    await shoot(page, 'phone-newbook', PHONE);
    await expectNoSidewaysScroll(page);
    await expectAccessible(page, 'the new arrivals');

    step('the feed link');
    const feedHref = await page.locator('link[rel="alternate"][type="application/atom+xml"]').getAttribute('href');
    const feed = await page.request.get(new URL(feedHref, page.url()).href);
    assert.equal(feed.status(), 200);
    assert.equal(feed.headers()['content-type'], 'application/atom+xml');
    assert.match(await feed.text(), /<entry>/);

    step("a cover's fallback");
    await page.setViewportSize(DESKTOP);
    await page.goto(`${base}/list?SYOMEI=%88%C9%90%A8%95%A8%8C%EA&PAGENUM=0`);  // 伊勢物語 (1964, no ISBN)
    const noCover = page.locator('td.title', { has: page.locator('.no-cover') }).first();
    await noCover.waitFor();
    const fallbackTitle = (await noCover.locator('a.goto_detail').innerText()).trim();
    await Promise.all([page.waitForURL(/\/data\?/), noCover.locator('a.goto_detail').click()]);
    await expectJapanesePage(page, fallbackTitle);
    await page.locator('.cover-large.no-cover').waitFor();
    assert.ok(!(await page.getByRole('link', { name: /CiNii Books/ }).isVisible()), 'no ISBN links without an ISBN');
    assert.ok(await page.getByRole('link', { name: '国立国会図書館サーチで書名から探す' }).isVisible());
    await shoot(page, 'phone-detail-no-cover', PHONE);
    await expectAccessible(page, 'a detail page without cover');

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
    await expectAccessible(page, 'the not-found page');

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
