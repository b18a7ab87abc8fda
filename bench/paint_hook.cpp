// Preloaded into a program by quelm_startup_probe (LD_PRELOAD): tells the
// probe when the program first sends painted pixels to the display. The Qt
// backing store puts a window's pixels with xcb_shm_put_image, or with
// xcb_copy_area from a pixmap it filled; the first xcb_flush after either
// is the moment they leave the program. One byte then goes down the pipe
// whose descriptor QUELM_PAINT_FD names, and the pipe is closed. Nothing
// else of the program changes.

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <atomic>
#include <cstdlib>

namespace {

std::atomic<int> paintFd{-1};
std::atomic<bool> pixelsSent{false};

// The descriptor is the probe's, not the program's children's.
__attribute__((constructor)) void takeDescriptor() {
  if (const char* text = std::getenv("QUELM_PAINT_FD")) {
    const int fd = std::atoi(text);
    if (fcntl(fd, F_SETFD, FD_CLOEXEC) == 0) paintFd = fd;
  }
  unsetenv("QUELM_PAINT_FD");
  unsetenv("LD_PRELOAD");
}

void tellFirstPaint() {
  const int fd = paintFd.exchange(-1);
  if (fd < 0) return;
  const char byte = 'p';
  (void)!write(fd, &byte, 1);
  close(fd);
}

// The library's own function. The toolkit's platform plugin brings libxcb
// in with dlopen, so it need not be in the global scope RTLD_NEXT searches.
template <typename F>
F next(F, const char* library, const char* name) {
  void* f = dlsym(RTLD_NEXT, name);
  if (!f)
    if (void* handle = dlopen(library, RTLD_LAZY | RTLD_NOLOAD)) f = dlsym(handle, name);
  if (!f) std::abort();
  return reinterpret_cast<F>(f);
}

}  // namespace

extern "C" {

// As libxcb-shm declares it (its header need not be installed).
xcb_void_cookie_t xcb_shm_put_image(xcb_connection_t* c, xcb_drawable_t drawable, xcb_gcontext_t gc,
                                    uint16_t totalWidth, uint16_t totalHeight, uint16_t srcX, uint16_t srcY,
                                    uint16_t srcWidth, uint16_t srcHeight, int16_t dstX, int16_t dstY,
                                    uint8_t depth, uint8_t format, uint8_t sendEvent, uint32_t shmseg,
                                    uint32_t offset) {
  static const auto real = next(&xcb_shm_put_image, "libxcb-shm.so.0", "xcb_shm_put_image");
  pixelsSent = true;
  return real(c, drawable, gc, totalWidth, totalHeight, srcX, srcY, srcWidth, srcHeight, dstX, dstY, depth,
              format, sendEvent, shmseg, offset);
}

xcb_void_cookie_t xcb_copy_area(xcb_connection_t* c, xcb_drawable_t src, xcb_drawable_t dst,
                                xcb_gcontext_t gc, int16_t srcX, int16_t srcY, int16_t dstX, int16_t dstY,
                                uint16_t width, uint16_t height) {
  static const auto real = next(&xcb_copy_area, "libxcb.so.1", "xcb_copy_area");
  pixelsSent = true;
  return real(c, src, dst, gc, srcX, srcY, dstX, dstY, width, height);
}

int xcb_flush(xcb_connection_t* c) {
  static const auto real = next(&xcb_flush, "libxcb.so.1", "xcb_flush");
  const int result = real(c);
  if (pixelsSent) tellFirstPaint();
  return result;
}
}
