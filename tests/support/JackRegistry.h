#pragma once
// JACK (jackd2) keeps the servers of a machine in a registry of eight slots in shared memory. A
// server that ends uncleanly (killed, or crashing on its way out after a client died) keeps its slot,
// and once all eight are taken no further server starts ("Too many servers already active"): a test
// run that starts a private server per test would then fail for what earlier runs left behind.

// Frees the slots of servers whose process is gone; running servers keep theirs. Does nothing when
// the registry is missing or not laid out as this JACK lays it out. Returns how many it freed.
int FreeStaleJackServerSlots();
