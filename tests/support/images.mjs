// LZS images for the JavaScript tests: the named images of tests/images/
// (its README tells what each is), each with what it decodes to or, when it
// is refused, the words of lzs_describe for it.
import { existsSync, readFileSync, readdirSync } from "node:fs";

const folder = new URL("../images/", import.meta.url);

// { name, image, output, error }: output a Buffer and error null, or the
// other way round.
export function namedImage(name) {
  const file = (suffix) => new URL(`${name}${suffix}`, folder);
  const refused = existsSync(file(".err"));
  return {
    name,
    image: readFileSync(file(".lzs")),
    output: refused ? null : readFileSync(file(".out")),
    error: refused ? readFileSync(file(".err"), "utf8").replace(/\n$/, "") : null,
  };
}

// Every image of tests/images/, by name.
export const namedImages = readdirSync(folder)
  .filter((file) => file.endsWith(".lzs"))
  .sort()
  .map((file) => namedImage(file.slice(0, -".lzs".length)));

// The worked example: ABCABCABC.
export const WORKED_EXAMPLE = namedImage("worked-example").image;
