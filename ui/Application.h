// Program-wide settings of the window program, made before any window exists.
#pragma once

// The application title "KVT BeamDock". Deliberately no display name: the desktop would append
// it to every caption and message box title, which must read exactly as written.
void SetApplicationTitle();
