"""The CPU seconds all of a process's threads have run so far, as the scheduler counts them
(nanoseconds, /proc/PID/task/*/schedstat); None once the process is gone. Threads that ended
before the reading are not counted: the programs measured keep theirs for their whole run."""
import os


def task_cpu_seconds(pid):
    total = 0
    try:
        tasks = os.listdir(f"/proc/{pid}/task")
    except OSError:
        return None
    for task in tasks:
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as f:
                total += int(f.read().split()[0])
        except (OSError, ValueError, IndexError):
            pass
    return total / 1e9
