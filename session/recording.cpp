// Starting and stopping the monitor for a session, with the recorder as the
// monitor's sink.
#include "session/recording.h"

#include "files/recorder.h"
#include "monitor/monitor.h"

void StartRecording() {
    SetMonitorSink(RecordFileChange);
    StartMonitor();
}

void StopRecording() {
    StopMonitor();
    CautionMissedDrives(TakeMonitorMissedDrives());
}
