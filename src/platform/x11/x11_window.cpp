// The X11 backend's window: making, showing and destroying it, its properties for the window
// manager, its rectangle (GetWindowRect, SetWindowPos) and its shape (Get/SetWindowRgn). The
// window record these fill in is described in x11_internal.h.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/form.h"
#include "platform/posix/region.h"
#include "platform/x11/x11_internal.h"

namespace x11 {
namespace {

constexpr long kNetWmStateAdd = 1;

void SetProperties(HWND w) {
  X11& x = State();
  Display* d = x.display;
  runtime::Form& form = *w->form;

  const std::string& caption = form.Design().caption;
  XStoreName(d, w->xid, caption.c_str());
  XChangeProperty(d, w->xid, x.atoms.netWmName, x.atoms.utf8String, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(caption.data()),
                  static_cast<int>(caption.size()));
  char name[] = "ozzlebeck", className[] = "Ozzlebeck";
  XClassHint classHint{name, className};
  XSetClassHint(d, w->xid, &classHint);

  // A fixed size at a place of the program's choosing, measured at the client area itself
  // (static gravity), so a window manager's frame does not shift it.
  XSizeHints* size = XAllocSizeHints();
  size->flags = PPosition | USPosition | PMinSize | PMaxSize | PWinGravity;
  size->min_width = size->max_width = form.DisplayWidthPixels();
  size->min_height = size->max_height = form.DisplayHeightPixels();
  size->win_gravity = StaticGravity;
  // The toy takes no keyboard input, so it never takes the focus from the user's work.
  XWMHints* hints = XAllocWMHints();
  hints->flags = InputHint | StateHint;
  hints->input = False;
  hints->initial_state = NormalState;
  XSetWMProperties(d, w->xid, nullptr, nullptr, nullptr, 0, size, hints, nullptr);
  XFree(size);
  XFree(hints);

  // No border, no caption.
  const long motif[5] = {2 /* decorations given */, 0, 0 /* none */, 0, 0};
  XChangeProperty(d, w->xid, x.atoms.motifWmHints, x.atoms.motifWmHints, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(motif), 5);
  const long skip[2] = {static_cast<long>(x.atoms.netWmStateSkipTaskbar),
                        static_cast<long>(x.atoms.netWmStateSkipPager)};
  XChangeProperty(d, w->xid, x.atoms.netWmState, XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(skip), 2);
  const long pid = static_cast<long>(getpid());
  XChangeProperty(d, w->xid, x.atoms.netWmPid, XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&pid), 1);

  const std::span<const std::uint32_t> icon = form.Design().icon;
  if (icon.size() == 32 * 32) {
    std::vector<long> data(2 + icon.size());
    data[0] = data[1] = 32;
    std::copy(icon.begin(), icon.end(), data.begin() + 2);
    XChangeProperty(d, w->xid, x.atoms.netWmIcon, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(data.data()),
                    static_cast<int>(data.size()));
  }
}

void AddState(HWND w, Atom state) {
  X11& x = State();
  if (!w->mapped) {
    XChangeProperty(x.display, w->xid, x.atoms.netWmState, XA_ATOM, 32, PropModeAppend,
                    reinterpret_cast<const unsigned char*>(&state), 1);
    return;
  }
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = w->xid;
  e.xclient.message_type = x.atoms.netWmState;
  e.xclient.format = 32;
  e.xclient.data.l[0] = kNetWmStateAdd;
  e.xclient.data.l[1] = static_cast<long>(state);
  e.xclient.data.l[3] = 1;  // a normal application
  XSendEvent(x.display, x.root, False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
}

}  // namespace
}  // namespace x11

// The entry points below are the contract's (backend.h, win32_api.h); what they use is shared
// through x11_internal.h.
using namespace x11;

