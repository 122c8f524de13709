#pragma once

// Run at login (--restore-proxy): switches off a proxy left on by an earlier run whose tunnel
// has ended. Needs no display. Returns the process's exit code.
int runLoginCheck();
