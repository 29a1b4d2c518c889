// The file-system monitor thread: loads the driver, shares the ring buffer
// with it and hands every record to the change recorder.
#pragma once

void StartMonitor();
void StopMonitor();
