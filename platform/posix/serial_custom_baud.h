#pragma once

#include "platform/status.h"

// Rates outside the classic Bxxx table (56000 is one) need the termios2
// interface. Its header, <asm/termbits.h>, redefines everything <termios.h>
// declares, so the two live in separate translation units; this header includes
// neither.
namespace platform {

// Sets input and output speed of the open terminal `fd` to `baud` through
// termios2 BOTHER. The other line settings are left as they are.
Status SetCustomBaudRate(int fd, int baud);

// The output speed the driver reports for `fd`, as termios2 gives it (c_ospeed),
// and whether it is an arbitrary (BOTHER) rate.
struct ReportedBaudRate {
  unsigned speed = 0;
  bool custom = false;
};
Result<ReportedBaudRate> ReadBaudRate(int fd);

}  // namespace platform
