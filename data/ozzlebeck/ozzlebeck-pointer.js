// Ozzlebeck's KWin script: tells the program where the pointer is, so that its eyes follow the
// pointer over every window and not only over the program's own ones (XWayland shows an X
// program the pointer only while it is over an X window).
//
// The program loads it over D-Bus when it starts on a Wayland session and unloads it when it
// ends; the user installs and approves nothing. @TARGET@ is replaced with the program's unique
// bus name before loading, so the positions go to that program alone.
//
// Each message is one string, "x y left top width height": the pointer and the rectangle all the
// outputs cover, in KWin's logical coordinates. A string rather than numbers, since Qt 5 and
// Qt 6 give JavaScript numbers different D-Bus types. A message goes only when the pointer moved,
// and at most one every 70 ms (the program's tick): a move within that time is sent at its end.
var target = "@TARGET@";
var period = 70;
var last = "";
var pending = false;
var quiet = new QTimer();
quiet.singleShot = true;
quiet.interval = period;

function send() {
    var at = workspace.cursorPos;
    var desk = workspace.virtualScreenGeometry;
    // Hundredths at most, which JavaScript never writes with an exponent.
    var text = [at.x, at.y, desk.x, desk.y, desk.width, desk.height].map(function (v) {
        return Math.round(v * 100) / 100;
    }).join(" ");
    if (text === last)
        return;
    last = text;
    callDBus(target, "/", "io.github.tavik.Ozzlebeck", "Pointer", text);
    quiet.start();
}

quiet.timeout.connect(function () {
    if (pending) {
        pending = false;
        send();
    }
});

function moved() {
    if (quiet.active)
        pending = true;
    else
        send();
}

workspace.cursorPosChanged.connect(moved);
workspace.virtualScreenGeometryChanged.connect(moved);
send();
