// Ozzlebeck's GNOME Shell extension (GNOME 43 and 44): tells the program where the pointer
// is, so that its eyes follow the pointer over every window and not only over the program's own
// ones (XWayland shows an X program the pointer only while it is over an X window).
// ozzlebeck-pointer@tavik is the same for GNOME 45 and later, as an ES module.
//
// The program calls Watch on the shell's own bus name, which answers where the pointer is and
// from then on sends it the signal Pointer, to that program alone, whenever the pointer moved:
// at most one every 70 ms (the program's tick), a move within that time sent at its end. Each
// position is one string, "x y left top width height": the pointer and the stage, in stage
// coordinates. The extension follows the pointer only while some program watches, and forgets
// a program when it leaves the bus.
const {Gio, GLib, Meta} = imports.gi;

const PATH = '/io/github/tavik/Ozzlebeck';
const INTERFACE = 'io.github.tavik.Ozzlebeck';
const XML = `<node><interface name="${INTERFACE}">
  <method name="Watch"><arg type="s" direction="out" name="pointer"/></method>
  <signal name="Pointer"><arg type="s" name="pointer"/></signal>
</interface></node>`;
const PERIOD_MS = 70;

function cursorTracker() {
    return Meta.CursorTracker.get_for_display(global.display);
}

// Hundredths at most, which JavaScript never writes with an exponent.
function pointerText() {
    const [x, y] = global.get_pointer();
    return [x, y, 0, 0, global.stage.width, global.stage.height]
        .map(v => Math.round(v * 100) / 100).join(' ');
}

class PointerService {
    constructor() {
        this._watchers = new Map();  // bus name -> id of its name watch
        this._last = '';
        this._pending = false;
        this._quiet = 0;
        this._tracking = 0;
        this._object = Gio.DBusExportedObject.wrapJSObject(XML, this);
        this._object.export(Gio.DBus.session, PATH);
    }

    WatchAsync(_parameters, invocation) {
        const sender = invocation.get_sender();
        if (!this._watchers.has(sender)) {
            const id = Gio.bus_watch_name_on_connection(Gio.DBus.session, sender,
                Gio.BusNameWatcherFlags.NONE, null, () => this._forget(sender));
            this._watchers.set(sender, id);
        }
        if (this._tracking === 0) {
            this._tracking = cursorTracker().connect('position-invalidated', () => this._moved());
        }
        this._last = pointerText();
        invocation.return_value(new GLib.Variant('(s)', [this._last]));
    }

    _forget(sender) {
        const id = this._watchers.get(sender);
        if (id === undefined)
            return;
        Gio.bus_unwatch_name(id);
        this._watchers.delete(sender);
        if (this._watchers.size === 0)
            this._stopTracking();
    }

    _stopTracking() {
        if (this._tracking !== 0)
            cursorTracker().disconnect(this._tracking);
        this._tracking = 0;
        if (this._quiet !== 0)
            GLib.source_remove(this._quiet);
        this._quiet = 0;
        this._pending = false;
    }

    _moved() {
        if (this._quiet !== 0)
            this._pending = true;
        else
            this._send();
    }

    _send() {
        const text = pointerText();
        if (text === this._last)
            return;
        this._last = text;
        for (const watcher of this._watchers.keys()) {
            Gio.DBus.session.emit_signal(watcher, PATH, INTERFACE, 'Pointer',
                new GLib.Variant('(s)', [text]));
        }
        this._quiet = GLib.timeout_add(GLib.PRIORITY_DEFAULT, PERIOD_MS, () => {
            this._quiet = 0;
            if (this._pending) {
                this._pending = false;
                this._send();
            }
            return GLib.SOURCE_REMOVE;
        });
    }

    destroy() {
        this._stopTracking();
        for (const id of this._watchers.values())
            Gio.bus_unwatch_name(id);
        this._watchers.clear();
        this._object.unexport();
    }
}

class OzzlebeckPointer {
    enable() {
        this._service = new PointerService();
    }

    disable() {
        this._service?.destroy();
        this._service = null;
    }
}

// eslint-disable-next-line no-unused-vars
function init() {
    return new OzzlebeckPointer();
}
