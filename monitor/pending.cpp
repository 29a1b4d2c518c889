// Placeholder monitor, filled by the monitor work.
#include "monitor/monitor.h"

void StartMonitor() {}
void StopMonitor() {}
