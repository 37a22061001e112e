#include "common/run_flags.h"

std::atomic<bool> CancelRequested{false};
std::atomic<bool> RunActive{false};