namespace platform {

HWND CreateFormWindow(runtime::Form& form) {
  X11& x = State();
  Display* d = OpenDisplay();
  auto* w = new HWND__;
  w->form = &form;
  const int width = form.DisplayWidthPixels(), height = form.DisplayHeightPixels();
  w->rect = {0, 0, width, height};

  XSetWindowAttributes attributes{};
  attributes.background_pixmap = None;  // the form paints every pixel itself
  attributes.border_pixel = 0;
  attributes.bit_gravity = NorthWestGravity;
  attributes.event_mask = ExposureMask | StructureNotifyMask | VisibilityChangeMask |
                          ButtonPressMask | ButtonReleaseMask | ButtonMotionMask;
  w->xid = XCreateWindow(d, x.root, 0, 0, static_cast<unsigned>(width),
                         static_cast<unsigned>(height), 0, x.depth, InputOutput, x.visual,
                         CWBackPixmap | CWBorderPixel | CWBitGravity | CWEventMask, &attributes);
  SetProperties(w);
  CreateImage(w);
  x.windows.push_back(w);
  return w;
}

void DestroyFormWindow(HWND w) {
  X11& x = State();
  x.windows.erase(std::remove(x.windows.begin(), x.windows.end(), w), x.windows.end());
  XDestroyWindow(x.display, w->xid);
  w->image->data = nullptr;  // the bytes are the vector's
  XDestroyImage(w->image);
  if (w->region != nullptr) DeleteObject(w->region);
  delete w;
}

void ShowFormWindow(HWND w) {
  XMapRaised(State().display, w->xid);
  SendRequests();
}

void InvalidateFormWindow(HWND w) { w->dirty = true; }

}  // namespace platform

// The window's place and size in 96-dpi pixels: the 96-dpi pixel its top-left display pixel
// lies in, and its display size converted, so a window made of 132 x 159 pixels reads so again.
BOOL GetWindowRect(HWND w, RECT* rect) {
  if (w == nullptr || rect == nullptr) return FALSE;
  const platform::DisplayScale& scale = Scale();
  const LONG left = scale.ToLogical(w->rect.left), top = scale.ToLogical(w->rect.top);
  *rect = {left, top, left + scale.ToLogical(w->rect.right - w->rect.left),
           top + scale.ToLogical(w->rect.bottom - w->rect.top)};
  State().gate.ReadWindow(w, *rect);
  return TRUE;
}

// A place and size in 96-dpi pixels; the window goes to the first display pixel of each.
BOOL SetWindowPos(HWND w, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
  if (w == nullptr) return FALSE;
  X11& xs = State();
  Display* d = xs.display;
  const platform::DisplayScale& scale = Scale();
  if (!(flags & SWP_NOMOVE)) MoveWindowTo(w, scale.ToDisplay(x), scale.ToDisplay(y));
  if (!(flags & SWP_NOSIZE) && cx > 0 && cy > 0) {
    const int width = scale.ToDisplay(cx), height = scale.ToDisplay(cy);
    XResizeWindow(d, w->xid, static_cast<unsigned>(width), static_cast<unsigned>(height));
    w->rect.right = w->rect.left + width;
    w->rect.bottom = w->rect.top + height;
  }
  if (!(flags & SWP_NOZORDER) && insertAfter == HWND_TOPMOST) {
    w->topmost = true;
    if (WindowManagerSupports(xs.atoms.netWmStateAbove)) {
      AddState(w, xs.atoms.netWmStateAbove);
    } else {
      XRaiseWindow(d, w->xid);
    }
  }
  SendRequests();
  return TRUE;
}

int GetWindowRgn(HWND w, HRGN region) {
  if (w == nullptr || w->region == nullptr || region == nullptr) return RGN_ERROR;
  return CombineRgn(region, w->region, nullptr, RGN_COPY);
}

int SetWindowRgn(HWND w, HRGN region, BOOL) {
  if (w == nullptr) return 0;
  X11& x = State();
  if (region == nullptr) {
    XShapeCombineMask(x.display, w->xid, ShapeBounding, 0, 0, None, ShapeSet);
  } else {
    // At a scale other than 1 the region is drawn at the scale, following the picture's edges.
    std::vector<runtime::PixelRect> shape;
    if (!Scale().IsOne()) shape = w->form->DisplayShape(region->rects);
    std::vector<XRectangle> rects;
    rects.reserve(Scale().IsOne() ? region->rects.size() : shape.size());
    auto add = [&](const auto& r) {
      rects.push_back({static_cast<short>(r.left), static_cast<short>(r.top),
                       static_cast<unsigned short>(r.right - r.left),
                       static_cast<unsigned short>(r.bottom - r.top)});
    };
    if (Scale().IsOne()) {
      for (const RECT& r : region->rects) add(r);
    } else {
      for (const runtime::PixelRect& r : shape) add(r);
    }
    XShapeCombineRectangles(x.display, w->xid, ShapeBounding, 0, 0, rects.data(),
                            static_cast<int>(rects.size()), ShapeSet, Unsorted);
  }
  if (w->region != nullptr) DeleteObject(w->region);
  w->region = region;
  SendRequests();
  return 1;
}
