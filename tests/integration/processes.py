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


def group_runs(group):
    """Whether a process of the process group `group` still runs (zombies do not count)."""
    for entry in os.listdir("/proc"):
        try:
            with open(f"/proc/{entry}/stat") as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
            if int(fields[3]) == group and fields[0] != "Z":
                return True
        except (OSError, IndexError, ValueError):
            pass
    return False


def descendants(pid):
    """The processes below `pid`, with their command lines."""
    parents = {}
    for entry in os.listdir("/proc"):
        try:
            with open(f"/proc/{entry}/stat") as stat:
                parents[int(entry)] = int(stat.read().rsplit(")", 1)[1].split()[1])
        except (OSError, IndexError, ValueError):
            pass
    found, frontier = {}, {pid}
    while frontier:
        frontier = {child for child, parent in parents.items() if parent in frontier}
        for child in frontier:
            try:
                with open(f"/proc/{child}/cmdline", "rb") as cmdline:
                    found[child] = cmdline.read().decode(errors="replace")
            except OSError:
                pass
    return found


def start_client(script):
    """A Python process that creates a browser, says so on its output, then runs `script`."""
    import subprocess
    import sys
    code = ("import os, sys, time, varne\n"
            "browser = varne.CreateObject('Varne.Browser')\n"
            "print('started', flush=True)\n" + script)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    started = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE, stdin=subprocess.PIPE, env=env)
    assert started.stdout.readline() == b"started\n"
    return started


def is_browser(command_line):
    """Whether a process of ours is a browser itself: not one of its helpers (Chromium's --type=,
    Firefox's -contentproc) nor what removes its profile once it has gone (the watchdog, the keeper)."""
    return not any(helper in command_line
                   for helper in ("--type=", "-contentproc", "varne-firefox-watchdog", "varne-keeper"))


def profile_folder(command_line):
    """The folder of the profile that a browser's command line names, if any."""
    arguments = command_line.split("\0")
    for index, argument in enumerate(arguments):
        if argument.startswith("--user-data-dir="):
            return os.path.dirname(argument.removeprefix("--user-data-dir="))
        if argument == "--profile" and index + 1 < len(arguments):
            return os.path.dirname(arguments[index + 1])
    return None


def browser_of(started):
    """The browser process that `started` started, and the folder of its profile, by its command line."""
    for pid, line in descendants(started.pid).items():
        if is_browser(line) and profile_folder(line):
            return pid, profile_folder(line)
    raise AssertionError("no browser below the client")


def browsers(engine):
    """The browsers of `engine` that this process runs, with the folders of their profiles."""
    found = {}
    for pid, line in descendants(os.getpid()).items():
        program = line.split("\0", 1)[0]
        if is_browser(line) and profile_folder(line) and engine in os.path.basename(program):
            found[pid] = profile_folder(line)
    return found


def runs(pid, folder):
    """Whether `pid` is still, and alive, the browser of the profile in `folder`."""
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as cmdline:
            line = cmdline.read().decode(errors="replace")
        with open(f"/proc/{pid}/stat") as stat:
            state = stat.read().rsplit(")", 1)[1].split()[0]
    except OSError:
        return False
    return state != "Z" and f"{folder}/" in line


def let_end(client, seconds=10):
    """Gives a client of start_client the line it waits for, closes its input and waits, within
    `seconds`, until it has ended."""
    client.stdin.write(b"\n")
    client.stdin.close()
    client.wait(seconds)
