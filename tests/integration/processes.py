"""What the test process has started, read from /proc."""
import os


def running_children():
    """The processes that this process started and that still run (zombies do not count)."""
    own = str(os.getpid())
    pids = set()
    for entry in os.listdir("/proc"):
        try:
            with open(f"/proc/{entry}/stat") as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
            if fields[1] == own and fields[0] != "Z":
                pids.add(int(entry))
        except (OSError, IndexError, ValueError):
            pass
    return pids
