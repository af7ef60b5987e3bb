#pragma once
// The window modes run in the window program, installed beside this one:
// <bindir>/../<libexecdir>/horolab/horolab, or window/horolab in the build
// tree. Both keep the name horolab, which the window's captions show.

// True when the environment names no display (X11, Wayland, or a Qt
// platform such as offscreen) for a window to open on, having said so and
// what to do instead on standard error: Qt itself would abort with a core.
bool ReportMissingDisplay();

// Replaces this process by the window program with the same arguments;
// returns 1 (having said why) only when that fails.
int ExecWindowProgram(char** argv);
