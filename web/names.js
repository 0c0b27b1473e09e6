// The names the page gives its downloads and zip entries: safe on every
// system a user may unpack them on, and never the same twice.

// Bytes a name may take on the common file systems.
const MOST_BYTES = 255;
// A last part after a dot longer than this is no extension, but part of the
// name, which is cut like the rest.
const MOST_EXTENSION_BYTES = 16;
// Control characters, C0 and C1, and what Windows refuses in a name; the
// slash and backslash among them, so that no name holds a folder.
const REFUSED = /[\u0000-\u001f\u007f-\u009f/\\:*?"<>|]/g;

const encoder = new TextEncoder();
const bytesOf = (text) => encoder.encode(text).length;

// Returns the longest start of text within `most` bytes of UTF-8, never
// cutting a character in two.
function cutTo(text, most) {
  let bytes = 0;
  let end = 0;
  for (const character of text) {
    bytes += bytesOf(character);
    if (bytes > most) break;
    end += character.length;
  }
  return text.slice(0, end);
}

// Returns the base name of name, what it keeps of the rest: no folder
// part, no refused character, no leading or trailing dot or space;
// "unnamed.rt" when nothing is left.
export function cleanName(name) {
  const base = String(name).split(/[/\\]/).pop();
  const clean = base.replace(REFUSED, "").replace(/^[. ]+|[. ]+$/g, "");
  return clean === "" ? "unnamed.rt" : clean;
}

/**
 * Gives each path of a folder's tree a clean one: each folder and file
 * name cleaned as NameSet cleans it, and made unique among the names of
 * its folder; files of one folder stay in one folder.
 */
export class TreeNames {
  constructor() {
    this.root = { names: new NameSet(), folders: new Map() };
  }

  give(path) {
    const parts = String(path).split("/");
    const file = parts.pop();
    const given = [];
    let folder = this.root;
    for (const part of parts) {
      let below = folder.folders.get(part);
      if (!below) {
        below = { name: folder.names.give(part), names: new NameSet(), folders: new Map() };
        folder.folders.set(part, below);
      }
      given.push(below.name);
      folder = below;
    }
    given.push(folder.names.give(file));
    return given.join("/");
  }
}

/**
 * Gives each name asked for a clean one (cleanName), cut to 255 bytes of
 * UTF-8 before its extension, and one not given before: a name taken
 * already gets " (1)", " (2)", ... before its extension. Names that differ
 * in case alone count as the same, as they do on Windows and macOS.
 */
export class NameSet {
  constructor() {
    this.taken = new Set();
  }

  give(name) {
    const clean = cleanName(name);
    const dot = clean.lastIndexOf(".");
    const hasExtension = dot > 0 && bytesOf(clean.slice(dot)) <= MOST_EXTENSION_BYTES;
    const extension = hasExtension ? clean.slice(dot) : "";
    const stem = hasExtension ? clean.slice(0, dot) : clean;
    for (let n = 0; ; n++) {
      const suffix = n === 0 ? "" : ` (${n})`;
      const room = MOST_BYTES - bytesOf(extension) - bytesOf(suffix);
      const candidate = `${cutTo(stem, Math.max(room, 1))}${suffix}${extension}`;
      const key = candidate.toLowerCase();
      if (!this.taken.has(key)) {
        this.taken.add(key);
        return candidate;
      }
    }
  }
}
