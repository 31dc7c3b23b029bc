"""Running the Windows program under Wine for the end-to-end tests.

The tests never start the program through Wine's own argv handling, because
Wine quotes every Unix argument again and the program reads its command line
as one raw string. Instead `run_exe` starts our launcher (lzs-launch.exe,
from tests/support/windows/launch.cpp),
which hands the program an exact command line through CreateProcessA and
reports the program's full 32-bit exit code. Wine reports exit code 0 for a
program killed by a Unix signal, so the harness also waits for the program's
Unix process itself (handed to it as an orphan, since Wine starts it through
a short-lived middle process) and raises ProgramKilled when a signal ended it.

With relay=True the run is made under WINEDEBUG=+relay,+loaddll and the
platform calls that the program itself made are read back from the log:
only calls on the thread that loaded the program and whose return address
lies inside the program's image. The image range comes from the address
Wine reports for the load and the size in the PE headers.

Everything the module needs comes from environment variables that CTest sets
(see tests/e2e/CMakeLists.txt):

  LZS_EXE        the program, lzs-unpack.exe
  LZS_CLI_EXE    the batch tool, lzs.exe
  LZS_LAUNCHER   lzs-launch.exe
  LZS_E2E_DIR    a build folder for the Wine prefixes, work files and artefacts
  LZS_WINE       the Wine loader (default /usr/lib/wine/wine64)
  LZS_WINESERVER the Wine server (default /usr/lib/wine/wineserver64)

Used as a script, it prepares and stops Wine for a test run:

  python3 wine.py start   create the prefixes if needed, start a persistent server
                          for the plain one, set the relay filter in both
  python3 wine.py stop    stop the servers of both prefixes
"""

from __future__ import annotations

import ctypes
import dataclasses
import os
import re
import resource
import selectors
import shutil
import signal
import struct
import subprocess
import sys
import threading
import time
from pathlib import Path

WINE = os.environ.get("LZS_WINE", "/usr/lib/wine/wine64")
WINESERVER = os.environ.get("LZS_WINESERVER", "/usr/lib/wine/wineserver64")


READY_MARK = "lzs-prefix-ready"


# --------------------------------------------------------------------------
# Paths


def exe_path() -> Path:
    """The Windows program under test (LZS_EXE)."""
    return Path(os.environ["LZS_EXE"])


def launcher_path() -> Path:
    """Our launcher, lzs-launch.exe (LZS_LAUNCHER)."""
    return Path(os.environ["LZS_LAUNCHER"])


def e2e_dir() -> Path:
    """The build folder of the end-to-end tests (LZS_E2E_DIR)."""
    return Path(os.environ["LZS_E2E_DIR"])


def prefix_path(x11: bool = False) -> Path:
    """The private Wine prefix: one for runs without a display, and a second
    one, with a server of its own, for runs on an X display. Keeping them apart
    means a notice shown on X can never come from, or block, a run that has no
    display (Wine's desktop process takes its display driver from the process
    that started it, and is shared by every process of one server)."""
    return e2e_dir() / ("wineprefix-x11" if x11 else "wineprefix")


def work_path() -> Path:
    """The folder in which tests make their files."""
    return e2e_dir() / "work"


