// The lobby's pages in headless Chromium, against a running lobby whose history was seeded:
// axe-core finds no violation on / and /stats at 1,024 and 375 px; the front page adds a
// race announced after it loaded, without reloading, and announces only that one; /stats
// draws one bar per day in the order of the seeded counts and the whole heat map.
//   node pages_test.mjs BASE_URL NFS4_COUNTS NFS5_COUNTS SCREENSHOT
// NFSx_COUNTS: the seeded races per day, oldest first, comma-separated.
import fs from "node:fs";
import { createRequire } from "node:module";
import puppeteer from "puppeteer-core";

const [base, nfs4Counts, nfs5Counts, screenshot] = process.argv.slice(2);
const axeSource = fs.readFileSync(createRequire(import.meta.url).resolve("axe-core/axe.min.js"), "utf8");
let failures = 0;
function check(ok, what) {
    console.log((ok ? "ok   " : "FAIL ") + what);
    if (!ok) failures++;
}

const browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
    headless: true,
    args: ["--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-extensions"],
});
try {
    for (const width of [1024, 375]) {
        for (const path of ["/", "/stats"]) {
            const page = await browser.newPage();
            await page.setViewport({ width, height: 900 });
            await page.goto(base + path, { waitUntil: "load" });
            await page.evaluate(axeSource);
            const result = await page.evaluate(() => axe.run());
            const found = result.violations.map((v) => `${v.id} (${v.impact}, ${v.nodes.length})`);
            check(found.length === 0, `axe at ${width} px on ${path}: ${found.join(", ") || "no violations"}`);
            await page.close();
        }
    }

    // The page polls every 30 s; here its timers run at most 300 ms.
    const page = await browser.newPage();
    await page.evaluateOnNewDocument(() => {
        const setTimeoutAsIs = window.setTimeout;
        window.setTimeout = (f, ms, ...rest) => setTimeoutAsIs(f, Math.min(ms, 300), ...rest);
    });
    await page.setViewport({ width: 1024, height: 900 });
    await page.goto(base + "/", { waitUntil: "load" });
    await page.evaluate(() => { window.loadedOnce = true; });
    const added = await (await fetch(base + "/server/server.php?action=raceadd&game=NFS4&data=" +
                                     encodeURIComponent("name:Fresh cup;ip:2130706433"))).text();
    check(added === "OK\n", "a new race is announced");
    const row = await page.waitForFunction(() => [...document.querySelectorAll('section[data-game="NFS4"] td')]
        .some((td) => td.textContent === "Fresh cup"), { timeout: 10000 }).then(() => true, () => false);
    check(row, "the new race appears in the NFS4 table");
    const state = await page.evaluate(() => ({
        loadedOnce: window.loadedOnce === true,
        news: document.getElementById("news").textContent,
        heading: document.querySelector('section[data-game="NFS4"] h2').textContent,
    }));
    check(state.loadedOnce, "without a reload");
    check(state.news === "New: NFS4 race Fresh cup, host 127.0.0.1.", `the live region says only that: "${state.news}"`);
    check(/^NFS4 \(\d+ races?\)$/.test(state.heading), `the heading counts again: "${state.heading}"`);
    const pauseVisible = await page.$eval("#pause", (b) => !b.hidden && b.offsetWidth > 0);
    check(pauseVisible, "the pause control is visible");
    await page.close();

    const stats = await browser.newPage();
    await stats.setViewport({ width: 1024, height: 900 });
    await stats.goto(base + "/stats", { waitUntil: "load" });
    const drawn = await stats.evaluate(() => ({
        bars: [...document.querySelectorAll("svg[aria-labelledby^='bars-']")].map((svg) =>
            [...svg.querySelectorAll("rect.bar")].map((r) => r.getBoundingClientRect().height)),
        cells: [...document.querySelectorAll("rect.cell")].filter((r) => {
            const box = r.getBoundingClientRect();
            return box.width > 5 && box.height > 5;
        }).length,
        noScript: document.scripts.length === 0,
    }));
    for (const [i, counts] of [nfs4Counts, nfs5Counts].entries()) {
        const expected = counts.split(",").map(Number);
        const heights = drawn.bars[i] || [];
        check(heights.length === expected.length, `chart ${i + 1}: ${heights.length} bars for ${expected.length} days`);
        // Same order: a day with more races has the taller bar, equal days equal bars.
        let ordered = heights.length === expected.length;
        for (let a = 0; ordered && a < expected.length; a++)
            for (let b = 0; b < expected.length; b++)
                if (Math.sign(expected[a] - expected[b]) !== Math.sign(Math.round(heights[a] - heights[b])))
                    ordered = false;
        check(ordered, `chart ${i + 1}: bar heights in the order of the seeded counts`);
    }
    check(drawn.cells === 7 * 24, `heat map: ${drawn.cells} of 168 hours drawn`);
    check(drawn.noScript, "/stats has no script");
    await stats.screenshot({ path: screenshot, fullPage: true });
    console.log("screenshot " + screenshot);
} finally {
    await browser.close();
}
console.log(failures ? `${failures} checks failed` : "all checks passed");
process.exit(failures ? 1 : 0);
