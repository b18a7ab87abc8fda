#pragma once
// Sets TZ for one test and restores the previous zone afterwards.

#include <QByteArray>
#include <QtGlobal>
#include <ctime>

class TimeZoneGuard {
 public:
  explicit TimeZoneGuard(const char* zone) : had_(qEnvironmentVariableIsSet("TZ")), saved_(qgetenv("TZ")) {
    qputenv("TZ", zone);
    tzset();
  }
  ~TimeZoneGuard() {
    if (had_)
      qputenv("TZ", saved_);
    else
      qunsetenv("TZ");
    tzset();
  }
  TimeZoneGuard(const TimeZoneGuard&) = delete;
  TimeZoneGuard& operator=(const TimeZoneGuard&) = delete;

 private:
  bool had_;
  QByteArray saved_;
};
