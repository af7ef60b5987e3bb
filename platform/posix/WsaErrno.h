#pragma once

// POSIX errno values by name onto the Windows Sockets numbers the log shows.
// Values without a Windows Sockets counterpart become 10000 + errno.
int WsaErrorFromErrno(int error);
