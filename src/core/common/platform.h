#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// What the program asks of the operating system beyond what Qt offers. Every direct system
// call of the program is made in platform.cpp; a build with FLUXMERE_QT_ONLY_PLATFORM uses
// Qt-only stand-ins instead (and cannot catch stop signals), so that a port to another
// system starts in that one file.
namespace platform {

// Whether this build catches SIGTERM, SIGINT and SIGHUP.
bool catchesStopSignals();

// Settings the process needs before anything runs: timers woken on time (a BATCH period is
// five 1 ms steps, and the kernel's default slack of 50 us would add a tenth to each), and a
// write past a file size limit reported as an error rather than ending the process.
void prepareProcess();

// Catches SIGTERM, SIGINT and SIGHUP: from then on each one makes the returned descriptor
// readable (watch it with a QSocketNotifier; takeStopSignal reads it). -1 when this build or
// system cannot; the signals then keep their usual effect.
int watchStopSignals();
// The number of a caught signal waiting on the descriptor, or 0.
int takeStopSignal(int descriptor);
// Gives the three signals their usual effect again, and raises one that was caught meanwhile
// (a command that ends by itself has nothing to stop cleanly).
void releaseStopSignals(int descriptor);

// Appends `bytes` to the file at `path` (created when missing) in one write and closes it;
// `ifEmpty` goes before them, in the same write, when the file is empty. A write that fails
// part-way is cut back to the file's length before it, so the file never keeps part of the
// bytes. `sizeBefore`, when given, receives that length. False, with the system's reason,
// when the bytes are not all there.
bool appendWhole(const QString &path, const QByteArray &bytes, QString *reason,
                 const QByteArray &ifEmpty = {}, qint64 *sizeBefore = nullptr);
// Has the system put what was written to the file on its disk (fdatasync). True without a
// way to ask, in a build on Qt alone.
bool syncFile(const QString &path, QString *reason);
// Whether process `pid` of this machine is running.
bool processRuns(qint64 pid);

// A precise one-shot timer whose descriptor turns readable when it expires; -1 where the
// system has none (the caller then falls back on a Qt timer).
int openTimer();
// Arms it to expire once, `milliseconds` from now.
void armTimer(int descriptor, int milliseconds);
// Takes back a pending expiry, including one that happened but was not read.
void disarmTimer(int descriptor);
// Reads an expiry; false when there was none.
bool takeTimerExpiry(int descriptor);
void closeTimer(int descriptor);

// Whether the peer of a connected socket has closed its side: its close may wait, unhandled,
// in the event loop. False where the system cannot tell.
bool peerHasHungUp(qintptr socket);
// Sends the end of the stream without closing the socket; false where the system cannot.
bool shutDownSending(qintptr socket);

} // namespace platform
