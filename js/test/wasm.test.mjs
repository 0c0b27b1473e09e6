import { suite } from "./golden.mjs";

suite("wasm");
