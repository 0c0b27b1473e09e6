// Writing a round's outputs into a folder the user picks, where the
// browser has the File System Access API (Chromium's browsers): the tree
// made as needed, each file written whole or not at all.

/** Whether this browser can write into a folder the user picks. */
export const canWriteFolders = () => typeof globalThis.showDirectoryPicker === "function";

// Whether a written file can be moved to its name: Chromium before 110
// cannot, and there a file is written at its name and removed if it fails.
const canMove = () =>
  typeof FileSystemFileHandle !== "undefined" && typeof FileSystemFileHandle.prototype.move === "function";

// Returns the names in folder, read once, so that a file of the same name
// is found without asking the browser about each file on its own.
async function namesIn(folder) {
  const names = new Set();
  for await (const name of folder.keys()) names.add(name);
  return names;
}

// Removes what a failed write left. Chromium lets go of a file a moment
// after its aborted stream settles, refusing its removal until then, so a
// refusal is tried again, later each time, for about two seconds.
async function removeLeft(folder, name) {
  for (let wait = 1; ; wait *= 2) {
    try {
      await folder.removeEntry(name);
      return;
    } catch (error) {
      if (error.name !== "NoModificationAllowedError" || wait > 1000) return;
      await new Promise((resolve) => setTimeout(resolve, wait));
    }
  }
}

async function writeWhole(file, blob) {
  const writable = await file.createWritable();
  try {
    await writable.write(blob);
    await writable.close();
  } catch (error) {
    await writable.abort().catch(() => {});
    throw error;
  }
}

// Writes blob as name in a folder, { handle, names }: under a temporary
// name, moved over name once complete where the browser can move files,
// else straight; a file that fails leaves nothing behind. An existing file
// is replaced only with replace.
async function writeFile(folder, name, blob, replace) {
  const there = folder.names.has(name);
  if (there && !replace) {
    throw new Error("a file of this name is there; it is replaced only if you agree");
  }
  const movable = canMove();
  const target = await folder.handle.getFileHandle(
    movable ? `.zorbu-partial.${crypto.randomUUID()}` : name, { create: true });
  try {
    await writeWhole(target, blob);
    if (movable) await target.move(folder.handle, name);
  } catch (error) {
    // A file written in place that was there before is left as it was.
    if (movable || !there) await removeLeft(folder.handle, target.name);
    throw error;
  }
}

/**
 * Writes each output, { name, blob } with name a '/'-separated path, under
 * folder, making folders as needed; returns those that failed, each
 * { name, error }.
 */
export async function writeInto(folder, outputs, replace) {
  // Each folder is made or opened once, its names read once; one that
  // cannot be made fails every file under it, each with the same error.
  const folders = new Map();
  const opened = async (handle) => ({ handle, names: await namesIn(handle) });
  const folderAt = (path) => {
    if (!folders.has(path)) {
      const cut = path.lastIndexOf("/");
      const made = path === ""
        ? opened(folder)
        : folderAt(path.slice(0, Math.max(cut, 0))).then(async (parent) =>
          opened(await parent.handle.getDirectoryHandle(path.slice(cut + 1), { create: true })));
      made.catch(() => {}); // taken by each file under it
      folders.set(path, made);
    }
    return folders.get(path);
  };
  const failed = [];
  for (const { name, blob } of outputs) {
    const cut = name.lastIndexOf("/");
    try {
      await writeFile(await folderAt(name.slice(0, Math.max(cut, 0))), name.slice(cut + 1), blob, replace);
    } catch (error) {
      failed.push({ name, error });
    }
  }
  return failed;
}
