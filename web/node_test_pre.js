// Test programs under Node: the .wasm is read beside the script, as the
// loader's own fetch() of a plain path fails under Node 18 and later.
if (typeof process === "object" && !Module["wasmBinary"]) {
  Module["wasmBinary"] = require("fs").readFileSync(
    require("path").join(__dirname, require("path").basename(__filename, ".js") + ".wasm"));
}
