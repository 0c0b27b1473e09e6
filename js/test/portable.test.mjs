import { suite } from "./golden.mjs";

suite("portable");