def windows_path(path: os.PathLike | str) -> str:
    """The Windows name of a Unix path, through Wine's Z: drive."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def wine_env(display: str | None = None, debug: str = "-all") -> dict[str, str]:
    """The environment of a Wine process: the private prefix, no Mono/Gecko
    installers, the given WINEDEBUG, and DISPLAY only when one is given (with
    no display, a message box fails at once and the run goes on)."""
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    env["WINEPREFIX"] = str(prefix_path(display is not None))
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    env["WINEDEBUG"] = debug
    if display is not None:
        env["DISPLAY"] = display
    return env


# --------------------------------------------------------------------------
# The prefixes and the server


def _wine(args: list[str], env: dict[str, str], timeout: float = 300) -> None:
    subprocess.run([WINE, *args], env=env, check=True, timeout=timeout,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def _server(args: list[str], env: dict[str, str], timeout: float = 60) -> int:
    return subprocess.run([WINESERVER, *args], env=env, timeout=timeout,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode


def create_prefixes() -> None:
    """Creates both prefixes unless they are ready from an earlier run: the
    first start of Wine builds the plain one, and once its server has ended
    (so the registry is on disk) it is copied into the X11 one, with hard
    links for the large unchanging files and real copies of the registry
    files."""
    plain = prefix_path(False)
    x11 = prefix_path(True)
    if (plain / READY_MARK).exists() and (x11 / READY_MARK).exists():
        return
    for prefix in (plain, x11):
        if prefix.exists():
            _server(["-k"], {**os.environ, "WINEPREFIX": str(prefix)})
            shutil.rmtree(prefix)
    plain.parent.mkdir(parents=True, exist_ok=True)
    env = wine_env()
    _wine(["wineboot", "-i"], env)
    _server(["-w"], env)
    subprocess.run(["cp", "-al", str(plain), str(x11)], check=True)
    for reg in x11.glob("*.reg"):
        data = reg.read_bytes()
        reg.unlink()
        reg.write_bytes(data)
    (plain / READY_MARK).touch()
    (x11 / READY_MARK).touch()


def relay_include() -> str:
    """Wine's RelayInclude list for the program: every function it imports.
    Only those calls are logged, wherever they come from; the log of a run
    that shows a message box then has some hundreds of lines instead of tens
    of thousands, and every call the program makes is still in it."""
    return ";".join(f"{library.rsplit('.', 1)[0]}.{name}"
                    for library, name in PeImage(exe_path()).imports())


def _prefix_env(x11: bool) -> dict[str, str]:
    return {**wine_env(), "WINEPREFIX": str(prefix_path(x11))}


def set_relay_include(x11: bool) -> None:
    """Writes `relay_include` into the registry of one prefix."""
    _wine(["reg", "add", r"HKCU\Software\Wine\Debug", "/v", "RelayInclude",
           "/d", relay_include(), "/f"], _prefix_env(x11))


def start_server() -> None:
    """Starts a persistent server for the plain prefix, so that each run does
    not pay for starting one; `stop_servers` ends it."""
    # The server goes into the background; it must not hold the test's output
    # open, or CTest waits for it. One already running makes it fail, which
    # is as good.
    subprocess.run([WINESERVER, "-p"], env=wine_env(), timeout=60,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    # The first process of a server starts Wine's services, which then hold
    # its standard output and error: let that be a process without pipes.
    _wine(["cmd.exe", "/c", "exit"], wine_env())


def stop_servers(display: bool | None = None) -> None:
    """Ends the server of the plain prefix (display=False), of the X11 one
    (True) or of both (None), and every Wine process they hold."""
    for x11 in (False, True):
        if display is not None and x11 != display:
            continue
        env = _prefix_env(x11)
        if Path(env["WINEPREFIX"]).exists():
            _server(["-k"], env)
            _server(["-w"], env)


# --------------------------------------------------------------------------
# The program's image


@dataclasses.dataclass
class Section:
    name: str
    rva: int
    virtual_size: int
    file_offset: int
    raw_size: int
    characteristics: int

    @property
    def writable(self) -> bool:
        return bool(self.characteristics & 0x80000000)  # IMAGE_SCN_MEM_WRITE


class PeImage:
    """The PE headers of an exe: its preferred base, the size of its image in
    memory and its sections, enough to turn an address inside the loaded
    image back into bytes of the file."""

    def __init__(self, path: os.PathLike | str):
        self.path = Path(path)
        self.data = self.path.read_bytes()
        pe = struct.unpack_from("<I", self.data, 0x3C)[0]
        if self.data[pe:pe + 4] != b"PE\0\0":
            raise ValueError(f"{path}: not a PE file")
        sections, optional_size = struct.unpack_from("<2xH12xH", self.data, pe + 4)
        optional = pe + 24
        if struct.unpack_from("<H", self.data, optional)[0] != 0x20B:
            raise ValueError(f"{path}: not PE32+")
        self.image_base = struct.unpack_from("<Q", self.data, optional + 24)[0]
        self.size_of_image = struct.unpack_from("<I", self.data, optional + 56)[0]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            raw = struct.unpack_from("<8sIIII12xI", self.data, table + 40 * i)
            self.sections.append(Section(raw[0].rstrip(b"\0").decode(), raw[2], raw[1],
                                         raw[4], raw[3], raw[5]))
        self.load_base = self.image_base  # set from Wine's log when known
        self._import_directory = struct.unpack_from("<I", self.data, optional + 120)[0]
        self._resource_directory = struct.unpack_from("<I", self.data, optional + 128)[0]
        self.timestamp = struct.unpack_from("<I", self.data, pe + 8)[0]

    def _file_offset(self, rva: int) -> int:
        for s in self.sections:
            if s.rva <= rva < s.rva + s.raw_size:
                return s.file_offset + rva - s.rva
        raise ValueError(f"RVA {rva:#x} is not in the file")

    def _c_string(self, offset: int) -> str:
        return self.data[offset:self.data.index(b"\0", offset)].decode("ascii")

    def imports(self) -> list[tuple[str, str]]:
        """The functions the exe imports, as (library, name) pairs:
        ("KERNEL32.dll", "CreateFileA"), ...; imports by ordinal as "#n"."""
        result = []
        entry = self._file_offset(self._import_directory)
        while True:
            lookup, _, _, name, thunks = struct.unpack_from("<5I", self.data, entry)
            if name == 0:
                return result
            library = self._c_string(self._file_offset(name))
            thunk = self._file_offset(lookup or thunks)
            while True:
                value = struct.unpack_from("<Q", self.data, thunk)[0]
                if value == 0:
                    break
                if value >> 63:
                    result.append((library, f"#{value & 0xFFFF}"))
                else:
                    result.append((library, self._c_string(self._file_offset(value) + 2)))
                thunk += 8
            entry += 20

    def resource(self, kind: int, ident: int) -> bytes:
        """The bytes of the resource of a numeric type and id (RT_VERSION 16,
        RT_MANIFEST 24), in its first language. Raises KeyError when the exe
        has no such resource."""
        if self._resource_directory == 0:
            raise KeyError("the exe has no resources")
        root = self._file_offset(self._resource_directory)

        def entry(directory: int, ident: int | None) -> int:
            named, numbered = struct.unpack_from("<12xHH", self.data, root + directory)
            for i in range(named + numbered):
                name, target = struct.unpack_from("<II", self.data, root + directory + 16 + 8 * i)
                if ident is None or (not name >> 31 and name == ident):
                    return target
            raise KeyError(f"no resource entry {ident}")

        directory = 0
        for key in (kind, ident):
            target = entry(directory, key)
            if not target >> 31:
                raise KeyError(f"resource entry {key} is not a directory")
            directory = target & 0x7FFFFFFF
        target = entry(directory, None)
        if target >> 31:
            raise KeyError(f"resource {kind}/{ident} has no data entry")
        rva, size = struct.unpack_from("<II", self.data, root + target)
        start = self._file_offset(rva)
        return self.data[start:start + size]

    def contains(self, address: int) -> bool:
        """Whether an address lies inside the loaded image."""
        return self.load_base <= address < self.load_base + self.size_of_image

    def section_at(self, address: int) -> Section | None:
        """The section holding an address of the loaded image, if any."""
        rva = address - self.load_base
        for s in self.sections:
            if s.rva <= rva < s.rva + max(s.virtual_size, s.raw_size):
                return s
        return None

    def read_string(self, address: int) -> bytes:
        """The whole zero-ended string at an address of the loaded image, read
        from the file (Wine's log cuts long strings). Only read-only data
        is sure to be in memory as in the file. Raises ValueError when the
        address is not in a read-only section with file contents."""
        rva = address - self.load_base
        for s in self.sections:
            if s.writable:
                continue
            if s.rva <= rva < s.rva + min(s.virtual_size, s.raw_size):
                start = s.file_offset + rva - s.rva
                end = self.data.index(b"\0", start, s.file_offset + s.raw_size)
                return self.data[start:end]
        raise ValueError(f"address {address:#x} is not in the file contents of {self.path.name}")


# --------------------------------------------------------------------------
# The relay log


@dataclasses.dataclass
class Arg:
    """One argument as the relay log shows it: the value, and for a string
    argument the text Wine printed after it (possibly cut short): the bytes
    of an 8-bit string, UTF-8 for a wide one."""
    value: int
    text: bytes | None = None
    cut: bool = False


@dataclasses.dataclass
class Call:
    """One platform call made by the program: "KERNEL32.CreateFileA", its
    arguments, its return value (None for a call that did not return, such
    as ExitProcess) and the return address inside the program."""
    function: str
    args: list[Arg]
    retval: int | None
    ret: int

    @property
    def name(self) -> str:
        """The function name without its library: "CreateFileA"."""
        return self.function.split(".", 1)[1]

    def values(self) -> list[int]:
        """The argument values."""
        return [a.value for a in self.args]


_CALL = re.compile(r"^([0-9a-f]+):Call ([\w.]+)\((.*)\) ret=([0-9a-f]+)$")
_RET = re.compile(r"^([0-9a-f]+):Ret  ([\w.]+)\(\) retval=([0-9a-f]+) ret=([0-9a-f]+)$")
_LOADED = re.compile(r'^([0-9a-f]+):trace:loaddll:\w+ Loaded L"(.*)" at ([0-9A-Fa-f]+): ')
_ESCAPES = {"n": b"\n", "r": b"\r", "t": b"\t", '"': b'"', "\\": b"\\"}


def _parse_args(text: str) -> list[Arg]:
    """Splits the argument list of a relay Call line: hex values, each maybe
    followed by a quoted string (L"..." for wide ones, where \\041a is
    U+041A) and "..." when cut."""
    args: list[Arg] = []
    i, n = 0, len(text)
    while i < n:
        m = re.compile(r"[0-9a-f]+").match(text, i)
        if not m:
            raise ValueError(f"cannot read relay arguments: {text!r}")
        arg = Arg(int(m.group(0), 16))
        i = m.end()
        if text.startswith(' "', i) or text.startswith(' L"', i):
            wide = text[i + 1] == "L"
            i += 3 if wide else 2
            out = bytearray()
            while text[i] != '"':
                if text[i] == "\\":
                    c = text[i + 1]
                    if wide and re.fullmatch(r"[0-9a-f]{4}", text[i + 1:i + 5]):
                        out += chr(int(text[i + 1:i + 5], 16)).encode("utf-8")
                        i += 5
                    elif c == "x":
                        out.append(int(text[i + 2:i + 4], 16))
                        i += 4
                    else:
                        out += _ESCAPES.get(c, c.encode())
                        i += 2
                else:
                    out += text[i].encode("latin-1", "replace")
                    i += 1
            i += 1
            arg.text = bytes(out)
            if text.startswith("...", i):
                arg.cut = True
                i += 3
        args.append(arg)
        if i < n:
            if text[i] != ",":
                raise ValueError(f"cannot read relay arguments: {text!r}")
            i += 1
    return args


def parse_relay(log: str, image: PeImage) -> list[Call]:
    """The calls the program made, in order, from a +relay,+loaddll log: only
    calls on the thread that loaded the program's exe, returning into its
    image. Sets image.load_base from the load line. Raises ValueError when the
    log shows no load of the program."""
    exe_name = image.path.name.lower()
    thread = None
    for line in log.splitlines():
        m = _LOADED.match(line)
        if m and m.group(2).replace("\\\\", "\\").lower().endswith("\\" + exe_name):
            thread = m.group(1)
            image.load_base = int(m.group(3), 16)
            break
    if thread is None:
        raise ValueError(f"the log shows no load of {exe_name}")

    calls: list[Call] = []
    open_calls: list[Call] = []
    for line in log.splitlines():
        if not line.startswith(thread + ":"):
            continue
        m = _CALL.match(line)
        if m:
            call = Call(m.group(2), _parse_args(m.group(3)), None, int(m.group(4), 16))
            if image.contains(call.ret):
                calls.append(call)
                open_calls.append(call)
            continue
        m = _RET.match(line)
        if m and image.contains(int(m.group(4), 16)):
            for call in reversed(open_calls):
                if call.function == m.group(2) and call.ret == int(m.group(4), 16):
                    call.retval = int(m.group(3), 16)
                    open_calls.remove(call)
                    break
    return calls


# --------------------------------------------------------------------------
# Runs


@dataclasses.dataclass
class RunResult:
    """The outcome of one run of the program."""
    exit_code: int           # the program's full 32-bit exit code
    calls: list[Call] | None  # the program's platform calls (relay runs only)
    image: PeImage           # the program's image, for reading strings
    log: str                 # Wine's standard error output
    output: bytes = b""      # the launcher's standard output

    def screen(self) -> str | None:
        """What the program's own console showed when it went quiet (runs
        with new_console=True), or None when it ended first."""
        m = re.search(rb"^screen:\n(.*?)^end of screen$", self.output, re.M | re.S)
        return m.group(1).decode("utf-8") if m else None

    def call_names(self) -> list[str]:
        """The names of the calls made, in order ("CreateFileA", ...)."""
        if self.calls is None:
            raise ValueError("not a relay run")
        return [c.name for c in self.calls]

    def calls_to(self, name: str) -> list[Call]:
        """The calls made to one function, in order."""
        if self.calls is None:
            raise ValueError("not a relay run")
        return [c for c in self.calls if c.name == name]

    def string(self, arg: Arg) -> bytes:
        """The full text of a string argument: read from the exe when the
        address lies in read-only data of its image, else the text from the
        log (a name in the program's state, say), which must not have been
        cut."""
        section = self.image.section_at(arg.value)
        if section is not None and not section.writable:
            return self.image.read_string(arg.value)
        if arg.text is None or arg.cut:
            raise ValueError(f"no full text for the argument at {arg.value:#x}")
        return arg.text


class ProgramKilled(RuntimeError):
    """The program's process was ended by a Unix signal. Wine reports exit
    code 0 for such a process, so the launcher cannot tell; the harness sees
    the signal in the process's own wait status."""

    def __init__(self, signals: list[int]):
        super().__init__("the program was killed by "
                         + ", ".join(signal.Signals(n).name for n in signals))
        self.signals = signals


class WineStartFailed(RuntimeError):
    """Wine did not start the launcher: it wrote nothing, so the program did
    not run. On a busy machine Wine now and then fails so; `run_exe` starts
    the run again."""


# How many times `run_exe` starts a run that Wine failed to start.
WINE_STARTS = 3

_PR_SET_CHILD_SUBREAPER = 36


def _adopt_orphans() -> None:
    """Makes this process the one that orphaned descendants are handed to.
    Wine starts a program through a short-lived middle process, so the
    program's process is then ours to wait for, and its wait status tells
    an exit from a kill."""
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.prctl(_PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
        raise OSError(ctypes.get_errno(), "prctl(PR_SET_CHILD_SUBREAPER)")


def _children_in_group(group: int) -> list[int]:
    """Our child processes, running or ended, in a process group."""
    children = []
    for stat in Path("/proc").glob("[0-9]*/stat"):
        try:
            text = stat.read_text()
        except OSError:
            continue  # gone meanwhile
        ppid, pgrp = text[text.rindex(")") + 2:].split()[1:3]
        if int(ppid) == os.getpid() and int(pgrp) == group:
            children.append(int(stat.parent.name))
    return children


def _reap_run(group: int, settle: float = 2.0) -> list[int]:
    """Waits for the processes of a run (its own process group) that were
    handed to us, and returns the signals that killed any of them. By the
    time the launcher has ended, the program has too, but its process may
    need a moment to become waitable; a helper that Wine started and that
    keeps running is left after `settle` seconds."""
    signals = []
    deadline = time.monotonic() + settle
    while True:
        running = 0
        for pid in _children_in_group(group):
            if pid == group:
                continue  # the launcher, which Popen waits for
            ended = os.waitid(os.P_PID, pid, os.WEXITED | os.WNOHANG)
            if ended is None:
                running += 1
            elif ended.si_code in (os.CLD_KILLED, os.CLD_DUMPED):
                signals.append(ended.si_status)
        if running == 0 or time.monotonic() > deadline:
            return signals
        time.sleep(0.001)


def _limit_file_size(limit: int, ignore_sigxfsz: bool):
    def apply() -> None:
        # Ignored, a write over the limit fails with EFBIG or writes short
        # instead of killing the process.
        if ignore_sigxfsz:
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
    return apply


class RunningExe:
    """A run started by `start_exe`. A thread reads the launcher's standard
    output and error all along, so the run never waits on a full pipe (a
    notice shown on X can take a while to be closed)."""

    def __init__(self, process: subprocess.Popen):
        self.process = process
        self.out = bytearray()
        self.err = bytearray()
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self) -> None:
        # Wine processes that a run starts on the way (the desktop process,
        # the services) inherit the pipes and may hold them open long after,
        # so the end of the launcher, not the end of the pipes, ends the
        # reading; the program has ended before the launcher, so all it wrote
        # is in the pipes by then.
        buffers = {self.process.stdout: self.out, self.process.stderr: self.err}
        with selectors.DefaultSelector() as selector:
            for stream in buffers:
                os.set_blocking(stream.fileno(), False)
                selector.register(stream, selectors.EVENT_READ)
            while selector.get_map():
                ended = self.process.poll() is not None
                ready = selector.select(0 if ended else 0.05)
                if ended and not ready:
                    break
                for key, _ in ready:
                    chunk = os.read(key.fileobj.fileno(), 1 << 16)
                    if chunk:
                        buffers[key.fileobj] += chunk
                    else:
                        selector.unregister(key.fileobj)
        for stream in buffers:
            stream.close()

    def poll(self) -> int | None:
        """The launcher's status once it has ended, else None."""
        return self.process.poll()

    def kill(self) -> None:
        """Kills the launcher's process group."""
        try:
            os.killpg(self.process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass

    def wait(self, timeout: float) -> tuple[bytes, bytes]:
        """Waits for the launcher's end and returns what it and the program
        wrote to standard output and error; kills the run and raises
        TimeoutError after timeout seconds."""
        try:
            self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            self.process.wait()
            self._reader.join()
            raise TimeoutError(f"the run did not end within {timeout} s")
        self._reader.join()
        return bytes(self.out), bytes(self.err)


def start_exe(command_line: str, cwd: os.PathLike | str, relay: bool = False,
              display: str | None = None, file_size_limit: int | None = None,
              extra_env: dict[str, str] | None = None,
              ignore_sigxfsz: bool = True, program: os.PathLike | str | None = None,
              new_console: bool = False, launcher: os.PathLike | str | None = None,
              screen_end: str | None = None) -> RunningExe:
    """Starts the program through the launcher and returns at once; finish
    the run with `finish_exe`. The arguments are those of `run_exe`."""
    debug = "-all,+relay,+loaddll" if relay else "-all"
    env = wine_env(display, debug)
    env.update(extra_env or {})
    env["LZS_PROGRAM"] = windows_path(program if program is not None else exe_path())
    if new_console:
        env["LZS_NEW_CONSOLE"] = "1"
    if screen_end is not None:
        env["LZS_SCREEN_END"] = screen_end
    env["LZS_COMMAND_LINE"] = command_line
    _adopt_orphans()
    return RunningExe(subprocess.Popen(
        [WINE, str(launcher or launcher_path())], cwd=cwd, env=env, stdin=subprocess.DEVNULL,
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True,
        preexec_fn=_limit_file_size(file_size_limit, ignore_sigxfsz)
        if file_size_limit is not None else None))


def finish_exe(run: RunningExe, relay: bool = False, timeout: float = 60) -> RunResult:
    """Waits for a run started by `start_exe` and reads its outcome. A run
    still going after timeout seconds is killed and raises TimeoutError; a
    program killed by a signal raises ProgramKilled, whatever the launcher
    reports; a launcher that could not start the program raises
    RuntimeError, and one that Wine did not start WineStartFailed."""
    out, err = run.wait(timeout)
    killed = _reap_run(run.process.pid)
    if killed:
        raise ProgramKilled(killed)
    status = run.process.returncode
    log = err.decode("latin-1")
    m = re.search(rb"^exit code (\d+)$", out, re.M)
    if not m and not out:
        raise WineStartFailed(f"Wine did not start the launcher (status {status}): {log[-2000:]}")
    if not m:
        raise RuntimeError(f"the launcher failed (status {status}): {out!r} {log[-2000:]}")
    exit_code = int(m.group(1))
    if exit_code & 0xFF != status:
        raise RuntimeError(f"launcher status {status} for exit code {exit_code}")
    image = PeImage(exe_path())
    calls = parse_relay(log, image) if relay else None
    return RunResult(exit_code, calls, image, log, out)


def run_exe(command_line: str, cwd: os.PathLike | str, relay: bool = False,
            display: str | None = None, file_size_limit: int | None = None,
            extra_env: dict[str, str] | None = None, timeout: float = 60,
            ignore_sigxfsz: bool = True, program: os.PathLike | str | None = None,
            new_console: bool = False, launcher: os.PathLike | str | None = None,
            screen_end: str | None = None) -> RunResult:
    """Runs the program once with exactly this command line (its own path
    first, as the program sees it: it need not be the real path) in the
    folder cwd, and returns the exit code and, with relay=True, the platform
    calls the program made.

    display: an X display such as ":5" (then the X11 prefix is used); with
    None there is no display and every message box fails at once.
    file_size_limit: an RLIMIT_FSIZE in bytes for the run, to make the
    program's write fail (limit 0) or write short (a limit below the output
    size); SIGXFSZ is ignored so the write returns instead, unless
    ignore_sigxfsz is False (then the write kills the program, as after a
    plain `ulimit -f`, and the run raises ProgramKilled).
    extra_env: more environment for the run, such as LC_ALL (Wine takes its
    ANSI code page from the Unix locale: ru_RU gives Windows-1251).
    timeout: seconds before the run is killed and TimeoutError raised.
    program: the exe to start, when not the one under test (LZS_EXE).
    new_console: the program gets a console of its own, as from Explorer (a
    display is needed: Wine's console opens a window); once it has gone
    quiet the launcher reads its screen (RunResult.screen) and types Enter.
    launcher: a copy of the launcher to start the program from, by another
    name (the program sees its parent's name).
    screen_end: with new_console, the text the program shows once it waits
    for Enter: the screen is read once it holds that text (else once it has
    stayed the same for a second, which a slow machine can outwait).
    A run that Wine fails to start (WineStartFailed) is started again, up to
    WINE_STARTS times in all."""
    for start in range(WINE_STARTS):
        process = start_exe(command_line, cwd, relay, display, file_size_limit, extra_env,
                            ignore_sigxfsz, program, new_console, launcher, screen_end)
        try:
            return finish_exe(process, relay, timeout)
        except WineStartFailed:
            if start == WINE_STARTS - 1:
                raise
    raise AssertionError("not reached")


def run_console(program: os.PathLike | str, args: list[str], cwd: os.PathLike | str,
                file_size_limit: int | None = None,
                timeout: float = 120, stdin: bytes | None = None) -> subprocess.CompletedProcess:
    """Runs a console program with ordinary arguments (Wine quotes them into
    its command line, and the program's C runtime splits them again) in the
    plain prefix, under a UTF-8 Unix locale so that any file name gets
    through to Wine whole. file_size_limit is as for `run_exe`; stdin, when
    given, is piped to the program's standard input (else it reads nothing)."""
    env = wine_env()
    env["LC_ALL"] = "C.UTF-8"
    feed = {"stdin": subprocess.DEVNULL} if stdin is None else {"input": stdin}
    return subprocess.run([WINE, str(program), *args], cwd=cwd, env=env, capture_output=True,
                          timeout=timeout, **feed,
                          preexec_fn=_limit_file_size(file_size_limit, True)
                          if file_size_limit is not None else None)


def start_xvfb() -> tuple[str, subprocess.Popen]:
    """Starts Xvfb (800x600, 24 bits) on a display number it picks itself;
    returns the display name and the process, which the caller ends."""
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "800x600x24", "-nolisten", "tcp"],
        pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as numbers:
        number = numbers.readline().strip()
    if not number.isdigit():
        xvfb.terminate()
        xvfb.wait(10)
        raise RuntimeError("Xvfb gave no display")
    return ":" + number, xvfb


def main(argv: list[str]) -> int:
    if argv[1:] == ["start"]:
        create_prefixes()
        start_server()
        set_relay_include(False)
        set_relay_include(True)
        work_path().mkdir(parents=True, exist_ok=True)
        return 0
    if argv[1:] == ["stop"]:
        stop_servers()
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
