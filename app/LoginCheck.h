#pragma once

class SingleInstance;
class TunnelRecordFile;

// The check that runs at login, without the application: a proxy left switched on by an earlier
// run whose tunnel has ended is switched off, and the user is told so. It never opens a window
// and never starts or stops a tunnel (one still running is the application's to take over), and
// leaves the record of a running instance alone. Needs a QCoreApplication; returns the
// process's exit status.
int runLoginCheck(const TunnelRecordFile &recordFile, SingleInstance &instance);
