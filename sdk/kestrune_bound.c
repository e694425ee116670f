/* Linked first into every daemon that kestrune_add_daemon builds, and exported with
   ordinal 1. Kestrune accepts EntryState, the state word and EntryMenu only at or above
   the export with ordinal 1: this function lies at the start of the daemon's own code,
   below all of it and below its data, so every entry passes wherever it is defined. */
void KestruneBound(void) {}
