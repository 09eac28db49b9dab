// Program-wide settings of the window program, made before any window exists, and what the
// program says to a second copy of itself.
#pragma once

#include <string>

class QMessageBox;
class QWidget;

// The application title "KVT BeamDock". Deliberately no display name: the desktop would append
// it to every caption and message box title, which must read exactly as written.
void SetApplicationTitle();

// The running copy listens on a local socket beside its single-instance lock file; a second
// start knocks there, and the running copy brings window forward (restored, raised, active).
// The socket is the lock holder's alone, so one left by a copy that crashed is replaced.
void ListenForSecondStarts(const std::string& lockFile, QWidget* window);
// True when a running copy took the knock.
bool KnockOnRunningCopy(const std::string& lockFile);

// A message box is laid out for its text only, and a desktop cuts a longer title to fit the
// frame: the box is widened until its title fits.
void FitBoxToTitle(QMessageBox& box);

// The wait cursor while the object lives, for work that holds the window, such as a read from
// a site server that does not answer (its connect time-out).
class TWaitCursor {
 public:
  TWaitCursor();
  ~TWaitCursor();
  TWaitCursor(const TWaitCursor&) = delete;
  TWaitCursor& operator=(const TWaitCursor&) = delete;
};
