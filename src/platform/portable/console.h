// The C runtime's console keyboard: a key-pending check that never blocks, and a read of one
// code without echo (ESC is 27; extended keys give two codes, 0 or 224 then the scan code).
#pragma once

int _kbhit(void);
int _getch(void);
