// The bulk workers: one 64 KiB transfer in flight on each bulk endpoint for the whole test
// run, every byte moved counted in the run state.
#pragma once

#include "platform/platform.h"

enum { BULK_TRANSFER_SIZE = 65536 };

// Thread entries for _beginthreadex; the argument is ignored and 0 is returned. Each runs
// until a stop is requested or one of its transfers fails (exit status 2), or its set-up
// fails (exit status 3). A worker that ends on its own calls request_stop; one that ends
// because of a stop does not.
unsigned __stdcall bulk_reader(void* unused);  // endpoint 0x81 into bytes_read
unsigned __stdcall bulk_writer(void* unused);  // endpoint 0x01 from the pattern, into bytes_written
