// Builds zorbu.html: one file with the page's script, the zip library and
// both WebAssembly modules inlined, so that it works opened from disk, and
// a Content-Security-Policy that allows that script and style alone, by
// their hashes, and the compilation of the modules.
// Usage: node build.mjs   (after cmake --build --preset wasm)
import { createHash } from "node:crypto";
import { readFileSync, writeFileSync } from "node:fs";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";

import { build } from "esbuild";

const here = dirname(fileURLToPath(import.meta.url));
const wasm = (name) => readFileSync(join(here, "..", "js", "wasm", name)).toString("base64");

const bundled = await build({
  entryPoints: [join(here, "page.js")],
  bundle: true,
  format: "esm",
  platform: "browser",
  minify: true,
  write: false,
  external: ["node:*"],
  define: {
    ZORBU_MODULES: JSON.stringify({ simd: wasm("zorbu.wasm"), portable: wasm("zorbu-portable.wasm") }),
  },
  logLevel: "warning",
});
// An inlined script must not end its own element.
const script = bundled.outputFiles[0].text.replaceAll("</script", "<\\/script").trim();
const style = readFileSync(join(here, "page.css"), "utf8").trim();
const hash = (text) => `'sha256-${createHash("sha256").update(text).digest("base64")}'`;
const policy = [
  "default-src 'none'",
  `script-src ${hash(script)} 'wasm-unsafe-eval'`,
  `style-src ${hash(style)}`,
  "img-src blob: data:",
  "connect-src blob:",
].join("; ");
const page = readFileSync(join(here, "page.html"), "utf8")
  .replace("@POLICY@", () => policy)
  .replace("@STYLE@", () => style)
  .replace("@SCRIPT@", () => script);
writeFileSync(join(here, "zorbu.html"), page);
console.log(`zorbu.html: ${page.length} bytes`);
