// Writing a round's outputs into a folder the user picks, where the
// browser has the File System Access API (Chromium's browsers): the tree
// made as needed, each file written whole or not at all.

/** Whether this browser can write into a folder the user picks. */
export const canWriteFolders = () => typeof globalThis.showDirectoryPicker === "function";

// Writes blob as name in folder: under a temporary name, moved over name
// once complete where the browser can move files, else straight; a file
// that fails leaves nothing behind. An existing file is replaced only
// with replace.
async function writeFile(folder, name, blob, replace) {
  const there = await folder.getFileHandle(name).then(() => true, (error) => {
    if (error.name === "NotFoundError") return false;
    throw error;
  });
  if (there && !replace) {
    throw new Error("a file of this name is there; it is replaced only if you agree");
  }
  const probe = await folder.getFileHandle(`.zorbu-partial.${crypto.randomUUID()}`, { create: true });
  const movable = typeof probe.move === "function";
  const target = movable ? probe : await folder.getFileHandle(name, { create: true });
  if (!movable) await folder.removeEntry(probe.name);
  try {
    await blob.stream().pipeTo(await target.createWritable());
    if (movable) await target.move(folder, name);
  } catch (error) {
    // A file written in place that was there before is left as it was.
    if (movable || !there) await folder.removeEntry(target.name).catch(() => {});
    throw error;
  }
}

/**
 * Writes each output, { name, blob } with name a '/'-separated path, under
 * folder, making folders as needed; returns those that failed, each
 * { name, error }.
 */
export async function writeInto(folder, outputs, replace) {
  const failed = [];
  for (const { name, blob } of outputs) {
    const parts = name.split("/");
    const file = parts.pop();
    try {
      let under = folder;
      for (const part of parts) under = await under.getDirectoryHandle(part, { create: true });
      await writeFile(under, file, blob, replace);
    } catch (error) {
      failed.push({ name, error });
    }
  }
  return failed;
}
