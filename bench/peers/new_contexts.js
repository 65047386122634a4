// Times a peer's new isolated context and page in one running Chromium: the browser is started
// once, then `count` contexts are opened one after another while the earlier ones live, each
// timed from the call to a page ready to navigate, then loaded with the page at `url` as a script
// would. Prints one JSON object: {"start": ms, "contexts": [ms, ...]}.
//
//     node new_contexts.js playwright|puppeteer EXECUTABLE URL COUNT
const [peer, executablePath, url, count] = process.argv.slice(2);

const peers = {
    async playwright() {
        const { chromium } = require("playwright-core");
        const browser = await chromium.launch({ executablePath, headless: true });
        return {
            browser,
            async open() {
                const context = await browser.newContext();
                return context.newPage();
            },
        };
    },
    async puppeteer() {
        const puppeteer = require("puppeteer-core");
        const args = process.getuid() === 0 ? ["--no-sandbox"] : [];
        const browser = await puppeteer.launch({ executablePath, headless: true, args });
        return {
            browser,
            async open() {
                const context = await browser.createBrowserContext();
                return context.newPage();
            },
        };
    },
};

async function main() {
    let started = performance.now();
    const { browser, open } = await peers[peer]();
    const start = performance.now() - started;
    const contexts = [];
    for (let i = 0; i < Number(count); ++i) {
        started = performance.now();
        const page = await open();
        contexts.push(performance.now() - started);
        await page.goto(url);
        await page.title();
    }
    await browser.close();
    console.log(JSON.stringify({ start, contexts }));
}

main().catch((error) => {
    console.error(error);
    process.exit(1);
});
