#pragma once
// The window modes run in the window program, installed beside this one:
// <bindir>/../<libexecdir>/horolab/horolab, or window/horolab in the build
// tree. Both keep the name horolab, which the window's captions show.

// Replaces this process by the window program with the same arguments;
// returns 1 (having said why) only when that fails.
int ExecWindowProgram(char** argv);
