#pragma once

// The text that follows the number in a "*receive error no." line: the
// meaning of a Windows Sockets error code, or "" for codes outside the table.
const char* ReceiveErrorText(int code);
