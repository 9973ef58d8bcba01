"""A desktop session's screen locker on a private session bus: answers the freedesktop
ScreenSaver service's Inhibit and UnInhibit, and writes each call on standard output."""
import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib


class Locker(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/ScreenSaver")
        self.cookie = 40

    @dbus.service.method("org.freedesktop.ScreenSaver", in_signature="ss", out_signature="u")
    def Inhibit(self, app, reason):
        self.cookie += 1
        print(f"Inhibit {app} -> {self.cookie}", flush=True)
        return self.cookie

    @dbus.service.method("org.freedesktop.ScreenSaver", in_signature="u")
    def UnInhibit(self, cookie):
        print(f"UnInhibit {cookie}", flush=True)


dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
name = dbus.service.BusName("org.freedesktop.ScreenSaver", bus)
locker = Locker(bus)
print("ready", flush=True)
GLib.MainLoop().run()
