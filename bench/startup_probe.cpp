// Starts one program on the X display named by DISPLAY and tells on one line
// how long it took to show its first window and how much memory it holds
// once it idles (bench/startup.sh runs it for the program and the bare
// window):
//
//   quelm_startup_probe [--timeout SECONDS] PROGRAM [ARGUMENT...]
//   -> <mapped ms> <painted ms> <resident KiB> <loaded ms> <connected ms>
//      <looping ms> <the window's title>
//
// Every step waits for the event that ends it, never for a guessed time:
// - mapped: the server maps the program's first top-level window (a
//   MapNotify on the root window, which the probe watches from before the
//   program starts);
// - painted: the program sends the first painted pixels to the display.
//   The probe preloads libquelm_paint_hook.so (bench/paint_hook.cpp, beside
//   the probe) into the program, which writes one line to a pipe then;
// - loaded, connected, looping: where the time until the paint went, as the
//   paint hook saw it: the program's libraries loaded, its QApplication
//   constructed, its event loop entered (-1 for a moment it did not see);
// - idle: the program's threads together used less than 1 ms of processor
//   time over 100 ms; its VmRSS is read then.
// Both times count from just before the program is started. Nothing that
// does not happen within the timeout (default 20 s) is waited for longer:
// the probe says which step did not come, stops the program and exits 1.

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

[[noreturn]] void die(const std::string& what) {
  std::fprintf(stderr, "quelm_startup_probe: %s\n", what.c_str());
  std::exit(1);
}

template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

// The paint hook, beside the probe.
std::string paintHook() {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) die("cannot find its own folder");
  std::string dir(self, static_cast<size_t>(n));
  dir.erase(dir.rfind('/'));
  const std::string hook = dir + "/libquelm_paint_hook.so";
  if (access(hook.c_str(), R_OK) != 0) die("cannot find " + hook);
  return hook;
}

// The processor time of every thread of pid, in nanoseconds.
long long cpuNanoseconds(pid_t pid) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  long long sum = 0;
  if (DIR* dir = opendir(tasks.c_str())) {
    while (const dirent* e = readdir(dir)) {
      if (e->d_name[0] == '.') continue;
      std::ifstream in(tasks + "/" + e->d_name + "/schedstat");
      long long ns = 0;
      if (in >> ns) sum += ns;
    }
    closedir(dir);
  }
  return sum;
}

long residentKiB(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string key;
  long value = -1;
  while (in >> key) {
    if (key == "VmRSS:") {
      in >> value;
      break;
    }
    in.ignore(4096, '\n');
  }
  return value;
}

class Probe {
 public:
  explicit Probe(int timeoutSeconds) : timeout_(std::chrono::seconds(timeoutSeconds)), hook_(paintHook()) {
    conn_ = xcb_connect(nullptr, nullptr);
    if (const int error = xcb_connection_has_error(conn_))
      die("cannot open the X display (DISPLAY unset or no server; xcb error " + std::to_string(error) + ")");
    root_ = xcb_setup_roots_iterator(xcb_get_setup(conn_)).data->root;
    pidAtom_ = atom("_NET_WM_PID");
    netName_ = atom("_NET_WM_NAME");
    utf8_ = atom("UTF8_STRING");
    // Every top-level window mapped is told to a client watching the root.
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    if (auto* error = xcb_request_check(
            conn_, xcb_change_window_attributes_checked(conn_, root_, XCB_CW_EVENT_MASK, &mask))) {
      std::free(error);
      die("cannot watch the root window");
    }
  }
  ~Probe() { xcb_disconnect(conn_); }

  void start(char** argv) {
    int painted[2];
    if (pipe(painted) != 0) die("cannot make a pipe");
    fcntl(painted[0], F_SETFD, FD_CLOEXEC);
    program_ = argv[0];
    t0_ = Clock::now();
    deadline_ = t0_ + timeout_;
    pid_ = fork();
    if (pid_ < 0) die("cannot start a process");
    if (pid_ == 0) {
      close(xcb_get_file_descriptor(conn_));
      setenv("LD_PRELOAD", hook_.c_str(), 1);
      setenv("QUELM_PAINT_FD", std::to_string(painted[1]).c_str(), 1);
      execvp(argv[0], argv);
      std::fprintf(stderr, "quelm_startup_probe: cannot run %s: %s\n", argv[0], std::strerror(errno));
      _exit(127);
    }
    close(painted[1]);
    paintFd_ = painted[0];
  }

