// The independent side of the Sparkplug tests: npm's sparkplug-payload decodes what the gateway
// sends and encodes the commands it receives. One JSON request a line on stdin, one answer a line:
//   {"decode": "<base64>"}  -> the payload as JSON (64-bit numbers as numbers)
//   {"encode": {...}}       -> {"base64": "..."}
const readline = require("readline");
const sparkplug = require("sparkplug-payload").get("spBv1.0");

function plain(v) {
  if (v === null || typeof v !== "object") return v;
  if (typeof v.toNumber === "function" && "low" in v && "high" in v) return v.toNumber();
  if (Buffer.isBuffer(v) || v instanceof Uint8Array) return Buffer.from(v).toString("base64");
  if (Array.isArray(v)) return v.map(plain);
  const out = {};
  for (const k of Object.keys(v)) out[k] = plain(v[k]);
  return out;
}

readline.createInterface({ input: process.stdin }).on("line", (line) => {
  let answer;
  try {
    const req = JSON.parse(line);
    if ("decode" in req) answer = plain(sparkplug.decodePayload(Buffer.from(req.decode, "base64")));
    else answer = { base64: Buffer.from(sparkplug.encodePayload(req.encode)).toString("base64") };
  } catch (e) {
    answer = { error: String(e) };
  }
  process.stdout.write(JSON.stringify(answer) + "\n");
});
