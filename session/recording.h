// The session wires the file-system monitor to the change recorder: the
// monitor watches while setup runs, the recorder keeps what it sees.
#pragma once

// Feeds the monitor's records to the recorder and starts the monitor.
void StartRecording();
// Stops the monitor; drives where it may have missed changes get a caution.
void StopRecording();
