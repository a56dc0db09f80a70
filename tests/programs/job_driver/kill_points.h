// Where the job driver ends itself without warning, as a power cut or the task manager would:
// after its N-th log line (JOB_DRIVER_KILL_AT_LINE=N), after its N-th progress report
// (JOB_DRIVER_KILL_AT_STATUS=N) or right after its N-th change to the file system, a rename or a
// removal (JOB_DRIVER_KILL_AT_CHANGE=N), and, where the test cannot end it from outside, N
// microseconds after the kill points were armed (JOB_DRIVER_KILL_AFTER_US=N).
// Unset or 0: never.
#pragma once

namespace job_driver {

// Reads the variables; call once before the job starts.
void ArmKillPoints();
// Called after each log line has been printed and flushed.
void AfterLogLine();
// Called after each progress report.
void AfterStatus();
// The changes to the file system counted so far.
long ChangesSoFar();

// What each system gives the portable half (kill_points.cpp):
// Called by the system's stand-ins after each rename or removal that succeeded.
void AfterChange();
// Starts counting changes where that needs a step at run time (nothing where it does not).
void CountChanges();
// Ends the driver at once, without warning.
void Die();

}  // namespace job_driver