  // The first window mapped, and the first pixels painted: whichever comes first.
  void waitForWindow() {
    while (window_ == 0 || paintedMs_ < 0) {
      while (xcb_generic_event_t* event = xcb_poll_for_event(conn_)) {
        Reply<xcb_generic_event_t> e(event, &std::free);
        if (window_ == 0 && (e->response_type & 0x7f) == XCB_MAP_NOTIFY) takeMap(e.get());
      }
      if (xcb_connection_has_error(conn_)) fail("lost the X display");
      const char* step = window_ == 0 ? "map its first window" : "paint its first window";
      checkRunning(step);
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now());
      if (left.count() <= 0) timedOut(step);
      // A slice, so that a program that ends is noticed while nothing comes.
      pollfd fds[2] = {{xcb_get_file_descriptor(conn_), POLLIN, 0}, {paintFd_, POLLIN, 0}};
      if (poll(fds, paintedMs_ < 0 ? 2 : 1, static_cast<int>(std::min<long long>(left.count(), 50))) <= 0)
        continue;
      if (paintedMs_ < 0 && (fds[1].revents & (POLLIN | POLLHUP))) {
        paintedMs_ = msSince(t0_);
        takeMoments();
      }
    }
  }

  void waitForIdle() {
    constexpr auto kWindow = std::chrono::milliseconds(100);
    constexpr long long kQuietNs = 1'000'000;
    long long before = cpuNanoseconds(pid_);
    for (;;) {
      if (Clock::now() + kWindow > deadline_) timedOut("come to rest");
      std::this_thread::sleep_for(kWindow);
      checkRunning("come to rest");
      const long long now = cpuNanoseconds(pid_);
      if (now - before < kQuietNs) break;
      before = now;
    }
    residentKiB_ = residentKiB(pid_);
    if (residentKiB_ < 0) fail("cannot read the resident memory of " + program_);
  }

  void print() {
    std::printf("%.1f %.1f %ld %.1f %.1f %.1f %s\n", mappedMs_, paintedMs_, residentKiB_, loadedMs_,
                connectedMs_, loopingMs_, title().c_str());
    std::fflush(stdout);
  }

  // Asks the program to end, and ends it when it does not.
  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 500; ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = 0;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = 0;
  }

 private:
  xcb_atom_t atom(const char* name) {
    Reply<xcb_intern_atom_reply_t> r(
        xcb_intern_atom_reply(conn_, xcb_intern_atom(conn_, 0, std::strlen(name), name), nullptr),
        &std::free);
    if (!r) die(std::string("cannot intern ") + name);
    return r->atom;
  }

  // A top-level window of the program (or of a program that does not name
  // its process) mapped.
  void takeMap(const xcb_generic_event_t* e) {
    const auto* map = reinterpret_cast<const xcb_map_notify_event_t*>(e);
    if (map->event != root_ || map->override_redirect) return;
    Reply<xcb_get_property_reply_t> r(
        xcb_get_property_reply(
            conn_, xcb_get_property(conn_, 0, map->window, pidAtom_, XCB_ATOM_CARDINAL, 0, 1), nullptr),
        &std::free);
    if (r && r->format == 32 && xcb_get_property_value_length(r.get()) == 4 &&
        static_cast<pid_t>(*static_cast<uint32_t*>(xcb_get_property_value(r.get()))) != pid_)
      return;
    window_ = map->window;
    mappedMs_ = msSince(t0_);
  }

  // The paint hook's line, written whole in one go: "p <loaded> <connected>
  // <looping>", times on the clock steady_clock reads, in nanoseconds.
  void takeMoments() {
    char line[128] = {};
    const ssize_t n = read(paintFd_, line, sizeof line - 1);
    long long ns[3] = {};
    if (n <= 0 || line[0] != 'p') {
      checkRunning("paint its first window");
      fail(program_ + " sent no pixels through xcb_shm_put_image or xcb_copy_area: the paint hook saw none");
    }
    if (std::sscanf(line, "p %lld %lld %lld", &ns[0], &ns[1], &ns[2]) != 3)
      fail("the paint hook's line is not understood: " + std::string(line, static_cast<size_t>(n)));
    const long long start = std::chrono::duration_cast<std::chrono::nanoseconds>(t0_.time_since_epoch()).count();
    double* const moments[3] = {&loadedMs_, &connectedMs_, &loopingMs_};
    for (int i = 0; i < 3; ++i) *moments[i] = ns[i] > 0 ? static_cast<double>(ns[i] - start) / 1e6 : -1;
  }

  std::string title() {
    std::string text = textProperty(netName_, utf8_);
    if (text.empty()) text = textProperty(XCB_ATOM_WM_NAME, XCB_ATOM_STRING);
    return text.empty() ? "(no title)" : text;
  }

  std::string textProperty(xcb_atom_t property, xcb_atom_t type) {
    Reply<xcb_get_property_reply_t> r(
        xcb_get_property_reply(conn_, xcb_get_property(conn_, 0, window_, property, type, 0, 256), nullptr),
        &std::free);
    if (!r) return {};
    return std::string(static_cast<const char*>(xcb_get_property_value(r.get())),
                       static_cast<size_t>(xcb_get_property_value_length(r.get())));
  }

  void checkRunning(const char* step) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return;
    pid_ = 0;
    fail(program_ + " ended (" +
         (WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                            : "signal " + std::to_string(WTERMSIG(status))) +
         ") before it did " + step);
  }

  // Stops the program and ends the probe with what went wrong.
  [[noreturn]] void fail(const std::string& what) {
    stop();
    die(what);
  }

  [[noreturn]] void timedOut(const char* step) {
    fail(program_ + " did not " + step + " within " + std::to_string(timeout_.count()) + " s");
  }

  std::chrono::seconds timeout_;
  std::string hook_;
  xcb_connection_t* conn_ = nullptr;
  xcb_window_t root_ = 0;
  xcb_window_t window_ = 0;
  xcb_atom_t pidAtom_ = 0, netName_ = 0, utf8_ = 0;
  std::string program_;
  pid_t pid_ = 0;
  int paintFd_ = -1;
  Clock::time_point t0_, deadline_;
  double mappedMs_ = -1, paintedMs_ = -1;
  double loadedMs_ = -1, connectedMs_ = -1, loopingMs_ = -1;
  long residentKiB_ = -1;
};

}  // namespace

int main(int argc, char** argv) {
  int timeout = 20;
  int first = 1;
  if (argc > 2 && std::strcmp(argv[1], "--timeout") == 0) {
    timeout = std::atoi(argv[2]);
    first = 3;
  }
  if (first >= argc || timeout <= 0) {
    std::fprintf(stderr, "usage: quelm_startup_probe [--timeout SECONDS] PROGRAM [ARGUMENT...]\n");
    return 2;
  }
  Probe probe(timeout);
  probe.start(argv + first);
  probe.waitForWindow();
  probe.waitForIdle();
  probe.print();
  probe.stop();
  return 0;
}
