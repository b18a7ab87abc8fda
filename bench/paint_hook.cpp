// Preloaded into a program by quelm_startup_probe (LD_PRELOAD): tells the
// probe when the program first sends painted pixels to the display, and
// which moments of the start came before. The Qt backing store puts a
// window's pixels with xcb_shm_put_image, or with xcb_copy_area from a
// pixmap it filled; the first xcb_flush after either is the moment they
// leave the program. One line then goes down the pipe whose descriptor
// QUELM_PAINT_FD names, and the pipe is closed:
//   p <loaded> <connected> <looping>
// each a CLOCK_MONOTONIC time in nanoseconds, 0 for a moment not seen:
// - loaded: the program's libraries are loaded and initialised (this
//   library's initialiser runs after theirs, before the program's own);
// - connected: the QApplication is constructed (connected to the display);
// - looping: the program enters QApplication::exec, its window built and
//   shown.
// Nothing else of the program changes.

#include <dlfcn.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {

std::atomic<int> paintFd{-1};
std::atomic<bool> pixelsSent{false};
std::atomic<long long> loadedNs{0}, connectedNs{0}, loopingNs{0};

long long nowNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1'000'000'000LL + t.tv_nsec;
}

// Only the first time a moment is passed counts (a second QApplication or a
// nested exec is not the start).
void mark(std::atomic<long long>& moment) {
  long long unset = 0;
  moment.compare_exchange_strong(unset, nowNs());
}

// The descriptor is the probe's, not the program's children's.
__attribute__((constructor)) void takeDescriptor() {
  mark(loadedNs);
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
  char line[96];
  const int n = std::snprintf(line, sizeof line, "p %lld %lld %lld\n", loadedNs.load(), connectedNs.load(),
                              loopingNs.load());
  // Shorter than PIPE_BUF: the probe reads it whole.
  (void)!write(fd, line, static_cast<size_t>(n));
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

// The moments of the start, in the toolkit's own functions as the program
// calls them (through its procedure linkage table, which a preloaded
// library's definitions take). QApplication(int&, char**, int), whole and
// as a base, and the static QApplication::exec().
using Construct = void (*)(void*, int&, char**, int);
using Exec = int (*)();

void construct(const char* name, void* self, int& argc, char** argv, int flags) {
  const auto real = next(Construct{}, "libQt6Widgets.so.6", name);
  real(self, argc, argv, flags);
  mark(connectedNs);
}

}  // namespace

extern "C" {

void _ZN12QApplicationC1ERiPPci(void* self, int& argc, char** argv, int flags) {
  construct("_ZN12QApplicationC1ERiPPci", self, argc, argv, flags);
}

void _ZN12QApplicationC2ERiPPci(void* self, int& argc, char** argv, int flags) {
  construct("_ZN12QApplicationC2ERiPPci", self, argc, argv, flags);
}

int _ZN12QApplication4execEv() {
  static const auto real = next(Exec{}, "libQt6Widgets.so.6", "_ZN12QApplication4execEv");
  mark(loopingNs);
  return real();
}

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
