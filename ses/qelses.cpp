// SES transport (stub until the transport work lands).
#include "qelses.h"

int isConnOpen = 0;
const std::uint32_t SESRetryOne[2] = {25000, 3000000};

void SES_CloseCIConnection() {}
