#!/usr/bin/python3
"""logind on a system bus of its own, for the window's suite.

Starts a private bus, prints its address and answers Inhibit as logind does: with one end of a
pipe, the lock lasting until the caller has closed every copy of it. The suite reads what
happened over the same bus (interface test.Logind): the calls, and how many locks are held.
Ends, and its bus with it, when its standard input closes.
"""
import ctypes
import os
import signal
import subprocess
import sys
import tempfile

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:tmpdir={}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*"/><allow receive_sender="*"/><allow own="*"/>
  </policy>
</busconfig>
"""


class Logind(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/login1")
        self.calls, self.held, self.refusing = [], 0, False

    @dbus.service.method("org.freedesktop.login1.Manager", in_signature="ssss",
                         out_signature="h")
    def Inhibit(self, what, who, why, mode):
        self.calls.append("|".join((what, who, why, mode)))
        if self.refusing:
            raise dbus.exceptions.DBusException(
                "Access denied", name="org.freedesktop.DBus.Error.AccessDenied")
        ours, theirs = os.pipe()
        lock = dbus.types.UnixFd(theirs)  # a copy, which the reply carries off and closes
        os.close(theirs)
        self.held += 1
        GLib.io_add_watch(ours, GLib.PRIORITY_DEFAULT, GLib.IO_HUP | GLib.IO_ERR, self.closed)
        return lock

    def closed(self, fd, _condition):
        os.close(fd)
        self.held -= 1
        return False

    @dbus.service.method("test.Logind", out_signature="as")
    def Calls(self):
        return self.calls

    @dbus.service.method("test.Logind", out_signature="u")
    def Held(self):
        return self.held

    @dbus.service.method("test.Logind", in_signature="b")
    def Refuse(self, refusing):
        self.refusing = refusing


def start_bus(folder):
    config = os.path.join(folder, "system.conf")
    with open(config, "w") as file:
        file.write(CONFIG.format(folder))
    # The bus goes when this process does, however it ends.
    die_with_parent = lambda: ctypes.CDLL(None).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG
    daemon = subprocess.Popen(
        ["dbus-daemon", "--config-file=" + config, "--nofork", "--nopidfile", "--print-address"],
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, preexec_fn=die_with_parent)
    return daemon, daemon.stdout.readline().decode().strip()


def main():
    with tempfile.TemporaryDirectory() as folder:
        daemon, address = start_bus(folder)
        DBusGMainLoop(set_as_default=True)
        bus = dbus.bus.BusConnection(address)
        name = dbus.service.BusName("org.freedesktop.login1", bus)
        logind = Logind(bus)
        loop = GLib.MainLoop()
        GLib.io_add_watch(sys.stdin.fileno(), GLib.PRIORITY_DEFAULT,
                          GLib.IO_IN | GLib.IO_HUP | GLib.IO_ERR, lambda *_: loop.quit())
        print(address, flush=True)
        loop.run()
        del name, logind
        daemon.terminate()
        daemon.wait()


if __name__ == "__main__":
    main()
